#include "components/cueimage/cueimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <libcue.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "Disc audio is little-endian; samples are handed on as the host reads them");

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("CueImage", text);
}

// A file descriptor closed with its owner.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

struct OpenFile {
    Fd fd;
    qint64 bytes = 0;
};

// Opens a regular file for reading. A pipe, a device or a folder named as one is refused before
// it is opened (opening a pipe would wait for a writer), and once more after, in case the name
// was swapped in between.
Result<OpenFile> openRegular(const QString& path, const QString& name, bool* missing = nullptr)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {
    };
    auto refusal = [&](const struct stat& s) -> std::optional<Failure> {
        if (S_ISDIR(s.st_mode))
            return Failure{tr("\"%1\" is a folder, not a file.").arg(name)};
        if (!S_ISREG(s.st_mode))
            return Failure{tr("\"%1\" is not a regular file (a pipe or a device).").arg(name)};
        return std::nullopt;
    };
    if (::stat(native.constData(), &st) != 0) {
        if (missing)
            *missing = errno == ENOENT;
        if (errno == ENOENT)
            return Failure{tr("\"%1\" does not exist (%2).")
                               .arg(name, QString::fromLocal8Bit(std::strerror(ENOENT)))};
        return Failure{tr("\"%1\" cannot be opened: %2.")
                           .arg(name, QString::fromLocal8Bit(std::strerror(errno)))};
    }
    if (auto failure = refusal(st))
        return *failure;
    OpenFile file{Fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)), 0};
    if (file.fd.get() < 0 || ::fstat(file.fd.get(), &st) != 0)
        return Failure{tr("\"%1\" cannot be opened: %2.")
                           .arg(name, QString::fromLocal8Bit(std::strerror(errno)))};
    if (auto failure = refusal(st))
        return *failure;
    file.bytes = st.st_size;
    return file;
}

// Reads exactly size bytes at offset; false on an error or an early end.
bool readAt(int fd, char* out, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size_t(size), off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= got;
        offset += got;
    }
    return true;
}

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

// A sound file of CD audio, or why it isn't one.
Result<SndfileHandle> openSound(const OpenFile& file, const QString& name, SF_INFO& info)
{
    info = SF_INFO{};
    SndfileHandle sound(sf_open_fd(file.fd.get(), SFM_READ, &info, SF_FALSE));
    if (!sound)
        return Failure{tr("\"%1\" cannot be read as a sound file: %2.")
                           .arg(name, QString::fromLocal8Bit(sf_strerror(nullptr)))};
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if (info.samplerate != 44100 || info.channels != 2 || subtype != SF_FORMAT_PCM_16)
        return Failure{
            tr("\"%1\" holds %2 Hz audio in %3 channel(s)%4; Tambrel reads sound files "
               "of CD audio only: 44 100 Hz, 16-bit, stereo.")
                .arg(name, QString::number(info.samplerate), QString::number(info.channels),
                     subtype == SF_FORMAT_PCM_16 ? QString() : tr(", not as 16-bit samples"))};
    return sound;
}

// Windows-1252, the 8-bit code page Windows programs write sheets in, differs from Latin-1 only
// in 0x80..0x9F, where Latin-1 has control characters. Its five unused bytes stay as they are.
QString fromWindows1252(const QByteArray& bytes)
{
    static constexpr char16_t High[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text = QString::fromLatin1(bytes);
    for (QChar& c : text) {
        if (c.unicode() >= 0x80 && c.unicode() <= 0x9F)
            c = QChar(High[c.unicode() - 0x80]);
    }
    return text;
}

// A sheet in UTF-16 (with its byte-order mark, as some Windows programs write them); nothing
// when the bytes are none.
std::optional<QString> fromUtf16(const QByteArray& bytes)
{
    const bool little = bytes.startsWith("\xFF\xFE");
    if (!little && !bytes.startsWith("\xFE\xFF"))
        return std::nullopt;
    QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                           QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes.mid(2));
    if (decoder.hasError() || bytes.size() % 2 != 0)
        return std::nullopt;
    return text;
}

