// The C library functions the virtual drive stands in front of. Loaded with LD_PRELOAD, this
// makes the device path (TAMBREL_VDRIVE_DEVICE, /dev/sr7 by default) a SCSI CD-ROM drive as
// long as TAMBREL_VDRIVE_CUE names a disc; every other path and descriptor goes to the C
// library untouched. An open of the device gives a real descriptor of /dev/null, remembered as
// the drive's, so that descriptor numbers, close() and fork() behave as usual.

#include "drive.h"
#include "libc.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <memory>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#define VDRIVE_EXPORT extern "C" __attribute__((visibility("default")))

using vdrive::Direction;
using vdrive::Drive;

namespace
{

template <typename Function> Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The stat functions of programs built before glibc 2.33 exist only in that old version.
template <typename Function> Function nextOld(const char* name)
{
    return reinterpret_cast<Function>(dlvsym(RTLD_NEXT, name, "GLIBC_2.2.5"));
}

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using StatFunction = int (*)(const char*, struct stat*);
using Stat64Function = int (*)(const char*, struct stat64*);

constexpr int CdromGroup = 24; // Debian's "cdrom" group owns CD drives
constexpr int ScsiCdromMajor = 11;

// ---------------------------------------------------------------------------------------------
// Which path is the drive, and which descriptors are open on it

bool enabled()
{
    const char* cue = std::getenv("TAMBREL_VDRIVE_CUE");
    return cue && *cue;
}

const char* devicePath()
{
    const char* path = std::getenv("TAMBREL_VDRIVE_DEVICE");
    return path && *path ? path : "/dev/sr7";
}

bool isDevicePath(const char* path)
{
    return path && enabled() && std::strcmp(path, devicePath()) == 0;
}

unsigned deviceMinor()
{
    const char* path = devicePath();
    const char* digits = path + std::strlen(path);
    while (digits > path && digits[-1] >= '0' && digits[-1] <= '9')
        --digits;
    return unsigned(std::strtoul(digits, nullptr, 10) & 0xFF);
}

struct OpenDevice {
    std::atomic<int64_t> position{0};
};

constexpr int MaxFd = 1 << 16;
std::atomic<bool> isDeviceFd[MaxFd];
pthread_mutex_t fdMutex = PTHREAD_MUTEX_INITIALIZER;

std::unordered_map<int, std::shared_ptr<OpenDevice>>& openDevices()
{
    static auto* devices = new std::unordered_map<int, std::shared_ptr<OpenDevice>>;
    return *devices;
}

bool isDevice(int fd)
{
    return fd >= 0 && fd < MaxFd && isDeviceFd[fd].load(std::memory_order_acquire);
}

std::shared_ptr<OpenDevice> device(int fd)
{
    pthread_mutex_lock(&fdMutex);
    const auto it = openDevices().find(fd);
    std::shared_ptr<OpenDevice> found = it == openDevices().end() ? nullptr : it->second;
    pthread_mutex_unlock(&fdMutex);
    return found;
}

void remember(int fd, std::shared_ptr<OpenDevice> open)
{
    pthread_mutex_lock(&fdMutex);
    openDevices()[fd] = std::move(open);
    isDeviceFd[fd].store(true, std::memory_order_release);
    pthread_mutex_unlock(&fdMutex);
}

void forget(int fd)
{
    pthread_mutex_lock(&fdMutex);
    isDeviceFd[fd].store(false, std::memory_order_release);
    openDevices().erase(fd);
    pthread_mutex_unlock(&fdMutex);
}

// A descriptor duplicated from the drive's shares its file position, as dup() does.
void duplicated(int from, int to)
{
    if (to < 0 || to == from)
        return;
    if (isDevice(to))
        forget(to);
    if (!isDevice(from))
        return;
    if (to >= MaxFd)
        return;
    if (std::shared_ptr<OpenDevice> open = device(from))
        remember(to, std::move(open));
}

int openDevice(int flags)
{
    if (const int error = Drive::instance().opened(flags)) {
        errno = error;
        return -1;
    }
    const int fd = vdrive::libc::open("/dev/null", flags & (O_ACCMODE | O_CLOEXEC | O_NONBLOCK));
    if (fd < 0)
        return -1;
    if (fd >= MaxFd) {
        vdrive::libc::close(fd);
        errno = EMFILE;
        return -1;
    }
    remember(fd, std::make_shared<OpenDevice>());
    return fd;
}

// ---------------------------------------------------------------------------------------------
// What stat() says about the device: a SCSI CD-ROM block device of root:cdrom

// The device node's times: when the library was loaded, the same on every call.
timespec nodeTime()
{
    static const timespec loaded = [] {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return now;
    }();
    return loaded;
}

template <typename Stat> void fillStat(Stat* st)
{
    std::memset(st, 0, sizeof(*st));
    const timespec now = nodeTime();
    st->st_dev = makedev(0, 5);
    st->st_ino = 0x7462 + deviceMinor();
    st->st_mode = S_IFBLK | 0660;
    st->st_nlink = 1;
    st->st_gid = CdromGroup;
    st->st_rdev = makedev(ScsiCdromMajor, deviceMinor());
    st->st_blksize = vdrive::UserDataBytes;
    st->st_atim = st->st_mtim = st->st_ctim = now;
}

void fillStatx(struct statx* stx)
{
    std::memset(stx, 0, sizeof(*stx));
    const timespec now = nodeTime();
    stx->stx_mask = STATX_BASIC_STATS;
    stx->stx_blksize = vdrive::UserDataBytes;
    stx->stx_nlink = 1;
    stx->stx_gid = CdromGroup;
    stx->stx_mode = S_IFBLK | 0660;
    stx->stx_ino = 0x7462 + deviceMinor();
    const statx_timestamp stamp{now.tv_sec, uint32_t(now.tv_nsec), 0};
    stx->stx_atime = stx->stx_btime = stx->stx_ctime = stx->stx_mtime = stamp;
    stx->stx_rdev_major = ScsiCdromMajor;
    stx->stx_rdev_minor = deviceMinor();
    stx->stx_dev_major = 0;
    stx->stx_dev_minor = 5;
}

// fstatat() and statx() name the device by an absolute path, or by its descriptor with an
// empty path.
bool namesDevice(int dirfd, const char* path, int flags)
{
    if (path && *path == '\0' && (flags & AT_EMPTY_PATH))
        return isDevice(dirfd);
    return isDevicePath(path);
}

bool deviceAccess(int mode)
{
    if (mode & X_OK) {
        errno = EACCES;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The SCSI pass-throughs: CDROM_SEND_PACKET and SG_IO

int sendPacket(cdrom_generic_command* command)
{
    Direction direction = Direction::None;
    switch (command->data_direction) {
    case CGC_DATA_READ:
    case CGC_DATA_UNKNOWN:
        direction = Direction::FromDevice;
        break;
    case CGC_DATA_WRITE:
        direction = Direction::ToDevice;
        break;
    case CGC_DATA_NONE:
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    const vdrive::ScsiResult result =
        Drive::instance().execute(command->cmd, direction, command->buffer, command->buflen);
    if (!result.good) {
        // Linux hands back the sense data and fails the ioctl with EIO on CHECK CONDITION.
        if (command->sense)
            vdrive::fillSense(result, reinterpret_cast<uint8_t*>(command->sense));
        errno = EIO;
        return -1;
    }
    command->stat = 0;
    command->buflen -= unsigned(result.transferred);
    return 0;
}

int sgIo(sg_io_hdr_t* header)
{
    if (header->interface_id != 'S' || header->cmd_len < 6 || header->cmd_len > 16 ||
        !header->cmdp) {
        errno = EINVAL;
        return -1;
    }
    const timespec started = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return t;
    }();
    uint8_t cdb[16] = {};
    std::memcpy(cdb, header->cmdp, header->cmd_len);
    Direction direction = Direction::FromDevice;
    if (header->dxfer_direction == SG_DXFER_NONE)
        direction = Direction::None;
    else if (header->dxfer_direction == SG_DXFER_TO_DEV)
        direction = Direction::ToDevice;

    // A scatter list is gathered into one buffer and scattered back.
    std::vector<uint8_t> gathered;
    uint8_t* buffer = static_cast<uint8_t*>(header->dxferp);
    size_t length = header->dxfer_len;
    const auto* iov = static_cast<const sg_iovec_t*>(header->dxferp);
    if (header->iovec_count > 0) {
        for (unsigned i = 0; i < header->iovec_count; ++i) {
            const auto* base = static_cast<const uint8_t*>(iov[i].iov_base);
            gathered.insert(gathered.end(), base, base + iov[i].iov_len);
        }
        gathered.resize(std::min<size_t>(gathered.size(), header->dxfer_len));
        buffer = gathered.data();
        length = gathered.size();
    }
    const vdrive::ScsiResult result = Drive::instance().execute(cdb, direction, buffer, length);
    if (header->iovec_count > 0 && direction == Direction::FromDevice) {
        size_t at = 0;
        for (unsigned i = 0; i < header->iovec_count && at < result.transferred; ++i) {
            const size_t n = std::min(iov[i].iov_len, result.transferred - at);
            std::memcpy(iov[i].iov_base, gathered.data() + at, n);
            at += n;
        }
    }

    header->status = result.good ? 0 : 0x02; // GOOD or CHECK CONDITION
    header->masked_status = header->status >> 1;
    header->msg_status = 0;
    header->host_status = 0;
    header->driver_status = result.good ? 0 : 0x08; // DRIVER_SENSE
    header->sb_len_wr = 0;
    if (!result.good && header->sbp && header->mx_sb_len > 0) {
        uint8_t sense[vdrive::SenseBytes];
        vdrive::fillSense(result, sense);
        header->sb_len_wr = uint8_t(std::min<size_t>(header->mx_sb_len, sizeof(sense)));
        std::memcpy(header->sbp, sense, header->sb_len_wr);
    }
    header->resid =
        int(header->dxfer_len - std::min<size_t>(header->dxfer_len, result.transferred));
    timespec ended{};
    clock_gettime(CLOCK_MONOTONIC, &ended);
    header->duration = unsigned((ended.tv_sec - started.tv_sec) * 1000 +
                                (ended.tv_nsec - started.tv_nsec) / 1000000);
    header->info = result.good ? SG_INFO_OK : SG_INFO_CHECK;
    return 0;
}

off_t seekDevice(int fd, off_t offset, int whence)
{
    const std::shared_ptr<OpenDevice> open = device(fd);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = open ? open->position.load() : 0;
    else if (whence == SEEK_END)
        base = Drive::instance().blockDeviceBytes();
    else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if (!open || base + offset < 0) {
        errno = EINVAL;
        return -1;
    }
    open->position = base + offset;
    return off_t(base + offset);
}

// The drive is held across fork() so that a child never starts with it half changed.
__attribute__((constructor)) void prepareForFork()
{
    pthread_atfork(
        [] {
            pthread_mutex_lock(&fdMutex);
            Drive::instance().lock();
        },
        [] {
            Drive::instance().unlock();
            pthread_mutex_unlock(&fdMutex);
        },
        [] {
            Drive::instance().unlock();
            pthread_mutex_unlock(&fdMutex);
        });
}

} // namespace

namespace vdrive::libc
{

int open(const char* path, int flags, mode_t mode)
{
    static const auto real = next<OpenFunction>("open");
    return real(path, flags, mode);
}

int close(int fd)
{
    static const auto real = next<int (*)(int)>("close");
    return real(fd);
}

int stat(const char* path, struct stat* st)
{
    static const auto real = next<StatFunction>("stat");
    return real(path, st);
}

int fstat(int fd, struct stat* st)
{
    static const auto real = next<int (*)(int, struct stat*)>("fstat");
    return real(fd, st);
}

} // namespace vdrive::libc

// ---------------------------------------------------------------------------------------------
// open

namespace
{

mode_t modeArgument(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int)) : 0;
}

} // namespace

