// MP3 tracks encoded in parts by LAME and spliced, checked by decoding them with mpg123 and
// FFmpeg: the exact length (gapless), the first part bit for bit against the single encoder,
// and the seams (a click right on one) no worse than the rest of the track.

#include "components/audiofile/lameencoder.h"
#include "components/audiofile/splitformat.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>
#include <thread>

namespace
{

constexpr int Rate = 44100;

// Stereo music-like test audio: a few drifting tones, some noise, and loud clicks (short
// bursts) at the given samples.
std::vector<qint16> makeTrack(qint64 samples, const std::vector<qint64>& clicks, quint32 seed)
{
    std::vector<qint16> pcm(size_t(samples) * 2);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 900.0);
    for (qint64 i = 0; i < samples; ++i) {
        const double t = double(i) / Rate;
        const double slow = 0.5 + 0.5 * std::sin(2 * M_PI * 0.3 * t);
        const double left = 6000 * std::sin(2 * M_PI * 220 * t) +
                            3000 * slow * std::sin(2 * M_PI * 1330 * t + std::sin(t)) +
                            noise(random);
        const double right = 5000 * std::sin(2 * M_PI * 330 * t) +
                             2500 * (1 - slow) * std::sin(2 * M_PI * 2750 * t) + noise(random);
        pcm[size_t(i) * 2] = qint16(left);
        pcm[size_t(i) * 2 + 1] = qint16(right);
    }
    for (qint64 at : clicks) {
        for (qint64 i = at; i < std::min(samples, at + 300); ++i) {
            const double decay = std::exp(-double(i - at) / 60.0);
            const double burst = 26000 * decay * ((i - at) % 7 < 3 ? 1 : -1);
            for (int c = 0; c < 2; ++c) {
                qint16& s = pcm[size_t(i) * 2 + size_t(c)];
                s = qint16(std::clamp(s * (1 - decay) + burst, -32768.0, 32767.0));
            }
        }
    }
    return pcm;
}

QByteArray encodeSingle(const Mp3EncoderSettings& settings, const std::vector<qint16>& pcm)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    LameEncoder encoder(settings);
    if (!encoder.begin(buffer, qint64(pcm.size() / 2)) || !encoder.encode(pcm) || !encoder.finish())
        return {};
    return buffer.data();
}

SplitFormat::Plan makePlan(const SplitFormat& format, qint64 total, const QList<double>& cuts)
{
    SplitFormat::Plan plan;
    plan.overlap = format.overlap();
    plan.tail = format.tail();
    plan.seams.push_back(0);
    for (double cut : cuts)
        plan.seams.push_back(qint64(std::llround(total * cut / format.grid())) * format.grid());
    plan.seams.push_back(total);
    return plan;
}

// Encodes the parts as the driver does (here in uneven chunks, on threads of their own when
// asked) and splices them.
Status encodeSplit(SplitFormat& format, const SplitFormat::Plan& plan,
                   const std::vector<qint16>& pcm, QBuffer& out, bool threads = false,
                   qint64* spliceMs = nullptr)
{
    std::vector<std::unique_ptr<PartEncoder>> parts;
    for (size_t i = 0; i < plan.parts(); ++i) {
        auto part = format.makePart(plan, i);
        if (!part)
            return Failure{part.error()};
        parts.push_back(part.take());
    }
    std::vector<Status> results(parts.size());
    const auto run = [&](size_t i) {
        std::span<const qint16> samples(pcm.data() + plan.start(i) * 2,
                                        size_t(plan.end(i) - plan.start(i)) * 2);
        while (!samples.empty() && results[i]) {
            const size_t chunk = std::min<size_t>(samples.size(), 2 * 7001);
            results[i] = parts[i]->encode(samples.first(chunk));
            samples = samples.subspan(chunk);
        }
        if (results[i])
            results[i] = parts[i]->finish();
    };
    if (threads) {
        std::vector<std::thread> workers;
        for (size_t i = 0; i < parts.size(); ++i)
            workers.emplace_back(run, i);
        for (auto& worker : workers)
            worker.join();
    } else {
        for (size_t i = 0; i < parts.size(); ++i)
            run(i);
    }
    for (const Status& result : results)
        if (!result)
            return result;
    out.open(QIODevice::WriteOnly);
    QElapsedTimer timer;
    timer.start();
    const Splice spliced = format.splice(out, plan, parts);
    if (spliceMs)
        *spliceMs = timer.elapsed();
    if (spliced.outcome() == Splice::Outcome::NoSeam)
        return Failure{}; // the tests' sign for no seam
    return spliced.ok() ? Status{} : Status(Failure{spliced.error()});
}

