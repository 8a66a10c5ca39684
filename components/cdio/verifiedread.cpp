#include "components/cdio/verifiedread.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cstring>

namespace VerifiedRead
{
namespace
{

// Paranoia's callback carries no context of its own, so a read points the thread at its watch
// for as long as it runs.
thread_local Watch* current = nullptr;

struct WatchScope {
    explicit WatchScope(Watch* watch) { current = watch; }
    ~WatchScope() { current = nullptr; }
    WatchScope(const WatchScope&) = delete;
    WatchScope& operator=(const WatchScope&) = delete;
};

// Paranoia gives positions in 16-bit words from the disc's start.
constexpr long WordsPerSector = CDIO_CD_FRAMESIZE_RAW / 2;

void noteSuspicious(Watch& watch, int64_t sector)
{
    if (std::find(watch.suspicious.begin(), watch.suspicious.end(), sector) ==
        watch.suspicious.end())
        watch.suspicious.push_back(sector);
}

void callback(long position, paranoia_cb_mode_t mode)
{
    Watch* watch = current;
    if (!watch)
        return;
    const int64_t sector = position / WordsPerSector;
    // Paranoia reads ahead, past the track's end too; what it meets there is not the track's.
    const bool counted = sector >= watch->spanFirst && sector < watch->spanEnd;
    switch (mode) {
    case PARANOIA_CB_READERR:
        // A read of many sectors is reported where it began or broke off, which says little of
        // where the damage lies: the reader finds that sector itself when it gives up.
        if (counted)
            ++watch->reReads;
        ++watch->tries;
        if (sector >= watch->reading && (watch->firstError < 0 || sector < watch->firstError))
            watch->firstError = sector;
        if (watch->onError)
            watch->onError(*watch);
        break;
    case PARANOIA_CB_SKIP:
        if (!counted)
            break;
        ++watch->skips;
        watch->skipped = true;
        noteSuspicious(*watch, sector);
        break;
    case PARANOIA_CB_FIXUP_ATOM:
    case PARANOIA_CB_FIXUP_DROPPED:
    case PARANOIA_CB_FIXUP_DUPED:
    case PARANOIA_CB_SCRATCH:
    case PARANOIA_CB_REPAIR:
        if (!counted)
            break;
        ++watch->repairs;
        noteSuspicious(*watch, sector);
        break;
    default:
        break;
    }
}

} // namespace

Outcome readSector(cdrom_paranoia_t* paranoia, Watch& watch, int64_t sector, int maxTries,
                   char* out)
{
    watch.reading = sector;
    watch.since = std::chrono::steady_clock::now();
    watch.tries = 0;
    watch.firstError = -1;
    watch.skipped = false;
    const WatchScope watching(&watch);
    const int16_t* samples = cdio_paranoia_read_limited(paranoia, callback, maxTries);
    if (!samples || watch.skipped)
        return Outcome::Failed;
    std::memcpy(out, samples, CDIO_CD_FRAMESIZE_RAW);
    return Outcome::Read;
}

} // namespace VerifiedRead
