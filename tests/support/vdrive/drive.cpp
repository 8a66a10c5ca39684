#include "drive.h"

#include "libc.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <sched.h>
#include <scsi/sg.h>
#include <sys/mman.h>
#include <unistd.h>

namespace vdrive
{

namespace
{

constexpr int FramesPerSecond = 75;
constexpr int C2Bytes = SectorBytes / 8;
constexpr int64_t MaxTransferSectors = 4096;
constexpr int Mode1EdcOffset = 16 + UserDataBytes;

// Sense keys with their additional sense codes.
constexpr ScsiResult Good{};
constexpr ScsiResult NoMedium{false, 0x02, 0x3A, 0x00};
constexpr ScsiResult MediumError{false, 0x03, 0x11, 0x00};
constexpr ScsiResult InvalidCommand{false, 0x05, 0x20, 0x00};
constexpr ScsiResult LbaOutOfRange{false, 0x05, 0x21, 0x00};
constexpr ScsiResult InvalidField{false, 0x05, 0x24, 0x00};
constexpr ScsiResult InvalidParameter{false, 0x05, 0x26, 0x00};
constexpr ScsiResult SavingUnsupported{false, 0x05, 0x39, 0x00};
constexpr ScsiResult IllegalMode{false, 0x05, 0x64, 0x00};

// READ CD's expected sector types.
constexpr int AnySector = 0;
constexpr int CddaSector = 1;
constexpr int Mode1Sector = 2;
constexpr int Mode2Sector = 3;

uint64_t nextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

uint32_t be16(const uint8_t* p)
{
    return uint32_t(p[0]) << 8 | p[1];
}

uint32_t be24(const uint8_t* p)
{
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void put16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void put32(std::vector<uint8_t>& out, uint32_t value)
{
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

void set16(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    out[at] = uint8_t(value >> 8);
    out[at + 1] = uint8_t(value);
}

// A drive address as the four bytes READ TOC gives: LBA, or 0, M, S, F.
void putAddress(std::vector<uint8_t>& out, int64_t lba, bool msf)
{
    if (!msf) {
        put32(out, uint32_t(lba));
        return;
    }
    const int64_t v = lba + MsfOffset;
    out.insert(out.end(), {0, uint8_t(v / (60 * FramesPerSecond)),
                           uint8_t(v / FramesPerSecond % 60), uint8_t(v % FramesPerSecond)});
}

void setAddress(cdrom_addr& addr, int64_t lba, int format)
{
    if (format == CDROM_MSF) {
        const int64_t v = lba + MsfOffset;
        addr.msf.minute = uint8_t(v / (60 * FramesPerSecond));
        addr.msf.second = uint8_t(v / FramesPerSecond % 60);
        addr.msf.frame = uint8_t(v % FramesPerSecond);
    } else {
        addr.lba = int(lba);
    }
}

int64_t msfToLba(int m, int s, int f)
{
    return (int64_t(m) * 60 + s) * FramesPerSecond + f - MsfOffset;
}

bool overlaps(const std::vector<Range>& ranges, int64_t first, int64_t count)
{
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const Range& r) { return r.first < first + count && r.last >= first; });
}

// Environment values; a bad one is reported and left at its default.
const char* variable(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

bool parseNumber(const char* text, int64_t& value)
{
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        return false;
    value = parsed;
    return true;
}

bool parseRanges(const char* text, std::vector<Range>& ranges)
{
    std::string rest(text);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        const size_t dash = item.find('-', 1);
        Range range;
        if (!parseNumber(item.substr(0, dash).c_str(), range.first))
            return false;
        range.last = range.first;
        if (dash != std::string::npos && !parseNumber(item.substr(dash + 1).c_str(), range.last))
            return false;
        if (range.last < range.first)
            return false;
        ranges.push_back(range);
    }
    return true;
}

} // namespace

void fillSense(const ScsiResult& result, uint8_t* sense)
{
    std::memset(sense, 0, SenseBytes);
    sense[0] = 0x70; // current error, fixed format
    sense[2] = result.key;
    sense[7] = SenseBytes - 8;
    sense[12] = result.asc;
    sense[13] = result.ascq;
}

Config Config::fromEnvironment(std::string& problems)
{
    Config config;
    const auto bad = [&](const char* name, const char* value) {
        problems += std::string(problems.empty() ? "" : "; ") + "ignoring " + name + "=" + value;
    };
    const auto text = [](const char* name, std::string& out) {
        if (const char* value = variable(name))
            out = value;
    };
    const auto number = [&](const char* name, int64_t& out, int64_t min, int64_t max) {
        const char* value = variable(name);
        int64_t parsed = 0;
        if (value && (!parseNumber(value, parsed) || parsed < min || parsed > max))
            bad(name, value);
        else if (value)
            out = parsed;
    };
    const auto ranges = [&](const char* name, std::vector<Range>& out) {
        const char* value = variable(name);
        if (value && !parseRanges(value, out)) {
            out.clear();
            bad(name, value);
        }
    };

    text("TAMBREL_VDRIVE_CUE", config.cuePath);
    text("TAMBREL_VDRIVE_VENDOR", config.vendor);
    text("TAMBREL_VDRIVE_PRODUCT", config.product);
    text("TAMBREL_VDRIVE_REVISION", config.revision);
    text("TAMBREL_VDRIVE_STATE", config.statePath);
    number("TAMBREL_VDRIVE_OFFSET", config.offsetSamples, -100000, 100000);
    number("TAMBREL_VDRIVE_JITTER", config.jitterSamples, 0, 100000);
    int64_t seed = 1;
    number("TAMBREL_VDRIVE_SEED", seed, 0, INT64_MAX);
    config.seed = uint64_t(seed);
    ranges("TAMBREL_VDRIVE_NOISE", config.noise);
    int64_t noiseFails = 0;
    number("TAMBREL_VDRIVE_NOISE_EIO", noiseFails, 0, 1);
    config.noiseFails = noiseFails != 0;
    ranges("TAMBREL_VDRIVE_UNREADABLE", config.unreadable);
    number("TAMBREL_VDRIVE_UNREADABLE_FAILS", config.unreadableFailures, 0, INT64_MAX);
    if (const char* value = variable("TAMBREL_VDRIVE_SPEED")) {
        char* end = nullptr;
        const double speed = std::strtod(value, &end);
        if (*end != '\0' || !(speed > 0 && speed < 1000))
            bad("TAMBREL_VDRIVE_SPEED", value);
        else
            config.speed = speed;
    }
    int64_t cacheSectors = 0;
    number("TAMBREL_VDRIVE_CACHE", cacheSectors, 0, 1 << 20);
    config.cacheSectors = size_t(cacheSectors);
    number("TAMBREL_VDRIVE_REMOVE_AT", config.removeAt, 0, INT64_MAX);
    int64_t trace = 0;
    number("TAMBREL_VDRIVE_TRACE", trace, 0, 1);
    config.trace = trace != 0;
    return config;
}

Drive& Drive::instance()
{
    // Never destroyed: other threads may still use the drive while the program exits.
    static Drive* drive = new Drive;
    return *drive;
}

// ---------------------------------------------------------------------------------------------
// The disc, its changes and the shared state

int Drive::opened(int flags)
{
    std::string problems;
    const Config config = Config::fromEnvironment(problems);
    lock();
    if (!problems.empty())
        warn(problems);
    configure(config);
    const bool hasDisc = present();
    if (!m_watching) {
        // Changes count from the first open in this process on.
        m_watching = true;
        m_mediaReported = m_eventReported = hasDisc ? discKey() : 0;
    }
    unlock();
    return hasDisc || (flags & O_NONBLOCK) ? 0 : ENOMEDIUM;
}

void Drive::configure(const Config& config)
{
    if (config.cuePath != m_config.cuePath || config.cacheSectors != m_config.cacheSectors) {
        m_disc.reset();
        m_failedAtNs = 0;
        m_cacheOrder.clear();
        m_cacheIndex.clear();
    }
    if (config.statePath != m_sharedPath) {
        m_sharedPath = config.statePath;
        m_shared = nullptr;
        const int fd = config.statePath.empty() ? -1
                                                : libc::open(config.statePath.c_str(),
                                                             O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        struct stat st {
        };
        if (fd >= 0 && libc::fstat(fd, &st) == 0 &&
            (st.st_size >= off_t(sizeof(SharedState)) || ftruncate(fd, sizeof(SharedState)) == 0)) {
            // Mappings stay for the life of the process: other threads may be using one.
            void* map =
                mmap(nullptr, sizeof(SharedState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED) {
                auto* state = static_cast<SharedState*>(map);
                uint64_t none = 0;
                state->magic.compare_exchange_strong(none, SharedState::Magic);
                if (state->magic.load() == SharedState::Magic)
                    m_shared = state;
                else
                    munmap(map, sizeof(SharedState));
            }
        }
        if (fd >= 0)
            libc::close(fd);
        if (!config.statePath.empty() && !m_shared)
            warn("cannot use the state file " + config.statePath);
    }
    // Without a shared count, the process id keeps two processes' random numbers apart.
    m_commandSalt = m_shared ? 0 : uint64_t(getpid()) << 40;
    m_config = config;
    while (m_cacheOrder.size() > m_config.cacheSectors) {
        m_cacheIndex.erase(m_cacheOrder.back().first);
        m_cacheOrder.pop_back();
    }
}

// Loads the disc again when its cue sheet or .bin was replaced; a sheet that can't be read is
// tried again when it changes or a second later.
void Drive::refresh()
{
    FileIdentity cue;
    if (m_config.cuePath.empty() || !identify(m_config.cuePath, cue)) {
        m_disc.reset();
        return;
    }
    if (m_disc) {
        FileIdentity bin;
        if (m_disc->cueIdentity() == cue && identify(m_disc->binPath(), bin) &&
            bin == m_disc->binIdentity())
            return;
        m_disc.reset();
        m_cacheOrder.clear();
        m_cacheIndex.clear();
    }
    const int64_t now = monotonicNs();
    if (m_failedAtNs != 0 && cue == m_failedCue && now - m_failedAtNs < 1000000000)
        return;
    std::string error;
    m_disc = Disc::load(m_config.cuePath, error);
    m_failedAtNs = m_disc ? 0 : now;
    m_failedCue = cue;
    if (!m_disc)
        warn(error);
}

uint64_t Drive::discKey() const
{
    uint64_t state = 0x7461626D62726C31ULL;
    uint64_t key = 0;
    for (const FileIdentity* id : {&m_disc->cueIdentity(), &m_disc->binIdentity()})
        for (uint64_t part : {id->device, id->inode, uint64_t(id->size), uint64_t(id->mtimeNs)}) {
            state ^= part;
            key = nextRandom(state);
        }
    return key ? key : 1;
}

bool Drive::present()
{
    refresh();
    return m_disc && shared().removedDisc.load() != discKey();
}

void Drive::removeDisc()
{
    if (m_disc)
        shared().removedDisc.store(discKey());
    m_cacheOrder.clear();
    m_cacheIndex.clear();
}

void Drive::warn(const std::string& message)
{
    if (message == m_lastWarning)
        return;
    m_lastWarning = message;
    const std::string line = "tambrel_vdrive: " + message + "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

void Drive::trace(const char* what, unsigned long code, const uint8_t* cdb, bool good,
                  const ScsiResult& result)
{
    if (!m_config.trace)
        return;
    char line[160];
    int n =
        std::snprintf(line, sizeof line, "tambrel_vdrive: %d %s %#lx", int(getpid()), what, code);
    for (int i = 0; cdb && i < 12 && n < int(sizeof line) - 4; ++i)
        n += std::snprintf(line + n, sizeof line - size_t(n), "%s%02x", i ? " " : " [", cdb[i]);
    std::snprintf(line + n, sizeof line - size_t(n), "%s -> %s %x/%02x/%02x\n", cdb ? "]" : "",
                  good ? "ok" : "error", result.key, result.asc, result.ascq);
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, std::strlen(line));
}

// Takes the time a drive at the configured speed needs for the sectors, one read after the
// other across threads and (with a state file) processes. Called without the lock.
void Drive::pace(SharedState& state, int64_t sectors, double speed)
{
    if (speed <= 0 || sectors <= 0)
        return;
    const auto duration = int64_t(double(sectors) * 1e9 / (FramesPerSecond * speed));
    std::atomic<int64_t>& busy = state.busyUntilNs;
    const int64_t now = monotonicNs();
    int64_t before = busy.load();
    int64_t end = 0;
    do {
        end = std::max(before, now) + duration;
    } while (!busy.compare_exchange_weak(before, end));
    const timespec until{time_t(end / 1000000000), long(end % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// ---------------------------------------------------------------------------------------------
// Reading

ScsiResult Drive::checkFaults(int64_t lba, int64_t count, bool& removed)
{
    removed = false;
    if (m_config.removeAt >= lba && m_config.removeAt < lba + count) {
        removeDisc();
        removed = true;
        return NoMedium;
    }
    // Unreadable sectors that read after some failures are a drive's intermittent errors.
    if (overlaps(m_config.unreadable, lba, count) &&
        (m_config.unreadableFailures < 0 || m_unreadableFailed < m_config.unreadableFailures)) {
        ++m_unreadableFailed;
        return MediumError;
    }
    return Good;
}

// The shared cache file: a spin lock, the slot count, then the slots.
struct Drive::SharedCache {
    struct Slot {
        int64_t lba; // -1: empty
        uint8_t bytes[SectorBytes];
        uint8_t c2[C2Bytes];
    };
    std::atomic<uint64_t> lock;
    uint64_t slots;
    Slot slot[1];

    static size_t bytesFor(size_t slots)
    {
        return offsetof(SharedCache, slot) + slots * sizeof(Slot);
    }
    void acquire()
    {
        while (lock.exchange(1, std::memory_order_acquire) != 0)
            sched_yield();
    }
    void release() { lock.store(0, std::memory_order_release); }
};

Drive::SharedCache* Drive::sharedCache()
{
    if (!m_shared || m_config.cacheSectors == 0)
        return nullptr;
    const std::string path = m_sharedPath + ".cache";
    if (m_sharedCache && m_sharedCachePath == path && m_sharedCache->slots == m_config.cacheSectors)
        return m_sharedCache;
    m_sharedCache = nullptr;
    m_sharedCachePath = path;
    const size_t bytes = SharedCache::bytesFor(m_config.cacheSectors);
    const int fd = libc::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    struct stat st {
    };
    if (fd < 0 || libc::fstat(fd, &st) != 0) {
        if (fd >= 0)
            libc::close(fd);
        return nullptr;
    }
    // A new file is all zeros: an open lock and no slots, until the first process to take the
    // lock marks every slot empty.
    const bool fresh = st.st_size == 0;
    if (fresh && ftruncate(fd, off_t(bytes)) != 0) {
        libc::close(fd);
        return nullptr;
    }
    void* map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    libc::close(fd);
    if (map == MAP_FAILED)
        return nullptr;
    auto* cache = static_cast<SharedCache*>(map);
    cache->acquire();
    if (cache->slots == 0) {
        for (size_t i = 0; i < m_config.cacheSectors; ++i)
            cache->slot[i].lba = -1;
        cache->slots = m_config.cacheSectors;
    }
    cache->release();
    if (cache->slots != m_config.cacheSectors) {
        munmap(map, bytes);
        warn("the drive's cache file " + path + " was made for another cache size");
        return nullptr;
    }
    // Mappings stay for the life of the process: other threads may be using one.
    m_sharedCache = cache;
    return cache;
}

const Drive::Sector* Drive::cached(int64_t lba)
{
    if (SharedCache* shared = lba >= 0 ? sharedCache() : nullptr) {
        SharedCache::Slot& slot = shared->slot[size_t(lba) % shared->slots];
        shared->acquire();
        const bool hit = slot.lba == lba;
        if (hit) {
            m_cacheHit.bytes.assign(slot.bytes, slot.bytes + SectorBytes);
            m_cacheHit.c2.assign(slot.c2, slot.c2 + C2Bytes);
        }
        shared->release();
        return hit ? &m_cacheHit : nullptr;
    }
    const auto it = m_cacheIndex.find(lba);
    if (it == m_cacheIndex.end())
        return nullptr;
    m_cacheOrder.splice(m_cacheOrder.begin(), m_cacheOrder, it->second);
    return &it->second->second;
}

void Drive::cache(int64_t lba, const Sector& sector)
{
    if (m_config.cacheSectors == 0)
        return;
    if (SharedCache* shared = lba >= 0 ? sharedCache() : nullptr) {
        SharedCache::Slot& slot = shared->slot[size_t(lba) % shared->slots];
        shared->acquire();
        slot.lba = lba;
        std::memcpy(slot.bytes, sector.bytes.data(), SectorBytes);
        std::memcpy(slot.c2, sector.c2.data(), std::min<size_t>(C2Bytes, sector.c2.size()));
        shared->release();
        return;
    }
    if (const auto it = m_cacheIndex.find(lba); it != m_cacheIndex.end()) {
        m_cacheOrder.erase(it->second);
        m_cacheIndex.erase(it);
    }
    m_cacheOrder.emplace_front(lba, sector);
    m_cacheIndex[lba] = m_cacheOrder.begin();
    while (m_cacheOrder.size() > m_config.cacheSectors) {
        m_cacheIndex.erase(m_cacheOrder.back().first);
        m_cacheOrder.pop_back();
    }
}

// One sector as the drive reads it now: audio shifted by the read offset and this command's
// jitter, data sectors as they are; sectors in a noisy range get a few bits flipped.
bool Drive::readSector(int64_t lba, int64_t audioShift, uint64_t& random, Sector& sector,
                       bool& noisy)
{
    const Track* track = m_disc->trackAt(lba);
    sector.bytes.resize(SectorBytes);
    sector.c2.assign(C2Bytes, 0);
    const int64_t pos = lba * SectorBytes + (track->audio ? audioShift : 0);
    if (!m_disc->read(pos, sector.bytes.data(), SectorBytes))
        return false;
    noisy = overlaps(m_config.noise, lba, 1);
    if (noisy) {
        const int flips = 1 + int(nextRandom(random) % 16);
        for (int i = 0; i < flips; ++i) {
            const uint64_t bit = nextRandom(random) % (SectorBytes * 8);
            const size_t byte = size_t(bit / 8);
            sector.bytes[byte] ^= uint8_t(1u << (bit % 8));
            sector.c2[byte / 8] |= uint8_t(0x80u >> (byte % 8));
        }
    }
    return true;
}

// READ CD: count sectors from lba, each formatted as the main channel selection bits (fields)
// ask; sector types checked against expectedType.
Drive::Read Drive::readCd(int64_t lba, int64_t count, int expectedType, uint8_t fields,
                          uint8_t* buffer, size_t length)
{
    Read read;
    const uint64_t command = shared().readCommands.fetch_add(1);
    const auto fail = [&](const ScsiResult& result) {
        shared().failedReads.fetch_add(1);
        read.result = result;
        return read;
    };
    if (!present())
        return fail(NoMedium);
    if (count < 0 || count > MaxTransferSectors)
        return fail(InvalidField);
    for (int64_t i = 0; i < count; ++i) {
        const Track* track = m_disc->trackAt(lba + i);
        if (!track)
            return fail(LbaOutOfRange);
        const bool expected =
            expectedType == AnySector ||
            (expectedType == CddaSector ? track->audio
                                        : track->dataMode == (expectedType == Mode1Sector ? 1 : 2));
        if (!expected)
            return fail(IllegalMode);
    }
    bool removed = false;
    if (const ScsiResult fault = checkFaults(lba, count, removed); !fault.good) {
        read.freshSectors = removed ? 0 : count;
        return fail(fault);
    }

    uint64_t random = m_config.seed * 0x9E3779B97F4A7C15ULL ^ (command + m_commandSalt);
    nextRandom(random);
    const int64_t span = 2 * m_config.jitterSamples + 1;
    const int64_t jitter = m_config.jitterSamples ? int64_t(nextRandom(random) % uint64_t(span)) -
                                                        m_config.jitterSamples
                                                  : 0;
    const int64_t audioShift = 4 * (jitter - m_config.offsetSamples);

    std::vector<Sector> sectors(static_cast<size_t>(count));
    std::vector<bool> fresh(static_cast<size_t>(count), false);
    bool noisy = false;
    for (int64_t i = 0; i < count; ++i) {
        if (const Sector* hit = cached(lba + i)) {
            sectors[size_t(i)] = *hit;
            continue;
        }
        bool sectorNoisy = false;
        if (!readSector(lba + i, audioShift, random, sectors[size_t(i)], sectorNoisy))
            return fail(MediumError);
        fresh[size_t(i)] = true;
        noisy = noisy || sectorNoisy;
        ++read.freshSectors;
    }
    const bool failing = noisy && m_config.noiseFails;

    // Lay the sectors out as asked: for audio any of the main channel bits gives all 2352
    // bytes; data sectors give the parts asked for; then C2 error bits.
    size_t at = 0;
    const auto put = [&](const uint8_t* data, size_t bytes) {
        const size_t n = std::min(bytes, length - std::min(length, at));
        if (n > 0)
            std::memcpy(buffer + at, data, n);
        at += bytes;
    };
    const int c2Field = (fields >> 1) & 3;
    for (int64_t i = 0; i < count; ++i) {
        const Sector& sector = sectors[size_t(i)];
        const Track* track = m_disc->trackAt(lba + i);
        const uint8_t* raw = sector.bytes.data();
        if (track->audio) {
            if (fields & 0xF8)
                put(raw, SectorBytes);
        } else {
            if (fields & 0x80)
                put(raw, 12);
            if ((fields >> 5) & 1)
                put(raw + 12, 4);
            if (fields & 0x10)
                put(raw + 16, track->dataMode == 1 ? UserDataBytes : SectorBytes - 16);
            if ((fields & 0x08) && track->dataMode == 1)
                put(raw + Mode1EdcOffset, SectorBytes - Mode1EdcOffset);
        }
        if (c2Field != 0) {
            put(sector.c2.data(), C2Bytes);
            if (c2Field == 2) {
                uint8_t any = 0;
                for (uint8_t bits : sector.c2)
                    any |= bits;
                const uint8_t blockError[2] = {any, 0};
                put(blockError, 2);
            }
        }
        if (fresh[size_t(i)] && !failing)
            cache(lba + i, sector);
    }
    read.result.transferred = std::min(at, length);
    if (failing) {
        const size_t transferred = read.result.transferred;
        fail(MediumError);
        read.result.transferred = transferred;
        return read;
    }
    shared().sectorsServed.fetch_add(uint64_t(count));
    return read;
}

// READ(10)/(12): data sectors in the block length MODE SELECT set (2048 by default).
Drive::Read Drive::readBlocks10(int64_t lba, int64_t count, uint8_t* buffer, size_t length)
{
    Read read;
    if (!present()) {
        read.result = NoMedium;
        return read;
    }
    if (count > MaxTransferSectors) {
        read.result = InvalidField;
        return read;
    }
    for (int64_t i = 0; i < count; ++i) {
        const Track* track = m_disc->trackAt(lba + i);
        if (!track) {
            read.result = LbaOutOfRange;
            return read;
        }
        if (track->audio) {
            read.result = IllegalMode;
            return read;
        }
    }
    bool removed = false;
    if (const ScsiResult fault = checkFaults(lba, count, removed); !fault.good) {
        read.result = fault;
        read.freshSectors = removed ? 0 : count;
        return read;
    }
    size_t at = 0;
    uint8_t raw[SectorBytes];
    for (int64_t i = 0; i < count && at < length; ++i) {
        if (!m_disc->read((lba + i) * SectorBytes, raw, SectorBytes)) {
            read.result = MediumError;
            return read;
        }
        const size_t from = m_blockLength == SectorBytes ? 0 : 16;
        const size_t bytes = std::min<size_t>(m_blockLength, length - at);
        std::memcpy(buffer + at, raw + from, std::min<size_t>(bytes, SectorBytes - from));
        at += bytes;
    }
    read.freshSectors = count;
    read.result.transferred = at;
    return read;
}

ssize_t Drive::readBlocks(int64_t& position, void* buffer, size_t length)
{
    lock();
    const bool hasDisc = present();
    const double speed = m_config.speed;
    size_t done = 0;
    int error = hasDisc ? 0 : ENOMEDIUM;
    int64_t sectors = 0;
    uint8_t raw[SectorBytes];
    while (!error && done < length) {
        const int64_t lba = position / UserDataBytes;
        const Track* track = m_disc->trackAt(lba);
        bool removed = false;
        if (!track || track->audio) {
            error = EIO;
            break;
        }
        if (const ScsiResult fault = checkFaults(lba, 1, removed); !fault.good) {
            error = removed ? ENOMEDIUM : EIO;
            break;
        }
        if (!m_disc->read(lba * SectorBytes, raw, SectorBytes)) {
            error = EIO;
            break;
        }
        const size_t within = size_t(position % UserDataBytes);
        const size_t bytes = std::min(length - done, size_t(UserDataBytes) - within);
        std::memcpy(static_cast<uint8_t*>(buffer) + done, raw + 16 + within, bytes);
        done += bytes;
        position += int64_t(bytes);
        ++sectors;
    }
    SharedState& state = shared();
    unlock();
    pace(state, sectors, speed);
    if (done == 0 && error) {
        errno = error;
        return -1;
    }
    return ssize_t(done);
}

int64_t Drive::blockDeviceBytes()
{
    lock();
    const int64_t bytes = present() ? m_disc->leadOut() * UserDataBytes : 0;
    unlock();
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// What the drive tells about itself and the disc

std::vector<uint8_t> Drive::inquiry()
{
    std::vector<uint8_t> data = {0x05, 0x80, 0x05, 0x32, 31, 0, 0, 0};
    const auto field = [&](const std::string& text, size_t width) {
        for (size_t i = 0; i < width; ++i)
            data.push_back(i < text.size() ? uint8_t(text[i]) : uint8_t(' '));
    };
    field(m_config.vendor, 8);
    field(m_config.product, 16);
    field(m_config.revision, 4);
    return data;
}

std::vector<uint8_t> Drive::modePages(int page, bool& known)
{
    known = true;
    const bool all = page == 0x3F;
    std::vector<uint8_t> pages;
    if (all || page == 0x01) // read/write error recovery: retries
        pages.insert(pages.end(), {0x01, 0x0A, 0x00, 0x05, 0, 0, 0, 0, 0x05, 0, 0, 0});
    if (all || page == 0x0E) // CD audio control: both channels at full volume
        pages.insert(pages.end(),
                     {0x0E, 0x0E, 0x04, 0, 0, 0, 0, 0, 0x01, 0xFF, 0x02, 0xFF, 0, 0, 0, 0});
    if (all || page == 0x2A) {
        // Capabilities: reads CD-DA (accurately unless jitter is set), C2 pointers, ISRC, UPC,
        // multisession; a tray that locks and ejects.
        const auto kbs = uint32_t(176 * (m_config.speed > 0 ? m_config.speed : 48));
        const uint8_t accurate = m_config.jitterSamples == 0 ? 0x02 : 0x00;
        std::vector<uint8_t> caps = {0x2A, 0x14, 0x00, 0x00, 0x71, uint8_t(0x71 | accurate),
                                     0x29, 0x03};
        put16(caps, std::min<uint32_t>(kbs, 0xFFFF));
        put16(caps, 256);
        put16(caps, 2048);
        put16(caps, std::min<uint32_t>(kbs, 0xFFFF));
        caps.resize(22, 0);
        pages.insert(pages.end(), caps.begin(), caps.end());
    }
    known = !pages.empty();
    return pages;
}

// MODE SELECT: only the block length of READ (10) can be changed, to 2048, 2336 or 2352.
bool Drive::modeSelect(const uint8_t* data, size_t length, bool tenByte)
{
    const size_t header = tenByte ? 8 : 4;
    if (length < header)
        return length == 0;
    const size_t descriptors = tenByte ? be16(data + 6) : data[3];
    if (descriptors < 8 || length < header + 8)
        return true;
    const uint32_t block = be24(data + header + 5);
    if (block != UserDataBytes && block != SectorBytes && block != 2336)
        return false;
    m_blockLength = block;
    return true;
}

std::vector<uint8_t> Drive::toc(int format, bool msf, int start, bool& invalid)
{
    invalid = false;
    const std::vector<Track>& tracks = m_disc->tracks();
    const std::vector<Session>& sessions = m_disc->sessions();
    std::vector<uint8_t> data = {0, 0, 0, 0};
    const auto adrControl = [](const Track& t) { return uint8_t(0x10 | t.control); };
    switch (format) {
    case 0: { // the TOC: tracks from start on, then the lead-out
        data[2] = uint8_t(tracks.front().number);
        data[3] = uint8_t(tracks.back().number);
        if (start > tracks.back().number && start != 0xAA) {
            invalid = true;
            return {};
        }
        for (const Track& track : tracks) {
            if (track.number < start)
                continue;
            data.insert(data.end(), {0, adrControl(track), uint8_t(track.number), 0});
            putAddress(data, track.start, msf);
        }
        data.insert(data.end(), {0, adrControl(tracks.back()), 0xAA, 0});
        putAddress(data, m_disc->leadOut(), msf);
        break;
    }
    case 1: { // sessions: the first track of the last one
        const Track& first = tracks[size_t(sessions.back().firstTrack)];
        data[2] = 1;
        data[3] = uint8_t(sessions.back().number);
        data.insert(data.end(), {0, adrControl(first), uint8_t(first.number), 0});
        putAddress(data, first.start, msf);
        break;
    }
    case 2: { // the full TOC: each session's A0, A1, A2 and track points
        data[2] = 1;
        data[3] = uint8_t(sessions.back().number);
        const auto point = [&](const Session& s, uint8_t adrCtl, uint8_t pointNumber, int64_t lba,
                               uint8_t pm, uint8_t ps) {
            const int64_t v = lba + MsfOffset;
            data.insert(data.end(), {uint8_t(s.number), adrCtl, 0, pointNumber, 0, 0, 0, 0});
            if (lba >= 0)
                data.insert(data.end(), {uint8_t(v / 4500), uint8_t(v / 75 % 60), uint8_t(v % 75)});
            else
                data.insert(data.end(), {pm, ps, 0});
        };
        for (size_t si = 0; si < sessions.size(); ++si) {
            const Session& s = sessions[si];
            const Track& first = tracks[size_t(s.firstTrack)];
            const Track& last = tracks[size_t(s.lastTrack)];
            bool xa = false;
            for (int t = s.firstTrack; t <= s.lastTrack; ++t)
                xa = xa || tracks[size_t(t)].dataMode == 2;
            point(s, adrControl(first), 0xA0, -1, uint8_t(first.number), xa ? 0x20 : 0x00);
            point(s, adrControl(last), 0xA1, -1, uint8_t(last.number), 0);
            point(s, adrControl(last), 0xA2, s.leadOut, 0, 0);
            for (int t = s.firstTrack; t <= s.lastTrack; ++t)
                point(s, adrControl(tracks[size_t(t)]), uint8_t(tracks[size_t(t)].number),
                      tracks[size_t(t)].start, 0, 0);
            if (si + 1 < sessions.size()) {
                // B0: where the next session's program area starts.
                const int64_t next = tracks[size_t(sessions[si + 1].firstTrack)].start + MsfOffset;
                data.insert(data.end(), {uint8_t(s.number), 0x50, 0, 0xB0, uint8_t(next / 4500),
                                         uint8_t(next / 75 % 60), uint8_t(next % 75),
                                         uint8_t(sessions.size() - si - 1), 79, 59, 74});
            }
        }
        break;
    }
    case 5: // CD-Text: none on this disc
        break;
    default:
        invalid = true;
        return {};
    }
    set16(data, 0, uint32_t(data.size() - 2));
    return data;
}

std::vector<uint8_t> Drive::configuration(int requestType, int start)
{
    const bool hasDisc = present();
    struct Feature {
        uint16_t code;
        uint8_t flags; // version << 2 | persistent << 1 | current
        std::vector<uint8_t> body;
    };
    const uint8_t current = hasDisc ? 1 : 0;
    const std::vector<Feature> features = {
        {0x0000, 0x03, {0x00, 0x08, current, 0}}, // profile list: CD-ROM
        {0x0001, 0x0B, {0, 0, 0, 1, 0, 0, 0, 0}}, // core: SCSI
        {0x0002, 0x07, {0x02, 0, 0, 0}},          // morphing: operational change events
        {0x0003, 0x03, {0x29, 0, 0, 0}},          // removable medium: tray, eject, lock
        {0x0010, uint8_t(0x00 | current), {0, 0, 0x08, 0, 0, 1, 0, 0}}, // random readable
        {0x001D, current, {}},                                          // multi-read
        {0x001E, uint8_t(0x08 | current), {0x02, 0, 0, 0}},             // CD read: C2 flags
    };
    std::vector<uint8_t> data = {0, 0, 0, 0, 0, 0, 0, uint8_t(hasDisc ? 0x08 : 0x00)};
    for (const Feature& f : features) {
        const bool wanted = requestType == 2
                                ? f.code == start
                                : f.code >= start && (requestType == 0 || (f.flags & 1));
        if (!wanted)
            continue;
        put16(data, f.code);
        data.push_back(f.flags);
        data.push_back(uint8_t(f.body.size()));
        data.insert(data.end(), f.body.begin(), f.body.end());
    }
    const uint32_t length = uint32_t(data.size() - 4);
    data[0] = uint8_t(length >> 24);
    data[1] = uint8_t(length >> 16);
    set16(data, 2, length & 0xFFFF);
    return data;
}

std::vector<uint8_t> Drive::discInformation()
{
    const std::vector<Session>& sessions = m_disc->sessions();
    const std::vector<Track>& tracks = m_disc->tracks();
    std::vector<uint8_t> data(34, 0);
    set16(data, 0, 32);
    data[2] = 0x0E; // last session complete, disc complete
    data[3] = uint8_t(tracks.front().number);
    data[4] = uint8_t(sessions.size());
    data[5] = uint8_t(tracks[size_t(sessions.back().firstTrack)].number);
    data[6] = uint8_t(tracks.back().number);
    data[7] = 0x20; // unrestricted use
    for (size_t i = 16; i < 24; ++i)
        data[i] = 0xFF; // no next session can be written
    return data;
}

std::vector<uint8_t> Drive::subchannel(int format, bool msf, int trackNumber)
{
    // No audio is playing. The catalogue number and a track's ISRC come as the sheet gives them,
    // with their valid bit (byte 8) set.
    std::vector<uint8_t> data = {0, 0x15, 0, 0};
    const Track& first = m_disc->tracks().front();
    if (format == 1) {
        data.insert(data.end(), {1, uint8_t(0x10 | first.control), uint8_t(first.number), 1});
        putAddress(data, 0, msf);
        putAddress(data, msf ? -MsfOffset : 0, msf);
    } else if (format == 2 || format == 3) {
        const Track* track = format == 3 ? m_disc->trackNumbered(trackNumber) : &first;
        data.push_back(uint8_t(format));
        data.push_back(format == 3 && track ? uint8_t(0x10 | track->control) : 0);
        data.push_back(format == 3 ? uint8_t(trackNumber) : 0);
        data.resize(24, 0);
        const std::string& code =
            format == 2 ? m_disc->catalog() : (track ? track->isrc : std::string());
        if (!code.empty()) {
            data[8] = 0x80;
            std::memcpy(data.data() + 9, code.data(), std::min<size_t>(code.size(), 13));
        }
    }
    set16(data, 2, uint32_t(data.size() - 4));
    return data;
}

std::vector<uint8_t> Drive::mediaEvent()
{
    const bool hasDisc = present();
    const uint64_t now = hasDisc ? discKey() : 0;
    uint8_t event = 0;
    if (now != m_eventReported) {
        event = hasDisc ? 2 : 3; // new media, media removal
        m_eventReported = now;
    }
    return {0, 6, 0x04, 0x10, event, uint8_t(hasDisc ? 0x02 : 0x00), 0, 0};
}

// ---------------------------------------------------------------------------------------------
// Commands

ScsiResult Drive::execute(const uint8_t* cdb, Direction direction, uint8_t* buffer, size_t length)
{
    if (!buffer || direction == Direction::None)
        length = 0;
    lock();
    ScsiResult result;
    std::vector<uint8_t> data;
    size_t allocation = length;
    int64_t paceSectors = 0;
    const double speed = m_config.speed;
    const auto needDisc = [&] {
        if (present())
            return true;
        result = NoMedium;
        return false;
    };

    switch (cdb[0]) {
    case 0x00: // TEST UNIT READY
        needDisc();
        break;
    case 0x03: { // REQUEST SENSE
        data.resize(SenseBytes);
        fillSense(present() ? Good : NoMedium, data.data());
        allocation = cdb[4];
        break;
    }
    case 0x12: // INQUIRY
        if (cdb[1] & 1)
            result = InvalidField;
        else
            data = inquiry();
        allocation = be16(cdb + 3);
        break;
    case 0x1A:   // MODE SENSE (6)
    case 0x5A: { // MODE SENSE (10)
        const bool ten = cdb[0] == 0x5A;
        const int control = cdb[2] >> 6;
        bool known = false;
        std::vector<uint8_t> pages = modePages(cdb[2] & 0x3F, known);
        if (control == 3) {
            result = SavingUnsupported;
            break;
        }
        if (!known) {
            result = InvalidField;
            break;
        }
        if (control == 1) // nothing is changeable
            for (size_t p = 0; p < pages.size(); p += size_t(pages[p + 1]) + 2)
                std::fill(pages.begin() + long(p) + 2, pages.begin() + long(p + pages[p + 1] + 2),
                          0);
        if (ten) {
            data = {0, 0, 0, 0, 0, 0, 0, 0};
        } else {
            const bool descriptor = !(cdb[1] & 0x08);
            data = {0, 0, 0, uint8_t(descriptor ? 8 : 0)};
            if (descriptor)
                data.insert(data.end(), {0, 0, 0, 0, 0, uint8_t(m_blockLength >> 16),
                                         uint8_t(m_blockLength >> 8), uint8_t(m_blockLength)});
        }
        data.insert(data.end(), pages.begin(), pages.end());
        if (ten)
            set16(data, 0, uint32_t(data.size() - 2));
        else
            data[0] = uint8_t(data.size() - 1);
        allocation = ten ? be16(cdb + 7) : cdb[4];
        break;
    }
    case 0x15: // MODE SELECT (6)
    case 0x55: // MODE SELECT (10)
        if (direction == Direction::ToDevice && !modeSelect(buffer, length, cdb[0] == 0x55))
            result = InvalidParameter;
        break;
    case 0x1B: // START STOP UNIT: an eject takes the disc out
        if ((cdb[4] & 0x03) == 0x02 && present())
            removeDisc();
        break;
    case 0x1E: // PREVENT ALLOW MEDIUM REMOVAL
    case 0xB6: // SET STREAMING
    case 0xBB: // SET CD SPEED
        break;
    case 0x25: // READ CAPACITY
        if (needDisc()) {
            put32(data, uint32_t(m_disc->leadOut() - 1));
            put32(data, UserDataBytes);
        }
        break;
    case 0x28:   // READ (10)
    case 0xA8: { // READ (12)
        const int64_t lba = int32_t(be32(cdb + 2));
        const int64_t count = cdb[0] == 0x28 ? be16(cdb + 7) : be32(cdb + 6);
        const Read read = readBlocks10(lba, count, buffer, length);
        result = read.result;
        paceSectors = read.freshSectors;
        break;
    }
    case 0x42: // READ SUB-CHANNEL
        if (needDisc()) {
            const int format = (cdb[2] & 0x40) ? cdb[3] : 0;
            if (format > 3)
                result = InvalidField;
            else
                data = subchannel(format, cdb[1] & 0x02, cdb[6]);
        }
        allocation = be16(cdb + 7);
        break;
    case 0x43: // READ TOC/PMA/ATIP
        if (needDisc()) {
            int format = cdb[2] & 0x0F;
            if (format == 0)
                format = cdb[9] >> 6;
            bool invalid = false;
            data = toc(format, cdb[1] & 0x02, cdb[6], invalid);
            if (invalid)
                result = InvalidField;
        }
        allocation = be16(cdb + 7);
        break;
    case 0x46: // GET CONFIGURATION
        if ((cdb[1] & 3) == 3)
            result = InvalidField;
        else
            data = configuration(cdb[1] & 3, int(be16(cdb + 2)));
        allocation = be16(cdb + 7);
        break;
    case 0x4A: // GET EVENT STATUS NOTIFICATION, polled only
        if (!(cdb[1] & 1))
            result = InvalidField;
        else if (cdb[4] & 0x10)
            data = mediaEvent();
        else
            data = {0, 2, 0x80, 0x10};
        allocation = be16(cdb + 7);
        break;
    case 0x51: // READ DISC INFORMATION
        if (cdb[1] & 0x07)
            result = InvalidField;
        else if (needDisc())
            data = discInformation();
        allocation = be16(cdb + 7);
        break;
    case 0xB9:   // READ CD MSF
    case 0xBE: { // READ CD
        int64_t lba = int32_t(be32(cdb + 2));
        int64_t count = be24(cdb + 6);
        if (cdb[0] == 0xB9) {
            lba = msfToLba(cdb[3], cdb[4], cdb[5]);
            count = msfToLba(cdb[6], cdb[7], cdb[8]) - lba;
        }
        if (cdb[10] & 0x07) { // sub-channel data is not offered
            result = InvalidField;
            break;
        }
        const Read read = readCd(lba, count, (cdb[1] >> 2) & 0x07, cdb[9], buffer, length);
        result = read.result;
        paceSectors = read.freshSectors;
        break;
    }
    default:
        result = InvalidCommand;
        break;
    }

    if (result.good && !data.empty()) {
        result.transferred = std::min({data.size(), allocation, length});
        std::memcpy(buffer, data.data(), result.transferred);
    }
    trace("scsi", cdb[0], cdb, result.good, result);
    SharedState& state = shared();
    unlock();
    pace(state, paceSectors, speed);
    return result;
}

int Drive::cdromIoctl(unsigned long request, void* arg)
{
    lock();
    int error = 0;
    int value = 0;
    int64_t paceSectors = 0;
    const double speed = m_config.speed;
    const bool hasDisc = present();
    const auto needDisc = [&] {
        if (!hasDisc)
            error = ENOMEDIUM;
        return hasDisc;
    };
    const auto readLba = [&](const cdrom_msf0& msf) {
        return msfToLba(msf.minute, msf.second, msf.frame);
    };

    switch (request) {
    case CDROM_GET_CAPABILITY:
        value = CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MULTI_SESSION |
                CDC_MCN | CDC_MEDIA_CHANGED | CDC_PLAY_AUDIO | CDC_RESET | CDC_DRIVE_STATUS |
                CDC_GENERIC_PACKET;
        break;
    case CDROM_DRIVE_STATUS:
        value = hasDisc ? CDS_DISC_OK : CDS_NO_DISC;
        break;
    case CDROM_DISC_STATUS:
        if (!hasDisc)
            value = CDS_NO_DISC;
        else if (m_disc->hasAudio() && m_disc->hasData())
            value = CDS_MIXED;
        else
            value = m_disc->hasAudio() ? CDS_AUDIO : CDS_DATA_1;
        break;
    case CDROM_MEDIA_CHANGED: {
        const uint64_t now = hasDisc ? discKey() : 0;
        value = now != m_mediaReported ? 1 : 0;
        m_mediaReported = now;
        break;
    }
    case CDROMREADTOCHDR:
        if (needDisc()) {
            auto* header = static_cast<cdrom_tochdr*>(arg);
            header->cdth_trk0 = uint8_t(m_disc->tracks().front().number);
            header->cdth_trk1 = uint8_t(m_disc->tracks().back().number);
        }
        break;
    case CDROMREADTOCENTRY:
        if (needDisc()) {
            auto* entry = static_cast<cdrom_tocentry*>(arg);
            const Track* track = entry->cdte_track == CDROM_LEADOUT
                                     ? &m_disc->tracks().back()
                                     : m_disc->trackNumbered(entry->cdte_track);
            if (entry->cdte_format != CDROM_MSF && entry->cdte_format != CDROM_LBA)
                error = EINVAL;
            else if (!track)
                error = EIO;
            else {
                const int64_t lba =
                    entry->cdte_track == CDROM_LEADOUT ? m_disc->leadOut() : track->start;
                entry->cdte_adr = 1;
                entry->cdte_ctrl = track->control & 0x0F;
                entry->cdte_datamode = track->audio ? 0 : 1;
                setAddress(entry->cdte_addr, lba, entry->cdte_format);
            }
        }
        break;
    case CDROMMULTISESSION:
        if (needDisc()) {
            auto* ms = static_cast<cdrom_multisession*>(arg);
            const Session& last = m_disc->sessions().back();
            const int64_t lba =
                last.number > 1 ? m_disc->tracks()[size_t(last.firstTrack)].start : 0;
            if (ms->addr_format != CDROM_MSF && ms->addr_format != CDROM_LBA)
                error = EINVAL;
            else {
                ms->xa_flag = lba > 0 ? 1 : 0;
                setAddress(ms->addr, lba, ms->addr_format);
            }
        }
        break;
    case CDROM_GET_MCN:
        if (needDisc()) {
            auto* mcn = static_cast<cdrom_mcn*>(arg);
            std::memset(mcn, 0, sizeof(cdrom_mcn));
            std::memcpy(mcn->medium_catalog_number, m_disc->catalog().data(),
                        std::min<size_t>(m_disc->catalog().size(), 13));
        }
        break;
    case CDROMSUBCHNL:
        if (needDisc()) {
            auto* sub = static_cast<cdrom_subchnl*>(arg);
            const Track& first = m_disc->tracks().front();
            sub->cdsc_audiostatus = CDROM_AUDIO_NO_STATUS;
            sub->cdsc_adr = 1;
            sub->cdsc_ctrl = first.control & 0x0F;
            sub->cdsc_trk = uint8_t(first.number);
            sub->cdsc_ind = 1;
            setAddress(sub->cdsc_absaddr, 0, sub->cdsc_format);
            setAddress(sub->cdsc_reladdr, 0, sub->cdsc_format);
        }
        break;
    case CDROMREADAUDIO: {
        auto* ra = static_cast<cdrom_read_audio*>(arg);
        int64_t lba = 0;
        if (ra->addr_format == CDROM_MSF)
            lba = readLba(ra->addr.msf);
        else if (ra->addr_format == CDROM_LBA)
            lba = ra->addr.lba;
        if ((ra->addr_format != CDROM_MSF && ra->addr_format != CDROM_LBA) || lba < 0 ||
            ra->nframes <= 0 || ra->nframes > CD_FRAMES) {
            error = EINVAL;
            break;
        }
        const Read read =
            readCd(lba, ra->nframes, CddaSector, 0x10, ra->buf, size_t(ra->nframes) * SectorBytes);
        paceSectors = read.freshSectors;
        if (!read.result.good)
            error = read.result.key == NoMedium.key ? ENOMEDIUM : EIO;
        break;
    }
    case CDROMREADRAW:
    case CDROMREADMODE1:
    case CDROMREADMODE2: {
        const int64_t lba = readLba(*static_cast<cdrom_msf0*>(arg));
        const bool raw = request == CDROMREADRAW;
        const bool mode1 = request == CDROMREADMODE1;
        const size_t bytes = raw ? SectorBytes : (mode1 ? UserDataBytes : SectorBytes - 16);
        const int type = raw ? AnySector : (mode1 ? Mode1Sector : Mode2Sector);
        const Read read =
            readCd(lba, 1, type, raw ? 0xF8 : 0x10, static_cast<uint8_t*>(arg), bytes);
        paceSectors = read.freshSectors;
        if (!read.result.good)
            error = read.result.key == NoMedium.key ? ENOMEDIUM : EIO;
        break;
    }
    case CDROMVOLREAD: {
        auto* volume = static_cast<cdrom_volctrl*>(arg);
        volume->channel0 = volume->channel1 = volume->channel2 = volume->channel3 = 0xFF;
        break;
    }
    case CDROMEJECT:
        if (hasDisc)
            removeDisc();
        break;
    case CDROM_SET_OPTIONS:
    case CDROM_CLEAR_OPTIONS:
        value = CDO_AUTO_CLOSE | CDO_USE_FFLAGS | CDO_LOCK;
        break;
    case CDROMCLOSETRAY:
    case CDROM_LOCKDOOR:
    case CDROM_SELECT_SPEED:
    case CDROMSTART:
    case CDROMSTOP:
    case CDROMPAUSE:
    case CDROMRESUME:
    case CDROMPLAYMSF:
    case CDROMPLAYTRKIND:
    case CDROMVOLCTRL:
    case CDROMRESET:
        break;
    case SG_GET_VERSION_NUM:
        *static_cast<int*>(arg) = 30527;
        break;
    case SG_EMULATED_HOST:
        *static_cast<int*>(arg) = 0;
        break;
    case 0x5382: // SCSI_IOCTL_GET_IDLUN: host 7, channel 0, target 0, lun 0
        static_cast<int*>(arg)[0] = 7 << 24;
        static_cast<int*>(arg)[1] = 7;
        break;
    case 0x5386: // SCSI_IOCTL_GET_BUS_NUMBER
        *static_cast<int*>(arg) = 7;
        break;
    case BLKSSZGET:
        *static_cast<int*>(arg) = UserDataBytes;
        break;
    case BLKGETSIZE64:
        *static_cast<uint64_t*>(arg) = hasDisc ? uint64_t(m_disc->leadOut()) * UserDataBytes : 0;
        break;
    case DVD_READ_STRUCT:
    case DVD_AUTH:
    case DVD_WRITE_STRUCT:
        error = ENOSYS; // a CD-ROM drive, not a DVD drive
        break;
    default:
        // Unknown CD-ROM requests are refused as the driver does; anything else is no ioctl
        // of a block device at all.
        error = ((request >> 8) & 0xFF) == 0x53 ? EINVAL : ENOTTY;
        break;
    }
    trace("ioctl", request, nullptr, error == 0, {false, 0, 0, uint8_t(error)});
    SharedState& state = shared();
    unlock();
    pace(state, paceSectors, speed);
    if (error) {
        errno = error;
        return -1;
    }
    return value;
}

} // namespace vdrive
