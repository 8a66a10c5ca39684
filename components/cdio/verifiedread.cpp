#include "components/cdio/verifiedread.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

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

void callback(long, paranoia_cb_mode_t mode)
{
    Watch* watch = current;
    if (!watch)
        return;
    if (mode == PARANOIA_CB_READERR || mode == PARANOIA_CB_SCRATCH) {
        // Paranoia calls back for every failed read, up to 20 for each sector, and each read
        // spans many sectors ahead of the one it is after. A retry is told once for the sector
        // the read is waiting for.
        if (watch->reading == watch->lastRetry)
            return;
        watch->lastRetry = watch->reading;
        ++watch->retries;
        if (watch->retry && *watch->retry)
            (*watch->retry)(watch->retries, watch->reading);
    } else if (mode == PARANOIA_CB_SKIP) {
        watch->skipped = true;
    }
}

} // namespace

Outcome read(cdrom_paranoia_t* paranoia, Watch& watch, qint64 first, int count, char* out,
             const std::atomic<bool>* stop, int& done)
{
    done = 0;
    watch.skipped = false;
    const WatchScope watching(&watch);
    for (int s = 0; s < count; ++s) {
        if (stop && stop->load())
            return Outcome::Stopped;
        watch.reading = first + s;
        const int16_t* sector = cdio_paranoia_read_limited(paranoia, callback, MaxRetries);
        if (!sector || watch.skipped)
            return Outcome::Failed;
        std::memcpy(out + size_t(s) * CDIO_CD_FRAMESIZE_RAW, sector, CDIO_CD_FRAMESIZE_RAW);
        ++done;
    }
    return Outcome::Read;
}

} // namespace VerifiedRead
