// The command-line tool's rules on a scripted grabber: drive lines, numbering across sessions,
// failures, retries and stopping. The real program on real images is in tst_cli.
#include "cli/cliripper.h"
#include "scriptedgrabber.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cstdio>

class TestCliRipper : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    ScriptedGrabber* m_grabber = nullptr;
    QString m_out;
    QString m_err;
    QTextStream m_outStream{&m_out};
    QTextStream m_errStream{&m_err};
    std::unique_ptr<CliRipper> m_ripper;

    CliOptions options(const QList<int>& tracks = {})
    {
        CliOptions o;
        o.command = CliOptions::Command::Convert;
        o.source = QStringLiteral("/dev/sr1");
        o.formatCode = 1; // WAV
        o.outputFolder = m_dir.path();
        o.tracks = tracks;
        return o;
    }

    QStringList grabbedPaths() const
    {
        QStringList paths;
        for (const auto& grab : std::as_const(m_grabber->grabs))
            paths << grab.path.mid(m_dir.path().size() + 1);
        return paths;
    }

private slots:
    void init()
    {
        m_out.clear();
        m_err.clear();
        m_grabber = new ScriptedGrabber;
        m_grabber->drives = {ScriptedGrabber::drive(QStringLiteral("/dev/sr0"), {1}),
                             ScriptedGrabber::drive(QStringLiteral("/dev/sr1"), {2, 3})};
        m_grabber->drives[1].sessions[0][1].type = CdGrabber::TrackTypeData;
        m_ripper = std::make_unique<CliRipper>(*m_grabber, m_outStream, m_errStream);
    }

    void cleanup()
    {
        m_ripper.reset();
        delete m_grabber;
    }

    void listsDrivesAsTheWindowShowsThem()
    {
        QCOMPARE(m_ripper->list({}), int(CliRipper::ExitOk));
        QCOMPARE(m_out, QStringLiteral("[/dev/sr0]  VENDOR  PRODUCT  1.00\n"
                                       "[/dev/sr1]  VENDOR  PRODUCT  1.00\n"));
        QCOMPARE(m_err, QString());

        m_grabber->failing << QStringLiteral("Refresh");
        QCOMPARE(m_ripper->list({}), int(CliRipper::ExitUsage));
        QVERIFY(m_err.contains(QStringLiteral("Refresh failed")));
    }

    void countsTracksAcrossSessions()
    {
        QCOMPARE(m_ripper->list(QStringLiteral("/dev/sr1")), int(CliRipper::ExitOk));
        QCOMPARE(m_out.count(u'\n'), 5);
        QVERIFY(m_out.contains(QStringLiteral("Session1_Track2\t\t 1:00:000\n")));
        QVERIFY(m_out.endsWith(QStringLiteral("Session2_Track3\tAUDIO\t 1:00:000\n")));

        // The disc's third and fifth tracks are the second session's first and third.
        m_grabber->grabScripts = {{{100.0}, {}}, {{100.0}, {}}};
        QCOMPARE(m_ripper->convert(options({3, 5})), int(CliRipper::ExitOk));
        QCOMPARE(grabbedPaths(), (QStringList{QStringLiteral("Session2_Track1.wav"),
                                              QStringLiteral("Session2_Track3.wav")}));
        QCOMPARE(m_grabber->grabs[1].session, 1);
        QCOMPARE(m_grabber->grabs[1].track, 2);
    }

    void defaultIsEveryAudioTrack()
    {
        m_grabber->grabScripts = QList<ScriptedGrabber::GrabScript>(4, {{100.0}, {}});
        QCOMPARE(m_ripper->convert(options()), int(CliRipper::ExitOk));
        QCOMPARE(grabbedPaths(), (QStringList{QStringLiteral("Session1_Track1.wav"),
                                              QStringLiteral("Session2_Track1.wav"),
                                              QStringLiteral("Session2_Track2.wav"),
                                              QStringLiteral("Session2_Track3.wav")}));

        // A disc of data alone has nothing to grab, which is not success.
        m_grabber->drives[1].sessions = {{ScriptedGrabber::Track{CdGrabber::TrackTypeData, 75}}};
        m_grabber->grabs.clear();
        QCOMPARE(m_ripper->convert(options()), int(CliRipper::ExitUsage));
        QVERIFY(m_err.contains(QStringLiteral("no audio track")));
        QVERIFY(m_grabber->grabs.isEmpty());
    }

    void aFailedTrackDoesNotEndTheRun()
    {
        // 99.999 is not the end: the grab goes on until its failure.
        m_grabber->grabScripts = {{{50.0, 99.999}, QStringLiteral("The disc cannot be read")},
                                  {{25.0, 100.0}, {}}};
        QCOMPARE(m_ripper->convert(options({1, 3})), int(CliRipper::ExitFailed));
        QCOMPARE(m_grabber->grabs.size(), 2);
        QVERIFY2(m_err.contains(QStringLiteral("Session1_Track1 failed: The disc cannot be read")),
                 qPrintable(m_err));
        QVERIFY(m_err.contains(QStringLiteral("Session2_Track1 -> ")));
        QVERIFY(m_err.contains(QStringLiteral("1 of 2 tracks failed")));

        // A grab refused at once fails the same way.
        m_err.clear();
        m_grabber->failing << QStringLiteral("GrabTrack");
        QCOMPARE(m_ripper->convert(options({1})), int(CliRipper::ExitFailed));
        QVERIFY(m_err.contains(QStringLiteral("Session1_Track1 failed: GrabTrack failed")));
    }

    void retriesAreCounted()
    {
        m_grabber->grabScripts = {{{50.0, 100.0}, {}}};
        connect(m_grabber, &CdGrabber::OperationProgress, this, [this](double percent) {
            if (percent == 50.0) {
                for (int retry = 1; retry <= 3; ++retry)
                    m_grabber->raiseGrabRetry(retry, 1000 + retry);
            }
        });
        QCOMPARE(m_ripper->convert(options({1})), int(CliRipper::ExitOk));
        QVERIFY2(m_err.contains(QStringLiteral(", 3 reads retried)")), qPrintable(m_err));
    }

    void liveProgressFitsTheTerminal_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<bool>("bar");
        QTest::newRow("wide") << 80 << true;
        QTest::newRow("narrow: no bar") << 40 << false;
        QTest::newRow("very narrow: cut") << 12 << false;
    }

    void liveProgressFitsTheTerminal()
    {
        QFETCH(int, columns);
        QFETCH(bool, bar);
        m_ripper = std::make_unique<CliRipper>(*m_grabber, m_outStream, m_errStream,
                                               [columns] { return columns; });
        m_grabber->grabScripts = {{{12.5, 50.0, 100.0}, {}}};
        QCOMPARE(m_ripper->convert(options({1})), int(CliRipper::ExitOk));

        // Every redraw starts at the line's start, clears it, and never reaches the last column,
        // so it can't wrap; the bar is cleared away before the track's line.
        const QString redraw = QStringLiteral("\r\x1b[K");
        QStringList draws = m_err.split(redraw);
        QVERIFY2(draws.size() >= 5, qPrintable(m_err));
        const QString finished = draws.takeLast();
        QVERIFY(finished.startsWith(QStringLiteral("Session1_Track1 -> ")));
        QCOMPARE(draws.takeFirst(), QString());
        for (const QString& draw : std::as_const(draws))
            QVERIFY2(draw.size() < columns, qPrintable(draw));
        QCOMPARE(draws.last().contains(u'['), bar);
        QVERIFY(
            draws.last().contains(bar ? QStringLiteral("#] 100.0%") : QStringLiteral("1/1 Sessi")));
    }

    void interruptStopsAtOnce_data()
    {
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<bool>("putInPlace"); // the grab's file took its name before the stop
        QTest::newRow("while grabbing") << false << false;
        QTest::newRow("while grabbing over a file") << true << false;
        // The stop came as the grab ended, and its end never arrived: the file is there all the
        // same, also where it replaced the user's.
        QTest::newRow("once the file is in place") << false << true;
        QTest::newRow("once the file replaced another") << true << true;
    }

    void interruptStopsAtOnce()
    {
        QFETCH(bool, oldFile);
        QFETCH(bool, putInPlace);
        const QString path = m_dir.filePath(QStringLiteral("Session1_Track1.wav"));
        QFile::remove(path);
        if (oldFile) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
        }
        m_grabber->grabScripts = {{{10.0, 20.0, 30.0, 100.0}, {}}, {{100.0}, {}}};
        connect(m_grabber, &CdGrabber::OperationProgress, this, [&](double percent) {
            if (percent != 20.0)
                return;
            if (putInPlace) {
                QFile grabbed(path + QStringLiteral(".new"));
                QVERIFY(grabbed.open(QIODevice::WriteOnly));
                QVERIFY(::rename(QFile::encodeName(grabbed.fileName()).constData(),
                                 QFile::encodeName(path).constData()) == 0);
            }
            m_ripper->interrupt();
        });
        CliOptions run = options({1, 3});
        run.existing = CliOptions::Existing::Overwrite;
        QCOMPARE(m_ripper->convert(run), int(CliRipper::ExitFailed));
        QVERIFY(m_ripper->interrupted());
        QCOMPARE(m_grabber->grabs.size(), 1);
        QVERIFY(m_grabber->calls.contains(QStringLiteral("StopGrab")));
        QCOMPARE(
            m_err.contains(QStringLiteral("Session1_Track1 stopped; its file was not written")),
            !putInPlace);
        QCOMPARE(m_err.contains(QStringLiteral("Session1_Track1 -> ")), putInPlace);
    }
};

QTEST_GUILESS_MAIN(TestCliRipper)
#include "tst_cliripper.moc"