// The text of a sheet: UTF-8 or UTF-16 with their byte-order marks dropped, Windows and old Mac
// line ends made Unix ones, and Windows-1252 assumed when the bytes are not UTF-8 (sheets
// written on Windows).
QString decodeSheet(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text;
    if (std::optional<QString> wide = fromUtf16(bytes)) {
        text = *wide;
    } else {
        text = utf8.decode(bytes);
        if (utf8.hasError())
            text = fromWindows1252(bytes);
    }
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The words of a line; a quoted word keeps its spaces.
QStringList words(const QString& line)
{
    QStringList result;
    QString word;
    bool quoted = false, inWord = false;
    for (const QChar c : line) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && c.isSpace()) {
            if (inWord)
                result << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        result << word;
    return result;
}

// The value of a line after its first `skip` words: the rest of the line, so that a bare value
// keeps its spaces, without the quotes around it. Quotes within it stay (sheets don't escape
// them: TITLE "The "Best" Of" is a title with quotes), and so do backslashes.
QString valueAfter(const QString& line, int skip)
{
    qsizetype at = 0;
    const auto skipSpace = [&] {
        while (at < line.size() && line[at].isSpace())
            ++at;
    };
    for (int w = 0; w < skip; ++w) {
        skipSpace();
        while (at < line.size() && !line[at].isSpace())
            ++at;
    }
    QString value = line.mid(at).trimmed();
    if (value.startsWith(QLatin1Char('"'))) {
        value.remove(0, 1);
        if (value.endsWith(QLatin1Char('"')))
            value.chop(1);
    }
    return value;
}

// What the sheet says, line by line, as far as the disc's layout goes. libcue parses the sheet
// as well, but reports neither the lines, nor the track numbers, the file types, nor a PREGAP
// apart from an INDEX 00.
struct SheetIndex {
    int number = 0;
    int file = 0;
    qint64 frame = 0;
    int line = 0;
};

struct SheetTrack {
    int number = 0;
    int line = 0;
    bool audio = true;
    int blockBytes = CueImage::SectorBytes;
    QList<SheetIndex> indexes;
    qint64 pregap = 0;
    qint64 postgap = 0;
    int session = 1;
    QString isrc;
    bool preEmphasis = false;
    TrackInfo info;
    const SheetIndex* index01() const
    {
        for (const SheetIndex& index : indexes)
            if (index.number == 1)
                return &index;
        return nullptr;
    }
};

struct SheetFile {
    QString name;
    CueImage::FileType type = CueImage::FileType::Binary;
    int line = 0;
};

struct Sheet {
    QList<SheetFile> files;
    QList<SheetTrack> tracks;
    AlbumInfo album; // its tracks are the SheetTracks' info
    QString catalog;
};

// Bytes per sector in a raw file, by track mode; 0 for a mode Tambrel doesn't know.
int blockBytesOf(const QString& mode)
{
    static const struct {
        const char* mode;
        int bytes;
    } modes[] = {{"AUDIO", 2352},      {"MODE1/2352", 2352}, {"MODE2/2352", 2352},
                 {"MODE1/2048", 2048}, {"MODE2/2048", 2048}, {"MODE2/2336", 2336},
                 {"MODE2/2332", 2332}, {"MODE2/2342", 2342}};
    for (const auto& m : modes)
        if (mode == QLatin1String(m.mode))
            return m.bytes;
    return 0;
}

class SheetReader
{
public:
    Result<Sheet> read(const QString& text)
    {
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (int n = 0; n < lines.size(); ++n) {
            m_line = n + 1;
            const QStringList w = words(lines[n]);
            if (w.isEmpty())
                continue;
            const QString keyword = w[0].toUpper();
            std::optional<Failure> failure;
            if (keyword == QLatin1String("FILE"))
                failure = file(w);
            else if (keyword == QLatin1String("TRACK"))
                failure = track(w);
            else if (keyword == QLatin1String("INDEX"))
                failure = index(w);
            else if (keyword == QLatin1String("PREGAP") || keyword == QLatin1String("POSTGAP"))
                failure = gap(w, keyword == QLatin1String("PREGAP"));
            else if (keyword == QLatin1String("REM") && w.size() > 2 &&
                     w[1].toUpper() == QLatin1String("SESSION"))
                failure = session(w[2]);
            else if (keyword == QLatin1String("CATALOG") && w.size() > 1 && !current())
                m_sheet.catalog = w[1];
            else if (keyword == QLatin1String("ISRC") && w.size() > 1 && current())
                current()->isrc = w[1];
            else if (keyword == QLatin1String("FLAGS") && current())
                current()->preEmphasis =
                    w.mid(1).contains(QLatin1String("PRE"), Qt::CaseInsensitive);
            else
                albumText(keyword, w, lines[n]);
            if (failure)
                return *failure;
        }
        if (m_sheet.tracks.isEmpty())
            return Failure{tr("it holds no TRACK line: it is not a cue sheet.")};
        if (auto failure = trackComplete())
            return *failure;
        finishText();
        return m_sheet;
    }

private:
    Failure fail(const QString& problem) const
    {
        return Failure{tr("line %1: %2").arg(QString::number(m_line), problem)};
    }

    SheetTrack* current() { return m_sheet.tracks.isEmpty() ? nullptr : &m_sheet.tracks.last(); }

    std::optional<Failure> file(const QStringList& w)
    {
        if (w.size() < 3)
            return fail(tr("FILE needs a file name and a type (BINARY, MOTOROLA, WAVE...)."));
        const QString type = w.last().toUpper();
        SheetFile file;
        file.name = w.mid(1, w.size() - 2).join(QLatin1Char(' '));
        file.line = m_line;
        if (type == QLatin1String("BINARY"))
            file.type = CueImage::FileType::Binary;
        else if (type == QLatin1String("MOTOROLA"))
            file.type = CueImage::FileType::Motorola;
        else if (type == QLatin1String("WAVE") || type == QLatin1String("AIFF") ||
                 type == QLatin1String("FLAC"))
            file.type = CueImage::FileType::Sound;
        else
            return fail(tr("files of type %1 can't be read (BINARY, MOTOROLA, WAVE, AIFF and "
                           "FLAC can).")
                            .arg(w.last()));
        m_sheet.files << file;
        return std::nullopt;
    }

    std::optional<Failure> track(const QStringList& w)
    {
        if (m_sheet.files.isEmpty())
            return fail(tr("TRACK comes before any FILE line."));
        if (auto failure = trackComplete())
            return failure;
        if (m_sheet.tracks.size() == CueImage::MaxTracks)
            return fail(tr("more than 99 tracks; a CD holds at most 99."));
        bool ok = false;
        const int number = w.size() == 3 ? w[1].toInt(&ok) : 0;
        const int blockBytes = w.size() == 3 ? blockBytesOf(w[2].toUpper()) : 0;
        if (!ok || number < 1 || number > 99)
            return fail(tr("TRACK needs a number from 1 to 99 and a mode."));
        if (blockBytes == 0)
            return fail(tr("track %1 has a mode Tambrel can't read: %2.")
                            .arg(QString::number(number), w[2]));
        if (const SheetTrack* previous = current(); previous && number != previous->number + 1)
            return fail(tr("track %1 follows track %2; track numbers go up by one.")
                            .arg(QString::number(number), QString::number(previous->number)));
        SheetTrack track;
        track.number = number;
        track.line = m_line;
        track.audio = w[2].toUpper() == QLatin1String("AUDIO");
        track.blockBytes = blockBytes;
        track.session = m_session;
        m_sheet.tracks << track;
        return std::nullopt;
    }

    // "REM SESSION nn", as EAC writes it before the first track of each session.
    std::optional<Failure> session(const QString& text)
    {
        bool ok = false;
        const int number = text.toInt(&ok);
        if (!ok || number < m_session || number > 99)
            return fail(tr("REM SESSION needs a session number from %1 to 99.").arg(m_session));
        m_session = number;
        return std::nullopt;
    }

    // mm:ss:ff with seconds below 60 and frames below 75.
    std::optional<qint64> time(const QString& text) const
    {
        const QStringList parts = text.split(QLatin1Char(':'));
        if (parts.size() != 3)
            return std::nullopt;
        qint64 value[3];
        for (int i = 0; i < 3; ++i) {
            const QString& part = parts[i];
            if (part.isEmpty() || part.size() > 3 ||
                !std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit(); }))
                return std::nullopt;
            value[i] = part.toLongLong();
        }
        if (value[1] >= 60 || value[2] >= 75)
            return std::nullopt;
        return (value[0] * 60 + value[1]) * 75 + value[2];
    }

    std::optional<Failure> badTime(const QString& what, const QString& text) const
    {
        return fail(tr("%1 has the time \"%2\"; times are mm:ss:ff with seconds below 60 and "
                       "frames below 75.")
                        .arg(what, text));
    }

    std::optional<Failure> index(const QStringList& w)
    {
        SheetTrack* track = current();
        if (!track)
            return fail(tr("INDEX comes before any TRACK line."));
        bool ok = false;
        const int number = w.size() == 3 ? w[1].toInt(&ok) : -1;
        if (!ok || number < 0 || number > 99)
            return fail(
                tr("INDEX of track %1 needs a number from 0 to 99 and a time.").arg(track->number));
        const QString name =
            tr("INDEX %1 of track %2").arg(number, 2, 10, QLatin1Char('0')).arg(track->number);
        const std::optional<qint64> frame = time(w[2]);
        if (!frame)
            return badTime(name, w[2]);
        if (track->indexes.isEmpty() ? number > 1 : number != track->indexes.last().number + 1) {
            const QString expected =
                track->indexes.isEmpty()
                    ? QStringLiteral("01")
                    : QStringLiteral("%1").arg(track->indexes.last().number + 1, 2, 10,
                                               QLatin1Char('0'));
            return fail(tr("%1 comes where INDEX %2 was expected.").arg(name, expected));
        }
        if (track->postgap > 0)
            return fail(tr("%1 comes after the track's POSTGAP.").arg(name));
        const int file = int(m_sheet.files.size()) - 1;
        if (m_last && m_last->file == file && *frame < m_last->frame)
            return fail(tr("%1 (%2) lies before the index ahead of it (%3).")
                            .arg(name, CueImage::msf(*frame), CueImage::msf(m_last->frame)));
        track->indexes << SheetIndex{number, file, *frame, m_line};
        m_last = track->indexes.last();
        return std::nullopt;
    }

    std::optional<Failure> gap(const QStringList& w, bool pregap)
    {
        SheetTrack* track = current();
        const QString name = pregap ? QStringLiteral("PREGAP") : QStringLiteral("POSTGAP");
        if (!track)
            return fail(tr("%1 comes before any TRACK line.").arg(name));
        const std::optional<qint64> length = w.size() == 2 ? time(w[1]) : std::nullopt;
        if (!length)
            return badTime(tr("%1 of track %2").arg(name).arg(track->number), w.value(1));
        if (pregap && !track->indexes.isEmpty())
            return fail(tr("PREGAP of track %1 comes after its INDEX lines.").arg(track->number));
        if (!pregap && !track->index01())
            return fail(tr("POSTGAP of track %1 comes before its INDEX 01.").arg(track->number));
        (pregap ? track->pregap : track->postgap) = *length;
        return std::nullopt;
    }

    // TITLE, PERFORMER and SONGWRITER of the album, or of the track they follow; REM DATE and
    // REM GENRE of the album, before the first track.
    void albumText(const QString& keyword, const QStringList& w, const QString& line)
    {
        SheetTrack* track = current();
        QString* field = nullptr;
        int skip = 1;
        if (keyword == QLatin1String("TITLE"))
            field = track ? &track->info.title : &m_sheet.album.title;
        else if (keyword == QLatin1String("PERFORMER"))
            field = track ? &track->info.artist : &m_sheet.album.artist;
        else if (keyword == QLatin1String("SONGWRITER"))
            field = track ? &track->info.songwriter : &m_songwriter;
        else if (keyword == QLatin1String("REM") && w.size() > 1 && !track) {
            skip = 2;
            const QString what = w[1].toUpper();
            if (what == QLatin1String("DATE"))
                field = &m_sheet.album.date;
            else if (what == QLatin1String("GENRE"))
                field = &m_sheet.album.genre;
        }
        if (field)
            *field = valueAfter(line, skip);
    }

    void finishText()
    {
        for (SheetTrack& track : m_sheet.tracks) {
            if (track.info.songwriter.isEmpty())
                track.info.songwriter = m_songwriter;
        }
    }

    std::optional<Failure> trackComplete()
    {
        const SheetTrack* track = current();
        if (track && !track->index01())
            return Failure{tr("line %1: track %2 has no INDEX 01.")
                               .arg(QString::number(track->line), QString::number(track->number))};
        return std::nullopt;
    }

    Sheet m_sheet;
    // The album's SONGWRITER; AlbumInfo has none of its own: it goes to tracks without one.
    QString m_songwriter;
    int m_line = 0;
    int m_session = 1;
    std::optional<SheetIndex> m_last;
};

