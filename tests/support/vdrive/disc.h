#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The disc in the virtual drive: a cue sheet with one raw .bin of 2352-byte sectors, laid out
// on the drive's addresses session by session.
namespace vdrive
{

inline constexpr int SectorBytes = 2352;
inline constexpr int UserDataBytes = 2048;
inline constexpr int64_t MsfOffset = 150; // address 00:02:00 is sector 0

// What tells one disc from another: the files' identities. A replaced file is a new disc.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool identify(const std::string& path, FileIdentity& identity);

struct Track {
    int number = 0;
    bool audio = true;
    int dataMode = 0;    // 1 or 2 for a data track
    uint8_t control = 0; // the Q channel's control bits: 4 data, 2 copy permitted, 1 pre-emphasis
    int session = 1;
    int64_t start = 0; // drive address (LBA)
    int64_t sectors = 0;
    int64_t fileSector = 0; // where the track's first sector lies in the .bin
    std::string isrc;       // 12 characters from the sheet's ISRC line; empty: none
};

struct Session {
    int number = 1;
    int firstTrack = 0; // indexes into Disc::tracks()
    int lastTrack = 0;
    int64_t leadOut = 0; // drive address of the session's lead-out
};

class Disc
{
public:
    // Reads the cue sheet and opens its .bin; on failure returns nothing and says why in error.
    static std::unique_ptr<Disc> load(const std::string& cuePath, std::string& error);
    ~Disc();
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;

    const std::vector<Track>& tracks() const { return m_tracks; }
    // The sheet's CATALOG (13 digits); empty: the disc has no catalogue number.
    const std::string& catalog() const { return m_catalog; }
    const std::vector<Session>& sessions() const { return m_sessions; }
    int64_t leadOut() const { return m_sessions.back().leadOut; }
    const std::string& binPath() const { return m_binPath; }
    const FileIdentity& cueIdentity() const { return m_cueIdentity; }
    const FileIdentity& binIdentity() const { return m_binIdentity; }

    // The track holding a drive address, or nothing (before the disc, between sessions, after
    // the lead-out).
    const Track* trackAt(int64_t lba) const;
    const Track* trackNumbered(int number) const;
    bool hasAudio() const;
    bool hasData() const;

    // The raw bytes of the drive's address space from byte position pos on (pos may be
    // negative); where no track lies, zeros. False if the .bin can't be read.
    bool read(int64_t pos, uint8_t* out, size_t length) const;

private:
    Disc() = default;

    std::vector<Track> m_tracks;
    std::string m_catalog;
    std::vector<Session> m_sessions;
    std::string m_binPath;
    FileIdentity m_cueIdentity;
    FileIdentity m_binIdentity;
    int m_binFd = -1;
};

} // namespace vdrive
