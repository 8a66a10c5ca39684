#pragma once

#include "cli/clioptions.h"
#include "cli/riplog.h"
#include "grab/trackgrab.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

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

    // Stops the grab under way at once and ends convert() without starting another track. The
    // grab's file is not written, unless it was in place already.
    void interrupt();
    bool interrupted() const { return m_interrupted; }

private:
    struct TrackEntry {
        int session = 0;
        int track = 0;
        int number = 0; // as the disc numbers it
        QString name;
        int type = 0;
        qint64 sectors = 0;
        QString durationText; // as the window's duration column shows it
        int audioIndex = -1;  // its place among the disc's audio tracks, from 0; -1: data
        int position = 0;     // its place on the disc, from 0, all sessions counted
        QString path;         // where its file goes, once the run is planned
    };
    enum class GrabOutcome { Written, Failed, Interrupted };
    struct Slot;

    bool refresh(CdGrabber& grabber);
    // Makes the drive or image at source current on the grabber.
    bool selectSource(CdGrabber& grabber, const QString& source);
    bool readTracks(QList<TrackEntry>& tracks);
    GrabOutcome grab(const TrackEntry& entry, const QString& path, bool replace, int position,
                     int count, QString& error);
    // Where a track goes, or none (said why) when a file is in the way and may not be replaced.
    std::optional<QString> targetPath(const TrackEntry& entry, const CliOptions& options,
                                      int& failures);
    void reportWritten(const TrackEntry& entry, const QString& path, double speed);
    // The album data to name and tag the files with, as the options say; lines on err tell
    // what was found and chosen.
    AlbumInfo albumData(const CliOptions& options, bool listReleases);
    // Where a track's file goes: the window's name, or the template's (its folders made).
    QString trackPath(const TrackEntry& entry, const CliOptions& options) const;
    // Gives each chosen track its file: names that would collide get " (2)", " (3)"... and say
    // so; false, with a message, when a track would go where a folder or device is.
    bool planPaths(QList<TrackEntry>& chosen, const CliOptions& options);
    // The run's exit status; failures are summed up in a line.
    int finalStatus(int failures, qsizetype tracks);
    // Grabs the tracks one after another.
    int convertSerial(const QList<TrackEntry>& chosen, const CliOptions& options);
    // The read offset to apply: the one given (kept for a drive's model), else the one kept.
    int readOffset(const CliOptions& options);
    void logTrack(const TrackEntry& entry, const QString& path, const QString& result,
                  const CdGrabber::GrabProof& proof = {}, const CdGrabber::ReadReport& read = {});
    // Writes the rip log; false, with a message, when it cannot be written.
    bool writeLog(const CliOptions& options, int discTracks);
    // Grabs the tracks several at once, each on a grabber of its own.
    int convertParallel(const QList<TrackEntry>& chosen, const CliOptions& options);
    void showParallelProgress(int done, int count, const std::vector<std::unique_ptr<Slot>>& lanes);
    void showProgress(const TrackEntry& entry, int position, int count, double percent);
    void clearProgressLine();
    // ", 3 reads retried" once the drive has needed retries on the running track.
    QString retriesText() const;
    double speed(const TrackEntry& entry, double percent) const;

    CdGrabber& m_grabber;
    TrackGrab m_track;
    QTextStream& m_out;
    QTextStream& m_err;
    const TerminalColumns m_terminalColumns;
    bool m_interrupted = false;
    bool m_quiet = false;
    int m_formatCode = 0;
    int m_readOffset = 0;
    QList<riplog::Track> m_logTracks;
    QString m_encoderText; // the format the run's files are encoded in, in words
    // The audio before the disc's first track, number 0, where the disc has any.
    std::optional<TrackEntry> m_hiddenTrack;
    AlbumInfo m_album;
    bool m_progressShown = false;
    // Reads of the running track that had to be retried.
    int m_retries = 0;
    QElapsedTimer m_trackTimer;
    int m_jobs = 1;
    GrabberFactory m_makeGrabber;
    // Stops the grabs of convertParallel() when it runs.
    std::function<void()> m_stopParallel;
};
