#pragma once

#include "components/audiofile/ffmpegcodecs.h"

#include <cstdint>
#include <memory>
#include <vector>

struct SwrContext;

// The resampler on libswresample: the CD's interleaved 16-bit stereo at 44.1 kHz into planar
// float at an encoder's rate and channel count. A mono downmix is (L + R) / 2, as LAME makes it.
class SwrResampler final : public ResamplerEngine
{
public:
    static Result<std::unique_ptr<SwrResampler>> make(int rate, int channels);

    Result<Resampler::Audio> convert(std::span<const qint16> interleaved) override;
    Result<Resampler::Audio> flush() override;

private:
    struct Free {
        void operator()(SwrContext* context) const;
    };

    SwrResampler(int rate, int channels);
    // Without input (nullptr) it drains the filter.
    Result<Resampler::Audio> run(const uint8_t** input, int frames);
    Failure failure(int error) const;

    int m_rate;
    int m_channels;
    std::unique_ptr<SwrContext, Free> m_context;
    std::vector<float> m_samples; // the planes, one after the other
    std::vector<float*> m_planes; // one pointer per channel into m_samples
};
