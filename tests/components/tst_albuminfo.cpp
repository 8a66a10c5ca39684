#include "components/cdio/cdiograbber.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace
{

// Two tracks of one second each in "a.bin", the sheet's text put around them.
QString discLines(const QString& track1, const QString& track2, bool dataTrack = false)
{
    return QStringLiteral("FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n") + track1 +
           QStringLiteral("    INDEX 01 00:00:00\n  TRACK 02 ") +
           (dataTrack ? QStringLiteral("MODE1/2352\n") : QStringLiteral("AUDIO\n")) + track2 +
           QStringLiteral("    INDEX 01 00:01:00\n");
}

QByteArray windowsUtf8(const QString& sheet)
{
    QString text = sheet;
    text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return "\xEF\xBB\xBF" + text.toUtf8();
}

// The sheet in UTF-16 with its byte-order mark, as some Windows programs write it.
QByteArray utf16(const QString& sheet, bool little)
{
    QByteArray bytes = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
    for (const QChar c : sheet) {
        const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
        bytes.append(little ? low : high).append(little ? high : low);
    }
    return bytes;
}

// An album as one list: source, title, artist, date, genre, then "title | artist | songwriter"
// for each track.
QStringList flat(const AlbumInfo& album)
{
    QStringList out{album.source, album.title, album.artist, album.date, album.genre};
    for (const TrackInfo& t : album.tracks)
        out << t.title + QLatin1String(" | ") + t.artist + QLatin1String(" | ") + t.songwriter;
    return out;
}

} // namespace

class Test_albuminfo : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_rows = 0;

