#include "components/cdio/verifiedread.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cstring>
#include <iterator>

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

// How far paranoia searches for a match between reads at most (its MAX_SECTOR_OVERLAP), in
// sectors.
constexpr int64_t WidestSearch = 32;

void noteUnread(Watch& watch, int64_t first, int64_t end)
{
    auto& runs = watch.unread;
    auto at = std::lower_bound(runs.begin(), runs.end(), std::make_pair(first, end));
    if (at != runs.begin() && std::prev(at)->second >= first)
        --at;
    // Runs that touch the new one are merged into it.
    auto last = at;
    while (last != runs.end() && last->first <= end) {
        first = std::min(first, last->first);
        end = std::max(end, last->second);
        ++last;
    }
    at = runs.erase(at, last);
    runs.insert(at, {first, end});
}

bool nearUnread(const Watch& watch, int64_t sector)
{
    return std::any_of(watch.unread.begin(), watch.unread.end(), [&](const auto& run) {
        return sector >= run.first - WidestSearch && sector < run.second + WidestSearch;
    });
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
        noteUnread(*watch, sector, sector + std::max<int64_t>(watch->readLength, 1));
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
    case PARANOIA_CB_FIXUP_EDGE:
        // Reads matched at shifted places: a drive's jitter, fixed, and not counted. Next to a
        // failed read it is also how a steady tone gets matched whole periods off, which leaves
        // the rest of the track shifted: that is counted as a repair where it happened.
        if (!nearUnread(*watch, sector))
            break;
        watch->bridged = true;
        if (!counted)
            break;
        ++watch->repairs;
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

bool leftUnread(const Watch& watch, int64_t sector)
{
    const auto after = std::upper_bound(
        watch.unread.begin(), watch.unread.end(), sector,
        [](int64_t s, const std::pair<int64_t, int64_t>& run) { return s < run.first; });
    return after != watch.unread.begin() && sector < std::prev(after)->second;
}

void forgetUnread(Watch& watch, int64_t sector)
{
    std::erase_if(watch.unread, [sector](const std::pair<int64_t, int64_t>& run) {
        return sector >= run.first && sector < run.second;
    });
}

} // namespace VerifiedRead
