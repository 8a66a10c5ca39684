#include "app/disctext.h"
#include "components/skin/skin.h"
#include "components/skin/splash.h"
#include "mainwindowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace
{

const QStringList commandControls = {
    QStringLiteral("Cmdgrab"),      QStringLiteral("Command3"),
    QStringLiteral("Combo1"),       QStringLiteral("C1"),
    QStringLiteral("C2"),           QStringLiteral("Combo2"),
    QStringLiteral("txtFolder"),    QStringLiteral("chkFreedbInfo"),
    QStringLiteral("TrackListView")};

} // namespace

class TestFormMain : public MainWindowTest
{
    Q_OBJECT

    QComboBox* drives() const { return control<QComboBox>(QStringLiteral("Combo1")); }

    QStringList trackNames() const
    {
        QStringList names;
        for (int i = 0; i < tracks()->topLevelItemCount(); ++i)
            names << tracks()->topLevelItem(i)->text(FormMain::ColumnName);
        return names;
    }

private slots:
    void init() { startAfresh(); }
    void cleanup() { closeWindow(); }

    void controlsAsCreated_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("convert") << "Cmdgrab"
                                 << "Convert" << false;
        QTest::newRow("play") << "Command3"
                              << "Play" << false;
        QTest::newRow("cancel") << "cmdCancel"
                                << "Cancel" << false;
        QTest::newRow("refresh") << "Command1"
                                 << "Refresh" << true;
        QTest::newRow("settings") << "C1"
                                  << "Settings" << true;
        QTest::newRow("browse") << "C2"
                                << "Browse" << true;
        QTest::newRow("freedb")
            << "chkFreedbInfo"
            << "Get CD Album information from FreeDB on disc insertion or refreshing" << false;
    }

    void controlsAsCreated()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        makeWindow({});
        auto* button = control<QAbstractButton>(name);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->isEnabled(), enabled);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Corvane"));
        QCOMPARE(control<QLabel>(QStringLiteral("stBarStatusPanel1"))->text(),
                 QStringLiteral("Ready"));
        QVERIFY(!control<QCheckBox>(QStringLiteral("chkFreedbInfo"))->isChecked());
        QVERIFY(control<QLineEdit>(QStringLiteral("txtFolder"))->isReadOnly());
        auto* formats = control<QComboBox>(QStringLiteral("Combo2"));
        QCOMPARE(formats->count(), 4);
        QCOMPARE(formats->itemText(0), QStringLiteral("WAV"));
        QCOMPARE(formats->itemText(3), QStringLiteral("OGG"));
        const QStringList headers = {QString(), QStringLiteral("Track Name"),
                                     QStringLiteral("Type"), QStringLiteral("Duration"),
                                     QStringLiteral("Percent")};
        for (int c = 0; c < headers.size(); ++c)
            QCOMPARE(tracks()->headerItem()->text(c), headers[c]);
    }

    void startupListsTheDisc()
    {
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {3})});
        window.Form_Load();
        QCOMPARE(drives()->count(), 1);
        QCOMPARE(drives()->currentText(), QStringLiteral("[/dev/sr0]  VENDOR  PRODUCT  1.00"));
        QCOMPARE(trackNames(),
                 QStringList({QStringLiteral("Session1_Track1"), QStringLiteral("Session1_Track2"),
                              QStringLiteral("Session1_Track3")}));
        QCOMPARE(window.currentItem(), tracks()->topLevelItem(0));
        QCOMPARE(tracks()->currentItem(), tracks()->topLevelItem(0));
        QVERIFY(m_grabber->output.readFlag);
        QVERIFY(
            !control<QProgressBar>(QStringLiteral("pbProgressBar"))->isVisibleTo(m_window.get()));
        for (const QString& name : commandControls)
            QVERIFY2(enabled(name), qPrintable(name));
        QVERIFY(!enabled(QStringLiteral("cmdCancel")));
        QVERIFY(enabled(QStringLiteral("Command1")));
        QTest::qWait(10);
        QVERIFY(m_dialogs.asked.isEmpty());
    }

    void startupWithoutAnyDrive()
    {
        auto& window = makeWindow({});
        window.Form_Load();
        QCOMPARE(drives()->count(), 0);
        QCOMPARE(tracks()->topLevelItemCount(), 0);
        for (const QString& name : commandControls)
            QVERIFY2(enabled(name), qPrintable(name));
        QVERIFY(enabled(QStringLiteral("Command1")));
        QVERIFY(!enabled(QStringLiteral("cmdCancel")));
        QTest::qWait(10);
        QVERIFY(m_dialogs.asked.isEmpty());
    }

    void failureDuringTheFirstRead_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("driveLines");
        QTest::newRow("refresh") << "Refresh" << 0;
        QTest::newRow("drive") << "SetCurrentDrive" << 1;
        QTest::newRow("sessions") << "SessionCount" << 1;
        QTest::newRow("tracks") << "TrackCount" << 1;
        QTest::newRow("track") << "SetCurrentTrack" << 1;
    }

    void failureDuringTheFirstRead()
    {
        QFETCH(QString, operation);
        QFETCH(int, driveLines);
        auto& window =
            makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {4})}, {operation});
        window.Form_Load();
        QCOMPARE(tracks()->topLevelItemCount(), 0);
        QCOMPARE(drives()->count(), driveLines);
        QVERIFY(!enabled(QStringLiteral("Command1")));
        QVERIFY(!enabled(QStringLiteral("cmdCancel")));
        for (const QString& name : commandControls)
            QVERIFY2(enabled(name), qPrintable(name));
        // The failure is told once the window is up.
        QVERIFY(m_dialogs.asked.isEmpty());
        QTRY_COMPARE(m_dialogs.asked.size(), 1);
        QCOMPARE(m_dialogs.asked[0].text, QStringLiteral("Error during reading the disc! ") +
                                              operation + QStringLiteral(" failed"));
        QCOMPARE(m_dialogs.asked[0].title, QStringLiteral("Tambrel"));
    }

    void controlStates()
    {
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {2})});
        window.Form_Load();
        window.SetControlsEnabled(false);
        for (const QString& name : commandControls)
            QVERIFY2(!enabled(name), qPrintable(name));
        QVERIFY(enabled(QStringLiteral("cmdCancel")));
        // Refresh is not one of the switched controls.
        QVERIFY(enabled(QStringLiteral("Command1")));
        window.SetControlsEnabled(true);
        for (const QString& name : commandControls)
            QVERIFY2(enabled(name), qPrintable(name));
        QVERIFY(!enabled(QStringLiteral("cmdCancel")));
    }

    // The FreeDB box and Refresh ask once per user action, by mouse or keyboard; the box shows
    // the last answer, and no change the program makes swallows the user's next click. Some rows
    // answer real message boxes with the mouse, so that the box's event loop runs nested in the
    // check box's own change.
    void refreshQuestions_data()
    {
        QTest::addColumn<QString>("action"); // "mouse" or "space" on the box, or "refresh"
        QTest::addColumn<bool>("checkedBefore");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("checkedAfter");
        QTest::addColumn<int>("reads");
        QTest::addColumn<bool>("realBoxes");
        const int yes = int(MessageBox::Answer::Yes), no = int(MessageBox::Answer::No);
        QTest::newRow("check, yes") << "mouse" << false << yes << true << 1 << false;
        QTest::newRow("check, no") << "mouse" << false << no << false << 0 << false;
        QTest::newRow("uncheck, yes") << "mouse" << true << yes << true << 1 << false;
        QTest::newRow("uncheck, no") << "mouse" << true << no << false << 0 << false;
        QTest::newRow("Space, no") << "space" << false << no << false << 0 << false;
        QTest::newRow("Space, uncheck, yes") << "space" << true << yes << true << 1 << false;
        QTest::newRow("refresh, yes") << "refresh" << false << yes << false << 1 << false;
        QTest::newRow("refresh, no") << "refresh" << false << no << false << 0 << false;
        QTest::newRow("real box: check, no") << "mouse" << false << no << false << 0 << true;
        QTest::newRow("real box: uncheck, yes") << "mouse" << true << yes << true << 1 << true;
        QTest::newRow("real box: Space, no") << "space" << false << no << false << 0 << true;
        QTest::newRow("real box: refresh, yes") << "refresh" << false << yes << false << 1 << true;
    }

    void refreshQuestions()
    {
        QFETCH(QString, action);
        QFETCH(bool, checkedBefore);
        QFETCH(int, answer);
        QFETCH(bool, checkedAfter);
        QFETCH(int, reads);
        QFETCH(bool, realBoxes);
        m_dialogs.realBoxes = m_dialogs.realBoxes || realBoxes;
        const auto answerNext = [&](MessageBox::Answer next) { m_dialogs.answers << next; };
        makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {3})}).Form_Load();
        auto* box = control<QCheckBox>(QStringLiteral("chkFreedbInfo"));
        const auto act = [&](const QString& how) {
            if (how == u"space")
                QTest::keyClick(box, Qt::Key_Space);
            else
                userClick(control<QWidget>(how == u"refresh" ? QStringLiteral("Command1")
                                                             : QStringLiteral("chkFreedbInfo")));
        };
        if (checkedBefore) {
            answerNext(MessageBox::Answer::Yes);
            act(QStringLiteral("mouse"));
            QVERIFY(box->isChecked());
        }
        const int asked = int(m_dialogs.asked.size());
        const int refreshes = int(m_grabber->calls.count(QStringLiteral("Refresh")));
        answerNext(MessageBox::Answer(answer));
        act(action);
        QCOMPARE(m_dialogs.asked.size(), asked + 1);
        const MessageBox& question = m_dialogs.asked.last();
        QCOMPARE(question.text, QStringLiteral("Refresh the CD Album Information ?"));
        QCOMPARE(question.title, QStringLiteral("FreeDB options changed"));
        QCOMPARE(question.buttons, MessageBox::Buttons::YesNo);
        QCOMPARE(question.defaultAnswer, MessageBox::Answer::Yes);
        QCOMPARE(box->isChecked(), checkedAfter);
        QCOMPARE(m_grabber->calls.count(QStringLiteral("Refresh")) - refreshes, reads);
        QCOMPARE(tracks()->topLevelItemCount(), 3);
        // The next two clicks of the box each ask again, and the box follows the answers.
        for (const MessageBox::Answer next : {MessageBox::Answer::No, MessageBox::Answer::Yes}) {
            answerNext(next);
            act(action == u"refresh" ? QStringLiteral("mouse") : action);
            QCOMPARE(box->isChecked(), next == MessageBox::Answer::Yes);
        }
        QCOMPARE(m_dialogs.asked.size(), asked + 3);
        QVERIFY(m_dialogs.answers.isEmpty());
    }

    // A click makes the row's track current; the menu checks or unchecks every row, data rows
    // too, and opens over an empty list as well.
    void trackSelection()
    {
        auto drive = ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {60, 2});
        drive.sessions[0][1].type = CdGrabber::TrackTypeData;
        makeWindow({drive}).Form_Load();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        for (const int tag : {59, 100}) {
            QTreeWidgetItem* row = tracks()->topLevelItem(tag == 59 ? 59 : 60);
            tracks()->scrollToItem(row);
            QTest::mouseClick(tracks()->viewport(), Qt::LeftButton, {},
                              tracks()->visualItemRect(row).center());
            QCOMPARE(m_grabber->CurrentSession(), tag / 100);
            QCOMPARE(m_grabber->CurrentTrack(), tag % 100);
        }
        auto* menu = m_window->findChild<QMenu*>(QStringLiteral("mnuPopup"));
        for (const auto& [name, state] :
             {std::pair{"menucheck", Qt::Checked}, std::pair{"menuuncheck", Qt::Unchecked}}) {
            m_window->findChild<QAction*>(QLatin1String(name))->trigger();
            for (int i = 0; i < tracks()->topLevelItemCount(); ++i)
                QCOMPARE(tracks()->topLevelItem(i)->checkState(FormMain::ColumnCheck), state);
            QCOMPARE(m_window->currentItem(), nullptr);
        }
        // A user's check selects its row.
        userClickRowCheck(1);
        QCOMPARE(tracks()->currentItem(), tracks()->topLevelItem(1));

        tracks()->clear();
        emit tracks()->customContextMenuRequested(QPoint(5, 5));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        m_window->findChild<QAction*>(QStringLiteral("menucheck"))->trigger();
        QCOMPARE(tracks()->topLevelItemCount(), 0);
    }

    void rowsOfTwoSessions()
    {
        auto drive = ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {10, 10});
        drive.sessions[0][2] = {CdGrabber::TrackTypeData, 300};
        drive.sessions[1][0] = {CdGrabber::TrackTypeAudio, 18384};
        drive.sessions[1][1] = {CdGrabber::TrackTypeAudio, 75 * 60 * 12};
        makeWindow({drive}).Form_Load();
        QCOMPARE(tracks()->topLevelItemCount(), 20);
        for (int i = 0; i < 20; ++i) {
            const QTreeWidgetItem* row = tracks()->topLevelItem(i);
            const int session = i / 10, track = i % 10;
            QCOMPARE(row->text(FormMain::ColumnName),
                     QStringLiteral("Session%1_Track%2").arg(session + 1).arg(track + 1));
            QCOMPARE(row->data(FormMain::ColumnCheck, FormMain::TagRole).toInt(),
                     session * 100 + track);
            QCOMPARE(row->checkState(FormMain::ColumnCheck), Qt::Unchecked);
            QVERIFY(row->text(FormMain::ColumnCheck).isEmpty());
            QCOMPARE(row->text(FormMain::ColumnPercent), QStringLiteral("0%"));
        }
        QCOMPARE(tracks()->topLevelItem(0)->text(FormMain::ColumnType), QStringLiteral("AUDIO"));
        QCOMPARE(tracks()->topLevelItem(2)->text(FormMain::ColumnType), QString());
        QCOMPARE(tracks()->topLevelItem(2)->text(FormMain::ColumnDuration),
                 QStringLiteral(" 0:04:000"));
        QCOMPARE(tracks()->topLevelItem(10)->text(FormMain::ColumnDuration),
                 QStringLiteral(" 4:05:120"));
        QCOMPARE(tracks()->topLevelItem(11)->text(FormMain::ColumnDuration),
                 QStringLiteral(" 12:00:000"));
    }

    void textsOfTheDiscView()
    {
        QCOMPARE(disctext::durationText(0, 7, 5), QStringLiteral(" 0:07:005"));
        QCOMPARE(disctext::durationText(12, 0, 999), QStringLiteral(" 12:00:999"));
        QCOMPARE(
            disctext::driveLine(QStringLiteral("D:"), QString(), QStringLiteral("P"), QString()),
            QStringLiteral("[D:]    P  "));
        QCOMPARE(disctext::tagSession(59), 0);
        QCOMPARE(disctext::tagTrack(59), 59);
        QCOMPARE(disctext::tagSession(100), 1);
        QCOMPARE(disctext::tagTrack(100), 0);
    }

    void choosingADriveListsItsTracks()
    {
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {2}),
                                   ScriptedGrabber::drive(QStringLiteral("disc.cue"), {5})});
        window.Form_Load();
        QCOMPARE(drives()->count(), 2);
        QCOMPARE(drives()->itemText(0), QStringLiteral("[/dev/sr0]  VENDOR  PRODUCT  1.00"));
        QCOMPARE(drives()->itemText(1), QStringLiteral("[disc.cue]  VENDOR  PRODUCT  1.00"));
        // The line shown is the drive whose tracks are listed.
        QCOMPARE(drives()->currentIndex(), 1);
        QCOMPARE(tracks()->topLevelItemCount(), 5);

        drives()->setCurrentIndex(0);
        emit drives()->activated(0);
        QCOMPARE(m_grabber->CurrentDrive(), 1);
        QCOMPARE(tracks()->topLevelItemCount(), 2);
        QCOMPARE(window.currentItem(), tracks()->topLevelItem(0));

        // The choice survives a disc change.
        m_grabber->drives[0].sessions[0] << ScriptedGrabber::Track{};
        m_grabber->raiseMediaChange();
        QCOMPARE(drives()->currentIndex(), 0);
        QCOMPARE(tracks()->topLevelItemCount(), 3);
        QVERIFY(m_dialogs.asked.isEmpty());
    }

    void discChange_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("freedbEnabled");
        QTest::newRow("no track") << 0 << false;
        QTest::newRow("one track") << 1 << false;
        QTest::newRow("two tracks") << 2 << true;
    }

    void discChange()
    {
        QFETCH(int, rows);
        QFETCH(bool, freedbEnabled);
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {4})});
        window.Form_Load();
        auto* freedb = control<QCheckBox>(QStringLiteral("chkFreedbInfo"));
        freedb->setEnabled(false);
        m_grabber->drives[0].sessions[0].resize(rows);
        m_grabber->raiseMediaChange();
        QCOMPARE(tracks()->topLevelItemCount(), rows);
        QCOMPARE(drives()->count(), 1);
        QCOMPARE(freedb->isEnabled(), freedbEnabled);
        QVERIFY(!freedb->isChecked());
    }

    void failedReadKeepsWhatWasRead()
    {
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {4})});
        window.Form_Load();
        m_grabber->failing = {QStringLiteral("TrackCount")};
        m_grabber->raiseMediaChange();
        // The drive list was rebuilt, the track list emptied, and the read ended at the failure.
        QCOMPARE(drives()->count(), 1);
        QCOMPARE(tracks()->topLevelItemCount(), 0);
        QCOMPARE(m_dialogs.asked.size(), 1);
        QCOMPARE(m_dialogs.asked[0].text,
                 QStringLiteral("Error during reading the disc! TrackCount failed"));
        QCOMPARE(m_dialogs.asked[0].icon, MessageBox::Icon::Critical);

        m_grabber->failing = {QStringLiteral("Refresh")};
        m_grabber->failing.clear();
        m_grabber->raiseMediaChange();
        QCOMPARE(tracks()->topLevelItemCount(), 4);
    }

    void firstRunSettings()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(QDir().mkpath(music));
        auto& window = makeWindow({});
        window.Form_Load();
        QCOMPARE(control<QComboBox>(QStringLiteral("Combo2"))->currentText(),
                 QStringLiteral("WAV"));
        QCOMPARE(control<QLineEdit>(QStringLiteral("txtFolder"))->text(),
                 music + QStringLiteral("/Converted Music"));
    }

    void savedSettingsShowAndComeBack_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ogg") << "OGG"
                             << "OGG";
        QTest::newRow("mp3") << "MP3"
                             << "MP3";
        QTest::newRow("not a format") << "FLAC"
                                      << "";
        QTest::newRow("wrong case") << "wma"
                                    << "";
    }

    void savedSettingsShowAndComeBack()
    {
        QFETCH(QString, format);
        QFETCH(QString, shown);
        store(QStringLiteral("Output Folder2"), QStringLiteral("/srv/rips"));
        store(QStringLiteral("Last Output Format2"), format);
        store(QStringLiteral("Album Setting"), QStringLiteral("Blue"));
        store(QStringLiteral("Gendre setting"), QStringLiteral("Jazz"));
        store(QStringLiteral("Preserve Tags"), QStringLiteral("1"));
        auto& window = makeWindow({});
        window.Form_Load();
        QCOMPARE(control<QComboBox>(QStringLiteral("Combo2"))->currentText(), shown);
        QCOMPARE(control<QLineEdit>(QStringLiteral("txtFolder"))->text(),
                 QStringLiteral("/srv/rips"));

        // Nothing is written while the window is open; closing writes every value back.
        store(QStringLiteral("album setting"), QStringLiteral("changed meanwhile"));
        QVERIFY(window.close());
        QCOMPARE(setting(QStringLiteral("output folder2")), QStringLiteral("/srv/rips"));
        QCOMPARE(setting(QStringLiteral("last output format2")), format);
        QCOMPARE(setting(QStringLiteral("album setting")), QStringLiteral("Blue"));
        QCOMPARE(setting(QStringLiteral("gendre setting")), QStringLiteral("Jazz"));
        QCOMPARE(setting(QStringLiteral("preserve tags")), QStringLiteral("-1"));
        QCOMPARE(setting(QStringLiteral("artist setting")), QStringLiteral("<none>"));
    }

    void damagedSettingsFileIsToldOnce()
    {
        QFile file(CRegister::databasePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, '\x5a'));
        file.close();
        auto& window = makeWindow({});
        window.Form_Load();
        QCOMPARE(control<QComboBox>(QStringLiteral("Combo2"))->currentText(),
                 QStringLiteral("WAV"));
        QTRY_COMPARE(m_dialogs.asked.size(), 1);
        QVERIFY(m_dialogs.asked[0].text.contains(QStringLiteral("damaged")));
        QVERIFY(window.close());
        QCOMPARE(setting(QStringLiteral("Last Output Format2")), QStringLiteral("WAV"));
        QCOMPARE(m_dialogs.asked.size(), 1);
    }

    // The skin's command elements, by their exact names. Convert is started by "convert" and, while
    // its batch runs, a second "convert" is refused and "cancel" ends it.
    void skinCommands_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<int>("grabs");
        QTest::addColumn<bool>("stops");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("about");
        QTest::newRow("convert") << "convert" << 1 << true << false << false;
        QTest::newRow("Convert") << "Convert" << 0 << false << false << false;
        QTest::newRow("cancel, nothing running") << "cancel" << 0 << true << false << false;
        QTest::newRow("help") << "help" << 0 << false << true << false;
        QTest::newRow("Help") << "Help" << 0 << false << false << false;
        QTest::newRow("about") << "about" << 0 << false << false << true;
        QTest::newRow("About") << "About" << 0 << false << false << false;
        QTest::newRow("play") << "play" << 0 << false << false << false;
    }

    void skinCommands()
    {
        QFETCH(QString, element);
        QFETCH(int, grabs);
        QFETCH(bool, stops);
        QFETCH(bool, help);
        QFETCH(bool, about);
        const QTemporaryDir program, output;
        QVERIFY(QFile::copy(QStringLiteral(TAMBREL_SKIN_SOURCE),
                            program.filePath(QStringLiteral("main.skn"))));
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {2})});
        window.setProgramFolder(program.path());
        window.Form_Load();
        window.show();
        control<QLineEdit>(QStringLiteral("txtFolder"))->setText(output.path());
        userClickRowCheck(0);
        m_grabber->grabScripts = {{{50}, {}}};
        // The help file is found beside the program from any working folder.
        const QString workingFolder = QDir::currentPath();
        QDir::setCurrent(output.path());

        auto act = [&](const QString& name) {
            emit window.skin()->ElementAction(SkinElement(name));
        };
        QTimer::singleShot(100, &window, [&] {
            act(QStringLiteral("convert"));
            act(QStringLiteral("cancel"));
        });
        act(element);
        QDir::setCurrent(workingFolder);

        QCOMPARE(m_grabber->grabs.size(), grabs);
        QCOMPARE(m_grabber->calls.contains(QStringLiteral("StopGrab")), stops);
        QCOMPARE(m_dialogs.documents,
                 help ? QStringList{program.filePath(QStringLiteral("Pellmar.chm"))}
                      : QStringList());
        auto* box = window.findChild<QDialog*>(QStringLiteral("frmabout"));
        QCOMPARE(box && box->isVisible(), about);
        if (about)
            QCOMPARE(box->findChild<QLabel*>(QStringLiteral("lblTitle"))->text(),
                     QStringLiteral("Tambrel"));
        QVERIFY(m_dialogs.asked.isEmpty());
    }

    // The splash shows through start-up and goes once the window is on screen.
    void splashUntilTheWindowIsUp()
    {
        const QTemporaryDir program;
        QImage image(48, 32, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(program.filePath(QStringLiteral("Moravel.spl")), "PNG"));
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {1})});
        window.setProgramFolder(program.path());
        window.Form_Load();
        auto* splash = window.findChild<Splash*>();
        QVERIFY(splash->isShown());
        window.show();
        QTRY_VERIFY(!splash->isShown());
    }

    // The About box looks for the skin file at every opening: once it is gone, the user is told
    // and no box shows.
    void aboutWithoutTheSkinFile()
    {
        const QTemporaryDir program;
        QVERIFY(QFile::copy(QStringLiteral(TAMBREL_SKIN_SOURCE),
                            program.filePath(QStringLiteral("main.skn"))));
        auto& window = makeWindow({});
        window.setProgramFolder(program.path());
        window.Form_Load();
        window.show();
        QVERIFY(QFile::remove(program.filePath(QStringLiteral("main.skn"))));
        emit window.skin()->ElementAction(SkinElement(QStringLiteral("about")));
        QCOMPARE(m_dialogs.asked.size(), 1);
        QCOMPARE(m_dialogs.asked[0].text, QStringLiteral("Can't load skin file"));
        QCOMPARE(m_dialogs.asked[0].title, QStringLiteral("Tambrel"));
        QCOMPARE(m_dialogs.asked[0].buttons, MessageBox::Buttons::Ok);
        QCOMPARE(m_dialogs.asked[0].icon, MessageBox::Icon::None);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window.findChild<QDialog*>(QStringLiteral("frmabout")));
    }

    void closing_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closes");
        QTest::newRow("idle") << false << -1 << true;
        QTest::newRow("busy, yes") << true << int(MessageBox::Answer::Yes) << true;
        QTest::newRow("busy, no") << true << int(MessageBox::Answer::No) << false;
    }

    void closing()
    {
        QFETCH(bool, busy);
        QFETCH(int, answer);
        QFETCH(bool, closes);
        auto& window = makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {1})});
        window.Form_Load();
        window.show();
        m_grabber->busy = busy;
        if (answer >= 0)
            m_dialogs.answers << MessageBox::Answer(answer);
        QCOMPARE(window.close(), closes);
        QCOMPARE(window.isVisible(), !closes);
        QCOMPARE(m_dialogs.asked.size(), busy ? 1 : 0);
        if (busy) {
            const MessageBox& box = m_dialogs.asked[0];
            QCOMPARE(box.text, QStringLiteral("Are you sure you want to quit ?"));
            QCOMPARE(box.title, QStringLiteral("Tambrel"));
            QCOMPARE(box.buttons, MessageBox::Buttons::YesNo);
            QCOMPARE(box.defaultAnswer, MessageBox::Answer::Yes);
            QCOMPARE(box.icon, MessageBox::Icon::None);
        }
        QCOMPARE(m_grabber->calls.contains(QStringLiteral("Abort")), busy && closes);
        QCOMPARE(m_grabber->calls.contains(QStringLiteral("Close")), closes);
        QCOMPARE(setting(QStringLiteral("Last Output Format2")),
                 closes ? QStringLiteral("WAV") : QStringLiteral("<none>"));
        if (closes && busy)
            QVERIFY(m_grabber->calls.indexOf(QStringLiteral("Abort")) <
                    m_grabber->calls.indexOf(QStringLiteral("Close")));
    }
};

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
