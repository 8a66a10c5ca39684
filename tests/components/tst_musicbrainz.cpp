#include "components/musicbrainz/musicbrainz.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using musicbrainz::Lookup;

namespace
{

const QString kDiscId = QStringLiteral("xA8pWnHeT4rJ1LmQa2Bs9dZkFoY-");
const QString kToc = QStringLiteral("1 3 60000 150 20000 40000");

// A stand-in for the web service: answers every request with one canned response (or never),
// and keeps each request's head and the moment it arrived.
class FakeService : public QObject
{
public:
    enum { NeverAnswer = 0 };

    FakeService(int status, QByteArray body) : m_status(status), m_body(std::move(body))
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    QUrl base() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/ws/2/").arg(m_server.serverPort()));
    }

    QList<QByteArray> requests;
    QList<qint64> arrivals; // ms on m_clock

private:
    void serve(QTcpSocket* socket)
    {
        QByteArray& pending = m_pending[socket];
        pending += socket->readAll();
        const qsizetype end = pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        requests.append(pending.left(end + 2));
        arrivals.append(m_clock.elapsed());
        pending.remove(0, end + 4);
        if (m_status == NeverAnswer)
            return;
        const QByteArray reason = m_status == 200 ? "OK" : m_status == 404 ? "Not Found" : "Error";
        socket->write("HTTP/1.1 " + QByteArray::number(m_status) + ' ' + reason +
                      "\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(m_body.size()) + "\r\n\r\n" + m_body);
    }

    QTcpServer m_server;
    int m_status;
    QByteArray m_body;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QElapsedTimer m_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
};

// An album in one line, so a row can say everything it expects of it.
QString describe(const AlbumInfo& album)
{
    QStringList tracks;
    for (const TrackInfo& t : album.tracks)
        tracks << QStringLiteral("%1/%2/%3").arg(t.title, t.artist, t.musicBrainzRecordingId);
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(album.source, album.title, album.artist, album.date, album.genre,
             album.musicBrainzReleaseId, tracks.join(QLatin1Char(';')));
}

// A two-disc release by "Alpha & Beta"; the disc looked up is the second medium.
const QByteArray kOneRelease = R"json({
  "id": "xA8pWnHeT4rJ1LmQa2Bs9dZkFoY-", "sectors": 60000, "offset-count": 3,
  "offsets": [150, 20000, 40000],
  "releases": [{
    "id": "rel-1", "title": "Twin Lights", "date": "1997-05-12", "country": "GB",
    "artist-credit": [{"name": "Alpha", "joinphrase": " & "}, {"name": "Beta", "joinphrase": ""}],
    "media": [
      {"position": 1, "discs": [{"id": "someOtherDisc"}], "tracks": [
        {"position": 1, "number": "1", "title": "Wrong Disc",
         "artist-credit": [{"name": "Alpha", "joinphrase": ""}], "recording": {"id": "rec-x", "title": "Wrong Disc"}}]},
      {"position": 2, "discs": [{"id": "xA8pWnHeT4rJ1LmQa2Bs9dZkFoY-"}], "tracks": [
        {"position": 1, "number": "1", "title": "Dawn",
         "artist-credit": [{"name": "Alpha", "joinphrase": " & "}, {"name": "Beta", "joinphrase": ""}],
         "recording": {"id": "rec-1", "title": "Dawn"}},
        {"position": 2, "number": "2", "title": "Noon",
         "artist-credit": [{"name": "Alpha", "joinphrase": " feat. "}, {"name": "Gamma", "joinphrase": ""}],
         "recording": {"id": "rec-2", "title": "Noon"}},
        {"position": 3, "number": "3", "title": "",
         "artist-credit": [{"name": "Alpha", "joinphrase": " & "}, {"name": "Beta", "joinphrase": ""}],
         "recording": {"id": "rec-3", "title": "Dusk"}}]}]}]
})json";

// A fuzzy TOC answer: a release list naming no disc id; the medium is the one of 3 tracks.
const QByteArray kTwoReleases = R"json({
  "release-count": 2, "release-offset": 0,
  "releases": [
    {"id": "rel-a", "title": "First", "date": "2001", "country": "US",
     "artist-credit": [{"name": "Solo", "joinphrase": ""}],
     "media": [
       {"position": 1, "discs": [], "tracks": [
         {"position": 1, "number": "1", "title": "Bonus", "recording": {"id": "rec-b", "title": "Bonus"}}]},
       {"position": 2, "discs": [], "tracks": [
         {"position": 1, "number": "1", "title": "A", "recording": {"id": "rec-a1", "title": "A"}},
         {"position": 2, "number": "2", "title": "B", "recording": {"id": "rec-a2", "title": "B"}},
         {"position": 3, "number": "3", "title": "C", "recording": {"id": "rec-a3", "title": "C"}}]}]},
    {"id": "rel-b", "title": "First (reissue)",
                 "date" : "2010-01",
                 "artist-credit" : [ {"name" : "Solo", "joinphrase" : ""} ],
                 "media" : [ {
                     "position" : 1,
                     "tracks" : [ {
                         "position" : 1,
                         "number" : "1",
                         "title" : "A",
                         "recording" : {"id" : "rec-a1", "title" : "A"}
                     } ]
                 } ]
}]
})json";

} // namespace

