#pragma once

#include "components/result.h"
#include "components/tracktags.h"

#include <QString>

// Writes the track's tags into a finished encoded file with TagLib, chosen by the format's
// extension ("mp3", "ogg", "flac", "wma"; any other, and tags with no track number, are left
// alone). path may be /proc/self/fd/N for a file that has no name yet.
Status writeTrackTags(const QString& path, const QString& extension, const TrackTags& tags);
