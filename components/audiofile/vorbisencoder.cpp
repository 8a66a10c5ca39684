#include "components/audiofile/vorbisencoder.h"

#include "components/audiofile/resampler.h"

#include <QIODevice>
#include <QRandomGenerator>

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace
{

// Frames per analysis buffer, as oggenc feeds them. libvorbis shifts its whole pending buffer
// down after every block it takes out, so large feeds cost time rather than save it. Its choice
// of block sizes depends on how much audio it has been given when it looks ahead, so the audio
// goes in in these steps from the stream's start whatever pieces it comes in: the same audio
// always gives the same packets.
constexpr size_t ChunkFrames = 1024;

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
    bool live() const { return m_live; }
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

struct VorbisAnalysis::State {
    // Declared in the order of their set-up, so they are cleared in reverse: the block and the
    // DSP state point into the info.
    Cleared<vorbis_info, vorbis_info_clear> info;
    Cleared<vorbis_comment, vorbis_comment_clear> comment;
    Cleared<vorbis_dsp_state, vorbis_dsp_clear> dsp;
    Cleared<vorbis_block, vorbis_block_clear> block;
    std::optional<Resampler> resampler; // none for 44.1 kHz stereo
    std::vector<qint16> pending;        // less than a chunk, waiting for the rest of it
};

VorbisAnalysis::VorbisAnalysis(std::unique_ptr<State> state) : m_state(std::move(state)) {}

VorbisAnalysis::~VorbisAnalysis() = default;

Result<std::unique_ptr<VorbisAnalysis>> VorbisAnalysis::make(const OggFormat& format)
{
    if (!channelsSupported(format.channels))
        return Failure{QStringLiteral("Ogg Vorbis files are made with one or two channels, not %1.")
                           .arg(format.channels)};
    auto state = std::make_unique<State>();

    vorbis_info_init(state->info.get());
    state->info.setLive();
    if (setUpInfo(state->info.get(), format) != 0)
        return Failure{QStringLiteral("The Vorbis encoder does not accept this format: %1.")
                           .arg(encoders::describeOgg(format))};
    vorbis_comment_init(state->comment.get());
    state->comment.setLive();
    if (vorbis_analysis_init(state->dsp.get(), state->info.get()) != 0)
        return Failure{QStringLiteral("The Vorbis encoder could not start.")};
    state->dsp.setLive();
    if (vorbis_block_init(state->dsp.get(), state->block.get()) != 0)
        return Failure{QStringLiteral("The Vorbis encoder could not start.")};
    state->block.setLive();

    if (format.sampleRate != AudioEncoder::InputRate ||
        format.channels != AudioEncoder::InputChannels) {
        auto resampler = Resampler::make(format.sampleRate, format.channels);
        if (!resampler)
            return Failure{resampler.error()};
        state->resampler.emplace(resampler.take());
    }
    return std::unique_ptr<VorbisAnalysis>(new VorbisAnalysis(std::move(state)));
}

namespace
{

VorbisAnalysis::Packet packetOf(const ogg_packet& packet)
{
    return {{packet.packet, size_t(packet.bytes)}, packet.granulepos, packet.e_o_s != 0};
}

} // namespace

Status VorbisAnalysis::headers(const Sink& sink)
{
    ogg_packet identification;
    ogg_packet comments;
    ogg_packet codebooks;
    if (vorbis_analysis_headerout(m_state->dsp.get(), m_state->comment.get(), &identification,
                                  &comments, &codebooks) != 0)
        return Failure{QStringLiteral("The Vorbis encoder could not make its headers.")};
    for (const ogg_packet* packet : {&identification, &comments, &codebooks})
        if (Status taken = sink(packetOf(*packet)); !taken)
            return taken;
    return {};
}

long VorbisAnalysis::blockSize(std::span<const unsigned char> bytes)
{
    ogg_packet packet{};
    packet.packet = const_cast<unsigned char*>(bytes.data());
    packet.bytes = long(bytes.size());
    return vorbis_packet_blocksize(m_state->info.get(), &packet);
}

Status VorbisAnalysis::feed(std::span<const qint16> interleaved)
{
    vorbis_dsp_state* dsp = m_state->dsp.get();
    if (m_state->resampler)
        return analyse(dsp, m_state->resampler->convert(interleaved));
    const int frames = int(interleaved.size() / AudioEncoder::InputChannels);
    float** planes = vorbis_analysis_buffer(dsp, frames);
    constexpr float Scale = 1.0f / 32768.0f;
    for (int i = 0; i < frames; ++i) {
        planes[0][i] = float(interleaved[2 * i]) * Scale;
        planes[1][i] = float(interleaved[2 * i + 1]) * Scale;
    }
    vorbis_analysis_wrote(dsp, frames);
    return {};
}

// Turns whatever libvorbis can analyse into packets.
Status VorbisAnalysis::drain(const Sink& sink)
{
    vorbis_dsp_state* dsp = m_state->dsp.get();
    vorbis_block* block = m_state->block.get();
    while (vorbis_analysis_blockout(dsp, block) == 1) {
        if (vorbis_analysis(block, nullptr) != 0 || vorbis_bitrate_addblock(block) != 0)
            return Failure{QStringLiteral("The Vorbis encoder failed on the audio.")};
        ogg_packet packet;
        while (vorbis_bitrate_flushpacket(dsp, &packet) == 1)
            if (Status taken = sink(packetOf(packet)); !taken)
                return taken;
    }
    return {};
}

Status VorbisAnalysis::encode(std::span<const qint16> interleaved, const Sink& sink)
{
    constexpr size_t Chunk = ChunkFrames * AudioEncoder::InputChannels;
    std::vector<qint16>& pending = m_state->pending;
    const auto take = [&](std::span<const qint16> chunk) {
        Status fed = feed(chunk);
        return fed ? drain(sink) : fed;
    };
    if (!pending.empty()) {
        const size_t taken = std::min(Chunk - pending.size(), interleaved.size());
        pending.insert(pending.end(), interleaved.begin(), interleaved.begin() + taken);
        interleaved = interleaved.subspan(taken);
        if (pending.size() < Chunk)
            return {};
        Status done = take(pending);
        pending.clear();
        if (!done)
            return done;
    }
    for (; interleaved.size() >= Chunk; interleaved = interleaved.subspan(Chunk))
        if (Status done = take(interleaved.first(Chunk)); !done)
            return done;
    // Whole frames only: half a frame can't be analysed.
    const size_t rest =
        interleaved.size() / AudioEncoder::InputChannels * AudioEncoder::InputChannels;
    pending.assign(interleaved.begin(), interleaved.begin() + rest);
    return {};
}

Status VorbisAnalysis::finish(const Sink& sink)
{
    if (!m_state->pending.empty()) {
        Status fed = feed(m_state->pending);
        m_state->pending.clear();
        if (fed)
            fed = drain(sink);
        if (!fed)
            return fed;
    }
    if (m_state->resampler)
        if (Status fed = analyse(m_state->dsp.get(), m_state->resampler->flush()); !fed)
            return fed;
    // No more samples: libvorbis ends the stream and its last packet carries the end mark.
    vorbis_analysis_wrote(m_state->dsp.get(), 0);
    return drain(sink);
}

struct VorbisEncoder::PageWriter::State {
    Cleared<ogg_stream_state, ogg_stream_clear> stream;
};

VorbisEncoder::PageWriter::PageWriter(QIODevice& out)
    : m_state(std::make_unique<State>()), m_out(out)
{
    if (ogg_stream_init(m_state->stream.get(), int(QRandomGenerator::global()->generate() >> 1)) ==
        0)
        m_state->stream.setLive();
}

VorbisEncoder::PageWriter::~PageWriter() = default;

namespace
{

void packetIn(ogg_stream_state* stream, const VorbisAnalysis::Packet& packet)
{
    ogg_packet raw{};
    raw.packet = const_cast<unsigned char*>(packet.bytes.data());
    raw.bytes = long(packet.bytes.size());
    raw.granulepos = packet.granule;
    raw.e_o_s = packet.endOfStream ? 1 : 0;
    ogg_stream_packetin(stream, &raw);
}

} // namespace

Status VorbisEncoder::PageWriter::headers(std::span<const VorbisAnalysis::Packet> packets)
{
    if (!m_state->stream.live())
        return Failure{QStringLiteral("The Ogg stream could not start.")};
    for (const VorbisAnalysis::Packet& packet : packets)
        packetIn(m_state->stream.get(), packet);
    return writePages(true);
}

Status VorbisEncoder::PageWriter::audio(const VorbisAnalysis::Packet& packet)
{
    packetIn(m_state->stream.get(), packet);
    return writePages(false);
}

Status VorbisEncoder::PageWriter::finish()
{
    return writePages(true);
}

Status VorbisEncoder::PageWriter::writePages(bool flush)
{
    ogg_stream_state* stream = m_state->stream.get();
    ogg_page page;
    while ((flush ? ogg_stream_flush(stream, &page) : ogg_stream_pageout(stream, &page)) != 0) {
        if (Status written = writeAll(m_out, page.header, page.header_len); !written)
            return written;
        if (Status written = writeAll(m_out, page.body, page.body_len); !written)
            return written;
    }
    return {};
}

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
    m_writer.reset();
    m_analysis.reset();
    auto analysis = VorbisAnalysis::make(m_format);
    if (!analysis)
        return Failure{analysis.error()};
    m_analysis = analysis.take();
    m_writer = std::make_unique<PageWriter>(out);

    // The three header packets, flushed so that the audio starts on a page of its own. They
    // stay valid until libvorbis makes headers again.
    std::vector<VorbisAnalysis::Packet> headers;
    Status made = m_analysis->headers([&](const VorbisAnalysis::Packet& packet) {
        headers.push_back(packet);
        return Status();
    });
    if (made)
        made = m_writer->headers(headers);
    if (!made) {
        m_writer.reset();
        m_analysis.reset();
        return made;
    }
    m_sink = [this](const VorbisAnalysis::Packet& packet) { return m_writer->audio(packet); };
    return {};
}

Status VorbisEncoder::encode(std::span<const qint16> interleaved)
{
    if (!m_writer)
        return notStarted();
    return m_analysis->encode(interleaved, m_sink);
}

Status VorbisEncoder::finish()
{
    if (!m_writer)
        return notStarted();
    Status done = m_analysis->finish(m_sink);
    if (done)
        done = m_writer->finish();
    m_writer.reset();
    m_analysis.reset();
    return done;
}
