#pragma once

#include <QtGlobal>

#include <span>

// The CRC32 of a track's audio and its AccurateRip v1 and v2 checksums, computed from the
// samples as they are read. The disc's first track leaves out its first 5 sectors' frames but one
// (2939 frames), its last track its last 5 sectors' frames (2940), as AccurateRip defines them.
// A track's samples may be summed in pieces on several threads: each object takes one run of
// consecutive frames, and append() joins the run that follows.
//
// The CRC32 is the standard one (zlib's, as rippers print it as "Copy CRC") over the
// little-endian bytes of the whole track. AccurateRip sums each stereo frame as the unsigned
// 32-bit word left | right << 16 times its position in the track counted from 1: v1 is the sum of
// the products modulo 2^32, v2 the sum of their low and high 32-bit halves.
class TrackChecksums
{
public:
    // totalFrames: the track's length in stereo frames; firstFrame: the first frame this object
    // takes (0 for the whole track).
    TrackChecksums(qint64 totalFrames, bool firstTrackOfDisc, bool lastTrackOfDisc,
                   qint64 firstFrame = 0);

    // The next frames, interleaved left/right, following those added so far.
    void add(std::span<const qint16> interleaved);
    // Joins the run that starts where this one ends (following.firstFrame() must be
    // firstFrame() + framesAdded()).
    void append(const TrackChecksums& following);

    // The processor's instructions the sums use: the widest this processor has unless limited
    // (for tests and measurements). Returns the set now used.
    enum class Instructions { Portable, Avx2, Avx512 };
    static Instructions useInstructions(Instructions most);

    qint64 firstFrame() const { return m_firstFrame; }
    qint64 framesAdded() const { return m_frames; }
    // Whether every frame of the track has been added.
    bool complete() const { return m_firstFrame == 0 && m_frames == m_totalFrames; }

    quint32 crc32() const { return m_crc; }
    quint32 accurateRipV1() const;
    quint32 accurateRipV2() const;

private:
    qint64 m_totalFrames;
    bool m_first;
    bool m_last;
    qint64 m_firstFrame;
    qint64 m_frames = 0;
    quint32 m_crc = 0;
    // AccurateRip v1: sum of sample * position (32-bit wrap); v2 adds the high halves of the
    // 64-bit products.
    quint32 m_v1 = 0;
    quint32 m_v2High = 0;
};
