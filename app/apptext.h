#pragma once

#include <QString>

// Texts the windows share.
namespace apptext
{

// The title of every message box that names none of its own.
inline QString title()
{
    return QStringLiteral("Tambrel");
}

// What the user is told when the drives or the disc can't be read.
inline QString readFailure(const QString& description)
{
    return QStringLiteral("Error during reading the disc! ") + description;
}

} // namespace apptext
