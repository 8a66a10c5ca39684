#pragma once

#include "settings/cregister.h"

#include <QString>

// The main window's persisted values. Each value name and its default is written once, here.
struct MainSettings
{
    QString OutputFolder;
    QString LastOutputFormat;
    QString AlbumSetting;
    QString ArtistSetting;
    QString GenreSetting;
    QString YearSetting;
    bool PreserveTags = true;

    static MainSettings load(const CRegister& store);
    void save(const CRegister& store) const;

    // <XDG music folder>/Converted Music, or the home folder's when there is no music folder.
    static QString defaultOutputFolder();
};

// The section below the root every setting of the application lives in.
inline const QString SettingsPath = QStringLiteral("\\Software\\Quenlow\\Varnet");
