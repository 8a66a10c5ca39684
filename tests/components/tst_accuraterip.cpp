// The proof of a rip: checksums against a plain computation from the samples, disc identities
// against values published for real discs, and the database lookup against a local server.
#include "components/accuraterip/checksums.h"
#include "components/accuraterip/database.h"
#include "components/accuraterip/discids.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <zlib.h>

#include <optional>
#include <random>
#include <vector>

Q_DECLARE_METATYPE(AccurateRipVerdict::Kind)
Q_DECLARE_METATYPE(DiscLayout)

namespace
{

struct Expected {
    quint32 crc = 0;
    quint32 v1 = 0;
    quint32 v2 = 0;
};

// AccurateRip's sums written out plainly, one frame at a time.
Expected expectedSums(const std::vector<qint16>& pcm, bool first, bool last)
{
    Expected e;
    e.crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(pcm.data()), uInt(pcm.size() * 2)));
    const quint64 total = pcm.size() / 2;
    quint64 low = 0;
    quint64 high = 0;
    for (quint64 position = 1; position <= total; ++position) {
        if ((first && position < 2940) || (last && position + 2940 > total))
            continue;
        const quint64 left = quint16(pcm[2 * (position - 1)]);
        const quint64 right = quint16(pcm[2 * (position - 1) + 1]);
        const quint64 product = (left + right * 65536) * position;
        low += product % (quint64(1) << 32);
        high += product / (quint64(1) << 32);
    }
    e.v1 = quint32(low);
    e.v2 = quint32(low + high);
    return e;
}

// A record chunk as the database lays it out.
QByteArray chunk(const DiscIds& ids, const QList<QPair<int, quint32>>& entries)
{
    QByteArray bytes;
    auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes.append(char(v >> (8 * i)));
    };
    bytes.append(char(entries.size()));
    put32(ids.accurateRipId1);
    put32(ids.accurateRipId2);
    put32(ids.freedbId);
    for (const auto& [confidence, crc] : entries) {
        bytes.append(char(confidence));
        put32(crc);
        put32(0x450450);
    }
    return bytes;
}

// A table of contents from first sectors counted from the lead-in (as MusicBrainz and
// logs print them); `data` lists the positions of data tracks.
DiscLayout layoutFromLba(const QList<qint64>& lba, qint64 leadOutLba, const QList<int>& data = {})
{
    DiscLayout layout;
    for (qsizetype i = 0; i < lba.size(); ++i) {
        layout.firstSectors.append(lba[i] - 150);
        layout.audio.append(!data.contains(int(i)));
    }
    layout.leadOut = leadOutLba - 150;
    return layout;
}

} // namespace

class Test_accuraterip : public QObject
{
    Q_OBJECT

private slots:
    void checksums_data();
    void checksums();
    void discIds_data();
    void discIds();
    void lookup_data();
    void lookup();
};

void Test_accuraterip::checksums_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("first");
    QTest::addColumn<bool>("last");
    // Where the track is cut into runs summed by separate objects and joined by append().
    QTest::addColumn<QList<int>>("cuts");
    // Samples the buffer is shifted by, so that frames don't sit on 4-byte boundaries.
    QTest::addColumn<int>("shift");

    QTest::newRow("middle track") << 70001 << false << false << QList<int>{} << 0;
    QTest::newRow("first track") << 70001 << true << false << QList<int>{} << 0;
    QTest::newRow("last track") << 70001 << false << true << QList<int>{} << 0;
    QTest::newRow("only track") << 70001 << true << true << QList<int>{} << 0;
    QTest::newRow("only track, three runs")
        << 70001 << true << true << QList<int>{2000, 40001} << 0;
    QTest::newRow("middle track, three runs, unaligned")
        << 70001 << false << false << QList<int>{1, 69999} << 1;
    QTest::newRow("first track shorter than its skipped head")
        << 2000 << true << false << QList<int>{1000} << 0;
    QTest::newRow("three sectors") << 1764 << false << false << QList<int>{588, 1176} << 1;
}

