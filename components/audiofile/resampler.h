#pragma once

#include "components/result.h"

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct SwrContext;

// Converts the CD's interleaved 16-bit stereo at 44.1 kHz into planar float at an encoder's
// rate and channel count, with libswresample. A mono downmix is (L + R) / 2, as LAME makes it.
class Resampler
{
public:
    // Converted audio, valid until the next call: planes[c] holds the frames of channel c.
    struct Audio {
        float** planes;
        int channels;
        int frames;
    };

    static Result<Resampler> make(int rate, int channels);

    // Converts interleaved left/right frames. The output lags the input by the filter's delay,
    // so it may hold fewer frames than went in, or none.
    Result<Audio> convert(std::span<const qint16> interleaved);
    // The rest held back by that delay, once the input has ended.
    Result<Audio> flush();

private:
    struct Free {
        void operator()(SwrContext* context) const;
    };

    Resampler(int rate, int channels);
    // Without input (nullptr) it drains the filter.
    Result<Audio> run(const uint8_t** input, int frames);
    Failure failure(int error) const;

    int m_rate;
    int m_channels;
    std::unique_ptr<SwrContext, Free> m_context;
    std::vector<float> m_samples; // the planes, one after the other
    std::vector<float*> m_planes; // one pointer per channel into m_samples
};
