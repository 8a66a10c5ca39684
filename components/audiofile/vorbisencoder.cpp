#include "components/audiofile/vorbisencoder.h"

#include "components/audiofile/resampler.h"

#include <QIODevice>
#include <QRandomGenerator>

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <optional>

namespace
{

// Frames per analysis buffer, as oggenc feeds them. libvorbis shifts its whole pending buffer
// down after every block it takes out, so large feeds cost time rather than save it.
constexpr int ChunkFrames = 1024;

// Owns one libvorbis/libogg struct: set up by its init call, released by its clear call.
template <typename T, auto Clear> class Cleared
{
public:
    Cleared() = default;
    Cleared(const Cleared&) = delete;
    Cleared& operator=(const Cleared&) = delete;
    ~Cleared()
    {
        if (m_live)
            Clear(&m_value);
    }

    T* get() { return &m_value; }
    // The init call succeeded: from now on the destructor clears the struct.
    void setLive() { m_live = true; }

private:
    T m_value{};
    bool m_live = false;
};

int setUpInfo(vorbis_info* info, const OggFormat& format)
{
    if (format.quality >= 0)
        return vorbis_encode_init_vbr(info, format.channels, format.sampleRate,
                                      float(format.quality) / 1000.0f);
    const auto bitsPerSecond = [](int kbps) { return kbps > 0 ? kbps * 1000 : -1; };
    return vorbis_encode_init(info, format.channels, format.sampleRate,
                              bitsPerSecond(format.maxBitrate), bitsPerSecond(format.bitrate),
                              bitsPerSecond(format.minBitrate));
}

bool channelsSupported(int channels)
{
    return channels == 1 || channels == 2;
}

// Copies the resampler's output into libvorbis's analysis buffer.
Status analyse(vorbis_dsp_state* dsp, const Result<Resampler::Audio>& converted)
{
    if (!converted)
        return Failure{converted.error()};
    const Resampler::Audio& audio = converted.value();
    // Zero samples would tell libvorbis that the stream has ended.
    if (audio.frames == 0)
        return {};
    float** planes = vorbis_analysis_buffer(dsp, audio.frames);
    for (int c = 0; c < audio.channels; ++c)
        std::copy_n(audio.planes[c], audio.frames, planes[c]);
    vorbis_analysis_wrote(dsp, audio.frames);
    return {};
}

} // namespace

struct VorbisEncoder::State {
    // Declared in the order of their set-up, so they are cleared in reverse: the block and the
    // DSP state point into the info.
    Cleared<vorbis_info, vorbis_info_clear> info;
    Cleared<vorbis_comment, vorbis_comment_clear> comment;
    Cleared<vorbis_dsp_state, vorbis_dsp_clear> dsp;
    Cleared<vorbis_block, vorbis_block_clear> block;
    Cleared<ogg_stream_state, ogg_stream_clear> stream;
    std::optional<Resampler> resampler; // none for 44.1 kHz stereo
};

VorbisEncoder::VorbisEncoder(const OggFormat& format) : m_format(format) {}

VorbisEncoder::~VorbisEncoder() = default;

bool VorbisEncoder::acceptsManaged(int sampleRate, int channels, int bitrate, int minBitrate,
                                   int maxBitrate)
{
    if (!channelsSupported(channels) || sampleRate <= 0)
        return false;
    Cleared<vorbis_info, vorbis_info_clear> info;
    vorbis_info_init(info.get());
    info.setLive();
    const OggFormat format{sampleRate, channels, bitrate, minBitrate, maxBitrate, -1};
    return setUpInfo(info.get(), format) == 0;
}

