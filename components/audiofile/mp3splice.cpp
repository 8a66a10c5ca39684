// MP3 tracks cut into parts that LAME encodes at the same time, spliced into one stream.
//
// Every part's encoder starts on a multiple of 1152 samples, so its frame k stands for the
// same stretch of the track as frame start/1152 + k of a single encoder: the parts share one
// frame grid. The splice takes each part's frames for its own stretch of that grid and lays
// their main data out afresh through the bit reservoir, so that no frame refers to bytes of a
// frame that was left out. The first part is the single encoder's own output up to its seam,
// byte for byte; its Xing/LAME tag frame is rewritten for the whole stream at the end.

#include "components/audiofile/audioencoder.h"
#include "components/audiofile/lameencoder.h"
#include "components/audiofile/spillfile.h"
#include "components/audiofile/splitformat.h"

#include <QIODevice>

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

namespace
{

constexpr int FrameSamples = 1152;
constexpr int SampleRate = AudioEncoder::InputRate;
// What a decoder adds to LAME's encoder delay: its synthesis delay (528 + 1 samples).
constexpr int DecoderDelay = 529;
// How far back main_data_begin can reach (9 bits, MPEG-1).
constexpr int MaxBackReference = 511;
constexpr int MaxHeadBytes = 4 + 2 + 32; // header, CRC, stereo side info
constexpr int MinimumPart = 30 * SampleRate;
// Frames each part's encoder runs before its region so that LAME's psychoacoustic model and
// bit reservoir have settled (about 1.7 s).
constexpr int OverlapFrames = 64;
// Frames past the last one needed that a part's encoder goes on, beyond LAME's lookahead
// (it encodes a frame once it holds 1376 samples past the frame's start), so that the flush
// at the part's end leaves the needed frames alone.
constexpr int TailFrames = 3;

// Layer III kbit/s of MPEG-1 by bitrate index (0 free format, 15 invalid).
constexpr std::array<int, 16> Bitrates = {0,   32,  40,  48,  56,  64,  80,  96,
                                          112, 128, 160, 192, 224, 256, 320, 0};

int frameBytes(int bitrateIndex, int padding)
{
    return 144000 * Bitrates[size_t(bitrateIndex)] / SampleRate + padding;
}

int bitrateIndexOf(int kbps)
{
    const auto found = std::find(Bitrates.begin() + 1, Bitrates.end() - 1, kbps);
    return found == Bitrates.end() - 1 ? 0 : int(found - Bitrates.begin());
}

// CRC-16 as the LAME tag uses it (polynomial 0x8005 reflected, start 0), a byte at a time.
constexpr std::array<quint16, 256> TagCrcTable = [] {
    std::array<quint16, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        table[byte] = quint16(crc);
    }
    return table;
}();

quint16 tagCrc(const unsigned char* data, size_t size, quint16 crc = 0)
{
    for (size_t i = 0; i < size; ++i)
        crc = quint16((crc >> 8) ^ TagCrcTable[(crc ^ data[i]) & 0xff]);
    return crc;
}

// CRC-16 of a protected MPEG audio frame (polynomial 0x8005, start 0xffff, most significant
// bit first) over the header's last two bytes and the side info.
quint16 frameCrc(const unsigned char* frame, int sideBytes)
{
    quint16 crc = 0xffff;
    const auto add = [&crc](unsigned char byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool top = (crc & 0x8000) != 0;
            const bool in = ((byte >> bit) & 1) != 0;
            crc = quint16(crc << 1);
            if (top != in)
                crc ^= 0x8005;
        }
    };
    add(frame[2]);
    add(frame[3]);
    for (int i = 0; i < sideBytes; ++i)
        add(frame[6 + i]);
    return crc;
}

unsigned readBits(const unsigned char* data, int bitOffset, int bits)
{
    unsigned value = 0;
    for (int i = 0; i < bits; ++i) {
        const int at = bitOffset + i;
        value = (value << 1) | ((data[at / 8] >> (7 - at % 8)) & 1);
    }
    return value;
}