VDRIVE_EXPORT int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<OpenFunction>("open");
    return real(path, flags, mode);
}

VDRIVE_EXPORT int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<OpenFunction>("open64");
    return real(path, flags, mode);
}

VDRIVE_EXPORT int __open_2(const char* path, int flags)
{
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<int (*)(const char*, int)>("__open_2");
    return real(path, flags);
}

VDRIVE_EXPORT int __open64_2(const char* path, int flags)
{
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<int (*)(const char*, int)>("__open64_2");
    return real(path, flags);
}

VDRIVE_EXPORT int openat(int dirfd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<OpenAtFunction>("openat");
    return real(dirfd, path, flags, mode);
}

VDRIVE_EXPORT int openat64(int dirfd, const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<OpenAtFunction>("openat64");
    return real(dirfd, path, flags, mode);
}

VDRIVE_EXPORT int __openat_2(int dirfd, const char* path, int flags)
{
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<int (*)(int, const char*, int)>("__openat_2");
    return real(dirfd, path, flags);
}

VDRIVE_EXPORT int __openat64_2(int dirfd, const char* path, int flags)
{
    if (isDevicePath(path))
        return openDevice(flags);
    static const auto real = next<int (*)(int, const char*, int)>("__openat64_2");
    return real(dirfd, path, flags);
}

