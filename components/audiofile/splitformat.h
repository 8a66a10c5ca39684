#pragma once

#include "components/audiofile/spillfile.h"
#include "components/encodersettings.h"
#include "components/result.h"

#include <QString>

#include <algorithm>
#include <memory>
#include <span>
#include <vector>

class QIODevice;

// What came of a splice: the stream written, no seam to be made (nothing was written, and the
// track is to be encoded in one piece instead), or a failure with its reason.
class Splice
{
public:
    enum class Outcome { Written, NoSeam, Failed };

    static Splice noSeam() { return Splice(Outcome::NoSeam, QString()); }
    // A status of the writing: written when it succeeded, else failed with its reason.
    Splice(const Status& status)
        : Splice(status.ok() ? Outcome::Written : Outcome::Failed,
                 status.ok() || !status.error().isEmpty()
                     ? status.error()
                     : QStringLiteral("The parts could not be joined."))
    {
    }
    Splice(const Failure& failure) : Splice(Status(failure)) {}

    Outcome outcome() const { return m_outcome; }
    bool ok() const { return m_outcome == Outcome::Written; }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }

private:
    Splice(Outcome outcome, QString error) : m_outcome(outcome), m_error(std::move(error)) {}
    Outcome m_outcome;
    QString m_error;
};

// One part of a track, encoded on a thread of its own by an encoder of its own, to be spliced
// with the other parts into one stream. What it makes is kept on disk, not in memory.
class PartEncoder
{
public:
    virtual ~PartEncoder() = default;
    // Interleaved 44.1 kHz 16-bit stereo samples, in order from the part's first sample.
    virtual Status encode(std::span<const qint16> interleaved) = 0;
    // Flushes the encoder: the part is complete.
    virtual Status finish() = 0;
};

// A format whose tracks can be cut into parts that are encoded at the same time and spliced into
// one stream that decodes to exactly the track's samples, gapless.
class SplitFormat
{
public:
    // How a track is cut. Part i stands for the track's samples [seams[i], seams[i+1]); its
    // encoder is fed the samples [start(i), end(i)): from overlap before its seam (so that the
    // encoder has settled when its region begins) to tail past its region's end (so that the
    // splice can complete or find its seam there), within the track.
    struct Plan {
        std::vector<qint64> seams; // parts + 1 values: 0, multiples of grid(), the track's length
        qint64 overlap = 0;
        qint64 tail = 0;

        size_t parts() const { return seams.size() - 1; }
        qint64 totalSamples() const { return seams.back(); }
        qint64 start(size_t part) const { return std::max<qint64>(0, seams[part] - overlap); }
        qint64 end(size_t part) const
        {
            return part + 1 == parts() ? totalSamples()
                                       : std::min(totalSamples(), seams[part + 1] + tail);
        }
    };

    virtual ~SplitFormat() = default;
    // Samples per channel that seams fall on (the codec's frame or block step).
    virtual int grid() const = 0;
    // Samples a part's encoder starts before its seam; a multiple of grid().
    virtual qint64 overlap() const = 0;
    // Samples a part's encoder goes on past its region's end.
    virtual qint64 tail() const = 0;
    // Parts shorter than this gain nothing.
    virtual qint64 minimumPart() const = 0;
    // A fresh encoder for a part of the plan.
    virtual Result<std::unique_ptr<PartEncoder>> makePart(const Plan& plan, size_t part) = 0;
    // Writes the finished parts as one stream to out, from its current position; where no seam
    // can be made, writes nothing and says so.
    virtual Splice splice(QIODevice& out, const Plan& plan,
                          std::vector<std::unique_ptr<PartEncoder>>& parts) = 0;

    // Where the parts keep their encoded bytes until the splice (unnamed files): best the
    // output's own folder; the system's temporary folder unless set.
    void setSpillFolder(const QString& folder) { m_spillFolder = folder; }
    QString spillFolder() const;
    // The system's reason a part's temporary file could not be made or written (a full disk,
    // say), empty while none has failed: a failure of the output folder's, as the file's own
    // writes are.
    QString spillWriteError() const;

protected:
    // A new temporary file for a part's bytes, in the spill folder.
    Result<SpillFile> makeSpillFile() const;

private:
    QString m_spillFolder;
    SpillFile::WriteError m_spillWriteError = std::make_shared<std::atomic<int>>(0);
};

// The split format for MP3 with these settings, or none where the stream can't be split (LAME
// encodes at another sample rate than the CD's, say).
std::unique_ptr<SplitFormat> makeMp3SplitFormat(const Mp3EncoderSettings& settings);
// The split format for Ogg Vorbis in this format, or none where it can't be split.
std::unique_ptr<SplitFormat> makeVorbisSplitFormat(const OggFormat& format);
// The split format for a file extension ("mp3" or ".mp3", "ogg"; case aside; none for the
// others).
std::unique_ptr<SplitFormat> makeSplitFormat(const QString& extension,
                                             const EncoderSettings& settings);
