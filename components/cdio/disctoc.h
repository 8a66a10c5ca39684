#pragma once

#include <cstdint>
#include <vector>

typedef struct _CdIo CdIo_t;

// The table of contents of a disc libcdio has open, as both the program and its reader process
// see it.
namespace disctoc
{

struct Track {
    int number = 0;
    int64_t firstSector = 0;
    int64_t sectors = 0;
    bool audio = true;
    int session = 1; // 2 for the tracks of a later session (the drive tells where the last starts)
    bool operator==(const Track&) const = default;
};

// The sectors between an enhanced CD's audio session and its data session: the first session's
// lead-out (6750), the second's lead-in (4500) and its first track's pregap (150).
constexpr int64_t SessionGapSectors = 11400;

// Each track with its length, and the lead-out's first sector. An enhanced CD's last audio track
// ends where its session does, 11,400 sectors before the data session, as the drive's
// multisession information tells; libcdio counts that gap into the track. Empty when the disc
// has no table libcdio can read.
std::vector<Track> read(CdIo_t* cdio, int64_t& leadOut);

} // namespace disctoc
