#pragma once

#include "components/result.h"

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class ResamplerEngine;

// Converts the CD's interleaved 16-bit stereo at 44.1 kHz into planar float at an encoder's
// rate and channel count, with libswresample (in the FFmpeg module, loaded at the first use). A
// mono downmix is (L + R) / 2, as LAME makes it.
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
    ~Resampler();
    Resampler(Resampler&&) noexcept;
    Resampler& operator=(Resampler&&) noexcept;

    // Converts interleaved left/right frames. The output lags the input by the filter's delay,
    // so it may hold fewer frames than went in, or none.
    Result<Audio> convert(std::span<const qint16> interleaved);
    // The rest held back by that delay, once the input has ended.
    Result<Audio> flush();

private:
    explicit Resampler(std::unique_ptr<ResamplerEngine> engine);

    std::unique_ptr<ResamplerEngine> m_engine;
};
