#pragma once

#include "components/result.h"
#include "components/tracktags.h"

#include <QString>

// Writes the track's tags into a finished encoded file with TagLib, chosen by the format's
// extension ("mp3", "ogg", "flac", "wma"; any other, and tags with no track number, are left
// alone). fd is the file, open read-write; it needs no name (an unnamed file has none yet), and
// no /proc to find it by. Its offset is moved. A failure is the reason the file can't be
// written, in the system's words where it gave some ("No space left on device").
Status writeTrackTags(int fd, const QString& extension, const TrackTags& tags);