Status VorbisEncoder::begin(QIODevice& out, qint64 /*totalFrames*/)
{
    m_out = nullptr;
    m_state.reset();
    if (!channelsSupported(m_format.channels))
        return Failure{QStringLiteral("Ogg Vorbis files are made with one or two channels, not %1.")
                           .arg(m_format.channels)};
    auto state = std::make_unique<State>();

    vorbis_info_init(state->info.get());
    state->info.setLive();
    if (setUpInfo(state->info.get(), m_format) != 0)
        return Failure{QStringLiteral("The Vorbis encoder does not accept this format: %1.")
                           .arg(encoders::describeOgg(m_format))};
    vorbis_comment_init(state->comment.get());
    state->comment.setLive();
    if (vorbis_analysis_init(state->dsp.get(), state->info.get()) != 0)
        return Failure{QStringLiteral("The Vorbis encoder could not start.")};
    state->dsp.setLive();
    if (vorbis_block_init(state->dsp.get(), state->block.get()) != 0)
        return Failure{QStringLiteral("The Vorbis encoder could not start.")};
    state->block.setLive();
    // Like oggenc, a random serial number, so that chained files never share one.
    if (ogg_stream_init(state->stream.get(), int(QRandomGenerator::global()->generate() >> 1)) != 0)
        return Failure{QStringLiteral("The Ogg stream could not start.")};
    state->stream.setLive();

    if (m_format.sampleRate != InputRate || m_format.channels != InputChannels) {
        auto resampler = Resampler::make(m_format.sampleRate, m_format.channels);
        if (!resampler)
            return Failure{resampler.error()};
        state->resampler.emplace(resampler.take());
    }

    // The three header packets, flushed so that the audio starts on a page of its own.
    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    if (vorbis_analysis_headerout(state->dsp.get(), state->comment.get(), &identification,
                                  &comments, &codebooks) != 0)
        return Failure{QStringLiteral("The Vorbis encoder could not make its headers.")};
    ogg_stream_packetin(state->stream.get(), &identification);
    ogg_stream_packetin(state->stream.get(), &comments);
    ogg_stream_packetin(state->stream.get(), &codebooks);

    m_state = std::move(state);
    m_out = &out;
    if (Status written = writePages(true); !written) {
        m_out = nullptr;
        m_state.reset();
        return written;
    }
    return {};
}

Status VorbisEncoder::writePages(bool flush)
{
    ogg_stream_state* stream = m_state->stream.get();
    ogg_page page;
    while ((flush ? ogg_stream_flush(stream, &page) : ogg_stream_pageout(stream, &page)) != 0) {
        if (Status written = writeAll(*m_out, page.header, page.header_len); !written)
            return written;
        if (Status written = writeAll(*m_out, page.body, page.body_len); !written)
            return written;
    }
    return {};
}

Status VorbisEncoder::feed(std::span<const qint16> interleaved)
{
    vorbis_dsp_state* dsp = m_state->dsp.get();
    if (m_state->resampler)
        return analyse(dsp, m_state->resampler->convert(interleaved));
    const int frames = int(interleaved.size() / InputChannels);
    float** planes = vorbis_analysis_buffer(dsp, frames);
    constexpr float Scale = 1.0f / 32768.0f;
    for (int i = 0; i < frames; ++i) {
        planes[0][i] = float(interleaved[2 * i]) * Scale;
        planes[1][i] = float(interleaved[2 * i + 1]) * Scale;
    }
    vorbis_analysis_wrote(dsp, frames);
    return {};
}

// Turns whatever libvorbis can analyse into packets and every full page into file data.
Status VorbisEncoder::drain()
{
    vorbis_dsp_state* dsp = m_state->dsp.get();
    vorbis_block* block = m_state->block.get();
    ogg_stream_state* stream = m_state->stream.get();
    while (vorbis_analysis_blockout(dsp, block) == 1) {
        if (vorbis_analysis(block, nullptr) != 0 || vorbis_bitrate_addblock(block) != 0)
            return Failure{QStringLiteral("The Vorbis encoder failed on the audio.")};
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(dsp, &packet) == 1) {
            ogg_stream_packetin(stream, &packet);
            if (Status written = writePages(false); !written)
                return written;
        }
    }
    return {};
}

Status VorbisEncoder::encode(std::span<const qint16> interleaved)
{
    if (!m_out)
        return notStarted();
    while (interleaved.size() >= size_t(InputChannels)) {
        const auto chunk = interleaved.first(
            std::min<size_t>(interleaved.size() / InputChannels, ChunkFrames) * InputChannels);
        if (Status fed = feed(chunk); !fed)
            return fed;
        if (Status drained = drain(); !drained)
            return drained;
        interleaved = interleaved.subspan(chunk.size());
    }
    return {};
}

Status VorbisEncoder::finish()
{
    if (!m_out)
        return notStarted();
    Status done =
        m_state->resampler ? analyse(m_state->dsp.get(), m_state->resampler->flush()) : Status();
    if (done) {
        // No more samples: libvorbis ends the stream and the last page carries its end mark.
        vorbis_analysis_wrote(m_state->dsp.get(), 0);
        done = drain();
    }
    if (done)
        done = writePages(true);
    m_out = nullptr;
    m_state.reset();
    return done;
}
