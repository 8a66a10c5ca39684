#pragma once

#include "components/result.h"

#include <QPointer>
#include <QString>

class CdGrabber;
class QEventLoop;

// One track grabbed into one file: the track is made current on the grabber by its place on the
// disc, its grab is started, and the wait for its end keeps events flowing. The main window's
// batch and the command-line tool both grab through it. Each follows the grabber's events in its
// own way and says here when the track has ended.
class TrackGrab
{
public:
    explicit TrackGrab(CdGrabber& grabber);

    // Makes the track current: disc session and track, both counted from 0.
    Status select(int session, int track);

    // A track is under way from begin() until end(): being asked about, grabbed, or winding down.
    bool running() const { return m_running; }
    void begin() { m_running = true; }
    // Starts grabbing the current track into path (a begin() is implied); a file at path is
    // replaced only with replace. A grab that can't start has ended at once.
    Status start(const QString& path, bool replace);
    // The track has ended: written, failed, declined or stopped. Ends a wait().
    void end();
    // Stops the grabber's running grab; its file is not written. The track has ended.
    void stop();

    // Waits while the track runs, keeping events flowing; it looks again at least every
    // PollMs, on a monotonic clock.
    void wait();
    static constexpr int PollMs = 200;

private:
    CdGrabber& m_grabber;
    bool m_running = false;
    QPointer<QEventLoop> m_wait;
};