// libcue keeps its parser's state in globals: one sheet at a time.
std::mutex libcueMutex;

struct CdDeleter {
    void operator()(Cd* cd) const { cd_delete(cd); }
};

// libcue must read the sheet as the line reader did: the same tracks, each on the same file from
// the same INDEX 01.
std::optional<Failure> checkWithLibcue(const QString& text, const Sheet& sheet)
{
    const QByteArray utf8 = text.toUtf8();
    const std::lock_guard lock(libcueMutex);
    const std::unique_ptr<Cd, CdDeleter> cd(cue_parse_string(utf8.constData()));
    if (!cd)
        return Failure{tr("it is not a cue sheet libcue can parse.")};
    if (cd_get_ntrack(cd.get()) != sheet.tracks.size())
        return Failure{tr("libcue finds %1 tracks in it where its TRACK lines give %2.")
                           .arg(cd_get_ntrack(cd.get()))
                           .arg(sheet.tracks.size())};
    for (int t = 0; t < sheet.tracks.size(); ++t) {
        const SheetTrack& track = sheet.tracks[t];
        const ::Track* parsed = cd_get_track(cd.get(), t + 1);
        const char* file = parsed ? track_get_filename(parsed) : nullptr;
        const SheetIndex& index01 = *track.index01();
        if (!file || QString::fromUtf8(file) != sheet.files[index01.file].name ||
            track_get_index(parsed, 1) != index01.frame)
            return Failure{tr("line %1: libcue reads track %2 differently; the sheet is "
                              "malformed around it.")
                               .arg(track.line)
                               .arg(track.number)};
    }
    return std::nullopt;
}

