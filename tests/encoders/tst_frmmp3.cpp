#include "encoders/frmmp3.h"
#include "scripteddialogs.h"
#include "scriptedgrabber.h"
#include "settings/cregister.h"
#include "settings/mainsettings.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <memory>

namespace
{

// An output-file object whose encoder refuses every MP3 format.
class RefusingOutput final : public OutputFile
{
public:
    bool ReadFlag() const override { return false; }
    void SetReadFlag(bool) override {}
    Status SetMP3Format(const Mp3EncoderSettings&) override
    {
        ++calls;
        return Failure{QStringLiteral("LAME refuses 12000 Hz at 320 kbit/s")};
    }
    bool IsOGGFormatValid(int, int, int, int, int) const override { return true; }
    Status SetOGGFormat(int, int, int, int, int, qint16) override { return {}; }
    Status SetWMAProfile(int) override { return {}; }
    QString FormatString() const override { return {}; }
    int calls = 0;
};

QStringList texts(std::initializer_list<const char*> items)
{
    QStringList list;
    for (const char* item : items)
        list << QString::fromUtf8(item);
    return list;
}

QString describe(const Mp3EncoderSettings& s)
{
    return QStringLiteral(
               "rate %1 mode %2 cbr %3 vbrmax %4 ch %5 chmode %6 hp %7/%8 lp %9/%10 q %11")
        .arg(s.SampleRate)
        .arg(s.VbrMode)
        .arg(s.CbrBitrate)
        .arg(s.VbrMaxBitrate)
        .arg(s.Channels)
        .arg(s.ChannelMode)
        .arg(s.HighpassFrequency)
        .arg(s.HighpassWidth)
        .arg(s.LowpassFrequency)
        .arg(s.LowpassWidth)
        .arg(s.VbrQuality);
}

} // namespace

class TestFrmmp3 : public QObject
{
    Q_OBJECT

public:
    TestFrmmp3()
    {
        // Settings go to Qt's test folder, never to the user's own.
        QStandardPaths::setTestModeEnabled(true);
    }

private:
    ScriptedGrabber::Output m_output;
    ScriptedDialogs m_dialogs;
    // The main window's stand-in; it owns every dialog it opens.
    std::unique_ptr<QWidget> m_owner;
    frmmp3* m_dialog = nullptr;

    frmmp3* open(OutputFile* output = nullptr)
    {
        m_dialog = new frmmp3(output ? *output : m_output, m_dialogs, m_owner.get());
        m_dialog->show();
        return m_dialog;
    }

    template <typename T = QWidget> T* control(const QString& name) const
    {
        T* object = m_dialog->findChild<T*>(name);
        if (!object)
            qFatal("no control %s", qPrintable(name));
        return object;
    }

    static QString setting(const QString& name)
    {
        return CRegister().REGGetSetting(RegRoot::LocalMachine, SettingsPath, name,
                                         QStringLiteral("<none>"));
    }

    // Each entry reads "value name=text".
    static void store(const QStringList& values)
    {
        for (const QString& value : values) {
            const qsizetype at = value.indexOf(QLatin1Char('='));
            QVERIFY(CRegister().REGSaveSetting(RegRoot::LocalMachine, SettingsPath, value.left(at),
                                               value.mid(at + 1)));
        }
    }

    static void store(std::initializer_list<const char*> values) { store(texts(values)); }

    // Each entry reads "control=value": a list entry's text, a check box's 0 or 1, a slider's
    // position.
    void change(const QStringList& changes) const
    {
        for (const QString& entry : changes) {
            const qsizetype at = entry.indexOf(QLatin1Char('='));
            QObject* target = control<QObject>(entry.left(at));
            const QString value = entry.mid(at + 1);
            if (auto* list = qobject_cast<QComboBox*>(target)) {
                const int index = list->findText(value);
                QVERIFY2(index >= 0, qPrintable(entry));
                list->setCurrentIndex(index);
            } else if (auto* box = qobject_cast<QCheckBox*>(target)) {
                if (box->isChecked() != (value == QLatin1String("1"))) {
                    // By keyboard, on its page, as the user does it.
                    auto* tabs = control<QTabWidget>(QStringLiteral("Taboptions"));
                    for (int i = 0; i < tabs->count(); ++i) {
                        if (tabs->widget(i)->isAncestorOf(box))
                            tabs->setCurrentIndex(i);
                    }
                    QVERIFY(box->isVisible());
                    QTest::keyClick(box, Qt::Key_Space);
                }
            } else if (auto* bar = qobject_cast<QAbstractSlider*>(target)) {
                bar->setValue(value.toInt());
            } else {
                QFAIL(qPrintable(entry));
            }
        }
    }

