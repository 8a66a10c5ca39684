#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class QThread;

// Asks the CD drives at regular intervals whether their disc changed, on a thread of its own:
// opening an empty drive and reading its table of contents can take long enough to stall the
// window. The poller opens its own libcdio handles; a handle is never shared between threads.
// Every function is called on the thread the poller was made on.
class DrivePoller : public QObject
{
    Q_OBJECT

public:
    struct Drive {
        QString device;
        bool hasDisc = false; // as last read: a readable disc, or none
    };

    explicit DrivePoller(int intervalMs, QObject* parent = nullptr);
    ~DrivePoller() override; // stop()

    // Polls these drives from now on, starting from the state given. The thread starts with the
    // first drives given; with none it waits without polling.
    void setDrives(const QList<Drive>& drives);
    // While paused no drive is touched (a grab is reading one); a poll under way finishes.
    void setPaused(bool paused) { m_paused = paused; }
    // Ends the thread and waits for it: at once, unless a drive is answering a poll.
    void stop();

signals:
    // A drive's disc was inserted, removed or changed. Emitted on the poller's thread; after it
    // the poller is quiet until setDrives() hands it the drives read again.
    void mediaChanged();

private:
    void run();

    const int m_intervalMs;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    QList<Drive> m_drives;    // guarded by m_mutex
    quint64 m_generation = 0; // raised by setDrives(); guarded by m_mutex
    bool m_quit = false;      // guarded by m_mutex
    std::atomic<bool> m_paused{false};
    std::unique_ptr<QThread> m_thread;
};
