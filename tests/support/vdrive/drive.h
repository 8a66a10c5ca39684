#pragma once

#include "disc.h"
#include "vdrivestate.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <pthread.h>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

// The virtual CD-ROM drive: answers SCSI commands and Linux's CD-ROM ioctls for the disc named
// by TAMBREL_VDRIVE_CUE, with the faults the other TAMBREL_VDRIVE_* variables ask for.
namespace vdrive
{

struct Range {
    int64_t first = 0;
    int64_t last = 0;
};

struct Config {
    std::string cuePath;
    std::string vendor = "TAMBREL";
    std::string product = "Virtual CD";
    std::string revision = "1.00";
    std::string statePath;
    int64_t offsetSamples = 0;
    int64_t jitterSamples = 0;
    uint64_t seed = 1;
    std::vector<Range> noise;
    bool noiseFails = false;
    std::vector<Range> unreadable;
    int64_t unreadableFailures = -1; // reads touching them that fail, in each process; -1: all
    double speed = 0;                // times real speed; 0 reads as fast as it can
    size_t cacheSectors = 0;
    int64_t removeAt = -1;
    bool trace = false; // one line on standard error for each command

    // The TAMBREL_VDRIVE_* variables; values that can't be used are named in problems.
    static Config fromEnvironment(std::string& problems);
};

enum class Direction { None, ToDevice, FromDevice };

struct ScsiResult {
    bool good = true;
    uint8_t key = 0; // sense key, additional sense code and qualifier when not good
    uint8_t asc = 0;
    uint8_t ascq = 0;
    size_t transferred = 0; // bytes written to the buffer
};

// Fixed-format sense data as a drive returns it after CHECK CONDITION.
inline constexpr size_t SenseBytes = 18;
void fillSense(const ScsiResult& result, uint8_t* sense);

class Drive
{
public:
    static Drive& instance();

    // The device was opened: takes the environment's settings. Returns 0, or the errno the
    // open fails with (no disc without O_NONBLOCK, as Linux does).
    int opened(int flags);

    // One SCSI command; data goes to or from buffer.
    ScsiResult execute(const uint8_t* cdb, Direction direction, uint8_t* buffer, size_t length);

    // A Linux CD-ROM ioctl other than the SCSI pass-throughs: its result, or -1 with errno.
    int cdromIoctl(unsigned long request, void* arg);

    // read() and lseek() on the device: the data tracks' 2048-byte blocks.
    ssize_t readBlocks(int64_t& position, void* buffer, size_t length);
    int64_t blockDeviceBytes();

    // Held across fork() so that the child never inherits a half-changed drive.
    void lock() { pthread_mutex_lock(&m_mutex); }
    void unlock() { pthread_mutex_unlock(&m_mutex); }

private:
    struct Sector {
        std::vector<uint8_t> bytes; // 2352 raw bytes
        std::vector<uint8_t> c2;    // 294 bytes, one bit per byte read wrong
    };
    struct Read {
        ScsiResult result;
        int64_t freshSectors = 0; // sectors that took the drive's time
    };

    Drive() = default;

    void configure(const Config& config);
    void refresh();
    bool present();
    uint64_t discKey() const;
    SharedState& shared() { return m_shared ? *m_shared : m_local; }
    void removeDisc();
    void warn(const std::string& message);
    void trace(const char* what, unsigned long code, const uint8_t* cdb, bool good,
               const ScsiResult& result);
    static void pace(SharedState& state, int64_t sectors, double speed);

    Read readCd(int64_t lba, int64_t count, int expectedType, uint8_t fields, uint8_t* buffer,
                size_t length);
    Read readBlocks10(int64_t lba, int64_t count, uint8_t* buffer, size_t length);
    ScsiResult checkFaults(int64_t lba, int64_t count, bool& removed);
    bool readSector(int64_t lba, int64_t audioShift, uint64_t& random, Sector& sector, bool& noisy);
    const Sector* cached(int64_t lba);
    void cache(int64_t lba, const Sector& sector);

    std::vector<uint8_t> inquiry();
    std::vector<uint8_t> modePages(int page, bool& known);
    std::vector<uint8_t> toc(int format, bool msf, int start, bool& invalid);
    std::vector<uint8_t> configuration(int requestType, int start);
    std::vector<uint8_t> discInformation();
    std::vector<uint8_t> subchannel(int format, bool msf, int track);
    std::vector<uint8_t> mediaEvent();
    bool modeSelect(const uint8_t* data, size_t length, bool tenByte);

    pthread_mutex_t m_mutex = PTHREAD_MUTEX_INITIALIZER;
    Config m_config;
    std::unique_ptr<Disc> m_disc;
    FileIdentity m_failedCue;
    int64_t m_failedAtNs = 0;
    std::string m_lastWarning;
    std::string m_sharedPath;
    SharedState* m_shared = nullptr;
    SharedState m_local{};
    uint64_t m_commandSalt = 0;
    bool m_watching = false;
    uint64_t m_mediaReported = 0; // the disc CDROM_MEDIA_CHANGED last reported (0: none)
    uint64_t m_eventReported = 0; // the same for GET EVENT STATUS NOTIFICATION
    uint32_t m_blockLength = UserDataBytes;
    int64_t m_unreadableFailed = 0; // reads failed on the unreadable sectors in this process

    // With a state file the cache lives beside it, shared by every process using the drive,
    // as a real drive's cache is: one slot for each sector number modulo its size.
    struct SharedCache;
    SharedCache* sharedCache();
    SharedCache* m_sharedCache = nullptr;
    std::string m_sharedCachePath;
    Sector m_cacheHit;
    std::list<std::pair<int64_t, Sector>> m_cacheOrder; // most recent first
    std::unordered_map<int64_t, std::list<std::pair<int64_t, Sector>>::iterator> m_cacheIndex;
};

} // namespace vdrive