void Test_accuraterip::checksums()
{
    QFETCH(int, frames);
    QFETCH(bool, first);
    QFETCH(bool, last);
    QFETCH(QList<int>, cuts);
    QFETCH(int, shift);

    std::mt19937 random(frames + cuts.size());
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<qint16> buffer(size_t(frames) * 2 + size_t(shift));
    for (qint16& s : buffer)
        s = qint16(sample(random));
    // Full scale at both ends of the range, where signed and unsigned readings differ most.
    buffer[size_t(shift)] = -32768;
    buffer[buffer.size() - 1] = 32767;
    const std::vector<qint16> pcm(buffer.begin() + shift, buffer.end());
    const Expected expected = expectedSums(pcm, first, last);

    const std::span<const qint16> all(buffer.data() + shift, pcm.size());
    QList<int> bounds = {0};
    bounds += cuts;
    bounds += frames;
    // Every set of instructions this processor has gives the same sums.
    using I = TrackChecksums::Instructions;
    for (I most : {I::Portable, I::Avx2, I::Avx512}) {
        const I used = TrackChecksums::useInstructions(most);
        std::optional<TrackChecksums> whole;
        std::mt19937 reads(frames);
        for (qsizetype run = 0; run + 1 < bounds.size(); ++run) {
            TrackChecksums sums(frames, first, last, bounds[run]);
            // Each run arrives in uneven reads, as from a drive.
            for (int at = bounds[run]; at < bounds[run + 1];) {
                const int n = std::min(bounds[run + 1] - at, 1 + int(reads() % 5000));
                sums.add(all.subspan(size_t(at) * 2, size_t(n) * 2));
                at += n;
            }
            QCOMPARE(sums.framesAdded(), qint64(bounds[run + 1] - bounds[run]));
            if (whole)
                whole->append(sums);
            else
                whole = sums;
        }
        const QByteArray level = "instructions " + QByteArray::number(int(used));
        QVERIFY(whole->complete());
        QVERIFY2(whole->crc32() == expected.crc, level.constData());
        QVERIFY2(whole->accurateRipV1() == expected.v1, level.constData());
        QVERIFY2(whole->accurateRipV2() == expected.v2, level.constData());
        if (used != most)
            break;
    }
    TrackChecksums::useInstructions(I::Avx512);
}

void Test_accuraterip::discIds_data()
{
    QTest::addColumn<DiscLayout>("layout");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("musicBrainz");

    // Inade, "Burning Flesh": whipper 0.8.0's log of the disc (MusicBrainz TOC, disc id and CDDB
    // id) and the AccurateRip record's name, both in the ARver repository's research notes.
    QTest::newRow("audio disc") << layoutFromLba({150, 25046, 53633, 67971, 83094, 97734, 132345,
                                                  150210, 180395, 210366, 239594, 268874, 292350},
                                                 324003)
                                << QStringLiteral("1/9/7/dBAR-013-00206791-01486a82-a710de0d.bin")
                                << QStringLiteral("2mCkTYcJvf0F5tOsExucezTpGEU-");
    // Recoil, "Liquid": ten audio tracks and a data session; ids as dBpoweramp and EAC compute
    // them and the MusicBrainz disc id, from ARver's notes on data tracks (doc/data_track.md).
    QTest::newRow("enhanced disc")
        << layoutFromLba(
               {150, 12767, 40487, 63225, 93410, 118115, 151865, 184340, 215260, 247455, 281735},
               333801, {10})
        << QStringLiteral("9/1/4/dBAR-010-00164419-00b9f6e2-9e11600b.bin")
        << QStringLiteral("9AQWqQ0eCCwktwPPrIUIYkUw2Uo-");
    // "Mortal Kombat Trilogy": a data track, then 28 audio tracks; the ids EAC computes, from
    // the same notes (no MusicBrainz id given there).
    QTest::newRow("mixed-mode disc")
        << layoutFromLba({150,    66728,  76502,  85963,  93760,  104048, 116066, 124743,
                          134206, 142916, 151852, 160720, 169425, 178731, 188459, 196711,
                          206354, 214845, 223686, 225746, 226384, 232668, 239447, 239931,
                          244989, 254264, 260066, 261222, 261674},
                         261976, {0})
        << QStringLiteral("4/5/a/dBAR-028-00517a54-05a845d2-af0da31d.bin") << QString();
}

