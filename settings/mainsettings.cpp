#include "settings/mainsettings.h"

#include <QDir>
#include <QFileInfo>
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

} // namespace

MainSettings MainSettings::load(const CRegister& store)
{
    MainSettings settings;
    (void)store.canKeepChanges();
    const auto read = [&](const QString& name, const QString& fallback = QString()) {
        bool unread = false;
        const QString text =
            store.REGGetSetting(RegRoot::LocalMachine, SettingsPath, name, fallback, &unread);
        if (unread)
            settings.m_unread.insert(name, text);
        return text;
    };
    settings.OutputFolder = read(OutputFolderName, defaultOutputFolder());
    settings.LastOutputFormat = read(LastOutputFormatName, DefaultOutputFormat);
    settings.AlbumSetting = read(AlbumName);
    settings.ArtistSetting = read(ArtistName);
    settings.YearSetting = read(YearName);
    settings.GenreSetting = read(GenreName);
    // A text that is not a number (hand-edited, say) reads as the default.
    settings.PreserveTags = parseFlag(read(PreserveTagsName, DefaultPreserveTags))
                                .value_or(*parseFlag(DefaultPreserveTags));
    if (settings.m_unread.contains(PreserveTagsName))
        settings.m_unread[PreserveTagsName] = settings.PreserveTags ? TrueText : FalseText;
    return settings;
}

bool MainSettings::save(const CRegister& store) const
{
    // A value that cannot be saved keeps its old value or default; the store reports why.
    bool saved = true;
    const auto write = [&](const QString& name, const QString& value) {
        const auto unread = m_unread.constFind(name);
        if (unread == m_unread.cend() || *unread != value)
            saved = store.REGSaveSetting(RegRoot::LocalMachine, SettingsPath, name, value) && saved;
    };
    write(OutputFolderName, OutputFolder);
    write(LastOutputFormatName, LastOutputFormat);
    write(ArtistName, ArtistSetting);
    write(AlbumName, AlbumSetting);
    write(YearName, YearSetting);
    write(GenreName, GenreSetting);
    write(PreserveTagsName, PreserveTags ? TrueText : FalseText);
    return saved;
}

QString MainSettings::defaultOutputFolder()
{
    // The desktop names a music folder even where it was never made (no ~/Music on a server).
    QString base = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::homePath();
    return base + QStringLiteral("/Converted Music");
}
