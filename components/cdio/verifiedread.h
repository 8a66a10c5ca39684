#pragma once

#include <QtGlobal>

#include <atomic>
#include <functional>

typedef struct cdrom_paranoia_s cdrom_paranoia_t;

// Reading through libcdio-paranoia's full verification, shared by the track reader (drives)
// and the image child (.toc and .nrg images read verified on request).
namespace VerifiedRead
{

// Called when a sector needs another read: once for each sector, with the count of sectors
// retried so far.
using RetryEvent = std::function<void(int retry, qint64 sector)>;

// What paranoia's callback reports to while a read runs.
struct Watch {
    const RetryEvent* retry = nullptr;
    qint64 reading = -1;   // the sector the read waits for
    int retries = 0;       // sectors retried so far
    qint64 lastRetry = -1; // the sector reported last
    bool skipped = false;
};

// A sector still unreadable after this many tries ends the read.
constexpr int MaxRetries = 20;

enum class Outcome { Read, Stopped, Failed };

// Reads count sectors, one after the other from where paranoia stands (first is the first of
// them, for the watch), into out as 2352 bytes each. done counts the sectors read. A set stop
// flag is looked at between sectors. A sector paranoia gave up on is a failure.
Outcome read(cdrom_paranoia_t* paranoia, Watch& watch, qint64 first, int count, char* out,
             const std::atomic<bool>* stop, int& done);

} // namespace VerifiedRead
