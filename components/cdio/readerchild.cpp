#include "components/cdio/readerchild.h"

#include "components/cdio/readerprotocol.h"
#include "components/cueimage/cueimage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace readerprotocol;

static_assert(ReaderChild::MaxSectorsPerRead == readerprotocol::MaxSectorsPerRead);

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("ReaderChild", text);
}

// The reader is installed beside the programs; in the build tree it is where the build made it.
// TAMBREL_READER names another.
QByteArray readerPath()
{
    const QString set = qEnvironmentVariable("TAMBREL_READER");
    if (!set.isEmpty())
        return QFile::encodeName(set);
    const QString besideProgram = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() +
                                  QStringLiteral("/tambrel-reader");
    if (QFileInfo::exists(besideProgram))
        return QFile::encodeName(besideProgram);
    return QByteArrayLiteral(TAMBREL_READER_BUILT);
}

// Waits until the socket has something to read, the deadline passes or the stop flag is set.
enum class Wait { Ready, TimedOut, Stopped };

Wait waitReadable(int socket, const QDeadlineTimer& deadline, const std::atomic<bool>* stop)
{
    for (;;) {
        if (stop && stop->load())
            return Wait::Stopped;
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return Wait::TimedOut;
        pollfd fd{socket, POLLIN, 0};
        const int slice = int(std::min<qint64>(left < 0 ? 100 : left, 100));
        const int ready = ::poll(&fd, 1, slice);
        if (ready > 0)
            return Wait::Ready;
        if (ready < 0 && errno != EINTR)
            return Wait::Ready; // the read that follows says what is wrong
    }
}

// Reads size bytes from the reader within the deadline; Ready when all came, TimedOut or Stopped
// when they didn't, and Ready with ok false when the reader closed its end (it ended).
Wait receiveWithin(int socket, void* data, size_t size, const QDeadlineTimer& deadline,
                   const std::atomic<bool>* stop, bool& ok)
{
    ok = false;
    char* at = static_cast<char*>(data);
    // What has come already is taken at once; the wait is only for what hasn't.
    bool wait = false;
    while (size > 0) {
        if (stop && stop->load())
            return Wait::Stopped;
        if (wait) {
            if (const Wait waited = waitReadable(socket, deadline, stop); waited != Wait::Ready)
                return waited;
        }
        const ssize_t got = ::recv(socket, at, size, MSG_DONTWAIT);
        wait = got < 0 && errno == EAGAIN;
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return Wait::Ready;
        at += got;
        size -= size_t(got);
    }
    ok = true;
    return Wait::Ready;
}

QString fromFixed(const char* text, size_t size)
{
    return QString::fromLatin1(text, qsizetype(strnlen(text, size))).trimmed();
}

// Whether the drive says it holds no disc (or its tray is open); a drive that can't tell holds
// one.
bool driveEmpty(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int status = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    ::close(fd);
    return status == CDS_NO_DISC || status == CDS_TRAY_OPEN;
}