// ---------------------------------------------------------------------------------------------
// Descriptors

VDRIVE_EXPORT int close(int fd)
{
    if (isDevice(fd))
        forget(fd);
    return vdrive::libc::close(fd);
}

VDRIVE_EXPORT int dup(int fd) noexcept
{
    static const auto real = next<int (*)(int)>("dup");
    const int copy = real(fd);
    duplicated(fd, copy);
    return copy;
}

VDRIVE_EXPORT int dup2(int fd, int to) noexcept
{
    static const auto real = next<int (*)(int, int)>("dup2");
    const int copy = real(fd, to);
    duplicated(fd, copy);
    return copy;
}

VDRIVE_EXPORT int dup3(int fd, int to, int flags) noexcept
{
    static const auto real = next<int (*)(int, int, int)>("dup3");
    const int copy = real(fd, to, flags);
    duplicated(fd, copy);
    return copy;
}

VDRIVE_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (!isDevice(fd)) {
        static const auto real = next<int (*)(int, unsigned long, ...)>("ioctl");
        return real(fd, request, arg);
    }
    if (!arg && (request == CDROM_SEND_PACKET || request == SG_IO)) {
        errno = EFAULT;
        return -1;
    }
    if (request == CDROM_SEND_PACKET)
        return sendPacket(static_cast<cdrom_generic_command*>(arg));
    if (request == SG_IO)
        return sgIo(static_cast<sg_io_hdr_t*>(arg));
    return Drive::instance().cdromIoctl(request, arg);
}

