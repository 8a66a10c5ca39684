#include "settings/mainsettings.h"
#include "support/rowprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sqlite3.h>

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

    // The default folder is in the music folder, or in the home folder where there is no music
    // folder (a server's account).
    void firstRunDefaults_data()
    {
        QTest::addColumn<bool>("musicFolder");
        QTest::newRow("music folder") << true;
        QTest::newRow("no music folder") << false;
    }

    void firstRunDefaults()
    {
        QFETCH(bool, musicFolder);
        const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        QVERIFY(!music.isEmpty() && music.startsWith(QDir::homePath()));
        if (musicFolder)
            QVERIFY(QDir().mkpath(music));
        else
            QDir(music).removeRecursively();
        const MainSettings settings = MainSettings::load(store());
        QCOMPARE(settings.OutputFolder,
                 (musicFolder ? music : QDir::homePath()) + QStringLiteral("/Converted Music"));
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

    // A store held by another program (a real second connection), read-only or unusable: loading
    // and saving each wait at most a moment, a value that could not be read is never replaced by
    // the default given instead, and the user hears once that changes will not be kept. The
    // problem is reported once per run, so each row runs in a process of its own.
    void storeThatCannotKeepChanges_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("readable"); // the stored values load
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("freeAtSave"); // the other program is done before the save
        QTest::newRow("held for writing")
            << "exclusive" << false << "in use by another program" << true;
        QTest::newRow("held for reading")
            << "shared" << true << "in use by another program" << false;
        QTest::newRow("read-only file") << "read-only" << true << "is read-only" << false;
        QTest::newRow("folder in its place") << "folder" << false << "is no file" << false;
    }

    void storeThatCannotKeepChanges()
    {
        if (!rowprocess::isRowProcess()) {
            const QByteArray failure = rowprocess::runRow();
            QVERIFY2(failure.isEmpty(), failure.constData());
            return;
        }
        QFETCH(QString, state);
        QFETCH(bool, readable);
        QFETCH(QString, said);
        QFETCH(bool, freeAtSave);
        const QString file = store().databaseFile();
        const MainSettings stored = sample();
        sqlite3* other = nullptr;
        const auto release = qScopeGuard([&] {
            sqlite3_close_v2(other);
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        });
        if (state == u"folder") {
            QVERIFY(QDir().mkpath(file));
        } else {
            stored.save(store());
            QVERIFY(!CRegister::takeProblemReport());
            if (state == u"read-only") {
                QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
            } else {
                QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &other), SQLITE_OK);
                const char* hold =
                    state == u"exclusive" ? "BEGIN EXCLUSIVE" : "BEGIN; SELECT count(*) FROM vals";
                QCOMPARE(sqlite3_exec(other, hold, nullptr, nullptr, nullptr), SQLITE_OK);
            }
        }

        QElapsedTimer timer;
        timer.start();
        MainSettings loaded = MainSettings::load(store());
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(loaded.OutputFolder,
                 readable ? stored.OutputFolder : MainSettings::defaultOutputFolder());
        QCOMPARE(loaded.GenreSetting, readable ? stored.GenreSetting : QString());
        loaded.AlbumSetting = QStringLiteral("changed by the user");
        if (freeAtSave)
            sqlite3_close_v2(std::exchange(other, nullptr));
        timer.restart();
        loaded.save(store());
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        const std::optional<QString> report = CRegister::takeProblemReport();
        QVERIFY(report && report->contains(file) && report->contains(said));
        QVERIFY2(report->contains(u"changes made now will not be kept"), qPrintable(*report));
        QVERIFY(!CRegister::takeProblemReport());

        if (state == u"folder")
            return;
        // Once the other program is done, the values stored before are all still there, and the
        // user's change where it could be saved.
        sqlite3_close_v2(std::exchange(other, nullptr));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        const MainSettings after = MainSettings::load(store());
        QCOMPARE(after.OutputFolder, stored.OutputFolder);
        QCOMPARE(after.LastOutputFormat, stored.LastOutputFormat);
        QCOMPARE(after.AlbumSetting,
                 freeAtSave ? QStringLiteral("changed by the user") : stored.AlbumSetting);
        QCOMPARE(after.GenreSetting, stored.GenreSetting);
        QCOMPARE(after.PreserveTags, stored.PreserveTags);
    }

private:
    CRegister store() const { return CRegister(m_dir->filePath(QStringLiteral("registry.db"))); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestMainSettings)
#include "tst_mainsettings.moc"
