#include "app/livewait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

void waitLive(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds, Qt::PreciseTimer);
    QEventLoop loop;
    while (!deadline.hasExpired()) {
        const int remaining = int(std::max<qint64>(1, deadline.remainingTime()));
        QTimer::singleShot(remaining, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}
