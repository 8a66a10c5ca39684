#pragma once

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtDebug>

// Reading encoded files back with the real decoders (ffprobe and ffmpeg).
namespace decoders
{

// The standard output of a decoding tool run with these arguments, FILE standing for path.
inline QByteArray run(const QString& program, const QString& arguments, const QString& path)
{
    QProcess process;
    process.start(program, arguments.split(u' ').replaceInStrings(u"FILE", path));
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qWarning() << program << process.readAllStandardError();
    return process.readAllStandardOutput();
}

// codec_name, sample_rate, channels and duration as ffprobe reads them.
inline QMap<QString, QString> probe(const QString& path)
{
    const QByteArray text = run(QStringLiteral("ffprobe"),
                                QStringLiteral("-v error -show_entries stream=codec_name,"
                                               "sample_rate,channels:format=duration -of "
                                               "default=nw=1 FILE"),
                                path);
    QMap<QString, QString> values;
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts))
        values.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    return values;
}

} // namespace decoders
