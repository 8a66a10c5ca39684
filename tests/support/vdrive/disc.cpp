#include "disc.h"

#include "libc.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace vdrive
{

namespace
{

// Between sessions a disc holds a lead-out, a lead-in and the next first track's pregap:
// 90 + 60 + 2 seconds after the first session, 30 + 60 + 2 after later ones.
constexpr int64_t FirstSessionGap = 11400;
constexpr int64_t LaterSessionGap = 6900;
constexpr int64_t MaxDiscSectors = 100 * 60 * 75 - MsfOffset;

bool readWholeFile(const std::string& path, std::string& text, FileIdentity& identity)
{
    const int fd = libc::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    bool ok = libc::fstat(fd, &st) == 0 && st.st_size < (1 << 20);
    if (ok) {
        identity = {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                    int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
        text.resize(size_t(st.st_size));
        size_t done = 0;
        while (ok && done < text.size()) {
            const ssize_t n = ::pread(fd, text.data() + done, text.size() - done, off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            done += ok ? size_t(n) : 0;
        }
    }
    libc::close(fd);
    return ok;
}

std::string upper(std::string word)
{
    for (char& c : word)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

// The next word of a cue line; a quoted word may hold spaces.
std::string nextWord(std::istringstream& line)
{
    line >> std::ws;
    if (line.peek() == '"') {
        line.get();
        std::string word;
        std::getline(line, word, '"');
        return word;
    }
    std::string word;
    line >> word;
    return word;
}

bool parseMsf(const std::string& text, int64_t& sectors)
{
    int m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%d%c", &m, &s, &f, &tail) != 3 || m < 0 || s < 0 ||
        s > 59 || f < 0 || f > 74)
        return false;
    sectors = (int64_t(m) * 60 + s) * 75 + f;
    return true;
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

bool identify(const std::string& path, FileIdentity& identity)
{
    struct stat st {
    };
    if (libc::stat(path.c_str(), &st) != 0)
        return false;
    identity = {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    return true;
}

std::unique_ptr<Disc> Disc::load(const std::string& cuePath, std::string& error)
{
    std::unique_ptr<Disc> disc(new Disc);
    std::string text;
    if (!readWholeFile(cuePath, text, disc->m_cueIdentity)) {
        error = "cannot read " + cuePath + ": " + std::strerror(errno);
        return nullptr;
    }

    std::string fileName;
    int session = 1;
    int64_t firstIndex00 = -1; // the first track's INDEX 00, where it has one
    int lineNumber = 0;
    std::istringstream lines(text);
    std::string lineText;
    while (std::getline(lines, lineText)) {
        ++lineNumber;
        std::istringstream line(lineText);
        const std::string keyword = upper(nextWord(line));
        const auto fail = [&](const std::string& why) {
            error = cuePath + ":" + std::to_string(lineNumber) + ": " + why;
            return nullptr;
        };
        if (keyword == "FILE") {
            if (!fileName.empty())
                return fail("only one FILE is supported");
            fileName = nextWord(line);
            if (upper(nextWord(line)) != "BINARY")
                return fail("only BINARY files (raw little-endian sectors) are supported");
        } else if (keyword == "REM") {
            if (upper(nextWord(line)) != "SESSION")
                continue;
            const int number = std::atoi(nextWord(line).c_str());
            if (number != session + 1 || disc->m_tracks.empty())
                return fail("sessions must follow each other and start with a track");
            session = number;
        } else if (keyword == "TRACK") {
            if (fileName.empty())
                return fail("TRACK before FILE");
            Track track;
            track.number = std::atoi(nextWord(line).c_str());
            const std::string mode = upper(nextWord(line));
            track.audio = mode == "AUDIO";
            if (mode == "MODE1/2352" || mode == "MODE2/2352")
                track.dataMode = mode[4] - '0';
            else if (!track.audio)
                return fail("track mode " + mode + " is not supported (2352-byte sectors only)");
            const int expected =
                disc->m_tracks.empty() ? track.number : disc->m_tracks.back().number + 1;
            if (track.number < 1 || track.number > 99 || track.number != expected)
                return fail("tracks must be numbered 1 to 99 in order");
            track.control = track.audio ? 0 : 4;
            track.session = session;
            track.fileSector = -1;
            disc->m_tracks.push_back(track);
        } else if (keyword == "CATALOG") {
            disc->m_catalog = nextWord(line).substr(0, 13);
        } else if (keyword == "ISRC") {
            if (disc->m_tracks.empty())
                return fail("ISRC before TRACK");
            disc->m_tracks.back().isrc = nextWord(line).substr(0, 12);
        } else if (keyword == "FLAGS") {
            if (disc->m_tracks.empty())
                return fail("FLAGS before TRACK");
            for (std::string flag = upper(nextWord(line)); !flag.empty();
                 flag = upper(nextWord(line))) {
                if (flag == "DCP")
                    disc->m_tracks.back().control |= 2;
                else if (flag == "PRE")
                    disc->m_tracks.back().control |= 1;
                else if (flag == "4CH")
                    disc->m_tracks.back().control |= 8;
            }
        } else if (keyword == "INDEX") {
            if (disc->m_tracks.empty())
                return fail("INDEX before TRACK");
            const int index = std::atoi(nextWord(line).c_str());
            int64_t sector = 0;
            if (!parseMsf(nextWord(line), sector))
                return fail("bad INDEX time");
            if (index == 1)
                disc->m_tracks.back().fileSector = sector;
            else if (index == 0 && disc->m_tracks.size() == 1)
                firstIndex00 = sector;
        }
    }
    if (disc->m_tracks.empty()) {
        error = cuePath + ": no tracks";
        return nullptr;
    }

    const size_t slash = cuePath.rfind('/');
    disc->m_binPath = (fileName.front() == '/' || slash == std::string::npos)
                          ? fileName
                          : cuePath.substr(0, slash + 1) + fileName;
    disc->m_binFd = libc::open(disc->m_binPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {
    };
    if (disc->m_binFd < 0 || libc::fstat(disc->m_binFd, &st) != 0) {
        error = "cannot open " + disc->m_binPath + ": " + std::strerror(errno);
        return nullptr;
    }
    disc->m_binIdentity = {uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                           int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    const int64_t binSectors = st.st_size / SectorBytes;

    // Tracks run to the next track's INDEX 01, the last to the end of the .bin; each session
    // after the first lies further on by the gap before it.
    std::vector<Track>& tracks = disc->m_tracks;
    // The disc's first sector is the first track's INDEX 00 where the sheet gives one: audio
    // there lies before the first track (a hidden track in its pregap).
    int64_t shift = -(firstIndex00 >= 0 ? firstIndex00 : tracks.front().fileSector);
    for (size_t i = 0; i < tracks.size(); ++i) {
        Track& track = tracks[i];
        const int64_t end = i + 1 < tracks.size() ? tracks[i + 1].fileSector : binSectors;
        if (track.fileSector < 0 || end <= track.fileSector) {
            error = cuePath + ": track " + std::to_string(track.number) +
                    " has no INDEX 01, or no sectors in " + disc->m_binPath;
            return nullptr;
        }
        if (i > 0 && track.session != tracks[i - 1].session) {
            shift += track.session == 2 ? FirstSessionGap : LaterSessionGap;
            disc->m_sessions.back().lastTrack = int(i) - 1;
            disc->m_sessions.back().leadOut = tracks[i - 1].start + tracks[i - 1].sectors;
        }
        if (i == 0 || track.session != tracks[i - 1].session)
            disc->m_sessions.push_back({track.session, int(i), int(i), 0});
        track.start = track.fileSector + shift;
        track.sectors = end - track.fileSector;
    }
    disc->m_sessions.back().lastTrack = int(tracks.size()) - 1;
    disc->m_sessions.back().leadOut = tracks.back().start + tracks.back().sectors;
    if (disc->leadOut() > MaxDiscSectors) {
        error = cuePath + ": the disc is longer than a CD can address";
        return nullptr;
    }
    return disc;
}

Disc::~Disc()
{
    if (m_binFd >= 0)
        libc::close(m_binFd);
}

const Track* Disc::trackAt(int64_t lba) const
{
    // The first track's pregap, from the disc's first sector on, reads as that track's.
    for (const Track& track : m_tracks)
        if (lba >= (&track == &m_tracks.front() ? 0 : track.start) &&
            lba < track.start + track.sectors)
            return &track;
    return nullptr;
}

const Track* Disc::trackNumbered(int number) const
{
    for (const Track& track : m_tracks)
        if (track.number == number)
            return &track;
    return nullptr;
}

bool Disc::hasAudio() const
{
    return std::any_of(m_tracks.begin(), m_tracks.end(), [](const Track& t) { return t.audio; });
}

bool Disc::hasData() const
{
    return std::any_of(m_tracks.begin(), m_tracks.end(), [](const Track& t) { return !t.audio; });
}

bool Disc::read(int64_t pos, uint8_t* out, size_t length) const
{
    while (length > 0) {
        const int64_t lba = floorDiv(pos, SectorBytes);
        const int64_t within = pos - lba * SectorBytes;
        const Track* track = trackAt(lba);
        if (!track) {
            // Zeros up to the next track, or to the end of the request.
            int64_t next = INT64_MAX;
            for (const Track& t : m_tracks)
                if (t.start > lba)
                    next = std::min(next, t.start * SectorBytes);
            const size_t count = size_t(std::min<int64_t>(int64_t(length), next - pos));
            std::memset(out, 0, count);
            out += count;
            pos += int64_t(count);
            length -= count;
            continue;
        }
        const int64_t trackEnd = (track->start + track->sectors) * SectorBytes;
        const size_t count = size_t(std::min<int64_t>(int64_t(length), trackEnd - pos));
        const int64_t filePos = (lba - track->start + track->fileSector) * SectorBytes + within;
        size_t done = 0;
        while (done < count) {
            const ssize_t n =
                ::pread(m_binFd, out + done, count - done, off_t(filePos) + off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        out += count;
        pos += int64_t(count);
        length -= count;
    }
    return true;
}

} // namespace vdrive
