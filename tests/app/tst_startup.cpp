#include "app/disctext.h"
#include "app/formmain.h"
#include "app/singleinstance.h"
#include "app/terminationsignals.h"
#include "components/alsa/alsaplayer.h"
#include "components/cdio/cdiograbber.h"
#include "preview/trackpreview.h"
#include "scripteddialogs.h"
#include "scriptedgrabber.h"
#include "scriptedplayer.h"
#include "settings/cregister.h"
#include "settings/mainsettings.h"
#include "support/discimage.h"
#include "ui/qtuserdialogs.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <csignal>

#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

// The program as a whole: one instance per user, and the window on a real disc image read by
// the real grabber.
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void secondInstanceEndsSilently()
    {
        const SingleInstance first;
        QVERIFY(first.isFirst());
        QVERIFY(!SingleInstance().isFirst());

        QProcess second;
        second.start(qEnvironmentVariable("TAMBREL_BIN"), {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
    }

    void windowOnARealImage()
    {
        QTemporaryDir dir;
        const QString cue = dir.filePath(QStringLiteral("disc.cue"));
        using namespace discimage;
        QVERIFY(!writeImage(cue, {{{TrackKind::Audio, 18384, Content::Tone, 440},
                                   {TrackKind::Data, 600, Content::Silence, 0},
                                   {TrackKind::Audio, 526, Content::Noise, 0}}}));
        QtUserDialogs dialogs;
        FormMain window(std::make_unique<CdioGrabber>(QStringList{cue}),
                        std::make_unique<AlsaPlayer>(), dialogs);
        window.Form_Load();
        auto* drives = window.findChild<QComboBox*>(QStringLiteral("Combo1"));
        auto* tracks = window.findChild<QTreeWidget*>(QStringLiteral("TrackListView"));
        QVERIFY(drives->currentText().startsWith(QLatin1Char('[') + cue + QStringLiteral("]  ")));
        QCOMPARE(tracks->topLevelItemCount(), 3);
        const QStringList expected[] = {
            {QStringLiteral("Session1_Track1"), QStringLiteral("AUDIO"),
             QStringLiteral(" 4:05:120")},
            {QStringLiteral("Session1_Track2"), QString(), QStringLiteral(" 0:08:000")},
            {QStringLiteral("Session1_Track3"), QStringLiteral("AUDIO"),
             QStringLiteral(" 0:07:013")}};
        for (int row = 0; row < 3; ++row) {
            const QTreeWidgetItem* item = tracks->topLevelItem(row);
            QCOMPARE(
                (QStringList{item->text(FormMain::ColumnName), item->text(FormMain::ColumnType),
                             item->text(FormMain::ColumnDuration)}),
                expected[row]);
        }

        // Replacing the image re-reads the disc by itself.
        QVERIFY(!writeImage(cue, {{{TrackKind::Audio, 750, Content::Tone, 440}}}));
        QTRY_COMPARE_WITH_TIMEOUT(tracks->topLevelItemCount(), 1, 5000);
        QVERIFY(window.close());
    }

    // Another program holds the settings store (a real second connection): the window comes up at
    // once, a value it could not read is not saved over with the default it showed instead, and a
    // change that can't be kept is said when the window closes.
    void settingsHeldByAnotherProgram()
    {
        const QString file = CRegister::databasePath();
        QFile::remove(file);
        const auto folder = [] {
            return CRegister().REGGetSetting(RegRoot::LocalMachine, SettingsPath,
                                             QStringLiteral("Output Folder2"), QString());
        };
        QVERIFY(CRegister().REGSaveSetting(RegRoot::LocalMachine, SettingsPath,
                                           QStringLiteral("Output Folder2"),
                                           QStringLiteral("/srv/rips")));
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &other), SQLITE_OK);
        const auto release = qScopeGuard([&] { sqlite3_close_v2(other); });
        const auto openWindow = [](ScriptedDialogs& dialogs) {
            auto window = std::make_unique<FormMain>(std::make_unique<ScriptedGrabber>(),
                                                     std::make_unique<ScriptedPlayer>(), dialogs);
            window->Form_Load();
            return window;
        };
        const auto shownFolder = [](FormMain& window) {
            return window.findChild<QLineEdit*>(QStringLiteral("txtFolder"))->text();
        };

        // Held for writing while the window starts, free by the time it closes.
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        ScriptedDialogs dialogs;
        QElapsedTimer timer;
        timer.start();
        auto window = openWindow(dialogs);
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(shownFolder(*window), MainSettings::defaultOutputFolder());
        QTRY_COMPARE(dialogs.asked.size(), 1);
        QVERIFY2(dialogs.asked[0].text.contains(u"in use by another program") &&
                     dialogs.asked[0].text.contains(u"changes made now will not be kept"),
                 qPrintable(dialogs.asked[0].text));
        QCOMPARE(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
        QVERIFY(window->close());
        QCOMPARE(folder(), QStringLiteral("/srv/rips"));

        // Free at the start, held for reading when the window closes after a change.
        ScriptedDialogs later;
        later.folders << QStringLiteral("/srv/other");
        window = openWindow(later);
        QCOMPARE(shownFolder(*window), QStringLiteral("/srv/rips"));
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("C2")), Qt::LeftButton);
        QCOMPARE(shownFolder(*window), QStringLiteral("/srv/other"));
        QCOMPARE(sqlite3_exec(other, "BEGIN; SELECT count(*) FROM vals", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        timer.restart();
        QVERIFY(window->close());
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(later.asked.size(), 1);
        QVERIFY2(later.asked[0].text.contains(u"will not be kept"),
                 qPrintable(later.asked[0].text));
        QCOMPARE(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
        QCOMPARE(folder(), QStringLiteral("/srv/rips"));
    }

    // Logging out sends SIGHUP or SIGTERM: the running grab stops, the window closes without a
    // question, and the output folder keeps neither the file nor its temporary one.
    // A signal that comes while no event loop runs (after a program's last piece of work, just
    // before it exits) is still taken, and ends the program by that signal.
    void lateSignalEndsTheProgramByIt()
    {
        TerminationSignals termination({SIGUSR2});
        QVERIFY(termination.ok());
        QCOMPARE(termination.caught(), 0);
        ::raise(SIGUSR2);
        QCOMPARE(termination.caught(), SIGUSR2);
        for (const int signalNumber : {SIGUSR2, 0}) {
            const pid_t child = ::fork();
            if (child == 0) {
                TerminationSignals::endBy(signalNumber);
                ::_exit(7);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            if (signalNumber != 0)
                QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber);
            else
                QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 7);
        }
    }

    void endOfSessionDuringAGrab_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void endOfSessionDuringAGrab()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir dir;
        const QString cue = dir.filePath(QStringLiteral("disc.cue"));
        using namespace discimage;
        QVERIFY(!writeImage(cue, {{{TrackKind::Audio, 75 * 180, Content::Noise, 0}}}));
        const QString out = dir.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));

        ScriptedDialogs dialogs;
        FormMain window(std::make_unique<CdioGrabber>(QStringList{cue}),
                        std::make_unique<AlsaPlayer>(), dialogs);
        window.Form_Load();
        // Wired as the program wires it.
        TerminationSignals termination({SIGTERM, SIGHUP});
        connect(&termination, &TerminationSignals::received, &window,
                &FormMain::closeWithoutAsking);
        window.show();
        window.findChild<QLineEdit*>(QStringLiteral("txtFolder"))->setText(out);
        window.findChild<QComboBox*>(QStringLiteral("Combo2"))
            ->setCurrentText(QStringLiteral("OGG"));
        window.findChild<QTreeWidget*>(QStringLiteral("TrackListView"))
            ->topLevelItem(0)
            ->setCheckState(FormMain::ColumnCheck, Qt::Checked);
        bool signalled = false;
        connect(window.grabber(), &CdGrabber::OperationProgress, &window, [&](double percent) {
            if (percent < 100 && !std::exchange(signalled, true))
                ::raise(signalNumber);
        });
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Cmdgrab")),
                          Qt::LeftButton);

        QVERIFY(signalled);
        QCOMPARE(termination.caught(), signalNumber);
        QVERIFY(!window.isVisible());
        QVERIFY(dialogs.asked.isEmpty());
        QVERIFY(!window.grabber()->Busy());
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
    }

    // The preview hands the player exactly the track's audio, from its start and after a seek.
    void previewOnARealImage()
    {
        QTemporaryDir dir;
        const QString cue = dir.filePath(QStringLiteral("disc.cue"));
        using namespace discimage;
        const DiscSpec disc{{{TrackKind::Audio, 300, Content::Tone, 440},
                             {TrackKind::Audio, 1001, Content::Noise, 0}}};
        QVERIFY(!writeImage(cue, disc));
        ScriptedDialogs dialogs;
        auto player = std::make_unique<ScriptedPlayer>();
        ScriptedPlayer& played = *player;
        FormMain window(std::make_unique<CdioGrabber>(QStringList{cue}), std::move(player),
                        dialogs);
        window.Form_Load();
        window.show();
        auto* tracks = window.findChild<QTreeWidget*>(QStringLiteral("TrackListView"));
        QTest::mouseClick(tracks->viewport(), Qt::LeftButton, {},
                          tracks->visualItemRect(tracks->topLevelItem(1)).center());
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command3")),
                          Qt::LeftButton);
        QVERIFY(window.preview()->flgPlay);

        auto playToTheEnd = [&] {
            while (played.chunks.isEmpty() || !played.chunks.last().isEmpty())
                played.raiseRequest();
            const QByteArray audio = played.chunks.join();
            played.chunks.clear();
            return audio;
        };
        const QByteArray pcm = trackPcm(disc, 1);
        QCOMPARE(playToTheEnd(), pcm);

        auto* position = window.findChild<QSlider*>(QStringLiteral("slPosition"));
        position->setSliderDown(true);
        position->setSliderPosition(37);
        position->setSliderDown(false);
        const qint64 sector = qRound64(37 * 1001 / 100.0);
        QCOMPARE(playToTheEnd(), pcm.mid(sector * SectorBytes));
        QVERIFY(dialogs.asked.isEmpty());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
