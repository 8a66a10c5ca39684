#include "components/audiofile/flacencoder.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <QIODevice>

#include <algorithm>
#include <vector>

namespace
{

// Frames widened per call into libFLAC, which bounds the conversion buffer.
constexpr qsizetype ChunkFrames = 4096;

} // namespace

// libFLAC's encoder writing onto one device. The callbacks work relative to where the stream
// began, so a stream written after other bytes still finds its own headers.
struct FlacEncoder::State {
    QIODevice& out;
    qint64 start = 0;
    FLAC__StreamEncoder* encoder = nullptr;
    std::vector<FLAC__StreamMetadata*> metadata; // libFLAC reads them until the end
    QString deviceError;              // why the device refused a write or a seek, once it has
    std::vector<FLAC__int32> samples; // the input widened to libFLAC's sample type

    explicit State(QIODevice& device) : out(device), start(device.pos()) {}

    ~State()
    {
        // An encoder that was not finished is deleted without writing anything more: libFLAC
        // discards what it holds then.
        if (encoder)
            FLAC__stream_encoder_delete(encoder);
        for (FLAC__StreamMetadata* block : metadata)
            FLAC__metadata_object_delete(block);
    }

    // The failure of a libFLAC call: the device's reason when a write failed, else libFLAC's.
    Failure failure(const QString& what) const
    {
        if (!deviceError.isEmpty())
            return Failure{deviceError};
        const char* reason =
            encoder ? FLAC__stream_encoder_get_resolved_state_string(encoder) : "out of memory";
        return Failure{QStringLiteral("The FLAC encoder could not %1: %2")
                           .arg(what, QString::fromUtf8(reason))};
    }

    static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*,
                                                const FLAC__byte bytes[], size_t size, uint32_t,
                                                uint32_t, void* data)
    {
        auto* self = static_cast<State*>(data);
        if (Status written = writeAll(self->out, bytes, qint64(size)); !written) {
            self->deviceError = written.error();
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }

    static FLAC__StreamEncoderSeekStatus seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* data)
    {
        auto* self = static_cast<State*>(data);
        if (Status moved = seekTo(self->out, self->start + qint64(offset)); !moved) {
            self->deviceError = moved.error();
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        }
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }

    static FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* data)
    {
        auto* self = static_cast<State*>(data);
        *offset = FLAC__uint64(self->out.pos() - self->start);
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }
};

FlacEncoder::FlacEncoder(int level) : m_level(std::clamp(level, 0, 8)) {}

FlacEncoder::~FlacEncoder() = default;

Status FlacEncoder::begin(QIODevice& out, qint64 totalFrames)
{
    m_state.reset();
    auto state = std::make_unique<State>(out);
    FLAC__StreamEncoder* encoder = state->encoder = FLAC__stream_encoder_new();
    if (!encoder)
        return state->failure(QStringLiteral("start"));

    bool set = FLAC__stream_encoder_set_verify(encoder, false) &&
               FLAC__stream_encoder_set_streamable_subset(encoder, true) &&
               FLAC__stream_encoder_set_channels(encoder, InputChannels) &&
               FLAC__stream_encoder_set_bits_per_sample(encoder, 16) &&
               FLAC__stream_encoder_set_sample_rate(encoder, InputRate) &&
               FLAC__stream_encoder_set_compression_level(encoder, unsigned(m_level)) &&
               FLAC__stream_encoder_set_total_samples_estimate(
                   encoder, FLAC__uint64(std::max<qint64>(totalFrames, 0)));

    // A seek table (its points found as the frames are written, filled in at the end) when the
    // length is known, then padding for the tags. libFLAC adds the comment block itself.
    if (set && totalFrames > 0) {
        FLAC__StreamMetadata* table = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
        if (table)
            state->metadata.push_back(table);
        set = table &&
              FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
                  table, SeekPointFrames, FLAC__uint64(totalFrames)) &&
              FLAC__metadata_object_seektable_template_sort(table, true);
    }
    if (set) {
        FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
        if (padding) {
            padding->length = PaddingBytes;
            state->metadata.push_back(padding);
        }
        set = padding && FLAC__stream_encoder_set_metadata(encoder, state->metadata.data(),
                                                           unsigned(state->metadata.size()));
    }
    if (!set)
        return state->failure(QStringLiteral("be set up"));

    // The headers are written now, so a device that is already full fails here.
    if (FLAC__stream_encoder_init_stream(encoder, &State::write, &State::seek, &State::tell,
                                         nullptr,
                                         state.get()) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return state->failure(QStringLiteral("start"));
    m_state = std::move(state);
    return {};
}

Status FlacEncoder::encode(std::span<const qint16> interleaved)
{
    if (!m_state)
        return notStarted();
    State& state = *m_state;
    const qsizetype frames = qsizetype(interleaved.size()) / InputChannels;
    for (qsizetype at = 0; at < frames; at += ChunkFrames) {
        const qsizetype count = std::min(ChunkFrames, frames - at);
        const auto piece =
            interleaved.subspan(size_t(at * InputChannels), size_t(count * InputChannels));
        state.samples.assign(piece.begin(), piece.end());
        if (!FLAC__stream_encoder_process_interleaved(state.encoder, state.samples.data(),
                                                      unsigned(count)))
            return state.failure(QStringLiteral("encode"));
    }
    return {};
}

Status FlacEncoder::finish()
{
    if (!m_state)
        return notStarted();
    const std::unique_ptr<State> state = std::move(m_state);
    // Encodes the last frame, then seeks back to fill in STREAMINFO and the seek table.
    if (!FLAC__stream_encoder_finish(state->encoder))
        return state->failure(QStringLiteral("complete the file"));
    // Leave the device at the end of the file, as after any other encoder.
    return seekTo(state->out, state->out.size());
}
