// The encoder settings records: their defaults and stored form, and what reaches the encoder.
#include "components/audiofile/audiooutputfile.h"
#include "encoders/mp3settings.h"
#include "encoders/oggsettings.h"
#include "encoders/storedencodersettings.h"
#include "encoders/wmasettings.h"
#include "mainwindowtest.h"

#include <functional>

namespace
{

// LAME's defaults with the given values written over them, in the order they are listed.
Mp3EncoderSettings lame(int rate, int vbrMode, int cbr, int vbrMax, int channels, int mode,
                        int highpass, int lowpass, int highpassWidth, int lowpassWidth,
                        int vbrQuality)
{
    return {rate,     vbrMode, cbr,           vbrMax,       channels,  mode,
            highpass, lowpass, highpassWidth, lowpassWidth, vbrQuality};
}

} // namespace

Q_DECLARE_METATYPE(std::function<void(Mp3Settings&)>)
Q_DECLARE_METATYPE(std::function<void(OggSettings&)>)
Q_DECLARE_METATYPE(Mp3EncoderSettings)
Q_DECLARE_METATYPE(OggFormat)

class TestEncoderSettings : public MainWindowTest
{
    Q_OBJECT

private slots:
    void init() { startAfresh(); }

    // An empty store gives the defaults; what is saved comes back, numbers and texts alike,
    // except the one text stored as a number and texts saved empty, which read as absent.
    void storedForm()
    {
        const CRegister store;
        QVERIFY(!Mp3Settings::anyStored(store));
        QVERIFY(Mp3Settings::load(store) == Mp3Settings{});
        QVERIFY(OggSettings::load(store) == OggSettings{});
        QVERIFY(WmaSettings::load(store) == WmaSettings{});

        Mp3Settings mp3;
        mp3.Frequency = QStringLiteral("12 000 Hz ");
        mp3.BitratePos = 7;
        mp3.HighpassOn = 0;
        mp3.HighpassWidth = QStringLiteral("05");
        mp3.CommandLine = QString();
        mp3.AbrBitrate = QString();
        mp3.Preset = QStringLiteral("11");
        mp3.save(store);
        QVERIFY(Mp3Settings::anyStored(store));
        Mp3Settings expected = mp3;
        expected.HighpassWidth = QStringLiteral("5");
        expected.CommandLine = QStringLiteral("comment:");
        expected.AbrBitrate = QStringLiteral("5");
        QVERIFY(Mp3Settings::load(store) == expected);
        QCOMPARE(setting(QStringLiteral("THFILTW SETTINGS")), QStringLiteral("5"));

        OggSettings ogg;
        ogg.QualityPos = 1000;
        ogg.VbrState = 0;
        ogg.save(store);
        QVERIFY(OggSettings::load(store) == ogg);
        WmaSettings wma{QStringLiteral("7"), QStringLiteral("96 kbit/s"), 7};
        wma.save(store);
        QVERIFY(WmaSettings::load(store) == wma);

        // Numbers edited by hand into something else read as their defaults.
        MainWindowTest::store(QStringLiteral("bitrate settings"), QStringLiteral("loud"));
        MainWindowTest::store(QStringLiteral("udwma settings"), QStringLiteral("99"));
        QCOMPARE(Mp3Settings::load(store).BitratePos, qint16(10));
        QCOMPARE(WmaSettings::load(store).profile(), 5);
    }

