#include "cli/ripreporter.h"

#include "cli/cliripper.h"
#include "cli/printable.h"
#include "grab/trackoutput.h"

#include <QTextStream>

#include <algorithm>
#include <utility>

namespace
{

QString lengthText(qint64 sectors)
{
    const qint64 seconds = sectors / CdGrabber::SectorsPerSecond;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// ", 3 reads retried" once the drive has needed retries on the track.
QString retriesText(int retries)
{
    if (retries == 0)
        return {};
    return retries == 1 ? QStringLiteral(", 1 read retried")
                        : QStringLiteral(", %1 reads retried").arg(retries);
}

constexpr qsizetype MaxBarWidth = 24;
constexpr qsizetype MinBarWidth = 5;

} // namespace

RipReporter::RipReporter(const QList<TrackEntry>& plan, int lanes, QTextStream& err,
                         std::function<int()> columns, bool quiet, const CdGrabber::DiscToc& toc,
                         int formatCode)
    : m_plan(plan), m_lanes(std::size_t(std::max(1, lanes))), m_err(err),
      m_columns(std::move(columns)), m_quiet(quiet), m_toc(toc),
      m_format(trackoutput::extension(formatCode).mid(1).toUpper())
{
}

void RipReporter::started(int lane, qsizetype index)
{
    Lane& l = m_lanes[std::size_t(lane)];
    l = Lane{index, true, 0.0, 0, {}};
    l.timer.start();
    showProgress();
}

void RipReporter::retried(int lane, int retry)
{
    Lane& l = m_lanes[std::size_t(lane)];
    l.retries = std::max(l.retries, retry);
}

void RipReporter::progress(int lane, double percent)
{
    m_lanes[std::size_t(lane)].percent = percent;
    showProgress();
}

void RipReporter::ended(int lane, const Ending& ending)
{
    Lane& l = m_lanes[std::size_t(lane)];
    l.running = false;
    ++m_done;
    const TrackEntry& entry = m_plan[l.index];
    switch (ending.outcome) {
    case RipRunner::Outcome::Written:
        if (!m_quiet)
            say() << entry.name << " -> " << printable::escaped(entry.path) << "  ("
                  << lengthText(entry.sectors) << ", " << QString::number(speed(l, 100.0), 'f', 1)
                  << 'x' << retriesText(l.retries) << ')' << Qt::endl;
        logTrack(entry, QStringLiteral("written"), l.retries, ending.proof, ending.read);
        break;
    case RipRunner::Outcome::Failed:
        ++m_failures;
        say() << entry.name << " failed: " << printable::escaped(ending.error) << Qt::endl;
        logTrack(entry, QStringLiteral("failed: ") + ending.error, l.retries, {}, ending.read);
        break;
    case RipRunner::Outcome::Stopped:
        say() << entry.name << " stopped; its file was not written." << Qt::endl;
        logTrack(entry, QStringLiteral("stopped"), l.retries);
        break;
    }
    showProgress();
}

void RipReporter::skipped(qsizetype index)
{
    const TrackEntry& entry = m_plan[index];
    ++m_done;
    if (!m_quiet)
        say() << entry.name << " skipped: " << printable::escaped(entry.path) << " exists."
              << Qt::endl;
    logTrack(entry, QStringLiteral("skipped: the file exists"));
}

void RipReporter::refused(qsizetype index)
{
    const TrackEntry& entry = m_plan[index];
    ++m_done;
    ++m_failures;
    say() << entry.name << " failed: " << printable::escaped(entry.path)
          << " exists; give --overwrite to replace it or --skip-existing to leave it." << Qt::endl;
    logTrack(entry, QStringLiteral("failed: the file exists"));
}

void RipReporter::notRipped(qsizetype index)
{
    const qsizetype left = m_plan.size() - index;
    for (qsizetype rest = index; rest < m_plan.size(); ++rest)
        logTrack(m_plan[rest], QStringLiteral("not ripped: the disc was removed"));
    m_failures += int(left);
    m_done += int(left);
    if (left > 0)
        say() << "tambrel-cli: the disc was removed; " << left
              << (left == 1 ? " more track was" : " more tracks were") << " not ripped."
              << Qt::endl;
}

void RipReporter::stoppedBeforeStart()
{
    for (const TrackEntry& entry : m_plan) {
        // A plan names each track once.
        if (std::none_of(m_log.begin(), m_log.end(), [&entry](const riplog::Track& track) {
                return track.number == entry.number;
            }))
            logTrack(entry, QStringLiteral("not ripped: the run was stopped"));
    }
}

int RipReporter::status(bool interrupted)
{
    clearProgressLine();
    if (interrupted)
        return CliRipper::ExitFailed;
    if (m_failures > 0) {
        m_err << "tambrel-cli: " << m_failures << " of " << m_plan.size() << " tracks failed."
              << Qt::endl;
        return CliRipper::ExitFailed;
    }
    return CliRipper::ExitOk;
}

void RipReporter::logTrack(const TrackEntry& entry, const QString& result, int retries,
                           const CdGrabber::GrabProof& proof, const CdGrabber::ReadReport& read)
{
    riplog::Track track;
    track.number = entry.number;
    track.audioIndex = entry.audioIndex;
    track.name = entry.name;
    track.file = entry.path;
    track.format = m_format;
    track.firstSector = m_toc.firstSectors.value(entry.position);
    track.isrc = m_toc.isrcs.value(entry.position);
    track.preEmphasis = m_toc.preEmphasis.value(entry.position);
    track.sectors = entry.sectors;
    track.retries = retries;
    track.proof = proof;
    track.read = read;
    track.accurateRip = QStringLiteral("not looked up");
    track.result = result;
    m_log << track;
}

QTextStream& RipReporter::say()
{
    clearProgressLine();
    return m_err;
}

void RipReporter::showProgress()
{
    if (!m_columns)
        return;
    // A line longer than the terminal would wrap, and the next redraw could no longer clear it:
    // the bar gives way first, then the line is cut. The last column stays free for the cursor.
    const qsizetype room = qMax(1, m_columns() - 1);
    QString line;
    if (m_lanes.size() == 1) {
        const Lane& lane = m_lanes.front();
        if (!lane.running)
            return;
        const QString head = QStringLiteral("%1/%2 %3 ")
                                 .arg(lane.index + 1)
                                 .arg(m_plan.size())
                                 .arg(m_plan[lane.index].name);
        const QString tail = QString::number(lane.percent, 'f', 1) + QStringLiteral("%  ") +
                             QString::number(speed(lane, lane.percent), 'f', 1) + u'x' +
                             retriesText(lane.retries);
        const qsizetype barWidth =
            qMin<qsizetype>(MaxBarWidth, room - head.size() - tail.size() - 3);
        line = head;
        if (barWidth >= MinBarWidth) {
            const qsizetype filled =
                qBound<qsizetype>(0, qsizetype(lane.percent / 100.0 * barWidth), barWidth);
            line += u'[' + QString(filled, u'#') + QString(barWidth - filled, u'-') +
                    QStringLiteral("] ");
        }
        line += tail;
    } else {
        double running = 0.0;
        int busy = 0;
        for (const Lane& lane : m_lanes) {
            if (lane.running) {
                running += lane.percent / 100.0;
                ++busy;
            }
        }
        line =
            QStringLiteral("%1 of %2 tracks done, %3 running  %4%")
                .arg(m_done)
                .arg(m_plan.size())
                .arg(busy)
                .arg(100.0 * (m_done + running) / std::max<qsizetype>(1, m_plan.size()), 0, 'f', 1);
    }
    m_err << "\r\x1b[K" << line.left(room);
    m_err.flush();
    m_progressShown = true;
}

void RipReporter::clearProgressLine()
{
    if (!std::exchange(m_progressShown, false))
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
}

double RipReporter::speed(const Lane& lane, double percent) const
{
    const double audioSeconds =
        percent / 100.0 * double(m_plan[lane.index].sectors) / CdGrabber::SectorsPerSecond;
    const double seconds = double(lane.timer.nsecsElapsed()) / 1e9;
    return seconds > 0.0 ? audioSeconds / seconds : 0.0;
}
