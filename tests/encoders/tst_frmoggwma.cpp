#include "app/apptext.h"
#include "components/outputfile.h"
#include "encoders/frmogg.h"
#include "encoders/frmwma.h"
#include "settings/cregister.h"
#include "settings/mainsettings.h"
#include "support/scripteddialogs.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

using Settings = QMap<QString, QString>;

// An output file that records what the dialogs hand it, in order.
class RecordingOutput final : public OutputFile
{
public:
    mutable QStringList calls;
    bool valid = true;
    int wmaProfile = -1;

    bool ReadFlag() const override { return false; }
    void SetReadFlag(bool) override {}
    Status SetMP3Format(const Mp3EncoderSettings&) override { return {}; }
    bool IsOGGFormatValid(int rate, int channels, int bitrate, int minBitrate,
                          int maxBitrate) const override
    {
        calls << QStringLiteral("IsOGGFormatValid(%1,%2,%3,%4,%5)")
                     .arg(rate)
                     .arg(channels)
                     .arg(bitrate)
                     .arg(minBitrate)
                     .arg(maxBitrate);
        return valid;
    }
    Status SetOGGFormat(int rate, int channels, int bitrate, int minBitrate, int maxBitrate,
                        qint16 quality) override
    {
        calls << QStringLiteral("SetOGGFormat(%1,%2,%3,%4,%5,%6)")
                     .arg(rate)
                     .arg(channels)
                     .arg(bitrate)
                     .arg(minBitrate)
                     .arg(maxBitrate)
                     .arg(quality);
        return {};
    }
    Status SetWMAProfile(int profile) override
    {
        calls << QStringLiteral("SetWMAProfile(%1)").arg(profile);
        wmaProfile = profile;
        return {};
    }
    QString FormatString() const override
    {
        return QStringLiteral("WMA profile %1").arg(wmaProfile);
    }
};

class TestFrmOggWma : public QObject
{
    Q_OBJECT

public:
    TestFrmOggWma() { QStandardPaths::setTestModeEnabled(true); }

private:
    std::unique_ptr<RecordingOutput> m_output;
    ScriptedDialogs m_dialogs;

    template <typename T> static T* control(QWidget* dialog, const QString& name)
    {
        T* widget = dialog->findChild<T*>(name);
        if (!widget)
            qFatal("no control %s", qPrintable(name));
        return widget;
    }

    static QString setting(const QString& name)
    {
        return CRegister().REGGetSetting(RegRoot::LocalMachine, SettingsPath, name,
                                         QStringLiteral("<none>"));
    }

    static void store(const Settings& values)
    {
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            QVERIFY(CRegister().REGSaveSetting(RegRoot::LocalMachine, SettingsPath, it.key(),
                                               it.value()));
    }

    // The controls whose enabled state the check boxes decide, those now disabled.
    static QStringList disabledOggControls(QWidget* dialog)
    {
        QStringList disabled;
        for (const char* name :
             {"chVbr", "chQuality", "frmVbr", "sldrBitrate", "lblBitrate", "sldrMinBitrate",
              "sldrMaxBitrate", "lblMinBitrate", "lblMaxBitrate", "frmQuality", "sldrQuality"}) {
            if (!control<QWidget>(dialog, QLatin1String(name))->isEnabled())
                disabled << QLatin1String(name);
        }
        return disabled;
    }

    // Runs one scripted user action on the dialog: u"space <box>"_s, u"select <list> <index>"_s,
    // u"key <slider> Left|Right"_s, u"set <slider> <position>"_s, u"drag <slider> <position>"_s,
    // u"locale <name>"_s.
    static void act(QWidget* dialog, const QString& action)
    {
        const QStringList words = action.split(QLatin1Char(' '));
        const QString& verb = words.at(0);
        if (verb == QLatin1String("locale")) {
            QLocale::setDefault(QLocale(words.at(1)));
        } else if (verb == QLatin1String("space")) {
            QTest::keyClick(control<QWidget>(dialog, words.at(1)), Qt::Key_Space);
        } else if (verb == QLatin1String("select")) {
            control<QComboBox>(dialog, words.at(1))->setCurrentIndex(words.at(2).toInt());
        } else if (verb == QLatin1String("key")) {
            QTest::keyClick(control<QSlider>(dialog, words.at(1)),
                            words.at(2) == QLatin1String("Left") ? Qt::Key_Left : Qt::Key_Right);
        } else if (verb == QLatin1String("set")) {
            control<QSlider>(dialog, words.at(1))->setValue(words.at(2).toInt());
        } else if (verb == QLatin1String("drag")) {
            auto* slider = control<QSlider>(dialog, words.at(1));
            slider->setSliderDown(true);
            slider->setSliderPosition(words.at(2).toInt());
            slider->setSliderDown(false);
        } else {
            qFatal("unknown action %s", qPrintable(action));
        }
    }

private slots:
    void init()
    {
        QFile::remove(CRegister::databasePath());
        m_output = std::make_unique<RecordingOutput>();
        m_dialogs = ScriptedDialogs();
        QLocale::setDefault(QLocale::c());
    }

