#pragma once

#include "components/result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the command line of tambrel-cli asks for.
struct CliOptions {
    enum class Command { Help, Version, List, Info, Convert };
    // Where album data (names and tags) comes from.
    enum class Metadata { Auto, Offline, MusicBrainz, None };
    // What to do with a file that is already where a track goes.
    enum class Existing { Fail, Overwrite, Skip };

    Command command = Command::Help;
    // A drive's device path or a disc image; empty lists the drives.
    QString source;
    quint8 formatCode = 0;
    QString outputFolder;
    // Track numbers as the disc counts them, ascending and each once; empty means every audio
    // track.
    QList<int> tracks;
    Existing existing = Existing::Fail;
    bool quiet = false;
    // Test and copy: each track read twice, failed when the reads differ.
    bool verify = false;
    // Prints where each chosen track would go, and reads nothing.
    bool dryRun = false;
    // Tracks of a disc image grabbed at once; 0: one for each usable core.
    int jobs = 0;
    // The drive's read offset in samples, when given (it is then stored for the drive's model).
    std::optional<int> offset;
    // FLAC's compression level, 0 to 8.
    int flacLevel = 5;
    // Encoder settings for this run, over the stored ones (given: not 0 / not -1): MP3's constant
    // or Ogg Vorbis's nominal bitrate in kbit/s, MP3's VBR quality (0..9) or Ogg Vorbis's quality
    // (0..10) in hundredths, and the WMA profile (0..10).
    int bitrate = 0;
    int quality = -1;
    int wmaProfile = -1;
    // Where the rip log goes; empty: no log. "<output>/rip.log" for a bare --log.
    QString logFile;
    Metadata metadata = Metadata::Auto;
    // Which of several MusicBrainz releases: its place in the list (from 1) or its MBID.
    QString release;
    // File names from album data, e.g. "%A/%a/%n - %t"; empty: the window's names.
    QString nameTemplate;
    // Whether MusicBrainz and AccurateRip may be asked, when given (it is then kept for later
    // runs).
    std::optional<bool> network;
};

// Reads the arguments (the program name first). A usage error comes back as a failure whose
// text says what is wrong.
Result<CliOptions> parseCliArguments(const QStringList& arguments);

// "1,3-5" gives 1, 3, 4, 5. Numbers start at 1; ranges run upwards; repeats collapse.
Result<QList<int>> parseTrackList(const QString& text);

// The usage error of --metadata musicbrainz while the network is off, given or kept.
Failure networkOffError();

// The text of --help.
QString cliHelpText();
