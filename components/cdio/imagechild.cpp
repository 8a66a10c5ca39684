#include "components/cdio/imagechild.h"

#include "components/cdio/verifiedread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("ImageChild", text);
}

// What goes over the socket: the table of contents once, then a request and its answer for
// each read. Both ends are one program, so the structures go as they lie in memory.
constexpr int MaxTracks = 99;

struct TocReply {
    int32_t ok = 0;          // 0: the image can't be opened; error says why
    int32_t checkFailed = 0; // libcdio stopped on a failed assertion: the image is damaged
    char error[512] = {};
    int32_t trackCount = 0;
    struct {
        int32_t number, firstSector, sectors, audio;
    } tracks[MaxTracks] = {};
    int32_t leadOut = 0;
    char source[4096] = {};
    char vendor[16] = {};
    char product[32] = {};
    char revision[16] = {};
};

struct ReadRequest {
    int64_t firstSector = 0;
    int32_t count = 0;
};

struct ReadReply {
    int32_t ok = 0; // then count sectors when the read succeeded
};

bool sendAll(int socket, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(socket, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        at += sent;
        size -= size_t(sent);
    }
    return true;
}

// --- The child: plain C calls only. It was forked from a program that may run other threads,
// so it never touches Qt and ends with _exit().

int childSocket = -1;
bool childTocSent = false;
char childError[512];

void copyText(char* to, size_t size, const char* from)
{
    std::snprintf(to, size, "%s", from ? from : "");
}

// Keeps libcdio's first warning or error as the reason an open failed. A failed assertion in
// libcdio must not carry on: the child reports it, when it can, and ends.
void childLog(cdio_log_level_t level, const char message[])
{
    if (level >= CDIO_LOG_WARN && !childError[0])
        copyText(childError, sizeof childError, message);
    if (level == CDIO_LOG_ASSERT) {
        if (!childTocSent) {
            static TocReply reply;
            reply.checkFailed = 1;
            copyText(reply.error, sizeof reply.error, message);
            sendAll(childSocket, &reply, sizeof reply);
        }
        _exit(2);
    }
}

void limitMemory()
{
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlim_t limit =
        rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + rlim_t(ImageChild::MemoryLimitBytes);
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_AS, &rl);
}

bool receiveAll(int socket, void* data, size_t size)
{
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::recv(socket, at, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= size_t(got);
    }
    return true;
}

