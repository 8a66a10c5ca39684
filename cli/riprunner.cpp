#include "cli/riprunner.h"

#include "cli/ripreporter.h"
#include "components/cdgrabber.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <utility>

#include <sys/stat.h>

namespace
{

// The file a path leads to, by its identity; none when there is none. A link is followed, as
// the grab replaces the file it points at.
std::optional<std::pair<dev_t, ino_t>> fileAt(const QString& path)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
}

} // namespace

struct RipRunner::Lane {
    Lane(int number, CdGrabber& grabber) : number(number), grabber(grabber), grab(grabber) {}

    const int number;
    CdGrabber& grabber;
    TrackGrab grab;
    qsizetype index = -1;                          // the plan's track it grabs
    std::optional<std::pair<dev_t, ino_t>> before; // the file at its path when the grab started
};

RipRunner::RipRunner(const QList<CdGrabber*>& lanes, const QList<TrackEntry>& plan,
                     RipReporter& reporter)
    : m_plan(plan), m_reporter(reporter)
{
    for (CdGrabber* grabber : lanes)
        m_lanes.push_back(std::make_unique<Lane>(int(m_lanes.size()), *grabber));
}

RipRunner::~RipRunner() = default;

void RipRunner::run(CliOptions::Existing existing)
{
    m_existing = existing;
    QEventLoop loop;
    // The grabbers' events reach the run while it lasts; an event of a grab that has ended
    // (one stopped, whose queued events still arrive) is no lane's any more.
    QObject events;
    // A lane takes its next track once the grabber's event is over.
    const auto takeNext = [this, &loop](Lane* l) {
        QMetaObject::invokeMethod(
            &loop, [this, l] { startNext(*l); }, Qt::QueuedConnection);
    };
    for (const auto& lane : m_lanes) {
        Lane* const l = lane.get();
        QObject::connect(&l->grabber, &CdGrabber::OperationProgress, &events,
                         [this, l, takeNext](double percent) {
                             if (!l->grab.running())
                                 return;
                             m_reporter.progress(l->number, percent);
                             if (percent == 100.0) {
                                 end(*l, Outcome::Written);
                                 takeNext(l);
                             }
                         });
        QObject::connect(&l->grabber, &CdGrabber::GrabFailed, &events,
                         [this, l, takeNext](const QString& description) {
                             if (!l->grab.running())
                                 return;
                             end(*l, Outcome::Failed, description);
                             takeNext(l);
                         });
        QObject::connect(&l->grabber, &CdGrabber::GrabRetry, &events, [this, l](int retry, qint64) {
            if (l->grab.running())
                m_reporter.retried(l->number, retry);
        });
    }
    m_loop = &loop;
    for (const auto& lane : m_lanes)
        startNext(*lane);
    if (anyRunning())
        loop.exec();
    m_loop = nullptr;
}

void RipRunner::startNext(Lane& lane)
{
    while (m_next < m_plan.size() && !m_stopped) {
        const qsizetype index = m_next++;
        const TrackEntry& entry = m_plan[index];
        // A name template's folders are made as their first track is grabbed.
        QDir().mkpath(QFileInfo(entry.path).absolutePath());
        if (QFileInfo::exists(entry.path) && m_existing != CliOptions::Existing::Overwrite) {
            if (m_existing == CliOptions::Existing::Skip)
                m_reporter.skipped(index);
            else
                m_reporter.refused(index);
            continue;
        }
        if (start(lane, index))
            return;
    }
    if (!anyRunning() && m_loop)
        m_loop->quit();
}

bool RipRunner::start(Lane& lane, qsizetype index)
{
    const TrackEntry& entry = m_plan[index];
    lane.index = index;
    lane.grab.begin();
    m_reporter.started(lane.number, index);
    Status started = entry.number == 0 ? lane.grabber.SelectHiddenTrack()
                                       : lane.grab.select(entry.session, entry.track);
    lane.before = fileAt(entry.path);
    if (started.ok())
        started = lane.grab.start(entry.path, m_existing == CliOptions::Existing::Overwrite);
    if (started.ok())
        return true;
    end(lane, Outcome::Failed, started.error());
    return false;
}

void RipRunner::end(Lane& lane, Outcome outcome, const QString& error)
{
    lane.grab.end();
    const CdGrabber::ReadReport read = lane.grabber.LastReadReport();
    m_reporter.ended(lane.number, {outcome, error, lane.grabber.LastGrabProof(), read});
    // Without its disc the drive can rip nothing more: the tracks not started are named once.
    if (outcome == Outcome::Failed && read.discRemoved) {
        m_reporter.notRipped(m_next);
        m_next = m_plan.size();
    }
}

void RipRunner::stop()
{
    m_stopped = true;
    for (const auto& lane : m_lanes) {
        if (!lane->grab.running())
            continue;
        lane->grab.stop();
        // From the stop on the grab's file takes the name no more. A stop that came as the grab
        // ended may have come after the file was put in place, its end still on the way: another
        // file at the path than before is the grab's.
        const auto after = fileAt(m_plan[lane->index].path);
        end(*lane, after && after != lane->before ? Outcome::Written : Outcome::Stopped);
    }
    if (m_loop)
        m_loop->quit();
}

bool RipRunner::anyRunning() const
{
    return std::any_of(m_lanes.begin(), m_lanes.end(),
                       [](const auto& lane) { return lane->grab.running(); });
}
