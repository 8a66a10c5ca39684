// tambrel-reader: reads one disc for the program, in a process of its own. libcdio's parsers for
// .toc and .nrg images abort on failed assertions, crash or allocate without end on a damaged
// file, and libcdio-paranoia can crash or spin on a drive that returns bad data; here that ends
// this process, not the program, which reports it as the read's failure. The program starts it
// as `tambrel-reader toc|nrg|drive PATH` with a socket on descriptor 3 (readerprotocol.h): this
// process sends the table of contents, then reads sectors on request until the socket closes.

#include "components/cdio/disctoc.h"
#include "components/cdio/readerprotocol.h"
#include "components/cdio/verifiedread.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace readerprotocol;

namespace
{

int channel = SocketFd;
bool tocSent = false;
// libcdio's messages while the disc is opened: its image parsers tell what they stopped at
// only there.
std::vector<std::string> openMessages;

void copyText(char* to, size_t size, const char* from)
{
    std::snprintf(to, size, "%s", from ? from : "");
}

bool receiveAll(void* data, size_t size)
{
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::recv(channel, at, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= size_t(got);
    }
    return true;
}

// Keeps libcdio's messages until the table of contents is sent, to tell why an open failed. A
// failed assertion in libcdio must not carry on: it is reported, when it can be, and the reader
// ends.
void logHandler(cdio_log_level_t level, const char message[])
{
    if (!tocSent && level >= CDIO_LOG_INFO && openMessages.size() < 64)
        openMessages.emplace_back(message ? message : "");
    if (level == CDIO_LOG_ASSERT) {
        if (!tocSent) {
            static TocReply reply;
            reply.checkFailed = 1;
            sendAll(channel, &reply, sizeof reply);
        }
        _exit(2);
    }
}

// The reader may grow this much beyond what it started with.
constexpr rlim_t MemoryLimitBytes = rlim_t(1) << 30;

void limitMemory()
{
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + MemoryLimitBytes;
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_AS, &rl);
}

