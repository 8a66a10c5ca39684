#pragma once

#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QtDebug>

// Reading encoded files back with the real decoders (ffprobe and ffmpeg).

// Skips the rest of the current test case (or data row) when the decoding tool it needs is not
// installed, so the cases that need none still run and a missing tool shows as a skip.
#define SKIP_WITHOUT_TOOL(program)                                                                 \
    do {                                                                                           \
        if (QStandardPaths::findExecutable(QStringLiteral(program)).isEmpty())                     \
            QSKIP(program " is not installed (scripts/install-deps.sh installs it).");             \
    } while (false)

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

// codec_name, sample_rate, channels, the stream's bit_rate and duration as ffprobe reads them.
inline QMap<QString, QString> probe(const QString& path)
{
    const QByteArray text = run(QStringLiteral("ffprobe"),
                                QStringLiteral("-v error -show_entries stream=codec_name,"
                                               "sample_rate,channels,bit_rate:format=duration -of "
                                               "default=nw=1 FILE"),
                                path);
    QMap<QString, QString> values;
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts))
        values.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    return values;
}

// What is wrong with path as a 44.1 kHz stereo file of this codec and length (within 0.1 s);
// empty when nothing is. Needs ffprobe: SKIP_WITHOUT_TOOL("ffprobe") first.
inline QString encodedFileProblem(const QString& path, const QString& codec, double seconds)
{
    const QMap<QString, QString> info = probe(path);
    if (info.value(QStringLiteral("codec_name")) != codec ||
        info.value(QStringLiteral("sample_rate")) != u"44100" ||
        info.value(QStringLiteral("channels")) != u"2" ||
        qAbs(info.value(QStringLiteral("duration")).toDouble() - seconds) >= 0.1) {
        QString text = path + QStringLiteral(" reads as:");
        for (auto it = info.begin(); it != info.end(); ++it)
            text += u' ' + it.key() + u'=' + it.value();
        return text;
    }
    return {};
}

// Rows of the formats encoded by a library: the file extension ("format") and the codec ffprobe
// must find ("codec").
inline void addEncodedFormatRows()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("codec");
    QTest::newRow("mp3") << QStringLiteral("mp3") << QStringLiteral("mp3");
    QTest::newRow("ogg") << QStringLiteral("ogg") << QStringLiteral("vorbis");
    QTest::newRow("wma") << QStringLiteral("wma") << QStringLiteral("wmav2");
}

} // namespace decoders
