#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

typedef struct cdrom_paranoia_s cdrom_paranoia_t;

// Reading through libcdio-paranoia's full verification, in the reader process (drives, and .toc
// and .nrg images read verified on request), with what paranoia reports along the way counted.
namespace VerifiedRead
{

// What paranoia's callback reports to while a read runs.
struct Watch {
    int64_t reading = -1; // the sector the read waits for
    // What is counted: the sectors of the track being read.
    int64_t spanFirst = 0;
    int64_t spanEnd = INT64_MAX;
    std::chrono::steady_clock::time_point since; // when the wait for it began
    int tries = 0;                               // failed reads while waiting for it
    // The first sector at or after the one awaited that paranoia could not read.
    int64_t firstError = -1;
    bool skipped = false;
    // Sectors paranoia asks the drive for in one read: a read that fails leaves at most this many
    // unread from where paranoia reports it.
    int64_t readLength = 1;
    // What failed reads left unread, as runs [first, end) in order, for as long as the watch
    // lives: paranoia may fill those sectors in from other reads without reading them again.
    std::vector<std::pair<int64_t, int64_t>> unread;
    // Whether paranoia matched reads at shifted places beside what a failed read left unread:
    // what it hands out from there on may be shifted, until a fresh read takes over.
    bool bridged = false;
    // Counted until the owner takes them.
    int reReads = 0;
    int repairs = 0;
    int skips = 0;
    std::vector<int64_t> suspicious; // sectors, each once, in the order met
    // Called after each failed read, with the watch: it may end the process (a sector that takes
    // too long, a disc that has gone), since paranoia can't be interrupted.
    std::function<void(Watch&)> onError;
};

enum class Outcome { Read, Failed };

// Reads the next sector from where paranoia stands (sector is its number, for the watch) into out
// (2352 bytes). A sector paranoia gave up on, after maxTries, is a failure.
Outcome readSector(cdrom_paranoia_t* paranoia, Watch& watch, int64_t sector, int maxTries,
                   char* out);

// Whether a failed read left this sector unread. Paranoia hands such a sector out once reads of
// other places match around it, and audio that repeats itself (a steady tone) matches whole
// periods away: the drive has to give the sector once more before it is taken.
bool leftUnread(const Watch& watch, int64_t sector);
// Drops the run of unread sectors this one lies in, once they are to be read afresh.
void forgetUnread(Watch& watch, int64_t sector);

} // namespace VerifiedRead
