#pragma once

#include "components/audiofile/audioencoder.h"

#include <memory>

// Encodes Windows Media Audio 2 with FFmpeg's wmav2 encoder into an ASF file, written through
// the device (the ASF header is completed by seeking back at the end).
class WmaEncoder final : public AudioEncoder
{
public:
    explicit WmaEncoder(const WmaProfile& profile);
    ~WmaEncoder() override;

    Status begin(QIODevice& out, qint64 totalFrames) override;
    Status encode(std::span<const qint16> interleaved) override;
    Status finish() override;

private:
    struct State;

    Status sendFrames(bool last);
    Status complete();
    Status writePackets();

    WmaProfile m_profile;
    std::unique_ptr<State> m_state;
};
