// Both programs on a CD drive: the virtual drive (tests/support/vdrive), preloaded into this test
// and everything it starts, holds discs made here. What the drive shows, exact rips, and each
// drive fault ending in an exact file or a plain failure, never a wrong file or a hang.
#include "app/formmain.h"
#include "components/alsa/alsaplayer.h"
#include "components/cdio/cdiograbber.h"
#include "settings/cregister.h"
#include "settings/readoffsets.h"
#include "support/discimage.h"
#include "support/scripteddialogs.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace discimage;

namespace
{

const QString Device = QStringLiteral("/dev/sr7");
const QString DriveLine = QStringLiteral("[/dev/sr7]  TAMBREL  Virtual CD  1.00");

// Noise-like audio, whose byte order a guess can get wrong: 3 s, 20 s and 1 s. Paranoia reads
// 1,200 sectors ahead of where it reads; the disc is taken out in track 2 beyond that.
const DiscSpec disc{{{TrackKind::Audio, 225, Content::Noise, 0},
                     {TrackKind::Audio, 1500, Content::Noise, 0},
                     {TrackKind::Audio, 75, Content::Noise, 0}},
                    7};

// A steady 440 Hz tone (with 660 Hz on the right) repeats exactly every 2,205 samples, so reads
// of it also match 1, 2, ... periods apart; noise after it shows where the audio really lies.
const DiscSpec toneDisc{
    {{TrackKind::Audio, 750, Content::Tone, 440}, {TrackKind::Audio, 750, Content::Noise, 0}}, 7};

// The track as a rip read with the drive's offset corrected holds it: the disc's audio, with
// silence where the corrected read would lie beyond the disc's edges.
QByteArray expectedPcm(const DiscSpec& spec, int track, int offset)
{
    qint64 start = 0;
    qint64 total = 0;
    for (int t = 0; t < spec.tracks.size(); ++t) {
        if (t < track)
            start += spec.tracks[t].sectors * (SectorBytes / 4);
        total += spec.tracks[t].sectors * (SectorBytes / 4);
    }
    QByteArray pcm = trackPcm(spec, track);
    for (qint64 frame = 0; frame < pcm.size() / 4; ++frame) {
        const qint64 read = start + frame + offset;
        if (read < 0 || read >= total)
            std::memset(pcm.data() + frame * 4, 0, 4);
    }
    return pcm;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Run {
    int status = -1;
    QString err;
    qint64 milliseconds = 0;
};

} // namespace

class TestDrive : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_cue;
    QString m_toneCue;
    QString m_crashingReader;
    int m_states = 0;

    // A fresh shared state for the drive, so a disc taken out in one case is back for the next.
    QString freshState() { return m_dir.filePath(QStringLiteral("state%1").arg(++m_states)); }

    Run cli(const QStringList& arguments, const QStringList& faults, const QString& state)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAMBREL_VDRIVE_STATE"), state);
        for (const QString& fault : faults)
            environment.insert(fault.section(u'=', 0, 0), fault.section(u'=', 1));
        QProcess process;
        process.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        process.start(qEnvironmentVariable("TAMBREL_CLI"), arguments);
        Run run;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            run.err = QStringLiteral("tambrel-cli did not end");
            return run;
        }
        run.milliseconds = timer.elapsed();
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

