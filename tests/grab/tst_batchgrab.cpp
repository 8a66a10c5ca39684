#include "grab/trackoutput.h"
#include "mainwindowtest.h"
#include "preview/trackpreview.h"
#include "settings/mainsettings.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace
{

const QString tambrel = QStringLiteral("Tambrel");
const QString conversionError = QStringLiteral("Error occured during conversion..\r\nError "
                                               "Description:");

const QStringList idleControls = {QStringLiteral("Cmdgrab"),   QStringLiteral("Command3"),
                                  QStringLiteral("Combo1"),    QStringLiteral("C1"),
                                  QStringLiteral("C2"),        QStringLiteral("Combo2"),
                                  QStringLiteral("txtFolder"), QStringLiteral("TrackListView"),
                                  QStringLiteral("Command1")};

// What the window showed right after it handled one progress event.
struct Seen {
    int bar = -1;
    bool barVisible = false;
    QString status;
    QString column;
    QTreeWidgetItem* selected = nullptr;
};

} // namespace

class TestBatchGrab : public MainWindowTest
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<Seen> m_seen;

    // A started window on one drive whose sessions hold the given track counts, writing into
    // the test's folder.
    FormMain& openWindow(QList<int> tracksPerSession = {3})
    {
        makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), tracksPerSession)});
        m_window->Form_Load();
        folderBox()->setText(m_dir->path());
        return *m_window;
    }

    QTreeWidgetItem* row(int index) const { return tracks()->topLevelItem(index); }
    QProgressBar* bar() const { return control<QProgressBar>(QStringLiteral("pbProgressBar")); }
    bool barVisible() const { return bar()->isVisibleTo(m_window.get()); }
    QString status() const { return control<QLabel>(QStringLiteral("stBarStatusPanel1"))->text(); }
    QLineEdit* folderBox() const { return control<QLineEdit>(QStringLiteral("txtFolder")); }
    QComboBox* formats() const { return control<QComboBox>(QStringLiteral("Combo2")); }
    void click(const QString& name) { userClick(control<QPushButton>(name)); }
    QString output(const QString& file) const { return m_dir->path() + u'/' + file; }

    // Runs the Convert command to its end. A batch that is still waiting after ten seconds is
    // a fault: it is cancelled so that the test fails instead of hanging.
    void convert()
    {
        bool stuck = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, m_window.get(), [&] {
            stuck = true;
            click(QStringLiteral("cmdCancel"));
        });
        watchdog.start(10000);
        click(QStringLiteral("Cmdgrab"));
        QVERIFY2(!stuck, "the batch never ended by itself");
    }

    void check(QList<int> rows)
    {
        for (int r : rows) {
            if (row(r)->checkState(FormMain::ColumnCheck) != Qt::Checked)
                userClickRowCheck(r);
            QCOMPARE(row(r)->checkState(FormMain::ColumnCheck), Qt::Checked);
        }
    }

    // Records what the window shows after each progress event it handled.
    void watchProgress()
    {
        connect(m_grabber, &CdGrabber::OperationProgress, m_window.get(), [this] {
            m_seen << Seen{bar()->value(), barVisible(), status(),
                           m_window->currentItem()->text(FormMain::ColumnPercent),
                           tracks()->currentItem()};
        });
    }

    QStringList grabbedPaths() const
    {
        QStringList paths;
        for (const auto& grab : m_grabber->grabs)
            paths << grab.path;
        return paths;
    }

    void verifyBox(int index, const QString& text, const QString& title,
                   MessageBox::Buttons buttons, MessageBox::Icon icon)
    {
        QVERIFY(index < m_dialogs.asked.size());
        const MessageBox& box = m_dialogs.asked[index];
        QCOMPARE(box.text, text);
        QCOMPARE(box.title, title);
        QCOMPARE(box.buttons, buttons);
        QCOMPARE(box.icon, icon);
    }

    void verifyIdleAfterBatch()
    {
        for (const QString& name : idleControls)
            QVERIFY2(enabled(name), qPrintable(name));
        QVERIFY(!enabled(QStringLiteral("cmdCancel")));
        QVERIFY(!m_window->trackGrabbing());
        QVERIFY(!m_window->preview()->flgPlay);
    }