struct Decoded {
    QByteArray pcm;
    QByteArray errors;
};

Decoded decode(const QString& decoder, const QString& file)
{
    QProcess process;
    if (decoder == u"mpg123")
        process.start(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("--gapless"),
                                                 QStringLiteral("-s"), file});
    else
        process.start(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), file,
                       QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-")});
    process.waitForFinished(60000);
    return {process.readAllStandardOutput(), process.readAllStandardError()};
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    return path;
}

// Signal-to-error ratio in dB of decoded audio against the source over samples [from, to).
double snr(const std::vector<qint16>& source, const QByteArray& decoded, qint64 from, qint64 to)
{
    const auto* out = reinterpret_cast<const qint16*>(decoded.constData());
    double signal = 0, error = 0;
    for (qint64 i = from * 2; i < to * 2; ++i) {
        signal += double(source[size_t(i)]) * source[size_t(i)];
        const double e = double(out[i]) - source[size_t(i)];
        error += e * e;
    }
    return 10 * std::log10(signal / std::max(error, 1.0));
}

quint16 crc16(const char* data, qsizetype size)
{
    quint16 crc = 0;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

// What is wrong with the Xing/LAME tag of a stereo stream of MPEG-1 Layer III frames at
// 44.1 kHz: its frame and byte counts, music length, music CRC and tag CRC against the
// stream; nothing when it holds.
QString tagMismatch(const QByteArray& stream)
{
    static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const auto* bytes = reinterpret_cast<const quint8*>(stream.constData());
    QList<qsizetype> frameStarts;
    for (qsizetype at = 0; at + 4 <= stream.size();) {
        if (bytes[at] != 0xff || (bytes[at + 2] >> 4) == 0 || (bytes[at + 2] >> 4) == 15)
            return QStringLiteral("no frame at %1").arg(at);
        frameStarts.push_back(at);
        at += 144000 * kbps[bytes[at + 2] >> 4] / 44100 + ((bytes[at + 2] >> 1) & 1);
    }
    const auto big = [&](int at, int size) {
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | bytes[at + i];
        return value;
    };
    const qsizetype tagBytes = frameStarts.size() > 1 ? frameStarts[1] : 0;
    QStringList wrong;
    if (big(44, 4) != quint32(frameStarts.size() - 1))
        wrong << QStringLiteral("frame count");
    if (big(48, 4) != quint32(stream.size()) || big(156 + 28, 4) != quint32(stream.size()))
        wrong << QStringLiteral("byte count");
    if (big(156 + 32, 2) != crc16(stream.constData() + tagBytes, stream.size() - tagBytes))
        wrong << QStringLiteral("music CRC");
    if (big(156 + 34, 2) != crc16(stream.constData(), 156 + 34))
        wrong << QStringLiteral("tag CRC");
    return wrong.join(u", ");
}

Mp3EncoderSettings mp3(int vbrMode, int bitrate = 128)
{
    Mp3EncoderSettings settings;
    settings.VbrMode = vbrMode;
    settings.CbrBitrate = bitrate;
    return settings;
}

} // namespace

class Test_mp3splice : public QObject
{
    Q_OBJECT

private slots:
    void splitsWhereLameWritesTheCdRate_data();
    void splitsWhereLameWritesTheCdRate();
    void splicedStreamDecodesLikeTheTrack_data();
    void splicedStreamDecodesLikeTheTrack();
    void unfinishedPartsAreRefused();
    void tenMinuteTrackTiming();
};

void Test_mp3splice::splitsWhereLameWritesTheCdRate_data()
{
    QTest::addColumn<Mp3EncoderSettings>("settings");
    QTest::addColumn<bool>("splits");

    QTest::newRow("CBR 128") << mp3(-1) << true;
    QTest::newRow("CBR 320") << mp3(-1, 320) << true;
    QTest::newRow("ABR 160") << mp3(4, 160) << true;
    QTest::newRow("VBR new") << mp3(2) << true;
    QTest::newRow("VBR old") << mp3(1) << true;
    Mp3EncoderSettings resampled = mp3(-1);
    resampled.SampleRate = 32000;
    QTest::newRow("32 kHz") << resampled << false;
    Mp3EncoderSettings low = mp3(-1, 32);
    low.SampleRate = 0; // LAME's choice: a lower rate for so few bits
    QTest::newRow("32 kbit/s, LAME's rate") << low << false;
    QTest::newRow("32 kbit/s at 44.1 kHz: no room for the tag") << mp3(-1, 32) << false;
}

