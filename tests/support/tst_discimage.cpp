#include "tests/support/discimage.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>

using namespace discimage;

class TestDiscImage : public QObject
{
    Q_OBJECT

private slots:
    void parseTrack_data();
    void parseTrack();
    void writtenImageMatchesDescription();
    void noiseFollowsSeed();
    void writeErrors();
};

namespace
{

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int sample(const QByteArray& pcm, qsizetype index)
{
    return qint16(quint8(pcm.at(2 * index)) | (quint8(pcm.at(2 * index + 1)) << 8));
}

} // namespace

void TestDiscImage::parseTrack_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("audio");
    QTest::addColumn<qint64>("sectors");
    QTest::addColumn<int>("content");
    QTest::addColumn<double>("frequency");

    const int tone = int(Content::Tone);
    const int noise = int(Content::Noise);
    const int silence = int(Content::Silence);
    const auto good = [](const char* name, bool audio, qint64 sectors, int content, double hz) {
        QTest::newRow(name) << QString::fromLatin1(name) << true << audio << sectors << content
                            << hz;
    };
    good("audio:65", true, 4875, tone, 440);
    good("audio:4.5:noise", true, 338, noise, 440); // 337.5 sectors rounds up
    good("audio:0.02", true, 2, tone, 440);         // exactly 1.5 sectors
    good("audio:4:05.120:tone=660", true, 18384, tone, 660);
    good("audio:0:45:silence", true, 3375, silence, 440);
    good("audio:18375s:tone=1000.5", true, 18375, tone, 1000.5);
    good("data:10", false, 750, tone, 440);
    good("data:1s", false, 1, tone, 440);
    good("+data:10", false, 750, tone, 440);

    for (const char* bad : {"",
                            "audio",
                            "audio:",
                            "video:5",
                            "Audio:5",
                            "audio:0",
                            "audio:0s",
                            "audio:0.006",
                            "audio:-5",
                            "audio:+5",
                            "audio:5x",
                            "audio:1.",
                            "audio:4:60",
                            "audio:4:5",
                            "audio:1:2:3",
                            "audio:5:",
                            "audio:5:buzz",
                            "audio:5:tone=",
                            "audio:5:tone=0",
                            "audio:5:tone=-3",
                            "audio:5:tone=22050",
                            "audio:5:noise:tone",
                            "data:5:noise",
                            "++data:10",
                            "audio:2000:00"})
        QTest::newRow(bad) << QString::fromLatin1(bad) << false << false << qint64(0) << 0 << 0.0;
}

void TestDiscImage::parseTrack()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);

    const std::optional<TrackSpec> track = discimage::parseTrack(text);
    QCOMPARE(track.has_value(), valid);
    if (!valid)
        return;
    QFETCH(bool, audio);
    QFETCH(qint64, sectors);
    QCOMPARE(track->kind, audio ? TrackKind::Audio : TrackKind::Data);
    QCOMPARE(track->sectors, sectors);
    QCOMPARE(track->newSession, text.startsWith(QLatin1Char('+')));
    if (audio) {
        QFETCH(int, content);
        QFETCH(double, frequency);
        QCOMPARE(int(track->content), content);
        if (track->content == Content::Tone)
            QCOMPARE(track->frequency, frequency);
    }
}

