#pragma once

#include "components/result.h"

#include <QString>

#include <atomic>
#include <memory>
#include <vector>

#include <sys/types.h>

// A cdrdao .toc or Nero .nrg image, opened by libcdio in a child process of its own. libcdio's
// parsers for these formats abort on failed assertions, crash or allocate without end on a
// damaged file; in a child that ends the child, not the program, and the image is reported as
// damaged. The child hands back the table of contents, then reads sectors on request, so
// libcdio never parses or reads such an image inside the program. A child that doesn't answer
// in time, or grows past its memory limit, is ended. The child works in the image's folder, so
// the data files a .toc names by relative paths are found beside it.
class ImageChild
{
public:
    enum class Format { Toc, Nrg };

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
        QString dataFile;   // where a .toc's audio lives (absolute); empty for an .nrg
        QString vendor;     // what libcdio calls its driver
        QString product;
        QString revision;
    };

    static constexpr int OpenTimeoutMs = 3000;
    // A read of up to MaxSectorsPerRead sectors from a local file; paranoia's verification
    // of an image reads each sector a few times.
    static constexpr int ReadTimeoutMs = 20000;
    static constexpr int MaxSectorsPerRead = 75;
    // How much the child may grow beyond what it started with (the program's own size).
    static constexpr qint64 MemoryLimitBytes = qint64(1) << 30;

    // Starts the child on the image and waits for its table of contents. paranoia: reads go
    // through paranoia's verification, as on a drive.
    static Result<std::unique_ptr<ImageChild>> open(const QString& image, Format format,
                                                    bool paranoia);
    ~ImageChild();
    ImageChild(const ImageChild&) = delete;
    ImageChild& operator=(const ImageChild&) = delete;

    const Toc& toc() const { return m_toc; }
    // Reads count sectors (at most MaxSectorsPerRead) from firstSector on, 2352 bytes each,
    // into out. A set stop flag, looked at while the answer is awaited, ends the wait (and the
    // child) with an empty failure.
    Status read(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop);

private:
    ImageChild(QString image, pid_t pid, int socket);
    // Closes the socket and collects the child, killed at once when kill is set, else once it
    // has had a moment to end by itself; says how it ended when it ended by itself.
    QString end(bool kill = false);
    Failure damaged(const QString& why);

    QString m_image;
    pid_t m_pid = -1;
    int m_socket = -1;
    Toc m_toc;
};
