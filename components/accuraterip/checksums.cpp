#include "components/accuraterip/checksums.h"

TrackChecksums::TrackChecksums(qint64 totalFrames, bool firstTrackOfDisc, bool lastTrackOfDisc,
                               qint64 firstFrame)
    : m_totalFrames(totalFrames), m_first(firstTrackOfDisc), m_last(lastTrackOfDisc),
      m_firstFrame(firstFrame)
{
}

void TrackChecksums::add(std::span<const qint16> interleaved)
{
    m_frames += qint64(interleaved.size() / 2);
}

void TrackChecksums::append(const TrackChecksums& following)
{
    m_frames += following.m_frames;
}

quint32 TrackChecksums::accurateRipV1() const
{
    return m_v1;
}

quint32 TrackChecksums::accurateRipV2() const
{
    return m_v1 + m_v2High;
}
