#include "settings/cregister.h"
#include "support/rowprocess.h"

#include <QDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <thread>

namespace
{

constexpr RegRoot Root = RegRoot::LocalMachine;
constexpr const char* Varnet = "Software\\Quenlow\\Varnet";
// Set in the child processes damagedFile() runs its rows in.

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

// A connection of the test's own, standing for a second program using the same file.
Connection openConnection(const QString& file, const char* sql)
{
    sqlite3* raw = nullptr;
    sqlite3_open(QFile::encodeName(file).constData(), &raw);
    Connection db(raw);
    if (sqlite3_exec(raw, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        qFatal("%s", sqlite3_errmsg(raw));
    return db;
}

QByteArray contents(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void setMode(const QString& path, int mode)
{
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

} // namespace

class TestCRegister : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_file = m_dir->filePath(QStringLiteral("config/registry.db"));
        m_folder = QFileInfo(m_file).absolutePath();
    }

    void missingGivesDefault()
    {
        QCOMPARE(get(Varnet, "x"), s("d"));
        QVERIFY(!QFileInfo::exists(m_file)); // a read never creates the file
        QVERIFY(keys("").isEmpty());
        QVERIFY(!del(Varnet, "x"));

        QVERIFY(save(Varnet, "x", "1"));
        QCOMPARE(get(Varnet, "y"), s("d"));
        QCOMPARE(get("Software\\Quenlow", "x"), s("d"));
        QCOMPARE(store().REGGetSetting(RegRoot::CurrentUser, s(Varnet), s("x"), s("d")), s("d"));
        // The empty text is stored, and reads as absent.
        QVERIFY(save(Varnet, "x", ""));
        QCOMPARE(get(Varnet, "x"), s("d"));
    }

    void keyPathForms_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("leading") << s("\\Software\\Quenlow\\Varnet");
        QTest::newRow("trailing") << s("Software\\Quenlow\\Varnet\\");
        QTest::newRow("both ends") << s("\\Software\\Quenlow\\Varnet\\");
        QTest::newRow("other case") << s("SOFTWARE\\quenlow\\varnet");
    }

    void keyPathForms()
    {
        QFETCH(QString, path);
        QVERIFY(save(Varnet, "v", "old"));
        QVERIFY(store().REGSaveSetting(Root, path, s("v"), s("new")));
        QCOMPARE(get(Varnet, "v"), s("new"));
        QCOMPARE(keys("Software\\Quenlow"), QStringList{s("Varnet")});
    }

    void invalidPaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("two leading") << s("\\\\Software");
        QTest::newRow("two trailing") << s("Software\\\\");
        QTest::newRow("empty part") << s("A\\\\B");
        QTest::newRow("three separators") << s("\\\\\\");
    }

    void invalidPaths()
    {
        QFETCH(QString, path);
        const QByteArray bytes = path.toUtf8();
        const char* p = bytes.constData();
        QVERIFY(!save(p, "v", "1"));
        QVERIFY(save("A\\B", "v", "1"));
        QCOMPARE(get(p, "v"), s("d"));
        QVERIFY(!del(p, "v"));
        QVERIFY(!del(p, ""));
        QCOMPARE(keys(""), QStringList{s("A")});
    }

    void valueNames()
    {
        QVERIFY(save(Varnet, "Preserve tags", "1"));
        QVERIFY(save(Varnet, "PRESERVE TAGS", "0"));
        QCOMPARE(get(Varnet, "Preserve Tags"), s("0"));
        // "*" is the key's default value, apart from every named value.
        QVERIFY(save(Varnet, "*", "dflt"));
        QCOMPARE(get(Varnet, "*"), s("dflt"));
        QCOMPARE(get(Varnet, "preserve tags"), s("0"));
        // The root key holds values too; text goes in and out unchanged.
        QVERIFY(save("", "t", "Ærø ♫ \\ \"x\" ' ; --"));
        QCOMPARE(get("\\", "T"), s("Ærø ♫ \\ \"x\" ' ; --"));
    }

