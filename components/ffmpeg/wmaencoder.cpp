#include "components/ffmpeg/wmaencoder.h"

#include "components/ffmpeg/swrresampler.h"

#include <QIODevice>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <optional>

namespace
{

// A second of CD audio is converted at a time; wmav2 then takes it a frame (2048 samples at
// 44.1 kHz) at a time from the FIFO.
constexpr int ChunkFrames = AudioEncoder::InputRate;
constexpr int IoBufferBytes = 64 * 1024;
constexpr int DefaultAsfPacket = 3200; // FFmpeg's, and the usual size in WMA files

// FFmpeg 7 made the buffer of the write callback const.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WriteBuffer = const uint8_t*;
#else
using WriteBuffer = uint8_t*;
#endif

// Deleters for FFmpeg's free functions, which take either the pointer or its address.
template <auto Free> struct FreeByAddress {
    template <typename T> void operator()(T* p) const { Free(&p); }
};
template <auto Free> struct FreeByValue {
    template <typename T> void operator()(T* p) const { Free(p); }
};
struct AvioFree {
    // The buffer belongs to the caller and may have been replaced by avio, so it is freed
    // through the context.
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};

QString avError(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

// Queues converted audio for the encoder.
Status queue(AVAudioFifo* fifo, const Result<Resampler::Audio>& converted)
{
    if (!converted)
        return Failure{converted.error()};
    const Resampler::Audio& audio = converted.value();
    if (audio.frames > 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(audio.planes),
                                                audio.frames) != audio.frames)
        return Failure{QStringLiteral("The WMA encoder ran out of memory.")};
    return {};
}

} // namespace

struct WmaEncoder::State {
    QIODevice* out = nullptr;
    qint64 start = 0;   // where the ASF file begins on the device; avio positions count from it
    QString writeError; // the device's text when the muxer's write or seek failed

    // Destroyed in reverse: the format context before the I/O context it writes through.
    std::unique_ptr<AVIOContext, AvioFree> io;
    std::unique_ptr<AVFormatContext, FreeByValue<avformat_free_context>> format;
    std::unique_ptr<AVCodecContext, FreeByAddress<avcodec_free_context>> codec;
    std::unique_ptr<AVAudioFifo, FreeByValue<av_audio_fifo_free>> fifo;
    std::unique_ptr<AVFrame, FreeByAddress<av_frame_free>> frame;
    std::unique_ptr<AVPacket, FreeByAddress<av_packet_free>> packet;
    AVStream* stream = nullptr;
    std::unique_ptr<SwrResampler> resampler;
    int64_t nextPts = 0;

    // A write error of the device explains an FFmpeg failure best, when there was one.
    Failure failure(const QString& what, int error) const
    {
        if (!writeError.isEmpty())
            return Failure{QStringLiteral("Could not write the audio file: %1").arg(writeError)};
        return Failure{QStringLiteral("%1: %2").arg(what, avError(error))};
    }

    static int write(void* opaque, WriteBuffer data, int size)
    {
        auto* state = static_cast<State*>(opaque);
        // A write that fills the disk writes what fits without an error; the next one says why.
        const char* bytes = reinterpret_cast<const char*>(data);
        for (qint64 left = size; left > 0;) {
            const qint64 written = state->out->write(bytes, left);
            if (written <= 0) {
                state->writeError = state->out->errorString();
                return AVERROR(EIO);
            }
            bytes += written;
            left -= written;
        }
        return size;
    }

    static int64_t seek(void* opaque, int64_t offset, int whence)
    {
        auto* state = static_cast<State*>(opaque);
        QIODevice& out = *state->out;
        qint64 target = 0;
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return out.size() - state->start;
        case SEEK_SET:
            target = state->start + offset;
            break;
        case SEEK_CUR:
            target = out.pos() + offset;
            break;
        case SEEK_END:
            target = out.size() + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (target < state->start || !out.seek(target)) {
            state->writeError = out.errorString();
            return AVERROR(EIO);
        }
        return target - state->start;
    }
};

