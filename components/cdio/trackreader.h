#pragma once

#include "components/cdio/readerchild.h"
#include "components/cueimage/cueimage.h"
#include "components/result.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Reads the sectors of one audio track off a disc: through libcdio-paranoia's full verification
// on a drive, straight from the file for a disc image (which can't jitter): a cue sheet through
// CueImage, a cdrdao .toc or a Nero .nrg through libcdio's driver for it. Drives and libcdio's
// images are read in a process of their own (ReaderChild), so a crash or a hang in libcdio or
// paranoia fails the read instead of taking the program down. The grab's reader thread and the
// preview read through it, so a preview plays exactly what a rip holds. One reader is used by one
// thread at a time.
class TrackReader
{
public:
    // One track of a disc's table of contents.
    struct TocEntry {
        qint64 firstSector = 0;
        bool audio = true;
        bool operator==(const TocEntry&) const = default;
    };

    // The kinds of disc image, told by the file's extension alone: a file is never probed.
    enum class ImageFormat { Cue, Toc, Nrg };

    struct Source {
        QString device; // device path or image file
        bool isImage = false;
        // Read through paranoia's verification (always on a drive; on a .toc or .nrg image only
        // on request, never on a cue sheet's).
        bool paranoia = true;
        qint64 firstSector = 0;
        qint64 sectors = 0;
        // The disc as the grabber read it: its tracks and the lead-out's first sector. open()
        // refuses a disc whose table differs (another disc, or an image cut or rewritten since).
        // An empty table checks only that the track is still there.
        std::vector<TocEntry> toc;
        qint64 leadOut = 0;
        // The drive's read offset in samples (stereo frames): the track's audio is read that
        // many samples later (earlier when negative), across sector and track boundaries, with
        // silence before the disc's first sector and from the lead-out on.
        int offsetSamples = 0;
        // The audio before the disc's first track (sector 0 up to it), not a track of its own.
        bool hidden = false;
        // Whether the track is the disc's first or last audio track (for AccurateRip).
        bool firstAudioTrack = false;
        bool lastAudioTrack = false;
    };

    // Called on the reading thread when a sector needs another read: once for each sector,
    // however many reads paranoia makes for it, with the count of sectors retried so far.
    using RetryEvent = std::function<void(int retry, qint64 sector)>;
    using ReadStats = ReaderChild::ReadStats;

    static constexpr int SectorBytes = 2352;
    static constexpr int FramesPerSector = 588;

    explicit TrackReader(Source source, RetryEvent retry = {});
    ~TrackReader();
    TrackReader(const TrackReader&) = delete;
    TrackReader& operator=(const TrackReader&) = delete;

    // Opens the disc, makes sure it is still the one the grabber read, and sets the position to
    // the track's first sector.
    Status open();
    // Moves the position to a sector of the track (0 is its first), kept within 0..sectors.
    void seek(qint64 sector);
    qint64 position() const { return m_position; }
    qint64 remaining() const { return m_source.sectors - m_position; }
    // Reads count sectors (at most those left) from the position on, as 16-bit stereo samples
    // in the disc's order (little-endian), and moves the position past them. A set stop flag,
    // looked at between the sectors of a verified read, ends the read with an empty failure.
    Status read(qint16* samples, int count, const std::atomic<bool>* stop = nullptr);
    // Reads up to count sectors of the disc's audio outside the track, after it and then before
    // it, and throws them away: a drive's cache then holds none of the track. Nothing for an
    // image, and a sector that can't be read is passed over.
    void readAround(qint64 count, const std::atomic<bool>* stop);
    // Whether the image's data file (if it has one) still holds every sector of the track.
    bool dataFileHoldsTrack() const;
    // What paranoia did on a drive so far; nothing for an image read straight.
    ReadStats stats() const { return m_child ? m_child->stats() : ReadStats{}; }
    // Whether the last read failed because the drive's disc is gone.
    bool discRemoved() const { return m_child && m_child->discRemoved(); }

    static QString discChanged();
    // The image's kind by its extension (case aside); any other is refused, as is a name that is
    // no regular file (a folder, a pipe, a device), so nothing waits on opening it.
    static Result<ImageFormat> imageFormat(const QString& path);

private:
    // Whether the disc just opened is still the one the grabber read: the same table of
    // contents, the track at the same place with the same length, and its data file holding it.
    bool sameDisc(const std::vector<ReaderChild::Track>& tracks, qint64 leadOut) const;
    Status openCue();
    // Finds the run of audio tracks the track lies in on the disc just opened: the read offset
    // reads across track boundaries within it, and silence outside it.
    void setAudioRun(const std::vector<TocEntry>& toc, qint64 leadOut);
    // Reads count disc sectors from first on, as the source holds them (all within the audio
    // run); done counts the sectors read, also when the read fails part way.
    Status readDisc(qint64 first, int count, char* out, const std::atomic<bool>* stop, int& done);
    // Like readDisc, with silence for the sectors outside the audio run, which are never read.
    Status readSpan(qint64 first, int count, char* out, const std::atomic<bool>* stop);
    // count sectors' worth of samples that start m_shiftBytes into the disc sector first.
    Status readShifted(qint64 first, int count, char* out, const std::atomic<bool>* stop);

    Source m_source;
    RetryEvent m_retry;
    QString m_dataFile;
    qint64 m_position = 0;
    // The read offset as whole sectors (rounded down) and the bytes left over (0..2351).
    qint64 m_shiftSectors = 0;
    int m_shiftBytes = 0;
    // The audio run on the disc, and the sector after the last one a read of the track touches.
    qint64 m_audioStart = 0;
    qint64 m_audioEnd = 0;
    qint64 m_readEnd = 0;
    // With an offset that is no whole number of sectors, each read ends in the middle of a
    // sector whose rest begins the next read: it is kept here rather than read again.
    std::vector<char> m_carry;
    std::vector<char> m_spare;
    qint64 m_carrySector = -1;
    std::optional<CueImage> m_cue;        // a cue sheet's image, read without libcdio
    std::unique_ptr<ReaderChild> m_child; // a drive, or a .toc or .nrg image
};
