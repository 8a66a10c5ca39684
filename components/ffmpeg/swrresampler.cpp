#include "components/ffmpeg/swrresampler.h"

#include "components/audiofile/audioencoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

void SwrResampler::Free::operator()(SwrContext* context) const
{
    swr_free(&context);
}

SwrResampler::SwrResampler(int rate, int channels)
    : m_rate(rate), m_channels(channels), m_planes(size_t(channels))
{
}

Result<std::unique_ptr<SwrResampler>> SwrResampler::make(int rate, int channels)
{
    std::unique_ptr<SwrResampler> made(new SwrResampler(rate, channels));
    SwrResampler& resampler = *made;
    AVChannelLayout in;
    AVChannelLayout out;
    av_channel_layout_default(&in, AudioEncoder::InputChannels);
    av_channel_layout_default(&out, channels);
    SwrContext* context = nullptr;
    int error = swr_alloc_set_opts2(&context, &out, AV_SAMPLE_FMT_FLTP, rate, &in,
                                    AV_SAMPLE_FMT_S16, AudioEncoder::InputRate, 0, nullptr);
    resampler.m_context.reset(context);
    // Float output is not normalised by default, so a mono downmix would be 0.7 L + 0.7 R and
    // could clip; a limit of 1 makes it (L + R) / 2.
    if (error >= 0)
        error = av_opt_set_double(context, "rematrix_maxval", 1.0, 0);
    if (error >= 0)
        error = swr_init(context);
    if (error < 0)
        return resampler.failure(error);
    return made;
}

Result<Resampler::Audio> SwrResampler::convert(std::span<const qint16> interleaved)
{
    const auto* input = reinterpret_cast<const uint8_t*>(interleaved.data());
    return run(&input, int(interleaved.size() / AudioEncoder::InputChannels));
}

Result<Resampler::Audio> SwrResampler::flush()
{
    // Room for all the output swr_get_out_samples promises, so one call drains the filter.
    return run(nullptr, 0);
}

Result<Resampler::Audio> SwrResampler::run(const uint8_t** input, int frames)
{
    SwrContext* context = m_context.get();
    const int room = swr_get_out_samples(context, frames);
    if (room < 0)
        return failure(room);
    if (m_samples.size() < size_t(room) * m_channels)
        m_samples.resize(size_t(room) * m_channels);
    for (int c = 0; c < m_channels; ++c)
        m_planes[c] = m_samples.data() + size_t(c) * room;
    const int made =
        swr_convert(context, reinterpret_cast<uint8_t**>(m_planes.data()), room, input, frames);
    if (made < 0)
        return failure(made);
    return Resampler::Audio{m_planes.data(), m_channels, made};
}

Failure SwrResampler::failure(int error) const
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return Failure{QStringLiteral("Could not convert the audio to %1 Hz, %2 channel(s): %3")
                       .arg(m_rate)
                       .arg(m_channels)
                       .arg(QString::fromUtf8(text))};
}