VDRIVE_EXPORT ssize_t read(int fd, void* buffer, size_t length)
{
    if (!isDevice(fd)) {
        static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
        return real(fd, buffer, length);
    }
    const std::shared_ptr<OpenDevice> open = device(fd);
    int64_t position = open ? open->position.load() : 0;
    const ssize_t done = Drive::instance().readBlocks(position, buffer, length);
    if (open)
        open->position = position;
    return done;
}

VDRIVE_EXPORT off_t lseek(int fd, off_t offset, int whence) noexcept
{
    if (isDevice(fd))
        return seekDevice(fd, offset, whence);
    static const auto real = next<off_t (*)(int, off_t, int)>("lseek");
    return real(fd, offset, whence);
}

VDRIVE_EXPORT off64_t lseek64(int fd, off64_t offset, int whence) noexcept
{
    if (isDevice(fd))
        return seekDevice(fd, offset, whence);
    static const auto real = next<off64_t (*)(int, off64_t, int)>("lseek64");
    return real(fd, offset, whence);
}

// ---------------------------------------------------------------------------------------------
// stat and its relatives, old and new

VDRIVE_EXPORT int stat(const char* path, struct stat* st) noexcept
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    return vdrive::libc::stat(path, st);
}

VDRIVE_EXPORT int lstat(const char* path, struct stat* st) noexcept
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = next<StatFunction>("lstat");
    return real(path, st);
}

VDRIVE_EXPORT int fstat(int fd, struct stat* st) noexcept
{
    if (isDevice(fd)) {
        fillStat(st);
        return 0;
    }
    return vdrive::libc::fstat(fd, st);
}

VDRIVE_EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) noexcept
{
    if (namesDevice(dirfd, path, flags)) {
        fillStat(st);
        return 0;
    }
    static const auto real = next<int (*)(int, const char*, struct stat*, int)>("fstatat");
    return real(dirfd, path, st, flags);
}

VDRIVE_EXPORT int stat64(const char* path, struct stat64* st) noexcept
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = next<Stat64Function>("stat64");
    return real(path, st);
}

VDRIVE_EXPORT int lstat64(const char* path, struct stat64* st) noexcept
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = next<Stat64Function>("lstat64");
    return real(path, st);
}

VDRIVE_EXPORT int fstat64(int fd, struct stat64* st) noexcept
{
    if (isDevice(fd)) {
        fillStat(st);
        return 0;
    }
    static const auto real = next<int (*)(int, struct stat64*)>("fstat64");
    return real(fd, st);
}

VDRIVE_EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) noexcept
{
    if (namesDevice(dirfd, path, flags)) {
        fillStat(st);
        return 0;
    }
    static const auto real = next<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
    return real(dirfd, path, st, flags);
}