// Why an image could not be opened, from what its reader made out of libcdio's messages. As for
// a cue sheet: a sheet that is not valid cannot be read; an image whose data file is missing or
// too short, or an .nrg that is none, is damaged.
QString imageFault(const QString& path, ReaderChild::Source source, const TocReply& reply)
{
    const auto unreadable = [&](const QString& why) {
        return tr("The disc image \"%1\" cannot be read: %2").arg(path, why);
    };
    const QString file = QFile::decodeName(
        QByteArray(reply.faultFile, qsizetype(strnlen(reply.faultFile, sizeof reply.faultFile))));
    const QString text = QString::fromUtf8(
        reply.faultText, qsizetype(strnlen(reply.faultText, sizeof reply.faultText)));
    const QString line = QString::number(reply.faultLine);
    const auto dataFileDamaged = [&](const QString& why) {
        return tr("The disc image \"%1\" is damaged: its data file \"%2\" is missing or too "
                  "short (%3).")
            .arg(path, file, why);
    };
    const QString reason = QString::fromLocal8Bit(std::strerror(reply.faultErrno));
    switch (reply.fault) {
    case ImageFault::Unopened:
        return unreadable(reason + QLatin1Char('.'));
    case ImageFault::FileMissing:
        if (reply.faultErrno != ENOENT && reply.faultErrno != 0)
            return unreadable(
                reply.faultLine > 0
                    ? tr("line %1: the data file \"%2\" cannot be opened: %3.")
                          .arg(line, file, reason)
                    : tr("the data file \"%1\" cannot be opened: %2.").arg(file, reason));
        return dataFileDamaged(reply.faultLine > 0
                                   ? tr("line %1: the file does not exist").arg(line)
                                   : tr("the file does not exist"));
    case ImageFault::FileShort:
        return dataFileDamaged(
            tr("line %1: the length it is given (%2) runs past its end (%3)")
                .arg(line, text,
                     CueImage::msf((reply.faultBytes + SectorBytes - 1) / SectorBytes)));
    case ImageFault::BadLine:
        return unreadable(text.trimmed().isEmpty()
                              ? tr("line %1 is not a valid .toc line.").arg(line)
                              : tr("line %1 is not a valid .toc line (%2).")
                                    .arg(line, text.simplified().left(80)));
    case ImageFault::NoTracks:
        return unreadable(tr("it holds no track."));
    case ImageFault::NotNero:
    case ImageFault::Unknown:
        break;
    }
    if (source == ReaderChild::Source::Nrg)
        return tr("The disc image \"%1\" is damaged: it is not a Nero image Tambrel can read.")
            .arg(path);
    return unreadable(tr("it is not a .toc file Tambrel can read."));
}

} // namespace

ReaderChild::ReaderChild(QString path, Source source, pid_t pid, int socket)
    : m_path(std::move(path)), m_source(source), m_pid(pid), m_socket(socket)
{
}

ReaderChild::~ReaderChild()
{
    end();
}

QString ReaderChild::discRemovedText()
{
    return tr("The disc was removed from the drive.");
}

QString ReaderChild::positionText(qint64 sector, qint64 trackStart)
{
    const qint64 into = std::max<qint64>(sector - trackStart, 0);
    return tr("%1:%2.%3 into the track (sector %4)")
        .arg(into / 75 / 60)
        .arg(into / 75 % 60, 2, 10, QLatin1Char('0'))
        .arg(into % 75, 2, 10, QLatin1Char('0'))
        .arg(sector);
}

