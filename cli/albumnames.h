#pragma once

#include "components/albuminfo.h"
#include "components/result.h"
#include "components/tracktags.h"

#include <QString>

// Album data turned into file names and tags for tambrel-cli.
namespace albumnames
{

// A file's path below the output folder from a template: %A the album's artist, %a the album,
// %n the track's number (two digits), %t its title, %p its artist (the album's when it has none),
// %y the date, %g the genre, %% a percent sign. A "/" in the template makes sub-folders. Each
// part has the characters a file name can't safely hold replaced as the window replaces them,
// and is cut to 200 bytes; a part that would be empty, "." or ".." is "_", so the path never
// leaves the output folder. Returns the path without the extension.
QString fromTemplate(const QString& pattern, const AlbumInfo& album, int trackIndex,
                     int trackNumber);

// One line naming a release, for choosing among several: "Artist - Title (date) MBID".
QString releaseLine(const AlbumInfo& release);

} // namespace albumnames