    void mp3ToEncoder_data()
    {
        QTest::addColumn<std::function<void(Mp3Settings&)>>("change");
        QTest::addColumn<Mp3EncoderSettings>("expected");
        const auto none = [](Mp3Settings&) {};
        QTest::newRow("defaults") << std::function<void(Mp3Settings&)>(none)
                                  << lame(11025, 0, 160, 56, 2, 1, 30, 15160, 5, 760, 5);
        // Mono keeps LAME's channel mode.
        QTest::newRow("mono") << std::function<void(Mp3Settings&)>([](Mp3Settings& s) {
            s.ChannelMode = QStringLiteral("Mono");
        }) << lame(11025, 0, 160, 56, 1, 2, 30, 15160, 5, 760, 5);
        QTest::newRow("dual channels, 8 000 Hz")
            << std::function<void(Mp3Settings&)>([](Mp3Settings& s) {
                   s.ChannelMode = QStringLiteral("Dual Channels");
                   s.Frequency = QStringLiteral("  8 000 Hz");
               })
            << lame(8000, 0, 160, 56, 2, 4, 30, 15160, 5, 760, 5);
        QTest::newRow("filters off keep their widths")
            << std::function<void(Mp3Settings&)>([](Mp3Settings& s) {
                   s.HighpassOn = 0;
                   s.LowpassOn = 0;
               })
            << lame(11025, 0, 160, 56, 2, 1, -1, -1, 5, 760, 5);
        QTest::newRow("None, 56 kbit/s") << std::function<void(Mp3Settings&)>([](Mp3Settings& s) {
            s.VbrCoding = QStringLiteral("None");
            s.BitratePos = 5;
            s.VbrBitratePos = 14;
        }) << lame(11025, -1, 56, 320, 2, 1, 30, 15160, 5, 760, 5);
        QTest::newRow("ABR, quality 0") << std::function<void(Mp3Settings&)>([](Mp3Settings& s) {
            s.VbrCoding = QStringLiteral("ABR");
            s.VbrQuality = QStringLiteral("0");
        }) << lame(11025, 4, 160, 56, 2, 1, 30, 15160, 5, 760, 0);
    }

    void mp3ToEncoder()
    {
        QFETCH(std::function<void(Mp3Settings&)>, change);
        QFETCH(Mp3EncoderSettings, expected);
        Mp3Settings settings;
        change(settings);
        QVERIFY(settings.encoderSettings() == expected);
    }

    // What reaches the real output-file object; a bitrate setup libvorbisenc refuses reaches
    // nothing.
    void oggToEncoder_data()
    {
        QTest::addColumn<std::function<void(OggSettings&)>>("change");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<OggFormat>("expected");
        QTest::newRow("quality") << std::function<void(OggSettings&)>([](OggSettings& s) {
            s.QualityPos = 420;
        }) << true << OggFormat{11025, 2, 128, 0, 0, 420};
        QTest::newRow("VBR 96 within 48..160")
            << std::function<void(OggSettings&)>([](OggSettings& s) {
                   s.QualityState = 0;
                   s.FrequencyText = QStringLiteral("44 100 Hz");
                   s.BitratePos = 7;
                   s.MinBitratePos = 4;
                   s.MaxBitratePos = 10;
               })
            << true << OggFormat{44100, 2, 96, 48, 160, -1};
        QTest::newRow("constant 128, mono")
            << std::function<void(OggSettings&)>([](OggSettings& s) {
                   s.QualityState = 0;
                   s.VbrState = 0;
                   s.ChModeText = QStringLiteral("Mono");
                   s.FrequencyText = QStringLiteral("44 100 Hz");
                   s.BitratePos = 9;
               })
            << true << OggFormat{44100, 1, 128, 0, 0, -1};
        QTest::newRow("320 kbit/s at 8 000 Hz is refused")
            << std::function<void(OggSettings&)>([](OggSettings& s) {
                   s.QualityState = 0;
                   s.VbrState = 0;
                   s.FrequencyText = QStringLiteral("  8 000 Hz");
                   s.BitratePos = 14;
               })
            << false << OggFormat{};
    }

    void oggToEncoder()
    {
        QFETCH(std::function<void(OggSettings&)>, change);
        QFETCH(bool, taken);
        QFETCH(OggFormat, expected);
        OggSettings settings;
        change(settings);
        AudioOutputFile file;
        QCOMPARE(applyOggSettings(file, settings), taken);
        QVERIFY(file.settings().ogg == expected);
    }

    // Settings saved in an earlier run are in force once the window has started, before any
    // dialog was opened; formats with nothing saved keep the component's defaults.
    void savedSettingsApplyAtStartup()
    {
        Mp3Settings mp3;
        mp3.VbrCoding = QStringLiteral("None");
        mp3.save(CRegister());
        WmaSettings wma;
        wma.StoredProfileIndex = 3;
        wma.save(CRegister());
        makeWindow({ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {1})}).Form_Load();
        QVERIFY(m_grabber->output.mp3 == mp3.encoderSettings());
        QCOMPARE(m_grabber->output.wmaProfile, 3);
        closeWindow();
    }
};

QTEST_MAIN(TestEncoderSettings)
#include "tst_encodersettings.moc"
