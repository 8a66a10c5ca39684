#include "components/cdio/cdiograbber.h"
#include "components/cdio/grabjob.h"
#include "support/decoders.h"
#include "support/discimage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace discimage;

namespace
{

// A disc of a tone, noise, a data track and a long noise track, for every test here.
const DiscSpec disc{{{TrackKind::Audio, 75 * 7 + 31, Content::Tone, 440},
                     {TrackKind::Audio, 75 * 5, Content::Noise, 0},
                     {TrackKind::Data, 150, Content::Silence, 0},
                     {TrackKind::Audio, 75 * 240, Content::Noise, 0}},
                    7};

// Grabs one track of the image at cue into path and waits for its end: the description of a
// failure, or nothing when the file was written.
struct GrabOutcome {
    bool started = false;
    QString error;
    QList<double> progress;
};

// With windowBusy the thread takes no events until the grab's threads have ended, as a window
// that is slow to draw would.
GrabOutcome grab(CdioGrabber& grabber, int track, const QString& path, bool windowBusy = false,
                 bool replace = false)
{
    GrabOutcome outcome;
    QSignalSpy progress(&grabber, &CdGrabber::OperationProgress);
    QSignalSpy failed(&grabber, &CdGrabber::GrabFailed);
    (void)grabber.SetCurrentDrive(grabber.DriveCount());
    (void)grabber.SetCurrentTrack(track);
    const Status started = static_cast<CdGrabber&>(grabber).GrabTrack(path, replace);
    outcome.started = started.ok();
    if (!started.ok()) {
        outcome.error = started.error();
        return outcome;
    }
    while (windowBusy && grabber.Busy())
        QThread::msleep(5);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60000 && failed.isEmpty() &&
           (progress.isEmpty() || progress.last().at(0).toDouble() != 100.0))
        QTest::qWait(5);
    // Anything after the end would be a second end.
    QTest::qWait(50);
    for (const auto& args : std::as_const(progress))
        outcome.progress << args.at(0).toDouble();
    if (!failed.isEmpty())
        outcome.error = failed.first().at(0).toString();
    return outcome;
}

// Every file in the folder, the hidden ones (a grab's temporary file) too.
QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Whether files in the folder can be created unnamed (O_TMPFILE), as a grab's are where they can.
bool unnamedFiles(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// An encoder that writes a header, then holds the grab in its first encode() until it is let
// go, as a drive stuck in a read or a hung disk would.
class HeldEncoder : public AudioEncoder
{
public:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool held = false;     // encode() is waiting
        bool released = false; // it may return
        bool finished = false; // finish() was called
    };

    explicit HeldEncoder(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}

    Status begin(QIODevice& out, qint64) override { return writeAll(out, "header", 6); }
    Status encode(std::span<const qint16>) override
    {
        std::unique_lock lock(m_gate->mutex);
        m_gate->held = true;
        m_gate->changed.notify_all();
        m_gate->changed.wait(lock, [this] { return m_gate->released; });
        return {};
    }
    Status finish() override
    {
        const std::lock_guard lock(m_gate->mutex);
        m_gate->finished = true;
        return {};
    }

private:
    std::shared_ptr<Gate> m_gate;
};

// A split format of raw PCM, to watch the grab cut a track into parts and put it together: each
// part keeps what it was fed, and the splice writes each part's own region. How it is told to
// behave comes from the test row.
struct PcmSplit final : SplitFormat {
    enum class Mode { Splice, NoSeam, PartFails, StopInPart };
    Mode mode = Mode::Splice;
    GrabJob* job = nullptr; // stopped by a part in StopInPart
    std::shared_ptr<std::atomic<int>> parts = std::make_shared<std::atomic<int>>(0);

    struct Part final : PartEncoder {
        PcmSplit* format = nullptr;
        std::vector<qint16> samples;
        Status encode(std::span<const qint16> interleaved) override
        {
            if (format->mode == Mode::PartFails)
                return Failure{QStringLiteral("the part's encoder failed")};
            if (format->mode == Mode::StopInPart)
                format->job->stop();
            samples.insert(samples.end(), interleaved.begin(), interleaved.end());
            return {};
        }
        Status finish() override { return {}; }
    };