private slots:
    void cueSheetText_data()
    {
        QTest::addColumn<QByteArray>("sheet");
        QTest::addColumn<QStringList>("album");

        QTest::newRow("utf-8 with BOM and CRLF, quoted, Greek and Japanese")
            << windowsUtf8(
                   u"REM GENRE \"Folk Rock\"\nREM DATE 1997\nREM COMMENT \"ExactAudioCopy v1.6\"\n"
                   u"PERFORMER \"Μίκης Θεοδωράκης\"\nTITLE \"Ελληνικά Τραγούδια\"\n"_s +
                   discLines(u"    TITLE \"東京の夜\"\n    PERFORMER \"坂本龍一\"\n"
                             u"    SONGWRITER \"Ryuichi Sakamoto\"\n"_s,
                             u"    TITLE \"Σκάλα\"\n"_s))
            << QStringList{u"cue sheet"_s,        u"Ελληνικά Τραγούδια"_s,
                           u"Μίκης Θεοδωράκης"_s, u"1997"_s,
                           u"Folk Rock"_s,        u"東京の夜 | 坂本龍一 | Ryuichi Sakamoto"_s,
                           u"Σκάλα |  | "_s};

        const QString greek = u"TITLE \"Ελληνικά Τραγούδια\"\n"_s +
                              discLines(u"    TITLE \"東京の夜\"\n"_s, u"    TITLE \"Σκάλα\"\n"_s);
        const QStringList greekAlbum{
            u"cue sheet"_s, u"Ελληνικά Τραγούδια"_s, QString(),       QString(),
            QString(),      u"東京の夜 |  | "_s,     u"Σκάλα |  | "_s};
        QTest::newRow("utf-16 LE") << utf16(greek, true) << greekAlbum;
        QTest::newRow("utf-16 BE") << utf16(greek, false) << greekAlbum;

        // Written on Windows: not UTF-8, so Windows-1252 (Latin-1 but for 0x80..0x9F, where it
        // has the euro sign and typographic quotes). A bare value keeps its spaces; keywords in
        // any case; the album's lines may follow FILE; the album's SONGWRITER goes to tracks
        // without one.
        QTest::newRow("windows-1252, bare values")
            << (u"FILE \"a.bin\" BINARY\nperformer Björk Guðmundsdóttir\nTITLE Café del Mar\n"
                u"SONGWRITER Søren Ærø\nREM DATE 1997-05-12\nrem genre Chill Out\n"_s +
                discLines(u"    TITLE Über Öl\n"_s,
                          u"    title \"Señor\"\n    SONGWRITER Zoë\n    PERFORMER Ça Va\n"_s)
                    .section(u"\n"_s, 1))
                   .toLatin1()
                   .replace("\xC7" "a Va", "\x93\xC7" "a Va\x94 \x80\x99")
            << QStringList{u"cue sheet"_s,
                           u"Café del Mar"_s,
                           u"Björk Guðmundsdóttir"_s,
                           u"1997-05-12"_s,
                           u"Chill Out"_s,
                           u"Über Öl |  | Søren Ærø"_s,
                           u"Señor | “Ça Va” €™ | Zoë"_s};

        // Sheets don't escape: the outer quotes go, those within stay, and so do backslashes.
        QTest::newRow("quotes and slashes")
            << (u"PERFORMER \"AC/DC\"\nTITLE \"The \"Best\" Of: 'Live' \\ Studio\"\n"_s +
                discLines(u"    TITLE \"Rock 'n' Roll / Part 2\"\n"_s,
                          u"    TITLE \"Back\\Slash \"\"\n"_s))
                   .toUtf8()
            << QStringList{u"cue sheet"_s,
                           u"The \"Best\" Of: 'Live' \\ Studio"_s,
                           u"AC/DC"_s,
                           QString(),
                           QString(),
                           u"Rock 'n' Roll / Part 2 |  | "_s,
                           u"Back\\Slash \" |  | "_s};

        // One track's title alone is enough; a REM DATE within a track is not the album's; a data
        // track has its line too.
        QTest::newRow("a track's title only, data track")
            << discLines(u"    REM DATE 2001\n"_s, u"    TITLE \"Data\"\n"_s, true).toUtf8()
            << QStringList{u"cue sheet"_s, QString(),   QString(),      QString(),
                           QString(),      u" |  | "_s, u"Data |  | "_s};

        QTest::newRow("no text")
            << (u"REM COMMENT \"ExactAudioCopy v1.6\"\nREM DISCID 0A02C802\nCATALOG "
                u"0000000000000\n"_s +
                discLines(u"    FLAGS DCP\n    ISRC USABC1234567\n"_s, QString()))
                   .toUtf8()
            << QStringList{QString(), QString(), QString(), QString(), QString()};
    }

    void cueSheetText()
    {
        QFETCH(QByteArray, sheet);
        QFETCH(QStringList, album);

        const QString folder = m_dir.filePath(QString::number(++m_rows));
        QVERIFY(QDir().mkpath(folder));
        QFile data(QDir(folder).filePath(QStringLiteral("a.bin")));
        QVERIFY(data.open(QIODevice::WriteOnly));
        QVERIFY(data.write(QByteArray(150 * 2352, '\0')) == 150 * 2352);
        data.close();
        QFile cue(QDir(folder).filePath(QStringLiteral("Album.cue")));
        QVERIFY(cue.open(QIODevice::WriteOnly));
        QVERIFY(cue.write(sheet) == sheet.size());
        cue.close();

        CdioGrabber grabber({cue.fileName()});
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(grabber.DriveCount()).ok());
        QCOMPARE(grabber.TrackCount().value(), 2); // the image itself was read
        const AlbumInfo info = grabber.CurrentAlbumInfo();
        QCOMPARE(flat(info), album);
        QCOMPARE(info.isEmpty(), album.first().isEmpty());

        // Read once more, it is the same.
        QVERIFY(grabber.Refresh().ok());
        QVERIFY(grabber.SetCurrentDrive(grabber.DriveCount()).ok());
        QCOMPARE(flat(grabber.CurrentAlbumInfo()), album);
    }
};

QTEST_GUILESS_MAIN(Test_albuminfo)
#include "tst_albuminfo.moc"
