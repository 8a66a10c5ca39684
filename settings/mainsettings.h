#pragma once

#include "settings/cregister.h"

#include <QHash>
#include <QString>

// The main window's persisted values. Each value name and its default is written once, here.
struct MainSettings {
    QString OutputFolder;
    QString LastOutputFormat;
    QString AlbumSetting;
    QString ArtistSetting;
    QString GenreSetting;
    QString YearSetting;
    bool PreserveTags = true;

    // Reads every value; where the store can't keep changes, that is reported at once
    // (CRegister::takeProblemReport), before the user makes any.
    static MainSettings load(const CRegister& store);
    // Writes every value, but for one that could not be read and still holds the default it got
    // instead: the stored value stays as it is. False when a value could not be written.
    bool save(const CRegister& store) const;

    // <XDG music folder>/Converted Music, or the home folder's when there is no music folder. It
    // is made at the first Convert into it.
    static QString defaultOutputFolder();

private:
    // The values that could not be read, by value name, with the text they were given instead.
    QHash<QString, QString> m_unread;
};

// The section below the root every setting of the application lives in.
inline const QString SettingsPath = QStringLiteral("\\Software\\Quenlow\\Varnet");
