#include "components/alsa/alsaplayer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <algorithm>

// The player on ALSA's null device, which takes any amount of audio at once: everything timed
// here is the player's own pacing.

namespace
{

constexpr qint64 Rate = AudioPlayer::SampleRate;

// A square wave of 50-frame halves, each channel between +peak and -peak (32767 and -32768 at
// full scale).
QByteArray square(qint64 frames, int leftPeak, int rightPeak)
{
    QByteArray chunk(frames * AudioPlayer::BytesPerFrame, Qt::Uninitialized);
    auto* samples = reinterpret_cast<qint16*>(chunk.data());
    for (qint64 i = 0; i < frames; ++i) {
        const bool high = i / 50 % 2 == 0;
        samples[2 * i] = qint16(high ? std::min(leftPeak, 32767) : -leftPeak);
        samples[2 * i + 1] = qint16(high ? std::min(rightPeak, 32767) : -rightPeak);
    }
    return chunk;
}

QByteArray silence(qint64 frames)
{
    return QByteArray(frames * AudioPlayer::BytesPerFrame, 0);
}

} // namespace

class TestAlsaPlayer : public QObject
{
    Q_OBJECT

private slots:
    void playsInRealTime()
    {
        AlsaPlayer player;
        qint64 fed = 0;
        bool askedWithEnoughQueued = false;
        connect(&player, &AudioPlayer::RequestOnLoadArray, this, [&] {
            askedWithEnoughQueued |= fed - player.playedFrames() >= Rate / 2;
            if (fed < 3 * Rate) {
                player.AddArray(silence(Rate / 5));
                fed += Rate / 5;
            }
        });
        QSignalSpy requests(&player, &AudioPlayer::RequestOnLoadArray);
        QSignalSpy timer(&player, &AudioPlayer::Timer);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(player.StartArrayPlay().ok());
        QTest::qWait(1000);
        const qint64 played = player.playedFrames();
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(played <= (elapsed + 1) * Rate / 1000 && played >= Rate * 7 / 10,
                 qPrintable(QStringLiteral("%1 frames in %2 ms").arg(played).arg(elapsed)));
        QVERIFY(!askedWithEnoughQueued);
        QVERIFY(timer.count() >= 10);
        QTRY_VERIFY(player.playedFrames() > played);

        // A request raised while this thread is busy is not seen after the stop.
        QThread::msleep(300);
        clock.restart();
        player.Stop();
        QVERIFY(clock.elapsed() < 50);
        const qint64 stopped = player.playedFrames();
        const qsizetype told = requests.count() + timer.count();
        QTest::qWait(200);
        QCOMPARE(player.playedFrames(), stopped);
        QCOMPARE(requests.count() + timer.count(), told);
    }

    void endsAndStarves()
    {
        AlsaPlayer player;
        QSignalSpy requests(&player, &AudioPlayer::RequestOnLoadArray);
        QSignalSpy starved(&player, &AudioPlayer::EndArrayPlay);
        QSignalSpy ended(&player, &AudioPlayer::EndPlay);
        QVERIFY(player.StartArrayPlay().ok());
        QVERIFY(requests.wait(1000));

        // 0.2 s is too little: it is asked for again, and played out it is starved.
        QElapsedTimer clock;
        clock.start();
        player.AddArray(silence(Rate / 5));
        QVERIFY(starved.wait(2000));
        QVERIFY(clock.elapsed() >= 200);
        QCOMPARE(requests.count(), 2);
        QCOMPARE(player.playedFrames(), Rate / 5);

        // The dry spell is not made up for: what comes later plays at its pace.
        QTest::qWait(300);
        clock.restart();
        player.AddArray(silence(Rate * 2 / 5));
        QVERIFY(starved.wait(2000));
        QVERIFY(clock.elapsed() >= 400);

        // The end marked once everything has played ends it at once.
        player.AddArray(QByteArray());
        QVERIFY(ended.wait(1000));
        QCOMPARE(player.playedFrames(), Rate * 3 / 5);
        QTest::qWait(100);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(starved.count(), 2);
    }