Result<std::unique_ptr<ReaderChild>> ReaderChild::open(const QString& path, Source source,
                                                       bool paranoia)
{
    const bool drive = source == Source::Drive;
    const QString absolute = drive ? path : QFileInfo(path).absoluteFilePath();
    const auto cannotOpen = [&](int error) {
        return Failure{(drive ? tr("The drive %1 cannot be opened for reading audio: %2")
                              : tr("The disc image \"%1\" cannot be opened: %2"))
                           .arg(path, QString::fromLocal8Bit(std::strerror(error)))};
    };
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return cannotOpen(errno);

    const QByteArray program = readerPath();
    const QByteArray kind = drive ? "drive" : source == Source::Nrg ? "nrg" : "toc";
    const QByteArray target = QFile::encodeName(absolute);
    char* argv[] = {const_cast<char*>("tambrel-reader"), const_cast<char*>(kind.constData()),
                    const_cast<char*>(target.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto the protocol's descriptor clears its close-on-exec flag there only.
    posix_spawn_file_actions_adddup2(&actions, sockets[1], SocketFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, program.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(sockets[1]);
    if (spawned != 0) {
        ::close(sockets[0]);
        return cannotOpen(spawned);
    }
    std::unique_ptr<ReaderChild> child(new ReaderChild(path, source, pid, sockets[0]));

    auto reply = std::make_unique<TocReply>();
    bool complete = false;
    const int timeout = drive ? DriveOpenTimeoutMs : OpenTimeoutMs;
    const Wait wait = receiveWithin(child->m_socket, reply.get(), sizeof *reply,
                                    QDeadlineTimer(timeout), nullptr, complete);
    if (wait == Wait::TimedOut)
        return child->damaged(
            tr("reading it did not finish within %1 seconds").arg(timeout / 1000));
    if (!complete)
        return child->damaged(child->end());
    if (reply->checkFailed)
        return child->damaged(tr("its reader stopped on a failed check"));
    if (!reply->ok) {
        child->end();
        if (drive)
            return Failure{reply->noDisc
                               ? discRemovedText()
                               : tr("The drive %1 cannot be opened for reading audio.").arg(path)};
        return Failure{imageFault(path, source, *reply)};
    }

    Toc& toc = child->m_toc;
    for (int i = 0; i < reply->trackCount; ++i)
        toc.tracks.push_back({reply->tracks[i].number, reply->tracks[i].firstSector,
                              reply->tracks[i].sectors, reply->tracks[i].audio != 0});
    toc.leadOut = reply->leadOut;
    const QString dataSource = QFile::decodeName(
        QByteArray(reply->source, qsizetype(strnlen(reply->source, sizeof reply->source))));
    if (!drive && !dataSource.isEmpty()) {
        const QFileInfo info(absolute);
        const QString file = QDir(info.absolutePath()).absoluteFilePath(dataSource);
        if (file != info.absoluteFilePath())
            toc.dataFile = QDir::cleanPath(file);
    }
    toc.vendor = fromFixed(reply->vendor, sizeof reply->vendor);
    toc.product = fromFixed(reply->product, sizeof reply->product);
    toc.revision = fromFixed(reply->revision, sizeof reply->revision);
    child->m_paranoia = paranoia || drive;
    return child;
}

Status ReaderChild::read(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop,
                         int& done)
{
    return readSectors(firstSector, count, out, stop, done, m_paranoia);
}

void ReaderChild::skim(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop)
{
    int done = 0;
    const ReadStats kept = m_stats;
    (void)readSectors(firstSector, count, out, stop, done, false);
    m_stats = kept;
}

Status ReaderChild::readSectors(qint64 firstSector, int count, char* out,
                                const std::atomic<bool>* stop, int& done, bool paranoia)
{
    done = 0;
    m_discRemoved = false;
    const bool drive = m_source == Source::Drive;
    if (m_pid < 0)
        return Failure{drive ? tr("The drive %1 is not open for reading.").arg(m_path)
                             : tr("The disc image %1 is not open for reading.").arg(m_path)};
    const ReadRequest request{firstSector, count, paranoia ? 1 : 0, m_spanFirst, m_spanEnd};
    if (count < 1 || count > MaxSectorsPerRead || !sendAll(m_socket, &request, sizeof request))
        return drive ? driveFailed(firstSector, end(true)) : damaged(end());
    // A verified read answers sector by sector, a straight one all at once.
    const int timeout = drive && paranoia ? SectorTimeoutMs : ReadTimeoutMs;
    while (done < count) {
        const QDeadlineTimer deadline(timeout);
        ReadReply reply;
        bool complete = false;
        Wait wait = receiveWithin(m_socket, &reply, sizeof reply, deadline, stop, complete);
        const bool sectorsFollow = complete && reply.count > 0 && reply.count <= count - done;
        if (sectorsFollow)
            wait = receiveWithin(m_socket, out + size_t(done) * SectorBytes,
                                 size_t(reply.count) * SectorBytes, deadline, stop, complete);
        if (wait == Wait::Stopped) {
            end(true);
            return Failure{};
        }
        if (wait == Wait::TimedOut) {
            const QString why =
                tr("the drive gave no audio for it within %1 seconds").arg(SectorTimeoutMs / 1000);
            return drive ? driveFailed(firstSector + done, why)
                         : damaged(tr("a read did not finish within %1 seconds")
                                       .arg(ReadTimeoutMs / 1000));
        }
        if (!complete || (reply.count > 0 && !sectorsFollow))
            return drive ? driveFailed(firstSector + done, end()) : damaged(end());

        m_stats.reReads += reply.reReads;
        m_stats.repairs += reply.repairs;
        m_stats.skips += reply.skips;
        for (int i = 0; i < std::clamp(reply.suspiciousCount, 0, MaxSuspicious); ++i) {
            if (std::find(m_stats.suspicious.begin(), m_stats.suspicious.end(),
                          reply.suspicious[i]) == m_stats.suspicious.end())
                m_stats.suspicious.push_back(reply.suspicious[i]);
        }
        // A sector that came only after reads again is told; one that never came is told by
        // the failure.
        if (reply.reReads > 0 && reply.failed == Failed::None && m_retryEvent)
            m_retryEvent(++m_retried, firstSector + done);
        done += reply.count;

        if (reply.failed == Failed::None)
            continue;
        const qint64 sector = reply.failedSector >= 0 ? reply.failedSector : firstSector + done;
        if (std::find(m_stats.suspicious.begin(), m_stats.suspicious.end(), sector) ==
            m_stats.suspicious.end())
            m_stats.suspicious.push_back(sector);
        switch (reply.failed) {
        case Failed::DiscRemoved:
            end();
            m_discRemoved = true;
            return Failure{discRemovedText()};
        case Failed::Unreadable:
            end();
            return Failure{tr("The disc cannot be read at %1: the sector stayed unreadable after "
                              "%2 tries.")
                               .arg(positionText(sector, m_trackStart))
                               .arg(MaxTries)};
        case Failed::TooSlow:
            end();
            return Failure{tr("The disc cannot be read at %1: the drive spent more than %2 "
                              "seconds on it.")
                               .arg(positionText(sector, m_trackStart))
                               .arg(SectorSeconds)};
        default:
            return drive ? Failure{tr("The disc cannot be read at %1.")
                                       .arg(positionText(sector, m_trackStart))}
                         : Failure{tr("The disc image %1 cannot be read at sector %2.")
                                       .arg(m_path, QString::number(sector))};
        }
    }
    return {};
}

QString ReaderChild::end(bool kill)
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (m_pid < 0)
        return {};
    // A reader that has closed its end, or is told to by the socket's close, ends by itself at
    // once; one that hangs is killed.
    int status = 0;
    pid_t ended = 0;
    for (int wait = 0; !kill && ended == 0 && wait < 200; ++wait) {
        ended = ::waitpid(m_pid, &status, WNOHANG);
        if (ended == 0)
            ::usleep(5000);
    }
    if (ended == 0) {
        ::kill(m_pid, SIGKILL);
        ended = ::waitpid(m_pid, &status, 0);
        status = 0;
    }
    m_pid = -1;
    if (ended <= 0 || status == 0)
        return tr("its reader ended unexpectedly");
    if (WIFSIGNALED(status))
        return tr("its reader crashed (%1)")
            .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))));
    return tr("its reader ended with status %1").arg(WEXITSTATUS(status));
}

Failure ReaderChild::damaged(const QString& why)
{
    end(true);
    if (m_source == Source::Drive)
        return Failure{driveEmpty(m_path)
                           ? discRemovedText()
                           : tr("The drive %1 cannot be read: %2.").arg(m_path, why)};
    return Failure{tr("The disc image \"%1\" is damaged: %2.").arg(m_path, why)};
}

Failure ReaderChild::driveFailed(qint64 sector, const QString& why)
{
    end(true);
    // A reader that died or went quiet on a drive whose disc is gone was stopped by that.
    if (driveEmpty(m_path)) {
        m_discRemoved = true;
        return Failure{discRemovedText()};
    }
    return Failure{
        tr("The disc cannot be read at %1: %2.").arg(positionText(sector, m_trackStart), why)};
}
