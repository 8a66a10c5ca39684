#include "cli/cliripper.h"

#include "cli/albumnames.h"
#include "cli/networkswitch.h"
#include "cli/printable.h"
#include "cli/ripreporter.h"
#include "components/accuraterip/database.h"
#include "components/accuraterip/discids.h"
#include "components/musicbrainz/musicbrainz.h"
#include "components/net/httpget.h"

#include "app/disctext.h"
#include "components/cdgrabber.h"
#include "components/filename.h"
#include "encoders/mp3settings.h"
#include "encoders/oggsettings.h"
#include "encoders/storedencodersettings.h"
#include "grab/driveoffset.h"
#include "grab/trackoutput.h"
#include "settings/cregister.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace
{

// Two paths name the same drive or image when they lead to the same file.
bool sameSource(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// The run's own encoder settings over the stored ones; a setup the encoder refuses fails with
// the encoder's reason.
Status applyEncoderOptions(OutputFile& file, const CliOptions& options)
{
    const CRegister store;
    const bool given = options.bitrate > 0 || options.quality >= 0;
    if (options.formatCode == trackoutput::FormatMp3 && given) {
        Mp3EncoderSettings mp3 = Mp3Settings::anyStored(store)
                                     ? Mp3Settings::load(store).encoderSettings()
                                     : Mp3EncoderSettings{};
        if (options.bitrate > 0) {
            // The bitrates an MP3 frame header can name; LAME would round any other silently.
            static const QList<int> mpeg1{32,  40,  48,  56,  64,  80,  96,
                                          112, 128, 160, 192, 224, 256, 320};
            static const QList<int> mpeg2{8,  16, 24, 32,  40,  48,  56,
                                          64, 80, 96, 112, 128, 144, 160};
            const QList<int>& allowed = mp3.SampleRate >= 32000 ? mpeg1 : mpeg2;
            if (!allowed.contains(options.bitrate)) {
                QStringList values;
                for (const int value : allowed)
                    values << QString::number(value);
                return Failure{QStringLiteral("MP3 at %1 Hz takes these bitrates (kbit/s): %2.")
                                   .arg(mp3.SampleRate)
                                   .arg(values.join(QStringLiteral(", ")))};
            }
            mp3.VbrMode = -1;
            mp3.CbrBitrate = options.bitrate;
        } else {
            mp3.VbrMode = 0;
            mp3.VbrQuality = options.quality / 100;
        }
        const Status set = file.SetMP3Format(mp3);
        return set.ok() ? set : Failure{QStringLiteral("MP3 can't be made so: ") + set.error()};
    }
    if (options.formatCode == trackoutput::FormatOgg && given) {
        const OggFormat ogg =
            OggSettings::anyStored(store) ? OggSettings::load(store).format() : OggFormat{};
        if (options.bitrate > 0 &&
            !file.IsOGGFormatValid(ogg.sampleRate, ogg.channels, options.bitrate, 0, 0))
            return Failure{QStringLiteral("Ogg Vorbis has no setup for %1 kbit/s at %2 Hz and %3 "
                                          "channels.")
                               .arg(options.bitrate)
                               .arg(ogg.sampleRate)
                               .arg(ogg.channels)};
        return options.bitrate > 0
                   ? file.SetOGGFormat(ogg.sampleRate, ogg.channels, options.bitrate, 0, 0, -1)
                   : file.SetOGGFormat(ogg.sampleRate, ogg.channels, ogg.bitrate, 0, 0,
                                       qint16(options.quality));
    }
    if (options.formatCode == trackoutput::FormatWma && options.wmaProfile >= 0)
        return file.SetWMAProfile(options.wmaProfile);
    return {};
}

// The chosen format's encoder as the run makes it: its defaults, the stored settings over them,
// the run's options over those. The defaults are handed over too, since an output file
// describes the format handed over last, and the log names the chosen one.
Status setUpEncoder(OutputFile& file, const CliOptions& options)
{
    const EncoderSettings defaults;
    switch (options.formatCode) {
    case trackoutput::FormatMp3:
        (void)file.SetMP3Format(defaults.mp3);
        break;
    case trackoutput::FormatOgg:
        (void)file.SetOGGFormat(defaults.ogg.sampleRate, defaults.ogg.channels,
                                defaults.ogg.bitrate, defaults.ogg.minBitrate,
                                defaults.ogg.maxBitrate, qint16(defaults.ogg.quality));
        break;
    case trackoutput::FormatWma:
        (void)file.SetWMAProfile(defaults.wmaProfile);
        break;
    default:
        break;
    }
    applyStoredEncoderSettings(file, CRegister(), options.formatCode);
    file.SetFLACLevel(options.flacLevel);
    return applyEncoderOptions(file, options);
}

} // namespace

CliRipper::CliRipper(CdGrabber& grabber, QTextStream& out, QTextStream& err,
                     TerminalColumns terminalColumns)
    : m_grabber(grabber), m_out(out), m_err(err), m_terminalColumns(std::move(terminalColumns))
{
}

void CliRipper::setParallel(int jobs, GrabberFactory makeGrabber)
{
    m_jobs = std::max(1, jobs);
    m_makeGrabber = std::move(makeGrabber);
}

bool CliRipper::refresh(CdGrabber& grabber)
{
    if (const Status refreshed = grabber.Refresh(); !refreshed.ok()) {
        m_err << "tambrel-cli: " << refreshed.error() << Qt::endl;
        return false;
    }
    return true;
}

bool CliRipper::selectSource(CdGrabber& grabber, const QString& source)
{
    if (!refresh(grabber))
        return false;
    for (int drive = 1; drive <= grabber.DriveCount(); ++drive) {
        if (grabber.SetCurrentDrive(drive).ok() && sameSource(grabber.DriveLetter(), source))
            return true;
    }
    m_err << "tambrel-cli: " << source
          << (QFileInfo::exists(source) ? QStringLiteral(" is neither a CD drive nor a disc image.")
                                        : QStringLiteral(": no such drive or disc image."))
          << Qt::endl;
    return false;
}

bool CliRipper::readTracks(QList<TrackEntry>& tracks)
{
    auto failed = [this](const QString& description) {
        m_err << "tambrel-cli: " << description << Qt::endl;
        return false;
    };
    const Result<int> sessions = m_grabber.SessionCount();
    if (!sessions.ok())
        return failed(sessions.error());
    if (sessions.value() == 0)
        return failed(QStringLiteral("There is no disc in %1.").arg(m_grabber.DriveLetter()));

    const QList<int> numbers = m_grabber.CurrentDiscToc().numbers;
    int audioTracks = 0;
    for (int session = 0; session < sessions.value(); ++session) {
        if (const Status s = m_grabber.SetCurrentSession(session); !s.ok())
            return failed(s.error());
        const Result<int> count = m_grabber.TrackCount();
        if (!count.ok())
            return failed(count.error());
        for (int track = 0; track < count.value(); ++track) {
            if (const Status s = m_grabber.SetCurrentTrack(track); !s.ok())
                return failed(s.error());
            // Named as the window names tracks (by their place in their session), numbered as
            // the disc numbers them.
            tracks << TrackEntry{session,
                                 track,
                                 numbers.value(int(tracks.size()), int(tracks.size()) + 1),
                                 disctext::trackName(session, track),
                                 m_grabber.TrackType(),
                                 m_grabber.TrackSectors(),
                                 disctext::durationText(m_grabber.TrackMinutes(),
                                                        m_grabber.TrackSeconds(),
                                                        m_grabber.TrackFraction()),
                                 -1,
                                 int(tracks.size()),
                                 QString()};
            if (m_grabber.TrackType() == CdGrabber::TrackTypeAudio)
                tracks.last().audioIndex = audioTracks++;
        }
    }
    m_hiddenTrack.reset();
    if (const qint64 hidden = m_grabber.HiddenTrackSectors(); hidden > 0) {
        const qint64 seconds = hidden / CdGrabber::SectorsPerSecond;
        m_hiddenTrack = TrackEntry{0,
                                   -1,
                                   0,
                                   disctext::trackName(0, -1),
                                   CdGrabber::TrackTypeAudio,
                                   hidden,
                                   disctext::durationText(int(seconds / 60), int(seconds % 60),
                                                          int(hidden % CdGrabber::SectorsPerSecond *
                                                              1000 / CdGrabber::SectorsPerSecond)),
                                   -1,
                                   -1,
                                   QString()};
    }
    return true;
}

int CliRipper::list(const QString& source)
{
    if (source.isEmpty()) {
        if (!refresh(m_grabber))
            return ExitUsage;
        // Said on the error stream, so that the list itself stays empty for scripts.
        if (m_grabber.DriveCount() == 0)
            m_err << "tambrel-cli: no CD drive was found." << Qt::endl;
        for (int drive = 1; drive <= m_grabber.DriveCount(); ++drive) {
            if (!m_grabber.SetCurrentDrive(drive).ok())
                continue;
            m_out << disctext::driveLine(m_grabber.DriveLetter(), m_grabber.DriveVendor(),
                                         m_grabber.DriveProduct(), m_grabber.DriveRevision())
                  << '\n';
        }
        m_out.flush();
        return ExitOk;
    }

    QList<TrackEntry> tracks;
    if (!selectSource(m_grabber, source) || !readTracks(tracks))
        return ExitUsage;
    // Tabs keep the columns apart for scripts, also where a data track's type is empty. A track
    // recorded with pre-emphasis says so in a fourth column.
    const QList<bool> preEmphasis = m_grabber.CurrentDiscToc().preEmphasis;
    if (m_hiddenTrack)
        m_out << m_hiddenTrack->name << '\t' << disctext::trackTypeText(m_hiddenTrack->type) << '\t'
              << m_hiddenTrack->durationText << "\thidden\n";
    for (const TrackEntry& entry : std::as_const(tracks))
        m_out << entry.name << '\t' << disctext::trackTypeText(entry.type) << '\t'
              << entry.durationText
              << (preEmphasis.value(entry.position) ? QStringLiteral("\tpre-emphasis") : QString())
              << '\n';
    m_out.flush();
    return ExitOk;
}

bool CliRipper::setUpNetwork(const CliOptions& options)
{
    m_network = networkswitch::apply(CRegister(), options.network);
    tellStoreProblem();
    if (!m_network && options.metadata == CliOptions::Metadata::MusicBrainz) {
        m_err << "tambrel-cli: " << networkOffError().description << Qt::endl;
        return false;
    }
    return true;
}

void CliRipper::tellStoreProblem()
{
    if (const std::optional<QString> problem = CRegister::takeProblemReport())
        m_err << "tambrel-cli: " << *problem << Qt::endl;
}

int CliRipper::convert(const CliOptions& options)
{
    if (!setUpNetwork(options))
        return ExitUsage;
    if (nameNotUtf8(options.outputFolder)) {
        m_err << "tambrel-cli: the name of the output folder " << options.outputFolder
              << " is not valid UTF-8. Rename it and try again." << Qt::endl;
        return ExitUsage;
    }
    if (!QFileInfo(options.outputFolder).isDir()) {
        m_err << "tambrel-cli: the output folder " << options.outputFolder
              << " does not exist or is not a folder." << Qt::endl;
        return ExitUsage;
    }
    QList<TrackEntry> tracks;
    if (!selectSource(m_grabber, options.source) || !readTracks(tracks))
        return ExitUsage;

    QList<TrackEntry> chosen;
    if (options.tracks.isEmpty()) {
        for (const TrackEntry& entry : std::as_const(tracks)) {
            if (entry.type == CdGrabber::TrackTypeAudio)
                chosen << entry;
        }
        if (chosen.isEmpty()) {
            m_err << "tambrel-cli: " << options.source << " holds no audio track." << Qt::endl;
            return ExitUsage;
        }
    } else {
        // Tracks go by the numbers the disc gives them, which need not start at 1; 0 is the
        // audio hidden before the first track.
        for (const int number : options.tracks) {
            if (number == 0) {
                if (!m_hiddenTrack) {
                    m_err << "tambrel-cli: this disc holds no audio before its first track "
                             "(track 0)."
                          << Qt::endl;
                    return ExitUsage;
                }
                chosen << *m_hiddenTrack;
                continue;
            }
            const auto entry =
                std::find_if(tracks.begin(), tracks.end(),
                             [number](const TrackEntry& t) { return t.number == number; });
            if (entry == tracks.end()) {
                m_err << "tambrel-cli: there is no track " << number
                      << " on this disc; its tracks are " << tracks.first().number << " to "
                      << tracks.last().number << '.' << Qt::endl;
                return ExitUsage;
            }
            chosen << *entry;
        }
    }

    m_logTracks.clear();
    m_album = albumData(options, true);
    // Where every track goes is settled before the first sector is read.
    if (!planPaths(chosen, options))
        return ExitUsage;
    if (options.dryRun) {
        for (const TrackEntry& entry : std::as_const(chosen))
            m_out << QStringLiteral("%1").arg(entry.number, 2, 10, QLatin1Char('0')) << '\t'
                  << entry.name << '\t' << printable::escaped(entry.path) << '\n';
        m_out.flush();
        return ExitOk;
    }

    if (OutputFile* file = m_grabber.AudioFile()) {
        if (const Status given = setUpEncoder(*file, options); !given.ok()) {
            m_err << "tambrel-cli: " << given.error() << Qt::endl;
            return ExitUsage;
        }
        // The output-file object describes the window's four formats; FLAC is the tool's own.
        m_encoderText = options.formatCode == trackoutput::FormatFlac
                            ? QStringLiteral("FLAC, level %1").arg(options.flacLevel)
                            : file->FormatString();
    }
    m_readOffset = readOffset(options);
    tellStoreProblem();
    m_grabber.SetVerify(options.verify);
    if (m_grabber.DriveAccurateStream() == false && !options.quiet)
        m_err << "tambrel-cli: " << m_grabber.DriveLetter()
              << " has no accurate stream: each track is read twice, and fails when the reads "
                 "differ."
              << Qt::endl;
    m_grabber.SetAlbumTags(m_album);

    const int status = rip(chosen, options);
    // A log asked for and not written is a failure of the run, though every file is in place.
    if (!options.logFile.isEmpty() && !writeLog(options, int(tracks.size())) && status == ExitOk)
        return ExitFailed;
    return status;
}

AlbumInfo CliRipper::albumData(const CliOptions& options, bool listReleases)
{
    if (options.metadata == CliOptions::Metadata::None)
        return {};
    AlbumInfo offline = m_grabber.CurrentAlbumInfo();
    // Off line the automatic mode has the disc's own data only.
    if (options.metadata == CliOptions::Metadata::Offline ||
        (options.metadata == CliOptions::Metadata::Auto && (!offline.isEmpty() || !m_network)))
        return offline;

    const Result<DiscIds> ids = computeDiscIds(DiscLayout::of(m_grabber.CurrentDiscToc()));
    if (!ids.ok() || ids.value().musicBrainzId.isEmpty())
        return offline;
    const QString base = qEnvironmentVariable("TAMBREL_MUSICBRAINZ_URL");
    const musicbrainz::Lookup lookup =
        musicbrainz::lookupDisc(ids.value().musicBrainzId, ids.value().musicBrainzToc,
                                base.isEmpty() ? musicbrainz::defaultBase() : QUrl(base));
    // A lookup that brings nothing is said (in the automatic mode not with --quiet, since the
    // rip goes on as well without album data).
    const bool say = options.metadata == CliOptions::Metadata::MusicBrainz ||
                     !options.nameTemplate.isEmpty() ||
                     options.command == CliOptions::Command::Info || !options.quiet;
    switch (lookup.outcome) {
    case musicbrainz::Lookup::Outcome::Failed:
        if (say)
            m_err << "tambrel-cli: MusicBrainz could not be asked (" << lookup.reason
                  << "); the tracks keep the disc's own names. --network off keeps tambrel-cli "
                     "off line."
                  << Qt::endl;
        return offline;
    case musicbrainz::Lookup::Outcome::NotFound:
        if (say)
            m_err << "tambrel-cli: MusicBrainz does not know this disc." << Qt::endl;
        return offline;
    case musicbrainz::Lookup::Outcome::Found:
        break;
    }
    if (lookup.releases.size() == 1)
        return lookup.releases.first();
    for (qsizetype i = 0; i < lookup.releases.size(); ++i) {
        bool isNumber = false;
        const int number = options.release.toInt(&isNumber);
        // An empty choice is no choice, even where a release comes without an id.
        if ((isNumber && number == i + 1) ||
            (!options.release.isEmpty() &&
             options.release == lookup.releases[i].musicBrainzReleaseId))
            return lookup.releases[i];
    }
    if (listReleases) {
        m_err << "tambrel-cli: " << lookup.releases.size()
              << " MusicBrainz releases hold this disc; choose one with --release N or its MBID:"
              << Qt::endl;
        for (qsizetype i = 0; i < lookup.releases.size(); ++i)
            m_err << "  " << (i + 1) << ". "
                  << printable::escaped(albumnames::releaseLine(lookup.releases[i])) << Qt::endl;
    }
    return offline;
}

int CliRipper::info(const CliOptions& options)
{
    if (!setUpNetwork(options))
        return ExitUsage;
    QList<TrackEntry> tracks;
    if (!selectSource(m_grabber, options.source) || !readTracks(tracks))
        return ExitUsage;
    const Result<DiscIds> ids = computeDiscIds(DiscLayout::of(m_grabber.CurrentDiscToc()));
    if (ids.ok())
        m_out << "MusicBrainz disc id: " << ids.value().musicBrainzText() << '\n'
              << "AccurateRip disc id: " << ids.value().accurateRipText() << '\n'
              << "FreeDB disc id: " << ids.value().freedbText() << '\n';
    // What the disc itself tells of its tracks: catalogue number, ISRCs, pre-emphasis.
    const CdGrabber::DiscToc toc = m_grabber.CurrentDiscToc();
    if (!toc.catalog.isEmpty())
        m_out << "Catalogue number: " << toc.catalog << '\n';
    if (m_hiddenTrack)
        m_out << "Hidden track:" << m_hiddenTrack->durationText
              << " before the first track (--tracks 0 rips it)\n";
    for (const TrackEntry& entry : std::as_const(tracks)) {
        const QString number = QStringLiteral("%1").arg(entry.number, 2, 10, QLatin1Char('0'));
        if (!toc.isrcs.value(entry.position).isEmpty())
            m_out << "ISRC " << number << ": " << toc.isrcs.value(entry.position) << '\n';
        if (toc.preEmphasis.value(entry.position))
            m_out << "Pre-emphasis " << number << ": yes\n";
    }
    const AlbumInfo album = albumData(options, true);
    if (album.isEmpty()) {
        m_out << "Source: none (no album data found)\n";
        m_out.flush();
        return ExitOk;
    }
    m_out << "Source: " << album.source << '\n';
    m_out << "Album: " << printable::escaped(album.title) << '\n'
          << "Artist: " << printable::escaped(album.artist) << '\n';
    if (!album.date.isEmpty())
        m_out << "Date: " << printable::escaped(album.date) << '\n';
    if (!album.genre.isEmpty())
        m_out << "Genre: " << printable::escaped(album.genre) << '\n';
    if (!album.musicBrainzReleaseId.isEmpty())
        m_out << "MusicBrainz release: " << printable::escaped(album.musicBrainzReleaseId) << '\n';
    for (const TrackEntry& entry : std::as_const(tracks)) {
        const TrackInfo track =
            entry.track < album.tracks.size() ? album.tracks[entry.track] : TrackInfo{};
        m_out << QStringLiteral("%1").arg(entry.number, 2, 10, QLatin1Char('0')) << '\t'
              << printable::escaped(track.title) << '\t'
              << printable::escaped(track.artist.isEmpty() ? album.artist : track.artist) << '\n';
    }
    m_out.flush();
    return ExitOk;
}

int CliRipper::readOffset(const CliOptions& options)
{
    return driveoffset::apply(m_grabber, CRegister(), options.offset);
}

bool CliRipper::writeLog(const CliOptions& options, int discTracks)
{
    riplog::Disc disc;
    disc.program = QStringLiteral("tambrel-cli ") + QCoreApplication::applicationVersion();
    disc.date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    disc.source = options.source;
    disc.drive = QString(m_grabber.DriveVendor() + u' ' + m_grabber.DriveProduct() + u' ' +
                         m_grabber.DriveRevision())
                     .simplified();
    disc.readMode = QFileInfo(options.source).isFile()
                        ? QStringLiteral("image, read as it is")
                        : QStringLiteral("paranoia, full verification");
    if (m_grabber.DriveAccurateStream() == false)
        disc.readMode += QStringLiteral(", test and copy (the drive has no accurate stream)");
    else if (options.verify)
        disc.readMode += QStringLiteral(", test and copy");
    disc.offset = m_readOffset;
    disc.tracks = discTracks;
    // The disc's identities, and AccurateRip's record of it where the database may be asked.
    // Where it is not asked, the disc and each track say why alike.
    QString notAsked;
    const Result<DiscIds> ids = computeDiscIds(DiscLayout::of(m_grabber.CurrentDiscToc()));
    if (ids.ok()) {
        disc.accurateRipId = ids.value().accurateRipText();
        disc.freedbId = ids.value().freedbText();
        disc.musicBrainzId = ids.value().musicBrainzText();
        disc.catalog = m_grabber.CurrentDiscToc().catalog;
        disc.encoder = m_encoderText;
    }
    if (!ids.ok() || !ids.value().accurateRipError.isEmpty()) {
        QString why = ids.ok() ? ids.value().accurateRipError : ids.error();
        if (why.endsWith(u'.'))
            why.chop(1);
        if (!why.isEmpty())
            why[0] = why[0].toLower();
        notAsked = QStringLiteral("there is no AccurateRip disc id (%1)").arg(why);
    } else if (!m_network) {
        notAsked = QStringLiteral("the network is off");
    } else if (m_interrupted) {
        // A stopped run asks nothing more of the network.
        notAsked = QStringLiteral("the run was stopped");
    }
    AccurateRipLookup lookup;
    if (notAsked.isEmpty()) {
        const QString base = qEnvironmentVariable("TAMBREL_ACCURATERIP_URL");
        lookup = fetchAccurateRipRecord(
            ids.value(), base.isEmpty() ? DiscIds::defaultAccurateRipBase() : QUrl(base));
        // A stop during the lookup ends it: the run was stopped, more than the lookup failed.
        if (lookup.outcome == AccurateRipLookup::Outcome::Failed && m_interrupted)
            notAsked = QStringLiteral("the run was stopped");
    }
    if (!notAsked.isEmpty()) {
        disc.lookup = QStringLiteral("not looked up: ") + notAsked;
        for (riplog::Track& track : m_logTracks)
            track.accurateRip = disc.lookup;
    } else {
        switch (lookup.outcome) {
        case AccurateRipLookup::Outcome::Found:
            disc.lookup =
                lookup.record.chunks.size() == 1
                    ? QStringLiteral("found, 1 pressing")
                    : QStringLiteral("found, %1 pressings").arg(lookup.record.chunks.size());
            break;
        case AccurateRipLookup::Outcome::DiscNotFound:
            disc.lookup = QStringLiteral("the disc is not in the database");
            break;
        case AccurateRipLookup::Outcome::Failed:
            disc.lookup = QStringLiteral("not looked up: ") + lookup.reason;
            break;
        }
        for (riplog::Track& track : m_logTracks) {
            if (lookup.outcome == AccurateRipLookup::Outcome::Failed)
                track.accurateRip =
                    QStringLiteral("not looked up: the lookup failed: ") + lookup.reason;
            else if (track.result != u"written")
                track.accurateRip = QStringLiteral("not looked up: the track was not written");
            // The database holds checksums of the numbered audio tracks only.
            else if (track.audioIndex < 0)
                track.accurateRip = QStringLiteral("not looked up: the database has no "
                                                   "entries for audio before the first track");
            else if (!track.proof.valid)
                track.accurateRip =
                    QStringLiteral("not looked up: the track's checksums are not known");
            else
                track.accurateRip =
                    lookup
                        .verdict(ids.value(), track.audioIndex, track.proof.accurateRipV1,
                                 track.proof.accurateRipV2)
                        .text();
        }
    }
    std::sort(m_logTracks.begin(), m_logTracks.end(),
              [](const riplog::Track& a, const riplog::Track& b) { return a.number < b.number; });
    // A log already there holds an earlier run's proof (the files a rerun skips were proved
    // then): each run adds its own block after it, the newest last.
    QFile file(options.logFile);
    const bool earlier =
        QFileInfo(options.logFile).isFile() && QFileInfo(options.logFile).size() > 0;
    const QByteArray text =
        (earlier ? QByteArray("\n") : QByteArray()) + riplog::text(disc, m_logTracks).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(text) != text.size() ||
        !file.flush()) {
        m_err << "tambrel-cli: the rip log " << options.logFile
              << " cannot be written: " << file.errorString() << Qt::endl;
        return false;
    }
    return true;
}