void Test_accuraterip::discIds()
{
    QFETCH(DiscLayout, layout);
    QFETCH(QString, path);
    QFETCH(QString, musicBrainz);

    const Result<DiscIds> ids = computeDiscIds(layout);
    QVERIFY2(ids.ok(), qPrintable(ids.error()));
    QCOMPARE(ids.value().accurateRipPath(), path);
    QCOMPARE(ids.value().accurateRipUrl().toString(),
             QStringLiteral("http://www.accuraterip.com/accuraterip/") + path);
    if (!musicBrainz.isEmpty())
        QCOMPARE(ids.value().musicBrainzId, musicBrainz);

    // Without audio tracks there is no AccurateRip id, and the freedb id stands.
    layout.audio.fill(false);
    const Result<DiscIds> dataOnly = computeDiscIds(layout);
    QVERIFY(dataOnly.ok() && !dataOnly.value().accurateRipError.isEmpty());
    QCOMPARE(dataOnly.value().freedbId, ids.value().freedbId);
}

void Test_accuraterip::lookup_data()
{
    // record, damaged, 404, silent, refused; large (a body past the cap), redirect (to file:),
    // busy (503 with Retry-After, then the record)
    QTest::addColumn<QString>("server");
    QTest::addColumn<quint32>("v1");
    QTest::addColumn<quint32>("v2");
    QTest::addColumn<AccurateRipVerdict::Kind>("kind");
    QTest::addColumn<int>("confidence");
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("text");

    using K = AccurateRipVerdict::Kind;
    const QString record = QStringLiteral("record");
    QTest::newRow("v2 matches") << record << 1u << 0xbbbb0002u << K::Accurate << 7 << 2
                                << QStringLiteral("accurately ripped (confidence 7, v2)");
    QTest::newRow("v1 matches in a second pressing")
        << record << 0xaaaa0012u << 2u << K::Accurate << 3 << 1
        << QStringLiteral("accurately ripped (confidence 3, v1)");
    QTest::newRow("only another disc's chunk matches")
        << record << 0xdddd0002u << 2u << K::NoMatch << 0 << 0
        << QStringLiteral("not accurate: the database holds other checksums (confidence up to 7)");
    QTest::newRow("no match") << record << 1u << 2u << K::NoMatch << 0 << 0
                              << QStringLiteral("confidence up to 7");
    QTest::newRow("disc not in the database")
        << QStringLiteral("404") << 1u << 2u << K::DiscNotFound << 0 << 0
        << QStringLiteral("the disc is not in the database");
    QTest::newRow("damaged record") << QStringLiteral("damaged") << 1u << 2u << K::LookupFailed << 0
                                    << 0 << QStringLiteral("lookup failed: the AccurateRip");
    QTest::newRow("server silent") << QStringLiteral("silent") << 1u << 2u << K::LookupFailed << 0
                                   << 0 << QStringLiteral("lookup failed: no answer");
    QTest::newRow("answer too large")
        << QStringLiteral("large") << 1u << 2u << K::LookupFailed << 0 << 0
        << QStringLiteral("lookup failed: the answer is larger than 1048576 bytes");
    QTest::newRow("redirect to a file")
        << QStringLiteral("redirect") << 1u << 2u << K::LookupFailed << 0 << 0
        << QStringLiteral("lookup failed: a redirect to file:///etc/passwd was not followed");
    QTest::newRow("busy once, then the record")
        << QStringLiteral("busy") << 1u << 0xbbbb0002u << K::Accurate << 7 << 2
        << QStringLiteral("accurately ripped (confidence 7, v2)");
    QTest::newRow("connection refused")
        << QStringLiteral("refused") << 1u << 2u << K::LookupFailed << 0 << 0
        << QStringLiteral("lookup failed: Connection refused");
}

