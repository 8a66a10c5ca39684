#include "cli/clioptions.h"

#include "grab/trackoutput.h"

#include <QCommandLineParser>

#include <algorithm>
#include <optional>

namespace
{

const QCommandLineOption formatOption({QStringLiteral("f"), QStringLiteral("format")},
                                      QStringLiteral("wav, mp3, ogg, wma or flac."),
                                      QStringLiteral("format"));
const QCommandLineOption outputOption({QStringLiteral("o"), QStringLiteral("output")},
                                      QStringLiteral("The folder the files go to."),
                                      QStringLiteral("dir"));
const QCommandLineOption tracksOption(
    {QStringLiteral("t"), QStringLiteral("tracks")},
    QStringLiteral("The tracks to grab, as the disc numbers them: 1,3-5; 0 is audio hidden "
                   "before the first track. Default: every audio track."),
    QStringLiteral("list"));
const QCommandLineOption overwriteOption(QStringLiteral("overwrite"),
                                         QStringLiteral("Replace files that already exist."));
const QCommandLineOption skipOption(QStringLiteral("skip-existing"),
                                    QStringLiteral("Leave tracks whose file already exists."));
const QCommandLineOption jobsOption(
    {QStringLiteral("j"), QStringLiteral("jobs")},
    QStringLiteral("Tracks of a disc image grabbed at once (1 to 64), at most one for each "
                   "core. Default: one for each core."),
    QStringLiteral("n"));
const QCommandLineOption offsetOption(
    QStringLiteral("offset"),
    QStringLiteral("The drive's read offset in samples, e.g. +6 or -30; kept for the drive's "
                   "model. Default: the one kept, else 0."),
    QStringLiteral("n"));
const QCommandLineOption flacLevelOption(QStringLiteral("flac-level"),
                                         QStringLiteral("FLAC's compression level, 0 to 8. "
                                                        "Default: 5."),
                                         QStringLiteral("n"));
const QCommandLineOption logOption(
    QStringLiteral("log"),
    QStringLiteral("Write a rip log to FILE (--log=FILE); --log alone writes DIR/rip.log."),
    QStringLiteral("file"));
const QCommandLineOption metadataOption(
    QStringLiteral("metadata"),
    QStringLiteral("Where album data comes from: auto (the disc's own CD-Text or cue sheet, else "
                   "MusicBrainz), cdtext (the disc's own only), musicbrainz, or none."),
    QStringLiteral("source"));
const QCommandLineOption releaseOption(
    QStringLiteral("release"),
    QStringLiteral("Which of several MusicBrainz releases: its number in the list, or its MBID."),
    QStringLiteral("n|mbid"));
const QCommandLineOption nameOption(
    QStringLiteral("name"),
    QStringLiteral("File names from album data: %A album artist, %a album, %n track number, "
                   "%t title, %p track artist, %y date, %g genre; / makes folders."),
    QStringLiteral("template"));
const QCommandLineOption networkOption(
    QStringLiteral("network"),
    QStringLiteral("Whether MusicBrainz and AccurateRip may be asked. Kept for later runs. "
                   "Default: the one kept, else on."),
    QStringLiteral("on|off"));
const QCommandLineOption verifyOption(
    QStringLiteral("verify"),
    QStringLiteral("Test and copy: read each track twice and fail it when the reads differ."));
const QCommandLineOption bitrateOption(
    QStringLiteral("bitrate"),
    QStringLiteral("MP3: constant bitrate in kbit/s (32 to 320, as LAME takes them); Ogg "
                   "Vorbis: nominal bitrate in kbit/s. Over the stored settings, for this run."),
    QStringLiteral("kbit/s"));
const QCommandLineOption qualityOption(
    QStringLiteral("quality"),
    QStringLiteral("MP3: VBR quality, 0 (best) to 9; Ogg Vorbis: quality 0 to 10 (decimals "
                   "too, 3 is the default). Over the stored settings, for this run."),
    QStringLiteral("q"));
const QCommandLineOption wmaProfileOption(
    QStringLiteral("wma-profile"),
    QStringLiteral("WMA: the profile, 0 to 10, as the WMA settings dialog lists them."),
    QStringLiteral("n"));
const QCommandLineOption dryRunOption(
    QStringLiteral("dry-run"),
    QStringLiteral("Print each chosen track's number, name and file, and rip nothing."));
const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                     QStringLiteral("Show no progress; failures are still named."));
const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                    QStringLiteral("Show this help."));
const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                       QStringLiteral("Show the version."));

// The options that take a value.
QList<QCommandLineOption> valuedOptions()
{
    return {formatOption,    outputOption,  tracksOption,     jobsOption,    offsetOption,
            flacLevelOption, logOption,     metadataOption,   releaseOption, nameOption,
            bitrateOption,   qualityOption, wmaProfileOption, networkOption};
}

