#pragma once

#include "components/audiofile/audioencoder.h"

#include <memory>

// Encodes the CD's audio losslessly with libFLAC's stream encoder: 44.1 kHz, 16 bit, stereo, at
// compression level 0 (fastest) to 8 (smallest). The encoder writes through the device and, at the
// end, seeks back to complete STREAMINFO (total samples, MD5 of the audio) and the seek table.
class FlacEncoder final : public AudioEncoder
{
public:
    // Levels outside 0..8 are taken as the nearest one.
    explicit FlacEncoder(int level);
    ~FlacEncoder() override;

    Status begin(QIODevice& out, qint64 totalFrames) override;
    Status encode(std::span<const qint16> interleaved) override;
    Status finish() override;

    // Room left before the audio for tags written once the file is complete, so that adding
    // them does not move the audio.
    static constexpr unsigned PaddingBytes = 8192;
    // A seek point every ten seconds, as the flac tool places them.
    static constexpr unsigned SeekPointFrames = 10 * InputRate;

private:
    struct State;

    std::unique_ptr<State> m_state; // while a file is being written
    int m_level;
};
