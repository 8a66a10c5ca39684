#include "components/accuraterip/discids.h"
#include "components/cdio/cdiograbber.h"
#include "support/discimage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace discimage;

namespace
{

constexpr qsizetype Sector = 2352;

// Noise of the given length: a sector out of place shows.
QByteArray noise(qint64 sectors, quint32 seed)
{
    return trackPcm({{{TrackKind::Audio, sectors, Content::Noise, 0}}, seed}, 0);
}

const QByteArray A = noise(300, 1); // 4 s
const QByteArray B = noise(225, 2); // 3 s
const QByteArray C = noise(150, 3); // 2 s

QByteArray silence(qint64 sectors)
{
    return QByteArray(sectors * Sector, '\0');
}

QByteArray swapped(QByteArray pcm)
{
    for (qsizetype i = 0; i + 1 < pcm.size(); i += 2)
        std::swap(pcm[i], pcm[i + 1]);
    return pcm;
}

// Writes a data file: a sound file through sox when its name says so, else the bytes as they are.
bool writeFile(const QString& path, const QByteArray& bytes)
{
    if (path.endsWith(QLatin1String(".wav")) || path.endsWith(QLatin1String(".flac")) ||
        path.endsWith(QLatin1String(".aiff"))) {
        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-r44100"),
                   QStringLiteral("-esigned"), QStringLiteral("-b16"), QStringLiteral("-c2"),
                   QStringLiteral("-L"), QStringLiteral("-"), path});
        sox.write(bytes);
        sox.closeWriteChannel();
        return sox.waitForFinished(30000) && sox.exitCode() == 0;
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The image's files in a folder of their own; the sheet is "Album.cue", or "Album.toc" for a
// cdrdao table of contents.
QString writeImage(const QString& folder, const QByteArray& sheet,
                   const QList<std::pair<QString, QByteArray>>& files)
{
    for (const auto& [name, bytes] : files) {
        if (!writeFile(QDir(folder).filePath(name), bytes))
            qFatal("cannot write %s", qPrintable(name));
    }
    const QString cue = QDir(folder).filePath(
        sheet.startsWith("CD_DA") ? QStringLiteral("Album.toc") : QStringLiteral("Album.cue"));
    writeFile(cue, sheet);
    return cue;
}

using Files = QList<std::pair<QString, QByteArray>>;

// A Nero image of one second of silence in one track. daoxLength replaces the length its DAOX
// chunk gives; footerAt the chunk table's offset its footer gives.
QByteArray nrgImage(quint32 daoxLength = 60, quint64 footerAt = 10 * Sector)
{
    QByteArray image(10 * Sector, '\0');
    // CUEX: lead-in, track 1 index 1 at 0, lead-out at sector 10; DAOX: one track of 2352-byte
    // sectors from byte 0 to 23520; SINF: one track; END!.
    image += QByteArray::fromHex("435545580000001841000000ffffff6a410101000000000001aa01000000000a"
                                 "44414f580000003c000000000000000000000000000000000101000000000000"
                                 "0000000000000930000000000000000000000000000000000000000000000000"
                                 "00005be053494e460000000400000001454e442100000000");
    qToBigEndian<quint32>(daoxLength, image.data() + 10 * Sector + 36);
    image += "NER5";
    image.resize(image.size() + 8);
    qToBigEndian<quint64>(footerAt, image.data() + image.size() - 8);
    return image;
}

QString openError(CdioGrabber& grabber)
{
    if (!grabber.Refresh().ok())
        return QStringLiteral("no refresh");
    (void)grabber.SetCurrentDrive(grabber.DriveCount());
    return grabber.SessionCount().error();
}

} // namespace

Q_DECLARE_METATYPE(Files)