VDRIVE_EXPORT int statx(int dirfd, const char* path, int flags, unsigned mask,
                        struct statx* stx) noexcept
{
    if (namesDevice(dirfd, path, flags)) {
        fillStatx(stx);
        return 0;
    }
    static const auto real = next<int (*)(int, const char*, int, unsigned, struct statx*)>("statx");
    return real(dirfd, path, flags, mask, stx);
}

VDRIVE_EXPORT int __xstat(int version, const char* path, struct stat* st)
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = nextOld<int (*)(int, const char*, struct stat*)>("__xstat");
    return real(version, path, st);
}

VDRIVE_EXPORT int __lxstat(int version, const char* path, struct stat* st)
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = nextOld<int (*)(int, const char*, struct stat*)>("__lxstat");
    return real(version, path, st);
}

VDRIVE_EXPORT int __fxstat(int version, int fd, struct stat* st)
{
    if (isDevice(fd)) {
        fillStat(st);
        return 0;
    }
    static const auto real = nextOld<int (*)(int, int, struct stat*)>("__fxstat");
    return real(version, fd, st);
}

VDRIVE_EXPORT int __fxstatat(int version, int dirfd, const char* path, struct stat* st, int flags)
{
    if (namesDevice(dirfd, path, flags)) {
        fillStat(st);
        return 0;
    }
    static const auto real =
        nextOld<int (*)(int, int, const char*, struct stat*, int)>("__fxstatat");
    return real(version, dirfd, path, st, flags);
}

VDRIVE_EXPORT int __xstat64(int version, const char* path, struct stat64* st)
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = nextOld<int (*)(int, const char*, struct stat64*)>("__xstat64");
    return real(version, path, st);
}

VDRIVE_EXPORT int __lxstat64(int version, const char* path, struct stat64* st)
{
    if (isDevicePath(path)) {
        fillStat(st);
        return 0;
    }
    static const auto real = nextOld<int (*)(int, const char*, struct stat64*)>("__lxstat64");
    return real(version, path, st);
}

VDRIVE_EXPORT int __fxstat64(int version, int fd, struct stat64* st)
{
    if (isDevice(fd)) {
        fillStat(st);
        return 0;
    }
    static const auto real = nextOld<int (*)(int, int, struct stat64*)>("__fxstat64");
    return real(version, fd, st);
}

VDRIVE_EXPORT int __fxstatat64(int version, int dirfd, const char* path, struct stat64* st,
                               int flags)
{
    if (namesDevice(dirfd, path, flags)) {
        fillStat(st);
        return 0;
    }
    static const auto real =
        nextOld<int (*)(int, int, const char*, struct stat64*, int)>("__fxstatat64");
    return real(version, dirfd, path, st, flags);
}

// ---------------------------------------------------------------------------------------------
// access and realpath: the device is there, readable and writable, and no link

VDRIVE_EXPORT int access(const char* path, int mode) noexcept
{
    if (isDevicePath(path))
        return deviceAccess(mode) ? 0 : -1;
    static const auto real = next<int (*)(const char*, int)>("access");
    return real(path, mode);
}

VDRIVE_EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) noexcept
{
    if (isDevicePath(path))
        return deviceAccess(mode) ? 0 : -1;
    static const auto real = next<int (*)(int, const char*, int, int)>("faccessat");
    return real(dirfd, path, mode, flags);
}

VDRIVE_EXPORT int euidaccess(const char* path, int mode) noexcept
{
    if (isDevicePath(path))
        return deviceAccess(mode) ? 0 : -1;
    static const auto real = next<int (*)(const char*, int)>("euidaccess");
    return real(path, mode);
}

VDRIVE_EXPORT int eaccess(const char* path, int mode) noexcept
{
    if (isDevicePath(path))
        return deviceAccess(mode) ? 0 : -1;
    static const auto real = next<int (*)(const char*, int)>("eaccess");
    return real(path, mode);
}

VDRIVE_EXPORT char* realpath(const char* path, char* resolved) noexcept
{
    if (isDevicePath(path)) {
        if (!resolved)
            return strdup(path);
        std::strncpy(resolved, path, PATH_MAX - 1);
        resolved[PATH_MAX - 1] = '\0';
        return resolved;
    }
    static const auto real = next<char* (*)(const char*, char*)>("realpath");
    return real(path, resolved);
}
