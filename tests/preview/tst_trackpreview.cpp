#include "components/skin/skin.h"
#include "mainwindowtest.h"
#include "preview/trackpreview.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

// The preview through its real dialog in the real main window: the grabber and the player are
// scripted, so that each rule can be driven event by event.
class TestTrackPreview : public MainWindowTest
{
    Q_OBJECT

    QDialog* dialog() const { return control<QDialog>(QStringLiteral("frmplaytrack")); }
    template <typename T> T* in(const char* name) const
    {
        return dialog()->findChild<T*>(QLatin1String(name));
    }
    TrackPreview& preview() const { return *m_window->preview(); }

    // A disc of three tracks: one minute of audio, 1000 sectors of audio, and data.
    FormMain& openWindow()
    {
        ScriptedGrabber::Drive drive = ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {3});
        drive.sessions[0][1].sectors = 1000;
        drive.sessions[0][2].type = CdGrabber::TrackTypeData;
        FormMain& window = makeWindow({drive});
        window.Form_Load();
        window.show();
        return window;
    }

    void clickRow(int row)
    {
        QTreeWidgetItem* item = tracks()->topLevelItem(row);
        QTest::mouseClick(tracks()->viewport(), Qt::LeftButton, {},
                          tracks()->visualItemRect(item).center());
    }