class Test_musicbrainz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3")); }

    void lookup_data()
    {
        QTest::addColumn<int>("status"); // -1: nothing listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<Lookup::Outcome>("outcome");
        QTest::addColumn<QStringList>("albums");
        QTest::addColumn<QString>("reason");

        QTest::newRow("one release, the disc's medium")
            << 200 << kOneRelease << 5000 << Lookup::Outcome::Found
            << QStringList{QStringLiteral("MusicBrainz|Twin Lights|Alpha & Beta|1997-05-12||rel-1|"
                                          "Dawn//rec-1;Noon/Alpha feat. Gamma/rec-2;Dusk//rec-3")}
            << QString();
        QTest::newRow("fuzzy answer, two releases")
            << 200 << kTwoReleases << 5000 << Lookup::Outcome::Found
            << QStringList{QStringLiteral("MusicBrainz|First|Solo|2001||rel-a|"
                                          "A//rec-a1;B//rec-a2;C//rec-a3"),
                           QStringLiteral(
                               "MusicBrainz|First (reissue)|Solo|2010-01||rel-b|A//rec-a1")}
            << QString();
        QTest::newRow("no releases")
            << 200 << QByteArray(R"({"release-count":0,"releases":[]})") << 5000
            << Lookup::Outcome::NotFound << QStringList() << QString();
        QTest::newRow("404") << 404 << QByteArray(R"({"error":"Not found"})") << 5000
                             << Lookup::Outcome::NotFound << QStringList() << QString();
        QTest::newRow("503") << 503 << QByteArray(R"({"error":"busy"})") << 5000
                             << Lookup::Outcome::Failed << QStringList()
                             << QStringLiteral("HTTP 503");
        QTest::newRow("bad JSON") << 200 << QByteArray(R"({"releases": [)") << 5000
                                  << Lookup::Outcome::Failed << QStringList()
                                  << QStringLiteral("unreadable answer");
        QTest::newRow("never answers")
            << int(FakeService::NeverAnswer) << QByteArray() << 1000 << Lookup::Outcome::Failed
            << QStringList() << QStringLiteral("no answer from 127.0.0.1 within 1 s");
        QTest::newRow("connection refused") << -1 << QByteArray() << 5000 << Lookup::Outcome::Failed
                                            << QStringList() << QStringLiteral("refused");
    }

    void lookup()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, timeoutMs);
        QFETCH(Lookup::Outcome, outcome);
        QFETCH(QStringList, albums);
        QFETCH(QString, reason);

        FakeService service(status, body);
        QUrl base = service.base();
        if (status < 0) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            base.setPort(closed.serverPort());
        }

        QElapsedTimer clock;
        clock.start();
        const Lookup lookup = musicbrainz::lookupDisc(kDiscId, kToc, base, timeoutMs);
        const qint64 took = clock.elapsed();

        QCOMPARE(lookup.outcome, outcome);
        QStringList got;
        for (const AlbumInfo& album : lookup.releases)
            got << describe(album);
        QCOMPARE(got, albums);
        if (reason.isEmpty())
            QVERIFY2(lookup.reason.isEmpty(), qPrintable(lookup.reason));
        else
            QVERIFY2(lookup.reason.contains(reason, Qt::CaseInsensitive),
                     qPrintable(lookup.reason));
        // Waiting out the previous row's turn takes up to a second on top of the deadline.
        QVERIFY2(took < timeoutMs + 2500, qPrintable(QString::number(took)));

        if (status < 0)
            return;
        QCOMPARE(service.requests.size(), 1);
        const QByteArray head = service.requests.first();
        const QByteArray requestLine = "GET /ws/2/discid/" + kDiscId.toLatin1() +
                                       "?inc=recordings+artist-credits&fmt=json"
                                       "&toc=1+3+60000+150+20000+40000 HTTP/1.1\r\n";
        QVERIFY2(head.startsWith(requestLine), head.constData());
        // The program and its version, and the contact the build was given, if any.
        const QByteArray contact = TAMBREL_CONTACT;
        const QByteArray agent = QByteArray("\r\nUser-Agent: Tambrel/1.2.3") +
                                 (contact.isEmpty() ? QByteArray() : " ( " + contact + " )") +
                                 QByteArray("\r\n");
        QVERIFY2(head.contains(agent), head.constData());
        QVERIFY2(head.contains("\r\nAccept: application/json\r\n"), head.constData());
    }

    // The service allows one request a second: back-to-back lookups are spaced out.
    void oneRequestASecond()
    {
        FakeService service(404, QByteArray("{}"));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(musicbrainz::lookupDisc(kDiscId, QString(), service.base()).outcome,
                     Lookup::Outcome::NotFound);
        QCOMPARE(service.arrivals.size(), 2);
        QVERIFY2(service.arrivals.at(1) - service.arrivals.at(0) >= 950,
                 qPrintable(QString::number(service.arrivals.at(1) - service.arrivals.at(0))));
        QVERIFY(!service.requests.at(0).contains("toc="));
    }
};

QTEST_GUILESS_MAIN(Test_musicbrainz)
#include "tst_musicbrainz.moc"
