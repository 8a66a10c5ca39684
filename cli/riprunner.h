#pragma once

#include "cli/clioptions.h"
#include "grab/trackgrab.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

class CdGrabber;
class QEventLoop;
class RipReporter;

// A track of the disc as tambrel-cli lists it, and once the run is planned, where its file goes.
struct TrackEntry {
    int session = 0;
    int track = 0;
    int number = 0; // as the disc numbers it; 0: the audio hidden before the first track
    QString name;
    int type = 0;
    qint64 sectors = 0;
    QString durationText; // as the window's duration column shows it
    int audioIndex = -1;  // its place among the disc's audio tracks, from 0; -1: data
    int position = 0;     // its place on the disc, from 0, all sessions counted
    QString path;         // where its file goes, once the run is planned
};

// Grabs the planned tracks into their files in the plan's order, on lanes: each lane is a
// grabber of its own with one grab at a time, and takes the next track as its grab ends. One
// lane grabs the tracks one after another. All that comes of a track goes to the reporter.
class RipRunner
{
public:
    enum class Outcome { Written, Failed, Stopped };

    RipRunner(const QList<CdGrabber*>& lanes, const QList<TrackEntry>& plan, RipReporter& reporter);
    ~RipRunner();

    // Returns once every track has ended or was left out: skipped or refused where a file is in
    // the way (replaced only with Overwrite), not ripped once the disc was removed.
    void run(CliOptions::Existing existing);
    // Stops the grabs under way at once, and starts no more. A stopped grab's file is not written,
    // unless it was in place already.
    void stop();

private:
    struct Lane;

    void startNext(Lane& lane);
    bool start(Lane& lane, qsizetype index);
    void end(Lane& lane, Outcome outcome, const QString& error = {});
    bool anyRunning() const;

    std::vector<std::unique_ptr<Lane>> m_lanes;
    const QList<TrackEntry>& m_plan;
    RipReporter& m_reporter;
    CliOptions::Existing m_existing = CliOptions::Existing::Fail;
    qsizetype m_next = 0; // the plan's first track not yet taken
    bool m_stopped = false;
    QEventLoop* m_loop = nullptr;
};