// Where a data file named in a sheet lies: relative names from the sheet's folder. A Windows
// path keeps only its file name, looked for beside the sheet. Sheets written on systems whose
// file names ignore case often name their files in another case: a name that isn't there is
// matched to the one file in its folder that differs from it only in case.
QString resolve(const QDir& folder, QString name)
{
    if (name.contains(QLatin1Char('\\')))
        name = name.section(QLatin1Char('\\'), -1);
    const QString path = QDir::cleanPath(folder.absoluteFilePath(name));
    const QFileInfo info(path);
    if (info.exists() || !info.dir().exists())
        return path;
    QStringList matches;
    for (const QString& entry : info.dir().entryList(QDir::AllEntries | QDir::Hidden |
                                                     QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            matches << entry;
    }
    return matches.size() == 1 ? info.dir().filePath(matches.first()) : path;
}

} // namespace

Result<CueImage> CueImage::open(const QString& cuePath)
{
    QString damagedFile;
    Result<CueImage> image = read(cuePath, damagedFile);
    if (image.ok())
        return image;
    // One arg() for all: a path holding "%2" must not take the reason's place.
    if (!damagedFile.isEmpty())
        return Failure{tr("The disc image \"%1\" is damaged: its data file \"%2\" is missing or "
                          "too short (%3).")
                           .arg(cuePath, damagedFile, image.error())};
    return Failure{tr("The disc image \"%1\" cannot be read: %2").arg(cuePath, image.error())};
}

