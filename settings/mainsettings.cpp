#include "settings/mainsettings.h"

#include <QDir>
#include <QStandardPaths>

namespace
{

// The value names below SettingsPath, as they are written. The store matches value names without
// regard to case, so reads find them under any casing.
const QString OutputFolderName = QStringLiteral("Output Folder2");
const QString LastOutputFormatName = QStringLiteral("Last Output Format2");
const QString AlbumName = QStringLiteral("album setting");
const QString ArtistName = QStringLiteral("artist setting");
const QString YearName = QStringLiteral("year setting");
const QString GenreName = QStringLiteral("Gendre setting");
const QString PreserveTagsName = QStringLiteral("Preserve tags");

// The defaults of the values without one of their own (those read as the empty text).
const QString DefaultOutputFormat = QStringLiteral("WAV");
const QString DefaultPreserveTags = QStringLiteral("1");

// Stored flags are integers, any non-zero value meaning true; "-1" is what gets written.
const QString TrueText = QStringLiteral("-1");
const QString FalseText = QStringLiteral("0");

std::optional<bool> parseFlag(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value != 0;
}

QString read(const CRegister& store, const QString& name, const QString& fallback = QString())
{
    return store.REGGetSetting(RegRoot::LocalMachine, SettingsPath, name, fallback);
}

void write(const CRegister& store, const QString& name, const QString& value)
{
    store.REGSaveSetting(RegRoot::LocalMachine, SettingsPath, name, value);
}

} // namespace

MainSettings MainSettings::load(const CRegister& store)
{
    MainSettings settings;
    settings.OutputFolder = read(store, OutputFolderName, defaultOutputFolder());
    settings.LastOutputFormat = read(store, LastOutputFormatName, DefaultOutputFormat);
    settings.AlbumSetting = read(store, AlbumName);
    settings.ArtistSetting = read(store, ArtistName);
    settings.YearSetting = read(store, YearName);
    settings.GenreSetting = read(store, GenreName);
    // A text that is not a number (hand-edited, say) reads as the default.
    settings.PreserveTags = parseFlag(read(store, PreserveTagsName, DefaultPreserveTags))
                                .value_or(*parseFlag(DefaultPreserveTags));
    return settings;
}

void MainSettings::save(const CRegister& store) const
{
    // A value that cannot be saved keeps its old value or default; nothing else to do about it.
    write(store, OutputFolderName, OutputFolder);
    write(store, LastOutputFormatName, LastOutputFormat);
    write(store, ArtistName, ArtistSetting);
    write(store, AlbumName, AlbumSetting);
    write(store, YearName, YearSetting);
    write(store, GenreName, GenreSetting);
    write(store, PreserveTagsName, PreserveTags ? TrueText : FalseText);
}

QString MainSettings::defaultOutputFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Converted Music");
}