    void getAllKeys()
    {
        for (const char* path :
             {"Software\\Zeta", "Software\\Alpha", "Software\\Mid", "Software\\Zeta\\Deep\\Er"})
            QVERIFY(save(path, "v", "1"));
        const QStringList created{s("Zeta"), s("Alpha"), s("Mid")};
        QCOMPARE(keys("Software"), created);
        QCOMPARE(keys("software"), created);
        QCOMPARE(keys("Software\\Zeta"), QStringList{s("Deep")});
        QCOMPARE(keys(""), QStringList{s("Software")});
        QVERIFY(keys("Software\\Mid").isEmpty());
        QVERIFY(keys("Nowhere").isEmpty());
        QVERIFY(keys("\\Software").isEmpty()); // this path is taken as it is, not trimmed
        QVERIFY(store().GetAllKeys(RegRoot::CurrentUser, s("Software")).isEmpty());
    }

    void deleteRules()
    {
        QVERIFY(save("A\\B", "x", "1"));
        QVERIFY(save("A", "y", "2"));
        QVERIFY(save("A", "*", "3"));
        QVERIFY(del("A\\B", "X"));
        QVERIFY(!del("A\\B", "x"));
        QCOMPARE(get("A\\B", "x"), s("d"));
        QVERIFY(del("A", "*"));
        QCOMPARE(get("A", "y"), s("2"));

        QVERIFY(!del("A", "")); // a key with sub-keys stays, values and all
        QCOMPARE(get("A", "y"), s("2"));
        QVERIFY(del("\\a\\b\\", ""));
        QVERIFY(!del("A\\B", ""));
        QVERIFY(del("A", ""));
        QVERIFY(keys("").isEmpty());
        // A key made again under the same name starts without the old values.
        QVERIFY(save("A", "z", "1"));
        QCOMPARE(get("A", "y"), s("d"));
    }

    void readOnly_data()
    {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::newRow("file") << 0444 << 0755;
        QTest::newRow("folder") << 0644 << 0555;
        QTest::newRow("file and folder") << 0444 << 0555;
    }