WmaEncoder::WmaEncoder(const WmaProfile& profile) : m_profile(profile) {}

WmaEncoder::~WmaEncoder() = default;

Status WmaEncoder::begin(QIODevice& out, qint64 /*totalFrames*/)
{
    m_state.reset();
    auto state = std::make_unique<State>();
    state->out = &out;
    state->start = out.pos();
    const int rate = m_profile.sampleRate;
    const int channels = m_profile.channels;
    const Failure outOfMemory{QStringLiteral("The WMA encoder could not start (out of memory).")};

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec)
        return Failure{QStringLiteral("FFmpeg has no Windows Media Audio 2 encoder here.")};
    state->codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* context = state->codec.get();
    if (!context)
        return outOfMemory;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->sample_rate = rate;
    av_channel_layout_default(&context->ch_layout, channels);
    context->bit_rate = int64_t(m_profile.bitrate) * 1000;
    context->time_base = {1, rate};

    AVFormatContext* format = nullptr;
    int error = avformat_alloc_output_context2(&format, nullptr, "asf", nullptr);
    state->format.reset(format);
    if (error < 0)
        return state->failure(QStringLiteral("FFmpeg could not make an ASF file"), error);
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    error = avcodec_open2(context, codec, nullptr);
    if (error < 0)
        return state->failure(
            QStringLiteral("The WMA encoder does not accept %1 kbit/s, %2 Hz, %3 channel(s)")
                .arg(m_profile.bitrate)
                .arg(rate)
                .arg(channels),
            error);
    if (context->frame_size <= 0)
        return Failure{QStringLiteral("The WMA encoder did not say its frame size.")};

    // The ASF muxer never splits an audio frame across its packets (3200 bytes by default), so
    // at high bitrates up to a third of the file would be padding. Packets sized to a whole
    // number of wmav2 frames (block_align bytes each, plus the payload and packet headers)
    // waste almost nothing; the margin keeps a few bytes of slack for the headers.
    if (context->block_align > 0) {
        constexpr int PayloadHeader = 17;
        constexpr int PacketHeader = 14 + 16;
        const int payload = context->block_align + PayloadHeader;
        const int perPacket = std::max(1, (DefaultAsfPacket - PacketHeader) / payload);
        error = av_opt_set_int(format->priv_data, "packet_size",
                               int64_t(perPacket) * payload + PacketHeader, 0);
        if (error < 0)
            return state->failure(QStringLiteral("Could not set up the ASF packets"), error);
    }

    state->stream = avformat_new_stream(format, nullptr);
    if (!state->stream)
        return outOfMemory;
    error = avcodec_parameters_from_context(state->stream->codecpar, context);
    if (error < 0)
        return state->failure(QStringLiteral("The WMA stream could not be set up"), error);
    state->stream->time_base = context->time_base;

    auto* buffer = static_cast<unsigned char*>(av_malloc(IoBufferBytes));
    if (!buffer)
        return outOfMemory;
    state->io.reset(avio_alloc_context(buffer, IoBufferBytes, 1, state.get(), nullptr,
                                       &State::write, &State::seek));
    if (!state->io) {
        av_free(buffer);
        return outOfMemory;
    }
    format->pb = state->io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;

    // wmav2 takes planar float, so even 44.1 kHz stereo goes through the resampler.
    auto resampler = SwrResampler::make(rate, channels);
    if (!resampler)
        return Failure{resampler.error()};
    state->resampler = resampler.take();

    state->fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, 2 * ChunkFrames));
    state->frame.reset(av_frame_alloc());
    state->packet.reset(av_packet_alloc());
    if (!state->fifo || !state->frame || !state->packet)
        return outOfMemory;
    AVFrame* frame = state->frame.get();
    frame->nb_samples = context->frame_size;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = rate;
    error = av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    if (error >= 0)
        error = av_frame_get_buffer(frame, 0);
    if (error < 0)
        return state->failure(QStringLiteral("The WMA encoder could not start"), error);

    error = avformat_write_header(format, nullptr);
    if (error < 0)
        return state->failure(QStringLiteral("Could not write the ASF header"), error);
    m_state = std::move(state);
    return {};
}

