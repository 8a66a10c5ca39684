#pragma once

#include "components/accuraterip/checksums.h"
#include "components/audiofile/splitformat.h"
#include "components/cdio/trackreader.h"

#include <atomic>
#include <functional>
#include <optional>

class QIODevice;

// One track of a disc image encoded on several threads at once: the track is cut into parts,
// each part read by a reader of its own and encoded by an encoder of its own, and the parts are
// spliced into one stream (SplitFormat). Only an image can be read at several places at once
// without the cost of seeking a drive's head to and fro.
namespace SplitEncode
{

// At most this many parts, however many cores there are.
constexpr int MaxParts = 8;

// How a track of totalSamples is cut for the given number of threads: as many parts as
// threads, but none shorter than the format's minimum, seams on its grid. One part: the track
// is best encoded in one piece.
SplitFormat::Plan plan(const SplitFormat& format, qint64 totalSamples, int threads);

// The threads a grab may use: the cores the program may run on, at most MaxParts.
int usableThreads();

enum class Outcome { Written, Stopped, NoSeam, Failed };

struct Result {
    Outcome outcome = Outcome::Failed;
    QString error; // for Failed
    // The checksums of the track's audio as read, the parts' joined (Written and NoSeam).
    std::optional<TrackChecksums> checksums;
};

// Reads and encodes every part of the plan at once, then splices them into out. progress is
// called on the calling thread now and then with the share done (0 to 1). A set stop flag ends
// all threads within a quarter of a second of audio. NoSeam: the format found no seam, and
// nothing was written; the track is to be encoded in one piece.
Result run(SplitFormat& format, const SplitFormat::Plan& plan, const TrackReader::Source& source,
           QIODevice& out, const std::atomic<bool>& stop,
           const std::function<void(double share)>& progress);

} // namespace SplitEncode
