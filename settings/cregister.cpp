#include "settings/cregister.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace
{

// Long enough for another program's ordinary transaction on the same file to finish, short
// enough that a window waiting on it still comes up at once. Once a wait has run out, the store
// is taken to be held by another program for the rest of the run, and nothing waits again.
constexpr int BusyTimeoutMs = 500;
std::atomic<bool> heldElsewhere{false};

// Key rows form a tree per root. Each root has one row of its own (parent 0, empty name) so that
// the root key can hold values like any other key; ids start at 1, so parent 0 is never a key.
// Rows are listed in id order, which is creation order: SQLite only hands out ids above the
// largest one in use.
constexpr const char* SchemaSql = "CREATE TABLE IF NOT EXISTS keys("
                                  " id INTEGER PRIMARY KEY,"
                                  " root INTEGER NOT NULL,"
                                  " parent INTEGER NOT NULL,"
                                  " name TEXT NOT NULL COLLATE NOCASE,"
                                  " UNIQUE(root, parent, name));"
                                  "CREATE TABLE IF NOT EXISTS vals("
                                  " key_id INTEGER NOT NULL,"
                                  " name TEXT NOT NULL COLLATE NOCASE,"
                                  " data TEXT NOT NULL,"
                                  " PRIMARY KEY(key_id, name)) WITHOUT ROWID;";

// Thrown by the helpers below with SQLite's result code, caught once per operation.
struct SqlError {
    int code;
};

struct DatabaseCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

bool isDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool isLock(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

void exec(sqlite3* db, const char* sql)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw SqlError{rc};
}

// One prepared statement; parameters are bound in order.
class Query
{
public:
    Query(sqlite3* db, const char* sql) : m_db(db)
    {
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
        m_stmt.reset(raw);
        if (rc != SQLITE_OK)
            throw SqlError{rc};
    }

    Query& bind(qint64 value)
    {
        check(sqlite3_bind_int64(m_stmt.get(), ++m_bound, value));
        return *this;
    }

    Query& bind(const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        // A null pointer would bind SQL NULL; an empty text must stay a text.
        const char* data = utf8.constData() ? utf8.constData() : "";
        check(sqlite3_bind_text(m_stmt.get(), ++m_bound, data, int(utf8.size()), SQLITE_TRANSIENT));
        return *this;
    }

    // Steps once: true when a row is ready, false when the statement is done.
    bool next()
    {
        const int rc = sqlite3_step(m_stmt.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw SqlError{rc};
    }

    void run()
    {
        while (next()) {
        }
    }

    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt.get(), column); }

    QString text(int column) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), column));
        return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt.get(), column));
    }

    // Rows inserted, updated or deleted by the last run.
    int changes() const { return sqlite3_changes(m_db); }

private:
    static void check(int rc)
    {
        if (rc != SQLITE_OK)
            throw SqlError{rc};
    }

    sqlite3* m_db;
    Statement m_stmt;
    int m_bound = 0;
};

// Rolls back unless committed, so that an error anywhere leaves the file as it was.
class Transaction
{
public:
    Transaction(sqlite3* db, bool write) : m_db(db)
    {
        exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~Transaction()
    {
        if (!m_committed)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit()
    {
        exec(m_db, "COMMIT");
        m_committed = true;
    }

private:
    sqlite3* m_db;
    bool m_committed = false;
};

// The parts of a key path; nothing when a part is empty. The empty path is the root key itself.
std::optional<QStringList> keyParts(const QString& path)
{
    if (path.isEmpty())
        return QStringList();
    QStringList parts = path.split(QLatin1Char('\\'));
    for (const QString& part : std::as_const(parts)) {
        if (part.isEmpty())
            return std::nullopt;
    }
    return parts;
}

// The value name "*" (and, as in a registry, the empty name) means the key's default value.
QString valueName(const QString& key)
{
    return key == QStringLiteral("*") ? QString() : key;
}

std::optional<qint64> childKey(sqlite3* db, int root, qint64 parent, const QString& name)
{
    Query query(db, "SELECT id FROM keys WHERE root = ? AND parent = ? AND name = ?");
    query.bind(root).bind(parent).bind(name);
    if (query.next())
        return query.int64(0);
    return std::nullopt;
}

std::optional<qint64> findKey(sqlite3* db, int root, const QStringList& parts)
{
    std::optional<qint64> id = childKey(db, root, 0, QString());
    for (const QString& part : parts) {
        if (!id)
            break;
        id = childKey(db, root, *id, part);
    }
    return id;
}

qint64 ensureChild(sqlite3* db, int root, qint64 parent, const QString& name)
{
    if (const auto id = childKey(db, root, parent, name))
        return *id;
    Query(db, "INSERT INTO keys(root, parent, name) VALUES(?, ?, ?)")
        .bind(root)
        .bind(parent)
        .bind(name)
        .run();
    return sqlite3_last_insert_rowid(db);
}

qint64 ensureKey(sqlite3* db, int root, const QStringList& parts)
{
    qint64 id = ensureChild(db, root, 0, QString());
    for (const QString& part : parts)
        id = ensureChild(db, root, id, part);
    return id;
}

// Whether the user may write path. The system must allow it (which also rules out read-only
// mounts), and at least one write permission bit must be set: root may write anything as far as
// the system is concerned, yet a file or folder without any write bit is left alone by root too.
bool permitsWrite(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(native.constData(), &info) != 0)
        return false;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return ::access(native.constData(), W_OK) == 0;
}

struct ProblemReport {
    std::mutex mutex;
    bool raised = false;
    std::optional<QString> pending;
};

ProblemReport& problemReport()
{
    static ProblemReport report;
    return report;
}

// Only the first problem of a run is reported: the user needs to hear about it once.
void raiseProblem(const QString& message)
{
    ProblemReport& report = problemReport();
    const std::lock_guard lock(report.mutex);
    if (report.raised)
        return;
    report.raised = true;
    report.pending = message;
}

// Renames a damaged database file out of the way, keeping its bytes for the user. Its journal,
// if any, goes along with it so that it is never played back into the new, empty file.
bool setAside(const QString& file)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = file + QStringLiteral(".damaged-") + stamp;
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = file + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);

    const bool moved = permitsWrite(QFileInfo(file).absolutePath()) && QFile::rename(file, target);
    if (!moved) {
        raiseProblem(QCoreApplication::translate(
                         "CRegister", "The settings file %1 is damaged and could not be set aside. "
                                      "Tambrel goes on with default settings and cannot save "
                                      "any changes.")
                         .arg(file));
        return false;
    }
    const QString journal = file + QStringLiteral("-journal");
    if (QFileInfo::exists(journal))
        QFile::rename(journal, target + QStringLiteral("-journal"));
    raiseProblem(QCoreApplication::translate("CRegister",
                                             "The settings file %1 was damaged. It has been kept "
                                             "as %2, and Tambrel goes on with default settings.")
                     .arg(file, target));
    return true;
}