private slots:
    // The test and the programs it starts share the settings store of the test's scratch home;
    // each case starts with none, so no drive model has an offset kept from another.
    void init() { QFile::remove(CRegister::databasePath()); }

    void initTestCase()
    {
        QVERIFY(qEnvironmentVariable("LD_PRELOAD").contains(u"vdrive"));
        m_cue = m_dir.filePath(QStringLiteral("disc.cue"));
        QVERIFY(!writeImage(m_cue, disc));
        m_toneCue = m_dir.filePath(QStringLiteral("tone.cue"));
        QVERIFY(!writeImage(m_toneCue, toneDisc));
        qputenv("TAMBREL_VDRIVE_CUE", QFile::encodeName(m_cue));
        qputenv("TAMBREL_VDRIVE_DEVICE", QFile::encodeName(Device));
        // The real reader, ended by SIGSEGV half a second into its work.
        m_crashingReader = m_dir.filePath(QStringLiteral("crashing-reader"));
        QFile script(m_crashingReader);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n(sleep 0.5; kill -SEGV $$) &\nexec \"" +
                     qgetenv("READER_PROGRAM") + "\" \"$@\"\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // The drive's line and its tracks, as the window shows them; an enhanced CD's last audio
    // track ends where its session does, not at the data session 11,400 sectors on.
    void driveAndTracks()
    {
        const QString enhanced = m_dir.filePath(QStringLiteral("enhanced.cue"));
        QVERIFY(!writeImage(enhanced, {{{TrackKind::Audio, 225, Content::Noise, 0},
                                        {TrackKind::Audio, 150, Content::Noise, 0},
                                        {TrackKind::Data, 300, Content::Silence, 0, true}},
                                       9}));
        const QString state = freshState();
        QProcess list;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAMBREL_VDRIVE_STATE"), state);
        environment.insert(QStringLiteral("TAMBREL_VDRIVE_CUE"), enhanced);
        list.setProcessEnvironment(environment);
        list.start(qEnvironmentVariable("TAMBREL_CLI"), {QStringLiteral("list")});
        QVERIFY(list.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(list.readAllStandardOutput()).trimmed(), DriveLine);
        list.start(qEnvironmentVariable("TAMBREL_CLI"), {QStringLiteral("list"), Device});
        QVERIFY(list.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(list.readAllStandardOutput()),
                 QStringLiteral("Session1_Track1\tAUDIO\t 0:03:000\n"
                                "Session1_Track2\tAUDIO\t 0:02:000\n"
                                "Session1_Track3\t\t 0:04:000\n"));

        // Its last audio track rips exact, with the offset reading on to the session's end only.
        const QString out = m_dir.filePath(QStringLiteral("enhanced"));
        QVERIFY(QDir().mkpath(out));
        environment.insert(QStringLiteral("TAMBREL_VDRIVE_OFFSET"), QStringLiteral("6"));
        list.setProcessEnvironment(environment);
        list.start(qEnvironmentVariable("TAMBREL_CLI"),
                   {QStringLiteral("convert"), Device, QStringLiteral("-f"), QStringLiteral("wav"),
                    QStringLiteral("-o"), out, QStringLiteral("-t"), QStringLiteral("2"),
                    QStringLiteral("--offset"), QStringLiteral("+6"), QStringLiteral("-q")});
        QVERIFY(list.waitForFinished(60000));
        QCOMPARE(list.exitCode(), 0);
        QByteArray pcm = trackPcm({{{TrackKind::Audio, 225, Content::Noise, 0},
                                    {TrackKind::Audio, 150, Content::Noise, 0}},
                                   9},
                                  1);
        pcm.replace(pcm.size() - 24, 24, QByteArray(24, '\0'));
        QVERIFY(contents(out + QStringLiteral("/Session1_Track2.wav")).mid(44) == pcm);
    }

    // A disc's ids are the same read from a drive as from its image: the drive's multisession
    // information and track numbers give the layout the sheet gives (the image's ids are checked
    // against the published definitions in tst_cueimage).
    void sameIdsAsTheImage_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<qint64>("binSectors");
        QTest::newRow("enhanced, short last audio track")
            << QByteArray("FILE \"d.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                          "TRACK 02 AUDIO\nINDEX 01 00:04:00\nREM SESSION 02\n"
                          "TRACK 03 MODE1/2352\nINDEX 01 00:06:50\n")
            << qint64(800);
        QTest::newRow("first track 3, catalogue number, ISRCs, pre-emphasis")
            << QByteArray("CATALOG 0724384960650\nFILE \"d.bin\" BINARY\nTRACK 03 AUDIO\n"
                          "ISRC GBAYE9900012\nINDEX 01 00:00:00\nTRACK 04 AUDIO\nFLAGS DCP PRE\n"
                          "INDEX 01 00:04:00\nTRACK 05 AUDIO\nISRC GBAYE9900014\n"
                          "INDEX 01 00:10:00\n")
            << qint64(975);
        QTest::newRow("mixed mode")
            << QByteArray("FILE \"d.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
                          "TRACK 02 AUDIO\nINDEX 01 00:04:00\nTRACK 03 AUDIO\nINDEX 01 00:10:00\n")
            << qint64(975);
    }

    void sameIdsAsTheImage()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(qint64, binSectors);
        const QString folder = m_dir.filePath(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        QFile bin(folder + QStringLiteral("/d.bin"));
        QVERIFY(bin.open(QIODevice::WriteOnly) &&
                bin.write(QByteArray(binSectors * SectorBytes, 1)));
        bin.close();
        const QString cue = folder + QStringLiteral("/d.cue");
        QFile sheetFile(cue);
        QVERIFY(sheetFile.open(QIODevice::WriteOnly) && sheetFile.write(sheet) == sheet.size());
        sheetFile.close();
        const auto ids = [&](const QString& source) {
            QProcess info;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("TAMBREL_VDRIVE_CUE"), cue);
            environment.insert(QStringLiteral("TAMBREL_VDRIVE_STATE"), freshState());
            info.setProcessEnvironment(environment);
            info.start(qEnvironmentVariable("TAMBREL_CLI"),
                       {QStringLiteral("info"), source, QStringLiteral("--metadata"),
                        QStringLiteral("none")});
            info.waitForFinished(30000);
            const QString out = QString::fromUtf8(info.readAllStandardOutput());
            return out.left(out.indexOf(QStringLiteral("Source:")));
        };
        const QString image = ids(cue);
        QVERIFY2(image.count(u'\n') >= 3 && !image.contains(u"none"), qPrintable(image));
        if (sheet.contains("ISRC"))
            QVERIFY2(image.contains(QStringLiteral("Catalogue number: 0724384960650\nISRC 03: "
                                                   "GBAYE9900012\nPre-emphasis 04: yes\nISRC "
                                                   "05: GBAYE9900014\n")),
                     qPrintable(image));
        QCOMPARE(ids(Device), image);
    }

    // Audio before the first track (INDEX 00 of track 1, a hidden track in its pregap) is listed
    // as track 0, left out unless asked for, and ripped exact with --tracks 0, from the image as
    // from the drive.
    void hiddenTrack_data()
    {
        QTest::addColumn<bool>("drive");
        QTest::newRow("image") << false;
        QTest::newRow("drive") << true;
    }

    void hiddenTrack()
    {
        QFETCH(bool, drive);
        const QString folder = m_dir.filePath(QStringLiteral("hidden"));
        QVERIFY(QDir().mkpath(folder));
        QByteArray audio = trackPcm(disc, 1).left(600 * SectorBytes);
        QFile bin(folder + QStringLiteral("/h.bin"));
        QVERIFY(bin.open(QIODevice::WriteOnly) && bin.write(audio) == audio.size());
        bin.close();
        const QString cue = folder + QStringLiteral("/h.cue");
        QFile sheet(cue);
        QVERIFY(sheet.open(QIODevice::WriteOnly));
        sheet.write("FILE \"h.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:03:00\n"
                    "TRACK 02 AUDIO\nINDEX 01 00:05:00\n");
        sheet.close();
        qputenv("TAMBREL_VDRIVE_CUE", QFile::encodeName(cue));
        const QString source = drive ? Device : cue;
        QProcess cli;
        cli.start(qEnvironmentVariable("TAMBREL_CLI"), {QStringLiteral("list"), source});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()),
                 QStringLiteral("Session1_Track0\tAUDIO\t 0:03:000\thidden\n"
                                "Session1_Track1\tAUDIO\t 0:02:000\n"
                                "Session1_Track2\tAUDIO\t 0:03:000\n"));
        const QTemporaryDir out;
        const Run run = this->cli(
            QStringList{QStringLiteral("convert"), source, QStringLiteral("-f"),
                        QStringLiteral("wav"), QStringLiteral("-o"), out.path(),
                        QStringLiteral("-t"), QStringLiteral("0,1"), QStringLiteral("-q")},
            {}, freshState());
        qputenv("TAMBREL_VDRIVE_CUE", QFile::encodeName(m_cue));
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(contents(out.filePath(QStringLiteral("Session1_Track0.wav"))).mid(44) ==
                audio.left(225 * SectorBytes));
        QVERIFY(contents(out.filePath(QStringLiteral("Session1_Track1.wav"))).mid(44) ==
                audio.mid(225 * SectorBytes, 150 * SectorBytes));
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("Session1_Track2.wav"))));
    }

    // Each row: the drive's faults, the options, and what must come of the rip, on the noise disc
    // or the tone disc. Rows marked "either" are drives whose reads can't be relied on: the run
    // may fail, but every file it writes is exact and its status tells the truth.
    void faults_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("status");
        QTest::addColumn<QList<int>>("written");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<bool>("tone");

        const QList<int> all{1, 2, 3};
        const QString noLine;
        QTest::newRow("clean") << QStringList{} << QStringList{} << 0 << 0 << all << QString()
                               << QStringLiteral("Suspicious positions: none") << false;
        QTest::newRow("read offset +6")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_OFFSET=6")}
            << QStringList{QStringLiteral("--offset"), QStringLiteral("+6")} << 6 << 0 << all
            << QString() << QStringLiteral("Read offset: +6 samples") << false;
        QTest::newRow("read offset -30")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_OFFSET=-30")}
            << QStringList{QStringLiteral("--offset"), QStringLiteral("-30")} << -30 << 0 << all
            << QString() << noLine << false;
        QTest::newRow("unreadable sectors")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_UNREADABLE=300-302")} << QStringList{}
            << 0 << 1 << QList<int>{1, 3}
            << QStringLiteral("The disc cannot be read at 0:01.00 into the track (sector 300)")
            << QStringLiteral("0:01.00\n") << false;
        // Paranoia, short of sector 300, matched reads of the tone 7 periods off beside it (a
        // repair at 0:03.66) and would hand out the track shifted; the drive can't give the
        // sector by itself either, so the track fails.
        QTest::newRow("unreadable sector in a steady tone")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_UNREADABLE=300-300")} << QStringList{}
            << 0 << 1 << QList<int>{2}
            << QStringLiteral("The disc cannot be read at 0:04.00 into the track (sector 300)")
            << QStringLiteral("Suspicious positions: 0:03.66") << true;
        // The same sector failing only the first reads: once the drive gives it, what paranoia
        // bridged is read again afresh, and the track is exact.
        QTest::newRow("intermittent error in a steady tone")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_UNREADABLE=300-300"),
                           QStringLiteral("TAMBREL_VDRIVE_UNREADABLE_FAILS=12")}
            << QStringList{} << 0 << 0 << QList<int>{1, 2} << QString() << noLine << true;
        // Sectors that fail paranoia's first read of them (libcdio tries a read 9 times) and read
        // after: a plain rip, each sector the failed read left unread given by the drive again.
        QTest::newRow("intermittent read error")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_UNREADABLE=300-302"),
                           QStringLiteral("TAMBREL_VDRIVE_UNREADABLE_FAILS=9")}
            << QStringList{} << 0 << 0 << all << QString() << QStringLiteral("Retries: 1") << false;
        QTest::newRow("disc removed in track 2")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_REMOVE_AT=1525")} << QStringList{} << 0
            << 1 << QList<int>{1} << QStringLiteral("The disc was removed from the drive.")
            << QStringLiteral("Result: not ripped: the disc was removed") << false;
        // A reader that crashes part way through a read (a signal standing in for paranoia's
        // crash on some jittery drives) fails its track; the program goes on.
        QTest::newRow("reader crashes")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_SPEED=2"),
                           QStringLiteral("TAMBREL_READER=") + m_crashingReader}
            << QStringList{} << 0 << 1 << QList<int>{} << QStringLiteral("its reader") << noLine
            << false;
        QTest::newRow("unreadable from track 2 on")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_UNREADABLE=225-1799")} << QStringList{}
            << 0 << 1 << QList<int>{1}
            << QStringLiteral("The disc cannot be read at 0:00.00 into the track (sector 225)")
            << noLine << false;
        QTest::newRow("test and copy")
            << QStringList{} << QStringList{QStringLiteral("--verify")} << 0 << 0 << all
            << QString() << QStringLiteral("Test and copy: Copy verified") << false;
        // A drive without an accurate stream is read twice unasked.
        QTest::newRow("jitter: either")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_JITTER=300"),
                           QStringLiteral("TAMBREL_VDRIVE_SEED=4")}
            << QStringList{} << 0 << -1 << all << QString()
            << QStringLiteral("Read mode: paranoia, full verification, test and copy (the drive "
                              "has no accurate stream)")
            << false;
        QTest::newRow("jitter behind a cache, test and copy: either")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_JITTER=300"),
                           QStringLiteral("TAMBREL_VDRIVE_CACHE=1000"),
                           QStringLiteral("TAMBREL_VDRIVE_SEED=11")}
            << QStringList{QStringLiteral("--verify")} << 0 << -1 << all << QString() << noLine
            << false;
    }

    void faults()
    {
        QFETCH(QStringList, faults);
        QFETCH(QStringList, options);
        QFETCH(int, offset);
        QFETCH(int, status);
        QFETCH(QList<int>, written);
        QFETCH(QString, message);
        QFETCH(QString, logLine);
        QFETCH(bool, tone);
        const DiscSpec& spec = tone ? toneDisc : disc;
        if (tone)
            faults << QStringLiteral("TAMBREL_VDRIVE_CUE=") + m_toneCue;
        const QTemporaryDir out;
        const QString log = out.filePath(QStringLiteral("rip.log"));
        const QString state = freshState();
        const Run run = cli(QStringList{QStringLiteral("convert"), Device, QStringLiteral("-f"),
                                        QStringLiteral("wav"), QStringLiteral("-o"), out.path(),
                                        QStringLiteral("--log=") + log, QStringLiteral("-q")} +
                                options,
                            faults, state);
        // Every read is bounded: a fault costs seconds, not minutes.
        QVERIFY2(run.milliseconds < 60000, qPrintable(run.err));
        QVERIFY2(run.status == 0 || run.status == 1, qPrintable(run.err));
        if (status >= 0)
            QVERIFY2(run.status == status, qPrintable(run.err));
        if (!message.isEmpty())
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
        // A removed disc is named once, for the track it went out in.
        QVERIFY(run.err.count(QStringLiteral("removed from the drive")) <= 1);

        int files = 0;
        for (int track = 1; track <= spec.tracks.size(); ++track) {
            const QString path = out.filePath(QStringLiteral("Session1_Track%1.wav").arg(track));
            if (!QFile::exists(path)) {
                QVERIFY2(status < 0 || !written.contains(track), qPrintable(run.err));
                continue;
            }
            ++files;
            QVERIFY2(written.contains(track), qPrintable(path));
            QVERIFY2(contents(path).mid(44) == expectedPcm(spec, track - 1, offset),
                     qPrintable(path));
        }
        QCOMPARE(run.status == 0, files == spec.tracks.size());
        const QString text = QString::fromUtf8(contents(log));
        if (!logLine.isEmpty())
            QVERIFY2(text.contains(logLine), qPrintable(text));
        // Test and copy read every sector twice.
        if (options.contains(QStringLiteral("--verify")) && run.status == 0) {
            QFile shared(state);
            QVERIFY(shared.open(QIODevice::ReadOnly));
            quint64 served = 0;
            shared.seek(16);
            QCOMPARE(shared.read(reinterpret_cast<char*>(&served), 8), qint64(8));
            QVERIFY(served >= 2 * 1800);
        }
    }

    // The window lists the drive, reads it with the offset kept for its model, converts a track
    // exactly, and ends a batch with one message when the disc is taken out.
    void window()
    {
        QFETCH(QStringList, faults);
        QFETCH(QList<int>, checked);
        QFETCH(QString, box);
        QFETCH(QString, status);
        for (const QString& fault : faults)
            qputenv(fault.section(u'=', 0, 0).toLatin1().constData(),
                    fault.section(u'=', 1).toLatin1());
        qputenv("TAMBREL_VDRIVE_STATE", QFile::encodeName(freshState()));
        readoffsets::store(CRegister(), QStringLiteral("TAMBREL Virtual CD"), 6);
        const QTemporaryDir out;
        ScriptedDialogs dialogs;
        {
            FormMain window(std::make_unique<CdioGrabber>(QStringList{}),
                            std::make_unique<AlsaPlayer>(), dialogs);
            window.Form_Load();
            window.show();
            QCOMPARE(window.findChild<QComboBox*>(QStringLiteral("Combo1"))->currentText(),
                     DriveLine);
            auto* tracks = window.findChild<QTreeWidget*>(QStringLiteral("TrackListView"));
            QCOMPARE(tracks->topLevelItemCount(), 3);
            for (int row = 0; row < 3; ++row)
                tracks->topLevelItem(row)->setCheckState(
                    FormMain::ColumnCheck, checked.contains(row + 1) ? Qt::Checked : Qt::Unchecked);
            window.findChild<QLineEdit*>(QStringLiteral("txtFolder"))->setText(out.path());
            window.findChild<QComboBox*>(QStringLiteral("Combo2"))
                ->setCurrentText(QStringLiteral("WAV"));
            auto* convert = window.findChild<QPushButton*>(QStringLiteral("Cmdgrab"));
            QTest::mouseClick(convert, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(convert->isEnabled(), 60000);
            QCOMPARE(window.findChild<QLabel*>(QStringLiteral("stBarStatusPanel1"))->text(),
                     status);
            QVERIFY(window.close());
        }
        for (const QString& fault : faults)
            qunsetenv(fault.section(u'=', 0, 0).toLatin1().constData());

        QStringList asked;
        for (const MessageBox& message : dialogs.asked)
            asked << message.text;
        QVERIFY2(asked.size() == (box.isEmpty() ? 0 : 1), qPrintable(asked.join(u'|')));
        if (!box.isEmpty())
            QVERIFY2(asked.first().contains(box), qPrintable(asked.first()));
        for (const int track : checked) {
            const QString path = out.filePath(QStringLiteral("Session1_Track%1.wav").arg(track));
            if (box.isEmpty())
                QVERIFY(contents(path).mid(44) == expectedPcm(disc, track - 1, 6));
            else
                QVERIFY(!QFile::exists(path));
        }
    }
    void window_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QList<int>>("checked");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("status");
        QTest::newRow("converts") << QStringList{QStringLiteral("TAMBREL_VDRIVE_OFFSET=6")}
                                  << QList<int>{2} << QString()
                                  << QStringLiteral("It is successful conversion");
        QTest::newRow("disc removed")
            << QStringList{QStringLiteral("TAMBREL_VDRIVE_REMOVE_AT=1525")} << QList<int>{2, 3}
            << QStringLiteral("The disc was removed from the drive.")
            << QStringLiteral("The disc was removed from the drive.");
    }
};

QTEST_MAIN(TestDrive)
#include "tst_drive.moc"