// The options only convert reads: list and info refuse them, rather than ignore them.
QList<QCommandLineOption> convertOnlyOptions()
{
    return {formatOption, outputOption,  tracksOption,    overwriteOption,  skipOption,
            jobsOption,   offsetOption,  flacLevelOption, logOption,        verifyOption,
            dryRunOption, bitrateOption, qualityOption,   wmaProfileOption, nameOption};
}

void addOptions(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption& option :
         {formatOption,     outputOption, tracksOption,    overwriteOption, skipOption,
          jobsOption,       offsetOption, flacLevelOption, logOption,       metadataOption,
          releaseOption,    nameOption,   networkOption,   bitrateOption,   qualityOption,
          wmaProfileOption, verifyOption, dryRunOption,    quietOption,     helpOption,
          versionOption})
        parser.addOption(option);
}

Failure usageError(const QString& text)
{
    return Failure{text + QStringLiteral("\nTry 'tambrel-cli --help'.")};
}

} // namespace

Failure networkOffError()
{
    return usageError(QStringLiteral("--metadata musicbrainz needs the network, which is off; "
                                     "--network on turns it on."));
}

Result<QList<int>> parseTrackList(const QString& text)
{
    auto number = [](QStringView part) {
        bool ok = false;
        const int value = part.toInt(&ok);
        return ok && value >= 0 && part.trimmed() == part && !part.startsWith(u'+') ? value : -1;
    };
    auto invalid = [&] {
        return Failure{QStringLiteral("The track list \"%1\" is not valid: give track numbers "
                                      "(0 for the audio hidden before the first track) and "
                                      "ranges like 3-5, separated by commas.")
                           .arg(text)};
    };

    QList<int> tracks;
    for (const QString& part : text.split(u',')) {
        const qsizetype dash = part.indexOf(u'-');
        const int first = number(dash < 0 ? QStringView(part) : QStringView(part).left(dash));
        const int last = dash < 0 ? first : number(QStringView(part).mid(dash + 1));
        if (first < 0 || last < first)
            return invalid();
        // A disc holds at most 99 tracks; a larger range is a typing error, not a wish.
        if (last > 99)
            return invalid();
        for (int track = first; track <= last; ++track)
            tracks << track;
    }
    std::sort(tracks.begin(), tracks.end());
    tracks.erase(std::unique(tracks.begin(), tracks.end()), tracks.end());
    return tracks;
}

// "--log" takes its file only as "--log=FILE", as GNU programs take an optional argument: a bare
// one (the log goes into the output folder) never takes the word after it, which may be the
// source. The parser knows only options that always take a value, so a bare one gets the empty
// value that stands for the default.
QStringList withLogValue(QStringList arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == u"--")
            break;
        if (arguments[i] == u"--log")
            arguments[i] = QStringLiteral("--log=");
    }
    return arguments;
}

// An integer option's value within [low, high].
std::optional<int> intValue(const QString& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high || text.trimmed() != text)
        return std::nullopt;
    return value;
}