[[noreturn]] void childMain(int socket, const char* image, const char* folder, driver_id_t driver,
                            bool paranoia)
{
    // The parent decides when the child ends; a signal meant for the program (Ctrl+C reaches
    // the whole process group) leaves the child to be ended by it.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(signalNumber, SIG_IGN);
    // A crash ends the child at once, with no handler of the program's (a test framework's or a
    // sanitizer's) taking it for the program's own, and leaves no core file.
    for (const int signalNumber : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
        std::signal(signalNumber, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::dup2(socket, 3) < 0)
        _exit(1);
    ::close_range(4, ~0U, 0);
    childSocket = 3;
    limitMemory();
    cdio_log_set_handler(childLog);

    static TocReply reply;
    CdIo_t* cdio = nullptr;
    if (::chdir(folder) != 0)
        copyText(reply.error, sizeof reply.error, std::strerror(errno));
    else
        cdio = cdio_open(image, driver);
    const track_t first = cdio ? cdio_get_first_track_num(cdio) : track_t(CDIO_INVALID_TRACK);
    const track_t count = cdio ? cdio_get_num_tracks(cdio) : track_t(CDIO_INVALID_TRACK);
    if (cdio && first != CDIO_INVALID_TRACK && count != CDIO_INVALID_TRACK && count > 0 &&
        count <= MaxTracks) {
        reply.ok = 1;
        reply.trackCount = count;
        for (int i = 0; i < count; ++i) {
            const track_t number = track_t(first + i);
            reply.tracks[i].number = number;
            reply.tracks[i].firstSector = cdio_get_track_lsn(cdio, number);
            reply.tracks[i].sectors = int32_t(cdio_get_track_sec_count(cdio, number));
            reply.tracks[i].audio = cdio_get_track_format(cdio, number) == TRACK_FORMAT_AUDIO;
        }
        reply.leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
        copyText(reply.source, sizeof reply.source, cdio_get_arg(cdio, "source"));
        cdio_hwinfo_t hw{};
        if (cdio_get_hwinfo(cdio, &hw)) {
            copyText(reply.vendor, sizeof reply.vendor, hw.psz_vendor);
            copyText(reply.product, sizeof reply.product, hw.psz_model);
            copyText(reply.revision, sizeof reply.revision, hw.psz_revision);
        }
    } else if (!reply.error[0]) {
        copyText(reply.error, sizeof reply.error,
                 childError[0] ? childError
                 : cdio        ? "it holds no tracks"
                               : "");
    }
    childTocSent = true;
    if (!sendAll(childSocket, &reply, sizeof reply) || !reply.ok)
        _exit(0);

    cdrom_drive_t* drive = nullptr;
    cdrom_paranoia_t* verified = nullptr;
    if (paranoia) {
        drive = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
        if (drive && cdio_cddap_open(drive) == 0)
            verified = cdio_paranoia_init(drive);
        if (verified)
            cdio_paranoia_modeset(verified, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    }
    static char sectors[ImageChild::MaxSectorsPerRead * CDIO_CD_FRAMESIZE_RAW];
    VerifiedRead::Watch watch;
    qint64 next = -1; // where paranoia stands
    ReadRequest request;
    while (receiveAll(childSocket, &request, sizeof request)) {
        ReadReply answer;
        const int count = request.count;
        if (count > 0 && count <= ImageChild::MaxSectorsPerRead) {
            if (!paranoia) {
                answer.ok = cdio_read_audio_sectors(cdio, sectors, lsn_t(request.firstSector),
                                                    uint32_t(count)) == DRIVER_OP_SUCCESS;
            } else if (verified) {
                if (request.firstSector != next)
                    cdio_paranoia_seek(verified, int32_t(request.firstSector), SEEK_SET);
                int done = 0;
                answer.ok = VerifiedRead::read(verified, watch, request.firstSector, count, sectors,
                                               nullptr, done) == VerifiedRead::Outcome::Read;
                next = answer.ok ? request.firstSector + count : -1;
            }
        }
        if (!sendAll(childSocket, &answer, sizeof answer) ||
            (answer.ok && !sendAll(childSocket, sectors, size_t(count) * CDIO_CD_FRAMESIZE_RAW)))
            break;
    }
    _exit(0);
}

// --- The parent.

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

// Reads size bytes from the child within the deadline; Ready when all came, TimedOut or Stopped
// when they didn't, and Ready with ok false when the child closed its end (it ended).
Wait receiveWithin(int socket, void* data, size_t size, const QDeadlineTimer& deadline,
                   const std::atomic<bool>* stop, bool& ok)
{
    ok = false;
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const Wait wait = waitReadable(socket, deadline, stop);
        if (wait != Wait::Ready)
            return wait;
        const ssize_t got = ::recv(socket, at, size, MSG_DONTWAIT);
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

} // namespace

ImageChild::ImageChild(QString image, pid_t pid, int socket)
    : m_image(std::move(image)), m_pid(pid), m_socket(socket)
{
}

ImageChild::~ImageChild()
{
    end();
}

Result<std::unique_ptr<ImageChild>> ImageChild::open(const QString& image, Format format,
                                                     bool paranoia)
{
    const QFileInfo info(image);
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return Failure{tr("The disc image \"%1\" cannot be opened: %2")
                           .arg(image, QString::fromLocal8Bit(std::strerror(errno)))};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(sockets[0]);
        childMain(sockets[1], path.constData(), folder.constData(),
                  format == Format::Toc ? DRIVER_CDRDAO : DRIVER_NRG, paranoia);
    }
    ::close(sockets[1]);
    if (pid < 0) {
        const int error = errno;
        ::close(sockets[0]);
        return Failure{tr("The disc image \"%1\" cannot be opened: %2")
                           .arg(image, QString::fromLocal8Bit(std::strerror(error)))};
    }
    std::unique_ptr<ImageChild> child(new ImageChild(image, pid, sockets[0]));

    auto reply = std::make_unique<TocReply>();
    bool complete = false;
    const Wait wait = receiveWithin(child->m_socket, reply.get(), sizeof *reply,
                                    QDeadlineTimer(OpenTimeoutMs), nullptr, complete);
    if (wait == Wait::TimedOut)
        return child->damaged(
            tr("reading it did not finish within %1 seconds").arg(OpenTimeoutMs / 1000));
    if (!complete)
        return child->damaged(child->end());
    if (reply->checkFailed)
        return child->damaged(tr("its reader stopped on a failed check (%1)")
                                  .arg(fromFixed(reply->error, sizeof reply->error)));
    if (!reply->ok) {
        child->end();
        const QString why = fromFixed(reply->error, sizeof reply->error);
        return Failure{why.isEmpty()
                           ? tr("The disc image \"%1\" cannot be read.").arg(image)
                           : tr("The disc image \"%1\" cannot be read: %2").arg(image, why)};
    }

    Toc& toc = child->m_toc;
    for (int i = 0; i < reply->trackCount; ++i)
        toc.tracks.push_back({reply->tracks[i].number, reply->tracks[i].firstSector,
                              reply->tracks[i].sectors, reply->tracks[i].audio != 0});
    toc.leadOut = reply->leadOut;
    const QString source = QFile::decodeName(
        QByteArray(reply->source, qsizetype(strnlen(reply->source, sizeof reply->source))));
    if (!source.isEmpty()) {
        const QString file = QDir(info.absolutePath()).absoluteFilePath(source);
        if (file != info.absoluteFilePath())
            toc.dataFile = QDir::cleanPath(file);
    }
    toc.vendor = fromFixed(reply->vendor, sizeof reply->vendor);
    toc.product = fromFixed(reply->product, sizeof reply->product);
    toc.revision = fromFixed(reply->revision, sizeof reply->revision);
    return child;
}

Status ImageChild::read(qint64 firstSector, int count, char* out, const std::atomic<bool>* stop)
{
    if (m_pid < 0)
        return Failure{tr("The disc image %1 is not open for reading.").arg(m_image)};
    const ReadRequest request{firstSector, count};
    if (count < 1 || count > MaxSectorsPerRead || !sendAll(m_socket, &request, sizeof request))
        return damaged(end());
    const QDeadlineTimer deadline(ReadTimeoutMs);
    ReadReply reply;
    bool complete = false;
    Wait wait = receiveWithin(m_socket, &reply, sizeof reply, deadline, stop, complete);
    if (complete && reply.ok)
        wait = receiveWithin(m_socket, out, size_t(count) * CDIO_CD_FRAMESIZE_RAW, deadline, stop,
                             complete);
    if (wait == Wait::Stopped) {
        end(true);
        return Failure{};
    }
    if (wait == Wait::TimedOut)
        return damaged(tr("a read did not finish within %1 seconds").arg(ReadTimeoutMs / 1000));
    if (!complete)
        return damaged(end());
    if (!reply.ok)
        return Failure{tr("The disc image %1 cannot be read at sector %2.")
                           .arg(m_image, QString::number(firstSector))};
    return {};
}

QString ImageChild::end(bool kill)
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (m_pid < 0)
        return {};
    // A child that has closed its end, or is told to by the socket's close, ends by itself at
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

Failure ImageChild::damaged(const QString& why)
{
    end(true);
    return Failure{tr("The disc image \"%1\" is damaged: %2.").arg(m_image, why)};
}
