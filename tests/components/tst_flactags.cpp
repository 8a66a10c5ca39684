#include "components/audiofile/audioencoder.h"
#include "components/taglib/tagwriter.h"
#include "support/decoders.h"
#include "support/discimage.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// Four seconds of noise (FLAC can't shrink it much, so every level codes real residuals), a
// length that ends in a part block.
const discimage::DiscSpec Disc{{{discimage::TrackKind::Audio, 300, discimage::Content::Noise}}, 7};

QString fdPath(int fd)
{
    return QStringLiteral("/proc/self/fd/%1").arg(fd);
}

// Encodes the PCM into an unnamed file in folder, as a grab writes its files: the descriptor,
// or a failure.
Result<int> encodeUnnamed(const QString& folder, const QString& format,
                          const EncoderSettings& settings, const QByteArray& pcm)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR, 0666);
    if (fd < 0)
        return Failure{QStringLiteral("no unnamed files here")};
    QFile out;
    out.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
    auto made = makeEncoder(format, settings);
    if (!made.ok())
        return Failure{made.error()};
    const auto encoder = made.take();
    const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype count = pcm.size() / 2;
    Status status = encoder->begin(out, count / 2);
    // Uneven pieces: a sector, a single frame, more than a second.
    const qsizetype pieces[] = {588 * 2, 2, 60000 * 2};
    for (qsizetype at = 0, n = 0; status && at < count; ++n) {
        const qsizetype size = std::min(pieces[n % 3], count - at);
        status = encoder->encode(std::span(samples + at, size));
        at += size;
    }
    if (status)
        status = encoder->finish();
    if (!status) {
        ::close(fd);
        return Failure{status.error()};
    }
    return fd;
}

// Gives the unnamed file a name.
bool link(int fd, const QString& path)
{
    return ::linkat(AT_FDCWD, QFile::encodeName(fdPath(fd)).constData(), AT_FDCWD,
                    QFile::encodeName(path).constData(), AT_SYMLINK_FOLLOW) == 0;
}

// The file's tags as ffprobe names them, from the container and its stream.
QMap<QString, QString> probeTags(const QString& path)
{
    const QByteArray text = decoders::run(
        QStringLiteral("ffprobe"),
        QStringLiteral("-v error -show_entries format_tags:stream_tags -of default=nw=1 FILE"),
        path);
    QMap<QString, QString> tags;
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts))
        tags.insert(line.section(u'=', 0, 0).remove(QStringLiteral("TAG:")).toLower(),
                    line.section(u'=', 1));
    return tags;
}

qint64 decodedFrames(const QString& path)
{
    return decoders::run(QStringLiteral("ffmpeg"), QStringLiteral("-v error -i FILE -f s16le -"),
                         path)
               .size() /
           4;
}

} // namespace