private slots:
    void init() { startAfresh(); }
    void cleanup() { closeWindow(); }

    // The Play command: what it refuses, with which words, and what it starts.
    void playCommand_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("converting");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        QTest::newRow("audio track") << 1 << false << ""
                                     << "";
        QTest::newRow("data track") << 2 << false << "Selected track type is not AUDIO!"
                                    << "Tambrel";
        QTest::newRow("during a conversion")
            << 1 << true << "You can't play audio,there is conversion process!"
            << "Warning";
    }

    void playCommand()
    {
        QFETCH(int, row);
        QFETCH(bool, converting);
        QFETCH(QString, message);
        QFETCH(QString, title);
        openWindow();
        clickRow(row);
        preview().flgPlay = converting;
        QTest::mouseClick(control<QPushButton>(QStringLiteral("Command3")), Qt::LeftButton);

        // The session index 4 is beyond the disc: the clicked track stays current.
        QVERIFY(m_grabber->calls.contains(QStringLiteral("SetCurrentSession 4")));
        QCOMPARE(m_grabber->CurrentTrack(), row);
        const bool plays = message.isEmpty();
        QCOMPARE(dialog()->isVisible(), plays);
        QCOMPARE(m_player->calls.contains(QStringLiteral("StartArrayPlay")), plays);
        QCOMPARE(enabled(QStringLiteral("Cmdgrab")), !plays);
        if (!plays) {
            QCOMPARE(m_dialogs.asked.size(), 1);
            QCOMPARE(m_dialogs.asked[0].text, message);
            QCOMPARE(m_dialogs.asked[0].title, title);
            return;
        }
        // Playing: the player asks, the grabber reads the slider's number of sectors.
        QVERIFY(!in<QPushButton>("cmdPlay")->isEnabled() &&
                in<QPushButton>("cmdStop")->isEnabled());
        QVERIFY(!in<QPushButton>("okbutton")->isEnabled());
        m_player->raiseRequest();
        QCOMPARE(m_grabber->calls.last(), QStringLiteral("ReadArray 30"));
        QCOMPARE(m_player->chunks.last().size(), 30 * 2352);
        // The end of the track, and the dialog closed by its close box: a full stop.
        m_player->raiseEndPlay();
        QVERIFY(in<QPushButton>("cmdPlay")->isEnabled() &&
                in<QPushButton>("okbutton")->isEnabled());
        dialog()->reject();
        QVERIFY(m_player->calls.contains(QStringLiteral("Stop")));
        QVERIFY(m_grabber->calls.contains(QStringLiteral("Abort")));
        QVERIFY(enabled(QStringLiteral("Cmdgrab")) && enabled(QStringLiteral("Command3")));
        QVERIFY(!preview().flgPlay);
    }

    // Seeking on a 1000-sector track, the timer's display, and failures while playing.
    void seekTimerAndFailures()
    {
        openWindow();
        clickRow(1);
        QTest::mouseClick(control<QPushButton>(QStringLiteral("Command3")), Qt::LeftButton);
        QCOMPARE(preview().TotalSamples, 1000 * 2352 / 4);

        auto* position = in<QSlider>("slPosition");
        position->setSliderDown(true);
        position->setSliderPosition(50);
        position->setSliderDown(false);
        QVERIFY(m_player->calls.contains(QStringLiteral("ClearArrays")));
        QVERIFY(m_grabber->calls.contains(QStringLiteral("SeekArray 500 3")));
        QCOMPARE(preview().SampleOffset, preview().TotalSamples / 2);
        QCOMPARE(m_player->chunks.size(), 2);
        QCOMPARE(m_player->chunks[0].at(0), char(500));

        const struct {
            qint64 samples;
            int left, right;
            const char* time;
            int meterLeft, meterRight, position;
        } rows[] = {
            {0, 40, 100, "Current second: 06.666", 2, 100, 50},
            {66150, 0, 70, "Current second: 08.166", 2, 50, 61},
            {294000, 41, 100, "Current second: 13.333", 2, 100, 100},
        };
        for (const auto& row : rows) {
            m_player->raiseTimer(row.samples, row.left, row.right);
            QCOMPARE(in<QLabel>("lblCurrentPlayTime")->text(), QLatin1String(row.time));
            QCOMPARE(in<QProgressBar>("Meter0")->value(), row.meterLeft);
            QCOMPARE(in<QProgressBar>("Meter1")->value(), row.meterRight);
            QCOMPARE(position->value(), row.position);
        }
        QCOMPARE(TrackPreview::timeText(1500), QStringLiteral("Current second: 01.500"));

        // A read that fails stops the preview and says why.
        m_grabber->failing.insert(QStringLiteral("ReadArray"));
        m_player->raiseRequest();
        QVERIFY(!preview().flgPlay);
        QCOMPARE(m_dialogs.asked.last().text,
                 QStringLiteral("Error during playing the track! ReadArray failed"));
        QCOMPARE(in<QLabel>("lblCurrentPlayTime")->text(),
                 QStringLiteral("Current second: 00.000"));
        QCOMPARE(position->value(), 0);
        QVERIFY(!position->isEnabled());

        // A player that can't start says so and leaves the preview stopped.
        m_player->failure = QStringLiteral("no sound device");
        QTest::mouseClick(in<QPushButton>("cmdPlay"), Qt::LeftButton);
        QVERIFY(!preview().flgPlay);
        QCOMPARE(m_dialogs.asked.last().text,
                 QStringLiteral("Error during playing the track! no sound device"));
        dialog()->reject();
    }

    // The buffer box and slider: what is stored, what the slider shows, no echo between them.
    void bufferSetting_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("buffer");
        QTest::addColumn<int>("slider");
        QTest::newRow("0") << "0" << 1 << 5;
        QTest::newRow("100") << "100" << 100 << 30;
        QTest::newRow("cleared") << "" << 30 << 30;
        QTest::newRow("leading number") << " 1 2abc" << 12 << 12;
        QTest::newRow("half to even") << "12.5" << 12 << 12;
        QTest::newRow("no number") << "abc" << 1 << 5;
        QTest::newRow("negative") << "-7" << 1 << 5;
    }

    void bufferSetting()
    {
        QFETCH(QString, typed);
        QFETCH(int, buffer);
        QFETCH(int, slider);
        openWindow();
        auto* box = in<QLineEdit>("txtBuffer");
        auto* bar = in<QSlider>("slBuffer");
        box->setText(typed);
        QCOMPARE(preview().BufferSize, buffer);
        QCOMPARE(bar->value(), slider);
        QCOMPARE(box->text(), typed);
        // The slider, moved by the user, writes the box once; the box doesn't write back.
        bar->setSliderDown(true);
        bar->setSliderPosition(17);
        bar->setSliderDown(false);
        QCOMPARE(box->text(), QStringLiteral("17"));
        QCOMPARE(preview().BufferSize, 17);
        QVERIFY(!preview().flgBufferSync);
    }

    // The skin draws the player's buttons and its own Play and Stop, named for screen readers.
    void skinnedCommands()
    {
        openWindow();
        for (const char* name : {"cmdPlay", "cmdStop"}) {
            auto* button = in<QPushButton>(name);
            QVERIFY(button->text().isEmpty() && !button->icon().isNull());
        }
        QCOMPARE(in<QPushButton>("cmdPlay")->property(Skin::ElementProperty).toString(),
                 QStringLiteral("play1"));
        QCOMPARE(in<QWidget>("play2")->accessibleName(), QStringLiteral("Play"));
        QCOMPARE(in<QWidget>("stop")->accessibleName(), QStringLiteral("Stop"));
        clickRow(0);
        emit m_window->skin()->ElementAction(SkinElement(QStringLiteral("play2")));
        QVERIFY(preview().flgPlay);
        emit m_window->skin()->ElementAction(SkinElement(QStringLiteral("stop")));
        QVERIFY(!preview().flgPlay);
        dialog()->reject();
    }
};

QTEST_MAIN(TestTrackPreview)
#include "tst_trackpreview.moc"