Result<CliOptions> parseCliArguments(const QStringList& givenArguments)
{
    const QStringList arguments = withLogValue(givenArguments);
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    // An option that takes a value says one thing once: a second one is a typing error, not a
    // correction to take silently.
    for (const QCommandLineOption& option : valuedOptions()) {
        if (parser.values(option).size() > 1)
            return usageError(
                QStringLiteral("--%1 is given more than once.").arg(option.names().constLast()));
    }

    CliOptions options;
    if (parser.isSet(helpOption)) {
        options.command = CliOptions::Command::Help;
        return options;
    }
    if (parser.isSet(versionOption)) {
        options.command = CliOptions::Command::Version;
        return options;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usageError(QStringLiteral("Say what to do: list, info or convert."));
    const QString& command = positional.first();
    options.quiet = parser.isSet(quietOption);
    options.verify = parser.isSet(verifyOption);
    options.dryRun = parser.isSet(dryRunOption);

    const auto metadata = [&]() -> std::optional<CliOptions::Metadata> {
        const QString value = parser.value(metadataOption);
        if (!parser.isSet(metadataOption) || value == u"auto")
            return CliOptions::Metadata::Auto;
        if (value == u"cdtext")
            return CliOptions::Metadata::Offline;
        if (value == u"musicbrainz")
            return CliOptions::Metadata::MusicBrainz;
        if (value == u"none")
            return CliOptions::Metadata::None;
        return std::nullopt;
    }();
    if (!metadata)
        return usageError(QStringLiteral("--metadata takes auto, cdtext, musicbrainz or none, "
                                         "not \"%1\".")
                              .arg(parser.value(metadataOption)));
    options.metadata = *metadata;
    options.release = parser.value(releaseOption);
    options.nameTemplate = parser.value(nameOption);
    if (parser.isSet(networkOption)) {
        const QString value = parser.value(networkOption);
        if (value != u"on" && value != u"off")
            return usageError(QStringLiteral("--network takes on or off, not \"%1\".").arg(value));
        options.network = value == u"on";
    }

    if (command == u"info") {
        if (positional.size() != 2)
            return usageError(QStringLiteral("info takes exactly one source: a drive or a disc "
                                             "image."));
        for (const QCommandLineOption& option : convertOnlyOptions()) {
            if (parser.isSet(option))
                return usageError(QStringLiteral("--%1 belongs to convert, not to info.")
                                      .arg(option.names().constLast()));
        }
        if (options.network == false && options.metadata == CliOptions::Metadata::MusicBrainz)
            return networkOffError();
        options.command = CliOptions::Command::Info;
        options.source = positional[1];
        return options;
    }

    if (command == u"list") {
        if (positional.size() > 2)
            return usageError(QStringLiteral("list takes at most one source."));
        for (const QCommandLineOption& option : convertOnlyOptions()) {
            if (parser.isSet(option))
                return usageError(QStringLiteral("--%1 belongs to convert, not to list.")
                                      .arg(option.names().constLast()));
        }
        // A list is read from the disc alone, never on line, and takes no album data.
        for (const QCommandLineOption& option : {networkOption, metadataOption, releaseOption}) {
            if (parser.isSet(option))
                return usageError(QStringLiteral("--%1 belongs to convert and info, not to list.")
                                      .arg(option.names().constLast()));
        }
        options.command = CliOptions::Command::List;
        options.source = positional.value(1);
        return options;
    }

    if (command != u"convert")
        return usageError(
            QStringLiteral("Unknown command \"%1\": use list, info or convert.").arg(command));
    options.command = CliOptions::Command::Convert;
    if (positional.size() != 2)
        return usageError(QStringLiteral("convert takes exactly one source: a drive or a disc "
                                         "image."));
    options.source = positional[1];
    if (options.network == false && options.metadata == CliOptions::Metadata::MusicBrainz)
        return networkOffError();

    if (!parser.isSet(formatOption))
        return usageError(QStringLiteral("Say which format: --format wav|mp3|ogg|wma|flac."));
    const QString format = parser.value(formatOption).toUpper();
    const auto code = format == u"FLAC" ? std::optional<quint8>(trackoutput::FormatFlac)
                                        : trackoutput::formatCode(format);
    if (!code)
        return usageError(QStringLiteral("Unknown format \"%1\": use wav, mp3, ogg, wma or flac.")
                              .arg(parser.value(formatOption)));
    options.formatCode = *code;

    if (!parser.isSet(outputOption) || parser.value(outputOption).isEmpty())
        return usageError(QStringLiteral("Say where the files go: --output DIR."));
    options.outputFolder = parser.value(outputOption);

    if (parser.isSet(tracksOption)) {
        Result<QList<int>> tracks = parseTrackList(parser.value(tracksOption));
        if (!tracks.ok())
            return usageError(tracks.error());
        options.tracks = tracks.take();
    }

    if (parser.isSet(jobsOption)) {
        const std::optional<int> jobs = intValue(parser.value(jobsOption), 1, 64);
        if (!jobs)
            return usageError(QStringLiteral("--jobs takes a number from 1 to 64, not \"%1\".")
                                  .arg(parser.value(jobsOption)));
        options.jobs = *jobs;
    }
    // Drives' read offsets lie within about ±3000 samples; ten sectors is plenty.
    if (parser.isSet(offsetOption)) {
        QString text = parser.value(offsetOption);
        if (text.startsWith(u'+') && !text.startsWith(QLatin1String("+-")))
            text.remove(0, 1);
        options.offset = intValue(text, -5880, 5880);
        if (!options.offset)
            return usageError(QStringLiteral("--offset takes a number of samples from -5880 to "
                                             "+5880, not \"%1\".")
                                  .arg(parser.value(offsetOption)));
    }
    if (parser.isSet(flacLevelOption)) {
        const std::optional<int> level = intValue(parser.value(flacLevelOption), 0, 8);
        if (!level)
            return usageError(QStringLiteral("--flac-level takes a number from 0 to 8, not "
                                             "\"%1\".")
                                  .arg(parser.value(flacLevelOption)));
        options.flacLevel = *level;
    }
    // Each encoder's own values; the encoder itself checks the whole setup when the run starts.
    const bool mp3 = options.formatCode == trackoutput::FormatMp3;
    const bool ogg = options.formatCode == trackoutput::FormatOgg;
    const QString formatName = parser.value(formatOption).toLower();
    if (parser.isSet(bitrateOption)) {
        if (!mp3 && !ogg)
            return usageError(
                QStringLiteral("--bitrate is for mp3 and ogg, not %1.").arg(formatName));
        const int most = mp3 ? 320 : 500;
        const std::optional<int> bitrate = intValue(parser.value(bitrateOption), 32, most);
        if (!bitrate)
            return usageError(
                QStringLiteral("--bitrate takes kbit/s from 32 to %1 for %2, not \"%3\".")
                    .arg(QString::number(most), formatName, parser.value(bitrateOption)));
        options.bitrate = *bitrate;
    }
    if (parser.isSet(qualityOption)) {
        if (!mp3 && !ogg)
            return usageError(
                QStringLiteral("--quality is for mp3 and ogg, not %1.").arg(formatName));
        bool ok = false;
        const double quality = parser.value(qualityOption).toDouble(&ok);
        if (!ok || quality < 0 || quality > (mp3 ? 9 : 10) || (mp3 && quality != int(quality)))
            return usageError(QStringLiteral("--quality takes %1 for %2, not \"%3\".")
                                  .arg(mp3 ? QStringLiteral("a whole number from 0 to 9")
                                           : QStringLiteral("a number from 0 to 10"),
                                       formatName, parser.value(qualityOption)));
        if (parser.isSet(bitrateOption))
            return usageError(QStringLiteral("--bitrate and --quality exclude each other."));
        options.quality = int(quality * 100 + 0.5);
    }
    if (parser.isSet(wmaProfileOption)) {
        if (options.formatCode != trackoutput::FormatWma)
            return usageError(QStringLiteral("--wma-profile is for wma, not %1.").arg(formatName));
        const std::optional<int> profile = intValue(parser.value(wmaProfileOption), 0, 10);
        if (!profile)
            return usageError(
                QStringLiteral("--wma-profile takes a number from 0 to 10, not \"%1\".")
                    .arg(parser.value(wmaProfileOption)));
        options.wmaProfile = *profile;
    }
    if (parser.isSet(logOption)) {
        options.logFile = parser.value(logOption);
        if (options.logFile.isEmpty())
            options.logFile = options.outputFolder + QStringLiteral("/rip.log");
    }

    if (parser.isSet(overwriteOption) && parser.isSet(skipOption))
        return usageError(QStringLiteral("--overwrite and --skip-existing exclude each other."));
    if (parser.isSet(overwriteOption))
        options.existing = CliOptions::Existing::Overwrite;
    else if (parser.isSet(skipOption))
        options.existing = CliOptions::Existing::Skip;
    return options;
}

QString cliHelpText()
{
    QCommandLineParser parser;
    addOptions(parser);
    // The parser's own usage line knows no commands; the synopsis comes first instead.
    QString options = parser.helpText();
    options = options.mid(options.indexOf(QStringLiteral("Options:")));
    return QStringLiteral(
               "Usage:\n"
               "  tambrel-cli list [SOURCE]\n"
               "  tambrel-cli info SOURCE [--metadata auto|cdtext|musicbrainz|none] "
               "[--release N]\n"
               "                   [--network on|off]\n"
               "  tambrel-cli convert SOURCE --format wav|mp3|ogg|wma|flac --output DIR\n"
               "                      [--tracks 1,3-5] [--overwrite | --skip-existing] "
               "[--jobs N]\n"
               "                      [--offset N] [--flac-level N] [--log[=FILE]] [--verify]\n"
               "                      [--bitrate KBIT/S | --quality Q] [--wma-profile N]\n"
               "                      [--dry-run] [--quiet]\n"
               "                      [--metadata auto|cdtext|musicbrainz|none] [--release N]\n"
               "                      [--name TEMPLATE] [--network on|off]\n"
               "\n"
               "Rips audio CDs and disc images (.cue, .toc, .nrg) to WAV, MP3, Ogg Vorbis, "
               "WMA and FLAC files.\n"
               "\n"
               "  list            One line per CD drive and disc image, as the window shows it.\n"
               "  list SOURCE     One line per track of SOURCE: name, type and length.\n"
               "  info SOURCE     The album data found for SOURCE, and where it came from.\n"
               "  convert SOURCE  Grabs the chosen tracks of SOURCE, in order (several at once\n"
               "                  from a disc image), into DIR.\n"
               "\n"
               "SOURCE is a drive's device path (/dev/cdrom) or a disc image.\n"
               "\n") +
           options +
           QStringLiteral("\n"
                          "Exit status: 0 when every chosen track was written, 1 when any "
                          "failed\n"
                          "or the log could not be written, 2 for a usage error or a source "
                          "that cannot be read.\n");
}
