#pragma once

#include "components/result.h"

#include <QString>

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include <sys/types.h>

// A disc read by a process of its own (tambrel-reader): a drive, through libcdio-paranoia's
// verification, or a cdrdao .toc or Nero .nrg image, through libcdio's driver for it. libcdio's
// image parsers abort on failed assertions, crash or allocate without end on a damaged file, and
// paranoia can crash or spin on a drive that returns bad data; in the reader that ends the
// reader, not the program, and the read fails with the reason. The reader hands back the table
// of contents, then reads sectors on request. One that doesn't answer in time, or grows past its
// memory limit, is ended. It is started with exec (posix_spawn): the programs run threads, and a
// process forked from them may only call what is safe between fork and exec.
class ReaderChild
{
public:
    enum class Source { Toc, Nrg, Drive };

    struct Track {
        int number = 0;
        qint64 firstSector = 0;
        qint64 sectors = 0;
        bool audio = true;
        bool operator==(const Track&) const = default;
    };

    struct Toc {
        std::vector<Track> tracks;
        qint64 leadOut = 0; // the sector after the last track
        QString dataFile;   // where a .toc's audio lives (absolute); empty for an .nrg or a drive
        QString vendor;     // the drive's, or what libcdio calls its image driver
        QString product;
        QString revision;
    };

    // What paranoia did while reading a drive, counted since the reader was opened.
    struct ReadStats {
        int reReads = 0;                // reads that failed and were made again
        int repairs = 0;                // damage repaired by comparing reads
        int skips = 0;                  // stretches given up on
        std::vector<qint64> suspicious; // sectors where any of that happened, each once
    };

    static constexpr int OpenTimeoutMs = 3000;
    // A drive may have to spin up its disc before it tells its table of contents.
    static constexpr int DriveOpenTimeoutMs = 30000;
    // A read of up to MaxSectorsPerRead sectors of an image from a local file.
    static constexpr int ReadTimeoutMs = 20000;
    // A drive's reader answers for each sector; it gives up on one by itself after its tries or
    // its seconds (readerprotocol.h), and one that says nothing for this long is ended.
    static constexpr int SectorTimeoutMs = 15000;
    static constexpr int MaxSectorsPerRead = 75;

    // Starts the reader on the disc and waits for its table of contents. paranoia: reads go
    // through paranoia's verification (always for a drive).
    static Result<std::unique_ptr<ReaderChild>> open(const QString& path, Source source,
                                                     bool paranoia);
    ~ReaderChild();
    ReaderChild(const ReaderChild&) = delete;
    ReaderChild& operator=(const ReaderChild&) = delete;

    const Toc& toc() const { return m_toc; }
    // Reads count sectors (at most MaxSectorsPerRead) from firstSector on, 2352 bytes each, into
    // out; done counts those read, also when the read fails part way. A set stop flag, looked at
    // while an answer is awaited, ends the wait (and the reader) with an empty failure. A drive's
    // failure names the first sector that could not be read, counted from trackStart as well.
    Status read(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop, int& done);
    // Reads count sectors straight, without paranoia's verification, and says nothing of how it
    // went: for reads whose audio nobody keeps.
    void skim(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop);
    void setTrackStart(qint64 sector) { m_trackStart = sector; }
    // The sectors the track's reads lie in: what paranoia meets outside them is not counted.
    void setSpan(qint64 first, qint64 end)
    {
        m_spanFirst = first;
        m_spanEnd = end;
    }
    const ReadStats& stats() const { return m_stats; }
    // Whether the last read failed because the drive holds no disc any more.
    bool discRemoved() const { return m_discRemoved; }
    // Called for each sector that needed reads again, with the count of such sectors so far.
    void setRetryEvent(std::function<void(int retried, qint64 sector)> event)
    {
        m_retryEvent = std::move(event);
    }

    static QString discRemovedText();
    // Where a sector lies as the user reads it: minutes, seconds and sectors (frames) into
    // the track, and the sector's number on the disc.
    static QString positionText(qint64 sector, qint64 trackStart);

private:
    ReaderChild(QString path, Source source, pid_t pid, int socket);
    // Closes the socket and collects the reader, killed at once when kill is set, else once it
    // has had a moment to end by itself; says how it ended when it ended by itself.
    QString end(bool kill = false);
    Failure damaged(const QString& why);
    Failure driveFailed(qint64 sector, const QString& why);
    Status readSectors(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop,
                       int& done, bool paranoia);

    QString m_path;
    Source m_source;
    pid_t m_pid = -1;
    int m_socket = -1;
    Toc m_toc;
    bool m_paranoia = false;
    qint64 m_trackStart = 0;
    qint64 m_spanFirst = 0;
    qint64 m_spanEnd = std::numeric_limits<qint64>::max();
    ReadStats m_stats;
    int m_retried = 0;
    bool m_discRemoved = false;
    std::function<void(int, qint64)> m_retryEvent;
};
