#include "grab/trackoutput.h"

namespace trackoutput
{

QString sanitizedName(const QString& trackName)
{
    QString name = trackName;
    for (const QChar c : {u'"', u'<', u'>', u'|', u'/', u'\\', u'*', u'?'})
        name.replace(c, u'-');
    return name;
}

QString extension(int formatCode)
{
    switch (formatCode) {
    case FormatWav:
        return QStringLiteral(".wav");
    case FormatMp3:
        return QStringLiteral(".mp3");
    case FormatWma:
        return QStringLiteral(".wma");
    case FormatOgg:
        return QStringLiteral(".ogg");
    case FormatFlac:
        return QStringLiteral(".flac");
    default:
        return {};
    }
}

std::optional<quint8> formatCode(const QString& listText)
{
    if (listText == u"WAV")
        return FormatWav;
    if (listText == u"MP3")
        return FormatMp3;
    if (listText == u"WMA")
        return FormatWma;
    if (listText == u"OGG")
        return FormatOgg;
    return std::nullopt;
}

QString outputPath(const QString& folder, const QString& trackName, int formatCode)
{
    return folder + u'/' + sanitizedName(trackName) + extension(formatCode);
}

double overallPercent(int tracksStarted, int tracksToGrab, double trackPercent)
{
    if (tracksToGrab <= 0)
        return 0.0;
    return ((tracksStarted - 1) * 100 + trackPercent) / tracksToGrab;
}

QString completedText(double overallPercent)
{
    return QStringLiteral("Completed: ") + QString::number(overallPercent, 'f', 2) + u'%';
}

QString percentColumnText(double trackPercent)
{
    QString text = QString::number(trackPercent, 'f', 2);
    // The pattern has no digit before the point, so a lone leading zero goes.
    if (text.startsWith(u"0."))
        text.remove(0, 1);
    else if (text.startsWith(u"-0."))
        text.remove(1, 1);
    return text + u'%';
}

} // namespace trackoutput