void Test_mp3splice::splitsWhereLameWritesTheCdRate()
{
    QFETCH(Mp3EncoderSettings, settings);
    QFETCH(bool, splits);
    const auto format = makeMp3SplitFormat(settings);
    QCOMPARE(format != nullptr, splits);
    if (format) {
        QCOMPARE(format->grid(), 1152);
        QCOMPARE(format->overlap() % 1152, 0);
        QVERIFY(format->tail() > 1152);
    }
}

void Test_mp3splice::splicedStreamDecodesLikeTheTrack_data()
{
    QTest::addColumn<Mp3EncoderSettings>("settings");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QList<double>>("cuts");
    QTest::addColumn<bool>("minimumParts"); // two parts of minimumPart() and a little more

    QTest::newRow("CBR 128, 2 parts")
        << mp3(-1) << qint64(7 * Rate + 333) << QList<double>{0.5} << false;
    QTest::newRow("CBR 128, 4 parts, whole frames")
        << mp3(-1) << qint64(1152 * 400) << QList<double>{0.25, 0.5, 0.75} << false;
    QTest::newRow("VBR new, 3 parts")
        << mp3(2) << qint64(8 * Rate + 1) << QList<double>{0.3, 0.65} << false;
    QTest::newRow("VBR old, 2 parts")
        << mp3(1) << qint64(6 * Rate + 1151) << QList<double>{0.45} << false;
    QTest::newRow("ABR 192, 3 parts")
        << mp3(4, 192) << qint64(7 * Rate + 77) << QList<double>{0.33, 0.66} << false;
    QTest::newRow("CBR 320, 2 parts")
        << mp3(-1, 320) << qint64(5 * Rate + 500) << QList<double>{0.5} << false;
    QTest::newRow("CBR 128, minimum parts") << mp3(-1) << qint64(0) << QList<double>{} << true;
}

void Test_mp3splice::splicedStreamDecodesLikeTheTrack()
{
    QFETCH(Mp3EncoderSettings, settings);
    QFETCH(qint64, total);
    QFETCH(QList<double>, cuts);
    QFETCH(bool, minimumParts);

    const auto format = makeMp3SplitFormat(settings);
    QVERIFY(format);
    if (minimumParts) {
        total = 2 * format->minimumPart() + 1000;
        cuts = {double(format->minimumPart()) / double(total)};
    }
    const SplitFormat::Plan plan = makePlan(*format, total, cuts);

    // Clicks right on every seam, and as many again elsewhere to compare the seams with.
    std::vector<qint64> clicks(plan.seams.begin() + 1, plan.seams.end() - 1);
    std::vector<qint64> elsewhere;
    for (size_t i = 0; i + 1 < plan.seams.size(); ++i)
        for (double at : {0.4, 0.7})
            elsewhere.push_back(plan.seams[i] +
                                qint64(at * double(plan.seams[i + 1] - plan.seams[i])));
    clicks.insert(clicks.end(), elsewhere.begin(), elsewhere.end());
    const std::vector<qint16> pcm = makeTrack(total, clicks, quint32(total));

    QBuffer spliced;
    const Status made = encodeSplit(*format, plan, pcm, spliced);
    QVERIFY2(made, qPrintable(made.error()));
    const QByteArray single = encodeSingle(settings, pcm);
    QVERIFY(!single.isEmpty());

    // The tag reader agrees with LAME's own tag, and then with the spliced one.
    QCOMPARE(tagMismatch(single), QString());
    QCOMPARE(tagMismatch(spliced.data()), QString());

    QTemporaryDir dir;
    const QString splicedFile = writeFile(dir, QStringLiteral("spliced.mp3"), spliced.data());
    const QString singleFile = writeFile(dir, QStringLiteral("single.mp3"), single);
    QVERIFY(!splicedFile.isEmpty() && !singleFile.isEmpty());

    for (const QString& decoder : {QStringLiteral("mpg123"), QStringLiteral("ffmpeg")}) {
        const Decoded fromSplice = decode(decoder, splicedFile);
        QVERIFY2(fromSplice.errors.isEmpty(), fromSplice.errors.constData());
        QCOMPARE(fromSplice.pcm.size(), total * 4);
        const Decoded fromSingle = decode(decoder, singleFile);
        QCOMPARE(fromSingle.pcm.size(), total * 4);
        // The first part is the single encoder's stream up to its seam.
        const qint64 firstSeamBytes = plan.seams[1] * 4;
        QVERIFY(fromSplice.pcm.first(firstSeamBytes) == fromSingle.pcm.first(firstSeamBytes));
        if (decoder != u"mpg123")
            continue;

        // Around each seam, with its click, the error is as small as around the clicks
        // elsewhere (on the part's frame grid: were it off, the seam would be garbage).
        const qint64 window = 2048;
        double worstElsewhere = 1e9;
        for (qint64 at : elsewhere)
            worstElsewhere =
                std::min(worstElsewhere, snr(pcm, fromSplice.pcm, std::max<qint64>(0, at - window),
                                             std::min(total, at + window)));
        for (size_t i = 1; i + 1 < plan.seams.size(); ++i) {
            const qint64 seam = plan.seams[i];
            const double atSeam = snr(pcm, fromSplice.pcm, seam - window, seam + window);
            const double singleAtSeam = snr(pcm, fromSingle.pcm, seam - window, seam + window);
            qInfo("seam %zu at %lld: SNR %.1f dB (single encoder %.1f dB), worst elsewhere "
                  "%.1f dB",
                  i, qlonglong(seam), atSeam, singleAtSeam, worstElsewhere);
            QVERIFY(atSeam > worstElsewhere - 3);
            QVERIFY(atSeam > singleAtSeam - 3);
        }
        qInfo("%lld bytes spliced, %lld single; whole track SNR %.1f dB, single %.1f dB",
              qlonglong(spliced.data().size()), qlonglong(single.size()),
              snr(pcm, fromSplice.pcm, 0, total), snr(pcm, fromSingle.pcm, 0, total));
    }
}

