#include "components/audiofile/ffmpegcodecs.h"
#include "components/ffmpeg/swrresampler.h"
#include "components/ffmpeg/wmaencoder.h"

namespace
{

Result<std::unique_ptr<AudioEncoder>> makeWmaEncoder(const WmaProfile& profile)
{
    return std::unique_ptr<AudioEncoder>(std::make_unique<WmaEncoder>(profile));
}

Result<std::unique_ptr<ResamplerEngine>> makeResampler(int rate, int channels)
{
    Result<std::unique_ptr<SwrResampler>> made = SwrResampler::make(rate, channels);
    if (!made.ok())
        return Failure{made.error()};
    return std::unique_ptr<ResamplerEngine>(made.take());
}

const FfmpegCodecs codecs{makeWmaEncoder, makeResampler};

} // namespace

extern "C" __attribute__((visibility("default"))) const FfmpegCodecs* tambrel_ffmpeg_codecs()
{
    return &codecs;
}
