#include "components/cdio/cdiograbber.h"
#include "support/discimage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace discimage;

namespace
{

// Three noise tracks of 4, 3 and 5 seconds, one after the other from sector 0.
const DiscSpec disc{{{TrackKind::Audio, 300, Content::Noise, 0},
                     {TrackKind::Audio, 225, Content::Noise, 0},
                     {TrackKind::Audio, 375, Content::Noise, 0}},
                    11};

// What a drive reading offset samples late holds for the track: the disc's audio shifted by the
// offset, silence before the disc's start and past its end.
QByteArray shifted(int track, int offset)
{
    QByteArray whole;
    qint64 start = 0;
    for (int t = 0; t < disc.tracks.size(); ++t) {
        if (t == track)
            start = whole.size();
        whole += trackPcm(disc, t);
    }
    const qint64 length = trackPcm(disc, track).size();
    QByteArray expected(length, '\0');
    const qint64 from = start + qint64(offset) * 4;
    for (qint64 i = std::max<qint64>(0, -from); i < length && from + i < whole.size(); ++i)
        expected[i] = whole[from + i];
    return expected;
}

} // namespace

class Test_readoffset : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cue;
    QString m_toc;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_cue = m_dir.filePath(QStringLiteral("disc.cue"));
        QVERIFY(!writeImage(m_cue, disc));
        // The same disc.bin as a cdrdao .toc, which libcdio reads (in a child, through paranoia
        // when asked to).
        m_toc = m_dir.filePath(QStringLiteral("disc.toc"));
        QFile toc(m_toc);
        QVERIFY(toc.open(QIODevice::WriteOnly));
        toc.write("CD_DA\n"
                  "TRACK AUDIO\nFILE \"disc.bin\" 0 00:04:00\n"
                  "TRACK AUDIO\nFILE \"disc.bin\" 00:04:00 00:03:00\n"
                  "TRACK AUDIO\nFILE \"disc.bin\" 00:07:00 00:05:00\n");
    }

    void trackIsTheDiscShiftedByTheOffset_data()
    {
        QTest::addColumn<int>("track");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("toc");    // the .toc read through paranoia, as a drive is
        QTest::addColumn<int>("preview"); // sectors a preview read; 0: a grab to WAV
        // Where the preview goes after its first read, back or on (a sector of the track).
        QTest::addColumn<int>("seek");
        QTest::newRow("0") << 1 << 0 << false << 0 << -1;
        QTest::newRow("+6") << 1 << 6 << false << 0 << -1;
        QTest::newRow("-30") << 1 << -30 << false << 0 << -1;
        QTest::newRow("+3 sectors and 7") << 1 << 588 * 3 + 7 << false << 0 << -1;
        QTest::newRow("-1000, first track") << 0 << -1000 << false << 0 << -1;
        QTest::newRow("+1000, last track") << 2 << 1000 << false << 0 << -1;
        QTest::newRow("-2 sectors exactly, first track") << 0 << -588 * 2 << false << 0 << -1;
        QTest::newRow("verified, -1000, first track") << 0 << -1000 << true << 0 << -1;
        QTest::newRow("verified, +3 sectors and 7") << 1 << 588 * 3 + 7 << true << 0 << -1;
        QTest::newRow("verified, +1000, last track") << 2 << 1000 << true << 0 << -1;
        QTest::newRow("preview, -30") << 1 << -30 << false << 7 << 100;
        QTest::newRow("preview, +1000, last track") << 2 << 1000 << false << 50 << 10;
        QTest::newRow("preview verified, +6") << 1 << 6 << true << 13 << 3;
    }

    void trackIsTheDiscShiftedByTheOffset()
    {
        QFETCH(int, track);
        QFETCH(int, offset);
        QFETCH(bool, toc);
        QFETCH(int, preview);
        QFETCH(int, seek);
        CdioGrabber grabber({toc ? m_toc : m_cue});
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(grabber.DriveCount()).ok());
        QCOMPARE(grabber.TrackCount().value(), 3);
        QVERIFY(grabber.SetCurrentTrack(track).ok());
        grabber.setParanoiaOnImages(toc);
        grabber.SetReadOffset(offset);
        QByteArray expected = shifted(track, offset);

        QByteArray pcm;
        if (preview) {
            QVERIFY(grabber.OpenArrayRead().ok());
            for (;;) {
                const Result<QByteArray> chunk = grabber.ReadArray(preview);
                QVERIFY2(chunk.ok(), qPrintable(chunk.error()));
                if (chunk.value().isEmpty())
                    break;
                QCOMPARE(chunk.value().size(),
                         std::min<qsizetype>(preview * 2352, expected.size() - pcm.size()));
                pcm += chunk.value();
                if (seek >= 0) {
                    QVERIFY(grabber.SeekArray(seek, 3).ok());
                    expected = expected.left(pcm.size()) + expected.mid(qsizetype(seek) * 2352);
                    seek = -1;
                }
            }
            grabber.Abort();
        } else {
            QSignalSpy progress(&grabber, &CdGrabber::OperationProgress);
            QSignalSpy failed(&grabber, &CdGrabber::GrabFailed);
            const QString path = m_dir.filePath(QStringLiteral("track.wav"));
            QFile::remove(path);
            QVERIFY(static_cast<CdGrabber&>(grabber).GrabTrack(path).ok());
            QElapsedTimer timer;
            timer.start();
            while (timer.elapsed() < 60000 && failed.isEmpty() &&
                   (progress.isEmpty() || progress.last().at(0).toDouble() != 100.0))
                QTest::qWait(5);
            if (!failed.isEmpty())
                QFAIL(qPrintable(failed.first().at(0).toString()));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray wav = file.readAll();
            QCOMPARE(wav.left(4), QByteArray("RIFF"));
            pcm = wav.mid(44);
        }
        QCOMPARE(pcm.size(), expected.size());
        // Where the two part, as a sample's place in the track, rather than megabytes of bytes.
        const auto differ = std::mismatch(pcm.begin(), pcm.end(), expected.begin());
        QCOMPARE((differ.first - pcm.begin()) / 4, pcm.size() / 4);
    }
};

QTEST_GUILESS_MAIN(Test_readoffset)
#include "tst_readoffset.moc"
