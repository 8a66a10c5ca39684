#pragma once

#include <QFileInfo>
#include <QString>

// Qt holds file names as Unicode text, decoded from the system's bytes as UTF-8. A name that is
// not valid UTF-8 loses its bad bytes on the way in (each becomes U+FFFD) and no longer leads to
// its file; such a name is told apart from a file that is simply missing.
inline bool nameNotUtf8(const QString& path)
{
    return path.contains(QChar::ReplacementCharacter) && !QFileInfo::exists(path);
}
