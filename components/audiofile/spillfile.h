#pragma once

#include "components/result.h"

#include <QString>

#include <atomic>
#include <memory>
#include <span>
#include <vector>

// Bytes kept on disk instead of in memory while a track is encoded in parts: an unnamed
// temporary file (it goes with its descriptor, also when the program is killed), written at its
// end and read back anywhere. Writes are gathered and reads served from a window of the file, so
// that many small ones cost few system calls.
class SpillFile
{
public:
    // The system's error number of the first write into any of the files that share it that
    // failed (their making too), 0 while none has.
    using WriteError = std::shared_ptr<std::atomic<int>>;

    // A new, empty file in folder: on the output's own file system, where the finished track
    // is going anyway.
    static Result<SpillFile> make(const QString& folder, WriteError writeError = {});

    SpillFile(SpillFile&& other) noexcept;
    SpillFile& operator=(SpillFile&& other) noexcept;
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;
    ~SpillFile();

    Status append(std::span<const unsigned char> bytes);
    // Replaces bytes already appended.
    Status overwrite(qint64 offset, std::span<const unsigned char> bytes);
    qint64 size() const { return m_size; }
    // Fills into with the bytes from offset on; fails past the end.
    Status read(qint64 offset, std::span<unsigned char> into);

private:
    SpillFile(int fd, QString folder, WriteError writeError)
        : m_fd(fd), m_folder(std::move(folder)), m_writeError(std::move(writeError))
    {
    }
    Status flush();
    Status writeAt(qint64 offset, std::span<const unsigned char> bytes) const;
    Status failure(const char* what, int error) const;

    int m_fd = -1;
    QString m_folder;
    WriteError m_writeError;
    qint64 m_size = 0;                    // appended so far, pending bytes included
    std::vector<unsigned char> m_pending; // appended, not yet written
    std::vector<unsigned char> m_window;  // read ahead from m_windowStart
    qint64 m_windowStart = 0;
};
