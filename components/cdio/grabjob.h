#pragma once

#include "components/accuraterip/checksums.h"
#include "components/audiofile/audioencoder.h"
#include "components/audiofile/splitformat.h"
#include "components/cdio/trackreader.h"
#include "components/encodersettings.h"
#include "components/tracktags.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// One track grabbed into one file, on two threads of its own: the reader takes the sectors off
// the disc (through a TrackReader: paranoia on a drive, straight reads on an image) while the
// encoder thread encodes and writes the previous ones, so neither waits for the other. The file is
// written unnamed in the target's folder (O_TMPFILE; a hidden temporary name where the file system
// has no unnamed files) and takes the target's name only once it is complete and synced; a stopped,
// failed or abandoned grab leaves no file behind and keeps an existing one, and an unnamed file is
// gone even when the process is killed. A file at the target's name is replaced only when the job
// was started to replace it: otherwise one that is there at the start fails the grab at once, and
// one that appears while the track is grabbed (another run into the same folder) is kept and
// fails the grab at its end. A track of a disc image in a format that can be split is instead
// cut into parts encoded on several threads at once and spliced (SplitEncode); where no seam can
// be made, it is encoded in one piece after all.
class GrabJob
{
public:
    using TocEntry = TrackReader::TocEntry;
    using Source = TrackReader::Source;

    struct ReadReport {
        TrackReader::ReadStats stats;
        std::optional<quint32> testCrc32;
        bool discRemoved = false;
    };

    // Called on the encoder or the reader thread.
    struct Events {
        std::function<void(double percent)> progress; // below 100, throttled
        TrackReader::RetryEvent retry;
        // The checksums of the track's audio as it was read, just before finished.
        std::function<void(const TrackChecksums&)> checksums;
        // How the reading went, before finished or failed: what paranoia did, and the test
        // read's CRC32 when the track was read twice.
        std::function<void(const ReadReport&)> readReport;
        std::function<void()> finished; // the file is in place
        std::function<void(const QString& description)> failed;
    };

    static constexpr int FramesPerSector = TrackReader::FramesPerSector;
    // Sectors per chunk handed from the reader to the encoder: one second of audio from a drive,
    // four from an image, which reads far faster than any encoder.
    static constexpr int DriveChunkSectors = 75;
    static constexpr int ImageChunkSectors = 300;
    // The encoder takes a chunk in slices of this many frames (a quarter of a second), looking
    // at the stop flag between them.
    static constexpr int EncodeSliceFrames = 11025;

    // split: the format's way of encoding the track in parts, or none to encode it in one piece.
    // threads: how many parts at most (0: as many as there are usable cores).
    GrabJob(Source source, QString targetPath, std::unique_ptr<AudioEncoder> encoder, Events events,
            std::unique_ptr<SplitFormat> split = {}, int threads = 0);
    ~GrabJob(); // stops and joins

    // Whether a file at the target's name may be replaced.
    enum class Existing { Keep, Replace };

    // Tags written into the file once it is encoded (before start()).
    void setTags(const TrackTags& tags) { m_tags = tags; }
    // Test and copy (before start()): the track is read once for its CRC32, then again, from
    // the disc rather than the drive's cache, for the file; the grab fails when the two differ.
    // Such a track is encoded in one piece.
    void setVerify(bool verify)
    {
        m_verify = verify;
        if (verify)
            m_split.reset();
    }
    // Sectors a drive's cache holds at most (8 MiB): the copy read must not be served from it.
    static constexpr qint64 DriveCacheSectors = 3600;

    // Starts the threads; the file is created before this returns, so that a folder that can't
    // be written fails at once.
    Status start(Existing existing);
    // Asks both threads to stop; returns at once. Once it has returned the file either has
    // taken the target's name already or never will.
    void stop();
    // Waits up to the given time for both threads to end; true when they have.
    bool waitFinished(int milliseconds);
    bool isFinished() const { return m_finished.load(); }

    // Lets go of a job whose threads may be stuck (in a drive's read, say) without waiting for
    // them: stops it, removes its temporary file at once, and leaves its threads to end by
    // themselves. The job is never freed, so they never touch freed memory; its events must not
    // lead anywhere that goes away. Returns at once.
    static void abandon(std::unique_ptr<GrabJob> job);

private:
    struct Chunk {
        std::vector<qint16> samples;
    };

    void readLoop();
    // The test read of test and copy: the track's CRC32, or the failure.
    Result<quint32> testRead(ReadReport& report);
    // Encodes what the reader hands over, then ends the job.
    void encodeLoop();
    // Encodes the track in parts, or in one piece where no seam can be made, then ends the job.
    void splitLoop();
    // Encodes the queued chunks; the failure's description, empty when stopped.
    Status encodeQueued();
    // Commits the file when the encoding succeeded, closes it, tells how the job ended, and
    // ends the writing thread's share of the job.
    void endWriting(const Status& encoded);
    // "Cannot write the file TARGET: reason": every failure to write the file, said alike.
    QString cannotWrite(const QString& reason) const;
    void reportProgress(double percent);
    void startWriteback();
    // fsync(), then the target's name, unless the job was stopped meanwhile (a failure without a
    // description then). Replacing, an unnamed file is linked in under a hidden name first and
    // renamed over the target; keeping, the name is taken only where nothing has it.
    Status commitFile();
    // Gives the hidden temporary file the target's name where nothing has that name; errno is
    // EEXIST where something has.
    bool renameNoReplace() const;
    // Removes the temporary file's hidden name unless it took the target's name, is gone
    // already or never had one.
    void removeTempFile();
    void closeFile();

    Source m_source;
    QString m_targetPath;
    std::unique_ptr<AudioEncoder> m_encoder;
    Events m_events;
    std::unique_ptr<SplitFormat> m_split;
    TrackTags m_tags;
    bool m_verify = false;
    std::atomic<bool> m_testing{false};        // the test read runs: progress counts the first half
    std::optional<TrackChecksums> m_checksums; // once the track has been read
    SplitFormat::Plan m_plan;
    double m_lastReported = -1.0;
    qint64 m_lastReportTime = 0;
    QByteArray m_finalPath;  // the file replaced: the target, or what its link points at
    QByteArray m_tempPrefix; // a dot and the target's name, beside it: the hidden names' start
    QByteArray m_tempPath;   // the file written under a hidden name, once it has one
    int m_fd = -1;
    std::unique_ptr<class QFile> m_file; // m_fd for the encoders
    bool m_replace = false;              // a file at the target's name may be replaced
    bool m_unnamed = false;              // m_fd has no name until the commit links it in
    bool m_tempOnDisk = false;           // m_tempPath names it; guarded by m_mutex
    qint64 m_writtenBack = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk> m_queue;
    // Chunks the encoder is done with, for the reader to fill again: no allocation, and no
    // zero-filling of fresh memory, for every second of audio.
    std::vector<Chunk> m_spare;
    bool m_readerDone = false;
    QString m_readError;
    // Audio read ahead of the encoder, at most: 8 s. A drive's small chunks smooth its pauses;
    // an image is read far faster than encoded, and two of its large chunks keep the encoder
    // fed, so memory does not grow with the number of grabs at once.
    static constexpr int QueuedSectorsLimit = 600;

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<int> m_threadsRunning{0};
    std::thread m_reader;
    std::thread m_writer;
};
