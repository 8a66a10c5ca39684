#pragma once

#include "cli/riplog.h"
#include "cli/riprunner.h"
#include "components/cdgrabber.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <functional>
#include <vector>

class QTextStream;

// What comes of a run's tracks, as the user and the rip log are told: a line on err for each
// track's end, the running grabs' progress redrawn in place on a terminal (one lane: the track's
// bar; more: how many tracks are done), a log entry for each track, and the exit status.
class RipReporter
{
public:
    // How a track's grab ended, and what its grabber tells of it then.
    struct Ending {
        RipRunner::Outcome outcome = RipRunner::Outcome::Failed;
        QString error;
        CdGrabber::GrabProof proof;
        CdGrabber::ReadReport read;
    };

    // columns tells the width of the terminal err writes to; empty when err is no terminal.
    // toc and formatCode describe the tracks in the log.
    RipReporter(const QList<TrackEntry>& plan, int lanes, QTextStream& err,
                std::function<int()> columns, bool quiet, const CdGrabber::DiscToc& toc,
                int formatCode);

    // The plan's track at index has started on the lane, which reports on it until it ends.
    void started(int lane, qsizetype index);
    void retried(int lane, int retry);
    void progress(int lane, double percent);
    void ended(int lane, const Ending& ending);
    // The plan's track at index was not grabbed: a file is in its way, and is kept (skipped) or
    // may not be replaced (refused, a failure).
    void skipped(qsizetype index);
    void refused(qsizetype index);
    // The disc was removed: the plan's tracks from index on are not ripped, and fail.
    void notRipped(qsizetype index);
    // The run was stopped: the plan's tracks that never started are not ripped, and say so in
    // the log.
    void stoppedBeforeStart();

    // The run's exit status; failures are summed up in a line. A stopped run has failed.
    int status(bool interrupted);
    const QList<riplog::Track>& log() const { return m_log; }

private:
    struct Lane {
        qsizetype index = -1;
        bool running = false;
        double percent = 0.0;
        int retries = 0; // reads of the track that had to be retried
        QElapsedTimer timer;
    };

    void logTrack(const TrackEntry& entry, const QString& result, int retries = 0,
                  const CdGrabber::GrabProof& proof = {}, const CdGrabber::ReadReport& read = {});
    // err, with the progress line cleared away first.
    QTextStream& say();
    void showProgress();
    void clearProgressLine();
    double speed(const Lane& lane, double percent) const;

    const QList<TrackEntry>& m_plan;
    std::vector<Lane> m_lanes;
    QTextStream& m_err;
    const std::function<int()> m_columns;
    const bool m_quiet;
    const CdGrabber::DiscToc m_toc;
    const QString m_format;
    QList<riplog::Track> m_log;
    int m_failures = 0;
    int m_done = 0; // tracks ended or left out
    bool m_progressShown = false;
};