class TestCueImage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString rowFolder()
    {
        const QString folder = m_dir.filePath(QString::fromUtf8(QTest::currentDataTag()));
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void realSheetsRipBitExact_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<Files>("files");
        QTest::addColumn<int>("track");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray two = "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
                               "INDEX 01 00:04:00\n";

        // The unrelated Album.bin beside the sheet must not be read in its place.
        QTest::newRow("file named otherwise")
            << "FILE \"Album (Disc 1).bin\" BINARY\n" + two
            << Files{{QStringLiteral("Album (Disc 1).bin"), A + B},
                     {QStringLiteral("Album.bin"), C + C + C}}
            << 1 << B;
        QTest::newRow("FILE name in another case")
            << "FILE \"ALBUM.BIN\" BINARY\n" + two << Files{{QStringLiteral("Album.bin"), A + B}}
            << 1 << B;
        QTest::newRow("BOM and CRLF") << QByteArray("\xEF\xBB\xBF"
                                                    "FILE \"disc.bin\" BINARY\n" +
                                                    two)
                                             .replace("\n", "\r\n")
                                      << Files{{QStringLiteral("disc.bin"), A + B}} << 0 << A;
        QTest::newRow("Latin-1 name") << "TITLE \"Caf\xE9\"\nFILE \"Caf\xE9.bin\" BINARY\n" + two
                                      << Files{{QStringLiteral("Caf\u00e9.bin"), A + B}} << 1 << B;
        // A track runs to the next one's INDEX 01: its POSTGAP and the next one's PREGAP are
        // silence at its end.
        const QByteArray gaps = "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                "POSTGAP 00:01:00\nTRACK 02 AUDIO\nPREGAP 00:02:00\n"
                                "INDEX 01 00:04:00\nPOSTGAP 00:00:10\n";
        QTest::newRow("POSTGAP and PREGAP")
            << gaps << Files{{QStringLiteral("disc.bin"), A + B}} << 0 << A + silence(225);
        QTest::newRow("POSTGAP of the last track")
            << gaps << Files{{QStringLiteral("disc.bin"), A + B}} << 1 << B + silence(10);
        QTest::newRow("INDEX 00 pregaps")
            << QByteArray("FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\n"
                          "INDEX 01 00:01:00\nTRACK 02 AUDIO\nINDEX 00 00:03:00\n"
                          "INDEX 01 00:04:00\n")
            << Files{{QStringLiteral("disc.bin"), A + B}} << 0 << A.mid(75 * Sector);
        QTest::newRow("first track 67")
            << QByteArray("FILE \"disc.bin\" BINARY\nTRACK 67 AUDIO\nINDEX 01 00:00:00\n"
                          "TRACK 68 AUDIO\nINDEX 01 00:04:00\n")
            << Files{{QStringLiteral("disc.bin"), A + B}} << 1 << B;
        // Track 2's pregap ends the first file, its INDEX 01 starts the second.
        QTest::newRow("several files")
            << QByteArray("FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                          "TRACK 02 AUDIO\nINDEX 00 00:03:00\nFILE \"b.bin\" BINARY\n"
                          "INDEX 01 00:00:00\nFILE \"c.bin\" BINARY\nTRACK 03 AUDIO\n"
                          "INDEX 01 00:00:00\n")
            << Files{{QStringLiteral("a.bin"), A},
                     {QStringLiteral("b.bin"), B},
                     {QStringLiteral("c.bin"), C}}
            << 1 << B;
        QTest::newRow("data track of 2048-byte sectors")
            << QByteArray("FILE \"data.bin\" BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n"
                          "FILE \"audio.bin\" BINARY\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n")
            << Files{{QStringLiteral("data.bin"), QByteArray(2048 * 150, 'd')},
                     {QStringLiteral("audio.bin"), A}}
            << 1 << A;
        QTest::newRow("MOTOROLA") << "FILE \"disc.bin\" MOTOROLA\n" + two
                                  << Files{{QStringLiteral("disc.bin"), swapped(A + B)}} << 1 << B;
        QTest::newRow("WAVE file per track")
            << QByteArray("FILE \"01.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                          "FILE \"02.wav\" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n")
            << Files{{QStringLiteral("01.wav"), A}, {QStringLiteral("02.wav"), B}} << 1 << B;
        QTest::newRow("FLAC") << "FILE \"disc.flac\" FLAC\n" + two
                              << Files{{QStringLiteral("disc.flac"), A + B}} << 1 << B;
        QTest::newRow("AIFF") << "FILE \"disc.aiff\" AIFF\n" + two
                              << Files{{QStringLiteral("disc.aiff"), A + B}} << 1 << B;
        // The data file is found beside the .toc, whatever the working folder; libcdio reads
        // it in a child process, straight or through paranoia's verification.
        const QByteArray toc = "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:04:00\n"
                               "TRACK AUDIO\nFILE \"disc.bin\" 00:04:00 00:03:00\n";
        QTest::newRow(".toc") << toc << Files{{QStringLiteral("disc.bin"), A + B}} << 1 << B;
        QTest::newRow(".toc verified")
            << toc << Files{{QStringLiteral("disc.bin"), A + B}} << 0 << A;
    }

    void realSheetsRipBitExact()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(Files, files);
        QFETCH(int, track);
        QFETCH(QByteArray, expected);
        const QString folder = rowFolder();
        CdioGrabber grabber({writeImage(folder, sheet, files)});
        grabber.setParanoiaOnImages(QByteArray(QTest::currentDataTag()).endsWith("verified"));
        const QString error = openError(grabber);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(grabber.SetCurrentTrack(track).ok());
        QCOMPARE(grabber.TrackType(), CdGrabber::TrackTypeAudio);
        QCOMPARE(grabber.TrackSectors(), expected.size() / Sector);

        QSignalSpy progress(&grabber, &CdGrabber::OperationProgress);
        QSignalSpy failed(&grabber, &CdGrabber::GrabFailed);
        const QString wav = QDir(folder).filePath(QStringLiteral("rip.wav"));
        QVERIFY(grabber.GrabTrack(wav).ok());
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !failed.isEmpty() || (!progress.isEmpty() && progress.last().at(0) == 100.0);
            },
            30000));
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
        QFile rip(wav);
        QVERIFY(rip.open(QIODevice::ReadOnly));
        const QByteArray pcm = rip.readAll().mid(44);
        QCOMPARE(pcm.size(), expected.size());
        QVERIFY(pcm == expected);
    }

    // Disc shapes as sheets write them, through the cue reader and the grabber to the disc's
    // ids. Each expected id is worked out from the published definitions, not from this code:
    // AccurateRip (the audio tracks' first sectors and the disc's lead-out; id 2 weighs each by
    // its audio track number, the lead-out by the count plus one; the record is named
    // dBAR-<audio tracks>-<id1>-<id2>-<freedb id>), freedb (the digit sums of every track's
    // start in seconds from the lead-in, modulo 255; the disc's length in seconds; the track
    // count) and MusicBrainz (base64 of SHA-1 over the first and last track numbers and the 100
    // offsets from the lead-in, lead-out first, of the audio session only; +/= as ._-). The
    // sums were done with a few lines of Python beside the definitions.
    void discShapes_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<qint64>("binSectors");
        QTest::addColumn<QString>("tracks"); // number/session/first sector/length, ...
        QTest::addColumn<QString>("accurateRip");
        QTest::addColumn<QString>("musicBrainz");

        const QByteArray head = "FILE \"d.bin\" BINARY\n";
        QTest::newRow("plain") << head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                         "TRACK 02 AUDIO\nINDEX 01 00:04:00\n"
                               << qint64(750) << QStringLiteral("1/1/0/300, 2/1/300/450")
                               << QStringLiteral("dBAR-002-0000041a-00000b23-08000a02")
                               << QStringLiteral("CcAF1JvA7UlpvhdJkakQLMCLBkU-");
        // The data session lies 11,400 sectors after the audio session's end; the last audio
        // track (200 sectors, shorter than the gap) ends where its session does.
        const QByteArray enhanced = "TRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                    "TRACK 02 AUDIO\nINDEX 01 00:04:00\n";
        const QString enhancedTracks = QStringLiteral("1/1/0/300, 2/1/300/200, 3/2/11900/300");
        QTest::newRow("enhanced, REM SESSION")
            << head + enhanced + "REM SESSION 02\nTRACK 03 MODE1/2352\nINDEX 01 00:06:50\n"
            << qint64(800) << enhancedTracks
            << QStringLiteral("dBAR-002-000030d4-00009151-0f00a203")
            << QStringLiteral("Q5WK2QKrr858F2nM3jTG0gnUscs-");
        QTest::newRow("enhanced, the gap as a PREGAP")
            << head + enhanced + "TRACK 03 MODE1/2352\nPREGAP 02:32:00\nINDEX 01 00:06:50\n"
            << qint64(800) << enhancedTracks
            << QStringLiteral("dBAR-002-000030d4-00009151-0f00a203")
            << QStringLiteral("Q5WK2QKrr858F2nM3jTG0gnUscs-");
        // The last audio track (12,000 sectors) longer than the gap.
        QTest::newRow("enhanced, long last audio track")
            << head + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:04:00\n"
                      "REM SESSION 02\nTRACK 03 MODE1/2352\nINDEX 01 02:44:00\n"
            << qint64(12600) << QStringLiteral("1/1/0/300, 2/1/300/12000, 3/2/23700/300")
            << QStringLiteral("dBAR-002-00005eec-00011b99-14014003")
            << QStringLiteral("adPzgFtuDDaQX14daGQPeXwux0I-");
        QByteArray ninetyNine = head;
        QStringList ninetyNineTracks;
        for (int t = 1; t <= 99; ++t) {
            ninetyNine += QStringLiteral("TRACK %1 AUDIO\nINDEX 01 %2:%3:00\n")
                              .arg(t, 2, 10, QLatin1Char('0'))
                              .arg((t - 1) / 60, 2, 10, QLatin1Char('0'))
                              .arg((t - 1) % 60, 2, 10, QLatin1Char('0'))
                              .toLatin1();
            ninetyNineTracks << QStringLiteral("%1/1/%2/75").arg(t).arg((t - 1) * 75);
        }
        QTest::newRow("99 tracks")
            << ninetyNine << qint64(99 * 75) << ninetyNineTracks.join(QStringLiteral(", "))
            << QStringLiteral("dBAR-099-0005aa32-017d6e7d-87006363")
            << QStringLiteral("miAvuJjUmDbloemWcfxRtzM5MG4-");
        QTest::newRow("first track 3")
            << head + "TRACK 03 AUDIO\nINDEX 01 00:00:00\n"
                      "TRACK 04 AUDIO\nINDEX 01 00:04:00\n"
                      "TRACK 05 AUDIO\nINDEX 01 00:10:00\n"
            << qint64(975) << QStringLiteral("3/1/0/300, 4/1/300/450, 5/1/750/225")
            << QStringLiteral("dBAR-003-000007e9-00001a5f-0b000d03")
            << QStringLiteral("tPNLhj5NoIMt417r4Y3LipvGbbA-");
        QTest::newRow("mixed mode")
            << head + "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                      "TRACK 02 AUDIO\nINDEX 01 00:04:00\n"
                      "TRACK 03 AUDIO\nINDEX 01 00:10:00\n"
            << qint64(975) << QStringLiteral("1/1/0/300, 2/1/300/450, 3/1/750/225")
            << QStringLiteral("dBAR-002-000007e9-00001275-0b000d03")
            << QStringLiteral("pYJp5huSjS3czocgaDqqLKpiljs-");
    }

    void discShapes()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(qint64, binSectors);
        QFETCH(QString, tracks);
        QFETCH(QString, accurateRip);
        QFETCH(QString, musicBrainz);
        const QString folder = rowFolder();
        QVERIFY(writeFile(QDir(folder).filePath(QStringLiteral("d.bin")), silence(binSectors)));
        const QString cue = QDir(folder).filePath(QStringLiteral("d.cue"));
        QVERIFY(writeFile(cue, sheet));
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok() && grabber.SetCurrentDrive(1).ok());
        const CdGrabber::DiscToc toc = grabber.CurrentDiscToc();
        QStringList layout;
        for (int t = 0; t < toc.firstSectors.size(); ++t) {
            QVERIFY(grabber.SetCurrentTrack(t).ok());
            layout << QStringLiteral("%1/%2/%3/%4")
                          .arg(toc.numbers.value(t))
                          .arg(toc.sessions.value(t))
                          .arg(toc.firstSectors[t])
                          .arg(grabber.TrackSectors());
        }
        QCOMPARE(layout.join(QStringLiteral(", ")), tracks);
        const Result<DiscIds> ids = computeDiscIds(DiscLayout::of(toc));
        QVERIFY(ids.ok());
        QCOMPARE(ids.value().accurateRipFileName(), accurateRip + QStringLiteral(".bin"));
        QCOMPARE(ids.value().musicBrainzId, musicBrainz);
    }

    void craftedImagesFailClearly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("sheet"); // the image file's bytes
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("expected");
        const Files bin{{QStringLiteral("disc.bin"), A}};
        const QString cue = QStringLiteral("Album.cue");
        const QByteArray head = "FILE \"disc.bin\" BINARY\nTRACK 01 AUDIO\n";
        QTest::newRow("FIFO") << cue << QByteArray() << Files{}
                              << QStringLiteral("not a regular file");
        QTest::newRow("folder") << cue << QByteArray() << Files{} << QStringLiteral("is a folder");
        // A data file missing or too short is named, as the sheet names it, with the line.
        const QString damaged = QStringLiteral(
            "is damaged: its data file \"disc.bin\" is missing or too short (line %1).");
        QTest::newRow("truncated bin")
            << cue << head + "INDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n"
            << bin
            << damaged.arg(QStringLiteral(
                   "5: INDEX 01 of track 2 (00:05:00) lies past its end (00:04:00)"));
        QTest::newRow("empty bin") << cue << head + "INDEX 01 00:00:00\n"
                                   << Files{{QStringLiteral("disc.bin"), QByteArray()}}
                                   << damaged.arg(QStringLiteral("1: the file is empty"));
        QTest::newRow("missing bin")
            << cue << head + "INDEX 01 00:00:00\n"
            << Files{} << damaged.arg(QStringLiteral("1: the file does not exist"));
        QTest::newRow("data file a FIFO")
            << cue << head + "INDEX 01 00:00:00\n"
            << Files{}
            << QStringLiteral("line 1: the data file \"disc.bin\" is not a regular file");
        QTest::newRow("negative time") << cue << head + "INDEX 01 -00:01:00\n"
                                       << bin << QStringLiteral("line 3: INDEX 01 of track 1");
        QTest::newRow("overflowing time") << cue << head + "INDEX 01 99999999999999999999:00:00\n"
                                          << bin << QStringLiteral("line 3: INDEX 01 of track 1");
        QTest::newRow("over 100 minutes")
            << cue << head + "PREGAP 99:00:00\nINDEX 01 00:00:00\nPOSTGAP 99:00:00\n"
            << bin << QStringLiteral("at most 100 minutes");
        QTest::newRow("INDEX 00 after INDEX 01")
            << cue << head + "INDEX 01 00:00:00\nINDEX 00 00:01:00\n"
            << bin << QStringLiteral("line 4: INDEX 00 of track 1");
        QByteArray hundred = "FILE \"disc.bin\" BINARY\n";
        for (int t = 1; t <= 100; ++t)
            hundred += QStringLiteral("TRACK %1 AUDIO\nINDEX 01 00:%2:%3\n")
                           .arg(t, 2, 10, QLatin1Char('0'))
                           .arg((t - 1) / 75, 2, 10, QLatin1Char('0'))
                           .arg((t - 1) % 75, 2, 10, QLatin1Char('0'))
                           .toLatin1();
        QTest::newRow("100 tracks")
            << cue << hundred << bin << QStringLiteral("line 200: more than 99 tracks");
        QTest::newRow("garbage") << cue << QByteArray("\x01\x02 no sheet\nTRACK banana\n") << bin
                                 << QStringLiteral("line 2: TRACK comes before any FILE line");
        QTest::newRow("48 kHz WAVE")
            << cue << QByteArray("FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n")
            << Files{{QStringLiteral("a.wav"), A}} << QStringLiteral("44 100 Hz");
        // libcdio's parser for these ends the child that runs it, never the program.
        const QString nrg = QStringLiteral("disc.nrg");
        QTest::newRow("garbage .nrg")
            << nrg << QByteArray(5000, '\xff') << Files{}
            << QStringLiteral("is damaged: it is not a Nero image Tambrel can read.");
        QTest::newRow(".nrg that crashes libcdio")
            << nrg << nrgImage(0xac00003c) << Files{}
            << QStringLiteral("is damaged: its reader crashed");
        QTest::newRow(".nrg that fails libcdio's checks")
            << nrg << nrgImage(60, 0) << Files{}
            << QStringLiteral("is damaged: its reader stopped on a failed check");
        // What libcdio stops at, in the program's words.
        const QString toc = QStringLiteral("disc.toc");
        const QByteArray tocHead = "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:04:00\n";
        QTest::newRow(".toc data file missing")
            << toc << tocHead << Files{}
            << damaged.arg(QStringLiteral("3: the file does not exist"));
        QTest::newRow(".toc data file too short")
            << toc << tocHead + "TRACK AUDIO\nFILE \"disc.bin\" 00:02:00 00:05:00\n"
            << bin
            << damaged.arg(QStringLiteral(
                   "5: the length it is given (00:05:00) runs past its end (00:04:00)"));
        QTest::newRow(".toc FILE start past its end")
            << toc << "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 99:00:00\n" + tocHead.mid(6) << bin
            << QStringLiteral("is damaged: its table gives track 1 no length.");
        QTest::newRow(".toc line libcdio can't parse")
            << toc << tocHead + "TRACK SURROUND\n"
            << bin
            << QStringLiteral("cannot be read: line 4 is not a valid .toc line (TRACK SURROUND).");
        QTest::newRow(".toc data file a FIFO")
            << QStringLiteral("disc.toc")
            << QByteArray("CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:04:00\n") << Files{}
            << QStringLiteral("is damaged: reading it did not finish within");
        QTest::newRow(".txt") << QStringLiteral("disc.txt") << head << bin
                              << QStringLiteral("is not a disc image Tambrel can read");
    }

    void craftedImagesFailClearly()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, sheet);
        QFETCH(Files, files);
        QFETCH(QString, expected);
        const QString folder = rowFolder();
        const QString path = QDir(folder).filePath(name);
        const QByteArray tag = QTest::currentDataTag();
        if (tag == "FIFO" || tag.contains("data file a FIFO"))
            QCOMPARE(::mkfifo(QFile::encodeName(
                                  tag == "FIFO" ? path
                                                : QDir(folder).filePath(QStringLiteral("disc.bin")))
                                  .constData(),
                              0600),
                     0);
        if (tag == "folder")
            QVERIFY(QDir().mkpath(path));
        for (const auto& [file, bytes] : files) {
            QByteArray data = bytes;
            if (tag == "48 kHz WAVE") // the same bytes, declared at 48 kHz
                QVERIFY(QProcess::execute(QStringLiteral("sh"),
                                          {QStringLiteral("-c"),
                                           QStringLiteral("head -c %1 /dev/zero | sox -t raw "
                                                          "-r48000 -esigned -b16 -c2 - '%2'")
                                               .arg(Sector * 75)
                                               .arg(QDir(folder).filePath(file))}) == 0);
            else
                QVERIFY(writeFile(QDir(folder).filePath(file), data));
        }
        if (!sheet.isEmpty())
            QVERIFY(writeFile(path, sheet));

        QElapsedTimer timer;
        timer.start();
        CdioGrabber grabber({path});
        const QString error = openError(grabber);
        QVERIFY2(error.contains(expected) && error.contains(path), qPrintable(error));
        QVERIFY(!grabber.GrabTrack(QDir(folder).filePath(QStringLiteral("rip.wav"))).ok());
        QVERIFY(!grabber.OpenArrayRead().ok());
        QVERIFY(timer.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestCueImage)
#include "tst_cueimage.moc"
