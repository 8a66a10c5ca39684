#pragma once

#include "components/audiofile/audioencoder.h"

#include <functional>
#include <memory>
#include <span>

// libvorbisenc set up for one format and fed the CD's audio, handing out the packets it makes.
// VorbisEncoder writes them into an Ogg stream as they come; a split encode collects them. Both
// go through this one class so that equal formats give equal headers and equal packets.
class VorbisAnalysis
{
public:
    struct Packet {
        std::span<const unsigned char> bytes;
        // Samples per channel decoded from the stream's start once this packet is.
        qint64 granule = 0;
        bool endOfStream = false;
    };
    // Takes each packet in turn; a failure stops the encode.
    using Sink = std::function<Status(const Packet&)>;

    ~VorbisAnalysis();

    // Fails with a readable text where libvorbisenc does not take the format.
    static Result<std::unique_ptr<VorbisAnalysis>> make(const OggFormat& format);

    // The three header packets: identification, comments, codebooks.
    Status headers(const Sink& sink);
    // Interleaved left/right samples of the CD.
    Status encode(std::span<const qint16> interleaved, const Sink& sink);
    // Ends the stream: the last packet carries the end mark and the exact length.
    Status finish(const Sink& sink);
    // The block size of an audio packet of this stream (samples per channel), or a negative
    // value for anything else.
    long blockSize(std::span<const unsigned char> packet);

private:
    struct State;

    explicit VorbisAnalysis(std::unique_ptr<State> state);
    Status feed(std::span<const qint16> interleaved);
    Status drain(const Sink& sink);

    std::unique_ptr<State> m_state;
};

// Encodes Ogg Vorbis with libvorbisenc, by quality or with managed bitrates. Formats other than
// 44.1 kHz stereo are resampled or downmixed with libswresample first.
class VorbisEncoder final : public AudioEncoder
{
public:
    // Writes the packets of one Ogg stream to a device page by page: the header packets flushed
    // onto pages of their own, so that the audio starts on a page of its own, the audio on full
    // pages, the last page flushed.
    class PageWriter
    {
    public:
        // A random serial number, like oggenc's, so that chained files never share one.
        explicit PageWriter(QIODevice& out);
        ~PageWriter();

        Status headers(std::span<const VorbisAnalysis::Packet> packets);
        Status audio(const VorbisAnalysis::Packet& packet);
        Status finish();

    private:
        struct State;

        // Writes the pages that are full, or with flush every page that holds data.
        Status writePages(bool flush);

        std::unique_ptr<State> m_state;
        QIODevice& m_out;
    };

    explicit VorbisEncoder(const OggFormat& format);
    ~VorbisEncoder() override;

    Status begin(QIODevice& out, qint64 totalFrames) override;
    Status encode(std::span<const qint16> interleaved) override;
    Status finish() override;

    // Whether libvorbisenc takes this managed-bitrate setup (kbit/s, 0 = none) for one or two
    // channels, which is what can be made from the CD's stereo.
    static bool acceptsManaged(int sampleRate, int channels, int bitrate, int minBitrate,
                               int maxBitrate);

private:
    OggFormat m_format;
    std::unique_ptr<VorbisAnalysis> m_analysis;
    std::unique_ptr<PageWriter> m_writer;
    VorbisAnalysis::Sink m_sink; // hands each packet to m_writer
};
