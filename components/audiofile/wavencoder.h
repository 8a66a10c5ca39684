#pragma once

#include "components/audiofile/audioencoder.h"

// Writes the CD audio unchanged into a RIFF/WAVE file (PCM, 44.1 kHz, 16 bit, stereo).
class WavEncoder final : public AudioEncoder
{
public:
    Status begin(QIODevice& out, qint64 totalFrames) override;
    Status encode(std::span<const qint16> interleaved) override;
    Status finish() override;

private:
    QIODevice* m_out = nullptr;
    qint64 m_start = 0;     // where the header begins on the device
    qint64 m_dataBytes = 0; // PCM bytes written so far
};
