// The command-line tool's rules on a scripted grabber: drive lines, numbering across sessions,
// failures, retries and stopping. The real program on real images is in tst_cli.
#include "cli/cliripper.h"
#include "scriptedgrabber.h"

#include <QFile>
#include <QRegularExpression>
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

    struct LanesRun {
        int status = -1;
        QStringList lines; // err's, sorted, speeds left out
        QStringList log;   // each track's number, retries and result, as the log gives them
    };

    // Tracks 1, 3, 4 and 5 with a rip log, on as many lanes as script lists are given: each
    // lane's grabber plays its list. A grab at 20% has 3 reads retried, one at 30% 2; a grab at
    // stopAt% stops the run.
    LanesRun runOnLanes(const QList<QList<ScriptedGrabber::GrabScript>>& lanes, double stopAt = -1)
    {
        m_err.clear();
        QObject scope; // the connections of this run
        const auto script = [this, &scope, stopAt](ScriptedGrabber& grabber) {
            connect(&grabber, &CdGrabber::OperationProgress, &scope,
                    [this, &grabber, stopAt](double p) {
                        for (int retry = 1; retry <= (p == 20.0 ? 3 : p == 30.0 ? 2 : 0); ++retry)
                            grabber.raiseGrabRetry(retry, 1000);
                        if (p == stopAt)
                            m_ripper->interrupt();
                    });
        };
        m_grabber->grabScripts = lanes.first();
        script(*m_grabber);
        qsizetype made = 0;
        m_ripper = std::make_unique<CliRipper>(*m_grabber, m_outStream, m_errStream);
        m_ripper->setParallel(int(lanes.size()), [&] {
            auto grabber = std::make_unique<ScriptedGrabber>();
            grabber->drives = m_grabber->drives;
            grabber->grabScripts = lanes[++made];
            script(*grabber);
            return std::unique_ptr<CdGrabber>(std::move(grabber));
        });
        CliOptions run = options({1, 3, 4, 5});
        run.logFile = m_dir.filePath(QStringLiteral("rip%1.log").arg(lanes.size()));
        QFile::remove(run.logFile);

        LanesRun outcome;
        outcome.status = m_ripper->convert(run);
        outcome.lines = m_err.replace(QRegularExpression(QStringLiteral(", [0-9.]+x")), QString())
                            .split(u'\n', Qt::SkipEmptyParts);
        outcome.lines.sort();
        QFile log(run.logFile);
        if (log.open(QIODevice::ReadOnly)) {
            static const QRegularExpression fields(
                QStringLiteral("^(Track [0-9]|  Retries|  Result)"));
            for (const QString& line : QString::fromUtf8(log.readAll()).split(u'\n'))
                if (fields.match(line).hasMatch())
                    outcome.log << line;
        }
        return outcome;
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

    // Lanes change only the order of a run's lines: each track's line, its log entry with its own
    // retries, and the exit status are those of the run on one lane. A stop ends every lane's grab.
    void severalLanesKeepTheRules()
    {
        using Script = ScriptedGrabber::GrabScript;
        const Script written{{100.0}, {}};
        const Script retried{{30.0, 100.0}, {}};
        const Script failing{{10.0, 20.0, 40.0, 50.0}, QStringLiteral("The disc cannot be read")};
        QFile inTheWay(m_dir.filePath(QStringLiteral("Session1_Track1.wav")));
        QVERIFY(inTheWay.open(QIODevice::WriteOnly));
        const QString path = m_dir.path() + u'/';

        const LanesRun one = runOnLanes({{written, failing, retried}});
        QCOMPARE(one.status, int(CliRipper::ExitFailed));
        QVERIFY2(one.lines.contains(QStringLiteral("Session2_Track3 -> ") + path +
                                    QStringLiteral("Session2_Track3.wav  (1:00, 2 reads retried)")),
                 qPrintable(one.lines.join(u'\n')));
        QVERIFY(
            one.lines.contains(QStringLiteral("Session2_Track2 failed: The disc cannot be read")));
        QVERIFY(one.lines.contains(QStringLiteral("tambrel-cli: 2 of 4 tracks failed.")));
        QCOMPARE(one.log.size(), 12);

        // The first lane is done with track 3 long before the second fails track 4, and takes
        // track 5.
        const LanesRun two = runOnLanes({{written, retried}, {failing}});
        QCOMPARE(two.status, one.status);
        QCOMPARE(two.lines, one.lines);
        QCOMPARE(two.log, one.log);

        // Stopped while both lanes grab: each grab says so, and no track starts after.
        const Script slow{{50.0, 60.0, 70.0, 80.0, 90.0, 100.0}, {}};
        const LanesRun stopped = runOnLanes({{written, slow}, {failing}}, 40.0);
        QCOMPARE(stopped.status, int(CliRipper::ExitFailed));
        QCOMPARE(
            stopped.lines,
            (QStringList{QStringLiteral("Session1_Track1 failed: ") + path +
                             QStringLiteral("Session1_Track1.wav exists; give --overwrite "
                                            "to replace it or --skip-existing to leave it."),
                         QStringLiteral("Session2_Track1 -> ") + path +
                             QStringLiteral("Session2_Track1.wav  (1:00)"),
                         QStringLiteral("Session2_Track2 stopped; its file was not written."),
                         QStringLiteral("Session2_Track3 stopped; its file was not written.")}));
    }
};

QTEST_GUILESS_MAIN(TestCliRipper)
#include "tst_cliripper.moc"
