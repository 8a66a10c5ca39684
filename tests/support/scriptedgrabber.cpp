#include "scriptedgrabber.h"

#include <QTimer>

#include <utility>

ScriptedGrabber::Drive ScriptedGrabber::drive(const QString& letter, QList<int> tracksPerSession)
{
    Drive d{
        letter, QStringLiteral("VENDOR"), QStringLiteral("PRODUCT"), QStringLiteral("1.00"), {}};
    for (int count : tracksPerSession)
        d.sessions << QList<Track>(count);
    return d;
}

Status ScriptedGrabber::check(const QString& operation) const
{
    if (failing.contains(operation))
        return Failure{operation + QStringLiteral(" failed")};
    return {};
}

Status ScriptedGrabber::Refresh()
{
    calls << QStringLiteral("Refresh");
    if (Status s = check(QStringLiteral("Refresh")); !s.ok())
        return s;
    m_drives = drives;
    m_drive = m_drives.isEmpty() ? 0 : 1;
    m_session = m_track = 0;
    return {};
}

Status ScriptedGrabber::SetCurrentDrive(int drive)
{
    calls << QStringLiteral("SetCurrentDrive %1").arg(drive);
    if (Status s = check(QStringLiteral("SetCurrentDrive")); !s.ok())
        return s;
    if (drive >= 1 && drive <= DriveCount()) {
        m_drive = drive;
        m_session = m_track = 0;
    }
    return {};
}

const ScriptedGrabber::Drive* ScriptedGrabber::current() const
{
    return m_drive >= 1 && m_drive <= DriveCount() ? &m_drives[m_drive - 1] : nullptr;
}

const ScriptedGrabber::Track* ScriptedGrabber::currentTrack() const
{
    const Drive* d = current();
    if (!d || m_session >= d->sessions.size() || m_track >= d->sessions[m_session].size())
        return nullptr;
    return &d->sessions[m_session][m_track];
}

Result<int> ScriptedGrabber::SessionCount() const
{
    if (Status s = check(QStringLiteral("SessionCount")); !s.ok())
        return Failure{s.error()};
    return current() ? int(current()->sessions.size()) : 0;
}

Status ScriptedGrabber::SetCurrentSession(int session)
{
    calls << QStringLiteral("SetCurrentSession %1").arg(session);
    if (Status s = check(QStringLiteral("SetCurrentSession")); !s.ok())
        return s;
    if (current() && session >= 0 && session < current()->sessions.size()) {
        m_session = session;
        m_track = 0;
    }
    return {};
}

Result<int> ScriptedGrabber::TrackCount() const
{
    if (Status s = check(QStringLiteral("TrackCount")); !s.ok())
        return Failure{s.error()};
    const Drive* d = current();
    return d && m_session < d->sessions.size() ? int(d->sessions[m_session].size()) : 0;
}

Status ScriptedGrabber::SetCurrentTrack(int track)
{
    calls << QStringLiteral("SetCurrentTrack %1").arg(track);
    if (Status s = check(QStringLiteral("SetCurrentTrack")); !s.ok())
        return s;
    const Drive* d = current();
    if (d && m_session < d->sessions.size() && track >= 0 && track < d->sessions[m_session].size())
        m_track = track;
    return {};
}

int ScriptedGrabber::TrackType() const
{
    return currentTrack() ? currentTrack()->type : TrackTypeAudio;
}

qint64 ScriptedGrabber::TrackSectors() const
{
    return currentTrack() ? currentTrack()->sectors : 0;
}

Status ScriptedGrabber::GrabTrack(const QString& path)
{
    calls << QStringLiteral("GrabTrack ") + path;
    grabs << GrabCall{path, m_session, m_track};
    if (Status s = check(QStringLiteral("GrabTrack")); !s.ok())
        return s;
    if (grabScripts.isEmpty())
        return {};
    GrabScript script = grabScripts.takeFirst();
    if (script.burst) {
        for (const double percent : std::as_const(script.progress))
            QTimer::singleShot(0, this, [this, percent] { emit OperationProgress(percent); });
        script.progress.clear();
    }
    QTimer::singleShot(0, this, [this, script] { playGrabScript(script); });
    return {};
}

void ScriptedGrabber::playGrabScript(GrabScript script)
{
    // One event per turn, each scheduled only after the previous one was handled, as a worker
    // thread's queued signals would arrive.
    if (!script.progress.isEmpty()) {
        emit OperationProgress(script.progress.takeFirst());
    } else if (!script.failure.isEmpty()) {
        emit GrabFailed(std::exchange(script.failure, QString()));
    } else {
        return;
    }
    QTimer::singleShot(0, this, [this, script] { playGrabScript(script); });
}

Status ScriptedGrabber::OpenArrayRead()
{
    calls << QStringLiteral("OpenArrayRead");
    m_readSector = 0;
    return check(QStringLiteral("OpenArrayRead"));
}

Result<QByteArray> ScriptedGrabber::ReadArray(int sectors)
{
    calls << QStringLiteral("ReadArray %1").arg(sectors);
    if (Status s = check(QStringLiteral("ReadArray")); !s.ok())
        return Failure{s.error()};
    QByteArray chunk;
    for (int k = 0; k < sectors && m_readSector < TrackSectors(); ++k, ++m_readSector)
        chunk += QByteArray(SectorSize(), char(m_readSector));
    return chunk;
}

Status ScriptedGrabber::SeekArray(qint64 sector, int mode)
{
    calls << QStringLiteral("SeekArray %1 %2").arg(sector).arg(mode);
    m_readSector = sector;
    return check(QStringLiteral("SeekArray"));
}
