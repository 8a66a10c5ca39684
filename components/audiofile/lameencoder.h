#pragma once

#include "components/audiofile/audioencoder.h"

#include <memory>
#include <vector>

struct lame_global_struct;

// Sets up a fresh LAME encoder (from lame_init()) for 44.1 kHz 16-bit stereo input with these
// settings, and initialises its parameters. With tagFrame, LAME starts the stream with an empty
// frame that the Xing/LAME tag is to replace once the stream is complete.
Status configureLame(lame_global_struct* lame, const Mp3EncoderSettings& settings,
                     bool tagFrame = true);
// The failure for a negative result of lame_encode_buffer*() or lame_encode_flush().
Failure lameEncodeFailure(int result);

// Encodes MP3 with LAME, with the Xing/LAME tag at the start so that players know the length
// and the encoder delay (gapless playback).
class LameEncoder final : public AudioEncoder
{
public:
    explicit LameEncoder(const Mp3EncoderSettings& settings);
    ~LameEncoder() override;

    Status begin(QIODevice& out, qint64 totalFrames) override;
    Status encode(std::span<const qint16> interleaved) override;
    Status finish() override;

private:
    struct LameClose {
        void operator()(lame_global_struct* flags) const;
    };

    Status writeEncoded(int result);

    Mp3EncoderSettings m_settings;
    std::unique_ptr<lame_global_struct, LameClose> m_lame;
    QIODevice* m_out = nullptr;
    qint64 m_start = 0; // where the first frame (the tag) begins on the device
    std::vector<unsigned char> m_buffer;
};
