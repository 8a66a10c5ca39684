#include "components/audiofile/splitformat.h"
#include "components/audiofile/vorbisencoder.h"
#include "support/decoders.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

Q_DECLARE_METATYPE(OggFormat)

namespace
{

constexpr int Rate = 44100;

// Something like music: a chord with vibrato and a swelling level, a little noise, and with
// drums a hit (a decaying noise burst) every 0.7 s, so that libvorbis switches between long and
// short blocks. A full-scale click of 64 frames is laid at each of clicks.
QList<qint16> music(qint64 frames, bool drums, const QList<qint64>& clicks)
{
    QList<qint16> pcm(frames * 2);
    quint32 noise = 12345;
    const auto random = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return double(qint32(noise)) / 2147483648.0;
    };
    constexpr qint64 Beat = 7 * Rate / 10;
    for (qint64 i = 0; i < frames; ++i) {
        const double t = double(i) / Rate;
        const double swell = 0.6 + 0.4 * std::sin(2 * std::numbers::pi * 0.3 * t);
        const double vibrato = 3 * std::sin(2 * std::numbers::pi * 5 * t);
        double tone = 0;
        for (double hz : {220.0, 277.2, 329.6, 880.0})
            tone += std::sin(2 * std::numbers::pi * (hz * t + vibrato * hz / 2000));
        const double drum = !drums ? 0 : std::exp(-double(i % Beat) / (Rate / 40.0)) * random();
        const double sides[] = {tone * 0.18 * swell + drum * 0.5 + random() * 0.01,
                                tone * 0.12 * swell + drum * 0.4 + random() * 0.01};
        for (int c = 0; c < 2; ++c) {
            double value = sides[c];
            for (qint64 click : clicks)
                if (i >= click && i < click + 64)
                    value = (i - click) % 2 ? -0.99 : 0.99;
            pcm[2 * i + c] = qint16(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
        }
    }
    return pcm;
}

// Feeds the audio in uneven pieces, as grabbing delivers it.
template <typename Encoder> Status feed(Encoder& encoder, std::span<const qint16> pcm)
{
    const qsizetype pieces[] = {588 * 2, 2, 7000 * 2};
    for (int n = 0; !pcm.empty(); ++n) {
        const auto piece = pcm.first(std::min<size_t>(pieces[n % 3], pcm.size()));
        if (Status fed = encoder.encode(piece); !fed)
            return fed;
        pcm = pcm.subspan(piece.size());
    }
    return encoder.finish();
}

// The track in one piece, fed all at once: in other pieces than the parts get, which must not
// change what libvorbis makes of it.
QByteArray encodeWhole(const OggFormat& format, const QList<qint16>& pcm)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    VorbisEncoder encoder(format);
    Status done = encoder.begin(out, pcm.size() / 2);
    if (done)
        done = encoder.encode(pcm);
    if (done)
        done = encoder.finish();
    return done ? out.data() : QByteArray();
}

// Drives a split format as a grab does: one encoder per part fed its stretch of the track, then
// the splice.
Status encodeSplit(SplitFormat& format, const SplitFormat::Plan& plan, const QList<qint16>& pcm,
                   QBuffer& out)
{
    std::vector<std::unique_ptr<PartEncoder>> parts;
    for (size_t i = 0; i < plan.parts(); ++i) {
        auto part = format.makePart(plan, i);
        if (!part)
            return Failure{part.error()};
        parts.push_back(part.take());
        const auto stretch =
            std::span(pcm).subspan(plan.start(i) * 2, (plan.end(i) - plan.start(i)) * 2);
        if (Status fed = feed(*parts.back(), stretch); !fed)
            return fed;
    }
    const Splice spliced = format.splice(out, plan, parts);
    if (spliced.outcome() == Splice::Outcome::NoSeam)
        return Failure{}; // the tests' sign for no seam
    return spliced.ok() ? Status{} : Status(Failure{spliced.error()});
}

// Seams on the grid, parts as equal as the grid lets them be.
SplitFormat::Plan planFor(const SplitFormat& format, qint64 frames, int parts)
{
    SplitFormat::Plan plan{{0}, format.overlap(), format.tail()};
    for (int i = 1; i < parts; ++i)
        plan.seams.push_back(frames * i / parts / format.grid() * format.grid());
    plan.seams.push_back(frames);
    return plan;
}