void TestDiscImage::writtenImageMatchesDescription()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DiscSpec disc;
    disc.seed = 42;
    // The data track starts at address 00:04:15 (lead-in included), where BCD differs from
    // binary; the noise track is longer than the writer's blocks.
    disc.tracks = {
        {TrackKind::Audio, 165, Content::Tone, 440.0},
        {TrackKind::Data, 10, Content::Tone, 440.0},
        {TrackKind::Audio, 338, Content::Noise, 440.0},
        {TrackKind::Audio, 3, Content::Silence, 440.0},
    };
    const QString cuePath = dir.filePath(QStringLiteral("disc.cue"));
    const std::optional<QString> error = writeImage(cuePath, disc);
    QVERIFY2(!error, qPrintable(error.value_or(QString())));

    const QByteArray bin = readAll(dir.filePath(QStringLiteral("disc.bin")));
    QCOMPARE(bin.size(), qsizetype(516) * SectorBytes);

    const QString cue = QString::fromUtf8(readAll(cuePath));
    QVERIFY(cue.startsWith(QStringLiteral("FILE \"disc.bin\" BINARY\n")));
    const QRegularExpression trackLine(QStringLiteral("TRACK ([0-9][0-9]) (\\S+)"));
    QStringList tracks;
    for (const auto& m : trackLine.globalMatch(cue))
        tracks << m.captured(1) + QLatin1Char(' ') + m.captured(2);
    QCOMPARE(tracks, (QStringList{QStringLiteral("01 AUDIO"), QStringLiteral("02 MODE1/2352"),
                                  QStringLiteral("03 AUDIO"), QStringLiteral("04 AUDIO")}));
    const QRegularExpression indexLine(QStringLiteral("INDEX 01 (\\S+)"));
    QStringList indexes;
    for (const auto& m : indexLine.globalMatch(cue))
        indexes << m.captured(1);
    QCOMPARE(indexes, (QStringList{QStringLiteral("00:00:00"), QStringLiteral("00:02:15"),
                                   QStringLiteral("00:02:25"), QStringLiteral("00:06:63")}));

    const QList<qint64> starts = {0, 165, 175, 513};
    for (int i : {0, 2, 3}) {
        const QByteArray pcm = trackPcm(disc, i);
        QCOMPARE(pcm.size(), disc.tracks.at(i).sectors * SectorBytes);
        QVERIFY2(pcm == bin.mid(starts.at(i) * SectorBytes, pcm.size()),
                 qPrintable(QString::number(i)));
    }
    QVERIFY(trackPcm(disc, 1).isEmpty());
    QCOMPARE(trackPcm(disc, 3), QByteArray(3 * SectorBytes, '\0'));

    // The tone is about half of full scale, and the channels differ.
    const QByteArray tone = trackPcm(disc, 0);
    int peak = 0;
    int sameChannels = 0;
    for (qsizetype frame = 0; frame < tone.size() / 4; ++frame) {
        peak = std::max(peak, std::abs(sample(tone, 2 * frame)));
        sameChannels += sample(tone, 2 * frame) == sample(tone, 2 * frame + 1);
    }
    QVERIFY2(peak > 14000 && peak < 18000, qPrintable(QString::number(peak)));
    QVERIFY(sameChannels < tone.size() / 4 / 10);

    const auto expectHeader = [&](qint64 sector, const QByteArray& header) {
        const QByteArray raw = bin.mid(sector * SectorBytes, SectorBytes);
        QCOMPARE(raw.left(12), QByteArray::fromHex("00ffffffffffffffffffff00"));
        QCOMPARE(raw.mid(12, 4), header);
    };
    expectHeader(165, QByteArray::fromHex("00041501"));
    expectHeader(174, QByteArray::fromHex("00042401"));
}

void TestDiscImage::noiseFollowsSeed()
{
    DiscSpec disc;
    disc.seed = 7;
    disc.tracks = {{TrackKind::Audio, 20, Content::Noise, 440.0},
                   {TrackKind::Audio, 20, Content::Noise, 440.0}};
    const QByteArray first = trackPcm(disc, 0);
    QCOMPARE(trackPcm(disc, 0), first);
    QVERIFY(trackPcm(disc, 1) != first);
    QVERIFY(first.count(QByteArray(4, '\0')) < 10);

    DiscSpec other = disc;
    other.seed = 8;
    QVERIFY(trackPcm(other, 0) != first);

    // Two writes of the same description give identical images.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!writeImage(dir.filePath(QStringLiteral("a.cue")), disc));
    QVERIFY(!writeImage(dir.filePath(QStringLiteral("b.cue")), disc));
    QCOMPARE(readAll(dir.filePath(QStringLiteral("a.bin"))),
             readAll(dir.filePath(QStringLiteral("b.bin"))));
}

void TestDiscImage::writeErrors()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    DiscSpec disc;
    QVERIFY(writeImage(dir.filePath(QStringLiteral("empty.cue")), disc));

    disc.tracks = {{TrackKind::Audio, 10, Content::Silence, 440.0}};
    QVERIFY(writeImage(dir.filePath(QStringLiteral("missing/disc.cue")), disc));
    QVERIFY(writeImage(dir.filePath(QStringLiteral("disc.bin")), disc));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("disc.bin"))));
}

QTEST_GUILESS_MAIN(TestDiscImage)
#include "tst_discimage.moc"
