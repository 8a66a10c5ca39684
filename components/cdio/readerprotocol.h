#pragma once

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>

#include <sys/socket.h>

// What the program and its reader process (tambrel-reader) say to each other over the socket
// pair: the table of contents once, then for each read request one or more answers, each
// followed by the sectors it carries. Both ends are built from this header, so the structures go
// as they lie in memory.
namespace readerprotocol
{

// The socket is the reader's file descriptor 3.
constexpr int SocketFd = 3;
constexpr int MaxTracks = 99;
constexpr int SectorBytes = 2352;
// A request reads at most this many sectors.
constexpr int MaxSectorsPerRead = 75;
// A drive's reader gives up on a sector after this many tries, or once it has spent this long on
// it, whichever comes first.
constexpr int MaxTries = 20;
constexpr int SectorSeconds = 10;
// Paranoia counts its tries in its own way, and on a stretch that can't be read at all it goes
// on reading without end; this many failed reads for one sector end the wait as well.
constexpr int MaxFailedReads = 1000;
// Positions of trouble one answer names at most.
constexpr int MaxSuspicious = 8;

enum class Source : int32_t { Toc = 0, Nrg = 1, Drive = 2 };

// Why an image could not be opened, as far as libcdio's messages tell: the reader makes out
// the facts, the program says them in its own words.
enum class ImageFault : int32_t {
    Unknown = 0,
    Unopened,    // the image itself can't be opened (faultErrno)
    FileMissing, // the data file faultFile can't be opened (faultErrno), named on faultLine
    FileShort,   // faultFile holds faultBytes, less than the length faultText on faultLine
    BadLine,     // the .toc parser stopped at faultLine, which reads faultText
    NotNero,     // libcdio's Nero reader does not take the file
    NoTracks,    // the image opened but holds no track
};

struct TocReply {
    int32_t ok = 0;          // 0: the disc can't be opened; fault tells why, for an image
    int32_t checkFailed = 0; // libcdio stopped on a failed assertion: the image is damaged
    int32_t noDisc = 0;      // a drive without a disc
    ImageFault fault = ImageFault::Unknown;
    int32_t faultLine = 0; // 0: no line is told
    int32_t faultErrno = 0;
    int64_t faultBytes = 0;
    char faultFile[1024] = {};
    char faultText[256] = {};
    int32_t trackCount = 0;
    struct {
        int32_t number, firstSector, sectors, audio;
    } tracks[MaxTracks] = {};
    int32_t leadOut = 0;
    char source[4096] = {};
    char vendor[16] = {};
    char product[32] = {};
    char revision[16] = {};
};

struct ReadRequest {
    int64_t firstSector = 0;
    int32_t count = 0;
    int32_t paranoia = 0; // read through paranoia's verification
    // The sectors the track's reads lie in: paranoia reads ahead of them, and what it meets
    // there is not the track's to count.
    int64_t spanFirst = 0;
    int64_t spanEnd = INT64_MAX;
};

// Why a read ended before all its sectors came.
enum class Failed : int32_t {
    None = 0,
    Unreadable,  // a sector stayed unreadable after every try
    TooSlow,     // a sector took longer than SectorSeconds
    DiscRemoved, // the drive holds no disc any more
    CannotRead,  // the read can't be made at all (a straight read that failed)
};

struct ReadReply {
    int32_t count = 0;            // sectors that follow this answer
    Failed failed = Failed::None; // set on the last answer of a failed request
    int64_t failedSector = -1;    // the first sector that could not be read
    // What paranoia did for these sectors: reads that failed and were made again, damage it
    // repaired by comparing reads, and stretches it gave up on and skipped.
    int32_t reReads = 0;
    int32_t repairs = 0;
    int32_t skips = 0;
    int32_t suspiciousCount = 0;
    int64_t suspicious[MaxSuspicious] = {}; // sectors where that happened
};

// Sends all of size bytes, however the socket splits them; false once the other end is gone.
inline bool sendAll(int socket, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(socket, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        at += sent;
        size -= size_t(sent);
    }
    return true;
}

} // namespace readerprotocol
