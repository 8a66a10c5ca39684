#pragma once

#include "components/audiofile/audioencoder.h"
#include "components/audiofile/resampler.h"
#include "components/result.h"

#include <memory>

// What FFmpeg does for the encoders: WMA, and converting rate and channels. It lives in a module
// of its own (libtambrel_ffmpeg.so) that is loaded at its first use, so that programs that make
// no WMA file and resample nothing never load FFmpeg's libraries (about a hundred and thirty,
// most of a start-up's time).
class ResamplerEngine
{
public:
    virtual ~ResamplerEngine() = default;
    virtual Result<Resampler::Audio> convert(std::span<const qint16> interleaved) = 0;
    virtual Result<Resampler::Audio> flush() = 0;
};

struct FfmpegCodecs {
    Result<std::unique_ptr<AudioEncoder>> (*makeWmaEncoder)(const WmaProfile& profile);
    Result<std::unique_ptr<ResamplerEngine>> (*makeResampler)(int rate, int channels);
};

// The module's entry point, by this name.
#define TAMBREL_FFMPEG_ENTRY "tambrel_ffmpeg_codecs"
extern "C" {
using TambrelFfmpegEntry = const FfmpegCodecs* (*)();
}

// Loads the module at the first call (from TAMBREL_FFMPEG_MODULE when set, else beside the
// program, else where the build put it); later calls give the same answer. A failure names the
// file and why it could not be loaded.
Result<const FfmpegCodecs*> ffmpegCodecs();