quint32 readBig32(const unsigned char* p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

void writeBig32(unsigned char* p, quint32 value)
{
    p[0] = (value >> 24) & 0xff;
    p[1] = (value >> 16) & 0xff;
    p[2] = (value >> 8) & 0xff;
    p[3] = value & 0xff;
}

void writeBig16(unsigned char* p, quint16 value)
{
    p[0] = (value >> 8) & 0xff;
    p[1] = value & 0xff;
}

struct LameClose {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePointer = std::unique_ptr<lame_global_flags, LameClose>;

// One audio frame of a part's stream.
struct Frame {
    qint64 offset = 0;      // of its header in the part's stream
    qint64 regionStart = 0; // where its main-data region begins among the part's regions
    qint64 dataStart = 0;   // where its main data begins there
    int bytes = 0;          // the whole frame
    int dataBytes = 0;      // its main data, rounded up to whole bytes
    quint8 headBytes = 0;   // header, CRC and side info
    quint8 sideBytes = 0;   // side info alone
    quint8 bitrateIndex = 0;
    quint8 padding = 0;
    bool protectedByCrc = false;

    int regionBytes() const { return bytes - headBytes; }
};

// A part's stream read frame by frame: where each frame and its main data lie. The bytes stay
// in the part's file.
struct ParsedPart {
    SpillFile* stream = nullptr;
    int tagBytes = 0; // the Xing/LAME tag frame at the start (the first part only)
    std::vector<Frame> frames;

    // Copies the main-data bytes [from, from + into.size()), counted among the regions, which
    // end within frame last's region.
    Status readRegions(size_t last, qint64 from, std::span<unsigned char> into) const
    {
        size_t k = last;
        while (k > 0 && frames[k].regionStart > from)
            --k;
        for (size_t done = 0; done < into.size(); ++k) {
            const Frame& frame = frames[k];
            const qint64 within = from + qint64(done) - frame.regionStart;
            const size_t n = std::min(size_t(frame.regionBytes() - within), into.size() - done);
            if (Status read =
                    stream->read(frame.offset + frame.headBytes + within, into.subspan(done, n));
                !read)
                return read;
            done += n;
        }
        return {};
    }
};

Result<ParsedPart> parsePart(SpillFile& stream, bool tagFrame, size_t partIndex)
{
    ParsedPart parsed;
    parsed.stream = &stream;
    const auto fail = [partIndex](qint64 at, const char* what) {
        return Failure{QStringLiteral("The MP3 stream LAME made for part %1 of the track can't be "
                                      "read at byte %2: %3.")
                           .arg(partIndex + 1)
                           .arg(at)
                           .arg(QLatin1String(what))};
    };
    const qint64 size = stream.size();
    qint64 at = 0;
    qint64 regionsEnd = 0;
    bool first = true;
    std::array<unsigned char, MaxHeadBytes> h{};
    while (at < size) {
        if (size - at < 4)
            return fail(at, "a cut-off frame header");
        if (Status read = stream.read(at, std::span(h).first(4)); !read)
            return Failure{read.error()};
        if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0)
            return fail(at, "no frame header");
        if (((h[1] >> 3) & 3) != 3 || ((h[1] >> 1) & 3) != 1)
            return fail(at, "not MPEG-1 Layer III");
        Frame frame;
        frame.bitrateIndex = h[2] >> 4;
        if (frame.bitrateIndex == 0 || frame.bitrateIndex == 15 || ((h[2] >> 2) & 3) != 0)
            return fail(at, "not a 44.1 kHz frame of a known bitrate");
        frame.offset = at;
        frame.padding = (h[2] >> 1) & 1;
        frame.bytes = frameBytes(frame.bitrateIndex, frame.padding);
        frame.protectedByCrc = (h[1] & 1) == 0;
        const bool mono = (h[3] >> 6) == 3;
        frame.sideBytes = mono ? 17 : 32;
        frame.headBytes = quint8(4 + (frame.protectedByCrc ? 2 : 0) + frame.sideBytes);
        if (size - at < frame.bytes)
            return fail(at, "a cut-off frame");
        if (first && tagFrame) {
            parsed.tagBytes = frame.bytes;
            first = false;
            at += frame.bytes;
            continue;
        }
        first = false;

        if (Status read = stream.read(at, std::span(h).first(frame.headBytes)); !read)
            return Failure{read.error()};
        const unsigned char* side = h.data() + frame.headBytes - frame.sideBytes;
        const int backReference = int(readBits(side, 0, 9));
        // part2_3_length of each granule and channel: after main_data_begin, the private bits
        // and scfsi; 59 bits of side info per granule and channel.
        const int channels = mono ? 1 : 2;
        int bits = 0;
        for (int block = 0; block < 2 * channels; ++block)
            bits += int(readBits(side, (mono ? 18 : 20) + 59 * block, 12));
        frame.regionStart = regionsEnd;
        frame.dataStart = frame.regionStart - backReference;
        frame.dataBytes = (bits + 7) / 8;
        if (frame.dataStart < 0)
            return fail(at, "main data before the stream's start");
        if (frame.dataStart + frame.dataBytes > frame.regionStart + frame.regionBytes())
            return fail(at, "main data past the frame's end");
        regionsEnd += frame.regionBytes();
        parsed.frames.push_back(frame);
        at += frame.bytes;
    }
    if (tagFrame && parsed.tagBytes == 0)
        return fail(0, "no tag frame");
    return parsed;
}

class Mp3PartEncoder final : public PartEncoder
{
public:
    Mp3PartEncoder(LamePointer lame, qint64 firstFrame, bool tagFrame, SpillFile stream)
        : m_lame(std::move(lame)), m_firstFrame(firstFrame), m_tagFrame(tagFrame),
          m_stream(std::move(stream)), m_buffer(BufferBytes)
    {
    }

    Status encode(std::span<const qint16> interleaved) override
    {
        if (!m_lame)
            return Failure{QStringLiteral("The MP3 part encoder was used after it finished.")};
        while (!interleaved.empty()) {
            const int frames = int(std::min<size_t>(interleaved.size() / 2, ChunkFrames));
            if (frames == 0)
                break; // half a stereo frame: nothing LAME could use
            // LAME copies the input into its own buffers; its API just lacks the const.
            const int result =
                lame_encode_buffer_interleaved(m_lame.get(), const_cast<short*>(interleaved.data()),
                                               frames, m_buffer.data(), BufferBytes);
            if (result < 0)
                return lameEncodeFailure(result);
            if (Status kept = m_stream.append(std::span(m_buffer).first(size_t(result))); !kept)
                return kept;
            interleaved = interleaved.subspan(size_t(frames) * 2);
        }
        return {};
    }

    Status finish() override
    {
        if (!m_lame)
            return Failure{QStringLiteral("The MP3 part encoder was used after it finished.")};
        const int result = lame_encode_flush(m_lame.get(), m_buffer.data(), BufferBytes);
        if (result < 0)
            return lameEncodeFailure(result);
        if (Status kept = m_stream.append(std::span(m_buffer).first(size_t(result))); !kept)
            return kept;
        if (m_tagFrame) {
            // LAME's tag for this part replaces its empty first frame, as the single encoder
            // does; the splice completes its figures for the whole track.
            const size_t tagBytes = lame_get_lametag_frame(m_lame.get(), nullptr, 0);
            if (tagBytes == 0 || qint64(tagBytes) > m_stream.size() || tagBytes > m_buffer.size())
                m_tagFrame = false; // LAME made none: nothing to splice
            else if (lame_get_lametag_frame(m_lame.get(), m_buffer.data(), tagBytes) != tagBytes)
                return Failure{QStringLiteral("LAME could not complete the MP3 tag frame.")};
            else if (Status kept = m_stream.overwrite(0, std::span(m_buffer).first(tagBytes));
                     !kept)
                return kept;
        }
        m_lame.reset();
        m_buffer = {};
        m_finished = true;
        return {};
    }

    bool finished() const { return m_finished; }
    bool hasTagFrame() const { return m_tagFrame; }
    qint64 firstFrame() const { return m_firstFrame; }
    SpillFile& stream() { return m_stream; }

private:
    static constexpr int ChunkFrames = SampleRate;
    static constexpr int BufferBytes = ChunkFrames * 5 / 4 + 7200; // LAME's worst case

    LamePointer m_lame;
    qint64 m_firstFrame;
    bool m_tagFrame;
    bool m_finished = false;
    SpillFile m_stream;
    std::vector<unsigned char> m_buffer;
};

// A frame of the spliced stream: its size, and where its main data goes among the stream's
// regions. Its head is the original's with these set.
struct OutFrame {
    qint64 dataStart = 0;
    int bytes = 0;
    quint8 bitrateIndex = 0;
    quint8 padding = 0;
};

// A frame of the spliced stream and where it comes from.
struct PlannedFrame {
    const ParsedPart* part;
    size_t index; // among the part's frames
    bool asItIs;  // the first part's: head and region as LAME wrote them

    const Frame& frame() const { return part->frames[index]; }
};

// Lays the spliced stream's frames out: each frame's size, and its main data placed through the
// bit reservoir. A frame whose main data fits in no frame size gets room from a larger frame
// before it, and the layout is made again. Only sizes and places: the bytes are copied as the
// stream is written.
class FrameLayout
{
public:
    explicit FrameLayout(const std::vector<PlannedFrame>& planned)
        : m_planned(planned), m_minimumIndex(planned.size(), 0)
    {
    }

    // Lays every frame out: -1 when all fit, else the frame whose main data fits in none.
    qsizetype layOut()
    {
        m_frames.clear();
        qint64 regionStart = 0; // where the frame's region begins among the stream's regions
        qint64 dataEnd = 0;     // where the main data laid out so far ends there
        for (size_t f = 0; f < m_planned.size(); ++f) {
            const Frame& frame = m_planned[f].frame();
            OutFrame o;
            if (m_planned[f].asItIs) {
                // The single encoder's own frames, as they are (the last one made larger
                // when the next one needs the room).
                const bool wider = m_minimumIndex[f] > frame.bitrateIndex;
                o.bitrateIndex = quint8(wider ? m_minimumIndex[f] : frame.bitrateIndex);
                o.padding = wider ? 0 : frame.padding;
                o.dataStart = regionStart + (frame.dataStart - frame.regionStart);
            } else {
                // The smallest frame size that holds the main data and leaves at least as
                // much room for the next frame as LAME left: then the next frame fits at its
                // own size.
                const int originalSlack = int(frame.regionStart + frame.regionBytes() -
                                              (frame.dataStart + frame.dataBytes));
                const int wantedSlack = std::min(originalSlack, MaxBackReference);
                o.dataStart = std::max(dataEnd, regionStart - MaxBackReference);
                int padding = frame.padding;
                int chosenIndex = 0, chosenPadding = 0, fallbackIndex = 0, fallbackPadding = 0;
                for (int index = std::max<int>(frame.bitrateIndex, m_minimumIndex[f]);
                     index <= 14 && chosenIndex == 0; ++index) {
                    if (index > frame.bitrateIndex)
                        padding = 0;
                    for (; padding <= 1; ++padding) {
                        const qint64 regionEnd =
                            regionStart + frameBytes(index, padding) - frame.headBytes;
                        const qint64 slack = regionEnd - (o.dataStart + frame.dataBytes);
                        if (slack < 0)
                            continue;
                        fallbackIndex = index;
                        fallbackPadding = padding;
                        if (slack >= wantedSlack) {
                            chosenIndex = index;
                            chosenPadding = padding;
                            break;
                        }
                    }
                }
                if (chosenIndex == 0) {
                    if (fallbackIndex == 0)
                        return qsizetype(f); // not even the largest frame holds it
                    chosenIndex = fallbackIndex;
                    chosenPadding = fallbackPadding;
                }
                o.bitrateIndex = quint8(chosenIndex);
                o.padding = quint8(chosenPadding);
            }
            o.bytes = frameBytes(o.bitrateIndex, o.padding);
            dataEnd = o.dataStart + frame.dataBytes;
            regionStart += o.bytes - frame.headBytes;
            m_frames.push_back(o);
        }
        return -1;
    }

    // Makes the frame before the one that didn't fit larger; false when none can be (the
    // single encoder's frames are kept as they are but for its last one).
    bool widenBefore(qsizetype failed)
    {
        qsizetype before = failed - 1;
        while (before >= 0 && m_minimumIndex[size_t(before)] >= 14)
            --before;
        if (before < 0 ||
            (m_planned[size_t(before)].asItIs && before + 1 < qsizetype(m_planned.size()) &&
             m_planned[size_t(before) + 1].asItIs))
            return false;
        const int current =
            std::max<int>(m_minimumIndex[size_t(before)], m_frames[size_t(before)].bitrateIndex);
        m_minimumIndex[size_t(before)] = std::min(14, current + 1);
        return true;
    }

    const std::vector<OutFrame>& frames() const { return m_frames; }

private:
    const std::vector<PlannedFrame>& m_planned;
    std::vector<int> m_minimumIndex; // the least bitrate index each frame may have
    std::vector<OutFrame> m_frames;
};

// The spliced stream's bytes on their way to the file, gathered into large writes, with the
// LAME tag's checksum of all of them.
class StreamWriter
{
public:
    explicit StreamWriter(QIODevice& out) : m_out(out) {}

    Status write(std::span<const unsigned char> bytes)
    {
        m_crc = tagCrc(bytes.data(), bytes.size(), m_crc);
        m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
        return m_buffer.size() >= BufferBytes ? flush() : Status();
    }

    Status flush()
    {
        // In as many writes as it takes: the one that fills the disk writes what fits, and
        // only the next one fails with the reason.
        if (Status written =
                AudioEncoder::writeAll(m_out, m_buffer.data(), qint64(m_buffer.size()));
            !written)
            return written;
        m_buffer.clear();
        return {};
    }

    quint16 crc() const { return m_crc; }

private:
    static constexpr size_t BufferBytes = 256 * 1024;
    QIODevice& m_out;
    std::vector<unsigned char> m_buffer;
    quint16 m_crc = 0;
};

// Writes the laid-out frames: each one's head, and its region filled with the main data placed
// there. A region is written once no later frame's main data can reach into it, so that only a
// few frames' regions are held at a time.
Status writeFrames(StreamWriter& writer, const std::vector<PlannedFrame>& planned,
                   const std::vector<OutFrame>& frames)
{
    struct Held {
        std::array<unsigned char, MaxHeadBytes> head;
        int headBytes;
        qint64 regionEnd;
    };
    std::deque<Held> held;              // frames laid out and not yet written
    std::vector<unsigned char> regions; // the stream's regions from regionsStart on
    qint64 regionsStart = 0;
    qint64 regionStart = 0;
    qint64 dataEnd = 0;
    const auto at = [&](qint64 position) { return regions.data() + (position - regionsStart); };
    const auto writeHeld = [&](qint64 final) -> Status {
        while (!held.empty() && held.front().regionEnd <= final) {
            const Held& frame = held.front();
            if (Status w = writer.write(std::span(frame.head).first(size_t(frame.headBytes))); !w)
                return w;
            // The regions held begin with the oldest frame's.
            const size_t regionBytes = size_t(frame.regionEnd - regionsStart);
            if (Status w = writer.write(std::span(regions).first(regionBytes)); !w)
                return w;
            regions.erase(regions.begin(), regions.begin() + qsizetype(regionBytes));
            regionsStart = frame.regionEnd;
            held.pop_front();
        }
        return {};
    };

    for (size_t f = 0; f < planned.size(); ++f) {
        const ParsedPart& part = *planned[f].part;
        const Frame& frame = planned[f].frame();
        const OutFrame& o = frames[f];
        Held head{};
        head.headBytes = frame.headBytes;
        if (Status read =
                part.stream->read(frame.offset, std::span(head.head).first(frame.headBytes));
            !read)
            return read;
        if (!planned[f].asItIs) {
            unsigned char* side = head.head.data() + frame.headBytes - frame.sideBytes;
            const int backReference = int(regionStart - o.dataStart);
            side[0] = (backReference >> 1) & 0xff;
            side[1] = (side[1] & 0x7f) | ((backReference & 1) << 7);
        }
        if (!planned[f].asItIs || o.bitrateIndex != frame.bitrateIndex) {
            head.head[2] = (head.head[2] & 0x0d) | (o.bitrateIndex << 4) | (o.padding << 1);
            if (frame.protectedByCrc)
                writeBig16(head.head.data() + 4, frameCrc(head.head.data(), frame.sideBytes));
        }
        head.regionEnd = regionStart + o.bytes - frame.headBytes;
        regions.resize(size_t(head.regionEnd - regionsStart), 0);

        if (planned[f].asItIs) {
            const auto region = std::span(at(regionStart), size_t(frame.regionBytes()));
            if (Status read = part.stream->read(frame.offset + frame.headBytes, region); !read)
                return read;
        } else {
            const auto data = std::span(at(o.dataStart), size_t(frame.dataBytes));
            if (Status read = part.readRegions(planned[f].index, frame.dataStart, data); !read)
                return read;
        }
        dataEnd = o.dataStart + frame.dataBytes;
        // What follows the single encoder's last frame's main data belongs to frames left out.
        if (planned[f].asItIs && f + 1 < planned.size() && !planned[f + 1].asItIs)
            std::fill(at(dataEnd), regions.data() + regions.size(), 0);
        regionStart = head.regionEnd;
        held.push_back(head);
        // Later frames' main data begins at dataEnd or after it.
        if (Status w = writeHeld(dataEnd); !w)
            return w;
    }
    std::fill(at(dataEnd), regions.data() + regions.size(), 0);
    return writeHeld(regionStart);
}

class Mp3SplitFormat final : public SplitFormat
{
public:
    Mp3SplitFormat(const Mp3EncoderSettings& settings, int encoderDelay)
        : m_settings(settings),
          // The first frame after a seam whose decoded samples all lie past the seam: a
          // sample s of the track comes out of the decoder at s + delay + 529.
          m_seamLead((encoderDelay + DecoderDelay - 1) / FrameSamples + 1)
    {
    }

    int grid() const override { return FrameSamples; }
    qint64 overlap() const override { return qint64(OverlapFrames) * FrameSamples; }
    qint64 tail() const override { return qint64(m_seamLead + TailFrames) * FrameSamples; }
    qint64 minimumPart() const override { return MinimumPart; }

    Result<std::unique_ptr<PartEncoder>> makePart(const Plan& plan, size_t part) override
    {
        if (part >= plan.parts() || plan.start(part) % FrameSamples != 0)
            return Failure{QStringLiteral("The track's plan has no MP3 part %1.").arg(part + 1)};
        LamePointer lame(lame_init());
        if (!lame)
            return Failure{QStringLiteral("LAME could not start (out of memory).")};
        if (Status configured = configureLame(lame.get(), m_settings, part == 0); !configured)
            return Failure{configured.error()};
        Result<SpillFile> stream = makeSpillFile();
        if (!stream)
            return Failure{stream.error()};
        return std::unique_ptr<PartEncoder>(std::make_unique<Mp3PartEncoder>(
            std::move(lame), plan.start(part) / FrameSamples, part == 0, stream.take()));
    }

    Splice splice(QIODevice& out, const Plan& plan,
                  std::vector<std::unique_ptr<PartEncoder>>& parts) override;

private:
    Mp3EncoderSettings m_settings;
    int m_seamLead;
};

Splice Mp3SplitFormat::splice(QIODevice& out, const Plan& plan,
                              std::vector<std::unique_ptr<PartEncoder>>& parts)
{
    if (parts.size() != plan.parts() || parts.empty())
        return Failure{QStringLiteral("The MP3 splice has %1 parts for a plan of %2.")
                           .arg(parts.size())
                           .arg(plan.parts())};
    std::vector<Mp3PartEncoder*> encoders;
    for (const auto& part : parts) {
        auto* encoder = dynamic_cast<Mp3PartEncoder*>(part.get());
        if (!encoder || !encoder->finished())
            return Failure{QStringLiteral("The MP3 splice was given an unfinished part.")};
        encoders.push_back(encoder);
    }
    // Without LAME's tag the stream can't say where its audio ends: no splice then.
    if (!encoders.front()->hasTagFrame())
        return Splice::noSeam();
    // The tag frame is completed once the rest is written.
    if (out.isSequential())
        return Failure{QStringLiteral("The MP3 file can't be written in parts: it can't be "
                                      "gone back in.")};

    std::vector<ParsedPart> parsed;
    for (size_t i = 0; i < encoders.size(); ++i) {
        Result<ParsedPart> part = parsePart(encoders[i]->stream(), i == 0, i);
        if (!part)
            return Failure{part.error()};
        parsed.push_back(part.take());
    }

    // The frames of the stream, each from its part: the first part's up to the frame after
    // its seam, then each part's for its stretch of the frame grid.
    std::vector<PlannedFrame> planned;
    for (size_t i = 0; i < parsed.size(); ++i) {
        const ParsedPart& part = parsed[i];
        const qint64 first = encoders[i]->firstFrame();
        const qint64 from = i == 0 ? 0 : plan.seams[i] / FrameSamples + m_seamLead;
        const qint64 to = i + 1 == parsed.size() ? first + qint64(part.frames.size())
                                                 : plan.seams[i + 1] / FrameSamples + m_seamLead;
        if (from < first || to > first + qint64(part.frames.size()))
            return Failure{QStringLiteral("The MP3 stream of part %1 of the track lacks frames %2 "
                                          "to %3 (it has %4 to %5).")
                               .arg(i + 1)
                               .arg(from)
                               .arg(to)
                               .arg(first)
                               .arg(first + qint64(part.frames.size()))};
        for (qint64 global = from; global < to; ++global)
            planned.push_back({&part, size_t(global - first), i == 0});
    }

    // Lays the frames out, making frames larger where the next one's main data needs room.
    FrameLayout layout(planned);
    for (qsizetype failed = layout.layOut(); failed >= 0; failed = layout.layOut()) {
        if (!layout.widenBefore(failed))
            return Splice::noSeam();
    }
    const std::vector<OutFrame>& frames = layout.frames();

    // The Xing/LAME tag for the whole stream: all but the checksums are known from the layout.
    const int tagBytes = parsed.front().tagBytes;
    std::vector<unsigned char> tagFrame(static_cast<size_t>(tagBytes));
    if (Status read = parsed.front().stream->read(0, tagFrame); !read)
        return read;
    unsigned char* tag = tagFrame.data();
    const bool mono = (tag[3] >> 6) == 3;
    const int xing = 4 + ((tag[1] & 1) == 0 ? 2 : 0) + (mono ? 17 : 32);
    const auto bad = [](const char* what) {
        return Failure{
            QStringLiteral("LAME's tag frame can't be read (%1).").arg(QLatin1String(what))};
    };
    if (xing + 8 > tagBytes ||
        (std::memcmp(tag + xing, "Xing", 4) != 0 && std::memcmp(tag + xing, "Info", 4) != 0))
        return bad("no Xing header");
    const quint32 flags = readBig32(tag + xing + 4);
    if ((flags & 7) != 7)
        return bad("no frame count, byte count or seek table");
    int at = xing + 8;
    const int frameCountAt = at;
    const int byteCountAt = at + 4;
    const int tocAt = at + 8;
    at += 108 + ((flags & 8) ? 4 : 0);
    const int lameAt = at;
    if (lameAt + 36 > tagBytes || std::memcmp(tag + lameAt, "LAME", 4) != 0)
        return bad("no LAME tag");

    const qint64 frameCount = qint64(frames.size());
    // The seek table points at the frames at each hundredth of the stream.
    std::array<qint64, 100> tocOffsets{};
    qint64 totalBytes = tagBytes;
    size_t point = 0;
    for (qint64 f = 0; f < frameCount; ++f) {
        for (; point < 100 && frameCount * qint64(point) / 100 == f; ++point)
            tocOffsets[point] = totalBytes;
        totalBytes += frames[size_t(f)].bytes;
    }
    for (; point < 100; ++point)
        tocOffsets[point] = totalBytes;
    writeBig32(tag + frameCountAt, quint32(frameCount));
    writeBig32(tag + byteCountAt, quint32(totalBytes));
    for (size_t i = 0; i < 100; ++i)
        tag[tocAt + int(i)] =
            (unsigned char)std::min<qint64>(255, tocOffsets[i] * 256 / totalBytes);
    const int delay = (tag[lameAt + 21] << 4) | (tag[lameAt + 22] >> 4);
    const qint64 padding = frameCount * FrameSamples - delay - plan.totalSamples();
    if (padding < 0 || padding > 0xfff)
        return Failure{QStringLiteral("The spliced MP3 stream of %1 frames can't hold the "
                                      "track's %2 samples.")
                           .arg(frameCount)
                           .arg(plan.totalSamples())};
    tag[lameAt + 22] = (unsigned char)((delay & 0x0f) << 4 | padding >> 8);
    tag[lameAt + 23] = (unsigned char)(padding & 0xff);
    writeBig32(tag + lameAt + 28, quint32(totalBytes));

    // The stream, then the tag's checksums of the music and of the tag itself.
    const qint64 tagAt = out.pos();
    StreamWriter tagWriter(out);
    if (Status written = tagWriter.write(tagFrame); !written || !(written = tagWriter.flush()))
        return written;
    StreamWriter writer(out);
    if (Status written = writeFrames(writer, planned, frames); !written)
        return written;
    if (Status written = writer.flush(); !written)
        return written;
    writeBig16(tag + lameAt + 32, writer.crc());
    writeBig16(tag + lameAt + 34, tagCrc(tag, size_t(lameAt + 34)));
    const qint64 end = out.pos();
    if (!out.seek(tagAt + lameAt + 32) ||
        out.write(reinterpret_cast<const char*>(tag + lameAt + 32), 4) != 4 || !out.seek(end))
        return Failure{
            QStringLiteral("The MP3 file could not be written: %1.").arg(out.errorString())};
    return Status{};
}

} // namespace

std::unique_ptr<SplitFormat> makeMp3SplitFormat(const Mp3EncoderSettings& settings)
{
    // Split only where LAME writes MPEG-1 Layer III at the CD's rate: 1152-sample frames on
    // the grid of the input, and a tag frame that can carry the stream's length.
    LamePointer lame(lame_init());
    if (!lame || !configureLame(lame.get(), settings))
        return nullptr;
    if (lame_get_out_samplerate(lame.get()) != SampleRate || lame_get_version(lame.get()) != 1 ||
        lame_get_framesize(lame.get()) != FrameSamples || !lame_get_bWriteVbrTag(lame.get()))
        return nullptr;
    // At a constant bitrate the tag frame has the stream's bitrate, and LAME drops the tag when
    // such a frame can't hold it (header, side info and the 156 bytes of the Xing/LAME tag).
    const int sideBytes = lame_get_mode(lame.get()) == MONO ? 17 : 32;
    if (lame_get_VBR(lame.get()) == vbr_off &&
        frameBytes(bitrateIndexOf(lame_get_brate(lame.get())), 0) < 4 + sideBytes + 156)
        return nullptr;
    return std::make_unique<Mp3SplitFormat>(settings, lame_get_encoder_delay(lame.get()));
}
