#include "tests/support/discimage.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace discimage
{

namespace
{

constexpr int SampleRate = 44100;
constexpr int FramesPerSector = SectorBytes / 4; // 588 stereo frames of 16-bit samples
constexpr int LeadInSectors = 150;               // the 2 s before the first track on a disc
constexpr double ToneAmplitude = 16384.0;        // half of full scale
// Sector addresses are written as two-digit BCD minutes, so the last one is 99:59:74.
constexpr qint64 MaxDiscSectors = 100 * 60 * SectorsPerSecond - LeadInSectors;
constexpr qint64 ChunkSectors = 150; // how much of the .bin is built in memory at a time
// Between sessions a disc holds a lead-out, a lead-in and a pregap: 90 + 60 + 2 seconds after
// the first session, 30 + 60 + 2 after later ones.
constexpr qint64 FirstSessionGap = 11400;
constexpr qint64 LaterSessionGap = 6900;

constexpr int SyncBytes = 12;
constexpr int HeaderBytes = 4;
constexpr int UserDataBytes = 2048;

// ---------------------------------------------------------------------------------------------
// Parsing

// Converts whole + fraction digits (a decimal number of seconds) to sectors, rounding half up.
// Integer arithmetic keeps "0.02" (exactly 1.5 sectors) from rounding the wrong way.
std::optional<qint64> secondsToSectors(const QString& whole, const QString& fraction)
{
    bool ok = false;
    const qint64 seconds = whole.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    qint64 scale = 1;
    qint64 fractionValue = 0;
    if (!fraction.isEmpty()) {
        fractionValue = fraction.toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        for (int i = 0; i < fraction.size(); ++i)
            scale *= 10;
    }
    const qint64 sectorsTimesScale = (seconds * scale + fractionValue) * SectorsPerSecond;
    return (2 * sectorsTimesScale + scale) / (2 * scale);
}

std::optional<qint64> parseLength(const QString& text)
{
    // Digit counts are capped so that the arithmetic below cannot overflow.
    static const QRegularExpression sectorsForm(QStringLiteral("^([0-9]{1,9})s$"));
    static const QRegularExpression secondsForm(
        QStringLiteral("^([0-9]{1,7})(?:\\.([0-9]{1,6}))?$"));
    static const QRegularExpression minutesForm(
        QStringLiteral("^([0-9]{1,5}):([0-5][0-9])(?:\\.([0-9]{1,6}))?$"));

    std::optional<qint64> sectors;
    if (const auto m = sectorsForm.match(text); m.hasMatch()) {
        sectors = m.captured(1).toLongLong();
    } else if (const auto m = secondsForm.match(text); m.hasMatch()) {
        sectors = secondsToSectors(m.captured(1), m.captured(2));
    } else if (const auto m = minutesForm.match(text); m.hasMatch()) {
        const qint64 seconds = m.captured(1).toLongLong() * 60 + m.captured(2).toLongLong();
        sectors = secondsToSectors(QString::number(seconds), m.captured(3));
    }
    if (!sectors || *sectors <= 0 || *sectors > MaxDiscSectors)
        return std::nullopt;
    return sectors;
}

bool validFrequency(double hz)
{
    return std::isfinite(hz) && hz > 0.0 && hz < SampleRate / 2.0;
}

bool parseContent(const QString& text, TrackSpec& track)
{
    if (text == QLatin1String("noise")) {
        track.content = Content::Noise;
    } else if (text == QLatin1String("silence")) {
        track.content = Content::Silence;
    } else if (text == QLatin1String("tone")) {
        track.content = Content::Tone;
        track.frequency = 440.0;
    } else if (text.startsWith(QLatin1String("tone="))) {
        static const QRegularExpression number(QStringLiteral("^[0-9]+(?:\\.[0-9]+)?$"));
        const QString value = text.mid(5);
        if (!number.match(value).hasMatch())
            return false;
        track.content = Content::Tone;
        track.frequency = value.toDouble();
        return validFrequency(track.frequency);
    } else {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Sample generation

// SplitMix64: small, fast and fully determined by its 64-bit state.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed) {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

private:
    quint64 m_state;
};

void putSample(char* out, int value)
{
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>((value >> 8) & 0xFF);
}

int toneSample(double frequency, qint64 frame)
{
    // Reducing the phase to one period first keeps long tracks as precise as short ones.
    const double cycles = std::fmod(frequency * static_cast<double>(frame), double(SampleRate));
    const double phase = 2.0 * std::numbers::pi * cycles / SampleRate;
    return static_cast<int>(std::lround(ToneAmplitude * std::sin(phase)));
}

int bcd(int value)
{
    return ((value / 10) << 4) | (value % 10);
}

// Error detection and correction for Mode 1 sectors (ECMA-130 annex A): a CRC over the sync,
// header and user data, then two Reed-Solomon product codes (P and Q) over GF(2^8).
struct EccTables {
    std::array<quint8, 256> forward{};
    std::array<quint8, 256> backward{};
    std::array<quint32, 256> edc{};

    EccTables()
    {
        for (int i = 0; i < 256; ++i) {
            const int doubled = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
            forward[i] = static_cast<quint8>(doubled);
            backward[i ^ forward[i]] = static_cast<quint8>(i);
            quint32 crc = static_cast<quint32>(i);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ ((crc & 1) ? 0xD8018001U : 0U);
            edc[i] = crc;
        }
    }
};

const EccTables& eccTables()
{
    static const EccTables tables;
    return tables;
}

void computeEccBlock(const quint8* src, int majorCount, int minorCount, int majorMult, int minorInc,
                     quint8* dest)
{
    const EccTables& t = eccTables();
    const int size = majorCount * minorCount;
    for (int major = 0; major < majorCount; ++major) {
        int index = (major >> 1) * majorMult + (major & 1);
        quint8 a = 0;
        quint8 b = 0;
        for (int minor = 0; minor < minorCount; ++minor) {
            const quint8 value = src[index];
            index += minorInc;
            if (index >= size)
                index -= size;
            a ^= value;
            b ^= value;
            a = t.forward[a];
        }
        a = t.backward[t.forward[a] ^ b];
        dest[major] = a;
        dest[major + majorCount] = a ^ b;
    }
}

void fillDataSector(quint8* sector, qint64 discSector)
{
    std::memset(sector, 0, SectorBytes);
    std::memset(sector + 1, 0xFF, 10);

    const qint64 address = discSector + LeadInSectors;
    sector[12] = static_cast<quint8>(bcd(static_cast<int>(address / (60 * SectorsPerSecond))));
    sector[13] = static_cast<quint8>(bcd(static_cast<int>(address / SectorsPerSecond % 60)));
    sector[14] = static_cast<quint8>(bcd(static_cast<int>(address % SectorsPerSecond)));
    sector[15] = 1;

    // User data: a pattern that differs from sector to sector.
    quint8* user = sector + SyncBytes + HeaderBytes;
    for (int i = 0; i < UserDataBytes; ++i)
        user[i] = static_cast<quint8>((discSector * 7 + i) & 0xFF);

    const EccTables& t = eccTables();
    quint32 edc = 0;
    for (int i = 0; i < SyncBytes + HeaderBytes + UserDataBytes; ++i)
        edc = (edc >> 8) ^ t.edc[(edc ^ sector[i]) & 0xFF];
    quint8* edcBytes = sector + SyncBytes + HeaderBytes + UserDataBytes;
    for (int i = 0; i < 4; ++i)
        edcBytes[i] = static_cast<quint8>(edc >> (8 * i));
    // Eight zero bytes follow, then the P parity (172 bytes) and the Q parity (104 bytes).
    computeEccBlock(sector + 12, 86, 24, 2, 86, sector + 0x81C);
    computeEccBlock(sector + 12, 52, 43, 86, 88, sector + 0x8C8);
}

// Produces the sectors of one track in order, a block at a time, so that the writer never needs
// the whole image in memory and trackPcm() produces exactly the same bytes.
class TrackGenerator
{
public:
    TrackGenerator(const TrackSpec& track, int trackIndex, qint64 firstSector, quint32 seed)
        : m_track(track), m_firstSector(firstSector),
          m_random((quint64(seed) << 32) ^ quint64(quint32(trackIndex)) ^ 0x7A6B7265ULL)
    {
    }

    qint64 remaining() const { return m_track.sectors - m_produced; }

    // Writes the next count sectors (count <= remaining()) to out.
    void generate(char* out, qint64 count)
    {
        if (m_track.kind == TrackKind::Data) {
            for (qint64 i = 0; i < count; ++i)
                fillDataSector(reinterpret_cast<quint8*>(out + i * SectorBytes),
                               m_firstSector + m_produced + i);
        } else {
            const qint64 frames = count * FramesPerSector;
            const qint64 firstFrame = m_produced * FramesPerSector;
            for (qint64 f = 0; f < frames; ++f)
                audioFrame(out + f * 4, firstFrame + f);
        }
        m_produced += count;
    }

private:
    void audioFrame(char* out, qint64 frame)
    {
        switch (m_track.content) {
        case Content::Silence:
            putSample(out, 0);
            putSample(out + 2, 0);
            break;
        case Content::Tone:
            // The right channel is a fifth above the left, so a swap of channels is visible.
            putSample(out, toneSample(m_track.frequency, frame));
            putSample(out + 2, toneSample(m_track.frequency * 1.5, frame));
            break;
        case Content::Noise: {
            // Two independent samples per frame, each within half of full scale.
            const quint64 bits = m_random.next();
            putSample(out, static_cast<int>(bits & 0xFFFF) / 2 - 16384);
            putSample(out + 2, static_cast<int>((bits >> 16) & 0xFFFF) / 2 - 16384);
            break;
        }
        }
    }

    TrackSpec m_track;
    qint64 m_firstSector;
    qint64 m_produced = 0;
    Random m_random;
};

// ---------------------------------------------------------------------------------------------
// Writing

QString msf(qint64 sectors)
{
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(sectors / (60 * SectorsPerSecond)) + QLatin1Char(':') +
           two(sectors / SectorsPerSecond % 60) + QLatin1Char(':') +
           two(sectors % SectorsPerSecond);
}

// Where each track starts on a drive: its place in the .bin plus the gaps of the sessions
// before it.
QList<qint64> discStarts(const DiscSpec& disc)
{
    QList<qint64> starts;
    qint64 start = 0;
    int sessions = 1;
    for (const TrackSpec& track : disc.tracks) {
        if (track.newSession && !starts.isEmpty())
            start += ++sessions == 2 ? FirstSessionGap : LaterSessionGap;
        starts << start;
        start += track.sectors;
    }
    return starts;
}

std::optional<QString> checkDisc(const DiscSpec& disc)
{
    if (disc.tracks.isEmpty())
        return QStringLiteral("a disc needs at least one track");
    if (disc.tracks.first().newSession)
        return QStringLiteral("the first track can't start a new session");
    if (disc.tracks.size() > 99)
        return QStringLiteral("a disc holds at most 99 tracks, not %1").arg(disc.tracks.size());
    const QList<qint64> starts = discStarts(disc);
    for (int i = 0; i < disc.tracks.size(); ++i) {
        const TrackSpec& track = disc.tracks.at(i);
        if (track.sectors <= 0)
            return QStringLiteral("track %1 has no length").arg(i + 1);
        if (track.kind == TrackKind::Audio && track.content == Content::Tone &&
            !validFrequency(track.frequency))
            return QStringLiteral("track %1 has an impossible tone frequency").arg(i + 1);
        if (starts.at(i) + track.sectors > MaxDiscSectors)
            return QStringLiteral("the tracks are longer than a disc can address (%1)")
                .arg(msf(MaxDiscSectors));
    }
    return std::nullopt;
}

QString fileError(const QSaveFile& file)
{
    return QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
}

} // namespace

std::optional<TrackSpec> parseTrack(const QString& text)
{
    QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 2)
        return std::nullopt;

    TrackSpec track;
    QString kind = parts.takeFirst();
    if (kind.startsWith(QLatin1Char('+'))) {
        track.newSession = true;
        kind.remove(0, 1);
    }
    if (kind == QLatin1String("audio"))
        track.kind = TrackKind::Audio;
    else if (kind == QLatin1String("data"))
        track.kind = TrackKind::Data;
    else
        return std::nullopt;

    // The length may itself hold colons (m:ss), so the content is told apart by not starting
    // with a digit.
    if (parts.size() >= 2 && !(parts.last().size() > 0 && parts.last().at(0).isDigit())) {
        if (track.kind == TrackKind::Data || !parseContent(parts.takeLast(), track))
            return std::nullopt;
    }

    const std::optional<qint64> sectors = parseLength(parts.join(QLatin1Char(':')));
    if (!sectors)
        return std::nullopt;
    track.sectors = *sectors;
    return track;
}

std::optional<QString> writeImage(const QString& cuePath, const DiscSpec& disc)
{
    if (const auto problem = checkDisc(disc))
        return problem;

    const QFileInfo cueInfo(cuePath);
    const QString binName = cueInfo.completeBaseName() + QStringLiteral(".bin");
    const QString binPath = cueInfo.dir().filePath(binName);
    if (cueInfo.completeBaseName().isEmpty() || binName.contains(QLatin1Char('"')))
        return QStringLiteral("unusable image name: %1").arg(cuePath);
    if (QFileInfo(binPath).absoluteFilePath() == cueInfo.absoluteFilePath())
        return QStringLiteral("the cue sheet would overwrite its own .bin: %1").arg(cuePath);

    // The .bin goes first so that a cue sheet never points at a missing or partial file.
    QSaveFile bin(binPath);
    if (!bin.open(QIODevice::WriteOnly))
        return fileError(bin);
    QByteArray chunk(ChunkSectors * SectorBytes, Qt::Uninitialized);
    const QList<qint64> discStart = discStarts(disc);
    for (int i = 0; i < disc.tracks.size(); ++i) {
        TrackGenerator generator(disc.tracks.at(i), i, discStart.at(i), disc.seed);
        while (generator.remaining() > 0) {
            const qint64 count = std::min(generator.remaining(), ChunkSectors);
            generator.generate(chunk.data(), count);
            if (bin.write(chunk.constData(), count * SectorBytes) != count * SectorBytes)
                return fileError(bin);
        }
    }
    if (!bin.commit())
        return fileError(bin);

    QString cue = QStringLiteral("FILE \"%1\" BINARY\n").arg(binName);
    qint64 start = 0;
    int session = 1;
    for (int i = 0; i < disc.tracks.size(); ++i) {
        const TrackSpec& track = disc.tracks.at(i);
        if (track.newSession)
            cue += QStringLiteral("  REM SESSION %1\n").arg(++session, 2, 10, QLatin1Char('0'));
        cue += QStringLiteral("  TRACK %1 %2\n")
                   .arg(i + 1, 2, 10, QLatin1Char('0'))
                   .arg(track.kind == TrackKind::Audio ? QStringLiteral("AUDIO")
                                                       : QStringLiteral("MODE1/2352"));
        cue += QStringLiteral("    INDEX 01 %1\n").arg(msf(start));
        start += track.sectors;
    }

    QSaveFile cueFile(cuePath);
    if (!cueFile.open(QIODevice::WriteOnly))
        return fileError(cueFile);
    const QByteArray cueBytes = cue.toUtf8();
    if (cueFile.write(cueBytes) != cueBytes.size() || !cueFile.commit())
        return fileError(cueFile);
    return std::nullopt;
}

QByteArray trackPcm(const DiscSpec& disc, int trackIndex)
{
    // Anything that is not an audio track has no PCM: the result is empty.
    if (trackIndex < 0 || trackIndex >= disc.tracks.size())
        return {};
    const TrackSpec& track = disc.tracks.at(trackIndex);
    if (track.kind != TrackKind::Audio || track.sectors <= 0 || track.sectors > MaxDiscSectors)
        return {};

    QByteArray pcm(track.sectors * SectorBytes, Qt::Uninitialized);
    TrackGenerator(track, trackIndex, 0, disc.seed).generate(pcm.data(), track.sectors);
    return pcm;
}

} // namespace discimage
