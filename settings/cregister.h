#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The root keys of the settings store. Every caller of the application passes LocalMachine; the
// others exist so that a key path is always read below a named root, as in a registry.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// A small hierarchical store of named text values, kept in one SQLite database file per user.
// Key paths use "\" between their parts; key path parts and value names are matched without
// regard to ASCII case; the value name "*" stands for the key's default (unnamed) value; a value
// holding no characters reads as absent. The class holds no state of its own: every operation
// opens the database, does its work in one transaction and closes it again. A store found held
// by another program is not waited for again in the same run.
class CRegister
{
public:
    // Uses the database file at databasePath(), or the given file (tests).
    CRegister();
    explicit CRegister(QString databaseFile);

    // The stored value, or sDefault where there is none. unread, when given, tells whether the
    // store could not be read at all (held by another program, unusable): sDefault then stands
    // in for a value that may well exist, and must not be saved over it.
    QString REGGetSetting(RegRoot regHKEY, const QString& sSection, const QString& sKey,
                          const QString& sDefault, bool* unread = nullptr) const;
    bool REGSaveSetting(RegRoot regHKEY, const QString& sSection, const QString& sKey,
                        const QString& sValue) const;
    bool REGDeleteSetting(RegRoot regHKEY, const QString& sSection, const QString& sKey) const;
    QStringList GetAllKeys(RegRoot HKEY, const QString& strPath) const;

    // $XDG_CONFIG_HOME/tambrel/registry.db (~/.config/tambrel/registry.db by default).
    static QString databasePath();

    // Whether changes can be kept: the file (or, before it exists, its folder) may be written.
    // Where not, the problem is reported.
    bool canKeepChanges() const;

    // A damaged database file is set aside and the store goes on empty; a store held by another
    // program past a short wait, read-only or unusable goes on with what could be read, and
    // keeps no changes. The first time such a problem comes up in a run, this returns a message
    // for the user; later calls return nothing.
    static std::optional<QString> takeProblemReport();

    const QString& databaseFile() const { return m_databaseFile; }

private:
    static QString TrimKeyPath(const QString& path);

    QString m_databaseFile;
};