enum class Access { Read, Write };

// Opens the database file: nothing when reading a file that does not exist (reads never create
// it), or when it cannot be created. A file the user may not write, or one in a folder the user
// may not write, is opened read-only: reads work, writes fail.
Database openStore(const QString& file, Access access)
{
    const QFileInfo info(file);
    const QString folder = info.absolutePath();
    int flags = SQLITE_OPEN_READWRITE;
    if (!info.exists()) {
        if (access == Access::Read)
            return nullptr;
        if (!QDir().mkpath(folder) || !permitsWrite(folder))
            return nullptr;
        flags |= SQLITE_OPEN_CREATE;
    } else if (!permitsWrite(file) || !permitsWrite(folder)) {
        flags = SQLITE_OPEN_READONLY;
    }

    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &raw, flags, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK)
        throw SqlError{rc};
    sqlite3_busy_timeout(db.get(), heldElsewhere.load() ? 0 : BusyTimeoutMs);
    return db;
}

QString changesNotKept(const QString& file, const QString& why)
{
    return QCoreApplication::translate("CRegister",
                                       "The settings file %1 %2. Tambrel goes on with the "
                                       "settings it could read, and changes made now will not "
                                       "be kept.")
        .arg(file, why);
}

// Says once why the store can't be used as it should be.
void raiseUnusable(const QString& file, int code)
{
    if (isLock(code)) {
        heldElsewhere = true;
        raiseProblem(changesNotKept(
            file, QCoreApplication::translate("CRegister", "is in use by another program")));
        return;
    }
    raiseProblem(changesNotKept(file, QCoreApplication::translate("CRegister", "can't be used (%1)")
                                          .arg(QString::fromUtf8(sqlite3_errstr(code)))));
}

// Runs one operation on the database file and gives its result; missing when the file is missing
// and only read; none when anything fails, which is said once. A damaged file is set aside, and
// the operation runs once more as on a missing file.
template <typename T, typename Operation>
std::optional<T> tryStore(const QString& file, Access access, const T& missing, Operation operation)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            const Database db = openStore(file, access);
            if (!db && access == Access::Read)
                return missing;
            if (!db) {
                raiseProblem(changesNotKept(
                    file, QCoreApplication::translate("CRegister", "can't be created")));
                return std::nullopt;
            }
            return operation(db.get());
        } catch (const SqlError& error) {
            if (isDamage(error.code) && attempt == 0 && setAside(file))
                continue;
            if (!isDamage(error.code))
                raiseUnusable(file, error.code);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

template <typename T, typename Operation>
T withStore(const QString& file, Access access, const T& fallback, Operation operation)
{
    return tryStore(file, access, fallback, operation).value_or(fallback);
}

} // namespace

CRegister::CRegister() : m_databaseFile(databasePath()) {}

CRegister::CRegister(QString databaseFile) : m_databaseFile(std::move(databaseFile)) {}

QString CRegister::databasePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tambrel/registry.db");
}

std::optional<QString> CRegister::takeProblemReport()
{
    ProblemReport& report = problemReport();
    const std::lock_guard lock(report.mutex);
    return std::exchange(report.pending, std::nullopt);
}