    void change(std::initializer_list<const char*> changes) const { change(texts(changes)); }

    void press(const char* button) const
    {
        QTest::mouseClick(control<QPushButton>(QLatin1String(button)), Qt::LeftButton);
    }

private slots:
    void init()
    {
        QFile::remove(CRegister::databasePath());
        m_output = ScriptedGrabber::Output();
        m_dialogs = ScriptedDialogs();
        m_owner = std::make_unique<QWidget>();
        m_dialog = nullptr;
    }

    void cleanup()
    {
        m_owner.reset();
        QVERIFY(m_dialogs.answers.isEmpty());
    }

    // What each control shows on opening, from an empty store or from a stored value.
    void shownOnOpening_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("expected");

        const auto row = [](const char* tag, std::initializer_list<const char*> stored,
                            const char* name, const char* property, const char* expected) {
            QTest::newRow(tag) << texts(stored) << QString::fromLatin1(name) << QByteArray(property)
                               << QString::fromUtf8(expected);
        };
        const std::initializer_list<const char*> none;
        row("title", none, "frmmp3", "windowTitle", "MP3 Lame 3.91 Encoder Option");
        row("modal", none, "frmmp3", "modal", "true");
        row("tabs", none, "Taboptions", "tabs",
            "General|Filtering|VBR|Expert|Preset|Alt-Preset|Command Line");
        row("first tab in front", none, "Taboptions", "currentIndex", "0");
        row("buttons", none, "Command3", "text", "Ok");
        row("apply", none, "Command1", "text", "Apply");
        row("cancel", none, "Command2", "text", "Cancel");

        row("frequency list", none, "cmbFrequency", "items",
            "  8 000 Hz|11 025 Hz|12 000 Hz |16 000 Hz|22 050 Hz|24 000 Hz|32 000 Hz|44 100 Hz|"
            "48 000 Hz");
        row("frequency", none, "cmbFrequency", "currentText", "11 025 Hz");
        row("frequency stored", {"sampling frequency=  8 000 Hz"}, "cmbFrequency", "currentText",
            "  8 000 Hz");
        // A text the list doesn't hold shows no entry rather than one that isn't stored.
        row("frequency unknown", {"sampling frequency=44100"}, "cmbFrequency", "currentIndex",
            "-1");
        row("frequency frame", none, "frmFrequency", "title", "Sampling Frequency");
        row("channel modes", none, "cmbChMode", "items",
            "Mono|Stereo|Joint Stereo|Forced Joint Stereo|Dual Channels");
        row("channel mode", none, "cmbChMode", "currentText", "Stereo");
        row("channel mode stored", {"channels mode=Dual Channels"}, "cmbChMode", "currentText",
            "Dual Channels");
        row("channel frame", none, "frmChMode", "title", "Channels Mode");
        row("bitrate", none, "sldrBitrate", "value", "10");
        row("bitrate stored", {"bitrate settings=7"}, "sldrBitrate", "value", "7");
        row("bitrate below its range", {"bitrate settings=3"}, "sldrBitrate", "value", "5");
        row("bitrate lowest", none, "sldrBitrate", "minimum", "5");
        row("bitrate highest", none, "sldrBitrate", "maximum", "10");
        row("bitrate frame", none, "frmBitrate", "title", "Bitrate");
        row("poor", none, "lblpoor", "text", "poor quality ");
        row("good", none, "lblgood", "text", "good quality ");
        row("quality", none, "sldrQuality", "value", "5");
        row("quality stored", {"encoder quality=9"}, "sldrQuality", "value", "9");
        row("quality highest", none, "sldrQuality", "maximum", "9");
        row("quality frame", none, "frmQuality", "title", "Encoder Quality");
        row("better", none, "lblbetter", "text", "better");
        row("faster", none, "lblfaster", "text", "faster");