Result<CueImage> CueImage::read(const QString& cuePath, QString& damagedFile)
{
    const QString cueName = QFileInfo(cuePath).fileName();
    Result<OpenFile> cueFile = openRegular(cuePath, cueName);
    if (!cueFile)
        return Failure{cueFile.error()};
    if (cueFile.value().bytes > MaxSheetBytes)
        return Failure{tr("it is %1 bytes long; a cue sheet is a few kilobytes: it is not one.")
                           .arg(cueFile.value().bytes)};
    QByteArray bytes(qsizetype(cueFile.value().bytes), Qt::Uninitialized);
    if (!readAt(cueFile.value().fd.get(), bytes.data(), bytes.size(), 0))
        return Failure{
            tr("it cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(errno)))};
    // UTF-16 holds zero bytes in every ASCII character; anything else with them is no text.
    if (bytes.contains('\0')) {
        const std::optional<QString> wide = fromUtf16(bytes);
        if (!wide || wide->contains(QChar(u'\0')))
            return Failure{tr("it holds binary data: it is not a cue sheet.")};
    }
    const QString text = decodeSheet(bytes);

    SheetReader reader;
    Result<Sheet> parsed = reader.read(text);
    if (!parsed)
        return Failure{parsed.error()};
    const Sheet sheet = parsed.take();
    if (auto failure = checkWithLibcue(text, sheet))
        return *failure;

    CueImage image;
    image.m_cuePath = cuePath;
    image.m_catalog = sheet.catalog;
    bool told = !sheet.album.title.isEmpty() || !sheet.album.artist.isEmpty() ||
                !sheet.album.date.isEmpty() || !sheet.album.genre.isEmpty();
    for (const SheetTrack& track : sheet.tracks) {
        told = told || !track.info.title.isEmpty() || !track.info.artist.isEmpty() ||
               !track.info.songwriter.isEmpty();
    }
    if (told) {
        image.m_album = sheet.album;
        image.m_album.source = QStringLiteral("cue sheet");
        for (const SheetTrack& track : sheet.tracks)
            image.m_album.tracks << track.info;
    }
    const QDir folder = QFileInfo(cuePath).absoluteDir();

    // Each file: opened, and its sector size taken from the tracks that lie in it.
    QList<bool> used(sheet.files.size(), false);
    QList<int> blockBytes(sheet.files.size(), 0);
    for (const SheetTrack& track : sheet.tracks) {
        for (const SheetIndex& index : track.indexes) {
            used[index.file] = true;
            const SheetFile& file = sheet.files[index.file];
            if (file.type == FileType::Sound && !track.audio)
                return Failure{tr("line %1: track %2 is a data track, but \"%3\" is a sound file.")
                                   .arg(track.line)
                                   .arg(track.number)
                                   .arg(file.name)};
            if (blockBytes[index.file] != 0 && blockBytes[index.file] != track.blockBytes)
                return Failure{tr("line %1: track %2 has sectors of %3 bytes, but shares \"%4\" "
                                  "with tracks of %5-byte sectors.")
                                   .arg(track.line)
                                   .arg(track.number)
                                   .arg(track.blockBytes)
                                   .arg(file.name)
                                   .arg(blockBytes[index.file])};
            blockBytes[index.file] = track.blockBytes;
        }
    }
    for (int f = 0; f < sheet.files.size(); ++f) {
        const SheetFile& sheetFile = sheet.files[f];
        if (!used[f])
            return Failure{tr("line %1: no track lies in the file \"%2\".")
                               .arg(sheetFile.line)
                               .arg(sheetFile.name)};
        DataFile file;
        file.path = resolve(folder, sheetFile.name);
        file.type = sheetFile.type;
        file.blockBytes = blockBytes[f];
        bool missing = false;
        Result<OpenFile> opened = openRegular(file.path, sheetFile.name, &missing);
        if (missing) {
            damagedFile = sheetFile.name;
            return Failure{tr("line %1: the file does not exist").arg(sheetFile.line)};
        }
        if (!opened)
            return Failure{tr("line %1: the data file %2")
                               .arg(QString::number(sheetFile.line), opened.error())};
        file.bytes = opened.value().bytes;
        if (file.type == FileType::Sound) {
            SF_INFO info;
            Result<SndfileHandle> sound = openSound(opened.value(), sheetFile.name, info);
            if (!sound)
                return Failure{
                    tr("line %1: %2").arg(QString::number(sheetFile.line), sound.error())};
            file.sectors = (info.frames + FramesPerSector - 1) / FramesPerSector;
        } else {
            file.sectors = (file.bytes + file.blockBytes - 1) / file.blockBytes;
        }
        if (file.sectors == 0) {
            damagedFile = sheetFile.name;
            return Failure{tr("line %1: the file is empty").arg(sheetFile.line)};
        }
        image.m_files << file;
    }

    // Every index within its file.
    for (const SheetTrack& track : sheet.tracks) {
        for (const SheetIndex& index : track.indexes) {
            const DataFile& file = image.m_files[index.file];
            if (index.frame >= file.sectors) {
                damagedFile = sheet.files[index.file].name;
                return Failure{tr("line %1: INDEX %2 of track %3 (%4) lies past its end (%5)")
                                   .arg(QString::number(index.line))
                                   .arg(index.number, 2, 10, QLatin1Char('0'))
                                   .arg(QString::number(track.number), CueImage::msf(index.frame),
                                        CueImage::msf(file.sectors))};
            }
        }
    }

    // Silence goes in where the sheet says: a PREGAP before its track's first index, a POSTGAP
    // where its track's part of the file ends (the next track's first index, or the file's end).
    struct Gap {
        int file;
        qint64 frame;
        qint64 sectors;
    };
    QList<Gap> gaps;
    // The silence before each track that starts a session, which no track holds.
    QList<qint64> sessionGap(sheet.tracks.size(), 0);
    for (int t = 0; t < sheet.tracks.size(); ++t) {
        const SheetTrack& track = sheet.tracks[t];
        const SheetIndex& first = track.indexes.first();
        const SheetIndex& last = track.indexes.last();
        qint64 pregap = track.pregap;
        if (t > 0) {
            const SheetTrack& before = sheet.tracks[t - 1];
            if (track.session > before.session ||
                (before.audio && !track.audio && track.pregap >= SessionGapSectors)) {
                pregap = std::max(pregap, SessionGapSectors);
                sessionGap[t] = pregap;
            }
        }
        if (pregap > 0)
            gaps << Gap{first.file, first.frame, pregap};
        if (track.postgap > 0) {
            const SheetIndex* next =
                t + 1 < sheet.tracks.size() ? &sheet.tracks[t + 1].indexes.first() : nullptr;
            gaps << Gap{last.file,
                        next && next->file == last.file ? next->frame
                                                        : image.m_files[last.file].sectors,
                        track.postgap};
        }
    }
    qint64 disc = 0;
    for (int f = 0; f < image.m_files.size(); ++f) {
        qint64 from = 0;
        for (const Gap& gap : std::as_const(gaps)) {
            if (gap.file != f)
                continue;
            if (gap.frame > from)
                image.m_pieces << Piece{disc, gap.frame - from, f, from};
            disc += gap.frame - from;
            image.m_pieces << Piece{disc, gap.sectors, -1, 0};
            disc += gap.sectors;
            from = gap.frame;
        }
        image.m_pieces << Piece{disc, image.m_files[f].sectors - from, f, from};
        disc += image.m_files[f].sectors - from;
    }
    image.m_leadOut = disc;
    if (disc > MaxSectors)
        return Failure{tr("the disc would last %1 (mm:ss:ff); a CD holds at most 100 minutes.")
                           .arg(CueImage::msf(disc))};

    auto discSector = [&image](const SheetIndex& index) {
        for (const Piece& piece : std::as_const(image.m_pieces)) {
            if (piece.file == index.file && index.frame >= piece.fileSector &&
                index.frame < piece.fileSector + piece.sectors)
                return piece.discSector + index.frame - piece.fileSector;
        }
        return qint64(-1); // not reached: every index lies within its file
    };
    for (int t = 0; t < sheet.tracks.size(); ++t) {
        const SheetTrack& track = sheet.tracks[t];
        Track out;
        out.number = track.number;
        out.audio = track.audio;
        // A session the sheet names, or the next one where a gap alone says a session starts.
        const int previous = t > 0 ? image.m_tracks.last().session : 1;
        out.session =
            track.session > previous ? track.session : previous + (sessionGap[t] > 0 ? 1 : 0);
        out.isrc = track.isrc;
        out.preEmphasis = track.preEmphasis;
        out.firstSector = discSector(*track.index01());
        const qint64 end =
            t + 1 < sheet.tracks.size()
                ? (sessionGap[t + 1]
                       ? discSector(sheet.tracks[t + 1].indexes.first()) - sessionGap[t + 1]
                       : discSector(*sheet.tracks[t + 1].index01()))
                : image.m_leadOut;
        out.sectors = end - out.firstSector;
        if (out.sectors <= 0)
            return Failure{tr("line %1: track %2 has no length: the next track starts where it "
                              "does, or before.")
                               .arg(track.line)
                               .arg(track.number)};
        image.m_tracks << out;
    }
    return image;
}

Result<QByteArray> CueImage::readSectors(qint64 firstSector, int count) const
{
    if (firstSector < 0 || count < 0 || firstSector + count > m_leadOut)
        return Failure{tr("Sectors %1 to %2 lie outside the disc image \"%3\" (sectors 0 to %4).")
                           .arg(firstSector)
                           .arg(firstSector + count - 1)
                           .arg(m_cuePath)
                           .arg(m_leadOut - 1)};
    QByteArray out(qsizetype(count) * SectorBytes, '\0');
    for (const Piece& piece : m_pieces) {
        const qint64 from = std::max(firstSector, piece.discSector);
        const qint64 to = std::min(firstSector + count, piece.discSector + piece.sectors);
        if (from >= to || piece.file < 0)
            continue;
        if (Status s = readPiece(piece, from - piece.discSector, to - from,
                                 out.data() + (from - firstSector) * SectorBytes);
            !s.ok())
            return Failure{s.error()};
    }
    return out;
}

Status CueImage::readPiece(const Piece& piece, qint64 offset, qint64 count, char* out) const
{
    const DataFile& file = m_files[piece.file];
    const QString name = QFileInfo(file.path).fileName();
    Result<OpenFile> opened = openRegular(file.path, name);
    if (!opened)
        return Failure{opened.error()};
    const auto changed = [&] {
        return Failure{tr("The data file \"%1\" of the disc image \"%2\" has changed since the "
                          "image was opened.")
                           .arg(name, m_cuePath)};
    };
    if (opened.value().bytes != file.bytes)
        return changed();
    const qint64 sector = piece.fileSector + offset;

    if (file.type == FileType::Sound) {
        SF_INFO info;
        Result<SndfileHandle> sound = openSound(opened.value(), name, info);
        if (!sound)
            return Failure{sound.error()};
        const qint64 frames =
            std::min(count * FramesPerSector, info.frames - sector * FramesPerSector);
        if (sf_seek(sound.value().get(), sector * FramesPerSector, SEEK_SET) < 0 ||
            sf_readf_short(sound.value().get(), reinterpret_cast<short*>(out), frames) != frames)
            return changed();
        return {};
    }

    const qint64 available =
        std::min(count * file.blockBytes, file.bytes - sector * file.blockBytes);
    if (file.blockBytes == SectorBytes) {
        if (!readAt(opened.value().fd.get(), out, available, sector * SectorBytes))
            return changed();
    } else {
        // Data sectors shorter than a raw sector: each padded with zeros.
        for (qint64 s = 0; s * file.blockBytes < available; ++s) {
            if (!readAt(opened.value().fd.get(), out + s * SectorBytes,
                        std::min<qint64>(file.blockBytes, available - s * file.blockBytes),
                        (sector + s) * file.blockBytes))
                return changed();
        }
    }
    if (file.type == FileType::Motorola) {
        for (qint64 i = 0; i + 1 < count * SectorBytes; i += 2)
            std::swap(out[i], out[i + 1]);
    }
    return {};
}

QString CueImage::msf(qint64 sectors)
{
    return QStringLiteral("%1:%2:%3")
        .arg(sectors / (75 * 60), 2, 10, QLatin1Char('0'))
        .arg(sectors / 75 % 60, 2, 10, QLatin1Char('0'))
        .arg(sectors % 75, 2, 10, QLatin1Char('0'));
}