bool CRegister::canKeepChanges() const
{
    const QFileInfo info(m_databaseFile);
    const auto cannot = [this](const QString& why) {
        raiseProblem(changesNotKept(m_databaseFile, why));
        return false;
    };
    if (info.exists() && !info.isFile())
        return cannot(QCoreApplication::translate("CRegister", "is no file"));
    if (info.exists())
        return permitsWrite(m_databaseFile) && permitsWrite(info.absolutePath())
                   ? true
                   : cannot(QCoreApplication::translate("CRegister", "is read-only"));
    // Not made yet: the nearest folder that exists must let it be made.
    QFileInfo folder(info.absolutePath());
    while (!folder.exists() && !folder.isRoot())
        folder = QFileInfo(folder.absolutePath());
    if (!folder.isDir() || !permitsWrite(folder.absoluteFilePath()))
        return cannot(QCoreApplication::translate("CRegister", "can't be created"));
    return true;
}

QString CRegister::TrimKeyPath(const QString& path)
{
    QString trimmed = path;
    if (trimmed.startsWith(QLatin1Char('\\')))
        trimmed.remove(0, 1);
    if (trimmed.endsWith(QLatin1Char('\\')))
        trimmed.chop(1);
    return trimmed;
}

QString CRegister::REGGetSetting(RegRoot regHKEY, const QString& sSection, const QString& sKey,
                                 const QString& sDefault, bool* unread) const
{
    if (unread)
        *unread = false;
    const auto parts = keyParts(TrimKeyPath(sSection));
    if (!parts)
        return sDefault;
    const int root = int(regHKEY);
    const QString name = valueName(sKey);
    const auto value = tryStore(m_databaseFile, Access::Read, sDefault, [&](sqlite3* db) {
        const Transaction transaction(db, false);
        const auto key = findKey(db, root, *parts);
        if (!key)
            return sDefault;
        Query query(db, "SELECT data FROM vals WHERE key_id = ? AND name = ?");
        query.bind(*key).bind(name);
        if (!query.next())
            return sDefault;
        const QString data = query.text(0);
        return data.isEmpty() ? sDefault : data;
    });
    if (unread)
        *unread = !value;
    return value.value_or(sDefault);
}

bool CRegister::REGSaveSetting(RegRoot regHKEY, const QString& sSection, const QString& sKey,
                               const QString& sValue) const
{
    const auto parts = keyParts(TrimKeyPath(sSection));
    if (!parts)
        return false;
    const int root = int(regHKEY);
    const QString name = valueName(sKey);
    return withStore(m_databaseFile, Access::Write, false, [&](sqlite3* db) {
        Transaction transaction(db, true);
        exec(db, SchemaSql);
        const qint64 key = ensureKey(db, root, *parts);
        Query(db, "INSERT INTO vals(key_id, name, data) VALUES(?, ?, ?)"
                  " ON CONFLICT(key_id, name) DO UPDATE SET data = excluded.data")
            .bind(key)
            .bind(name)
            .bind(sValue)
            .run();
        transaction.commit();
        return true;
    });
}

bool CRegister::REGDeleteSetting(RegRoot regHKEY, const QString& sSection,
                                 const QString& sKey) const
{
    const auto parts = keyParts(TrimKeyPath(sSection));
    if (!parts)
        return false;
    const int root = int(regHKEY);
    return withStore(m_databaseFile, Access::Write, false, [&](sqlite3* db) {
        Transaction transaction(db, true);
        const auto key = findKey(db, root, *parts);
        if (!key)
            return false;
        if (!sKey.isEmpty()) {
            Query remove(db, "DELETE FROM vals WHERE key_id = ? AND name = ?");
            remove.bind(*key).bind(valueName(sKey)).run();
            if (remove.changes() == 0)
                return false;
            transaction.commit();
            return true;
        }

        // A root key is never deleted, nor a key that still has sub-keys.
        if (parts->isEmpty())
            return false;
        Query children(db, "SELECT 1 FROM keys WHERE root = ? AND parent = ? LIMIT 1");
        children.bind(root).bind(*key);
        if (children.next())
            return false;
        Query(db, "DELETE FROM vals WHERE key_id = ?").bind(*key).run();
        Query(db, "DELETE FROM keys WHERE id = ?").bind(*key).run();
        transaction.commit();
        return true;
    });
}

QStringList CRegister::GetAllKeys(RegRoot HKEY, const QString& strPath) const
{
    const auto parts = keyParts(strPath);
    if (!parts)
        return {};
    const int root = int(HKEY);
    return withStore(m_databaseFile, Access::Read, QStringList(), [&](sqlite3* db) {
        const Transaction transaction(db, false);
        const auto key = findKey(db, root, *parts);
        if (!key)
            return QStringList();
        QStringList names;
        Query query(db, "SELECT name FROM keys WHERE root = ? AND parent = ? ORDER BY id");
        query.bind(root).bind(*key);
        while (query.next())
            names << query.text(0);
        return names;
    });
}
