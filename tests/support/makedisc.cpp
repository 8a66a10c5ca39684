// makedisc: writes a CD image (.cue and .bin) from track descriptions on the command line, for
// the demo and for scripts that need a disc to rip.

#include "tests/support/discimage.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <limits>
#include <utility>

namespace
{

constexpr int ExitWriteFailed = 1;
constexpr int ExitUsage = 2;

const char usageText[] =
    "Usage: makedisc [--seed N] OUT.cue TRACK...\n"
    "Writes OUT.cue and, beside it, OUT.bin: a CD image of raw 2352-byte sectors holding the\n"
    "tracks in the order given.\n"
    "\n"
    "TRACK is [+]KIND:LENGTH[:CONTENT]\n"
    "  +        the track starts the disc's next session (an enhanced CD: +data:10)\n"
    "  KIND     audio or data\n"
    "  LENGTH   seconds (65, 4.5), minutes and seconds (4:05.120) or sectors (18375s)\n"
    "  CONTENT  tone (440 Hz, the default), tone=HZ, noise or silence; audio tracks only\n"
    "\n"
    "Options:\n"
    "  --seed N  seed for noise tracks (default 1); the same seed gives the same image\n"
    "  --help    show this help\n"
    "\n"
    "Example: makedisc demo.cue audio:0:45:tone=440 audio:30.5:tone=660 data:10 audio:5:silence\n";

int usageError(const QString& message)
{
    std::fprintf(stderr, "makedisc: %s\n\n%s", qPrintable(message), usageText);
    return ExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);

    discimage::DiscSpec disc;
    QStringList positional;
    bool optionsDone = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (optionsDone || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positional << arg;
        } else if (arg == QLatin1String("--")) {
            optionsDone = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(usageText, stdout);
            return 0;
        } else if (arg == QLatin1String("--seed") || arg.startsWith(QLatin1String("--seed="))) {
            QString value;
            if (arg.contains(QLatin1Char('='))) {
                value = arg.section(QLatin1Char('='), 1);
            } else if (!args.isEmpty()) {
                value = args.takeFirst();
            } else {
                return usageError(QStringLiteral("--seed needs a number"));
            }
            bool ok = false;
            disc.seed = value.toUInt(&ok);
            if (!ok)
                return usageError(QStringLiteral("bad seed '%1': expected a number from 0 to %2")
                                      .arg(value)
                                      .arg(std::numeric_limits<quint32>::max()));
        } else {
            return usageError(QStringLiteral("unknown option '%1'").arg(arg));
        }
    }

    if (positional.isEmpty())
        return usageError(QStringLiteral("no output file given"));
    if (positional.size() < 2)
        return usageError(QStringLiteral("no tracks given"));
    const QString cuePath = positional.takeFirst();
    for (const QString& text : std::as_const(positional)) {
        const std::optional<discimage::TrackSpec> track = discimage::parseTrack(text);
        if (!track)
            return usageError(QStringLiteral("bad track '%1'").arg(text));
        disc.tracks << *track;
    }

    if (const std::optional<QString> error = discimage::writeImage(cuePath, disc)) {
        std::fprintf(stderr, "makedisc: %s\n", qPrintable(*error));
        return ExitWriteFailed;
    }

    qint64 sectors = 0;
    for (const discimage::TrackSpec& track : std::as_const(disc.tracks))
        sectors += track.sectors;
    const double seconds = double(sectors) / discimage::SectorsPerSecond;
    std::printf("%s: %lld tracks, %lld:%05.2f (%lld sectors)\n", qPrintable(cuePath),
                static_cast<long long>(disc.tracks.size()), static_cast<long long>(seconds / 60),
                seconds - 60 * static_cast<long long>(seconds / 60),
                static_cast<long long>(sectors));
    return 0;
}