class Test_flactags : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Every tagged format through its encoder, tagged through /proc/self/fd as a grab's unnamed
    // file is: the tags read back, the audio is unchanged, and FLAC decodes bit for bit.
    void encodeAndTag_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("track");
        QTest::addColumn<QString>("discIdKey");
        QTest::addColumn<QString>("totalKey");
        QTest::newRow("mp3") << "mp3" << 5 << "3/12"
                             << "musicbrainz disc id" << QString();
        QTest::newRow("ogg") << "ogg" << 5 << "3"
                             << "musicbrainz_discid"
                             << "tracktotal";
        QTest::newRow("wma") << "wma" << 5 << "3"
                             << "musicbrainz/disc id" << QString();
        for (int level : {0, 5, 8})
            QTest::addRow("flac %d", level) << "flac" << level << "3"
                                            << "musicbrainz_discid"
                                            << "tracktotal";
    }

    void encodeAndTag()
    {
        QFETCH(QString, format);
        QFETCH(int, level);
        QFETCH(QString, track);
        QFETCH(QString, discIdKey);
        QFETCH(QString, totalKey);
        SKIP_WITHOUT_TOOL("ffprobe");
        SKIP_WITHOUT_TOOL("ffmpeg");

        const QByteArray pcm = discimage::trackPcm(Disc, 0);
        EncoderSettings settings;
        settings.flacLevel = level;
        const QString tag = QString::fromUtf8(QTest::currentDataTag());
        Result<int> fd = encodeUnnamed(m_dir.path(), format, settings, pcm);
        if (!fd.ok() && fd.error() == u"no unnamed files here")
            QSKIP("The temporary folder has no unnamed files.");
        QVERIFY2(fd.ok(), qPrintable(fd.error()));
        const QString plain = m_dir.filePath(tag + QStringLiteral(" plain.") + format);
        const QString tagged = m_dir.filePath(tag + QStringLiteral(" tagged.") + format);
        QVERIFY(QFile::copy(fdPath(fd.value()), plain));

        const QString discId = QStringLiteral("XzPS7vW.HPHsYemQh0HBUGr8vuU-");
        TrackTags trackTags;
        trackTags.number = 3;
        trackTags.total = 12;
        trackTags.musicBrainzDiscId = discId;
        // Album data as a cue sheet or MusicBrainz gives it, with characters beyond ASCII.
        trackTags.title = QStringLiteral("AC/DC: \"Live\" \u65e5\u672c");
        trackTags.artist = QStringLiteral("\u03a3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2");
        trackTags.album = QStringLiteral("../Up");
        trackTags.isrc = QStringLiteral("GBAYE9900013");
        trackTags.barcode = QStringLiteral("0724384960650");
        const Status written = writeTrackTags(fd.value(), format, trackTags);
        QVERIFY(link(fd.value(), tagged));
        ::close(fd.value());
        QVERIFY2(written, qPrintable(written.error()));

        const QMap<QString, QString> tags = probeTags(tagged);
        QCOMPARE(tags.value(QStringLiteral("track")), track);
        QCOMPARE(tags.value(discIdKey), discId);
        if (!totalKey.isEmpty())
            QCOMPARE(tags.value(totalKey), QStringLiteral("12"));
        QCOMPARE(tags.value(QStringLiteral("title")), trackTags.title);
        QCOMPARE(tags.value(QStringLiteral("artist")), trackTags.artist);
        QCOMPARE(tags.value(QStringLiteral("album")), trackTags.album);
        QVERIFY2(tags.values().contains(trackTags.isrc) &&
                     tags.values().contains(trackTags.barcode),
                 qPrintable(QStringList(tags.keys()).join(u',')));

        // The tags leave the audio alone: the same samples come out, and for the formats that
        // keep the exact length (the LAME tag's, the last granule, STREAMINFO), all of them.
        const qint64 frames = decodedFrames(tagged);
        QCOMPARE(frames, decodedFrames(plain));
        if (format != u"wma")
            QCOMPARE(frames, qint64(pcm.size() / 4));
        if (format == u"mp3" && !QStandardPaths::findExecutable(QStringLiteral("mpg123")).isEmpty())
            QCOMPARE(decoders::run(QStringLiteral("mpg123"), QStringLiteral("-q --gapless -s FILE"),
                                   tagged)
                             .size() /
                         4,
                     qint64(pcm.size() / 4));
        if (format == u"ogg" &&
            !QStandardPaths::findExecutable(QStringLiteral("ogginfo")).isEmpty()) {
            QProcess ogginfo;
            ogginfo.start(QStringLiteral("ogginfo"), {tagged});
            QVERIFY(ogginfo.waitForFinished(30000));
            const QString report =
                QString::fromUtf8(ogginfo.readAllStandardOutput() + ogginfo.readAllStandardError());
            QVERIFY2(ogginfo.exitCode() == 0 && !report.contains(QStringLiteral("WARNING")) &&
                         !report.contains(QStringLiteral("ERROR")),
                     qPrintable(report));
        }
        if (format == u"flac")
            checkFlac(tagged, pcm);
    }

    // A file size limit reached midway through the audio fails the FLAC file with the system's
    // reason (a full disk is the encoders' own test's).
    void flacSizeLimit()
    {
        QFile out(m_dir.filePath(QStringLiteral("limited.flac")));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray pcm = discimage::trackPcm(Disc, 0);
        const auto encoder = makeEncoder(QStringLiteral("flac"), {}).take();
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
        // A write past the limit then fails with EFBIG instead of raising SIGXFSZ.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, old.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto* samples = reinterpret_cast<const qint16*>(pcm.constData());
        Status status = encoder->begin(out, pcm.size() / 4);
        const bool begun = status.ok();
        if (status)
            status = encoder->encode(std::span(samples, pcm.size() / 2));
        if (status)
            status = encoder->finish();
        ::setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(begun);
        QVERIFY2(status.error().contains(QStringLiteral("File too large")),
                 qPrintable(status.error()));
    }

private:
    // flac itself decodes the file to the very PCM it was made from, and finds its MD5 right.
    void checkFlac(const QString& path, const QByteArray& pcm)
    {
        SKIP_WITHOUT_TOOL("flac");
        const QString raw = path + QStringLiteral(".raw");
        QProcess flac;
        flac.start(QStringLiteral("flac"),
                   {QStringLiteral("-d"), QStringLiteral("-f"), QStringLiteral("-s"),
                    QStringLiteral("--force-raw-format"), QStringLiteral("--endian=little"),
                    QStringLiteral("--sign=signed"), QStringLiteral("-o"), raw, path});
        QVERIFY(flac.waitForFinished(60000));
        QCOMPARE(flac.exitCode(), 0);
        QFile decoded(raw);
        QVERIFY(decoded.open(QIODevice::ReadOnly));
        QVERIFY(decoded.readAll() == pcm);

        flac.start(QStringLiteral("flac"), {QStringLiteral("-t"), path});
        QVERIFY(flac.waitForFinished(60000));
        const QString report = QString::fromUtf8(flac.readAllStandardError());
        QVERIFY2(flac.exitCode() == 0 && report.contains(QStringLiteral(": ok")),
                 qPrintable(report));
        QVERIFY2(!report.contains(QStringLiteral("WARNING")), qPrintable(report));
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(Test_flactags)
#include "tst_flactags.moc"