        row("lowpass frame", none, "frmLFilt", "title", "LowPass Filter");
        row("lowpass", none, "chLFilt", "checked", "true");
        row("lowpass caption", none, "chLFilt", "text", "Lowpass filtering frequency (in Hz):");
        row("lowpass frequency", none, "tLFiltF", "text", "15160");
        row("lowpass frequency stored", {"tlfiltf settings=16000"}, "tLFiltF", "text", "16000");
        row("lowpass frequency arrows only", none, "tLFiltF", "readOnly", "true");
        row("lowpass frequency highest", none, "udLFiltF", "maximum", "48000");
        row("lowpass frequency step", none, "udLFiltF", "singleStep", "10");
        row("lowpass width", none, "tLFiltW", "text", "760");
        row("lowpass width label", none, "lblLFiltW", "text", "Width of Lowpass filter (in Hz):");
        row("highpass frame", none, "frmHFilt", "title", "HighPass Filter");
        row("highpass", none, "chHFilt", "checked", "true");
        row("highpass stored off", {"chhfilt settings=0"}, "chHFilt", "checked", "false");
        row("highpass no caption", none, "chHFilt", "text", "");
        row("highpass label", none, "SkinLabel1", "text", "Highpass filtering frequency (in Hz):");
        row("highpass frequency", none, "tHFiltF", "text", "30");
        row("highpass width", none, "tHFiltW", "text", "5");
        row("highpass width stored", {"thfiltw settings=20"}, "tHFiltW", "text", "20");
        row("highpass width step", none, "udHFiltW", "singleStep", "10");
        row("highpass width label", none, "lblHFiltW", "text", "Width of Highpass filter (in Hz):");

        row("coding label", none, "lblcoding", "text", " Coding Method:");
        row("coding methods", none, "cmbVBRCodingMethod", "items", "None|Default|Old|New|MTRH|ABR");
        row("coding method", none, "cmbVBRCodingMethod", "currentText", "Default");
        row("coding method stored", {"cmbvbrcoding settings=MTRH"}, "cmbVBRCodingMethod",
            "currentText", "MTRH");
        row("vbr quality label", none, "lblVbrQuality", "text", "VBR Quality:");
        row("vbr quality", none, "txtVbrQuality", "text", "5");
        row("vbr quality typed", none, "txtVbrQuality", "readOnly", "false");
        row("vbr quality highest", none, "udVbrQuality", "maximum", "9");
        row("abr label", none, "lblAbrBitrate", "text", "Targed bitrate for ABR:");
        row("abr bitrate", none, "txtAbrBitrate", "text", "5");
        row("abr bitrate stored", {"txtabrbitrate settings=192"}, "txtAbrBitrate", "text", "192");
        row("abr bitrate highest", none, "udAbrBitrate", "maximum", "320");
        row("vbr bitrate frame", none, "frmVbrBitrate", "title", "Maximum VBR Bitrate");
        row("vbr bitrate", none, "sldrVbrBitrate", "value", "5");
        row("vbr bitrate stored", {"sldrvbrbitrate settings=14"}, "sldrVbrBitrate", "value", "14");
        row("vbr bitrate lowest", none, "sldrVbrBitrate", "minimum", "0");
        row("vbr bitrate label", none, "lblVbrBitrate", "text", "VbrBitrate");
        row("advanced frame", none, "frmVbrAdvanced", "title", "Advanced");
        row("vbr header", none, "chWriteVBRHeader", "checked", "true");
        row("vbr header caption", none, "chWriteVBRHeader", "text", "Write VBR Header");
        row("vbr header stored off", {"chwritevbrheader settings=0"}, "chWriteVBRHeader", "checked",
            "false");
        row("minimum bitrate", none, "chStrictlyEnforceMinBitrate", "checked", "true");
        row("minimum bitrate caption", none, "chStrictlyEnforceMinBitrate", "text",
            "Strictly enforce minimum bitrate");

