// tambrel-cli: its argument rules, and the real program on generated disc images.
#include "cli/clioptions.h"
#include "encoders/mp3settings.h"
#include "encoders/oggsettings.h"
#include "encoders/wmasettings.h"
#include "settings/cregister.h"
#include "support/decoders.h"
#include "support/discimage.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMultiMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace discimage;

namespace
{

// A tone, noise, a data track, and a long track to interrupt.
const DiscSpec disc{{{TrackKind::Audio, 75 * 3 + 20, Content::Tone, 440},
                     {TrackKind::Audio, 75 * 2, Content::Noise, 0},
                     {TrackKind::Data, 75, Content::Silence, 0},
                     {TrackKind::Audio, 75 * 300, Content::Noise, 0}},
                    3};

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run runCli(const QStringList& arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("TAMBREL_CLI"), arguments);
    Run run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("tambrel-cli did not end");
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    // A failure message then says how the program ended, which its output may not.
    if (run.status != 0)
        run.err += QStringLiteral("[tambrel-cli ended with %1]")
                       .arg(run.status < 0 ? QStringLiteral("a crash")
                                           : QStringLiteral("status %1").arg(run.status));
    return run;
}

// A MusicBrainz release in the web service's JSON, with the given titles for its tracks.
QByteArray releaseJson(const QString& id, const QString& title, const QStringList& tracks)
{
    QString json = QStringLiteral("{\"id\":\"%1\",\"title\":\"%2\",\"date\":\"2001\","
                                  "\"artist-credit\":[{\"name\":\"Band\",\"joinphrase\":\"\"}],"
                                  "\"media\":[{\"position\":1,\"discs\":[],\"tracks\":[")
                       .arg(id, title);
    for (int i = 0; i < tracks.size(); ++i)
        json += QStringLiteral("%1{\"position\":%2,\"number\":\"%2\",\"title\":\"%3\","
                               "\"recording\":{\"id\":\"rec-%2\",\"title\":\"%3\"}}")
                    .arg(i ? QStringLiteral(",") : QString())
                    .arg(i + 1)
                    .arg(tracks[i]);
    return (json + QStringLiteral("]}]}")).toUtf8();
}