    // No write bit means read-only even for root, so this runs the same under any user.
    void readOnly()
    {
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QVERIFY(save(Varnet, "v", "old"));
        const QByteArray before = contents(m_file);
        const auto restore = qScopeGuard([&] {
            setMode(m_folder, 0755);
            setMode(m_file, 0644);
        });
        setMode(m_file, fileMode);
        setMode(m_folder, folderMode);

        QVERIFY(!save(Varnet, "v", "new"));
        QVERIFY(!save("New", "v", "1"));
        QVERIFY(!del(Varnet, "v"));
        QCOMPARE(get(Varnet, "v"), s("old"));
        QCOMPARE(contents(m_file), before);
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList{s("registry.db")});
    }

    // A save that fails part way leaves nothing behind: not the value, not the keys it made.
    void saveIsAtomic()
    {
        QVERIFY(save(Varnet, "v", "old"));
        const Connection other =
            openConnection(m_file, "CREATE TRIGGER no_insert BEFORE INSERT ON vals"
                                   " BEGIN SELECT RAISE(ABORT, 'refused'); END;"
                                   "CREATE TRIGGER no_update BEFORE UPDATE ON vals"
                                   " BEGIN SELECT RAISE(ABORT, 'refused'); END;");
        QVERIFY(!save(Varnet, "v", "new"));
        QVERIFY(!save("New\\Deep", "v", "1"));
        QCOMPARE(get(Varnet, "v"), s("old"));
        QCOMPARE(keys(""), QStringList{s("Software")});
    }

    // While another program reads, a save waits for it instead of failing, and that program
    // goes on seeing the old value until the save is done.
    void waitsForOtherReader()
    {
        QVERIFY(save(Varnet, "v", "old"));
        const Connection other = openConnection(m_file, "BEGIN; SELECT count(*) FROM vals;");
        QByteArray seen;
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto keep = [](void* to, int, char** row, char**) {
                *static_cast<QByteArray*>(to) = row[0];
                return 0;
            };
            sqlite3_exec(other.get(), "SELECT data FROM vals WHERE name = 'v'", keep, &seen,
                         nullptr);
            sqlite3_exec(other.get(), "COMMIT", nullptr, nullptr, nullptr);
        });
        const bool saved = save(Varnet, "v", "new");
        reader.join();
        QVERIFY(saved);
        QCOMPARE(seen, QByteArray("old"));
        QCOMPARE(get(Varnet, "v"), s("new"));
    }

    void damagedFile_data()
    {
        QTest::addColumn<bool>("pagesOnly");
        QTest::addColumn<bool>("folderWritable");
        QTest::newRow("not a database") << false << true;
        QTest::newRow("corrupt pages") << true << true;
        QTest::newRow("cannot be set aside") << false << false;
    }

    // The problem report is given once per run, so each row runs in a process of its own.
    void damagedFile()
    {
        if (!rowprocess::isRowProcess()) {
            const QByteArray failure = rowprocess::runRow();
            QVERIFY2(failure.isEmpty(), failure.constData());
            return;
        }
        QFETCH(bool, pagesOnly);
        QFETCH(bool, folderWritable);
        QVERIFY(save(Varnet, "v", "1"));
        QByteArray bytes = contents(m_file);
        // Keep the header and schema page, or not even that.
        const qsizetype from = pagesOnly ? 4096 : 0;
        bytes.replace(from, bytes.size() - from, QByteArray(bytes.size() - from, '\xee'));
        QVERIFY(writeFile(m_file, bytes));
        const auto restore = qScopeGuard([&] { setMode(m_folder, 0755); });
        if (!folderWritable)
            setMode(m_folder, 0555);

        QCOMPARE(get(Varnet, "v"), s("d"));
        const std::optional<QString> report = CRegister::takeProblemReport();
        QVERIFY(report && report->contains(m_file));
        QVERIFY(!CRegister::takeProblemReport());
        const QStringList setAside = QDir(m_folder).entryList({s("registry.db.damaged-*")});
        if (folderWritable) {
            QCOMPARE(setAside.size(), 1);
            const QString kept = QDir(m_folder).filePath(setAside.first());
            QVERIFY2(report->contains(kept), qPrintable(*report));
            QCOMPARE(contents(kept), bytes);
            QVERIFY(!QFileInfo::exists(m_file));
            QVERIFY(save(Varnet, "v", "2"));
            QCOMPARE(get(Varnet, "v"), s("2"));
        } else {
            QVERIFY(setAside.isEmpty());
            QVERIFY2(report->contains(s("could not be set aside")), qPrintable(*report));
            QVERIFY(!save(Varnet, "v", "2"));
            QCOMPARE(contents(m_file), bytes);
        }

        // Another damaged file in the same run is set aside too, without a second report.
        const QString other = m_dir->filePath(s("other.db"));
        QVERIFY(writeFile(other, bytes));
        QCOMPARE(CRegister(other).REGGetSetting(Root, s(Varnet), s("v"), s("d")), s("d"));
        QVERIFY(!QFileInfo::exists(other));
        QVERIFY(!CRegister::takeProblemReport());
    }

    void defaultLocation()
    {
        const QString expected =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            s("/tambrel/registry.db");
        QVERIFY(expected.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
        QCOMPARE(CRegister().databaseFile(), expected);
        QFile::remove(expected);
        QVERIFY(CRegister().REGSaveSetting(Root, s(Varnet), s("v"), s("1")));
        QVERIFY(QFile::remove(expected));
    }

private:
    CRegister store() const { return CRegister(m_file); }
    QString get(const char* path, const char* name) const
    {
        return store().REGGetSetting(Root, s(path), s(name), s("d"));
    }
    bool save(const char* path, const char* name, const char* value) const
    {
        return store().REGSaveSetting(Root, s(path), s(name), s(value));
    }
    bool del(const char* path, const char* name) const
    {
        return store().REGDeleteSetting(Root, s(path), s(name));
    }
    QStringList keys(const char* path) const { return store().GetAllKeys(Root, s(path)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
    QString m_folder;
};

QTEST_GUILESS_MAIN(TestCRegister)
#include "tst_cregister.moc"