        row("crc", none, "chErrorProtection", "checked", "false");
        row("crc caption", none, "chErrorProtection", "text", "include CRC -Checksums");
        row("crc stored on", {"cherrorprotection settings=1"}, "chErrorProtection", "checked",
            "true");
        row("short blocks", none, "chShortBlocks", "text", "short blocks");
        row("bit reservoir", none, "chBitReservoir", "text", "bit reservoir");
        row("bit reservoir stored on", {"chbitreservoir settings=1"}, "chBitReservoir", "checked",
            "true");
        row("block type", none, "chBlockType", "text",
            "allow block types to differ between channels");
        row("iso", none, "chStrictlyISOCompliance", "text",
            "comply as much as possible to ISO MPEG spec");
        row("ath label", none, "SkinLabel3", "text", "ATH Control :");
        row("ath list", none, "cmbATHControl", "items",
            "default|only|disabled|only for short blocks");
        row("ath", none, "cmbATHControl", "currentText", "default");
        row("emphasis label", none, "SkinLabel4", "text", "De-emphasis :");
        row("emphasis list", none, "cmbEmphasis", "items", "default|0/15 microseconds|citt j.17");
        row("emphasis stored", {"cmbemphasis settings=citt j.17"}, "cmbEmphasis", "currentText",
            "citt j.17");