private slots:
    void init()
    {
        startAfresh();
        m_seen.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void cleanup() { closeWindow(); }

    void outputPath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("path");
        const struct {
            const char *tag, *folder, *name;
            int format;
            const char* path;
        } rows[] = {
            {"wav", "/music", "Session1_Track1", 1, "/music/Session1_Track1.wav"},
            {"mp3", "/music", "Session1_Track3", 2, "/music/Session1_Track3.mp3"},
            {"wma", "/m", "t", 3, "/m/t.wma"},
            {"ogg", "/m", "t", 4, "/m/t.ogg"},
            {"no format yet", "/m", "t", 0, "/m/t"},
            {"unknown format", "/m", "t", 9, "/m/t"},
            {"colon stays", "/m", "a/b:c?", 2, "/m/a-b:c-.mp3"},
            {"every replaced character", "/m", "\"<>|/\\*?x", 1, "/m/--------x.wav"},
            {"folder kept as it is", "/m/", "t", 1, "/m//t.wav"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tag) << QString::fromUtf8(r.folder) << QString::fromUtf8(r.name)
                                 << r.format << QString::fromUtf8(r.path);
    }

    void outputPath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(int, format);
        QFETCH(QString, path);
        QCOMPARE(trackoutput::outputPath(folder, name, format), path);
    }

    void formatCodes()
    {
        const QStringList texts = {QStringLiteral("WAV"), QStringLiteral("MP3"),
                                   QStringLiteral("WMA"), QStringLiteral("OGG")};
        for (int code = 1; code <= 4; ++code)
            QCOMPARE(trackoutput::formatCode(texts[code - 1]), std::optional<quint8>(code));
        for (const char* other : {"ogg", "FLAC", ""})
            QCOMPARE(trackoutput::formatCode(QString::fromUtf8(other)), std::nullopt);
    }

    void progressTexts_data()
    {
        QTest::addColumn<int>("started");
        QTest::addColumn<int>("toGrab");
        QTest::addColumn<double>("percent");
        QTest::addColumn<QString>("completed");
        QTest::addColumn<QString>("column");
        const struct {
            const char* tag;
            int started, toGrab;
            double percent;
            const char *completed, *column;
        } rows[] = {
            {"start", 1, 1, 0.0, "Completed: 0.00%", ".00%"},
            {"half a percent", 1, 2, 0.5, "Completed: 0.25%", ".50%"},
            {"one track", 1, 1, 25.5, "Completed: 25.50%", "25.50%"},
            {"second of four", 2, 4, 50.0, "Completed: 37.50%", "50.00%"},
            {"end", 1, 1, 100.0, "Completed: 100.00%", "100.00%"},
            {"nothing to grab", 1, 0, 50.0, "Completed: 0.00%", "50.00%"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tag) << r.started << r.toGrab << r.percent
                                 << QString::fromUtf8(r.completed) << QString::fromUtf8(r.column);
    }

    void progressTexts()
    {
        QFETCH(int, started);
        QFETCH(int, toGrab);
        QFETCH(double, percent);
        QFETCH(QString, completed);
        QFETCH(QString, column);
        QCOMPARE(trackoutput::completedText(trackoutput::overallPercent(started, toGrab, percent)),
                 completed);
        QCOMPARE(trackoutput::percentColumnText(percent), column);
    }

    void discChangeWaitsForTheBatch_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("batch ends") << "";
        QTest::newRow("batch cancelled") << "cmdCancel";
        // The grabber is closed with the window: nothing is read from it or told afterwards.
        QTest::newRow("window closed") << "close";
    }

    void discChangeWaitsForTheBatch()
    {
        QFETCH(QString, end);
        openWindow({3});
        check({0, 1});
        m_grabber->grabScripts = {{{50, 100}, {}}, {{50, 100}, {}}};
        // Mid-batch, a disc of four tracks takes the place of the old one.
        connect(m_grabber, &CdGrabber::OperationProgress, m_window.get(), [&](double percent) {
            if (percent != 50 || m_grabber->drives[0].sessions[0].size() == 4)
                return;
            m_grabber->drives[0].sessions[0] << ScriptedGrabber::Track{};
            m_grabber->raiseMediaChange();
            QCOMPARE(tracks()->topLevelItemCount(), 3);
            if (end == u"cmdCancel")
                click(QStringLiteral("cmdCancel"));
            else if (end == u"close")
                m_window->close();
        });
        convert();
        QCOMPARE(m_grabber->grabs.size(), end.isEmpty() ? 2 : 1);
        QVERIFY(m_dialogs.asked.isEmpty());
        verifyIdleAfterBatch();
        if (end == u"close") {
            QVERIFY(m_grabber->calls.lastIndexOf(QStringLiteral("Refresh")) <
                    m_grabber->calls.indexOf(QStringLiteral("Close")));
            QCOMPARE(tracks()->topLevelItemCount(), 3);
        } else {
            QCOMPARE(tracks()->topLevelItemCount(), 4);
        }
    }

    // A slow window lets later progress events run inside an earlier one's handler; the track
    // still ends showing its end, not the oldest value.
    void burstOfProgressEndsAtTheEnd()
    {
        openWindow({2});
        check({0, 1});
        ScriptedGrabber::GrabScript burst{{3.33, 50, 99.5, 100}, {}, true};
        m_grabber->grabScripts = {burst, burst};
        convert();
        QCOMPARE(row(0)->text(FormMain::ColumnPercent), QStringLiteral("100.00%"));
        QCOMPARE(row(1)->text(FormMain::ColumnPercent), QStringLiteral("100.00%"));
        QCOMPARE(m_grabber->grabs.size(), 2);
        QCOMPARE(status(), QStringLiteral("It is successful conversion"));
    }

    // A drive stuck on a bad stretch retries again and again; one box, the rest counted.
    void retryStormShowsOneBox()
    {
        openWindow({1});
        check({0});
        m_grabber->grabScripts = {{{10, 100}, {}}};
        QString statusWhileOpen;
        m_dialogs.whileOpen = [&] {
            for (int retry = 2; retry <= 20; ++retry)
                m_grabber->raiseGrabRetry(retry, 4500);
            statusWhileOpen = status();
        };
        connect(m_grabber, &CdGrabber::OperationProgress, m_window.get(), [&](double percent) {
            if (percent == 10)
                m_grabber->raiseGrabRetry(1, 4500);
        });
        convert();
        QCOMPARE(m_dialogs.asked.size(), 1);
        verifyBox(0, QString(), tambrel, MessageBox::Buttons::Ok, MessageBox::Icon::None);
        QCOMPARE(statusWhileOpen, QStringLiteral("Read retries: 20"));
        QCOMPARE(row(0)->text(FormMain::ColumnPercent), QStringLiteral("100.00%"));
    }

    void grabsCheckedRowsInListOrder()
    {
        openWindow({3});
        check({0, 2});
        m_grabber->grabScripts = {{{50, 100}, {}}, {{50, 100}, {}}};
        watchProgress();
        convert();

        QCOMPARE(grabbedPaths(), QStringList({output(QStringLiteral("Session1_Track1.wav")),
                                              output(QStringLiteral("Session1_Track3.wav"))}));
        QCOMPARE(m_grabber->grabs[0].track, 0);
        QCOMPARE(m_grabber->grabs[1].track, 2);
        // Half of the first of two tracks is a quarter of the batch, half of the second three
        // quarters; each grabbed row was the selected one.
        QCOMPARE(m_seen.size(), 4);
        QCOMPARE(m_seen[0].status, QStringLiteral("Completed: 25.00%"));
        QCOMPARE(m_seen[2].status, QStringLiteral("Completed: 75.00%"));
        QCOMPARE(m_seen[0].selected, row(0));
        QCOMPARE(m_seen[2].selected, row(2));
        QCOMPARE(row(0)->text(FormMain::ColumnPercent), QStringLiteral("100.00%"));
        QCOMPARE(row(1)->text(FormMain::ColumnPercent), QStringLiteral("0%"));
        QCOMPARE(row(2)->text(FormMain::ColumnPercent), QStringLiteral("100.00%"));

        // Finishing: the completion text stays, the bar goes away.
        QCOMPARE(status(), QStringLiteral("It is successful conversion"));
        QVERIFY(!barVisible());
        QCOMPARE(bar()->value(), 0);
        verifyIdleAfterBatch();
        QVERIFY(m_dialogs.asked.isEmpty());
    }

    void progressShowsInBarStatusAndColumn()
    {
        openWindow({1});
        check({0});
        m_grabber->grabScripts = {{{0, 25.5, 100}, {}}};
        watchProgress();
        convert();

        QCOMPARE(m_seen.size(), 3);
        const QStringList statuses = {QStringLiteral("Completed: 0.00%"),
                                      QStringLiteral("Completed: 25.50%"),
                                      QStringLiteral("Completed: 100.00%")};
        const QStringList columns = {QStringLiteral(".00%"), QStringLiteral("25.50%"),
                                     QStringLiteral("100.00%")};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(m_seen[i].barVisible);
            QCOMPARE(m_seen[i].status, statuses[i]);
            QCOMPARE(m_seen[i].column, columns[i]);
        }
        QCOMPARE(m_seen[0].bar, 0);
        QVERIFY(m_seen[1].bar == 25 || m_seen[1].bar == 26);
        QCOMPARE(m_seen[2].bar, 100);
    }

    void onlyExactlyHundredEndsATrackAndCancelEndsTheBatch()
    {
        openWindow({2});
        check({0, 1});
        m_grabber->grabScripts = {{{99.999}, {}}};
        watchProgress();
        // Cancel, once the grab has had ample time to end if 99.999 ended it.
        QStringList enabledAfterCancel;
        QTimer::singleShot(700, m_window.get(), [&] {
            click(QStringLiteral("cmdCancel"));
            for (const QString& name : idleControls)
                if (enabled(name))
                    enabledAfterCancel << name;
            // Convert pressed before the batch has noticed the Cancel starts nothing.
            click(QStringLiteral("Cmdgrab"));
        });
        QElapsedTimer clock;
        clock.start();
        convert();

        QVERIFY(clock.elapsed() >= 700);
        QCOMPARE(m_seen.size(), 1);
        QCOMPARE(m_seen[0].column, QStringLiteral("100.00%"));
        // Cancel itself gives back Convert, Play and Refresh; the rest follows when the batch
        // notices.
        QCOMPARE(enabledAfterCancel,
                 QStringList({QStringLiteral("Cmdgrab"), QStringLiteral("Command3"),
                              QStringLiteral("Command1")}));
        QCOMPARE(m_grabber->grabs.size(), 1);
        QVERIFY(m_grabber->calls.contains(QStringLiteral("StopGrab")));
        QCOMPARE(status(), QStringLiteral("Canceling....."));
        QVERIFY(barVisible());
        QCOMPARE(bar()->value(), 0);
        verifyIdleAfterBatch();
        QVERIFY(m_dialogs.asked.isEmpty());

        // The next batch starts afresh.
        m_grabber->grabScripts = {{{100}, {}}, {{100}, {}}};
        convert();
        QCOMPARE(m_grabber->grabs.size(), 3);
        QCOMPARE(status(), QStringLiteral("It is successful conversion"));
    }

    void lateEventAfterCancel_data()
    {
        QTest::addColumn<double>("late");
        QTest::addColumn<QString>("column");
        // A cancelled track's final 100 would claim a finished file: the column keeps its value.
        QTest::newRow("100") << 100.0 << "50.00%";
        QTest::newRow("60") << 60.0 << "60.00%";
    }

    void lateEventAfterCancel()
    {
        QFETCH(double, late);
        QFETCH(QString, column);
        openWindow({1});
        check({0});
        m_grabber->grabScripts = {{{50}, {}}};
        QTimer::singleShot(300, m_window.get(), [&] {
            click(QStringLiteral("cmdCancel"));
            m_grabber->raiseProgress(late);
        });
        convert();
        QCOMPARE(row(0)->text(FormMain::ColumnPercent), column);
        // Cancel, once more for the late event, and once more when the batch ends.
        QCOMPARE(m_grabber->calls.count(QStringLiteral("StopGrab")), 3);
        QCOMPARE(status(), QStringLiteral("Canceling....."));
    }

    void nothingChecked()
    {
        openWindow({2});
        convert();
        QCOMPARE(m_dialogs.asked.size(), 1);
        verifyBox(0, QStringLiteral("You must check on any list view item"),
                  QStringLiteral("Warning"), MessageBox::Buttons::Ok, MessageBox::Icon::None);
        QVERIFY(m_grabber->grabs.isEmpty());
        QCOMPARE(status(), QStringLiteral("It is successful conversion"));
        QVERIFY(!barVisible());
        verifyIdleAfterBatch();
    }

    void missingFolderStopsTheBatch_data()
    {
        QTest::addColumn<bool>("removedDuringBatch");
        QTest::addColumn<int>("grabbed");
        QTest::newRow("missing from the start") << false << 0;
        QTest::newRow("removed during the first track") << true << 1;
    }

    void missingFolderStopsTheBatch()
    {
        QFETCH(bool, removedDuringBatch);
        QFETCH(int, grabbed);
        openWindow({3});
        check({0, 1, 2});
        const QString folder = m_dir->path() + QStringLiteral("/rips");
        QVERIFY(QDir().mkpath(folder));
        folderBox()->setText(folder);
        if (removedDuringBatch) {
            m_grabber->grabScripts = {{{100}, {}}};
            connect(m_grabber, &CdGrabber::OperationProgress, m_window.get(),
                    [folder] { QDir(folder).removeRecursively(); });
        } else {
            QVERIFY(QDir(folder).removeRecursively());
        }
        convert();

        QCOMPARE(m_grabber->grabs.size(), grabbed);
        QCOMPARE(m_dialogs.asked.size(), 1);
        verifyBox(
            0, QStringLiteral(" The output folder doesn't exist,please change the output folder"),
            tambrel, MessageBox::Buttons::Ok, MessageBox::Icon::None);
        QCOMPARE(status(), QStringLiteral("Canceling....."));
        QVERIFY(m_grabber->calls.contains(QStringLiteral("StopGrab")));
        verifyIdleAfterBatch();
    }

    // The default folder is made at the first Convert into it; any other folder must exist.
    void defaultFolderIsMadeAtTheFirstConvert()
    {
        openWindow({1});
        const QString folder = MainSettings::defaultOutputFolder();
        QVERIFY(folder.startsWith(qEnvironmentVariable("HOME")));
        QDir(folder).removeRecursively();
        folderBox()->setText(folder);
        check({0});
        m_grabber->grabScripts = {{{100}, {}}};
        convert();
        QVERIFY(m_dialogs.asked.isEmpty());
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(grabbedPaths(), QStringList{folder + QStringLiteral("/Session1_Track1.wav")});
        QCOMPARE(status(), QStringLiteral("It is successful conversion"));
    }

    void existingFile_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("grabbed");
        QTest::newRow("keep it") << int(MessageBox::Answer::No) << 1;
        QTest::newRow("overwrite it") << int(MessageBox::Answer::Yes) << 2;
    }

    void existingFile()
    {
        QFETCH(int, answer);
        QFETCH(int, grabbed);
        openWindow({2});
        check({0, 1});
        QFile existing(output(QStringLiteral("Session1_Track1.wav")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        m_dialogs.answers << MessageBox::Answer(answer);
        m_grabber->grabScripts = {{{100}, {}}, {{100}, {}}};
        convert();

        // Only the question: a declined overwrite is no error.
        QCOMPARE(m_dialogs.asked.size(), 1);
        verifyBox(0, QStringLiteral("are you want to overwrite the existing file?"), tambrel,
                  MessageBox::Buttons::YesNo, MessageBox::Icon::Question);
        QCOMPARE(m_dialogs.asked[0].defaultAnswer, MessageBox::Answer::No);
        QCOMPARE(m_grabber->grabs.size(), grabbed);
        QCOMPARE(grabbedPaths().last(), output(QStringLiteral("Session1_Track2.wav")));
        if (grabbed == 2)
            QCOMPARE(grabbedPaths().first(), existing.fileName());
        QCOMPARE(status(), QStringLiteral("It is successful conversion"));
        verifyIdleAfterBatch();
    }

    // Cancel clicked while the overwrite question is open ends the batch without any grab; the
    // preview is free again afterwards.
    void cancelDuringTheOverwriteQuestion()
    {
        openWindow({2});
        check({0, 1});
        QFile existing(output(QStringLiteral("Session1_Track1.wav")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        m_dialogs.answers << MessageBox::Answer::No;
        m_dialogs.whileOpen = [this] { click(QStringLiteral("cmdCancel")); };
        convert();
        QCOMPARE(m_grabber->grabs.size(), 0);
        QCOMPARE(status(), QStringLiteral("Canceling....."));
        verifyIdleAfterBatch();
    }

    void failedTrackIsToldAndTheBatchGoesOn_data()
    {
        QTest::addColumn<bool>("failsAtStart");
        QTest::addColumn<QStringList>("descriptions");
        QTest::newRow("GrabTrack fails")
            << true
            << QStringList{QStringLiteral("GrabTrack failed"), QStringLiteral("GrabTrack failed")};
        QTest::newRow("fails during the track")
            << false << QStringList{QStringLiteral("read error")};
    }

    void failedTrackIsToldAndTheBatchGoesOn()
    {
        QFETCH(bool, failsAtStart);
        QFETCH(QStringList, descriptions);
        openWindow({2});
        check({0, 1});
        if (failsAtStart)
            m_grabber->failing = {QStringLiteral("GrabTrack")};
        else
            m_grabber->grabScripts = {{{10}, QStringLiteral("read error")}, {{100}, {}}};
        convert();

        QCOMPARE(m_grabber->grabs.size(), 2);
        QCOMPARE(m_dialogs.asked.size(), descriptions.size());
        for (int i = 0; i < descriptions.size(); ++i)
            verifyBox(i, conversionError + descriptions[i], tambrel, MessageBox::Buttons::Ok,
                      MessageBox::Icon::Critical);
        // The end of the batch and each failed row say what failed; a track's progress before
        // its failure does not stay on its row.
        QCOMPARE(
            status(),
            QStringLiteral("Conversion finished: %1 of 2 tracks failed").arg(descriptions.size()));
        QCOMPARE(row(0)->text(FormMain::ColumnPercent), QStringLiteral("Failed"));
        QCOMPARE(row(1)->text(FormMain::ColumnPercent),
                 failsAtStart ? QStringLiteral("Failed") : QStringLiteral("100.00%"));
        verifyIdleAfterBatch();

        // A late failure report, with no track under way, is not told.
        emit m_grabber->GrabFailed(QStringLiteral("late"));
        QCOMPARE(m_dialogs.asked.size(), descriptions.size());
    }

    void pathFromTagNameAndFormat()
    {
        // A saved format the list doesn't know leaves no format chosen: no extension.
        store(QStringLiteral("Last Output Format2"), QStringLiteral("FLAC"));
        openWindow({58, 2});
        check({57, 59});
        m_grabber->grabScripts = {{{100}, {}}, {{100}, {}}};
        convert();
        QCOMPARE(grabbedPaths(), QStringList({output(QStringLiteral("Session1_Track58")),
                                              output(QStringLiteral("Session2_Track2"))}));
        QCOMPARE(m_grabber->grabs[0].session, 0);
        QCOMPARE(m_grabber->grabs[0].track, 57);
        QCOMPARE(m_grabber->grabs[1].session, 1);
        QCOMPARE(m_grabber->grabs[1].track, 1);
    }

    void eventsWithoutABatchChangeNothing()
    {
        openWindow({1});
        const int value = bar()->value();
        m_grabber->raiseProgress(50);
        m_grabber->raiseProgress(100);
        QCOMPARE(status(), QStringLiteral("Ready"));
        QCOMPARE(bar()->value(), value);
        QVERIFY(!barVisible());
        QCOMPARE(row(0)->text(FormMain::ColumnPercent), QStringLiteral("0%"));

        // A retry is only told, with an empty text.
        m_grabber->raiseGrabRetry(1, 4500);
        QCOMPARE(m_dialogs.asked.size(), 1);
        verifyBox(0, QString(), tambrel, MessageBox::Buttons::Ok, MessageBox::Icon::None);
        QCOMPARE(status(), QStringLiteral("Ready"));
    }

    // While a track is grabbed its check boxes are locked and a click selects no other track.
    void rowsAreLockedDuringAGrab()
    {
        openWindow({2});
        check({0});
        QList<Qt::CheckState> seen;
        int trackAfterClick = -1;
        QTimer::singleShot(300, m_window.get(), [&] {
            row(0)->setCheckState(FormMain::ColumnCheck, Qt::Unchecked);
            row(1)->setCheckState(FormMain::ColumnCheck, Qt::Checked);
            seen = {row(0)->checkState(FormMain::ColumnCheck),
                    row(1)->checkState(FormMain::ColumnCheck)};
            emit tracks()->itemClicked(row(1), FormMain::ColumnName);
            trackAfterClick = m_grabber->CurrentTrack();
            click(QStringLiteral("cmdCancel"));
        });
        convert();
        QCOMPARE(seen, (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked}));
        QCOMPARE(trackAfterClick, 0);
        // Once the batch is over, checks change again.
        row(1)->setCheckState(FormMain::ColumnCheck, Qt::Checked);
        QCOMPARE(row(1)->checkState(FormMain::ColumnCheck), Qt::Checked);
    }

    void closingDuringAGrabStopsIt()
    {
        auto& window = openWindow({2});
        check({0, 1});
        // The grab never reports anything; only the close ends it.
        QTimer::singleShot(300, &window, [&window] { window.close(); });
        convert();
        QCOMPARE(m_grabber->grabs.size(), 1);
        QCOMPARE(status(), QStringLiteral("Canceling....."));
        const int stop = m_grabber->calls.indexOf(QStringLiteral("StopGrab"));
        QVERIFY(stop >= 0);
        QVERIFY(stop < m_grabber->calls.indexOf(QStringLiteral("Close")));
    }

    void formatChoice()
    {
        store(QStringLiteral("Last Output Format2"), QStringLiteral("OGG"));
        auto& window = openWindow({});
        QCOMPARE(window.outputFormat(), 4);
        formats()->setCurrentText(QStringLiteral("MP3"));
        QCOMPARE(window.outputFormat(), 2);
        QCOMPARE(window.mainSettings().LastOutputFormat, QStringLiteral("OGG"));
        formats()->setCurrentText(QStringLiteral("WAV"));
        QCOMPARE(window.outputFormat(), 1);
        formats()->setCurrentText(QStringLiteral("OGG"));
        QCOMPARE(window.outputFormat(), 4);
        QCOMPARE(window.mainSettings().LastOutputFormat, QStringLiteral("WAV"));
    }

    void settingsButton_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("messages");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("WAV") << "WAV" << 1 << "";
        QTest::newRow("MP3") << "MP3" << 0 << "frmmp3";
        QTest::newRow("WMA") << "WMA" << 0 << "frmwma";
        QTest::newRow("OGG") << "OGG" << 0 << "frmogg";
    }

    void settingsButton()
    {
        QFETCH(QString, format);
        QFETCH(int, messages);
        QFETCH(QString, dialog);
        openWindow({});
        m_window->show();
        formats()->setCurrentText(format);
        click(QStringLiteral("C1"));
        QCOMPARE(m_dialogs.asked.size(), messages);
        if (messages)
            verifyBox(0, QStringLiteral("Options for WAV format are not available!"), tambrel,
                      MessageBox::Buttons::Ok, MessageBox::Icon::None);
        // The format's own dialog, modal to the window; closing it ends it.
        QList<QDialog*> open = m_window->findChildren<QDialog*>();
        open.removeIf([](QDialog* d) { return !d->isVisible(); });
        QCOMPARE(open.size(), dialog.isEmpty() ? 0 : 1);
        if (dialog.isEmpty())
            return;
        QCOMPARE(open[0]->objectName(), dialog);
        QVERIFY(open[0]->isVisible() && open[0]->isModal());
        open[0]->reject();
        QTRY_VERIFY(!m_window->findChild<QDialog*>(dialog));
    }

    void browse()
    {
        auto& window = openWindow({});
        const QString before = folderBox()->text();
        click(QStringLiteral("C2"));
        QCOMPARE(m_dialogs.folderTitle, QStringLiteral("Select a folder"));
        QCOMPARE(m_dialogs.folderStart, before);
        QCOMPARE(folderBox()->text(), before);
        QVERIFY(window.mainSettings().OutputFolder != before);

        m_dialogs.folders << QStringLiteral("/srv/rips");
        click(QStringLiteral("C2"));
        QCOMPARE(m_dialogs.folderRequests, 2);
        QCOMPARE(folderBox()->text(), QStringLiteral("/srv/rips"));
        QCOMPARE(window.mainSettings().OutputFolder, QStringLiteral("/srv/rips"));
    }
};

QTEST_MAIN(TestBatchGrab)
#include "tst_batchgrab.moc"
