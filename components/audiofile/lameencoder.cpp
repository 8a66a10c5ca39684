#include "components/audiofile/lameencoder.h"

#include <QIODevice>

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace
{

// LAME works through a 1152-sample frame at a time; a second per call keeps the per-call costs
// (and device writes) small without a large buffer.
constexpr int ChunkFrames = AudioEncoder::InputRate;
// LAME's own worst case for the output of n frames: 1.25 n + 7200 bytes.
constexpr int BufferBytes = ChunkFrames * 5 / 4 + 7200;

// LAME reports why it refuses a setup only through a printf-style callback without a user
// pointer. An encoder is used on one thread at a time, so the text is kept per thread.
thread_local QString lameErrors;

void collectLameError(const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    lameErrors += QString::fromLocal8Bit(text).trimmed() + u' ';
}

void ignoreLameMessage(const char*, va_list) {}

} // namespace

void LameEncoder::LameClose::operator()(lame_global_struct* flags) const
{
    lame_close(flags);
}

LameEncoder::LameEncoder(const Mp3EncoderSettings& settings) : m_settings(settings) {}

LameEncoder::~LameEncoder() = default;

Status configureLame(lame_global_flags* lame, const Mp3EncoderSettings& s, bool tagFrame)
{
    constexpr int InputRate = AudioEncoder::InputRate;
    constexpr int InputChannels = AudioEncoder::InputChannels;
    QString refused;
    const auto check = [&refused](int result, const QString& what) {
        if (result < 0 && refused.isEmpty())
            refused = what;
    };

    lame_set_errorf(lame, collectLameError);
    lame_set_msgf(lame, ignoreLameMessage);
    lame_set_debugf(lame, ignoreLameMessage);

    // LAME takes the CD stereo as it is and downmixes or resamples it itself.
    lame_set_in_samplerate(lame, InputRate);
    lame_set_num_channels(lame, InputChannels);
    if (s.SampleRate > 0)
        check(lame_set_out_samplerate(lame, s.SampleRate),
              QStringLiteral("sample rate %1 Hz").arg(s.SampleRate));

    if (s.Channels == 1) {
        check(lame_set_mode(lame, MONO), QStringLiteral("mono"));
    } else {
        switch (s.ChannelMode) {
        case 1:
            check(lame_set_mode(lame, STEREO), QStringLiteral("stereo"));
            break;
        case 2:
            check(lame_set_mode(lame, JOINT_STEREO), QStringLiteral("joint stereo"));
            break;
        case 3:
            check(lame_set_mode(lame, JOINT_STEREO), QStringLiteral("joint stereo"));
            check(lame_set_force_ms(lame, 1), QStringLiteral("forced joint stereo"));
            break;
        case 4:
            check(lame_set_mode(lame, DUAL_CHANNEL), QStringLiteral("dual channel"));
            break;
        default: // LAME's choice
            break;
        }
    }

    // The modes as the lame command line names them: --vbr-old is vbr_rh, --vbr-new and the
    // MTRH mode are both vbr_mtrh (vbr_mt is an obsolete alias of it), and vbr_default is what
    // plain -V uses.
    const bool variable = s.VbrMode >= 0 && s.VbrMode <= 4;
    switch (s.VbrMode) {
    case -1:
        check(lame_set_VBR(lame, vbr_off), QStringLiteral("constant bitrate"));
        if (s.CbrBitrate > 0)
            check(lame_set_brate(lame, s.CbrBitrate),
                  QStringLiteral("bitrate %1 kbit/s").arg(s.CbrBitrate));
        break;
    case 0:
        check(lame_set_VBR(lame, vbr_default), QStringLiteral("VBR"));
        break;
    case 1:
        check(lame_set_VBR(lame, vbr_rh), QStringLiteral("VBR (old)"));
        break;
    case 2:
    case 3:
        check(lame_set_VBR(lame, vbr_mtrh), QStringLiteral("VBR (new)"));
        break;
    case 4:
        check(lame_set_VBR(lame, vbr_abr), QStringLiteral("average bitrate"));
        check(lame_set_VBR_mean_bitrate_kbps(lame, s.CbrBitrate),
              QStringLiteral("average bitrate %1 kbit/s").arg(s.CbrBitrate));
        break;
    default:
        return Failure{
            QStringLiteral("The MP3 settings name an unknown VBR mode (%1).").arg(s.VbrMode)};
    }
    if (variable && s.VbrMaxBitrate > 0)
        check(lame_set_VBR_max_bitrate_kbps(lame, s.VbrMaxBitrate),
              QStringLiteral("maximum bitrate %1 kbit/s").arg(s.VbrMaxBitrate));
    if (variable && s.VbrMode != 4 && s.VbrQuality >= 0)
        check(lame_set_VBR_quality(lame, float(s.VbrQuality)),
              QStringLiteral("VBR quality %1").arg(s.VbrQuality));

    // LAME reads a frequency of 0 as "choose one" and -1 as "no filter". Our -1 means that LAME
    // chooses, so the setters are left alone then and LAME's defaults apply.
    if (s.HighpassFrequency >= 0)
        check(lame_set_highpassfreq(lame, s.HighpassFrequency),
              QStringLiteral("highpass %1 Hz").arg(s.HighpassFrequency));
    if (s.LowpassFrequency >= 0)
        check(lame_set_lowpassfreq(lame, s.LowpassFrequency),
              QStringLiteral("lowpass %1 Hz").arg(s.LowpassFrequency));
    if (s.HighpassWidth >= 0)
        check(lame_set_highpasswidth(lame, s.HighpassWidth),
              QStringLiteral("highpass width %1 Hz").arg(s.HighpassWidth));
    if (s.LowpassWidth >= 0)
        check(lame_set_lowpasswidth(lame, s.LowpassWidth),
              QStringLiteral("lowpass width %1 Hz").arg(s.LowpassWidth));

    // LAME writes an empty first frame that finish() replaces with the Xing/LAME tag; like the
    // lame command line, this is done for constant bitrates too (length and gapless data).
    lame_set_bWriteVbrTag(lame, tagFrame ? 1 : 0);

    if (!refused.isEmpty())
        return Failure{QStringLiteral("LAME does not accept the MP3 setting: %1.").arg(refused)};
    lameErrors.clear();
    // LAME fills tables shared by all its encoders while it sets one up; encoders set up on
    // several threads at once (grabs side by side, a track's parts) take turns at that.
    static std::mutex setUp;
    std::unique_lock lock(setUp);
    const int initialised = lame_init_params(lame);
    lock.unlock();
    if (initialised < 0) {
        const QString why = lameErrors.trimmed();
        lameErrors.clear();
        return Failure{QStringLiteral("LAME does not accept the MP3 settings (%1)%2")
                           .arg(encoders::describeMp3(s),
                                why.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + why)};
    }
    return {};
}