Status WmaEncoder::writePackets()
{
    State& s = *m_state;
    AVPacket* packet = s.packet.get();
    for (;;) {
        int error = avcodec_receive_packet(s.codec.get(), packet);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
            return {};
        if (error < 0)
            return s.failure(QStringLiteral("The WMA encoder failed on the audio"), error);
        av_packet_rescale_ts(packet, s.codec->time_base, s.stream->time_base);
        packet->stream_index = s.stream->index;
        error = av_write_frame(s.format.get(), packet);
        av_packet_unref(packet);
        if (error < 0)
            return s.failure(QStringLiteral("Could not write the WMA audio"), error);
    }
}

// Hands every whole frame in the FIFO to the encoder; at the end also the short rest (which
// libavcodec pads) and the flush that returns the encoder's last packets.
Status WmaEncoder::sendFrames(bool last)
{
    State& s = *m_state;
    AVFrame* frame = s.frame.get();
    const int frameSize = s.codec->frame_size;
    for (;;) {
        const int available = av_audio_fifo_size(s.fifo.get());
        if (available < frameSize && !(last && available > 0))
            break;
        const int samples = std::min(available, frameSize);
        // The encoder may still hold the previous frame's buffer.
        frame->nb_samples = frameSize;
        int error = av_frame_make_writable(frame);
        if (error < 0)
            return s.failure(QStringLiteral("The WMA encoder ran out of memory"), error);
        frame->nb_samples = samples;
        if (av_audio_fifo_read(s.fifo.get(), reinterpret_cast<void**>(frame->data), samples) !=
            samples)
            return Failure{QStringLiteral("The WMA encoder lost audio in its buffer.")};
        frame->pts = s.nextPts;
        s.nextPts += samples;
        error = avcodec_send_frame(s.codec.get(), frame);
        if (error < 0)
            return s.failure(QStringLiteral("The WMA encoder failed on the audio"), error);
        if (Status written = writePackets(); !written)
            return written;
    }
    if (last) {
        const int error = avcodec_send_frame(s.codec.get(), nullptr);
        if (error < 0)
            return s.failure(QStringLiteral("The WMA encoder could not finish"), error);
        return writePackets();
    }
    return {};
}

Status WmaEncoder::encode(std::span<const qint16> interleaved)
{
    if (!m_state)
        return notStarted();
    State& s = *m_state;
    while (interleaved.size() >= size_t(InputChannels)) {
        const auto chunk = interleaved.first(
            std::min<size_t>(interleaved.size() / InputChannels, ChunkFrames) * InputChannels);
        if (Status queued = queue(s.fifo.get(), s.resampler->convert(chunk)); !queued)
            return queued;
        if (Status sent = sendFrames(false); !sent)
            return sent;
        interleaved = interleaved.subspan(chunk.size());
    }
    return {};
}

Status WmaEncoder::complete()
{
    State& s = *m_state;
    if (Status queued = queue(s.fifo.get(), s.resampler->flush()); !queued)
        return queued;
    if (Status sent = sendFrames(true); !sent)
        return sent;
    // The trailer writes the index and seeks back to complete the header.
    const int error = av_write_trailer(s.format.get());
    if (error < 0 || !s.writeError.isEmpty())
        return s.failure(QStringLiteral("Could not complete the ASF file"), error);
    // Leave the device at the end of the file, as after any other encoder.
    return seekTo(*s.out, s.out->size());
}

Status WmaEncoder::finish()
{
    if (!m_state)
        return notStarted();
    const Status done = complete();
    m_state.reset();
    return done;
}