QString CliRipper::trackPath(const TrackEntry& entry, const CliOptions& options) const
{
    if (options.nameTemplate.isEmpty())
        return QDir::cleanPath(
            trackoutput::outputPath(options.outputFolder, entry.name, options.formatCode));
    const QString name =
        albumnames::fromTemplate(options.nameTemplate, m_album, entry.track, entry.number);
    return QDir::cleanPath(options.outputFolder + u'/' + name +
                           trackoutput::extension(options.formatCode));
}

bool CliRipper::planPaths(QList<TrackEntry>& chosen, const CliOptions& options)
{
    QSet<QString> taken;
    for (TrackEntry& entry : chosen) {
        entry.path = trackPath(entry, options);
        // Two tracks named alike (two titles "Intro") go to "Intro.wav" and "Intro (2).wav":
        // one never replaces the other, and the choice is said.
        if (taken.contains(entry.path)) {
            const QFileInfo first(entry.path);
            const QString stem = first.path() + u'/' + first.completeBaseName();
            const QString extension = first.suffix().isEmpty() ? QString() : u'.' + first.suffix();
            QString path;
            for (int n = 2; path.isEmpty() || taken.contains(path); ++n)
                path = stem + QStringLiteral(" (%1)").arg(n) + extension;
            m_err << "tambrel-cli: " << entry.name << " would be named like a track before it; "
                  << "it goes to " << printable::escaped(path) << " instead." << Qt::endl;
            entry.path = path;
        }
        taken.insert(entry.path);
        // A folder or a device where a file is to go can't be replaced, whatever the options.
        const QFileInfo target(entry.path);
        if (target.exists() && !target.isFile()) {
            m_err << "tambrel-cli: " << entry.name << " is to go to "
                  << printable::escaped(entry.path) << ", which is "
                  << (target.isDir() ? "a folder" : "no regular file") << '.' << Qt::endl;
            return false;
        }
    }
    return true;
}

