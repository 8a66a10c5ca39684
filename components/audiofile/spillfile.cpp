#include "components/audiofile/spillfile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr size_t PendingBytes = 256 * 1024;
constexpr size_t WindowBytes = 256 * 1024;

void record(const SpillFile::WriteError& writeError, int error)
{
    int none = 0;
    if (writeError)
        writeError->compare_exchange_strong(none, error);
}

} // namespace

Result<SpillFile> SpillFile::make(const QString& folder, WriteError writeError)
{
    const QByteArray path = QFile::encodeName(folder);
    int fd = ::open(path.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a named one, unlinked at once.
        QByteArray name = path + "/.tambrel-spill-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0) {
        const int error = errno;
        record(writeError, error);
        return Failure{QStringLiteral("No temporary file for the track's parts can be made in "
                                      "%1: %2.")
                           .arg(folder, QString::fromLocal8Bit(std::strerror(error)))};
    }
    return SpillFile(fd, folder, std::move(writeError));
}

SpillFile::SpillFile(SpillFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_folder(std::move(other.m_folder)),
      m_writeError(std::move(other.m_writeError)), m_size(other.m_size),
      m_pending(std::move(other.m_pending)), m_window(std::move(other.m_window)),
      m_windowStart(other.m_windowStart)
{
}

SpillFile& SpillFile::operator=(SpillFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_folder = std::move(other.m_folder);
        m_writeError = std::move(other.m_writeError);
        m_size = other.m_size;
        m_pending = std::move(other.m_pending);
        m_window = std::move(other.m_window);
        m_windowStart = other.m_windowStart;
    }
    return *this;
}

SpillFile::~SpillFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Status SpillFile::failure(const char* what, int error) const
{
    return Failure{
        QStringLiteral("The track's parts could not be %1 their temporary file in "
                       "%2: %3.")
            .arg(QLatin1String(what), m_folder, QString::fromLocal8Bit(std::strerror(error)))};
}

Status SpillFile::append(std::span<const unsigned char> bytes)
{
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    m_size += qint64(bytes.size());
    return m_pending.size() >= PendingBytes ? flush() : Status();
}

Status SpillFile::writeAt(qint64 offset, std::span<const unsigned char> bytes) const
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, offset + qint64(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            record(m_writeError, error);
            return failure("written to", error);
        }
        done += size_t(n);
    }
    return {};
}

Status SpillFile::flush()
{
    if (Status written = writeAt(m_size - qint64(m_pending.size()), m_pending); !written)
        return written;
    m_pending.clear();
    return {};
}

Status SpillFile::overwrite(qint64 offset, std::span<const unsigned char> bytes)
{
    if (offset < 0 || offset + qint64(bytes.size()) > m_size)
        return Failure{QStringLiteral("A part of the track was to be changed past its end.")};
    if (Status flushed = flush(); !flushed)
        return flushed;
    m_window.clear();
    return writeAt(offset, bytes);
}

Status SpillFile::read(qint64 offset, std::span<unsigned char> into)
{
    const qint64 end = offset + qint64(into.size());
    if (offset < 0 || end > m_size)
        return Failure{QStringLiteral("A part of the track was read past its end.")};
    if (offset < m_windowStart || end > m_windowStart + qint64(m_window.size())) {
        if (!m_pending.empty())
            if (Status flushed = flush(); !flushed)
                return flushed;
        m_windowStart = offset;
        m_window.resize(
            size_t(std::min<qint64>(std::max(WindowBytes, into.size()), m_size - offset)));
        size_t done = 0;
        while (done < m_window.size()) {
            const ssize_t n = ::pread(m_fd, m_window.data() + done, m_window.size() - done,
                                      offset + qint64(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_window.clear();
                return failure("read from", n < 0 ? errno : EIO);
            }
            done += size_t(n);
        }
    }
    std::memcpy(into.data(), m_window.data() + (offset - m_windowStart), into.size());
    return {};
}
