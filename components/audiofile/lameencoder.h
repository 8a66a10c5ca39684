#pragma once

#include "components/audiofile/audioencoder.h"

#include <memory>
#include <vector>

struct lame_global_struct;

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

    Status configure();
    Status writeEncoded(int result);

    Mp3EncoderSettings m_settings;
    std::unique_ptr<lame_global_struct, LameClose> m_lame;
    QIODevice* m_out = nullptr;
    qint64 m_start = 0; // where the first frame (the tag) begins on the device
    std::vector<unsigned char> m_buffer;
};