void setUp()
{
    // The program decides when the reader ends; a signal meant for the program (Ctrl+C reaches
    // the whole process group) leaves the reader to be ended by it.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(signalNumber, SIG_IGN);
    // A crash ends the reader at once, and leaves no core file.
    for (const int signalNumber : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
        std::signal(signalNumber, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // Ends with the program even in a read that never returns; the socket's close ends it
    // otherwise.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::close_range(SocketFd + 1, ~0U, 0);
    limitMemory();
    cdio_log_set_handler(logHandler);
}

// --- A drive's state, asked directly of the kernel's driver: libcdio has no call that tells a
// removed disc from an unreadable one.

int driveFd = -1;

bool discGone()
{
    if (driveFd < 0)
        return false;
    const int status = ::ioctl(driveFd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    return status == CDS_NO_DISC || status == CDS_TRAY_OPEN;
}

struct Reader {
    Source source = Source::Toc;
    CdIo_t* cdio = nullptr;
    cdrom_drive_t* drive = nullptr;
    cdrom_paranoia_t* paranoia = nullptr;
    int64_t next = -1; // where paranoia stands
    VerifiedRead::Watch watch;
    char sectors[MaxSectorsPerRead * SectorBytes];
};

// Whether a sector can be read at all, in one plain try.
bool readable(CdIo_t* cdio, int64_t sector)
{
    static char buffer[SectorBytes];
    return cdio_read_audio_sectors(cdio, buffer, lsn_t(sector), 1) == DRIVER_OP_SUCCESS;
}

// The first sector from the one awaited on that can't be read by itself: paranoia's own report
// names the start of the read that broke off, which may lie before the damage.
int64_t firstUnreadable(Reader& r, int64_t from)
{
    constexpr int64_t Span = 2 * MaxSectorsPerRead;
    const int64_t reported = r.watch.firstError;
    if (!r.cdio)
        return reported >= 0 ? reported : from;
    for (int64_t sector = from; sector < from + Span; ++sector) {
        if (discGone())
            return sector;
        if (!readable(r.cdio, sector))
            return sector;
    }
    return reported >= 0 ? reported : from;
}

// A sector a failed read left unread, which paranoia handed out all the same, is taken only once
// the drive gives it by itself, within the bounds of any sector's wait. None when it does.
Failed confirm(Reader& r, int64_t sector)
{
    if (!r.cdio)
        return Failed::None;
    const bool counted = sector >= r.watch.spanFirst && sector < r.watch.spanEnd;
    for (int tries = 1;; ++tries) {
        if (readable(r.cdio, sector))
            return Failed::None;
        if (counted)
            ++r.watch.reReads;
        if (discGone())
            return Failed::DiscRemoved;
        if (tries >= MaxTries)
            return Failed::Unreadable;
        if (std::chrono::steady_clock::now() - r.watch.since > std::chrono::seconds(SectorSeconds))
            return Failed::TooSlow;
    }
}

void takeCounts(Reader& r, ReadReply& reply)
{
    reply.reReads = r.watch.reReads;
    reply.repairs = r.watch.repairs;
    reply.skips = r.watch.skips;
    reply.suspiciousCount = int32_t(std::min<size_t>(r.watch.suspicious.size(), MaxSuspicious));
    std::copy_n(r.watch.suspicious.begin(), reply.suspiciousCount, reply.suspicious);
    r.watch.reReads = r.watch.repairs = r.watch.skips = 0;
    r.watch.suspicious.clear();
}

Reader reader;

// --- Why an image can't be opened, made out from libcdio's messages (libcdio 2.1.0's words).

// The text between open and the next close in text; empty when either is missing.
std::string between(const std::string& text, const std::string& open, const std::string& close)
{
    const size_t from = text.find(open);
    if (from == std::string::npos)
        return {};
    const size_t start = from + open.size();
    const size_t end = text.find(close, start);
    return end == std::string::npos ? std::string() : text.substr(start, end - start);
}

// Line n of the file, as libcdio counts lines (fgets() into 512 bytes), without its line end.
std::string lineOf(const char* path, int n)
{
    std::FILE* file = std::fopen(path, "r");
    if (!file)
        return {};
    char line[512];
    std::string text;
    for (int at = 1; std::fgets(line, sizeof line, file); ++at) {
        if (at == n) {
            text = line;
            break;
        }
    }
    std::fclose(file);
    text.erase(text.find_last_not_of("\r\n") + 1);
    return text;
}

// The .toc parser's messages begin "PATH line N"; 0 for any other message.
int lineOfMessage(const std::string& message, const char* path)
{
    const std::string lead = std::string(path) + " line ";
    if (message.compare(0, lead.size(), lead) != 0)
        return 0;
    return std::atoi(message.c_str() + lead.size());
}

void tellFault(TocReply& reply, const char* path, Source source)
{
    reply.fault = source == Source::Nrg ? ImageFault::NotNero : ImageFault::Unknown;
    for (const std::string& message : openMessages) {
        // A data file that can't be opened: cdio_stdio_new() could not stat() it; the parser
        // then names the line and the file as the sheet gives it.
        std::string file = between(message, "could not retrieve file info for `", "': ");
        if (!file.empty()) {
            reply.fault = ImageFault::FileMissing;
            for (const std::string& next : openMessages) {
                const std::string named = between(next, "can't open file `", "' for reading");
                if (!named.empty() && lineOfMessage(next, path) > 0) {
                    reply.faultLine = lineOfMessage(next, path);
                    file = named;
                    break;
                }
            }
            struct stat st {
            };
            reply.faultErrno = ::stat(file.c_str(), &st) == 0 ? 0 : errno;
            copyText(reply.faultFile, sizeof reply.faultFile, file.c_str());
            return;
        }
        const int line = lineOfMessage(message, path);
        if (line <= 0)
            continue;
        reply.faultLine = line;
        const std::string text = lineOf(path, line);
        const std::string length = between(message, ": MSF length ", " exceeds end of file");
        // The file a FILE or AUDIOFILE line names stands between its quotes.
        file = between(text, "\"", "\"");
        if (!length.empty() && !file.empty()) {
            reply.fault = ImageFault::FileShort;
            struct stat st {
            };
            reply.faultBytes = ::stat(file.c_str(), &st) == 0 ? int64_t(st.st_size) : 0;
            copyText(reply.faultFile, sizeof reply.faultFile, file.c_str());
            copyText(reply.faultText, sizeof reply.faultText, length.c_str());
            return;
        }
        reply.fault = ImageFault::BadLine;
        copyText(reply.faultText, sizeof reply.faultText, text.c_str());
        return;
    }
}

// The answer that ends a failed request, sent from paranoia's callback, which can't be made to
// return: the reader ends after it.
[[noreturn]] void failAndEnd(Failed why, VerifiedRead::Watch& watch)
{
    ReadReply reply;
    reply.failed = why;
    reply.failedSector =
        why == Failed::DiscRemoved ? watch.reading : firstUnreadable(reader, watch.reading);
    takeCounts(reader, reply);
    sendAll(channel, &reply, sizeof reply);
    _exit(0);
}

// Full verification, but a sector that stays unreadable ends the read instead of hanging it.
constexpr int ParanoiaMode = PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP;
// How often a sector a failed read left unread is read afresh before paranoia's read of it is
// taken: a sector beside one that stays unreadable falls in every failed read's hole.
constexpr int FreshReads = 3;
// Paranoia's tries at a fresh read, short: the sector is known to be readable by itself.
constexpr int FreshTries = 3;

bool openParanoia(Reader& r)
{
    r.drive = cdio_cddap_identify_cdio(r.cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!r.drive)
        return false;
    // READ CD gives audio little-endian on every drive; left to guess, paranoia judges by the
    // audio itself and swaps the bytes of noise-like music.
    r.drive->bigendianp = 0;
    if (cdio_cddap_open(r.drive) != 0)
        return false;
    r.watch.readLength = r.drive->nsectors;
    r.paranoia = cdio_paranoia_init(r.drive);
    if (!r.paranoia)
        return false;
    cdio_paranoia_modeset(r.paranoia, ParanoiaMode);
    r.watch.onError = [](VerifiedRead::Watch& watch) {
        if (discGone())
            failAndEnd(Failed::DiscRemoved, watch);
        if (watch.tries > MaxFailedReads)
            failAndEnd(Failed::Unreadable, watch);
        const auto spent = std::chrono::steady_clock::now() - watch.since;
        if (spent > std::chrono::seconds(SectorSeconds))
            failAndEnd(Failed::TooSlow, watch);
    };
    return true;
}

// A paranoia of its own for the drive, standing at sector, that has read nothing yet; null when
// it can't be made.
cdrom_paranoia_t* freshParanoia(Reader& r, int64_t sector)
{
    cdrom_paranoia_t* paranoia = cdio_paranoia_init(r.drive);
    if (paranoia) {
        cdio_paranoia_modeset(paranoia, ParanoiaMode);
        cdio_paranoia_seek(paranoia, int32_t(sector), SEEK_SET);
    }
    return paranoia;
}

// Serves one request; false when the socket is gone.
bool serve(Reader& r, const ReadRequest& request)
{
    const int count = request.count;
    if (count < 1 || count > MaxSectorsPerRead) {
        ReadReply reply;
        reply.failed = Failed::CannotRead;
        reply.failedSector = request.firstSector;
        return sendAll(channel, &reply, sizeof reply);
    }
    if (!request.paranoia) {
        ReadReply reply;
        if (cdio_read_audio_sectors(r.cdio, r.sectors, lsn_t(request.firstSector),
                                    uint32_t(count)) == DRIVER_OP_SUCCESS) {
            reply.count = count;
        } else {
            reply.failed = discGone() ? Failed::DiscRemoved : Failed::CannotRead;
            reply.failedSector = request.firstSector;
        }
        return sendAll(channel, &reply, sizeof reply) &&
               (reply.count == 0 || sendAll(channel, r.sectors, size_t(count) * SectorBytes));
    }
    if (!r.paranoia && !openParanoia(r)) {
        ReadReply reply;
        reply.failed = discGone() ? Failed::DiscRemoved : Failed::CannotRead;
        reply.failedSector = request.firstSector;
        return sendAll(channel, &reply, sizeof reply);
    }
    r.watch.spanFirst = request.spanFirst;
    r.watch.spanEnd = request.spanEnd;
    if (request.firstSector != r.next)
        cdio_paranoia_seek(r.paranoia, int32_t(request.firstSector), SEEK_SET);
    r.next = -1;
    // Whether a sector left unread may still be read afresh in this request.
    bool freshReads = true;
    static char freshSector[SectorBytes];
    // One answer for each sector, so the program's wait for an answer is a wait for one sector.
    for (int s = 0; s < count; ++s) {
        const int64_t sector = request.firstSector + s;
        ReadReply reply;
        if (VerifiedRead::readSector(r.paranoia, r.watch, sector, MaxTries, r.sectors) ==
            VerifiedRead::Outcome::Failed) {
            reply.failed = discGone() ? Failed::DiscRemoved : Failed::Unreadable;
            reply.failedSector =
                reply.failed == Failed::DiscRemoved ? sector : firstUnreadable(r, sector);
            if (reply.failed == Failed::Unreadable && discGone())
                reply.failed = Failed::DiscRemoved;
        } else if (VerifiedRead::leftUnread(r.watch, sector)) {
            reply.failed = confirm(r, sector);
            // The drive gives the sector now, but paranoia may have bridged the hole with audio
            // matched elsewhere (a steady tone matches whole periods away, and what follows is
            // then handed out shifted): a paranoia that has seen none of it reads the sector
            // again and takes over from there. Where it can't (a sector beside it stays
            // unreadable), the first one goes on with what it read before the trouble.
            for (int fresh = 0; reply.failed == Failed::None && freshReads && r.watch.bridged &&
                                fresh < FreshReads && VerifiedRead::leftUnread(r.watch, sector);
                 ++fresh) {
                VerifiedRead::forgetUnread(r.watch, sector);
                r.watch.bridged = false;
                cdrom_paranoia_t* anew = freshParanoia(r, sector);
                if (anew && VerifiedRead::readSector(anew, r.watch, sector, FreshTries,
                                                     freshSector) == VerifiedRead::Outcome::Read) {
                    cdio_paranoia_free(r.paranoia);
                    r.paranoia = anew;
                    std::memcpy(r.sectors, freshSector, SectorBytes);
                    if (VerifiedRead::leftUnread(r.watch, sector))
                        reply.failed = confirm(r, sector);
                } else {
                    if (anew)
                        cdio_paranoia_free(anew);
                    freshReads = false;
                }
            }
            if (reply.failed != Failed::None)
                reply.failedSector = sector;
        }
        if (reply.failed != Failed::None) {
            takeCounts(r, reply);
            return sendAll(channel, &reply, sizeof reply);
        }
        reply.count = 1;
        takeCounts(r, reply);
        // The answer and its sector in one write: the program takes them with one read.
        static char message[sizeof(ReadReply) + SectorBytes];
        std::memcpy(message, &reply, sizeof reply);
        std::memcpy(message + sizeof reply, r.sectors, SectorBytes);
        if (!sendAll(channel, message, sizeof message))
            return false;
    }
    r.next = request.firstSector + count;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "tambrel-reader is started by Tambrel's programs, not by hand.\n");
        return 64;
    }
    setUp();
    const std::string kind = argv[1];
    const char* path = argv[2];
    Reader& r = reader;
    r.source = kind == "drive" ? Source::Drive : kind == "nrg" ? Source::Nrg : Source::Toc;

    static TocReply reply;
    if (r.source == Source::Drive) {
        r.cdio = cdio_open(path, DRIVER_DEVICE);
        driveFd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (!r.cdio)
            reply.noDisc = discGone();
    } else {
        // A .toc names its data files relative to its own folder.
        std::string folder = path;
        folder.erase(folder.find_last_of('/') == std::string::npos ? 0 : folder.find_last_of('/'));
        const int image = ::open(path, O_RDONLY | O_CLOEXEC);
        if (image < 0 || (!folder.empty() && ::chdir(folder.c_str()) != 0)) {
            reply.fault = ImageFault::Unopened;
            reply.faultErrno = errno;
        } else {
            // The parsers tell the line they stop at only as information.
            cdio_loglevel_default = CDIO_LOG_INFO;
            r.cdio = cdio_open(path, r.source == Source::Toc ? DRIVER_CDRDAO : DRIVER_NRG);
            cdio_loglevel_default = CDIO_LOG_WARN;
        }
        if (image >= 0)
            ::close(image);
    }
    int64_t leadOut = 0;
    const std::vector<disctoc::Track> toc =
        r.cdio ? disctoc::read(r.cdio, leadOut) : std::vector<disctoc::Track>{};
    if (!toc.empty() && toc.size() <= size_t(MaxTracks)) {
        reply.ok = 1;
        reply.trackCount = int32_t(toc.size());
        for (size_t i = 0; i < toc.size(); ++i)
            reply.tracks[i] = {toc[i].number, int32_t(toc[i].firstSector), int32_t(toc[i].sectors),
                               toc[i].audio ? 1 : 0};
        reply.leadOut = int32_t(leadOut);
        copyText(reply.source, sizeof reply.source, cdio_get_arg(r.cdio, "source"));
        cdio_hwinfo_t hw{};
        if (cdio_get_hwinfo(r.cdio, &hw)) {
            copyText(reply.vendor, sizeof reply.vendor, hw.psz_vendor);
            copyText(reply.product, sizeof reply.product, hw.psz_model);
            copyText(reply.revision, sizeof reply.revision, hw.psz_revision);
        }
    } else if (r.source == Source::Drive) {
        reply.noDisc = discGone() ? 1 : 0;
    } else if (reply.fault == ImageFault::Unknown) {
        if (r.cdio)
            reply.fault = ImageFault::NoTracks;
        else
            tellFault(reply, path, r.source);
    }
    tocSent = true;
    if (!sendAll(channel, &reply, sizeof reply) || !reply.ok)
        return 0;

    ReadRequest request;
    while (receiveAll(&request, sizeof request)) {
        if (!serve(r, request))
            break;
    }
    return 0;
}