        row("preset captions", none, "opPreset", "captions",
            "Phone|SW|AM|FM|Voice|Radio|Tape|HiFi|CD|Studio|R3Mix");
        row("preset", none, "opPreset", "checkedId", "1");
        row("preset stored", {"preset settings=9"}, "opPreset", "checkedId", "9");
        row("alt-preset captions", none, "opAltPreset", "captions",
            "Fast Standard|Standard|Fast Extreme|Extrene|Insane");
        row("alt-preset", none, "opAltPreset", "checkedId", "1");
        row("alt-preset stored", {"altpreset settings=5"}, "opAltPreset", "checkedId", "5");
        row("command line", none, "txtCommLine", "text", "comment:");
        row("command line stored", {"commandLine settings=comment: live"}, "txtCommLine", "text",
            "comment: live");
    }

    void shownOnOpening()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, name);
        QFETCH(QByteArray, property);
        QFETCH(QString, expected);

        store(stored);
        open();
        QObject* target = name == m_dialog->objectName() ? m_dialog : control<QObject>(name);
        QString shown;
        if (property == "items") {
            auto* list = qobject_cast<QComboBox*>(target);
            QStringList items;
            for (int i = 0; i < list->count(); ++i)
                items << list->itemText(i);
            shown = items.join(QLatin1Char('|'));
            QVERIFY(!list->isEditable());
        } else if (property == "tabs") {
            auto* tabs = qobject_cast<QTabWidget*>(target);
            QStringList texts;
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
            shown = texts.join(QLatin1Char('|'));
        } else if (auto* group = qobject_cast<QButtonGroup*>(target)) {
            QStringList captions;
            for (int id = 1; group->button(id); ++id)
                captions << group->button(id)->text();
            QCOMPARE(captions.size(), group->buttons().size());
            shown = property == "captions" ? captions.join(QLatin1Char('|'))
                                           : QString::number(group->checkedId());
        } else {
            const QVariant value = target->property(property.constData());
            QVERIFY2(value.isValid(), property.constData());
            shown = value.toString();
        }
        QCOMPARE(shown, expected);
    }

    // Every control can be reached with the keyboard and tells a screen reader what it is.
    void reachableAndNamed()
    {
        open();
        int controls = 0;
        for (QWidget* widget : m_dialog->findChildren<QWidget*>()) {
            const bool input =
                qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractSlider*>(widget) ||
                qobject_cast<QAbstractSpinBox*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                (qobject_cast<QLineEdit*>(widget) &&
                 !qobject_cast<QAbstractSpinBox*>(widget->parentWidget()));
            // The tab bar's own scroll arrows are Qt's, not the dialog's.
            if (!input || qobject_cast<QTabBar*>(widget->parentWidget()))
                continue;
            ++controls;
            const QByteArray name = widget->objectName().toLatin1();
            QVERIFY2(widget->focusPolicy() & Qt::TabFocus, name.constData());
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY2(accessible, name.constData());
            QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(), name.constData());
        }
        // 5 lists, 3 sliders, 6 number fields, 9 check boxes, 16 options, 3 buttons, 1 text.
        QCOMPARE(controls, 43);
        QCOMPARE(control<QLabel>(QStringLiteral("SkinLabel1"))->buddy(),
                 control(QStringLiteral("chHFilt")));
    }

    // Every stored value comes back from the controls, and the encoder gets its numbers.
    void storedValuesRoundTrip()
    {
        const QStringList values = texts({
            "sampling frequency=12 000 Hz ",
            "channels mode=Forced Joint Stereo",
            "bitrate settings=6",
            "encoder quality=8",
            "chhfilt settings=0",
            "chlfilt settings=0",
            "thfiltf settings=120",
            "thfiltw settings=20",
            "tlfiltf settings=16000",
            "tlfiltw settings=500",
            "commandLine settings=comment: ripped",
            "cmbvbrcoding settings=New",
            "sldrvbrbitrate settings=13",
            "chwritevbrheader settings=0",
            "chstrictlyenforceminbitrate settings=0",
            "txtvbrquality settings=2",
            "txtabrbitrate settings=192",
            "cherrorprotection settings=1",
            "chstrictlyisocompliance settings=1",
            "chblocktype settings=1",
            "chshortblocks settings=1",
            "chbitreservoir settings=1",
            "cmbathcontrol settings=only for short blocks",
            "cmbemphasis settings=0/15 microseconds",
            "preset settings=10",
            "altpreset settings=3",
        });
        store(values);
        open();
        // Nothing is written until Apply: clear the store to see that Apply writes every value.
        QFile::remove(CRegister::databasePath());
        press("Command1");
        for (const QString& value : values) {
            const qsizetype at = value.indexOf(QLatin1Char('='));
            QCOMPARE(setting(value.left(at)), value.mid(at + 1));
        }
        Mp3EncoderSettings expected;
        expected.SampleRate = 12000;
        expected.VbrMode = 2;
        expected.CbrBitrate = 64;
        expected.VbrMaxBitrate = 256;
        expected.Channels = 2;
        expected.ChannelMode = 3;
        expected.HighpassFrequency = -1;
        expected.LowpassFrequency = -1;
        expected.HighpassWidth = 20;
        expected.LowpassWidth = 500;
        expected.VbrQuality = 2;
        QCOMPARE(describe(m_output.mp3), describe(expected));
    }

    // Which controls are enabled, from the stored values at opening and after changes.
    void enabledStates_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<bool>("vbrBitrate");
        QTest::addColumn<bool>("vbrQuality");
        QTest::addColumn<bool>("abrBitrate");
        QTest::addColumn<bool>("highpass");
        QTest::addColumn<bool>("lowpass");

        const QStringList none;
        QTest::newRow("defaults") << none << none << true << true << false << true << true;
        // "None" is the list's first entry: its arrival changes nothing, the states must still
        // follow it.
        QTest::newRow("stored None") << texts({"cmbvbrcoding settings=None"}) << none << false
                                     << false << false << true << true;
        QTest::newRow("stored ABR") << texts({"cmbvbrcoding settings=ABR"}) << none << true << false
                                    << true << true << true;
        for (const char* method : {"Old", "New", "MTRH"})
            QTest::newRow(qPrintable(QStringLiteral("stored %1").arg(QLatin1String(method))))
                << QStringList{QStringLiteral("cmbvbrcoding settings=%1")
                                   .arg(QLatin1String(method))}
                << none << true << true << false << true << true;
        QTest::newRow("None chosen") << none << texts({"cmbVBRCodingMethod=None"}) << false << false
                                     << false << true << true;
        QTest::newRow("None then ABR chosen")
            << none << texts({"cmbVBRCodingMethod=None", "cmbVBRCodingMethod=ABR"}) << true << false
            << true << true << true;
        QTest::newRow("stored None, Default chosen")
            << texts({"cmbvbrcoding settings=None"}) << texts({"cmbVBRCodingMethod=Default"})
            << true << true << false << true << true;
        QTest::newRow("ABR then MTRH chosen")
            << none << texts({"cmbVBRCodingMethod=ABR", "cmbVBRCodingMethod=MTRH"}) << true << true
            << false << true << true;
        QTest::newRow("stored highpass off")
            << texts({"chhfilt settings=0"}) << none << true << true << false << false << true;
        QTest::newRow("stored lowpass off")
            << texts({"chlfilt settings=0"}) << none << true << true << false << true << false;
        QTest::newRow("highpass unchecked")
            << none << texts({"chHFilt=0"}) << true << true << false << false << true;
        QTest::newRow("lowpass unchecked")
            << none << texts({"chLFilt=0"}) << true << true << false << true << false;
        QTest::newRow("stored off, both checked")
            << texts({"chhfilt settings=0", "chlfilt settings=0"})
            << texts({"chHFilt=1", "chLFilt=1"}) << true << true << false << true << true;
    }

    void enabledStates()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, changes);
        QFETCH(bool, vbrBitrate);
        QFETCH(bool, vbrQuality);
        QFETCH(bool, abrBitrate);
        QFETCH(bool, highpass);
        QFETCH(bool, lowpass);

        store(stored);
        open();
        change(changes);
        const auto check = [this](std::initializer_list<const char*> names, bool enabled) {
            for (const char* name : names)
                QVERIFY2(control(QString::fromLatin1(name))->isEnabled() == enabled,
                         QByteArray(QByteArray(name) + (enabled ? " disabled" : " enabled"))
                             .constData());
        };
        check({"frmVbrBitrate", "sldrVbrBitrate", "lblVbrBitrate", "frmVbrAdvanced",
               "chWriteVBRHeader", "chStrictlyEnforceMinBitrate"},
              vbrBitrate);
        check({"lblVbrQuality", "txtVbrQuality", "udVbrQuality"}, vbrQuality);
        check({"lblAbrBitrate", "txtAbrBitrate", "udAbrBitrate"}, abrBitrate);
        check({"tHFiltF", "udHFiltF", "tHFiltW", "udHFiltW", "lblHFiltW"}, highpass);
        check({"tLFiltF", "udLFiltF", "tLFiltW", "udLFiltW", "lblLFiltW"}, lowpass);
        check({"lblcoding", "cmbVBRCodingMethod", "chHFilt", "SkinLabel1", "chLFilt"}, true);
    }

    // Dragging the bitrate slider shows the bitrate in the frame's caption and the tooltip.
    void bitrateWhileDragging_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("kbits");
        QTest::newRow("left end") << 5 << "56";
        QTest::newRow("middle") << 8 << "112";
        QTest::newRow("right end") << 10 << "160";
    }

    void bitrateWhileDragging()
    {
        QFETCH(int, position);
        QFETCH(QString, kbits);

        open();
        auto* frame = control(QStringLiteral("frmBitrate"));
        auto* bar = control<QSlider>(QStringLiteral("sldrBitrate"));
        QCOMPARE(frame->property("title").toString(), QStringLiteral("Bitrate"));
        // A drag across the whole slider that comes to rest at the position.
        bar->setSliderDown(true);
        for (int p = bar->minimum(); p <= bar->maximum(); ++p)
            bar->setSliderPosition(p);
        for (int p = bar->maximum() - 1; p >= position; --p)
            bar->setSliderPosition(p);
        bar->setSliderDown(false);
        QCOMPARE(frame->property("title").toString(),
                 QStringLiteral("Current bitrate: %1 kbit/sec").arg(kbits));
        QCOMPARE(bar->toolTip(), kbits);
        QCOMPARE(m_dialog->settings().BitratePos, position);
    }

    // Ok and Apply hand over the whole record whichever page is in front, and store it.
    void handedOverWhateverPage_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("ok");
        const char* pages[] = {"General", "Filtering",  "VBR",         "Expert",
                               "Preset",  "Alt-Preset", "Command Line"};
        for (int page = 0; page < 7; ++page)
            QTest::newRow(qPrintable(QStringLiteral("Apply on %1").arg(QLatin1String(pages[page]))))
                << page << false;
        QTest::newRow("Ok on Preset") << 4 << true;
        QTest::newRow("Ok on Command Line") << 6 << true;
        QTest::newRow("Ok on General") << 0 << true;
    }

    void handedOverWhateverPage()
    {
        QFETCH(int, page);
        QFETCH(bool, ok);

        open();
        change({"cmbFrequency=44 100 Hz", "cmbChMode=Mono", "cmbVBRCodingMethod=ABR", "chHFilt=0",
                "sldrBitrate=8", "sldrVbrBitrate=12"});
        QTest::keyClick(control(QStringLiteral("udLFiltF")), Qt::Key_Down);
        control<QSpinBox>(QStringLiteral("udVbrQuality"))->setValue(7);
        control<QTabWidget>(QStringLiteral("Taboptions"))->setCurrentIndex(page);
        press(ok ? "Command3" : "Command1");

        Mp3EncoderSettings expected;
        expected.SampleRate = 44100;
        expected.VbrMode = 4;
        expected.CbrBitrate = 112;
        expected.VbrMaxBitrate = 224;
        expected.Channels = 1;
        expected.HighpassFrequency = -1;
        expected.HighpassWidth = 5;
        expected.LowpassFrequency = 15150;
        expected.LowpassWidth = 760;
        expected.VbrQuality = 7;
        QCOMPARE(describe(m_output.mp3), describe(expected));
        QCOMPARE(setting(QStringLiteral("sampling frequency")), QStringLiteral("44 100 Hz"));
        QCOMPARE(setting(QStringLiteral("channels mode")), QStringLiteral("Mono"));
        QCOMPARE(setting(QStringLiteral("cmbvbrcoding settings")), QStringLiteral("ABR"));
        QCOMPARE(setting(QStringLiteral("chhfilt settings")), QStringLiteral("0"));
        QCOMPARE(setting(QStringLiteral("tlfiltf settings")), QStringLiteral("15150"));
        QCOMPARE(setting(QStringLiteral("sldrvbrbitrate settings")), QStringLiteral("12"));
        QCOMPARE(setting(QStringLiteral("txtvbrquality settings")), QStringLiteral("7"));
        QVERIFY(m_dialogs.asked.isEmpty());
        QCOMPARE(m_dialog->isVisible(), !ok);
        if (ok)
            QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    }

    // A keyboard change of the maximum VBR bitrate reaches the record, the store and the encoder.
    void vbrBitrateByKeyboard_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("kbits");
        QTest::newRow("right") << int(Qt::Key_Right) << 6 << 64;
        QTest::newRow("left") << int(Qt::Key_Left) << 4 << 48;
        QTest::newRow("end") << int(Qt::Key_End) << 14 << 320;
        QTest::newRow("home") << int(Qt::Key_Home) << 0 << 8;
    }

    void vbrBitrateByKeyboard()
    {
        QFETCH(int, key);
        QFETCH(int, position);
        QFETCH(int, kbits);

        open();
        control<QTabWidget>(QStringLiteral("Taboptions"))->setCurrentIndex(2);
        auto* bar = control(QStringLiteral("sldrVbrBitrate"));
        bar->setFocus();
        QTest::keyClick(bar, Qt::Key(key));
        QCOMPARE(m_dialog->settings().VbrBitratePos, position);
        press("Command1");
        QCOMPARE(setting(QStringLiteral("sldrvbrbitrate settings")), QString::number(position));
        QCOMPARE(m_output.mp3.VbrMaxBitrate, kbits);
    }

    // The number fields: the text and the arrows stay in step, arrows-only fields take no
    // typing, and what the field shows is stored.
    void numberFields_data()
    {
        QTest::addColumn<QString>("arrows");
        QTest::addColumn<QString>("typed"); // "+" or "-": the up or down arrow key
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("storedAs");

        QTest::newRow("highpass up") << "udHFiltF"
                                     << "+"
                                     << "Default"
                                     << "40"
                                     << "thfiltf settings";
        QTest::newRow("highpass width down to 0") << "udHFiltW"
                                                  << "-"
                                                  << "Default"
                                                  << "0"
                                                  << "thfiltw settings";
        QTest::newRow("lowpass down") << "udLFiltF"
                                      << "-"
                                      << "Default"
                                      << "15150"
                                      << "tlfiltf settings";
        QTest::newRow("lowpass width up") << "udLFiltW"
                                          << "+"
                                          << "Default"
                                          << "770"
                                          << "tlfiltw settings";
        QTest::newRow("lowpass typed") << "udLFiltF"
                                       << "9"
                                       << "Default"
                                       << "15160"
                                       << "tlfiltf settings";
        QTest::newRow("highpass width typed") << "udHFiltW"
                                              << "45"
                                              << "Default"
                                              << "5"
                                              << "thfiltw settings";
        QTest::newRow("vbr quality up") << "udVbrQuality"
                                        << "+"
                                        << "Default"
                                        << "6"
                                        << "txtvbrquality settings";
        QTest::newRow("vbr quality typed") << "udVbrQuality"
                                           << "7"
                                           << "Default"
                                           << "7"
                                           << "txtvbrquality settings";
        QTest::newRow("vbr quality left empty") << "udVbrQuality"
                                                << ""
                                                << "Default"
                                                << "5"
                                                << "txtvbrquality settings";
        QTest::newRow("abr typed") << "udAbrBitrate"
                                   << "128"
                                   << "ABR"
                                   << "128"
                                   << "txtabrbitrate settings";
        QTest::newRow("abr down to 4") << "udAbrBitrate"
                                       << "-"
                                       << "ABR"
                                       << "4"
                                       << "txtabrbitrate settings";
    }

    void numberFields()
    {
        QFETCH(QString, arrows);
        QFETCH(QString, typed);
        QFETCH(QString, method);
        QFETCH(QString, expected);
        QFETCH(QString, storedAs);

        open();
        change({QStringLiteral("cmbVBRCodingMethod=") + method});
        auto* field = control<QSpinBox>(arrows);
        auto* text = field->findChild<QLineEdit*>();
        QVERIFY(text);
        QCOMPARE(text->objectName().left(1), QStringLiteral("t"));
        field->setFocus();
        if (typed == QLatin1String("+") || typed == QLatin1String("-")) {
            QTest::keyClick(field, typed == QLatin1String("+") ? Qt::Key_Up : Qt::Key_Down);
        } else {
            QTest::keyClick(field, Qt::Key_End);
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(field, Qt::Key_Backspace);
            QTest::keyClicks(field, typed);
        }
        press("Command1");
        QCOMPARE(text->text(), expected);
        QCOMPARE(field->value(), expected.toInt());
        QCOMPARE(setting(storedAs), expected);
    }

    // Cancel and closing the window store and hand over nothing; an earlier Apply stays.
    void discarded_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("appliedBefore");
        for (const char* how : {"Cancel", "close", "Escape"}) {
            QTest::newRow(how) << QString::fromLatin1(how) << false;
            QTest::newRow(qPrintable(QStringLiteral("Apply, then %1").arg(QLatin1String(how))))
                << QString::fromLatin1(how) << true;
        }
    }

    void discarded()
    {
        QFETCH(QString, how);
        QFETCH(bool, appliedBefore);

        open();
        if (appliedBefore) {
            change({"cmbChMode=Joint Stereo"});
            press("Command1");
        }
        const Mp3EncoderSettings handedOver = m_output.mp3;
        change({"cmbChMode=Dual Channels", "sldrQuality=9", "cmbFrequency=48 000 Hz"});
        if (how == QLatin1String("Cancel"))
            press("Command2");
        else if (how == QLatin1String("close"))
            m_dialog->close();
        else
            QTest::keyClick(m_dialog, Qt::Key_Escape);

        QVERIFY(!m_dialog->isVisible());
        QCOMPARE(m_dialog->result(), int(QDialog::Rejected));
        QCOMPARE(describe(m_output.mp3), describe(handedOver));
        QCOMPARE(setting(QStringLiteral("channels mode")),
                 appliedBefore ? QStringLiteral("Joint Stereo") : QStringLiteral("<none>"));
        QCOMPARE(setting(QStringLiteral("encoder quality")),
                 appliedBefore ? QStringLiteral("5") : QStringLiteral("<none>"));

        open();
        QCOMPARE(control<QComboBox>(QStringLiteral("cmbChMode"))->currentText(),
                 appliedBefore ? QStringLiteral("Joint Stereo") : QStringLiteral("Stereo"));
        QCOMPARE(control<QComboBox>(QStringLiteral("cmbFrequency"))->currentText(),
                 QStringLiteral("11 025 Hz"));
    }

    // The encoder refusing the settings is shown; they are stored all the same and the dialog
    // stays open so that they can be put right.
    void refused_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Ok") << "Command3";
        QTest::newRow("Apply") << "Command1";
    }

    void refused()
    {
        QFETCH(QString, button);

        RefusingOutput output;
        open(&output);
        change({"cmbFrequency=12 000 Hz "});
        press(qPrintable(button));
        QCOMPARE(output.calls, 1);
        QCOMPARE(m_dialogs.asked.size(), 1);
        const MessageBox& box = m_dialogs.asked.first();
        QCOMPARE(box.text, QStringLiteral("LAME refuses 12000 Hz at 320 kbit/s"));
        QCOMPARE(box.title, QStringLiteral("Tambrel"));
        QCOMPARE(box.icon, MessageBox::Icon::Critical);
        QCOMPARE(box.buttons, MessageBox::Buttons::Ok);
        QCOMPARE(setting(QStringLiteral("sampling frequency")), QStringLiteral("12 000 Hz "));
        QVERIFY(m_dialog->isVisible());
        m_owner.reset();
    }
};

QTEST_MAIN(TestFrmmp3)
#include "tst_frmmp3.moc"