int CliRipper::rip(const QList<TrackEntry>& chosen, const CliOptions& options)
{
    // The first lane is the tool's own grabber. For an image up to jobs tracks go at once: each
    // further lane is a grabber of its own, set up as the first.
    QList<CdGrabber*> lanes{&m_grabber};
    std::vector<std::unique_ptr<CdGrabber>> more;
    while (m_makeGrabber && lanes.size() < std::min<qsizetype>(m_jobs, chosen.size())) {
        const std::unique_ptr<CdGrabber>& grabber = more.emplace_back(m_makeGrabber());
        if (!selectSource(*grabber, options.source))
            return ExitUsage;
        if (OutputFile* file = grabber->AudioFile())
            (void)setUpEncoder(*file, options); // taken by the first grabber already
        grabber->SetReadOffset(m_readOffset);
        grabber->SetVerify(options.verify);
        grabber->SetAlbumTags(m_album);
        lanes << grabber.get();
    }

    RipReporter reporter(chosen, int(lanes.size()), m_err, m_terminalColumns, options.quiet,
                         m_grabber.CurrentDiscToc(), options.formatCode);
    RipRunner runner(lanes, chosen, reporter);
    m_runner = &runner;
    if (!m_interrupted)
        runner.run(options.existing);
    m_runner = nullptr;
    if (m_interrupted)
        reporter.stoppedBeforeStart();
    // A stopped grab's temporary file is gone once its grabber is closed.
    for (const auto& grabber : more)
        grabber->Close();
    m_logTracks = reporter.log();
    return reporter.status(m_interrupted);
}

void CliRipper::interrupt()
{
    m_interrupted = true;
    stopHttpGets();
    if (m_runner)
        m_runner->stop();
}