void Test_accuraterip::lookup()
{
    QFETCH(QString, server);
    QFETCH(quint32, v1);
    QFETCH(quint32, v2);
    QFETCH(AccurateRipVerdict::Kind, kind);
    QFETCH(int, confidence);
    QFETCH(int, version);
    QFETCH(QString, text);

    const DiscIds ids = computeDiscIds(layoutFromLba({150, 20000, 40000}, 60000)).value();
    DiscIds other = ids;
    other.accurateRipId2 += 1;
    // Track 2 (position 1): v1 entries of two pressings, a v2 chunk, and a chunk of another
    // disc that must not count.
    const QByteArray body = chunk(ids, {{5, 0xaaaa0001}, {2, 0xaaaa0002}, {5, 0xaaaa0003}}) +
                            chunk(ids, {{0, 0xaaaa0011}, {3, 0xaaaa0012}, {0, 0}}) +
                            chunk(other, {{9, 0xdddd0001}, {9, 0xdddd0002}, {9, 0xdddd0003}}) +
                            chunk(ids, {{5, 0xbbbb0001}, {7, 0xbbbb0002}, {5, 0xbbbb0003}});

    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    QByteArray requested;
    int answered = 0;
    connect(&listener, &QTcpServer::newConnection, this, [&] {
        QTcpSocket* socket = listener.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            requested += socket->readAll();
            if (!requested.contains("\r\n\r\n") || server == u"silent")
                return;
            QByteArray status = "200 OK";
            QByteArray content = body;
            QByteArray headers;
            if (server == u"busy" && answered++ == 0) {
                status = "503 Service Unavailable";
                headers = "\r\nRetry-After: 1";
                content = "busy";
            } else if (server == u"redirect") {
                status = "302 Found";
                headers = "\r\nLocation: file:///etc/passwd";
                content.clear();
            } else if (server == u"large") {
                content = QByteArray(2 * 1024 * 1024, 'x');
            } else if (server == u"404") {
                status = "404 Not Found";
                content = "<html>not found</html>";
            } else if (server == u"damaged") {
                content.chop(4);
            }
            requested.clear();
            socket->write("HTTP/1.1 " + status + headers +
                          "\r\nContent-Type: application/octet-stream" +
                          "\r\nContent-Length: " + QByteArray::number(content.size()) +
                          "\r\nConnection: close\r\n\r\n" + content);
            socket->disconnectFromHost();
        });
    });
    const quint16 port = listener.serverPort();
    if (server == u"refused")
        listener.close();

    QUrl base(QStringLiteral("http://127.0.0.1/db/"));
    base.setPort(port);
    QElapsedTimer timer;
    timer.start();
    const AccurateRipLookup lookup = fetchAccurateRipRecord(ids, base, 3000);
    QVERIFY(timer.elapsed() < 5000);
    const AccurateRipVerdict verdict = lookup.verdict(ids, 1, v1, v2);
    QVERIFY2(verdict.text().contains(text), qPrintable(verdict.text()));
    QCOMPARE(verdict.kind, kind);
    QCOMPARE(verdict.confidence, confidence);
    QCOMPARE(verdict.version, version);
    if (server == u"silent")
        QVERIFY(requested.startsWith(
            QByteArray("GET /db/" + ids.accurateRipPath().toLatin1() + " HTTP/1.1")));
}

QTEST_GUILESS_MAIN(Test_accuraterip)
#include "tst_accuraterip.moc"
