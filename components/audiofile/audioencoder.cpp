#include "components/audiofile/audioencoder.h"

#include "components/audiofile/ffmpegcodecs.h"
#include "components/audiofile/flacencoder.h"
#include "components/audiofile/lameencoder.h"
#include "components/audiofile/vorbisencoder.h"
#include "components/audiofile/wavencoder.h"

#include <QIODevice>

#include <algorithm>
#include <array>

Result<std::unique_ptr<AudioEncoder>> makeEncoder(const QString& extension,
                                                  const EncoderSettings& settings)
{
    const QString name = extension.startsWith(u'.') ? extension.mid(1) : extension;
    const QString key = name.toLower();
    if (key == u"wav")
        return std::unique_ptr<AudioEncoder>(std::make_unique<WavEncoder>());
    if (key == u"mp3")
        return std::unique_ptr<AudioEncoder>(std::make_unique<LameEncoder>(settings.mp3));
    if (key == u"ogg")
        return std::unique_ptr<AudioEncoder>(std::make_unique<VorbisEncoder>(settings.ogg));
    if (key == u"flac")
        return std::unique_ptr<AudioEncoder>(std::make_unique<FlacEncoder>(settings.flacLevel));
    if (key == u"wma") {
        // FFmpeg's libraries are loaded only now, when a WMA file is first made.
        const Result<const FfmpegCodecs*> codecs = ffmpegCodecs();
        if (!codecs.ok())
            return Failure{codecs.error()};
        return codecs.value()->makeWmaEncoder(encoders::wmaProfile(settings.wmaProfile));
    }
    if (name.isEmpty())
        return Failure{QStringLiteral("There is no encoder for a file without an extension.")};
    return Failure{QStringLiteral("There is no encoder for the file extension \".%1\".").arg(name)};
}

namespace encoders
{

namespace
{

// Rates with a space between thousands ("44 100 Hz"), as they read in the format lists.
QString hertz(int rate)
{
    QString digits = QString::number(rate);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return digits + QStringLiteral(" Hz");
}

QString channelNames(int channels)
{
    switch (channels) {
    case 1:
        return QStringLiteral("mono");
    case 2:
        return QStringLiteral("stereo");
    default:
        return QStringLiteral("%1 channels").arg(channels);
    }
}

QString mp3ChannelNames(const Mp3EncoderSettings& settings)
{
    if (settings.Channels == 1)
        return QStringLiteral("mono");
    switch (settings.ChannelMode) {
    case 2:
        return QStringLiteral("joint stereo");
    case 3:
        return QStringLiteral("forced joint stereo");
    case 4:
        return QStringLiteral("dual channel");
    default:
        return QStringLiteral("stereo");
    }
}

// Small to large. wmav2 wants at least 24 kbit/s and at most 48 kHz; every row is encoded by
// the tests, so a row FFmpeg refuses cannot slip in.
constexpr std::array<WmaProfile, WmaProfileCount> WmaProfiles{{
    {32, 22050, 1},
    {32, 22050, 2},
    {48, 22050, 2},
    {48, 32000, 2},
    {64, 32000, 2},
    {64, 44100, 2},
    {80, 44100, 2},
    {96, 44100, 2},
    {128, 44100, 2},
    {160, 44100, 2},
    {192, 44100, 2},
}};

} // namespace

bool isOggFormatValid(int sampleRate, int channels, int bitrate, int minBitrate, int maxBitrate)
{
    return VorbisEncoder::acceptsManaged(sampleRate, channels, bitrate, minBitrate, maxBitrate);
}

WmaProfile wmaProfile(int index)
{
    return WmaProfiles[std::clamp(index, 0, WmaProfileCount - 1)];
}

QString describeWav()
{
    return QStringLiteral("WAV, PCM 16 bit, %1, %2")
        .arg(hertz(AudioEncoder::InputRate), channelNames(AudioEncoder::InputChannels));
}

QString describeMp3(const Mp3EncoderSettings& settings)
{
    const QString max = settings.VbrMaxBitrate > 0
                            ? QStringLiteral(" (max %1 kbit/s)").arg(settings.VbrMaxBitrate)
                            : QString();
    QString rate;
    switch (settings.VbrMode) {
    case 0:
        rate = QStringLiteral("VBR quality %1").arg(settings.VbrQuality) + max;
        break;
    case 1:
        rate = QStringLiteral("VBR (old) quality %1").arg(settings.VbrQuality) + max;
        break;
    case 2:
        rate = QStringLiteral("VBR (new) quality %1").arg(settings.VbrQuality) + max;
        break;
    case 3:
        rate = QStringLiteral("VBR (MTRH) quality %1").arg(settings.VbrQuality) + max;
        break;
    case 4:
        rate = QStringLiteral("%1 kbit/s ABR").arg(settings.CbrBitrate) + max;
        break;
    default:
        rate = QStringLiteral("%1 kbit/s CBR").arg(settings.CbrBitrate);
        break;
    }
    // Without a rate of its own LAME picks one to suit the bitrate.
    const QString sampleRate = settings.SampleRate > 0 ? hertz(settings.SampleRate)
                                                       : QStringLiteral("automatic sample rate");
    return QStringLiteral("MP3, %1, %2, %3").arg(rate, sampleRate, mp3ChannelNames(settings));
}

QString describeOgg(const OggFormat& format)
{
    QString rate;
    if (format.quality >= 0) {
        rate = QStringLiteral("quality %1").arg(format.quality / 100.0);
    } else {
        QStringList limits;
        if (format.minBitrate > 0)
            limits << QStringLiteral("min %1").arg(format.minBitrate);
        if (format.maxBitrate > 0)
            limits << QStringLiteral("max %1").arg(format.maxBitrate);
        rate = QStringLiteral("%1 kbit/s").arg(format.bitrate);
        if (!limits.isEmpty())
            rate += QStringLiteral(" (%1)").arg(limits.join(QStringLiteral(", ")));
    }
    return QStringLiteral("Ogg Vorbis, %1, %2, %3")
        .arg(rate, hertz(format.sampleRate), channelNames(format.channels));
}

QString describeWma(int profileIndex)
{
    const WmaProfile profile = wmaProfile(profileIndex);
    return QStringLiteral("Windows Media Audio 2, %1 kbit/s, %2, %3")
        .arg(QString::number(profile.bitrate), hertz(profile.sampleRate),
             channelNames(profile.channels));
}

} // namespace encoders