QString saved(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

QList<qint16> samples(const QByteArray& bytes)
{
    QList<qint16> values(bytes.size() / 2);
    std::memcpy(values.data(), bytes.constData(), size_t(values.size()) * 2);
    return values;
}

// Signal to noise of the decoded audio against the source over [from, to) frames, in dB.
double snr(const QList<qint16>& source, const QList<qint16>& decoded, int channels, qint64 from,
           qint64 to)
{
    double signal = 1e-9;
    double noise = 1e-9;
    for (qint64 i = from; i < to; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double original =
                channels == 2 ? source[2 * i + c] : (source[2 * i] + source[2 * i + 1]) / 2.0;
            const double error = decoded[channels * i + c] - original;
            signal += original * original;
            noise += error * error;
        }
    }
    return 10 * std::log10(signal / noise);
}

// What ogginfo says that is a warning or an error, empty when nothing.
QString ogginfoComplaints(const QString& path)
{
    QProcess process;
    process.start(QStringLiteral("ogginfo"), {path});
    if (!process.waitForFinished(60000))
        return QStringLiteral("ogginfo did not finish");
    QString complaints;
    const QString text =
        QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    for (const QString& line : text.split(u'\n'))
        if (line.contains(u"warning", Qt::CaseInsensitive) ||
            line.contains(u"error", Qt::CaseInsensitive))
            complaints += line + u'\n';
    if (process.exitCode() != 0)
        complaints += QStringLiteral("exit code %1").arg(process.exitCode());
    return complaints;
}

} // namespace

class Test_vorbissplice : public QObject
{
    Q_OBJECT

private slots:
    // Formats that can't be cut on the CD's samples have no split format.
    void formats()
    {
        QVERIFY(makeVorbisSplitFormat({}));
        QVERIFY(makeVorbisSplitFormat({44100, 1, 128, 0, 0, 400}));
        QVERIFY(makeVorbisSplitFormat({44100, 2, 128, 64, 192, -1}));
        QVERIFY(!makeVorbisSplitFormat({22050, 2, 128, 0, 0, 300}));
        QVERIFY(!makeVorbisSplitFormat({44100, 2, 5000, 0, 0, -1}));
        QVERIFY(!makeVorbisSplitFormat({44100, 6, 128, 0, 0, 300}));
    }

    void spliced_data()
    {
        QTest::addColumn<OggFormat>("format");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<int>("parts");
        QTest::addColumn<bool>("drums");
        // Clicks, in frames from the first seam.
        QTest::addColumn<QList<qint64>>("clicks");

        const OggFormat quality3{};
        const OggFormat managed{44100, 2, 128, 64, 192, -1};
        const OggFormat mono{44100, 1, 128, 0, 0, 500};
        // Two parts of the shortest kind: the second starts at the track's start.
        QTest::newRow("q3, 2 short parts")
            << quality3 << qint64(2 * 44032 + 1000) << 2 << true << QList<qint64>{};
        QTest::newRow("q3, 3 parts, odd length")
            << quality3 << qint64(12 * Rate + 333) << 3 << true << QList<qint64>{};
        QTest::newRow("q3, 4 parts, whole grids")
            << quality3 << qint64(16 * 43 * 1024) << 4 << true << QList<qint64>{};
        QTest::newRow("q3, click on the seam")
            << quality3 << qint64(10 * Rate + 17) << 2 << true << QList<qint64>{0};
        // A click that only the first part's encoder hears moves its blocks off the second's,
        // until a click both hear brings them together again.
        QTest::newRow("q3, parts out of step")
            << quality3 << qint64(10 * Rate) << 2 << false << QList<qint64>{-60000, 20000};
        QTest::newRow("managed, 3 parts")
            << managed << qint64(12 * Rate + 1) << 3 << true << QList<qint64>{};
        QTest::newRow("managed, click on the seam")
            << managed << qint64(9 * Rate + 555) << 2 << true << QList<qint64>{0};
        QTest::newRow("mono q5, 2 parts")
            << mono << qint64(8 * Rate + 99) << 2 << true << QList<qint64>{-60000, 20000};
    }

