#pragma once

#include "cli/clioptions.h"
#include "cli/riplog.h"
#include "cli/riprunner.h"
#include "components/albuminfo.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class CdGrabber;
class QTextStream;

// The commands of tambrel-cli on a grabber: listing drives and tracks, and grabbing tracks into
// files. Texts, names and paths come from the same code as the window's.
class CliRipper : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

    // Tells how many columns the terminal that err writes to has now; empty when err is no
    // terminal.
    using TerminalColumns = std::function<int()>;

    // Lines for the user go to out (lists) and err (progress, failures). On a terminal the running
    // track's progress is redrawn in place on err, within the terminal's width.
    CliRipper(CdGrabber& grabber, QTextStream& out, QTextStream& err,
              TerminalColumns terminalColumns = {});

    // Makes another grabber on the same drives and images, for grabbing tracks at once.
    using GrabberFactory = std::function<std::unique_ptr<CdGrabber>()>;
    // Lets convert() grab up to jobs tracks at once, each on a grabber of its own (only for a
    // disc image: a drive reads one place at a time); each file is still written in place only
    // when complete.
    void setParallel(int jobs, GrabberFactory makeGrabber);

    int list(const QString& source);
    // The album data found for the source, and where it came from.
    int info(const CliOptions& options);
    int convert(const CliOptions& options);

    // Stops the grabs under way at once and ends convert() without starting another track. A
    // stopped grab's file is not written, unless it was in place already.
    void interrupt();
    bool interrupted() const { return m_interrupted; }

private:
    bool refresh(CdGrabber& grabber);
    // Makes the drive or image at source current on the grabber.
    bool selectSource(CdGrabber& grabber, const QString& source);
    bool readTracks(QList<TrackEntry>& tracks);
    // The album data to name and tag the files with, as the options say; lines on err tell
    // what was found and chosen.
    AlbumInfo albumData(const CliOptions& options, bool listReleases);
    // Where a track's file goes: the window's name, or the template's (its folders made).
    QString trackPath(const TrackEntry& entry, const CliOptions& options) const;
    // Gives each chosen track its file: names that would collide get " (2)", " (3)"... and say
    // so; false, with a message, when a track would go where a folder or device is.
    bool planPaths(QList<TrackEntry>& chosen, const CliOptions& options);
    // Grabs the planned tracks, on as many lanes as the jobs allow; the run's exit status.
    int rip(const QList<TrackEntry>& chosen, const CliOptions& options);
    // The read offset to apply: the one given (kept for a drive's model), else the one kept.
    int readOffset(const CliOptions& options);
    // Writes the rip log; false, with a message, when it cannot be written.
    bool writeLog(const CliOptions& options, int discTracks);
    // Settles whether the run may go on line, keeping a switch given; false, with a usage
    // message, when the run needs the network and it is off.
    bool setUpNetwork(const CliOptions& options);
    // Tells the settings store's problem (a damaged file set aside, one that can't be written),
    // the first time one comes up in the run.
    void tellStoreProblem();

    CdGrabber& m_grabber;
    QTextStream& m_out;
    QTextStream& m_err;
    const TerminalColumns m_terminalColumns;
    bool m_interrupted = false;
    // Whether MusicBrainz and AccurateRip may be asked.
    bool m_network = true;
    int m_readOffset = 0;
    QList<riplog::Track> m_logTracks;
    QString m_encoderText; // the format the run's files are encoded in, in words
    // The audio before the disc's first track, number 0, where the disc has any.
    std::optional<TrackEntry> m_hiddenTrack;
    AlbumInfo m_album;
    int m_jobs = 1;
    GrabberFactory m_makeGrabber;
    // The run under way, which interrupt() stops.
    RipRunner* m_runner = nullptr;
};
