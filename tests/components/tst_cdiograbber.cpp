#include "components/cdio/cdiograbber.h"
#include "support/discimage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace discimage;

namespace
{

TrackSpec audio(qint64 sectors, double frequency = 440.0)
{
    return {TrackKind::Audio, sectors, Content::Tone, frequency};
}

TrackSpec data(qint64 sectors)
{
    return {TrackKind::Data, sectors, Content::Silence, 0};
}

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

// The drives libcdio finds on this machine come first; images follow in the order given.
int imageDrive(const CdGrabber& grabber, int image, int images = 1)
{
    return grabber.DriveCount() - images + 1 + image;
}

} // namespace

class TestCdioGrabber : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString image(const QString& name, const DiscSpec& disc)
    {
        const QString cue = m_dir.filePath(name + QStringLiteral(".cue"));
        const auto error = writeImage(cue, disc);
        if (error)
            qFatal("%s", qPrintable(*error));
        return cue;
    }

private slots:
    void tracksOfAnImage()
    {
        // 4:05.120 is 18384 sectors; 75 sectors make a second.
        const QString cue = image(QStringLiteral("mixed"),
                                  {{audio(18384), audio(75 * 7 + 1, 660), data(300), audio(75)}});
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 0)).ok());
        QCOMPARE(grabber.DriveLetter(), cue);
        QVERIFY(!grabber.DriveProduct().isEmpty());
        QCOMPARE(grabber.SessionCount().value(), 1);
        QCOMPARE(grabber.TrackCount().value(), 4);

        const struct {
            int type;
            qint64 sectors;
            int minutes, seconds, fraction;
        } expected[] = {{CdGrabber::TrackTypeAudio, 18384, 4, 5, 120},
                        {CdGrabber::TrackTypeAudio, 526, 0, 7, 13},
                        {CdGrabber::TrackTypeData, 300, 0, 4, 0},
                        {CdGrabber::TrackTypeAudio, 75, 0, 1, 0}};
        for (int t = 0; t < 4; ++t) {
            QVERIFY(grabber.SetCurrentTrack(t).ok());
            QCOMPARE(grabber.CurrentTrack(), t);
            QCOMPARE(grabber.TrackType(), expected[t].type);
            QCOMPARE(grabber.TrackSectors(), expected[t].sectors);
            QCOMPARE(grabber.TrackMinutes(), expected[t].minutes);
            QCOMPARE(grabber.TrackSeconds(), expected[t].seconds);
            QCOMPARE(grabber.TrackFraction(), expected[t].fraction);
        }

        // Indices outside the disc are ignored: the current ones stay.
        QVERIFY(grabber.SetCurrentTrack(4).ok());
        QVERIFY(grabber.SetCurrentTrack(-1).ok());
        QCOMPARE(grabber.CurrentTrack(), 3);
        QVERIFY(grabber.SetCurrentSession(1).ok());
        QCOMPARE(grabber.CurrentSession(), 0);
        const int drive = grabber.CurrentDrive();
        QVERIFY(grabber.SetCurrentDrive(grabber.DriveCount() + 1).ok());
        QVERIFY(grabber.SetCurrentDrive(0).ok());
        QCOMPARE(grabber.CurrentDrive(), drive);

        QVERIFY(grabber.AudioFile());
        QCOMPARE(grabber.AudioFile(), grabber.AudioFile());
        QVERIFY(!grabber.Busy());
    }

    void imagesFollowInOrder()
    {
        const QString first = image(QStringLiteral("first"), {{audio(750)}});
        const QString second = image(QStringLiteral("second"), {{audio(750), audio(750)}});
        CdioGrabber grabber({first, second});
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.DriveCount() >= 2);
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 0, 2)).ok());
        QCOMPARE(grabber.DriveLetter(), first);
        QCOMPARE(grabber.TrackCount().value(), 1);
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 1, 2)).ok());
        QCOMPARE(grabber.DriveLetter(), second);
        QCOMPARE(grabber.TrackCount().value(), 2);
    }

    void unreadableImagesFailWithAReason_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing file")
            << QStringLiteral("missing") << QStringLiteral("does not exist");
        QTest::newRow("not a cue sheet")
            << QStringLiteral("garbage") << QStringLiteral("cannot be read");
        QTest::newRow("data file cut short")
            << QStringLiteral("short") << QStringLiteral("damaged");
        QTest::newRow("data file gone")
            << QStringLiteral("nobin") << QStringLiteral("No such file");
    }

    void unreadableImagesFailWithAReason()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QString cue = m_dir.filePath(kind + QStringLiteral(".cue"));
        if (kind == QLatin1String("garbage")) {
            QFile file(cue);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("\x01\x02 this is no cue sheet\nTRACK banana\n");
        } else if (kind != QLatin1String("missing")) {
            cue = image(kind, {{audio(750), audio(750)}});
            const QString bin = m_dir.filePath(kind + QStringLiteral(".bin"));
            if (kind == QLatin1String("short"))
                QVERIFY(QFile::resize(bin, 2352 * 500));
            else
                QVERIFY(QFile::remove(bin));
        }
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 0)).ok());
        QCOMPARE(grabber.DriveLetter(), cue);
        const Result<int> sessions = grabber.SessionCount();
        QVERIFY(!sessions.ok());
        QVERIFY2(sessions.error().contains(expected), qPrintable(sessions.error()));
        QVERIFY(sessions.error().contains(cue));
        QVERIFY(!grabber.TrackCount().ok());
        QCOMPARE(grabber.TrackSectors(), 0);
    }

    void replacingAnImageIsADiscChange()
    {
        const QString cue = image(QStringLiteral("swap"), {{audio(750), audio(750)}});
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok());
        QSignalSpy changes(&grabber, &CdGrabber::MediaChange);

        // Files written beside the image are not a change of the disc.
        QFile other(m_dir.filePath(QStringLiteral("Session1_Track1.wav")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write("RIFF");
        other.close();
        QVERIFY(!changes.wait(1200));

        // A new disc written elsewhere and renamed over the old one, as a burner or a user would.
        QDir staging(m_dir.filePath(QStringLiteral("staging")));
        QVERIFY(staging.mkpath(QStringLiteral(".")));
        const QString newCue = staging.filePath(QStringLiteral("swap.cue"));
        QVERIFY(!writeImage(newCue, {{audio(750), audio(750), audio(1500)}}));
        QVERIFY(
            ::rename(QFile::encodeName(staging.filePath(QStringLiteral("swap.bin"))).constData(),
                     QFile::encodeName(m_dir.filePath(QStringLiteral("swap.bin"))).constData()) ==
            0);
        QVERIFY(::rename(QFile::encodeName(newCue).constData(),
                         QFile::encodeName(cue).constData()) == 0);
        QVERIFY(changes.wait(5000));
        QTest::qWait(500);
        QCOMPARE(changes.size(), 1);

        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 0)).ok());
        QCOMPARE(grabber.TrackCount().value(), 3);

        // Still watched after the rename: a second replacement is seen too.
        QVERIFY(!writeImage(cue, {{audio(300)}}));
        QVERIFY(changes.wait(5000));
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 0)).ok());
        QCOMPARE(grabber.TrackCount().value(), 1);
    }

    void closedGrabberIsQuiet()
    {
        const QString cue = image(QStringLiteral("closing"), {{audio(750)}});
        const int threads = threadCount();
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok());
        // Drives are polled on a thread of their own; images alone start none.
        if (grabber.DriveCount() == 1)
            QCOMPARE(threadCount(), threads);
        QSignalSpy changes(&grabber, &CdGrabber::MediaChange);
        QElapsedTimer closing;
        closing.start();
        grabber.Close();
        QVERIFY2(closing.elapsed() < 100, qPrintable(QString::number(closing.elapsed())));
        QVERIFY(!writeImage(cue, {{audio(300)}}));
        QVERIFY(!changes.wait(1000));
        QVERIFY(!grabber.Refresh().ok());
        QCOMPARE(grabber.DriveCount(), 0);
        grabber.Close();
    }
};

QTEST_GUILESS_MAIN(TestCdioGrabber)
#include "tst_cdiograbber.moc"
