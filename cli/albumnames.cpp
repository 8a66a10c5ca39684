#include "cli/albumnames.h"

#include "cli/printable.h"

#include "grab/trackoutput.h"

#include <QStringList>

namespace albumnames
{
namespace
{

constexpr qsizetype MaxPartBytes = 200;

TrackInfo trackOf(const AlbumInfo& album, int trackIndex)
{
    return trackIndex >= 0 && trackIndex < album.tracks.size() ? album.tracks[trackIndex]
                                                               : TrackInfo{};
}

// One part of a path: safe characters, no way out of the folder, not too long for the file
// system (whole characters are kept).
QString safePart(QString part)
{
    part = printable::replaced(trackoutput::sanitizedName(part), u'-').trimmed();
    while (part.toUtf8().size() > MaxPartBytes)
        part.chop(part.back().isLowSurrogate() ? 2 : 1);
    if (part.isEmpty() || part == u"." || part == u"..")
        return QStringLiteral("_");
    return part;
}

} // namespace

QString fromTemplate(const QString& pattern, const AlbumInfo& album, int trackIndex,
                     int trackNumber)
{
    const TrackInfo track = trackOf(album, trackIndex);
    QStringList parts;
    for (const QString& piece : pattern.split(u'/', Qt::SkipEmptyParts)) {
        QString part;
        for (qsizetype i = 0; i < piece.size(); ++i) {
            if (piece[i] != u'%' || i + 1 == piece.size()) {
                part += piece[i];
                continue;
            }
            switch (piece[++i].unicode()) {
            case 'A':
                part += album.artist;
                break;
            case 'a':
                part += album.title;
                break;
            case 'n':
                part += QStringLiteral("%1").arg(trackNumber, 2, 10, QLatin1Char('0'));
                break;
            case 't':
                part += track.title.isEmpty() ? QStringLiteral("Track %1").arg(trackNumber)
                                              : track.title;
                break;
            case 'p':
                part += track.artist.isEmpty() ? album.artist : track.artist;
                break;
            case 'y':
                part += album.date;
                break;
            case 'g':
                part += album.genre;
                break;
            case '%':
                part += u'%';
                break;
            default:
                part += u'%';
                part += piece[i];
                break;
            }
        }
        parts << safePart(part);
    }
    return parts.isEmpty() ? QStringLiteral("_") : parts.join(u'/');
}

QString releaseLine(const AlbumInfo& release)
{
    QString line = release.artist + QStringLiteral(" - ") + release.title;
    if (!release.date.isEmpty())
        line += QStringLiteral(" (") + release.date + u')';
    return line + u' ' + release.musicBrainzReleaseId;
}

} // namespace albumnames