    // What the dialog shows when it opens is what Apply hands over and saves.
    void oggOpening_data()
    {
        QTest::addColumn<Settings>("stored");
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QList<int>>("positions"); // bitrate, minimum, maximum, quality
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<bool>("quality");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QStringList>("handOver");

        const QStringList qualityMode = {
            u"chVbr"_s,          u"frmVbr"_s,         u"sldrBitrate"_s,   u"lblBitrate"_s,
            u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s, u"lblMinBitrate"_s, u"lblMaxBitrate"_s};
        QTest::newRow("empty store: quality mode")
            << Settings{} << u"11 025 Hz"_s << u"Stereo"_s << QList<int>{5, 5, 5, 5} << true << true
            << qualityMode
            << QStringList{u"Current nominal bitrate: 56 kbit"_s, u"Current min bitrate: 56 kbit"_s,
                           u"Current max bitrate: 56 kbit"_s}
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,5)"_s};
        QTest::newRow("VBR restored is handed over, not 128 constant")
            << Settings{{u"cmbfrequency settings"_s, u"44 100 Hz"_s},
                        {u"cmbchmode settings"_s, u"Mono"_s},
                        {u"sldrbitrate settings"_s, u"7"_s},
                        {u"sldrminbitrate settings"_s, u"4"_s},
                        {u"sldrmaxbitrate settings"_s, u"9"_s},
                        {u"chvbr settings"_s, u"1"_s},
                        {u"chquality settings"_s, u"0"_s}}
            << u"44 100 Hz"_s << u"Mono"_s << QList<int>{7, 4, 9, 5} << true << false
            << QStringList{}
            << QStringList{u"Current nominal bitrate: 96 kbit"_s, u"Current min bitrate: 48 kbit"_s,
                           u"Current max bitrate: 128 kbit"_s}
            << QStringList{u"IsOGGFormatValid(44100,1,96,48,128)"_s,
                           u"SetOGGFormat(44100,1,96,48,128,-1)"_s};
        QTest::newRow("constant bitrate restored, trailing blank kept")
            << Settings{{u"cmbfrequency settings"_s, u"12 000 Hz "_s},
                        {u"sldrbitrate settings"_s, u"14"_s},
                        {u"chvbr settings"_s, u"0"_s},
                        {u"chquality settings"_s, u"0"_s}}
            << u"12 000 Hz "_s << u"Stereo"_s << QList<int>{14, 5, 5, 5} << false << false
            << QStringList{}
            << QStringList{u"Current nominal bitrate: 320 kbit"_s,
                           u"Current min bitrate: 56 kbit"_s, u"Current max bitrate: 56 kbit"_s}
            << QStringList{u"IsOGGFormatValid(12000,2,320,0,0)"_s,
                           u"SetOGGFormat(12000,2,320,0,0,-1)"_s};
        QTest::newRow("quality restored with VBR off")
            << Settings{{u"sldrquality settings"_s, u"420"_s},
                        {u"chvbr settings"_s, u"0"_s},
                        {u"chquality settings"_s, u"1"_s}}
            << u"11 025 Hz"_s << u"Stereo"_s << QList<int>{5, 5, 5, 420} << false << true
            << qualityMode
            << QStringList{u"Current nominal bitrate: 56 kbit"_s, u"Current min bitrate: 56 kbit"_s,
                           u"Current max bitrate: 56 kbit"_s}
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,420)"_s};
        QTest::newRow("edited by hand: defaults and clamping")
            << Settings{{u"cmbfrequency settings"_s, u"11025"_s},
                        {u"cmbchmode settings"_s, u"stereo"_s},
                        {u"sldrbitrate settings"_s, u"99"_s},
                        {u"sldrminbitrate settings"_s, u"x"_s},
                        {u"sldrquality settings"_s, u"-3"_s},
                        {u"chvbr settings"_s, u"7"_s},
                        {u"chquality settings"_s, u"0"_s}}
            << u"11 025 Hz"_s << u"Stereo"_s << QList<int>{14, 5, 5, 0} << true << false
            << QStringList{}
            << QStringList{u"Current nominal bitrate: 320 kbit"_s,
                           u"Current min bitrate: 56 kbit"_s, u"Current max bitrate: 56 kbit"_s}
            << QStringList{u"IsOGGFormatValid(11025,2,320,56,56)"_s,
                           u"SetOGGFormat(11025,2,320,56,56,-1)"_s};
    }

    void oggOpening()
    {
        QFETCH(Settings, stored);
        QFETCH(QString, frequency);
        QFETCH(QString, mode);
        QFETCH(QList<int>, positions);
        QFETCH(bool, vbr);
        QFETCH(bool, quality);
        QFETCH(QStringList, disabled);
        QFETCH(QStringList, labels);
        QFETCH(QStringList, handOver);
        store(stored);

        QWidget owner;
        frmogg dialog(*m_output, m_dialogs, &owner);
        QCOMPARE(dialog.parentWidget(), &owner);
        QVERIFY(dialog.isModal());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Quality (Compression)"));
        auto* cmbFrequency = control<QComboBox>(&dialog, u"cmbFrequency"_s);
        QCOMPARE(cmbFrequency->count(), 9);
        QCOMPARE(cmbFrequency->itemText(0), QStringLiteral("  8 000 Hz"));
        QCOMPARE(cmbFrequency->currentText(), frequency);
        QCOMPARE(control<QComboBox>(&dialog, u"cmbChMode"_s)->currentText(), mode);
        const QStringList sliders = {u"sldrBitrate"_s, u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s,
                                     u"sldrQuality"_s};
        QList<int> shown;
        for (const QString& name : sliders)
            shown << control<QSlider>(&dialog, name)->value();
        QCOMPARE(shown, positions);
        QCOMPARE(control<QCheckBox>(&dialog, u"chVbr"_s)->isChecked(), vbr);
        QCOMPARE(control<QCheckBox>(&dialog, u"chQuality"_s)->isChecked(), quality);
        QCOMPARE(disabledOggControls(&dialog), disabled);
        QCOMPARE((QStringList{control<QLabel>(&dialog, u"lblBitrate"_s)->text(),
                              control<QLabel>(&dialog, u"lblMinBitrate"_s)->text(),
                              control<QLabel>(&dialog, u"lblMaxBitrate"_s)->text()}),
                 labels);
        QVERIFY(m_output->calls.isEmpty());

        QTest::mouseClick(control<QPushButton>(&dialog, u"cmdApply"_s), Qt::LeftButton);
        QCOMPARE(m_output->calls, handOver);
        QVERIFY(m_dialogs.asked.isEmpty());
        // Apply saved exactly what the controls show.
        QCOMPARE(setting(u"cmbfrequency settings"_s), frequency);
        QCOMPARE(setting(u"cmbchmode settings"_s), mode);
        const QStringList names = {u"sldrbitrate settings"_s, u"sldrminbitrate settings"_s,
                                   u"sldrmaxbitrate settings"_s, u"sldrquality settings"_s};
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(setting(names[i]), QString::number(positions[i]));
        QCOMPARE(setting(u"chvbr settings"_s), vbr ? u"1"_s : u"0"_s);
        QCOMPARE(setting(u"chquality settings"_s), quality ? u"1"_s : u"0"_s);
    }

    // The user's changes, by keyboard, mouse or list, reach the labels, the tips, the enabled
    // states and what Apply hands over and saves. Every case starts from an empty store.
    void oggUserChanges_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::addColumn<Settings>("shown"); // a control's text, or u"<slider>.tip"_s
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QStringList>("handOver");
        QTest::addColumn<Settings>("saved");

        const QStringList vbrMode = {u"sldrQuality"_s};
        const QStringList constantMode = {u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s,
                                          u"lblMinBitrate"_s,  u"lblMaxBitrate"_s,
                                          u"frmQuality"_s,     u"sldrQuality"_s};
        QTest::newRow("nominal bitrate by keyboard: 7 is 96")
            << QStringList{u"space chQuality"_s, u"key sldrBitrate Right"_s,
                           u"key sldrBitrate Right"_s}
            << Settings{{u"lblBitrate"_s, u"Current nominal bitrate: 96 kbit"_s},
                        {u"sldrBitrate.tip"_s, u"96"_s}}
            << vbrMode
            << QStringList{u"IsOGGFormatValid(11025,2,96,56,56)"_s,
                           u"SetOGGFormat(11025,2,96,56,56,-1)"_s}
            << Settings{{u"sldrbitrate settings"_s, u"7"_s},
                        {u"chquality settings"_s, u"0"_s},
                        {u"chvbr settings"_s, u"1"_s}};
        QTest::newRow("minimum by keyboard: 4 is 48, not 40")
            << QStringList{u"space chQuality"_s, u"key sldrMinBitrate Left"_s}
            << Settings{{u"lblMinBitrate"_s, u"Current min bitrate: 48 kbit"_s},
                        {u"sldrMinBitrate.tip"_s, u"48"_s}}
            << vbrMode
            << QStringList{u"IsOGGFormatValid(11025,2,56,48,56)"_s,
                           u"SetOGGFormat(11025,2,56,48,56,-1)"_s}
            << Settings{{u"sldrminbitrate settings"_s, u"4"_s}};
        QTest::newRow("maximum dragged with the mouse")
            << QStringList{u"space chQuality"_s, u"drag sldrMaxBitrate 14"_s}
            << Settings{{u"lblMaxBitrate"_s, u"Current max bitrate: 320 kbit"_s},
                        {u"sldrMaxBitrate.tip"_s, u"320"_s}}
            << vbrMode
            << QStringList{u"IsOGGFormatValid(11025,2,56,56,320)"_s,
                           u"SetOGGFormat(11025,2,56,56,320,-1)"_s}
            << Settings{{u"sldrmaxbitrate settings"_s, u"14"_s}};
        QTest::newRow("quality 420: no validity call")
            << QStringList{u"set sldrQuality 420"_s} << Settings{{u"sldrQuality.tip"_s, u"4.2"_s}}
            << QStringList{u"chVbr"_s,         u"frmVbr"_s,         u"sldrBitrate"_s,
                           u"lblBitrate"_s,    u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s,
                           u"lblMinBitrate"_s, u"lblMaxBitrate"_s}
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,420)"_s}
            << Settings{{u"sldrquality settings"_s, u"420"_s}, {u"chquality settings"_s, u"1"_s}};
        QTest::newRow("VBR box locked while quality is on")
            << QStringList{u"space chVbr"_s} << Settings{}
            << QStringList{u"chVbr"_s,         u"frmVbr"_s,         u"sldrBitrate"_s,
                           u"lblBitrate"_s,    u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s,
                           u"lblMinBitrate"_s, u"lblMaxBitrate"_s}
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,5)"_s}
            << Settings{{u"chvbr settings"_s, u"1"_s}};
        QTest::newRow("plain constant bitrate, 8 000 Hz mono")
            << QStringList{u"space chQuality"_s, u"space chVbr"_s, u"select cmbFrequency 0"_s,
                           u"select cmbChMode 0"_s}
            << Settings{{u"cmbFrequency"_s, u"  8 000 Hz"_s}} << constantMode
            << QStringList{u"IsOGGFormatValid(8000,1,56,0,0)"_s,
                           u"SetOGGFormat(8000,1,56,0,0,-1)"_s}
            << Settings{{u"cmbfrequency settings"_s, u"  8 000 Hz"_s},
                        {u"cmbchmode settings"_s, u"Mono"_s},
                        {u"chvbr settings"_s, u"0"_s},
                        {u"chquality settings"_s, u"0"_s}};
        QTest::newRow("quality back on after constant bitrate")
            << QStringList{u"space chQuality"_s, u"space chVbr"_s, u"space chQuality"_s}
            << Settings{}
            << QStringList{u"chVbr"_s,         u"frmVbr"_s,         u"sldrBitrate"_s,
                           u"lblBitrate"_s,    u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s,
                           u"lblMinBitrate"_s, u"lblMaxBitrate"_s}
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,5)"_s}
            << Settings{{u"chvbr settings"_s, u"0"_s}, {u"chquality settings"_s, u"1"_s}};
        QTest::newRow("quality tip 3.5")
            << QStringList{u"set sldrQuality 350"_s} << Settings{{u"sldrQuality.tip"_s, u"3.5"_s}}
            << QStringList{u"chVbr"_s,         u"frmVbr"_s,         u"sldrBitrate"_s,
                           u"lblBitrate"_s,    u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s,
                           u"lblMinBitrate"_s, u"lblMaxBitrate"_s}
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,350)"_s}
            << Settings{{u"sldrquality settings"_s, u"350"_s}};
        const QStringList qualityMode = {
            u"chVbr"_s,          u"frmVbr"_s,         u"sldrBitrate"_s,   u"lblBitrate"_s,
            u"sldrMinBitrate"_s, u"sldrMaxBitrate"_s, u"lblMinBitrate"_s, u"lblMaxBitrate"_s};
        QTest::newRow("quality tip 3 by keyboard")
            << QStringList{u"set sldrQuality 299"_s, u"key sldrQuality Right"_s}
            << Settings{{u"sldrQuality.tip"_s, u"3"_s}} << qualityMode
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,300)"_s}
            << Settings{{u"sldrquality settings"_s, u"300"_s}};
        QTest::newRow("quality tip 0.05 by keyboard")
            << QStringList{u"set sldrQuality 6"_s, u"key sldrQuality Left"_s}
            << Settings{{u"sldrQuality.tip"_s, u"0.05"_s}} << qualityMode
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,5)"_s}
            << Settings{{u"sldrquality settings"_s, u"5"_s}};
        QTest::newRow("quality tip in a German locale")
            << QStringList{u"locale de_DE"_s, u"set sldrQuality 350"_s}
            << Settings{{u"sldrQuality.tip"_s, u"3,5"_s}} << qualityMode
            << QStringList{u"SetOGGFormat(11025,2,128,0,0,350)"_s}
            << Settings{{u"sldrquality settings"_s, u"350"_s}};
    }

    void oggUserChanges()
    {
        QFETCH(QStringList, script);
        QFETCH(Settings, shown);
        QFETCH(QStringList, disabled);
        QFETCH(QStringList, handOver);
        QFETCH(Settings, saved);

        frmogg dialog(*m_output, m_dialogs);
        dialog.show();
        for (const QString& action : script)
            act(&dialog, action);
        for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
            if (it.key().endsWith(QLatin1String(".tip"))) {
                QCOMPARE(control<QSlider>(&dialog, it.key().chopped(4))->toolTip(), it.value());
            } else if (auto* list = dialog.findChild<QComboBox*>(it.key())) {
                QCOMPARE(list->currentText(), it.value());
            } else {
                QCOMPARE(control<QLabel>(&dialog, it.key())->text(), it.value());
            }
        }
        QCOMPARE(disabledOggControls(&dialog), disabled);

        QTest::mouseClick(control<QPushButton>(&dialog, u"cmdApply"_s), Qt::LeftButton);
        QCOMPARE(m_output->calls, handOver);
        for (auto it = saved.cbegin(); it != saved.cend(); ++it)
            QCOMPARE(setting(it.key()), it.value());
    }

    // Each way out of the dialog: what is handed over, told, saved, and whether it stays open.
    void oggButtons_data()
    {
        QTest::addColumn<QString>("button"); // or u"close box"_s
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QStringList>("handOver");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<int>("result"); // -1: still open

        const QString check = u"IsOGGFormatValid(12000,2,56,56,56)"_s;
        const QString set = u"SetOGGFormat(12000,2,56,56,56,-1)"_s;
        QTest::newRow("Apply refused: saved, stays open")
            << u"cmdApply"_s << false << QStringList{check} << true << true << -1;
        QTest::newRow("Ok refused: nothing saved, stays open")
            << u"cmdOk"_s << false << QStringList{check} << true << false << -1;
        QTest::newRow("Apply taken")
            << u"cmdApply"_s << true << QStringList{check, set} << false << true << -1;
        QTest::newRow("Ok taken") << u"cmdOk"_s << true << QStringList{check, set} << false << true
                                  << int(QDialog::Accepted);
        QTest::newRow("Cancel") << u"cmdCancel"_s << true << QStringList{} << false << false
                                << int(QDialog::Rejected);
        QTest::newRow("close box")
            << u"close box"_s << true << QStringList{} << false << false << int(QDialog::Rejected);
    }

    void oggButtons()
    {
        QFETCH(QString, button);
        QFETCH(bool, valid);
        QFETCH(QStringList, handOver);
        QFETCH(bool, refused);
        QFETCH(bool, saved);
        QFETCH(int, result);
        m_output->valid = valid;

        {
            frmogg dialog(*m_output, m_dialogs);
            dialog.show();
            act(&dialog, u"space chQuality"_s);
            act(&dialog, u"select cmbFrequency 2"_s);
            if (button == QLatin1String("close box"))
                dialog.close();
            else
                QTest::mouseClick(control<QPushButton>(&dialog, button), Qt::LeftButton);

            QCOMPARE(m_output->calls, handOver);
            QCOMPARE(m_dialogs.asked.size(), refused ? 1 : 0);
            if (refused) {
                const MessageBox& box = m_dialogs.asked.first();
                QCOMPARE(box.text, QStringLiteral("Incorrect format"));
                QCOMPARE(box.title, apptext::title());
                QCOMPARE(box.icon, MessageBox::Icon::Critical);
                QCOMPARE(box.buttons, MessageBox::Buttons::Ok);
            }
            const QString savedFrequency = saved ? u"12 000 Hz "_s : u"<none>"_s;
            QCOMPARE(setting(u"cmbfrequency settings"_s), savedFrequency);
            QCOMPARE(dialog.isVisible(), result < 0);
            if (result >= 0) {
                QCOMPARE(dialog.result(), result);
            } else {
                // A Cancel after that leaves the store as it was.
                QTest::mouseClick(control<QPushButton>(&dialog, u"cmdCancel"_s), Qt::LeftButton);
                QVERIFY(!dialog.isVisible());
                QCOMPARE(dialog.result(), int(QDialog::Rejected));
                QCOMPARE(setting(u"cmbfrequency settings"_s), savedFrequency);
            }
        }
        // The next opening shows what was saved, trailing blank included.
        frmogg reopened(*m_output, m_dialogs);
        QCOMPARE(control<QComboBox>(&reopened, u"cmbFrequency"_s)->currentText(),
                 saved ? u"12 000 Hz "_s : u"11 025 Hz"_s);
    }

    // Tab walks each dialog from top to bottom, and every stop has a name a screen reader says.
    void keyboardOrder_data()
    {
        QTest::addColumn<bool>("ogg");
        QTest::addColumn<QStringList>("stops"); // object name = spoken name
        QTest::newRow("frmogg") << true
                                << QStringList{u"cmbFrequency=Sampling Frequency"_s,
                                               u"cmbChMode=Channels Mode"_s,
                                               u"chVbr=VBR Enabled"_s,
                                               u"chQuality=Quality Enabled"_s,
                                               u"sldrBitrate=Nominal bitrate"_s,
                                               u"sldrMinBitrate=Minimum bitrate"_s,
                                               u"sldrMaxBitrate=Maximum bitrate"_s,
                                               u"sldrQuality=Quality (Compression)"_s,
                                               u"cmdOk=Ok"_s,
                                               u"cmdCancel=Cancel"_s,
                                               u"cmdApply=Apply"_s};
        QTest::newRow("frmwma") << false
                                << QStringList{
                                       u"txtWMAProfile=Profile"_s,     u"udWMAProfile=Profile"_s,
                                       u"txtWMAFormatString=Format"_s, u"cmdApply=Apply"_s,
                                       u"cmdCancel=Cancel"_s,          u"cmdOk=Ok"_s};
    }

    void keyboardOrder()
    {
        QFETCH(bool, ogg);
        QFETCH(QStringList, stops);
        // With nothing stored every frmogg control but the VBR ones is enabled; enable all so
        // that the whole chain is walked.
        store({{u"chvbr settings"_s, u"1"_s}, {u"chquality settings"_s, u"0"_s}});
        std::optional<int> applied;
        std::unique_ptr<QDialog> dialog;
        if (ogg)
            dialog = std::make_unique<frmogg>(*m_output, m_dialogs);
        else
            dialog = std::make_unique<frmwma>(*m_output, applied);
        dialog->show();

        QStringList walked;
        for (QWidget* w = dialog->nextInFocusChain(); w != dialog.get();
             w = w->nextInFocusChain()) {
            if (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty() ||
                w->objectName().startsWith(u"qt_"_s))
                continue;
            // A button says its caption; any other stop needs its own accessible name.
            QString spoken = w->accessibleName();
            if (const auto* button = qobject_cast<QAbstractButton*>(w); button && spoken.isEmpty())
                spoken = button->text();
            walked << w->objectName() + u'=' + spoken;
        }
        QCOMPARE(walked, stops);
    }

    // Opening hands the stored profile over unless it is the up-down's starting 0; the up-down
    // keeps to 0..10 and the boxes follow it.
    void wmaOpening_data()
    {
        QTest::addColumn<Settings>("stored");
        QTest::addColumn<QString>("profileBox");
        QTest::addColumn<QString>("formatBox");
        QTest::addColumn<QStringList>("handOver");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("typed"); // into the profile box, instead of the steps
        QTest::addColumn<int>("stepped");

        QTest::newRow("empty store") << Settings{} << u"5"_s << u"WMA profile 5"_s
                                     << QStringList{u"SetWMAProfile(5)"_s} << 20 << QString() << 10;
        QTest::newRow("stored 3") << Settings{{u"udwma settings"_s, u"3"_s},
                                              {u"txtwma settings2"_s, u"3"_s},
                                              {u"txtwmaformat settings2"_s, u"old description"_s}}
                                  << u"3"_s << u"WMA profile 3"_s
                                  << QStringList{u"SetWMAProfile(3)"_s} << -20 << QString() << 0;
        QTest::newRow("stored 0: nothing handed over, stored texts shown")
            << Settings{{u"udwma settings"_s, u"0"_s},
                        {u"txtwma settings2"_s, u"0"_s},
                        {u"txtwmaformat settings2"_s, u"stored description"_s}}
            << u"0"_s << u"stored description"_s << QStringList{} << 1 << QString() << 1;
        QTest::newRow("edited by hand: out of range")
            << Settings{{u"udwma settings"_s, u"42"_s}} << u"5"_s << u"WMA profile 5"_s
            << QStringList{u"SetWMAProfile(5)"_s} << -1 << QString() << 4;
        QTest::newRow("typed 8") << Settings{{u"udwma settings"_s, u"3"_s}} << u"3"_s
                                 << u"WMA profile 3"_s << QStringList{u"SetWMAProfile(3)"_s} << 0
                                 << u"8"_s << 8;
        QTest::newRow("typed beyond the range")
            << Settings{} << u"5"_s << u"WMA profile 5"_s << QStringList{u"SetWMAProfile(5)"_s} << 0
            << u"42"_s << 10;
        QTest::newRow("typed nonsense: back to the up-down's value")
            << Settings{{u"udwma settings"_s, u"3"_s}} << u"3"_s << u"WMA profile 3"_s
            << QStringList{u"SetWMAProfile(3)"_s} << 0 << u"x"_s << 3;
    }

    void wmaOpening()
    {
        QFETCH(Settings, stored);
        QFETCH(QString, profileBox);
        QFETCH(QString, formatBox);
        QFETCH(QStringList, handOver);
        QFETCH(int, steps);
        QFETCH(QString, typed);
        QFETCH(int, stepped);
        store(stored);

        QWidget owner;
        std::optional<int> applied;
        frmwma dialog(*m_output, applied, &owner);
        QCOMPARE(dialog.parentWidget(), &owner);
        QVERIFY(dialog.isModal());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("WMA Setting"));
        QCOMPARE(control<QGroupBox>(&dialog, u"frmWMAFormat"_s)->title(),
                 QStringLiteral("WMA Format"));
        auto* profile = control<QLineEdit>(&dialog, u"txtWMAProfile"_s);
        auto* format = control<QLineEdit>(&dialog, u"txtWMAFormatString"_s);
        QVERIFY(format->isReadOnly());
        QCOMPARE(profile->text(), profileBox);
        QCOMPARE(format->text(), formatBox);
        QCOMPARE(m_output->calls, handOver);

        if (typed.isEmpty()) {
            // The arrow keys, as the up-down's own arrows step it.
            for (int i = 0; i < qAbs(steps); ++i)
                QTest::keyClick(control<QSpinBox>(&dialog, u"udWMAProfile"_s),
                                steps > 0 ? Qt::Key_Up : Qt::Key_Down);
        } else {
            profile->clear();
            QTest::keyClicks(profile, typed);
            emit profile->editingFinished();
        }
        QCOMPARE(control<QSpinBox>(&dialog, u"udWMAProfile"_s)->value(), stepped);
        QCOMPARE(profile->text(), QString::number(stepped));
        QCOMPARE(m_output->calls.last(), QStringLiteral("SetWMAProfile(%1)").arg(stepped));
        QCOMPARE(format->text(), QStringLiteral("WMA profile %1").arg(stepped));
        QVERIFY(!applied);
    }

    // Closing: Ok applies; Cancel and Escape go back to the profile in force at opening (the one
    // applied last in this run, else the stored one); the close box keeps the step. Every way
    // out saves what the output file then holds.
    void wmaClosing_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QList<int>>("earlier"); // an earlier opening: applied, then left at
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("close");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("applied"); // -1: none in this run

        QTest::newRow("first opening, Cancel keeps the stored profile")
            << u"3"_s << QList<int>{} << 4 << u"cmdCancel"_s << 3 << -1;
        QTest::newRow("first opening, empty store, Cancel")
            << u""_s << QList<int>{} << -2 << u"cmdCancel"_s << 5 << -1;
        QTest::newRow("first opening, stored 0, Cancel")
            << u"0"_s << QList<int>{} << 2 << u"cmdCancel"_s << 0 << -1;
        QTest::newRow("applied 7, reopened, stepped to 9, Cancel")
            << u""_s << QList<int>{7, 7} << 2 << u"cmdCancel"_s << 7 << 7;
        QTest::newRow("applied 7, left at 8, Cancel goes back to 7")
            << u""_s << QList<int>{7, 8} << 1 << u"cmdCancel"_s << 7 << 7;
        QTest::newRow("Escape is Cancel") << u"3"_s << QList<int>{} << 4 << u"Escape"_s << 3 << -1;
        QTest::newRow("Ok applies the step") << u"3"_s << QList<int>{} << 4 << u"cmdOk"_s << 7 << 7;
        QTest::newRow("close box keeps the step")
            << u"3"_s << QList<int>{} << 1 << u"close box"_s << 4 << -1;
    }

    void wmaClosing()
    {
        QFETCH(QString, stored);
        QFETCH(QList<int>, earlier);
        QFETCH(int, steps);
        QFETCH(QString, close);
        QFETCH(int, expected);
        QFETCH(int, applied);
        if (!stored.isEmpty())
            store({{u"udwma settings"_s, stored}});

        std::optional<int> appliedProfile;
        if (!earlier.isEmpty()) {
            frmwma first(*m_output, appliedProfile);
            first.show();
            control<QSpinBox>(&first, u"udWMAProfile"_s)->setValue(earlier[0]);
            QTest::mouseClick(control<QPushButton>(&first, u"cmdApply"_s), Qt::LeftButton);
            QCOMPARE(setting(u"udwma settings"_s), QString::number(earlier[0]));
            control<QSpinBox>(&first, u"udWMAProfile"_s)->setValue(earlier[1]);
            first.close();
            QCOMPARE(setting(u"udwma settings"_s), QString::number(earlier[1]));
        }

        frmwma dialog(*m_output, appliedProfile);
        dialog.show();
        auto* updown = control<QSpinBox>(&dialog, u"udWMAProfile"_s);
        updown->stepBy(steps);
        if (close == QLatin1String("close box"))
            dialog.close();
        else if (close == QLatin1String("Escape"))
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            QTest::mouseClick(control<QPushButton>(&dialog, close), Qt::LeftButton);

        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(),
                 int(close == QLatin1String("cmdOk") ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(m_output->wmaProfile, expected);
        QCOMPARE(updown->value(), expected);
        QCOMPARE(control<QLineEdit>(&dialog, u"txtWMAProfile"_s)->text(),
                 QString::number(expected));
        QCOMPARE(setting(u"udwma settings"_s), QString::number(expected));
        QCOMPARE(setting(u"txtwma settings2"_s), QString::number(expected));
        QCOMPARE(setting(u"txtwmaformat settings2"_s),
                 QStringLiteral("WMA profile %1").arg(expected));
        QCOMPARE(appliedProfile.value_or(-1), applied);
    }
};

QTEST_MAIN(TestFrmOggWma)
#include "tst_frmoggwma.moc"
