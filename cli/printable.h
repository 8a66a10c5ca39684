#pragma once

#include <QString>

// Text from outside (album data from a sheet, CD-Text or MusicBrainz, paths) on its way to a
// terminal, a log or a file name: control characters (C0, DEL, C1) would move the cursor,
// recolour the terminal, forge a log's lines or make names no one can type.
namespace printable
{

inline bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

// Each control character as \xNN (a tab or a line end too: a value stays on its line).
inline QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// Each control character replaced, for a name.
inline QString replaced(QString text, QChar by)
{
    for (QChar& c : text) {
        if (isControl(c))
            c = by;
    }
    return text;
}

} // namespace printable