    int grid() const override { return 1152; }
    qint64 overlap() const override { return 3 * 1152; }
    qint64 tail() const override { return 2000; }
    qint64 minimumPart() const override { return 44100; }
    ::Result<std::unique_ptr<PartEncoder>> makePart(const Plan&, size_t) override
    {
        ++*parts;
        auto part = std::make_unique<Part>();
        part->format = this;
        return std::unique_ptr<PartEncoder>(std::move(part));
    }
    Splice splice(QIODevice& out, const Plan& plan,
                  std::vector<std::unique_ptr<PartEncoder>>& encoded) override
    {
        if (mode == Mode::NoSeam)
            return Splice::noSeam();
        for (size_t i = 0; i < plan.parts(); ++i) {
            const auto& part = static_cast<Part&>(*encoded[i]);
            if (qint64(part.samples.size()) != (plan.end(i) - plan.start(i)) * 2)
                return Failure{QStringLiteral("part %1 was fed the wrong samples").arg(i)};
            const qint64 from = (plan.seams[i] - plan.start(i)) * 2;
            const qint64 count = (plan.seams[i + 1] - plan.seams[i]) * 2;
            const qint64 bytes = count * qint64(sizeof(qint16));
            if (out.write(reinterpret_cast<const char*>(part.samples.data() + from), bytes) !=
                bytes)
                return Failure{out.errorString()};
        }
        return Status{};
    }
};

// Writes the samples as they come: the one-piece encoder beside PcmSplit.
class RawEncoder : public AudioEncoder
{
public:
    Status begin(QIODevice& out, qint64) override
    {
        m_out = &out;
        return {};
    }
    Status encode(std::span<const qint16> samples) override
    {
        return writeAll(*m_out, samples.data(), qint64(samples.size_bytes()));
    }
    Status finish() override { return {}; }

private:
    QIODevice* m_out = nullptr;
};

// The child process of fullDiskLeavesNothing: grabs the track into path, a long one in two
// parts, and says how it went.
int grabChild(const QString& cue, const QString& path, int track)
{
    CdioGrabber grabber({cue});
    if (!grabber.Refresh().ok())
        return 2;
    grabber.setEncodeThreads(2);
    const GrabOutcome outcome = grab(grabber, track, path);
    QTextStream(stdout) << outcome.error << Qt::endl;
    return outcome.error.isEmpty() ? 0 : 3;
}

} // namespace

class TestGrab : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_cue;
    std::unique_ptr<CdioGrabber> m_grabber;

    QString output(const QString& name) const
    {
        return m_dir.filePath(QStringLiteral("out/") + name);
    }

    GrabJob::Source firstTrack() const
    {
        GrabJob::Source source;
        source.device = m_cue;
        source.isImage = true;
        source.paranoia = false;
        source.sectors = disc.tracks[0].sectors;
        return source;
    }