    void clearStartsOver()
    {
        AlsaPlayer player;
        QSignalSpy requests(&player, &AudioPlayer::RequestOnLoadArray);
        QSignalSpy starved(&player, &AudioPlayer::EndArrayPlay);
        QSignalSpy ended(&player, &AudioPlayer::EndPlay);
        QVERIFY(player.StartArrayPlay().ok());
        QVERIFY(requests.wait(1000));
        player.AddArray(silence(Rate / 5));
        player.AddArray(QByteArray());
        // Its end is raised while this thread is busy, and the clear comes before it is seen.
        QThread::msleep(500);
        QCOMPARE(player.playedFrames(), Rate / 5);

        player.ClearArrays();
        QCOMPARE(player.playedFrames(), 0);
        QVERIFY(requests.wait(1000));
        QTest::qWait(300);
        QCOMPARE(ended.count() + starved.count(), 0);
        QCOMPARE(player.playedFrames(), 0);

        QElapsedTimer clock;
        clock.start();
        player.AddArray(silence(Rate / 5));
        player.AddArray(QByteArray());
        QVERIFY(ended.wait(2000));
        QVERIFY(clock.elapsed() >= 200);
        QCOMPARE(player.playedFrames(), Rate / 5);
    }

    void levels_data()
    {
        QTest::addColumn<int>("leftPeak");
        QTest::addColumn<int>("rightPeak");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::newRow("full scale") << 32768 << 32768 << 100 << 100;
        QTest::newRow("-60 dBFS") << 33 << 33 << 40 << 40;
        QTest::newRow("silence") << 0 << 0 << 0 << 0;
        QTest::newRow("left only") << 32768 << 0 << 100 << 0;
    }

    void levels()
    {
        QFETCH(int, leftPeak);
        QFETCH(int, rightPeak);
        QFETCH(int, left);
        QFETCH(int, right);
        AlsaPlayer player;
        QSignalSpy requests(&player, &AudioPlayer::RequestOnLoadArray);
        QSignalSpy ended(&player, &AudioPlayer::EndPlay);
        QSignalSpy timer(&player, &AudioPlayer::Timer);
        QVERIFY(player.StartArrayPlay().ok());
        QVERIFY(requests.wait(1000));
        player.AddArray(square(Rate * 3 / 10, leftPeak, rightPeak));
        player.AddArray(QByteArray());
        QVERIFY(ended.wait(2000));
        int loudestLeft = 0;
        int loudestRight = 0;
        for (const QList<QVariant>& tick : std::as_const(timer)) {
            loudestLeft = std::max(loudestLeft, tick.at(1).toInt());
            loudestRight = std::max(loudestRight, tick.at(2).toInt());
        }
        QCOMPARE(loudestLeft, left);
        QCOMPARE(loudestRight, right);
    }

    void deviceThatCannotBeOpened()
    {
        // Empty or unset, the variable means the default device.
        const QByteArray device = qgetenv("TAMBREL_AUDIO_DEVICE");
        qputenv("TAMBREL_AUDIO_DEVICE", "nosuchdevice");
        AlsaPlayer player;
        QSignalSpy requests(&player, &AudioPlayer::RequestOnLoadArray);
        QSignalSpy timer(&player, &AudioPlayer::Timer);
        const Status status = player.StartArrayPlay();
        qputenv("TAMBREL_AUDIO_DEVICE", device);
        QVERIFY(!status.ok());
        QVERIFY2(status.error().contains(QLatin1StringView("nosuchdevice")),
                 qPrintable(status.error()));
        // ALSA's own line is in the message, not on standard error.
        QVERIFY2(status.error().contains(QLatin1StringView("(Unknown PCM nosuchdevice)")),
                 qPrintable(status.error()));
        QTest::qWait(100);
        QCOMPARE(requests.count() + timer.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAlsaPlayer)
#include "tst_alsaplayer.moc"
