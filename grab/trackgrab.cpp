#include "grab/trackgrab.h"

#include "components/cdgrabber.h"

#include <QEventLoop>
#include <QTimer>

TrackGrab::TrackGrab(CdGrabber& grabber) : m_grabber(grabber) {}

Status TrackGrab::select(int session, int track)
{
    if (Status s = m_grabber.SetCurrentSession(session); !s.ok())
        return s;
    return m_grabber.SetCurrentTrack(track);
}

Status TrackGrab::start(const QString& path, bool replace)
{
    begin();
    Status started = m_grabber.GrabTrack(path, replace);
    if (!started.ok())
        end();
    return started;
}

void TrackGrab::end()
{
    m_running = false;
    // The wait may be under a modal dialog's loop; it ends once that one has returned.
    if (m_wait)
        m_wait->quit();
}

void TrackGrab::stop()
{
    m_grabber.StopGrab();
    end();
}

void TrackGrab::wait()
{
    while (m_running) {
        QEventLoop loop;
        m_wait = &loop;
        QTimer::singleShot(PollMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
