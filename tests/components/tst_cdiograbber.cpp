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

// The disc the preview reads: noise, which shows a sector out of place, and a long track to grab.
const DiscSpec previewDisc{{audio(232),
                            {TrackKind::Audio, 400, Content::Noise, 0},
                            data(150),
                            audio(75, 660),
                            audio(75 * 30)},
                           3};

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
            << QStringLiteral("short")
            << QStringLiteral("is damaged: its data file \"short.bin\" is missing or too short");
        QTest::newRow("data file gone")
            << QStringLiteral("nobin")
            << QStringLiteral("is damaged: its data file \"nobin.bin\" is missing or too short");
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

    void previewReading_data()
    {
        QTest::addColumn<int>("track");
        QTest::addColumn<int>("chunk");   // sectors a read
        QTest::addColumn<qint64>("seek"); // -1: from the start
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("error"); // what the failure says; empty: the track is read
        const QString none;
        QTest::newRow("sector by sector") << 0 << 0 << -1LL << none << none;
        QTest::newRow("last chunk short") << 1 << 100 << -1LL << none << none;
        QTest::newRow("chunk longer than the track") << 3 << 1000 << -1LL << none << none;
        QTest::newRow("from the middle") << 1 << 37 << 150LL << none << none;
        QTest::newRow("before the start") << 3 << 40 << -5LL << none << none;
        QTest::newRow("past the end") << 1 << 10 << 1000000000LL << none << none;
        QTest::newRow("session 4 keeps the track")
            << 1 << 75 << -1LL << QStringLiteral("session 4") << none;
        QTest::newRow("verified, from the middle")
            << 1 << 50 << 123LL << QStringLiteral("verified") << none;
        QTest::newRow("data track") << 2 << 10 << -1LL << none << QStringLiteral("data track");
        QTest::newRow("image cut after opening")
            << 1 << 10 << -1LL << QStringLiteral("cut") << QStringLiteral("has changed");
        QTest::newRow("grab") << 1 << 10 << -1LL << QStringLiteral("grab")
                              << QStringLiteral("being grabbed");
    }

    void previewReading()
    {
        QFETCH(int, track);
        QFETCH(int, chunk);
        QFETCH(qint64, seek);
        QFETCH(QString, action);
        QFETCH(QString, error);
        const QString name = action == QLatin1String("cut") ? action : QStringLiteral("preview");
        const QString cue = QFile::exists(m_dir.filePath(name + QStringLiteral(".cue")))
                                ? m_dir.filePath(name + QStringLiteral(".cue"))
                                : image(name, previewDisc);
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(imageDrive(grabber, 0)).ok());
        QVERIFY(grabber.SetCurrentTrack(track).ok());
        grabber.setParanoiaOnImages(action == QLatin1String("verified") ||
                                    action == QLatin1String("grab"));
        if (action == QLatin1String("session 4")) {
            QVERIFY(grabber.SetCurrentSession(4).ok());
            QCOMPARE(grabber.CurrentSession(), 0);
            QCOMPARE(grabber.CurrentTrack(), track);
        }

        const Status opened = grabber.OpenArrayRead();
        QString failure = opened.error();
        if (opened.ok() && action == QLatin1String("grab")) {
            // A grab closes the preview's read, and none opens while the grab runs.
            QVERIFY(grabber.SetCurrentTrack(4).ok());
            QVERIFY(grabber.GrabTrack(m_dir.filePath(QStringLiteral("preview.wav"))).ok());
            QVERIFY(grabber.ReadArray(chunk).error().contains(error));
            failure = grabber.OpenArrayRead().error();
            grabber.Abort();
        }
        if (opened.ok() && action == QLatin1String("cut"))
            QVERIFY(QFile::resize(m_dir.filePath(QStringLiteral("cut.bin")), 2352 * 500));
        if (opened.ok() && seek >= 0)
            QVERIFY(grabber.SeekArray(seek, 3).ok());

        // The bytes a rip of the track holds, from the sector sought on.
        const QByteArray pcm = trackPcm(previewDisc, track);
        const QByteArray expected = pcm.mid(std::clamp<qint64>(seek, 0, pcm.size() / 2352) * 2352);
        QByteArray read;
        while (failure.isEmpty()) {
            const Result<QByteArray> next = grabber.ReadArray(chunk);
            failure = next.error();
            if (!next.ok() || next.value().isEmpty())
                break;
            QCOMPARE(next.value().size(),
                     std::min<qsizetype>(std::max(chunk, 1) * 2352, expected.size() - read.size()));
            read += next.value();
        }
        if (!error.isEmpty()) {
            QVERIFY2(failure.contains(error), qPrintable(failure));
            return;
        }
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QCOMPARE(read.size(), expected.size());
        QVERIFY(read == expected);

        // The preview's stop ends the read.
        QVERIFY(grabber.Busy());
        grabber.Abort();
        QVERIFY(!grabber.Busy());
        QVERIFY(!grabber.ReadArray(chunk).ok());
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
