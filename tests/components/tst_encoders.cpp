#include "components/audiofile/audioencoder.h"
#include "support/decoders.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <numbers>

Q_DECLARE_METATYPE(EncoderSettings)

namespace
{

constexpr int Seconds = 3;
constexpr qint64 Frames = qint64(Seconds) * AudioEncoder::InputRate;

// Left and right differ in pitch and level, so swapped, duplicated or mis-scaled channels show.
QList<qint16> stereoTones()
{
    QList<qint16> pcm(Frames * 2);
    for (qint64 i = 0; i < Frames; ++i) {
        const double t = double(i) / AudioEncoder::InputRate;
        pcm[2 * i] = qint16(std::lround(16000 * std::sin(2 * std::numbers::pi * 440 * t)));
        pcm[2 * i + 1] = qint16(std::lround(4000 * std::sin(2 * std::numbers::pi * 1000 * t)));
    }
    return pcm;
}

// Feeds the audio in uneven pieces (a CD sector, a single frame, more than a second), the way
// grabbing and the encoders' own chunking can meet.
Status encodeAll(AudioEncoder& encoder, QIODevice& out, const QList<qint16>& pcm,
                 qint64 announcedFrames)
{
    Status status = encoder.begin(out, announcedFrames);
    const qsizetype pieces[] = {588, 1, 60000};
    qsizetype at = 0;
    for (int n = 0; status && at < pcm.size(); ++n) {
        const qsizetype frames = std::min(pieces[n % 3], (pcm.size() - at) / 2);
        status = encoder.encode(std::span(pcm.constData() + at, frames * 2));
        at += frames * 2;
    }
    return status ? encoder.finish() : status;
}

EncoderSettings makeSettings(Mp3EncoderSettings mp3, OggFormat ogg = {}, int wmaProfile = 8)
{
    return {mp3, ogg, wmaProfile};
}

// A disk that fills up after a number of bytes.
class FullDisk : public QIODevice
{
public:
    explicit FullDisk(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 bytes) override
    {
        if (pos() + bytes > m_room) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_size = std::max(m_size, pos() + bytes);
        return bytes;
    }

private:
    qint64 m_room;
    qint64 m_size = 0;
};

} // namespace

