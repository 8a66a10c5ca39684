#pragma once

#include "components/audiofile/audioencoder.h"

#include <memory>

// Encodes Ogg Vorbis with libvorbisenc, by quality or with managed bitrates. Formats other than
// 44.1 kHz stereo are resampled or downmixed with libswresample first.
class VorbisEncoder final : public AudioEncoder
{
public:
    explicit VorbisEncoder(const OggFormat& format);
    ~VorbisEncoder() override;

    Status begin(QIODevice& out, qint64 totalFrames) override;
    Status encode(std::span<const qint16> interleaved) override;
    Status finish() override;

    // Whether libvorbisenc takes this managed-bitrate setup (kbit/s, 0 = none) for one or two
    // channels, which is what can be made from the CD's stereo.
    static bool acceptsManaged(int sampleRate, int channels, int bitrate, int minBitrate,
                               int maxBitrate);

private:
    struct State;

    Status feed(std::span<const qint16> interleaved);
    Status drain();
    // Writes the pages that are full, or with flush every page that holds data.
    Status writePages(bool flush);

    OggFormat m_format;
    std::unique_ptr<State> m_state;
    QIODevice* m_out = nullptr;
};
