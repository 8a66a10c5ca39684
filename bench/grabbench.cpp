// Grabs one track of a disc image through the grabber component and prints the wall time and the
// processor time (user + system, all threads) of the grab in seconds, and the peak resident
// memory in kilobytes: "WALL CPU KB".
#include "components/cdio/cdiograbber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>

#include <sys/resource.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        QTextStream(stderr) << "usage: grabbench IMAGE.cue TRACK OUTPUT\n";
        return 2;
    }
    CdioGrabber grabber({args[1]});
    if (Status s = grabber.Refresh(); !s.ok()) {
        QTextStream(stderr) << s.error() << '\n';
        return 1;
    }
    (void)grabber.SetCurrentDrive(grabber.DriveCount());
    (void)grabber.SetCurrentTrack(args[2].toInt() - 1);

    QEventLoop loop;
    QString failure;
    QObject::connect(&grabber, &CdGrabber::OperationProgress, &loop, [&](double percent) {
        if (percent == 100.0)
            loop.quit();
    });
    QObject::connect(&grabber, &CdGrabber::GrabFailed, &loop, [&](const QString& description) {
        failure = description;
        loop.quit();
    });
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer timer;
    timer.start();
    if (Status s = grabber.GrabTrack(args[3]); !s.ok()) {
        QTextStream(stderr) << s.error() << '\n';
        return 1;
    }
    loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!failure.isEmpty()) {
        QTextStream(stderr) << failure << '\n';
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto cpu = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    QTextStream(stdout) << QString::number(seconds, 'f', 3) << ' '
                        << QString::number(cpu(usage) - cpu(before), 'f', 3) << ' '
                        << usage.ru_maxrss << '\n';
    return 0;
}