Status LameEncoder::begin(QIODevice& out, qint64 /*totalFrames*/)
{
    m_out = nullptr;
    m_lame.reset(lame_init());
    if (!m_lame)
        return Failure{QStringLiteral("LAME could not start (out of memory).")};
    if (Status configured = configureLame(m_lame.get(), m_settings); !configured) {
        m_lame.reset();
        return configured;
    }
    m_buffer.resize(BufferBytes);
    m_start = out.pos();
    m_out = &out;
    return {};
}

Failure lameEncodeFailure(int result)
{
    // The codes of lame_encode_buffer*() and lame_encode_flush().
    QString why;
    switch (result) {
    case -1:
        why = QStringLiteral("output buffer too small");
        break;
    case -2:
        why = QStringLiteral("out of memory");
        break;
    case -3:
        why = QStringLiteral("not set up");
        break;
    case -4:
        why = QStringLiteral("psychoacoustic problem");
        break;
    default:
        why = QStringLiteral("error %1").arg(result);
        break;
    }
    return Failure{QStringLiteral("LAME failed to encode the audio (%1).").arg(why)};
}

Status LameEncoder::writeEncoded(int result)
{
    if (result < 0)
        return lameEncodeFailure(result);
    return writeAll(*m_out, m_buffer.data(), result);
}

Status LameEncoder::encode(std::span<const qint16> interleaved)
{
    if (!m_out)
        return notStarted();
    while (!interleaved.empty()) {
        const int frames = int(std::min<size_t>(interleaved.size() / InputChannels, ChunkFrames));
        if (frames == 0)
            break; // half a frame: nothing LAME could use
        // LAME copies the input into its own buffers; its API just lacks the const.
        const int result =
            lame_encode_buffer_interleaved(m_lame.get(), const_cast<short*>(interleaved.data()),
                                           frames, m_buffer.data(), int(m_buffer.size()));
        if (Status written = writeEncoded(result); !written)
            return written;
        interleaved = interleaved.subspan(size_t(frames) * InputChannels);
    }
    return {};
}

Status LameEncoder::finish()
{
    if (!m_out)
        return notStarted();
    QIODevice& out = *m_out;
    const int flushed = lame_encode_flush(m_lame.get(), m_buffer.data(), int(m_buffer.size()));
    Status written = writeEncoded(flushed);
    m_out = nullptr;
    if (!written)
        return written;

    // The tag replaces the empty frame LAME put first; a size of 0 means LAME made none.
    const size_t tagBytes = lame_get_lametag_frame(m_lame.get(), nullptr, 0);
    if (tagBytes > 0) {
        std::vector<unsigned char> tag(tagBytes);
        if (lame_get_lametag_frame(m_lame.get(), tag.data(), tag.size()) != tagBytes)
            return Failure{QStringLiteral("LAME could not complete the MP3 tag frame.")};
        const qint64 end = out.pos();
        if (Status moved = seekTo(out, m_start); !moved)
            return moved;
        if (Status tagWritten = writeAll(out, tag.data(), qint64(tagBytes)); !tagWritten)
            return tagWritten;
        if (Status moved = seekTo(out, end); !moved)
            return moved;
    }
    m_lame.reset();
    return {};
}