void Test_mp3splice::unfinishedPartsAreRefused()
{
    const auto format = makeMp3SplitFormat(mp3(-1));
    QVERIFY(format);
    const SplitFormat::Plan plan = makePlan(*format, 3 * Rate, {0.5});
    std::vector<std::unique_ptr<PartEncoder>> parts;
    for (size_t i = 0; i < plan.parts(); ++i) {
        auto part = format->makePart(plan, i);
        QVERIFY(part);
        parts.push_back(part.take());
    }
    QVERIFY(parts[0]->finish());
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const Splice spliced = format->splice(out, plan, parts);
    QCOMPARE(spliced.outcome(), Splice::Outcome::Failed);
    QVERIFY(!spliced.error().isEmpty());
    QCOMPARE(out.size(), 0);
    QVERIFY(!format->makePart(plan, 2));
    // A part keeps its stream on disk: no folder for it, no part, and the folder is named.
    format->setSpillFolder(QStringLiteral("/nonexistent/spill"));
    const auto homeless = format->makePart(plan, 0);
    QVERIFY(!homeless);
    QVERIFY2(homeless.error().contains(u"/nonexistent/spill"), qPrintable(homeless.error()));
}

// A quick measurement for a 10-minute track: set TAMBREL_MP3SPLICE_TIMING to run it.
void Test_mp3splice::tenMinuteTrackTiming()
{
    if (qEnvironmentVariableIsEmpty("TAMBREL_MP3SPLICE_TIMING"))
        QSKIP("set TAMBREL_MP3SPLICE_TIMING to measure");
    const Mp3EncoderSettings settings = mp3(-1);
    const qint64 total = 600 * Rate;
    const std::vector<qint16> pcm = makeTrack(total, {}, 7);
    QElapsedTimer timer;
    timer.start();
    const QByteArray single = encodeSingle(settings, pcm);
    const qint64 singleMs = timer.elapsed();
    const auto format = makeMp3SplitFormat(settings);
    QVERIFY(format);
    QBuffer spliced;
    timer.restart();
    qint64 spliceMs = 0;
    QVERIFY(encodeSplit(*format, makePlan(*format, total, {0.5}), pcm, spliced, true, &spliceMs));
    const qint64 splitMs = timer.elapsed();
    qInfo("10-minute track: single encoder %lld ms, 2 parts on 2 threads %lld ms (splice %lld "
          "ms); %lld and %lld bytes",
          singleMs, splitMs, spliceMs, qlonglong(single.size()), qlonglong(spliced.data().size()));
}

QTEST_GUILESS_MAIN(Test_mp3splice)
#include "tst_mp3splice.moc"