private slots:
    void initTestCase()
    {
        m_cue = m_dir.filePath(QStringLiteral("disc.cue"));
        QVERIFY(!writeImage(m_cue, disc));
    }

    void init()
    {
        QDir(m_dir.filePath(QStringLiteral("out"))).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("out"))));
        m_grabber = std::make_unique<CdioGrabber>(QStringList{m_cue});
        QVERIFY(m_grabber->Refresh().ok());
    }

    void cleanup() { m_grabber.reset(); }

    void wavIsTheDiscsAudio_data()
    {
        QTest::addColumn<int>("track");
        QTest::addColumn<bool>("paranoia");
        QTest::addColumn<bool>("windowBusy");
        QTest::addColumn<int>("oldMode"); // of a file the grab replaces; 0: none
        QTest::newRow("tone") << 0 << false << false << 0;
        // A file replaced keeps its permissions.
        QTest::newRow("noise, replacing a file") << 1 << false << false << 0640;
        // The way a drive is read: through paranoia's verification.
        QTest::newRow("tone, verified") << 0 << true << false << 0;
        QTest::newRow("noise, verified") << 1 << true << false << 0;
        // A window that takes no events for the whole grab gets one progress event, not one for
        // every step.
        QTest::newRow("long, window busy") << 3 << false << true << 0;
    }

    void wavIsTheDiscsAudio()
    {
        QFETCH(int, track);
        QFETCH(bool, paranoia);
        QFETCH(bool, windowBusy);
        QFETCH(int, oldMode);
        m_grabber->setParanoiaOnImages(paranoia);
        const QString path = output(QStringLiteral("track.wav"));
        const QByteArray name = QFile::encodeName(path);
        if (oldMode) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            QVERIFY(::fchmod(old.handle(), mode_t(oldMode)) == 0);
        }
        const GrabOutcome outcome = grab(*m_grabber, track, path, windowBusy, oldMode != 0);
        if (windowBusy)
            QCOMPARE(outcome.progress.size(), 2);
        QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
        // A new file gets what any new file gets: 0666 less the umask.
        const mode_t umask = ::umask(0);
        ::umask(umask);
        struct stat st {
        };
        QVERIFY(::stat(name.constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 07777), oldMode ? oldMode : int(0666 & ~umask));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        QCOMPARE(wav.left(4), QByteArray("RIFF"));
        const QByteArray pcm = trackPcm(disc, track);
        QCOMPARE(wav.size(), 44 + pcm.size());
        QVERIFY(wav.mid(44) == pcm);
        // One end, exactly 100, and nothing else at 100 or beyond.
        QCOMPARE(outcome.progress.count(100.0), 1);
        QCOMPARE(outcome.progress.last(), 100.0);
        QVERIFY(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
        QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))),
                 QStringList{QStringLiteral("track.wav")});
        QVERIFY(!m_grabber->Busy());
    }

    void encodedFormatsDecode_data() { decoders::addEncodedFormatRows(); }

    void encodedFormatsDecode()
    {
        QFETCH(QString, format);
        QFETCH(QString, codec);
        const QString path = output(QStringLiteral("Session1_Track1.") + format);
        const GrabOutcome outcome = grab(*m_grabber, 0, path);
        QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
        QCOMPARE(outcome.progress.last(), 100.0);
        const QString problem = decoders::encodedFileProblem(path, codec, (75 * 7 + 31) / 75.0);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    void refusedAtOnce_data()
    {
        QTest::addColumn<int>("track");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("data track") << 2 << "out/x.wav"
                                    << "data track";
        QTest::newRow("missing folder") << 0 << "gone/x.wav"
                                        << "gone";
        QTest::newRow("no extension") << 0 << "out/x"
                                      << "extension";
        QTest::newRow("unknown extension") << 0 << "out/x.ape"
                                           << "ape";
    }

    void refusedAtOnce()
    {
        QFETCH(int, track);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        const GrabOutcome outcome = grab(*m_grabber, track, m_dir.filePath(path));
        QVERIFY(!outcome.started);
        QVERIFY2(outcome.error.contains(expected), qPrintable(outcome.error));
        QVERIFY(leftovers(m_dir.filePath(QStringLiteral("out"))).isEmpty());
        QVERIFY(!m_grabber->Busy());
    }

    void stopLeavesNoFileAndKeepsTheOldOne_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("paranoia");
        // Encoding is the slow part of an MP3 grab, reading that of a verified WAV grab.
        QTest::newRow("while encoding") << "long.mp3" << false;
        QTest::newRow("while reading") << "long.wav" << true;
    }

    void stopLeavesNoFileAndKeepsTheOldOne()
    {
        QFETCH(QString, name);
        QFETCH(bool, paranoia);
        m_grabber->setParanoiaOnImages(paranoia);
        const QString path = output(name);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the file from before");
        }
        QSignalSpy progress(m_grabber.get(), &CdGrabber::OperationProgress);
        (void)m_grabber->SetCurrentDrive(m_grabber->DriveCount());
        (void)m_grabber->SetCurrentTrack(3);
        QVERIFY(static_cast<CdGrabber&>(*m_grabber).GrabTrack(path, true).ok());
        QVERIFY(m_grabber->Busy());
        QVERIFY(progress.wait(10000));
        // Mid-grab the folder shows nothing new where the grab's file is unnamed, so a grab
        // killed now would leave nothing behind.
        const QString out = m_dir.filePath(QStringLiteral("out"));
        if (unnamedFiles(out))
            QCOMPARE(leftovers(out), QStringList{name});
        QElapsedTimer timer;
        timer.start();
        m_grabber->StopGrab();
        QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(!m_grabber->Busy(), 200);
        QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))), QStringList{name});
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the file from before"));
        // Nothing of the stopped grab arrives later, certainly no end.
        progress.clear();
        QTest::qWait(300);
        QVERIFY(progress.isEmpty());

        // The grabber is ready for the next grab.
        const GrabOutcome next = grab(*m_grabber, 0, output(QStringLiteral("next.wav")));
        QVERIFY2(next.error.isEmpty(), qPrintable(next.error));
    }

    void changedDiscFailsTheGrab_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("track");
        QTest::addColumn<bool>("paranoia");
        QTest::addColumn<qint64>("keptBytes"); // of the .bin, when it is cut
        const qint64 discBytes = qint64(2352) * (75 * 7 + 31 + 75 * 5 + 150 + 75 * 240);
        // The image loses its last part after the disc was read; past its end paranoia reads
        // silence.
        QTest::newRow("cut short") << "cut" << 1 << false << qint64(2352) * 75 * 9;
        QTest::newRow("cut short, verified") << "cut" << 1 << true << qint64(2352) * 75 * 9;
        QTest::newRow("another disc of the same name") << "replaced" << 1 << false << qint64(0);
        // A last sector cut in two still reads, as zeros; a cut ahead of the read makes paranoia
        // retry.
        QTest::newRow("last sector cut while read, verified")
            << "cut while read" << 3 << true << discBytes - 100;
        QTest::newRow("cut ahead of the read, verified")
            << "cut while read" << 3 << true << discBytes - qint64(2352) * 75 * 200;
    }

    void changedDiscFailsTheGrab()
    {
        QFETCH(QString, change);
        QFETCH(int, track);
        QFETCH(bool, paranoia);
        QFETCH(qint64, keptBytes);
        const QString cue = m_dir.filePath(QStringLiteral("changed.cue"));
        const QString bin = m_dir.filePath(QStringLiteral("changed.bin"));
        QVERIFY(!writeImage(cue, disc));
        CdioGrabber grabber({cue});
        QVERIFY(grabber.Refresh().ok());
        grabber.setParanoiaOnImages(paranoia);
        if (change == QLatin1String("cut"))
            QVERIFY(QFile::resize(bin, keptBytes));
        else if (change == QLatin1String("replaced")) // the same first tracks, then others
            QVERIFY(!writeImage(cue, {{disc.tracks[0], disc.tracks[1], disc.tracks[0]}}));
        else
            connect(&grabber, &CdGrabber::OperationProgress, this,
                    [bin, keptBytes] { QFile::resize(bin, keptBytes); });
        QSignalSpy retries(&grabber, &CdGrabber::GrabRetry);

        const QString path = output(QStringLiteral("changed.wav"));
        const GrabOutcome outcome = grab(grabber, track, path);
        QVERIFY(outcome.started);
        QCOMPARE(outcome.error, QStringLiteral("The disc has changed since its tracks were read: "
                                               "read it again and retry."));
        QVERIFY(!outcome.progress.contains(100.0));
        QVERIFY(leftovers(m_dir.filePath(QStringLiteral("out"))).isEmpty());
        // Each sector retried is told once, counted from 1, in the order of the read.
        for (int i = 0; i < retries.size(); ++i) {
            QCOMPARE(retries[i].at(0).toInt(), i + 1);
            if (i > 0)
                QVERIFY(retries[i].at(1).toLongLong() > retries[i - 1].at(1).toLongLong());
        }
    }

    void abandonedGrabLeavesNothing()
    {
        const QString path = output(QStringLiteral("held.wav"));
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the file from before");
        }
        auto gate = std::make_shared<HeldEncoder::Gate>();
        auto events = std::make_shared<std::atomic<int>>(0);
        GrabJob::Events ends;
        ends.finished = [events] { ++*events; };
        ends.failed = [events](const QString&) { ++*events; };
        auto job = std::make_unique<GrabJob>(firstTrack(), path,
                                             std::make_unique<HeldEncoder>(gate), ends);
        QVERIFY(job->start(GrabJob::Existing::Replace).ok());
        {
            std::unique_lock lock(gate->mutex);
            QVERIFY(
                gate->changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate->held; }));
        }
        // The old file, and the grab's under a hidden name unless it is unnamed.
        const QString out = m_dir.filePath(QStringLiteral("out"));
        QCOMPARE(leftovers(out).size(), unnamedFiles(out) ? 1 : 2);

        QElapsedTimer timer;
        timer.start();
        GrabJob::abandon(std::move(job));
        QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
        const QStringList kept{QStringLiteral("held.wav")};
        QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))), kept);

        // Let go, the grab ends without completing or replacing the file, and tells nobody.
        {
            const std::lock_guard lock(gate->mutex);
            gate->released = true;
            gate->changed.notify_all();
        }
        QTest::qWait(300);
        QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))), kept);
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the file from before"));
        const std::lock_guard lock(gate->mutex);
        QVERIFY(!gate->finished);
        QCOMPARE(events->load(), 0);
    }

    // A track of an image cut into parts encoded at once is put together sample for sample;
    // where no seam can be made it is encoded in one piece; a failed or stopped part, or a
    // thread the system refuses, leaves no file.
    void splitGrabIsTheTrack_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("parts"); // encoders made
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("threadsAllowed"); // by tests/support/threadlimit; -1: any
        using Mode = PcmSplit::Mode;
        QTest::newRow("two parts") << 2 << int(Mode::Splice) << 2 << QString() << -1;
        QTest::newRow("seven parts") << 7 << int(Mode::Splice) << 7 << QString() << -1;
        // A 7.4 s track holds at most seven parts of a second.
        QTest::newRow("more threads than seconds")
            << 64 << int(Mode::Splice) << 7 << QString() << -1;
        QTest::newRow("one thread") << 1 << int(Mode::Splice) << 0 << QString() << -1;
        QTest::newRow("no seam") << 3 << int(Mode::NoSeam) << 3 << QString() << -1;
        QTest::newRow("a part fails")
            << 3 << int(Mode::PartFails) << 3 << QStringLiteral("the part's encoder failed") << -1;
        QTest::newRow("stopped") << 3 << int(Mode::StopInPart) << 3 << QString() << -1;
        QTest::newRow("no thread for the grab")
            << 3 << int(Mode::Splice) << 0 << QStringLiteral("The grab cannot start a thread") << 0;
        QTest::newRow("no thread for a part")
            << 3 << int(Mode::Splice) << 3
            << QStringLiteral("A thread to encode the track on cannot be started") << 2;
        QTest::newRow("no thread, one piece")
            << 1 << int(Mode::Splice) << 0 << QStringLiteral("The grab cannot start a thread") << 1;
    }

    void splitGrabIsTheTrack()
    {
        QFETCH(int, threads);
        QFETCH(int, mode);
        QFETCH(int, parts);
        QFETCH(QString, error);
        QFETCH(int, threadsAllowed);
        if (threadsAllowed >= 0)
            QVERIFY(qEnvironmentVariable("LD_PRELOAD").contains(u"threadlimit"));
        const QString path = output(QStringLiteral("split.raw"));
        auto split = std::make_unique<PcmSplit>();
        split->mode = PcmSplit::Mode(mode);
        const std::shared_ptr<std::atomic<int>> made = split->parts;
        // Where the job encodes in one piece it drops the format at once.
        PcmSplit* format = split.get();
        auto ends = std::make_shared<QStringList>();
        GrabJob::Events events;
        events.finished = [ends] { *ends << QStringLiteral("finished"); };
        events.failed = [ends](const QString& description) { *ends << description; };
        GrabJob job(firstTrack(), path, std::make_unique<RawEncoder>(), events, std::move(split),
                    threads);
        if (threads > 1)
            format->job = &job;
        // The row's name after the number makes the value new: the count starts again.
        if (threadsAllowed >= 0)
            qputenv("TAMBREL_STD_THREADS",
                    QByteArray::number(threadsAllowed) + ' ' + QTest::currentDataTag());
        const auto unlimit = qScopeGuard([] { qunsetenv("TAMBREL_STD_THREADS"); });
        if (const Status started = job.start(GrabJob::Existing::Keep); !started.ok()) {
            QVERIFY2(!error.isEmpty() && started.error().startsWith(error),
                     qPrintable(started.error()));
            QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))), QStringList{});
            return;
        }
        QVERIFY(job.waitFinished(30000));
        QCOMPARE(made->load(), parts);
        if (mode == int(PcmSplit::Mode::StopInPart)) {
            QCOMPARE(*ends, QStringList{});
            QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))), QStringList{});
            return;
        }
        if (!error.isEmpty()) {
            QCOMPARE(ends->size(), 1);
            QVERIFY2(ends->front().startsWith(error), qPrintable(ends->front()));
            QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))), QStringList{});
            return;
        }
        QCOMPARE(*ends, QStringList{QStringLiteral("finished")});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == trackPcm(disc, 0));
    }

    void fileThatAppearsDuringTheGrab_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QString>("error");
        // Another run into the same folder wrote it: a grab that may not replace a file keeps it.
        QTest::newRow("kept") << false << QByteArray("another run's file")
                              << "appeared during the grab; it was kept.";
        QTest::newRow("replaced") << true << QByteArray("header") << "";
    }

    void fileThatAppearsDuringTheGrab()
    {
        QFETCH(bool, replace);
        QFETCH(QByteArray, kept);
        QFETCH(QString, error);
        const QString path = output(QStringLiteral("appearing.wav"));
        auto gate = std::make_shared<HeldEncoder::Gate>();
        auto failure = std::make_shared<QString>();
        GrabJob::Events ends;
        ends.failed = [failure](const QString& description) { *failure = description; };
        GrabJob job(firstTrack(), path, std::make_unique<HeldEncoder>(gate), ends);
        QVERIFY(job.start(replace ? GrabJob::Existing::Replace : GrabJob::Existing::Keep).ok());
        {
            std::unique_lock lock(gate->mutex);
            QVERIFY(
                gate->changed.wait_for(lock, std::chrono::seconds(10), [&] { return gate->held; }));
            QFile other(path);
            QVERIFY(other.open(QIODevice::WriteOnly));
            other.write("another run's file");
            gate->released = true;
            gate->changed.notify_all();
        }
        QVERIFY(job.waitFinished(10000));
        QVERIFY2(error.isEmpty() ? failure->isEmpty() : failure->endsWith(error),
                 qPrintable(*failure));
        QCOMPARE(leftovers(m_dir.filePath(QStringLiteral("out"))),
                 QStringList{QStringLiteral("appearing.wav")});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kept);
    }

    void fullDiskLeavesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("track");
        QTest::addColumn<int>("limitKiB");
        QTest::newRow("wav") << "full.wav" << 0 << 64;
        QTest::newRow("mp3") << "full.mp3" << 0 << 64;
        // The tone would fit in 64 KiB as Ogg Vorbis; noise doesn't.
        QTest::newRow("ogg") << "full.ogg" << 1 << 32;
        QTest::newRow("wma") << "full.wma" << 0 << 64;
        QTest::newRow("flac") << "full.flac" << 0 << 64;
        // The audio fits, its tags don't: TagLib would cut the file short without a word.
        QTest::newRow("ogg, the tags") << "tags.ogg" << 0 << 64;
        // The long track in two parts, each kept in a temporary file of its own until they are
        // spliced: a part's file can't be written, or the spliced file can't.
        QTest::newRow("mp3 in parts, a part") << "part.mp3" << 3 << 64;
        QTest::newRow("mp3 in parts, the splice") << "splice.mp3" << 3 << 3 * 1024;
    }

    void fullDiskLeavesNothing()
    {
        QFETCH(QString, name);
        QFETCH(int, track);
        QFETCH(int, limitKiB);
        // The child may write no file larger than the limit, as on a disk that is full.
        QProcess child;
        child.setChildProcessModifier([limitKiB] {
            const rlimit limit{rlim_t(limitKiB) * 1024, rlim_t(limitKiB) * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);
        });
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--grab-child"), m_cue, output(name), QString::number(track)});
        QVERIFY(child.waitForFinished(60000));
        const QString said = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        QCOMPARE(child.exitCode(), 3);
        // The file the user chose is named, never a temporary one.
        QCOMPARE(said,
                 QStringLiteral("Cannot write the file %1: File too large").arg(output(name)));
        QVERIFY(leftovers(m_dir.filePath(QStringLiteral("out"))).isEmpty());
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--grab-child") == 0)
        return grabChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                         QByteArray(argv[4]).toInt());
    TestGrab test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_grab.moc"