// A disc image of the sheet's text (its FILE named "d.bin") and the data, in folder; the sheet's
// path.
QString writeSheet(const QString& folder, const QByteArray& sheet, const QByteArray& data)
{
    QFile bin(folder + QStringLiteral("/d.bin"));
    QFile cue(folder + QStringLiteral("/d.cue"));
    if (!bin.open(QIODevice::WriteOnly) || bin.write(data) != data.size() ||
        !cue.open(QIODevice::WriteOnly) ||
        cue.write("FILE \"d.bin\" BINARY\n" + sheet) != sheet.size() + 20)
        qFatal("cannot write the disc image");
    return cue.fileName();
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The standard CRC-32, bit by bit: slow and plain, unlike the program's.
quint32 plainCrc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The values of a rip log's "Field: value" lines, by field, in order.
QMultiMap<QString, QString> logFields(const QString& log)
{
    QMultiMap<QString, QString> fields;
    for (const QString& line : log.split(u'\n')) {
        const qsizetype colon = line.indexOf(QStringLiteral(": "));
        if (colon > 0)
            fields.insert(line.left(colon).trimmed(), line.mid(colon + 2));
    }
    return fields;
}

// Runs tambrel-cli while this thread's events keep flowing (a test server answers meanwhile).
Run runCliServing(const QStringList& arguments, const QString& accurateRip,
                  const QString& musicBrainz = QStringLiteral("http://127.0.0.1:9/"))
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAMBREL_ACCURATERIP_URL"), accurateRip);
    environment.insert(QStringLiteral("TAMBREL_MUSICBRAINZ_URL"), musicBrainz);
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("TAMBREL_CLI"), arguments);
    Run run;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 120000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    // A failure message then says how the program ended, which its output may not.
    if (run.status != 0)
        run.err += QStringLiteral("[tambrel-cli ended with %1]")
                       .arg(run.status < 0 ? QStringLiteral("a crash")
                                           : QStringLiteral("status %1").arg(run.status));
    return run;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cue;
    int m_outputs = 0;

    // A new empty output folder.
    QString outputFolder()
    {
        const QString path = m_dir.filePath(QStringLiteral("out%1").arg(++m_outputs));
        QDir().mkpath(path);
        return path;
    }

    // convert on the test image, with these further arguments.
    Run convert(const QString& folder, const QString& format, const QStringList& more = {})
    {
        return runCli(QStringList{QStringLiteral("convert"), m_cue, QStringLiteral("--format"),
                                  format, QStringLiteral("--output"), folder} +
                      more);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_cue = m_dir.filePath(QStringLiteral("disc.cue"));
        const auto error = writeImage(m_cue, disc);
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        QVERIFY(QFileInfo(qEnvironmentVariable("TAMBREL_CLI")).isExecutable());
        // An earlier run's store may hold a network switch left off.
        QFile::remove(CRegister::databasePath());
    }

    void trackLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("tracks"); // empty: refused
        QTest::newRow("one") << "3" << QList<int>{3};
        QTest::newRow("list and range") << "1,3-5" << QList<int>{1, 3, 4, 5};
        QTest::newRow("disc order, each once") << "5,1,2-3,1" << QList<int>{1, 2, 3, 5};
        QTest::newRow("range of one") << "4-4" << QList<int>{4};
        QTest::newRow("empty") << "" << QList<int>{};
        QTest::newRow("the hidden track") << "0,2" << QList<int>{0, 2};
        QTest::newRow("backwards") << "3-1" << QList<int>{};
        QTest::newRow("word") << "one" << QList<int>{};
        QTest::newRow("empty item") << "1,,2" << QList<int>{};
        QTest::newRow("open range") << "5-" << QList<int>{};
        QTest::newRow("negative") << "-3" << QList<int>{};
        QTest::newRow("signed") << "+2" << QList<int>{};
        QTest::newRow("blank") << " 2" << QList<int>{};
        QTest::newRow("beyond any disc") << "1-100" << QList<int>{};
    }

    void trackLists()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, tracks);
        const Result<QList<int>> parsed = parseTrackList(text);
        if (tracks.isEmpty()) {
            QVERIFY(!parsed.ok());
            QVERIFY(parsed.error().contains(text));
        } else {
            QVERIFY2(parsed.ok(), qPrintable(parsed.error()));
            QCOMPARE(parsed.value(), tracks);
        }
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        const QString cue = QStringLiteral("d.cue");
        const QStringList ok{QStringLiteral("convert"), cue,
                             QStringLiteral("-f"),      QStringLiteral("mp3"),
                             QStringLiteral("-o"),      QStringLiteral("/tmp")};
        QTest::newRow("no command") << QStringList{} << "list, info or convert";
        QTest::newRow("unknown command") << QStringList{QStringLiteral("rip")} << "rip";
        QTest::newRow("unknown option") << (ok + QStringList{QStringLiteral("--fast")}) << "fast";
        QTest::newRow("no source")
            << QStringList{QStringLiteral("convert"), QStringLiteral("-f"), QStringLiteral("mp3"),
                           QStringLiteral("-o"), QStringLiteral("/tmp")}
            << "one source";
        QTest::newRow("no format") << QStringList{QStringLiteral("convert"), cue,
                                                  QStringLiteral("-o"), QStringLiteral("/tmp")}
                                   << "--format";
        QTest::newRow("unknown format")
            << QStringList{QStringLiteral("convert"), cue,
                           QStringLiteral("-f"),      QStringLiteral("ape"),
                           QStringLiteral("-o"),      QStringLiteral("/tmp")}
            << "ape";
        QTest::newRow("bad offset")
            << (ok + QStringList{QStringLiteral("--offset"), QStringLiteral("6000")})
            << "--offset takes";
        QTest::newRow("offset with two signs")
            << (ok + QStringList{QStringLiteral("--offset"), QStringLiteral("+-6")})
            << "--offset takes";
        QTest::newRow("an option twice")
            << (ok + QStringList{QStringLiteral("-o"), QStringLiteral("/var")})
            << "--output is given more than once";
        QTest::newRow("bad FLAC level")
            << (ok + QStringList{QStringLiteral("--flac-level"), QStringLiteral("9")})
            << "--flac-level takes";
        QTest::newRow("no output") << QStringList{QStringLiteral("convert"), cue,
                                                  QStringLiteral("-f"), QStringLiteral("wav")}
                                   << "--output";
        QTest::newRow("bad tracks")
            << (ok + QStringList{QStringLiteral("-t"), QStringLiteral("2-")}) << "2-";
        QTest::newRow("bad jobs") << (ok + QStringList{QStringLiteral("-j"), QStringLiteral("0")})
                                  << "--jobs takes a number";
        QTest::newRow("overwrite and skip")
            << (ok + QStringList{QStringLiteral("--overwrite"), QStringLiteral("--skip-existing")})
            << "exclude";
        QTest::newRow("list with a format")
            << QStringList{QStringLiteral("list"), cue, QStringLiteral("-f"), QStringLiteral("mp3")}
            << "convert";
        QTest::newRow("list of two sources")
            << QStringList{QStringLiteral("list"), cue, cue} << "one source";
        QTest::newRow("list never goes on line")
            << QStringList{QStringLiteral("list"), cue, QStringLiteral("--network"),
                           QStringLiteral("off")}
            << "--network belongs to convert and info, not to list.";
        QTest::newRow("info with a track list")
            << QStringList{QStringLiteral("info"), cue, QStringLiteral("-t"), QStringLiteral("1")}
            << "--tracks belongs to convert, not to info.";
        QTest::newRow("network neither on nor off")
            << (ok + QStringList{QStringLiteral("--network"), QStringLiteral("no")})
            << "--network takes on or off, not \"no\".";
        QTest::newRow("MusicBrainz off line")
            << QStringList{QStringLiteral("info"), cue, QStringLiteral("--network=off"),
                           QStringLiteral("--metadata"), QStringLiteral("musicbrainz")}
            << "--metadata musicbrainz needs the network, which is off; --network on turns it on.";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        const Result<CliOptions> parsed =
            parseCliArguments(QStringList{QStringLiteral("tambrel-cli")} + arguments);
        QVERIFY(!parsed.ok());
        QVERIFY2(parsed.error().contains(says), qPrintable(parsed.error()));
    }

    void convertArguments()
    {
        const Result<CliOptions> parsed = parseCliArguments(
            {QStringLiteral("tambrel-cli"), QStringLiteral("convert"), QStringLiteral("--quiet"),
             QStringLiteral("/dev/sr0"), QStringLiteral("--format=OGG"), QStringLiteral("-o"),
             QStringLiteral("music"), QStringLiteral("--tracks"), QStringLiteral("2,4-5"),
             QStringLiteral("--skip-existing")});
        QVERIFY2(parsed.ok(), qPrintable(parsed.error()));
        const CliOptions& options = parsed.value();
        QCOMPARE(options.command, CliOptions::Command::Convert);
        QCOMPARE(options.source, QStringLiteral("/dev/sr0"));
        QCOMPARE(int(options.formatCode), 4); // the format list's code for OGG
        QCOMPARE(options.outputFolder, QStringLiteral("music"));
        QCOMPARE(options.tracks, (QList<int>{2, 4, 5}));
        QCOMPARE(options.existing, CliOptions::Existing::Skip);
        QVERIFY(options.quiet);

        // A bare --log never takes the word after it: here that is the source.
        const Result<CliOptions> log = parseCliArguments(
            {QStringLiteral("tambrel-cli"), QStringLiteral("convert"), QStringLiteral("--log"),
             QStringLiteral("d.cue"), QStringLiteral("-f"), QStringLiteral("wav"),
             QStringLiteral("-o"), QStringLiteral("out")});
        QVERIFY2(log.ok(), qPrintable(log.error()));
        QCOMPARE(log.value().source, QStringLiteral("d.cue"));
        QCOMPARE(log.value().logFile, QStringLiteral("out/rip.log"));
    }

    void listsTracksAsTheWindowShowsThem()
    {
        const Run run = runCli({QStringLiteral("list"), m_cue});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("Session1_Track1\tAUDIO\t 0:03:266\n"
                                         "Session1_Track2\tAUDIO\t 0:02:000\n"
                                         "Session1_Track3\t\t 0:01:000\n"
                                         "Session1_Track4\tAUDIO\t 5:00:000\n"));
        QCOMPARE(run.err, QString());

        const Run drives = runCli({QStringLiteral("list")});
        QCOMPARE(drives.status, 0);
        // This machine may have no drive; then it says so, and the list stays empty.
        QVERIFY2(drives.out.isEmpty() ? drives.err.contains(QStringLiteral("no CD drive"))
                                      : drives.out.startsWith(u'['),
                 qPrintable(drives.out + drives.err));
    }

    void convertsEachFormat_data() { decoders::addEncodedFormatRows(); }

    void convertsEachFormat()
    {
        QFETCH(QString, format);
        QFETCH(QString, codec);
        const QString folder = outputFolder();
        const Run run =
            convert(folder, format, {QStringLiteral("--tracks"), QStringLiteral("1-2")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QStringList expected{QStringLiteral("Session1_Track1.") + format,
                                   QStringLiteral("Session1_Track2.") + format};
        QCOMPARE(filesIn(folder), expected);
        // Not a terminal: one plain line per written track, as each is done (and one saying
        // that MusicBrainz, at a closed port here, could not be asked).
        QCOMPARE(run.err.count(QStringLiteral(" -> ")), 2);
        QVERIFY2(run.err.contains(QStringLiteral("MusicBrainz could not be asked")),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("Session1_Track1 -> ")), qPrintable(run.err));

        SKIP_WITHOUT_TOOL("ffprobe");
        const QString problem = decoders::encodedFileProblem(folder + u'/' + expected.first(),
                                                             codec, (75 * 3 + 20) / 75.0);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // What the settings dialogs saved is what a later run encodes with.
    void storedEncoderSettings_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("probed"); // sample_rate, channels, bit_rate
        QTest::newRow("mp3 160 kbit/s constant") << "mp3" << QStringLiteral("44100 2 160000");
        QTest::newRow("mp3 mono 112 kbit/s at 22 050 Hz")
            << "mp3" << QStringLiteral("22050 1 112000");
        QTest::newRow("ogg quality 7") << "ogg" << QStringLiteral("44100 2 224000");
        QTest::newRow("ogg quality 1") << "ogg" << QStringLiteral("44100 2 80000");
        QTest::newRow("wma profile 0") << "wma" << QStringLiteral("22050 1 32000");
        QTest::newRow("wma profile 10") << "wma" << QStringLiteral("44100 2 192000");
        // Set aside, said once, and the default profile 8 used.
        QTest::newRow("wma from a damaged store") << "wma" << QStringLiteral("44100 2 128000");
    }

    void storedEncoderSettings()
    {
        QFETCH(QString, format);
        QFETCH(QString, probed);
        QFile::remove(CRegister::databasePath());
        const CRegister store;
        const QString row = QString::fromUtf8(QTest::currentDataTag());
        if (format == u"mp3") {
            Mp3Settings mp3;
            mp3.VbrCoding = QStringLiteral("None");
            mp3.Frequency = QStringLiteral("44 100 Hz");
            mp3.BitratePos = 10;
            if (row.contains(u"mono")) {
                mp3.ChannelMode = QStringLiteral("Mono");
                mp3.Frequency = QStringLiteral("22 050 Hz");
                mp3.BitratePos = 8;
            }
            mp3.save(store);
        } else if (format == u"ogg") {
            OggSettings ogg;
            ogg.FrequencyText = QStringLiteral("44 100 Hz");
            ogg.QualityPos = row.endsWith(u'7') ? 700 : 100;
            ogg.save(store);
        } else if (row.contains(u"damaged")) {
            QVERIFY(QDir().mkpath(QFileInfo(CRegister::databasePath()).path()));
            QFile damaged(CRegister::databasePath());
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write(QByteArray(4096, 'x'));
        } else {
            WmaSettings wma;
            wma.StoredProfileIndex = row.endsWith(u'0') && !row.endsWith(u"10") ? 0 : 10;
            wma.save(store);
        }
        const QString folder = outputFolder();
        const Run run = convert(folder, format, {QStringLiteral("--tracks"), QStringLiteral("2")});
        QFile::remove(CRegister::databasePath());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err.count(QStringLiteral("tambrel-cli: The settings file ")),
                 row.contains(u"damaged") ? 1 : 0);
        SKIP_WITHOUT_TOOL("ffprobe");
        const auto info = decoders::probe(folder + QStringLiteral("/Session1_Track2.") + format);
        QCOMPARE((QStringList{info.value(QStringLiteral("sample_rate")),
                              info.value(QStringLiteral("channels")),
                              info.value(QStringLiteral("bit_rate"))})
                     .join(u' '),
                 probed);
    }

    void wavIsTheDiscsAudio_data()
    {
        QTest::addColumn<QString>("jobs");
        QTest::newRow("one track at a time") << "1";
        QTest::newRow("three at once") << "3";
    }

    void wavIsTheDiscsAudio()
    {
        QFETCH(QString, jobs);
        const QString folder = outputFolder();
        // By default every audio track; the data track is left out, not failed.
        const Run run = convert(folder, QStringLiteral("wav"),
                                {QStringLiteral("--quiet"), QStringLiteral("--jobs"), jobs});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.err, QString());
        QCOMPARE(filesIn(folder), (QStringList{QStringLiteral("Session1_Track1.wav"),
                                               QStringLiteral("Session1_Track2.wav"),
                                               QStringLiteral("Session1_Track4.wav")}));
        for (const int track : {0, 1, 3}) {
            const QByteArray wav =
                contents(folder + QStringLiteral("/Session1_Track%1.wav").arg(track + 1));
            QCOMPARE(wav.size(), 44 + trackPcm(disc, track).size());
            QVERIFY(wav.mid(44) == trackPcm(disc, track));
        }
    }

    // The log proves the copy: each track's CRC32 is its file's audio, and a database record
    // holding the tracks' AccurateRip checksums makes them accurately ripped; a database that
    // can't be reached leaves them not looked up, and so does the network switched off, for this
    // run and the later ones, until it is switched on again.
    void ripLogProvesTheCopy()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QByteArray record;
        QStringList requested;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                requested << QString::fromLatin1(socket->readAll().split(' ').value(1));
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                              "Content-Length: " +
                              QByteArray::number(record.size()) + "\r\nConnection: close\r\n\r\n" +
                              record);
                socket->disconnectFromHost();
            });
        });
        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
        const QString folder = outputFolder();
        const QString log = folder + QStringLiteral("/rip.log");
        const QStringList arguments{QStringLiteral("convert"),    m_cue,
                                    QStringLiteral("-f"),         QStringLiteral("wav"),
                                    QStringLiteral("-o"),         folder,
                                    QStringLiteral("-t"),         QStringLiteral("1-2"),
                                    QStringLiteral("--log"),      QStringLiteral("-q"),
                                    QStringLiteral("--overwrite")};
        // Each run adds its block after the earlier ones'; only the last is read.
        const auto lastBlock = [&log] {
            const QString all = QString::fromUtf8(contents(log));
            return logFields(all.mid(all.lastIndexOf(QStringLiteral("Tambrel rip log"))));
        };

        // First no database can be reached.
        Run run = runCliServing(arguments, QStringLiteral("http://127.0.0.1:9/"));
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QMultiMap<QString, QString> fields = lastBlock();
        QVERIFY(fields.value(QStringLiteral("AccurateRip lookup")).startsWith(u"not looked up: "));
        for (const QString& verdict : fields.values(QStringLiteral("AccurateRip")))
            QVERIFY2(verdict.startsWith(u"not looked up: the lookup failed: "),
                     qPrintable(verdict));
        QCOMPARE(fields.value(QStringLiteral("Summary")),
                 QStringLiteral("2 tracks not verified: 2 not looked up"));
        const QStringList crcs = fields.values(QStringLiteral("CRC32"));
        QCOMPARE(crcs.size(), 2);
        for (int track = 0; track < 2; ++track) {
            const QByteArray pcm =
                contents(folder + QStringLiteral("/Session1_Track%1.wav").arg(track + 1)).mid(44);
            // values() lists the last line first.
            QCOMPARE(crcs[1 - track],
                     QStringLiteral("%1").arg(plainCrc32(pcm), 8, 16, QLatin1Char('0')).toUpper());
        }

        // A record of this disc with an entry of the given confidence and checksum for each of
        // its audio tracks; here they hold the tracks' v2 checksums.
        const QString discId = fields.value(QStringLiteral("AccurateRip disc id"));
        const QStringList id = discId.split(u'-');
        QCOMPARE(id.size(), 4);
        const auto setRecord = [&](const QList<std::pair<quint8, quint32>>& entries) {
            record.clear();
            QDataStream out(&record, QIODevice::WriteOnly);
            out.setByteOrder(QDataStream::LittleEndian);
            out << quint8(id[0].toInt()) << quint32(id[1].toUInt(nullptr, 16))
                << quint32(id[2].toUInt(nullptr, 16)) << quint32(id[3].toUInt(nullptr, 16));
            for (const auto& [confidence, crc] : entries)
                out << confidence << crc << quint32(0);
        };
        const QStringList v2 = fields.values(QStringLiteral("AccurateRip v2"));
        const quint32 first = v2[1].toUInt(nullptr, 16);
        const quint32 second = v2[0].toUInt(nullptr, 16);
        setRecord({{9, first}, {9, second}, {9, 1}});
        run = runCliServing(arguments, base);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        fields = lastBlock();
        QCOMPARE(requested.size(), 1);
        QVERIFY2(
            requested.first().endsWith(QStringLiteral("dBAR-") + discId + QStringLiteral(".bin")),
            qPrintable(requested.first()));
        QCOMPARE(fields.values(QStringLiteral("AccurateRip")),
                 QStringList(2, QStringLiteral("accurately ripped (confidence 9, v2)")));
        QCOMPARE(fields.value(QStringLiteral("Summary")),
                 QStringLiteral("All tracks accurately ripped"));

        // Off line, given once and kept: neither service hears of the runs, and the log says
        // why nothing was looked up. A run that needs MusicBrainz is refused meanwhile.
        for (const QStringList& given :
             {QStringList{QStringLiteral("--network"), QStringLiteral("off")}, QStringList{}}) {
            run = runCliServing(arguments + given, base, base);
            QVERIFY2(run.status == 0, qPrintable(run.err));
            fields = lastBlock();
            QCOMPARE(fields.value(QStringLiteral("AccurateRip lookup")),
                     QStringLiteral("not looked up: the network is off"));
            QCOMPARE(fields.values(QStringLiteral("AccurateRip")),
                     QStringList(2, QStringLiteral("not looked up: the network is off")));
        }
        run = runCliServing({QStringLiteral("info"), m_cue, QStringLiteral("--metadata"),
                             QStringLiteral("musicbrainz")},
                            base, base);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QStringLiteral("needs the network, which is off")),
                 qPrintable(run.err));
        QCOMPARE(requested.size(), 1);

        // On again, with a record where the first track's checksum differs and the second has
        // no entry, and the data track chosen too: the summary tells each apart.
        setRecord({{9, first ^ 1}, {0, second}, {9, 1}});
        QStringList more = arguments;
        more.replace(more.indexOf(QStringLiteral("1-2")), QStringLiteral("1-3"));
        run = runCliServing(more + QStringList{QStringLiteral("--network"), QStringLiteral("on")},
                            base, base);
        QCOMPARE(run.status, 1);
        QCOMPARE(requested.size(), 3); // MusicBrainz's and AccurateRip's
        fields = lastBlock();
        QCOMPARE(fields.values(QStringLiteral("AccurateRip")),
                 (QStringList{QStringLiteral("not looked up: the track was not written"),
                              QStringLiteral("not in the database"),
                              QStringLiteral("not accurate: the database holds other checksums "
                                             "(confidence up to 9)")}));
        QCOMPARE(fields.value(QStringLiteral("Summary")),
                 QStringLiteral("3 tracks not verified: 1 not accurate (the database holds other "
                                "checksums), 1 not in the database, 1 not written"));
    }

    // The album data of a cue sheet names and tags the files; awkward titles stay inside the
    // output folder with the characters a file name can't hold replaced.
    void namesAndTagsFromTheSheet()
    {
        const QString folder = outputFolder();
        const QString cue = folder + QStringLiteral("/text.cue");
        QVERIFY(!writeImage(cue, {{{TrackKind::Audio, 75 * 2, Content::Tone, 440},
                                   {TrackKind::Audio, 75 * 2, Content::Noise, 0}}}));
        QString sheet = QString::fromUtf8(contents(cue));
        const QString longTitle(300, u'\u03a9');
        sheet.replace(QStringLiteral("TRACK 01 AUDIO"),
                      QStringLiteral("TRACK 01 AUDIO\n    TITLE \"AC/DC: Live?\""));
        sheet.replace(QStringLiteral("TRACK 02 AUDIO"),
                      QStringLiteral("TRACK 02 AUDIO\n    TITLE \"%1\"").arg(longTitle));
        sheet = QStringLiteral("REM DATE 1997\nPERFORMER \"Σίσυφος\"\nTITLE \"../Up\"\n") + sheet;
        {
            QFile file(cue);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(sheet.toUtf8());
        }
        const QString out = folder + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(out));

        const Run info = runCli({QStringLiteral("info"), cue});
        QVERIFY2(info.status == 0, qPrintable(info.err));
        QVERIFY2(info.out.contains(QStringLiteral("Source: cue sheet")) &&
                     info.out.contains(QStringLiteral("Artist: Σίσυφος")),
                 qPrintable(info.out));

        const Run run =
            runCli({QStringLiteral("convert"), cue, QStringLiteral("-f"), QStringLiteral("ogg"),
                    QStringLiteral("-o"), out, QStringLiteral("--name"),
                    QStringLiteral("%A/%a/%n - %t"), QStringLiteral("-q")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QString album = out + QStringLiteral("/Σίσυφος/..-Up/");
        const QString first = album + QStringLiteral("01 - AC-DC: Live-.ogg");
        QVERIFY2(QFileInfo::exists(first), qPrintable(QDir(album).entryList().join(u',')));
        const QStringList second =
            QDir(album).entryList({QStringLiteral("02 - *.ogg")}, QDir::Files);
        QCOMPARE(second.size(), 1);
        QVERIFY(second.first().toUtf8().size() <= 255);

        SKIP_WITHOUT_TOOL("ffprobe");
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                     QStringLiteral("stream_tags"), first});
        QVERIFY(probe.waitForFinished(30000));
        const QString tags = QString::fromUtf8(probe.readAllStandardOutput());
        for (const QString& tag :
             {QStringLiteral("TITLE=AC/DC: Live?"), QStringLiteral("ARTIST=Σίσυφος"),
              QStringLiteral("ALBUM=../Up"), QStringLiteral("DATE=1997")})
            QVERIFY2(tags.contains(tag, Qt::CaseInsensitive), qPrintable(tags));
    }

    // A disc whose tracks are numbered from 3: chosen, named, logged and tagged by its own
    // numbers, with the audio tracks counted for the total.
    void tracksAsTheDiscNumbersThem()
    {
        const QString folder = outputFolder();
        const QString sheet = writeSheet(
            folder,
            "CATALOG 0724384960650\nTRACK 03 AUDIO\nINDEX 01 00:00:00\nTRACK 04 AUDIO\n"
            "FLAGS PRE\nISRC GBAYE9900013\nINDEX 01 00:02:00\nTRACK 05 AUDIO\nINDEX 01 00:04:00\n",
            trackPcm(disc, 1).repeated(3));
        const Run wrong =
            runCli({QStringLiteral("convert"), sheet, QStringLiteral("-f"), QStringLiteral("ogg"),
                    QStringLiteral("-o"), folder, QStringLiteral("-t"), QStringLiteral("1")});
        QCOMPARE(wrong.status, 2);
        QVERIFY2(
            wrong.err.contains(QStringLiteral("no track 1 on this disc; its tracks are 3 to 5")),
            qPrintable(wrong.err));
        const Run run =
            runCli({QStringLiteral("convert"), sheet, QStringLiteral("-f"), QStringLiteral("ogg"),
                    QStringLiteral("-o"), folder, QStringLiteral("-t"), QStringLiteral("4"),
                    QStringLiteral("--name"), QStringLiteral("%n"), QStringLiteral("--log"),
                    QStringLiteral("-q")});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/04.ogg")));
        QFile log(folder + QStringLiteral("/rip.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QVERIFY2(text.contains(QStringLiteral("Catalogue number: 0724384960650\n")) &&
                     text.contains(QStringLiteral("\nTrack 04\n")) &&
                     text.contains(QStringLiteral("  ISRC: GBAYE9900013\n  Pre-emphasis: yes")),
                 qPrintable(text));

        SKIP_WITHOUT_TOOL("ffprobe");
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                     QStringLiteral("stream_tags"), folder + QStringLiteral("/04.ogg")});
        QVERIFY(probe.waitForFinished(30000));
        const QString tags = QString::fromUtf8(probe.readAllStandardOutput());
        for (const QString& tag :
             {QStringLiteral("TAG:track=4"), QStringLiteral("TRACKTOTAL=3"),
              QStringLiteral("ISRC=GBAYE9900013"), QStringLiteral("BARCODE=0724384960650"),
              QStringLiteral("PRE_EMPHASIS=yes")})
            QVERIFY2(tags.contains(tag, Qt::CaseInsensitive), qPrintable(tags));
    }

    // Control characters in album data (a tab, an escape sequence, a line end) reach neither a
    // file name, nor the terminal, nor the log, where they could forge a field.
    void controlCharactersStayOut()
    {
        const QString folder = outputFolder();
        const QString sheet = writeSheet(folder,
                                         "PERFORMER \"Band\x1B[31m\"\nTRACK 01 AUDIO\n"
                                         "TITLE \"Tab\there\x07\"\nINDEX 01 00:00:00\n",
                                         trackPcm(disc, 1));
        const Run info = runCli({QStringLiteral("info"), sheet});
        QVERIFY2(info.status == 0 && info.out.contains(QStringLiteral("Tab\\x09here\\x07")) &&
                     !info.out.contains(QChar(0x1B)),
                 qPrintable(info.out));
        const Run run =
            runCli({QStringLiteral("convert"), sheet, QStringLiteral("-f"), QStringLiteral("wav"),
                    QStringLiteral("-o"), folder, QStringLiteral("--name"),
                    QStringLiteral("%p - %t"), QStringLiteral("--log")});
        QVERIFY2(run.status == 0 && !run.err.contains(QChar(0x1B)), qPrintable(run.err));
        QVERIFY2(QFileInfo::exists(folder + QStringLiteral("/Band-[31m - Tab-here-.wav")),
                 qPrintable(filesIn(folder).join(u',')));
        QFile log(folder + QStringLiteral("/rip.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        for (const QChar c : text)
            QVERIFY2(c == u'\n' ||
                         !(c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F)),
                     qPrintable(text));
    }

    // Without /proc (a container, a chroot) the files are still tagged and named: tags go in
    // through the file's descriptor, and a file that can't be linked in by it gets a hidden name.
    void withoutProc()
    {
        const auto withoutProc = [](const QStringList& arguments) {
            QStringList quoted;
            for (const QString& argument : arguments)
                quoted << u'\'' + argument + u'\'';
            QProcess process;
            process.start(QStringLiteral("unshare"),
                          {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                           QStringLiteral("mount -t tmpfs none /proc && exec '%1' %2")
                               .arg(qEnvironmentVariable("TAMBREL_CLI"), quoted.join(u' '))});
            process.waitForFinished(60000);
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        // A mount namespace needs privileges, and a sanitized build needs /proc itself.
        if (withoutProc({QStringLiteral("--version")}) != 0)
            QSKIP("tambrel-cli can't be run without /proc here.");
        const QString folder = outputFolder();
        QCOMPARE(withoutProc({QStringLiteral("convert"), m_cue, QStringLiteral("-f"),
                              QStringLiteral("ogg"), QStringLiteral("-o"), folder,
                              QStringLiteral("-t"), QStringLiteral("2"), QStringLiteral("-q")}),
                 0);
        QCOMPARE(filesIn(folder), QStringList{QStringLiteral("Session1_Track2.ogg")});
        SKIP_WITHOUT_TOOL("ffprobe");
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"),
                    {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                     QStringLiteral("stream_tags"),
                     folder + QStringLiteral("/Session1_Track2.ogg")});
        QVERIFY(probe.waitForFinished(30000));
        QVERIFY(QString::fromUtf8(probe.readAllStandardOutput())
                    .contains(QStringLiteral("TAG:track=2"), Qt::CaseInsensitive));
    }

    // The run is planned before a sector is read: two tracks named alike get two files, a
    // folder in a file's place stops the run, and --dry-run prints the plan and writes nothing.
    void plannedBeforeRipping()
    {
        const QString folder = outputFolder();
        const QString sheet = writeSheet(folder,
                                         "TRACK 01 AUDIO\nTITLE \"Same\"\nINDEX 01 00:00:00\n"
                                         "TRACK 02 AUDIO\nTITLE \"Same\"\nINDEX 01 00:02:00\n",
                                         trackPcm(disc, 1).repeated(2));
        const QString out = folder + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(out));
        const QStringList convert{
            QStringLiteral("convert"),    sheet, QStringLiteral("-f"),     QStringLiteral("wav"),
            QStringLiteral("-o"),         out,   QStringLiteral("--name"), QStringLiteral("%t"),
            QStringLiteral("--overwrite")};
        Run run = runCli(convert + QStringList{QStringLiteral("--dry-run")});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("01\tSession1_Track1\t%1/Same.wav\n"
                                         "02\tSession1_Track2\t%1/Same (2).wav\n")
                              .arg(out));
        QVERIFY2(run.err.contains(QStringLiteral("Session1_Track2 would be named like a track")),
                 qPrintable(run.err));
        QVERIFY(filesIn(out).isEmpty());

        run = runCli(convert + QStringList{QStringLiteral("-q")});
        QCOMPARE(run.status, 0);
        QCOMPARE(filesIn(out),
                 (QStringList{QStringLiteral("Same (2).wav"), QStringLiteral("Same.wav")}));
        QVERIFY(contents(out + QStringLiteral("/Same (2).wav")).mid(44) ==
                trackPcm(disc, 1).mid(0, 150 * 2352));

        QVERIFY(QFile::remove(out + QStringLiteral("/Same.wav")));
        QVERIFY(QDir().mkpath(out + QStringLiteral("/Same.wav")));
        run = runCli(convert + QStringList{QStringLiteral("-q")});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QStringLiteral("which is a folder")), qPrintable(run.err));
    }

    // Encoder settings for one run, over the stored ones: each format's own, checked against
    // what its encoder takes, and named in the log.
    void encoderSettingsForTheRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says"); // in the log's Encoder line, or on standard error
        const auto row = [](const char* name, std::initializer_list<const char*> words, int status,
                            const char* says) {
            QStringList arguments;
            for (const char* word : words)
                arguments << QString::fromLatin1(word);
            QTest::newRow(name) << arguments << status << QString::fromUtf8(says);
        };
        row("mp3 bitrate", {"-f", "mp3", "--bitrate", "320"}, 0, "MP3, 320 kbit/s CBR");
        row("mp3 quality", {"-f", "mp3", "--quality", "2"}, 0, "MP3");
        row("ogg quality", {"-f", "ogg", "--quality", "6.5"}, 0, "Ogg Vorbis, quality 6.5");
        row("ogg bitrate", {"-f", "ogg", "--bitrate", "192"}, 0, "192 kbit/s");
        row("wma profile", {"-f", "wma", "--wma-profile", "3"}, 0, "48 kbit/s, 32 000 Hz");
        row("mp3 bitrate no frame can name", {"-f", "mp3", "--bitrate", "100"}, 2,
            "takes these bitrates");
        row("mp3 quality between steps", {"-f", "mp3", "--quality", "4.5"}, 2,
            "a whole number from 0 to 9");
        row("wav has no bitrate", {"-f", "wav", "--bitrate", "128"}, 2, "for mp3 and ogg");
        row("both ways at once", {"-f", "ogg", "--bitrate", "128", "--quality", "3"}, 2,
            "exclude each other");
    }

    void encoderSettingsForTheRun()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        const QString folder = outputFolder();
        const Run run = runCli(QStringList{QStringLiteral("convert"), m_cue, QStringLiteral("-o"),
                                           folder, QStringLiteral("-t"), QStringLiteral("2"),
                                           QStringLiteral("--log"), QStringLiteral("-q")} +
                               arguments);
        QCOMPARE(run.status, status);
        if (status != 0) {
            QVERIFY2(run.err.contains(says), qPrintable(run.err));
            QVERIFY(filesIn(folder).isEmpty());
            return;
        }
        const QString log = QString::fromUtf8(contents(folder + QStringLiteral("/rip.log")));
        QVERIFY2(
            log.contains(QStringLiteral("Encoder: ")) &&
                log.section(QStringLiteral("Encoder: "), 1).section(u'\n', 0, 0).contains(says),
            qPrintable(log));
        if (arguments.contains(QStringLiteral("320"))) {
            SKIP_WITHOUT_TOOL("ffprobe");
            QCOMPARE(decoders::probe(folder + QStringLiteral("/Session1_Track2.mp3"))
                         .value(QStringLiteral("bit_rate")),
                     QStringLiteral("320000"));
        }
    }

    // What a killed grab left (a hidden file of our own pattern, locked by no grab) goes with
    // the next grab into the folder; anything else stays: the user's files, and a file a
    // running grab holds.
    void killedGrabsFilesGo()
    {
        const QString folder = outputFolder();
        const QStringList stale{QStringLiteral(".Session1_Track1.wav.AbC123"),
                                QStringLiteral(".Other name.flac.x9Y8z7")};
        const QStringList kept{QStringLiteral(".notes.txt.abcdef"),
                               QStringLiteral(".song.wav.abc12"), QStringLiteral("song.wav.AbC123"),
                               QStringLiteral(".held.mp3.Held01")};
        for (const QString& name : stale + kept) {
            QFile file(folder + u'/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("partial") == 7);
        }
        // A grab running in another process holds its file's lock.
        const int held =
            ::open(QFile::encodeName(folder + QStringLiteral("/.held.mp3.Held01")).constData(),
                   O_RDONLY | O_CLOEXEC);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        const Run run =
            convert(folder, QStringLiteral("wav"), {QStringLiteral("-t"), QStringLiteral("2")});
        ::close(held);
        QCOMPARE(run.status, 0);
        QStringList expected = kept + QStringList{QStringLiteral("Session1_Track2.wav")};
        expected.sort();
        QCOMPARE(filesIn(folder), expected);
    }

    // MusicBrainz's releases name the files: one is taken as it is; of several, the one chosen
    // with --release, and without a choice they are listed and the run goes on unnamed.
    void musicBrainzNamesTheTracks()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QByteArray answer;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            QTcpSocket* socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                              "Content-Length: " +
                              QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n" +
                              answer);
                socket->disconnectFromHost();
            });
        });
        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
        const QStringList titles{QStringLiteral("Opening"), QStringLiteral("Second"),
                                 QStringLiteral("Data"), QStringLiteral("Long Road")};
        const QByteArray one =
            releaseJson(QStringLiteral("r-one"), QStringLiteral("First"), titles);
        const QByteArray two =
            releaseJson(QStringLiteral("r-two"), QStringLiteral("Other"), titles);

        answer = "{\"releases\":[" + one + "]}";
        Run run = runCliServing({QStringLiteral("info"), m_cue, QStringLiteral("--metadata"),
                                 QStringLiteral("musicbrainz")},
                                QStringLiteral("http://127.0.0.1:9/"), base);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(
            run.out.contains(QStringLiteral("Source: MusicBrainz\nAlbum: First\nArtist: Band")) &&
                run.out.contains(QStringLiteral("04\tLong Road\tBand")),
            qPrintable(run.out));

        // Three releases, one of them without an id: none is taken unasked.
        answer = "{\"releases\":[" + one + "," + two + "," +
                 releaseJson(QString(), QStringLiteral("Nameless"), titles) + "]}";
        const QString folder = outputFolder();
        const QStringList convert{QStringLiteral("convert"), m_cue,
                                  QStringLiteral("-f"),      QStringLiteral("wav"),
                                  QStringLiteral("-o"),      folder,
                                  QStringLiteral("-t"),      QStringLiteral("1"),
                                  QStringLiteral("--name"),  QStringLiteral("%a/%n %t"),
                                  QStringLiteral("-q")};
        run = runCliServing(convert, QStringLiteral("http://127.0.0.1:9/"), base);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("3 MusicBrainz releases")) &&
                     run.err.contains(QStringLiteral("2. Band - Other (2001) r-two")),
                 qPrintable(run.err));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/_/01 Track 1.wav")));
        run = runCliServing(convert + QStringList{QStringLiteral("--release"), QStringLiteral("2")},
                            QStringLiteral("http://127.0.0.1:9/"), base);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/Other/01 Opening.wav")));
    }

    void existingFiles()
    {
        const QString folder = outputFolder();
        QFile kept(folder + QStringLiteral("/Session1_Track1.wav"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.write("mine");
        kept.close();
        const QStringList both{QStringLiteral("-t"), QStringLiteral("1-2")};

        // Neither flag: that track fails and says why, the next is written.
        Run run = convert(folder, QStringLiteral("wav"), both);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(QStringLiteral("Session1_Track1 failed:")) &&
                     run.err.contains(QStringLiteral("--overwrite")),
                 qPrintable(run.err));
        QCOMPARE(contents(kept.fileName()), QByteArray("mine"));
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/Session1_Track2.wav")));

        // A rerun that skips what is there keeps the first run's proof in the log beside its own.
        const QString log = QStringLiteral("--log=") + folder + QStringLiteral("/rip.log");
        run = convert(folder, QStringLiteral("wav"), both + QStringList{log});
        run = convert(folder, QStringLiteral("wav"),
                      both + QStringList{QStringLiteral("--skip-existing"), log});
        QCOMPARE(run.status, 0);
        QFile ripLog(folder + QStringLiteral("/rip.log"));
        QVERIFY(ripLog.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(ripLog.readAll());
        QVERIFY2(text.count(QStringLiteral("Tambrel rip log")) == 2 &&
                     text.indexOf(QStringLiteral("CRC32: ")) <
                         text.lastIndexOf(QStringLiteral("Result: skipped")),
                 qPrintable(text));
        QCOMPARE(contents(kept.fileName()), QByteArray("mine"));

        run = convert(folder, QStringLiteral("wav"),
                      both + QStringList{QStringLiteral("--overwrite")});
        QCOMPARE(run.status, 0);
        QVERIFY(contents(kept.fileName()).mid(44) == trackPcm(disc, 0));
    }

    void failuresAndStatuses()
    {
        const QString folder = outputFolder();

        // A chosen data track fails by name; the other chosen track is still written.
        Run run =
            convert(folder, QStringLiteral("mp3"), {QStringLiteral("-t"), QStringLiteral("2-3")});
        QCOMPARE(run.status, 1);
        QVERIFY2(
            run.err.contains(QStringLiteral("Session1_Track3 failed: Track 3 is a data track")),
            qPrintable(run.err));
        QCOMPARE(filesIn(folder), QStringList{QStringLiteral("Session1_Track2.mp3")});

        run = convert(folder, QStringLiteral("mp3"), {QStringLiteral("-t"), QStringLiteral("9")});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QStringLiteral("no track 9")), qPrintable(run.err));

        run = convert(m_dir.filePath(QStringLiteral("gone")), QStringLiteral("mp3"));
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QStringLiteral("does not exist")), qPrintable(run.err));

        run = runCli({QStringLiteral("convert"), m_cue, QStringLiteral("--format")});
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(QStringLiteral("--help")), qPrintable(run.err));

        // Every file written, the log asked for not: the run has failed.
        run =
            convert(outputFolder(), QStringLiteral("wav"),
                    {QStringLiteral("-t"), QStringLiteral("2"), QStringLiteral("--log=/dev/full")});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(QStringLiteral("rip log /dev/full cannot be written")),
                 qPrintable(run.err));
    }

    void unwritableFolder()
    {
        QString folder = outputFolder();
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        // Permission bits don't hold back root; no one may add files to /proc.
        if (QFile probe(folder + QStringLiteral("/probe")); probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            folder = QStringLiteral("/proc/self");
        }
        const Run run =
            convert(folder, QStringLiteral("wav"), {QStringLiteral("-t"), QStringLiteral("1")});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(QStringLiteral("Session1_Track1 failed: Cannot write the file")),
                 qPrintable(run.err));
    }

    void fileSizeLimitFailsTheTrack_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("wav") << "wav";
        // Written through FFmpeg's I/O, which must still pass the system's reason on.
        QTest::newRow("wma") << "wma";
        QTest::newRow("flac") << "flac";
        // Encoded in parts on several cores, kept in temporary files in the folder until they
        // are spliced.
        QTest::newRow("mp3") << "mp3";
        QTest::newRow("ogg") << "ogg";
    }

    void fileSizeLimitFailsTheTrack()
    {
        QFETCH(QString, format);
        // ulimit -f: no file may grow past 256 KiB, as on a disk that is full.
        const QString folder = outputFolder();
        QProcess process;
        process.setChildProcessModifier([] {
            const rlimit limit{256 * 1024, 256 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        process.start(qEnvironmentVariable("TAMBREL_CLI"),
                      {QStringLiteral("convert"), m_cue, QStringLiteral("-f"), format,
                       QStringLiteral("-o"), folder, QStringLiteral("-t"), QStringLiteral("4")});
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("Session1_Track4 failed: Cannot write the file "
                                             "%1/Session1_Track4.%2: File too large\n")
                                  .arg(folder, format)),
                 qPrintable(err));
        QCOMPARE(filesIn(folder), QStringList{});
    }

    void damagedOrMissingImage()
    {
        const QString damaged = m_dir.filePath(QStringLiteral("damaged.cue"));
        QVERIFY(!writeImage(damaged, disc));
        QFile::resize(m_dir.filePath(QStringLiteral("damaged.bin")), 4096);
        for (const QString& source : {damaged, m_dir.filePath(QStringLiteral("none.cue"))}) {
            const Run list = runCli({QStringLiteral("list"), source});
            QCOMPARE(list.status, 2);
            QVERIFY2(list.err.contains(source), qPrintable(list.err));
            QCOMPARE(runCli({QStringLiteral("convert"), source, QStringLiteral("-f"),
                             QStringLiteral("wav"), QStringLiteral("-o"), outputFolder()})
                         .status,
                     2);
        }
    }

    // Names the system holds as bytes that are not UTF-8 are refused with a message that says
    // so. The shell passes the bytes, which a QProcess argument can't.
    void namesNotUtf8()
    {
        const QString folder = outputFolder();
        const QString script =
            QStringLiteral(
                "cd '%1' && cp '%2' \"$(printf 'disc\\377.cue')\" && "
                "mkdir \"$(printf 'out\\377')\" && "
                "\"$TAMBREL_CLI\" list \"$(printf 'disc\\377.cue')\"; echo \"status $?\"; "
                "\"$TAMBREL_CLI\" convert '%2' -f wav -o \"$(printf 'out\\377')\"; "
                "echo \"status $?\"")
                .arg(folder, m_cue);
        QProcess shell;
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        QVERIFY(shell.waitForFinished(30000));
        const QString out = QString::fromUtf8(shell.readAllStandardOutput());
        const QString err = QString::fromUtf8(shell.readAllStandardError());
        QCOMPARE(out, QStringLiteral("status 2\nstatus 2\n"));
        QVERIFY2(err.count(QStringLiteral("is not valid UTF-8")) == 2, qPrintable(err));
    }

    void interruptLeavesNoFile()
    {
        // SIGTERM comes while two tracks are grabbed at once, the short first one done by then.
        for (const int signal : {SIGINT, SIGTERM}) {
            const QString folder = outputFolder();
            const bool parallel = signal == SIGTERM;
            QProcess process;
            process.start(
                qEnvironmentVariable("TAMBREL_CLI"),
                {QStringLiteral("convert"), m_cue, QStringLiteral("-f"), QStringLiteral("ogg"),
                 QStringLiteral("-o"), folder, QStringLiteral("-t"),
                 parallel ? QStringLiteral("1,4") : QStringLiteral("4"), QStringLiteral("--jobs"),
                 parallel ? QStringLiteral("2") : QStringLiteral("1")});
            QVERIFY(process.waitForStarted());
            // Well into the five-minute track.
            QTest::qWait(700);
            QCOMPARE(process.state(), QProcess::Running);
            QElapsedTimer timer;
            timer.start();
            ::kill(pid_t(process.processId()), signal);
            QVERIFY(process.waitForFinished(5000));
            QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
            // It ends as the signal would have ended it, and leaves nothing behind.
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            QCOMPARE(filesIn(folder),
                     parallel ? QStringList{QStringLiteral("Session1_Track1.ogg")} : QStringList{});
            QVERIFY(QString::fromUtf8(process.readAllStandardError())
                        .contains(QStringLiteral("Session1_Track4 stopped")));
        }

        // Ctrl-C while a web service keeps the run waiting ends the wait at once, and nothing
        // more is asked; the log still gives each chosen track its block.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAMBREL_MUSICBRAINZ_URL"), url);
        environment.insert(QStringLiteral("TAMBREL_ACCURATERIP_URL"), url);
        process.setProcessEnvironment(environment);
        const QString folder = outputFolder();
        process.start(qEnvironmentVariable("TAMBREL_CLI"),
                      {QStringLiteral("convert"), m_cue, QStringLiteral("-f"),
                       QStringLiteral("wav"), QStringLiteral("-o"), folder, QStringLiteral("-t"),
                       QStringLiteral("1,2"), QStringLiteral("--metadata"),
                       QStringLiteral("musicbrainz"), QStringLiteral("--log")});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 3000);
        QElapsedTimer timer;
        timer.start();
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(5000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        const QMultiMap<QString, QString> fields =
            logFields(QString::fromUtf8(contents(folder + QStringLiteral("/rip.log"))));
        QCOMPARE(fields.values(QStringLiteral("Result")),
                 QStringList(2, QStringLiteral("not ripped: the run was stopped")));
        QCOMPARE(fields.values(QStringLiteral("AccurateRip")),
                 QStringList(2, QStringLiteral("not looked up: the run was stopped")));
        QCOMPARE(fields.value(QStringLiteral("Summary")),
                 QStringLiteral("2 tracks not verified: 2 not written"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
