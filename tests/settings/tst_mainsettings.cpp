#include "settings/mainsettings.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

MainSettings sample()
{
    MainSettings s;
    s.OutputFolder = QStringLiteral("/srv/rips/Å");
    s.LastOutputFormat = QStringLiteral("FLAC");
    s.AlbumSetting = QStringLiteral("Album %A");
    s.ArtistSetting = QStringLiteral("Artist %R");
    s.YearSetting = QStringLiteral("1999");
    s.GenreSetting = QStringLiteral("Jazz");
    s.PreserveTags = false;
    return s;
}

} // namespace

class TestMainSettings : public QObject
{
    Q_OBJECT

private slots:
    // A fresh store for each test function and each data row.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void firstRunDefaults()
    {
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(!music.isEmpty());
        const MainSettings settings = MainSettings::load(store());
        QCOMPARE(settings.OutputFolder, music + QStringLiteral("/Converted Music"));
        QCOMPARE(settings.LastOutputFormat, QStringLiteral("WAV"));
        QVERIFY(settings.AlbumSetting.isEmpty() && settings.ArtistSetting.isEmpty());
        QVERIFY(settings.YearSetting.isEmpty() && settings.GenreSetting.isEmpty());
        QVERIFY(settings.PreserveTags);
    }

    void roundTrip()
    {
        const MainSettings saved = sample();
        saved.save(store());
        const MainSettings loaded = MainSettings::load(store());
        QCOMPARE(loaded.OutputFolder, saved.OutputFolder);
        QCOMPARE(loaded.LastOutputFormat, saved.LastOutputFormat);
        QCOMPARE(loaded.AlbumSetting, saved.AlbumSetting);
        QCOMPARE(loaded.ArtistSetting, saved.ArtistSetting);
        QCOMPARE(loaded.YearSetting, saved.YearSetting);
        QCOMPARE(loaded.GenreSetting, saved.GenreSetting);
        QCOMPARE(loaded.PreserveTags, false);
    }

    void preserveTagsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("1") << QStringLiteral("1") << true;
        QTest::newRow("-1") << QStringLiteral("-1") << true;
        QTest::newRow("2") << QStringLiteral("2") << true;
        QTest::newRow("0") << QStringLiteral("0") << false;
        QTest::newRow("junk") << QStringLiteral("yes") << true;
        QTest::newRow("empty") << QString() << true;
    }

    void preserveTagsText()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QVERIFY(store().REGSaveSetting(RegRoot::LocalMachine, SettingsPath,
                                       QStringLiteral("PRESERVE TAGS"), text));
        QCOMPARE(MainSettings::load(store()).PreserveTags, expected);
    }

    // Other programs find the values under these names; read back here in another case.
    void namesWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        const MainSettings s = sample();
        QTest::newRow("folder") << QStringLiteral("OUTPUT FOLDER2") << s.OutputFolder;
        QTest::newRow("format") << QStringLiteral("last output format2") << s.LastOutputFormat;
        QTest::newRow("album") << QStringLiteral("Album Setting") << s.AlbumSetting;
        QTest::newRow("artist") << QStringLiteral("ARTIST setting") << s.ArtistSetting;
        QTest::newRow("year") << QStringLiteral("Year Setting") << s.YearSetting;
        QTest::newRow("genre") << QStringLiteral("GENDRE SETTING") << s.GenreSetting;
        QTest::newRow("preserve") << QStringLiteral("preserve TAGS") << QStringLiteral("-1");
    }

    void namesWritten()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        MainSettings settings = sample();
        settings.PreserveTags = true;
        settings.save(store());
        QCOMPARE(store().REGGetSetting(RegRoot::LocalMachine,
                                       QStringLiteral("software\\quenlow\\varnet"), name,
                                       QString()),
                 expected);
    }

private:
    CRegister store() const { return CRegister(m_dir->filePath(QStringLiteral("registry.db"))); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestMainSettings)
#include "tst_mainsettings.moc"
