#include "components/cdio/drivepoller.h"

#include <QFile>
#include <QThread>

#include <cdio/cdio.h>

#include <chrono>
#include <vector>

namespace
{

struct CdioCloser {
    void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};
using CdioHandle = std::unique_ptr<CdIo_t, CdioCloser>;

CdioHandle openDrive(const QString& device)
{
    return CdioHandle(cdio_open(QFile::encodeName(device).constData(), DRIVER_DEVICE));
}

// One drive as the poll thread sees it.
struct Polled {
    QString device;
    bool hasDisc = false;
    CdioHandle handle; // opened at the first poll of a drive holding a disc
};

// Whether the disc of any drive changed. A drive that held a disc is asked whether its medium
// changed; an empty one whether libcdio can now read a disc in it.
bool anyChanged(std::vector<Polled>& drives)
{
    for (Polled& drive : drives) {
        if (!drive.hasDisc) {
            const CdioHandle probe = openDrive(drive.device);
            if (probe && cdio_get_num_tracks(probe.get()) != CDIO_INVALID_TRACK)
                return true;
            continue;
        }
        if (!drive.handle)
            drive.handle = openDrive(drive.device);
        if (!drive.handle || cdio_get_media_changed(drive.handle.get()) == 1)
            return true;
    }
    return false;
}

} // namespace

DrivePoller::DrivePoller(int intervalMs, QObject* parent)
    : QObject(parent), m_intervalMs(intervalMs)
{
}

DrivePoller::~DrivePoller()
{
    stop();
}

void DrivePoller::setDrives(const QList<Drive>& drives)
{
    {
        const std::lock_guard lock(m_mutex);
        m_drives = drives;
        ++m_generation;
        m_wake.notify_all();
    }
    if (!m_thread && !drives.isEmpty()) {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->setObjectName(QStringLiteral("drive poll"));
        m_thread->start();
    }
}

void DrivePoller::stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_wake.notify_all();
    }
    if (m_thread)
        m_thread->wait();
}

void DrivePoller::run()
{
    std::vector<Polled> drives;
    quint64 generation = 0;
    bool reported = false;
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (generation != m_generation) {
            generation = m_generation;
            reported = false;
            drives.clear();
            for (const Drive& drive : std::as_const(m_drives))
                drives.push_back({drive.device, drive.hasDisc, nullptr});
        }
        const auto newDrivesOrQuit = [&] { return m_quit || generation != m_generation; };
        if (drives.empty() || reported) {
            m_wake.wait(lock, newDrivesOrQuit);
            continue;
        }
        if (m_wake.wait_for(lock, std::chrono::milliseconds(m_intervalMs), newDrivesOrQuit) ||
            m_paused)
            continue;

        lock.unlock();
        const bool changed = anyChanged(drives);
        lock.lock();
        // Emitted under the lock: once stop() or setDrives() has returned, nothing more comes
        // of the drives polled before.
        if (changed && !m_quit && generation == m_generation) {
            reported = true;
            emit mediaChanged();
        }
    }
    lock.unlock();
    drives.clear(); // closes the handles on this thread, which opened them
}