class TestEncoders : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<qint16> m_pcm = stereoTones();

    // The RMS level of each channel after ffmpeg decodes the file.
    static QList<double> decodedLevels(const QString& path, int channels)
    {
        const QByteArray bytes = decoders::run(QStringLiteral("ffmpeg"),
                                               QStringLiteral("-v error -i FILE -f s16le -"), path);
        const qsizetype samples = bytes.size() / 2;
        QList<double> sums(channels, 0.0);
        for (qsizetype i = 0; i < samples; ++i) {
            const double v = qFromLittleEndian<qint16>(bytes.constData() + 2 * i);
            sums[i % channels] += v * v;
        }
        for (double& sum : sums)
            sum = std::sqrt(sum / double(std::max<qsizetype>(1, samples / channels)));
        return sums;
    }

    QString encodeFile(const QString& extension, const EncoderSettings& settings,
                       qint64 announcedFrames = Frames)
    {
        auto encoder = makeEncoder(extension, settings);
        if (!encoder) {
            qWarning() << encoder.error();
            return {};
        }
        const QString path =
            m_dir.filePath(QStringLiteral("out") + QString::number(++m_files) + extension);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        const Status status = encodeAll(*encoder.value(), file, m_pcm, announcedFrames);
        if (!status)
            qWarning() << status.error();
        return status ? path : QString();
    }

    int m_files = 0;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void wavIsBitExactWithCorrectedSizes()
    {
        // Announce too few frames: finish() must write the real sizes.
        const QString path = encodeFile(QStringLiteral(".wav"), {}, 1000);
        QVERIFY(!path.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QByteArray pcm(reinterpret_cast<const char*>(m_pcm.constData()), Frames * 4);
        QCOMPARE(bytes.size(), 44 + pcm.size());
        QCOMPARE(bytes.mid(44), pcm);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(36 + pcm.size()));
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 40), quint32(pcm.size()));
        SKIP_WITHOUT_TOOL("ffprobe");
        const auto info = decoders::probe(path);
        QCOMPARE(info.value(QStringLiteral("codec_name")), QStringLiteral("pcm_s16le"));
        QCOMPARE(info.value(QStringLiteral("duration")).toDouble(), double(Seconds));
    }

    void lossyFormats_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<EncoderSettings>("settings");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");

        const QString mp3 = QStringLiteral(".mp3");
        const QString ogg = QStringLiteral(".ogg");
        const QString wma = QStringLiteral(".wma");
        QTest::newRow("mp3 cbr 128") << mp3 << EncoderSettings{} << 44100 << 2;
        QTest::newRow("mp3 vbr") << mp3 << makeSettings({.VbrMode = 0, .VbrMaxBitrate = 256})
                                 << 44100 << 2;
        QTest::newRow("mp3 abr forced joint")
            << mp3 << makeSettings({.VbrMode = 4, .ChannelMode = 3}) << 44100 << 2;
        QTest::newRow("mp3 mono 22050")
            << mp3 << makeSettings({.SampleRate = 22050, .CbrBitrate = 64, .Channels = 1}) << 22050
            << 1;
        QTest::newRow("ogg quality 3") << ogg << EncoderSettings{} << 44100 << 2;
        QTest::newRow("ogg managed")
            << ogg << makeSettings({}, {44100, 2, 128, 64, 192, -1}) << 44100 << 2;
        QTest::newRow("ogg 22050 mono")
            << ogg << makeSettings({}, {22050, 1, 128, 0, 0, 400}) << 22050 << 1;
        QTest::newRow("wma profile 0") << wma << makeSettings({}, {}, 0) << 22050 << 1;
        QTest::newRow("wma profile 3") << wma << makeSettings({}, {}, 3) << 32000 << 2;
        QTest::newRow("wma profile 10") << wma << makeSettings({}, {}, 10) << 44100 << 2;
    }

    void lossyFormats()
    {
        QFETCH(QString, extension);
        QFETCH(EncoderSettings, settings);
        QFETCH(int, rate);
        QFETCH(int, channels);
        const QMap<QString, QString> codecs{{QStringLiteral(".mp3"), QStringLiteral("mp3")},
                                            {QStringLiteral(".ogg"), QStringLiteral("vorbis")},
                                            {QStringLiteral(".wma"), QStringLiteral("wmav2")}};

        const QString path = encodeFile(extension, settings);
        QVERIFY(!path.isEmpty());
        SKIP_WITHOUT_TOOL("ffprobe");
        SKIP_WITHOUT_TOOL("ffmpeg");
        const auto info = decoders::probe(path);
        QCOMPARE(info.value(QStringLiteral("codec_name")), codecs.value(extension));
        QCOMPARE(info.value(QStringLiteral("sample_rate")).toInt(), rate);
        QCOMPARE(info.value(QStringLiteral("channels")).toInt(), channels);
        const double duration = info.value(QStringLiteral("duration")).toDouble();
        QVERIFY2(std::abs(duration - Seconds) < 0.1, qPrintable(QString::number(duration)));

        // A sine's RMS is its amplitude / sqrt 2; the mono mix holds both tones at half.
        const double stereoLevels[] = {16000 / std::numbers::sqrt2, 4000 / std::numbers::sqrt2};
        const double monoLevel = std::hypot(8000, 2000) / std::numbers::sqrt2;
        const QList<double> levels = decodedLevels(path, channels);
        for (int c = 0; c < channels; ++c) {
            const double expected = channels == 1 ? monoLevel : stereoLevels[c];
            QVERIFY2(std::abs(levels[c] / expected - 1) < 0.1,
                     qPrintable(QStringLiteral("channel %1: %2").arg(c).arg(levels[c])));
        }
    }

    void everyWmaProfileEncodes()
    {
        int previousBitrate = 0;
        for (int index = 0; index < encoders::WmaProfileCount; ++index) {
            const WmaProfile profile = encoders::wmaProfile(index);
            QVERIFY(profile.bitrate >= previousBitrate);
            previousBitrate = profile.bitrate;
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            const Status status =
                encodeAll(*makeEncoder(QStringLiteral("wma"), makeSettings({}, {}, index)).take(),
                          buffer, m_pcm, Frames);
            QVERIFY2(status, qPrintable(QString::number(index) + u' ' + status.error()));
            // Near the nominal bitrate: ASF packets padded half empty would show here.
            const qint64 nominal = qint64(profile.bitrate) * 1000 / 8 * Seconds;
            QVERIFY2(buffer.size() > nominal / 2 && buffer.size() < nominal * 11 / 10 + 8000,
                     qPrintable(QString::number(buffer.size())));
        }
        const WmaProfile everyday = encoders::wmaProfile(EncoderSettings{}.wmaProfile);
        QCOMPARE(everyday.bitrate, 128);
        QCOMPARE(everyday.sampleRate, 44100);
        QCOMPARE(everyday.channels, 2);
        QCOMPARE(encoders::wmaProfile(-3).bitrate, encoders::wmaProfile(0).bitrate);
        QCOMPARE(encoders::wmaProfile(99).bitrate, encoders::wmaProfile(10).bitrate);
    }

    void oggFormatValidity()
    {
        QVERIFY(encoders::isOggFormatValid(44100, 2, 128, 0, 0));
        QVERIFY(encoders::isOggFormatValid(22050, 1, 64, 32, 96));
        QVERIFY(!encoders::isOggFormatValid(44100, 2, 2000, 0, 0));
        QVERIFY(!encoders::isOggFormatValid(44100, 6, 128, 0, 0));
    }

    void refusedSetups_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<EncoderSettings>("settings");

        QTest::newRow("mp3 odd rate")
            << QStringLiteral(".mp3") << makeSettings({.SampleRate = 12345});
        QTest::newRow("ogg 2000 kbit/s")
            << QStringLiteral(".ogg") << makeSettings({}, {44100, 2, 2000, 0, 0, -1});
    }

    void refusedSetups()
    {
        QFETCH(QString, extension);
        QFETCH(EncoderSettings, settings);
        auto encoder = makeEncoder(extension, settings).take();
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const Status status = encoder->begin(buffer, Frames);
        QVERIFY(!status);
        QVERIFY(!status.error().isEmpty());
        QVERIFY(!encoder->encode(std::span(m_pcm.constData(), 1000)));
    }

    void extensions_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("error");
        QTest::newRow("upper case") << QStringLiteral(".WAV") << QString();
        QTest::newRow("without dot") << QStringLiteral("ogg") << QString();
        QTest::newRow("ape") << QStringLiteral(".ape")
                             << QStringLiteral("There is no encoder for the file extension "
                                               "\".ape\".");
        QTest::newRow("none") << QString()
                              << QStringLiteral("There is no encoder for a file without an "
                                                "extension.");
    }

    void extensions()
    {
        QFETCH(QString, extension);
        QFETCH(QString, error);
        const auto encoder = makeEncoder(extension, {});
        QCOMPARE(encoder.ok(), error.isEmpty());
        QCOMPARE(encoder.error(), error);
    }

    void fullDisk_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<qint64>("room");
        for (const char* extension : {".wav", ".mp3", ".ogg", ".wma", ".flac"}) {
            for (qint64 room : {0, 8000}) {
                QTest::addRow("%s %lld", extension, room) << QString::fromLatin1(extension) << room;
            }
        }
    }

    void fullDisk()
    {
        QFETCH(QString, extension);
        QFETCH(qint64, room);
        FullDisk disk(room);
        const Status status = encodeAll(*makeEncoder(extension, {}).take(), disk, m_pcm, Frames);
        QVERIFY(!status);
        QVERIFY2(status.error().contains(QStringLiteral("No space left on device")),
                 qPrintable(status.error()));
    }

    void descriptions_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("expected");

        QTest::newRow("wav") << encoders::describeWav()
                             << QStringLiteral("WAV, PCM 16 bit, 44 100 Hz, stereo");
        QTest::newRow("mp3") << encoders::describeMp3({})
                             << QStringLiteral("MP3, 128 kbit/s CBR, 44 100 Hz, joint stereo");
        QTest::newRow("mp3 vbr")
            << encoders::describeMp3({.VbrMode = 0, .VbrMaxBitrate = 320})
            << QStringLiteral("MP3, VBR quality 4 (max 320 kbit/s), 44 100 Hz, joint stereo");
        QTest::newRow("mp3 mono") << encoders::describeMp3(
                                         {.SampleRate = 22050, .CbrBitrate = 64, .Channels = 1})
                                  << QStringLiteral("MP3, 64 kbit/s CBR, 22 050 Hz, mono");
        QTest::newRow("ogg") << encoders::describeOgg({})
                             << QStringLiteral("Ogg Vorbis, quality 3, 44 100 Hz, stereo");
        QTest::newRow("ogg managed")
            << encoders::describeOgg({44100, 2, 128, 64, 192, -1})
            << QStringLiteral("Ogg Vorbis, 128 kbit/s (min 64, max 192), 44 100 Hz, stereo");
        QTest::newRow("wma") << encoders::describeWma(8)
                             << QStringLiteral("Windows Media Audio 2, 128 kbit/s, 44 100 Hz, "
                                               "stereo");
    }

    void descriptions()
    {
        QFETCH(QString, description);
        QFETCH(QString, expected);
        QCOMPARE(description, expected);
    }
};

QTEST_GUILESS_MAIN(TestEncoders)
#include "tst_encoders.moc"
