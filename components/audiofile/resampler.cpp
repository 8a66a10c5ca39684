#include "components/audiofile/resampler.h"

#include "components/audiofile/ffmpegcodecs.h"

Resampler::Resampler(std::unique_ptr<ResamplerEngine> engine) : m_engine(std::move(engine)) {}

Resampler::~Resampler() = default;
Resampler::Resampler(Resampler&&) noexcept = default;
Resampler& Resampler::operator=(Resampler&&) noexcept = default;

Result<Resampler> Resampler::make(int rate, int channels)
{
    const Result<const FfmpegCodecs*> codecs = ffmpegCodecs();
    if (!codecs.ok())
        return Failure{codecs.error()};
    Result<std::unique_ptr<ResamplerEngine>> engine = codecs.value()->makeResampler(rate, channels);
    if (!engine.ok())
        return Failure{engine.error()};
    return Resampler(engine.take());
}

Result<Resampler::Audio> Resampler::convert(std::span<const qint16> interleaved)
{
    return m_engine->convert(interleaved);
}

Result<Resampler::Audio> Resampler::flush()
{
    return m_engine->flush();
}