    // The spliced stream holds exactly the track, is a clean Ogg stream, starts as the encode in
    // one piece does, and is no worse than it around the seams.
    void spliced()
    {
        QFETCH(OggFormat, format);
        QFETCH(qint64, frames);
        QFETCH(int, parts);
        QFETCH(bool, drums);
        QFETCH(QList<qint64>, clicks);
        SKIP_WITHOUT_TOOL("oggdec");
        SKIP_WITHOUT_TOOL("ogginfo");
        SKIP_WITHOUT_TOOL("ffmpeg");

        const std::unique_ptr<SplitFormat> split = makeVorbisSplitFormat(format);
        QVERIFY(split);
        const SplitFormat::Plan plan = planFor(*split, frames, parts);
        for (qint64& click : clicks)
            click += plan.seams[1];
        const QList<qint16> pcm = music(frames, drums, clicks);

        QBuffer out;
        out.open(QIODevice::WriteOnly);
        const Status spliced = encodeSplit(*split, plan, pcm, out);
        QVERIFY2(spliced, qPrintable(spliced.error()));

        QTemporaryDir dir;
        const QString splitPath = saved(dir, QStringLiteral("split.ogg"), out.data());
        const QString wholePath = saved(dir, QStringLiteral("whole.ogg"), encodeWhole(format, pcm));
        QVERIFY(!splitPath.isEmpty() && !wholePath.isEmpty());

        QCOMPARE(ogginfoComplaints(splitPath), QString());
        const auto oggdec = [](const QString& path) {
            return samples(
                decoders::run(QStringLiteral("oggdec"), QStringLiteral("-Q -R -o - FILE"), path));
        };
        const QList<qint16> decoded = oggdec(splitPath);
        const QList<qint16> whole = oggdec(wholePath);
        const int channels = format.channels;
        QCOMPARE(decoded.size(), frames * channels);
        QCOMPARE(whole.size(), frames * channels);
        const QByteArray ffmpeg = decoders::run(
            QStringLiteral("ffmpeg"), QStringLiteral("-v error -i FILE -f s16le -"), splitPath);
        QCOMPARE(ffmpeg.size(), frames * channels * 2);

        const qint64 firstSeam = plan.seams[1] * channels;
        QVERIFY(std::equal(decoded.begin(), decoded.begin() + firstSeam, whole.begin()));

        // Around every seam, and over the stretch past it where the cut may lie, the error is
        // that of the encode in one piece.
        for (size_t k = 1; k < plan.parts(); ++k) {
            const qint64 from = plan.seams[k] - 4096;
            const qint64 to = std::min(frames, plan.seams[k] + split->tail());
            for (qint64 at = from; at + 4096 <= to; at += 2048) {
                const double splitSnr = snr(pcm, decoded, channels, at, at + 4096);
                const double wholeSnr = snr(pcm, whole, channels, at, at + 4096);
                if (splitSnr < wholeSnr - 3)
                    QFAIL(
                        qPrintable(QStringLiteral("seam %1, frames %2..: %3 dB, in one piece %4 dB")
                                       .arg(k)
                                       .arg(at)
                                       .arg(splitSnr)
                                       .arg(wholeSnr)));
            }
        }
    }

    // Parts that can't be joined are not: the splice says so without a text, and writes nothing.
    void unjoinable_data()
    {
        QTest::addColumn<OggFormat>("secondFormat");
        QTest::addColumn<qint64>("tail");
        QTest::newRow("no tail past the seam") << OggFormat{} << qint64(0);
        QTest::newRow("a tail too short for the blocks") << OggFormat{} << qint64(512);
        QTest::newRow("headers differ") << OggFormat{44100, 2, 128, 0, 0, 500} << qint64(-1);
    }

    void unjoinable()
    {
        QFETCH(OggFormat, secondFormat);
        QFETCH(qint64, tail);
        const std::unique_ptr<SplitFormat> split = makeVorbisSplitFormat({});
        const std::unique_ptr<SplitFormat> other = makeVorbisSplitFormat(secondFormat);
        QVERIFY(split && other);
        constexpr qint64 Frames = 6 * Rate;
        SplitFormat::Plan plan = planFor(*split, Frames, 2);
        if (tail >= 0)
            plan.tail = tail;
        const QList<qint16> pcm = music(Frames, true, {});

        std::vector<std::unique_ptr<PartEncoder>> parts;
        for (size_t i = 0; i < 2; ++i) {
            auto part = (i == 0 ? split : other)->makePart(plan, i);
            QVERIFY(part);
            parts.push_back(part.take());
            const auto stretch =
                std::span(pcm).subspan(plan.start(i) * 2, (plan.end(i) - plan.start(i)) * 2);
            QVERIFY(feed(*parts.back(), stretch));
        }
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        const Splice spliced = split->splice(out, plan, parts);
        QCOMPARE(spliced.outcome(), Splice::Outcome::NoSeam);
        QCOMPARE(out.size(), 0);
    }
};

QTEST_GUILESS_MAIN(Test_vorbissplice)
#include "tst_vorbissplice.moc"
