#include "components/audiofile/splitformat.h"

#include "components/audiofile/spillfile.h"
#include "components/audiofile/vorbisencoder.h"

#include <QByteArray>
#include <QIODevice>

#include <optional>
#include <vector>

namespace
{

// The encoder of one part: libvorbis set up exactly as VorbisEncoder sets it up, its packets kept
// in a file of their own, their granule positions counted from the part's first sample.
class VorbisPart final : public PartEncoder
{
public:
    struct Packet {
        qint64 offset = 0; // into the part's packet bytes
        qint64 granule = 0;
        int size = 0;
        int blockSize = 0;
        bool endOfStream = false;
    };

    VorbisPart(std::unique_ptr<VorbisAnalysis> analysis, SpillFile bytes)
        : m_analysis(std::move(analysis)), m_bytes(std::move(bytes))
    {
        m_sink = [this](const VorbisAnalysis::Packet& packet) {
            m_packets.push_back({m_bytes.size(), packet.granule, int(packet.bytes.size()),
                                 int(m_analysis->blockSize(packet.bytes)), packet.endOfStream});
            return m_bytes.append(packet.bytes);
        };
    }

    Status headers()
    {
        return m_analysis->headers([this](const VorbisAnalysis::Packet& packet) {
            m_headers.append(QByteArray(reinterpret_cast<const char*>(packet.bytes.data()),
                                        qsizetype(packet.bytes.size())));
            return Status();
        });
    }

    Status encode(std::span<const qint16> interleaved) override
    {
        if (!m_analysis)
            return Failure{QStringLiteral("The Vorbis part encoder has already finished.")};
        return m_analysis->encode(interleaved, m_sink);
    }

    Status finish() override
    {
        if (!m_analysis)
            return Failure{QStringLiteral("The Vorbis part encoder has already finished.")};
        Status done = m_analysis->finish(m_sink);
        // The packets are all there; the encoder's tables are not needed any more.
        m_analysis.reset();
        m_finished = done.ok();
        return done;
    }

    bool finished() const { return m_finished; }
    const QList<QByteArray>& headerPackets() const { return m_headers; }
    const std::vector<Packet>& packets() const { return m_packets; }
    // The packet's bytes, read into buffer.
    Result<std::span<const unsigned char>> bytes(const Packet& packet,
                                                 std::vector<unsigned char>& buffer)
    {
        buffer.resize(size_t(packet.size));
        if (Status read = m_bytes.read(packet.offset, buffer); !read)
            return Failure{read.error()};
        return std::span<const unsigned char>(buffer);
    }

private:
    std::unique_ptr<VorbisAnalysis> m_analysis;
    VorbisAnalysis::Sink m_sink;
    QList<QByteArray> m_headers;
    SpillFile m_bytes;
    std::vector<Packet> m_packets;
    bool m_finished = false;
};

// Where two neighbouring parts are joined: the left part's packets up to and including
// packets[left], then the right part's packets after packets[right].
struct Cut {
    size_t left;
    size_t right;
};

// One side of a seam: a part's packets and where its input lay in the track.
struct Side {
    const VorbisPart& part;
    qint64 start; // the track's sample at the part's granule 0
    qint64 end;   // the track's sample where the part's input ended
};

// The first place at or after the seam where both parts end a packet at the same sample with
// blocks of the same sizes on either side of it. A Vorbis packet's granule position is the centre
// of its block, where its window meets the next block's; with equal sizes on both sides, the
// left part's block there and the right part's next block overlap with matching window shapes,
// and the decoder adds the two halves as it would within one encode. The left part's block must
// lie within its real input (not the padding libvorbis adds at a stream's end), and the block
// after it must be no end packet, whose size and granule are the end's.
std::optional<Cut> findCut(const Side& left, const Side& right, qint64 seam, size_t from)
{
    const std::vector<VorbisPart::Packet>& l = left.part.packets();
    const std::vector<VorbisPart::Packet>& r = right.part.packets();
    size_t b = 1; // the right part's first packet starts the stream: it is never joined onto
    for (size_t a = std::max<size_t>(from, 1); a + 1 < l.size(); ++a) {
        const qint64 granule = left.start + l[a].granule;
        if (granule < seam)
            continue;
        if (l[a + 1].endOfStream || granule + l[a].blockSize / 2 > left.end)
            break;
        while (b + 1 < r.size() && right.start + r[b].granule < granule)
            ++b;
        if (b + 1 >= r.size())
            break;
        if (right.start + r[b].granule == granule && r[b].blockSize == l[a].blockSize &&
            r[b + 1].blockSize == l[a + 1].blockSize)
            return Cut{a, b};
    }
    return std::nullopt;
}

class VorbisSplitFormat final : public SplitFormat
{
public:
    explicit VorbisSplitFormat(const OggFormat& format) : m_format(format) {}

    // Half a long block at 44.1 kHz: where libvorbis's long blocks meet when it has used no short
    // ones since its start.
    int grid() const override { return 1024; }
    // About a second, for the encoder's loudness tracking and bitrate reservoir to settle.
    qint64 overlap() const override { return 43 * 1024; }
    // About three seconds for the two parts to fall into the same run of blocks.
    qint64 tail() const override { return 130 * 1024; }
    qint64 minimumPart() const override { return 30 * 44100; }

    Result<std::unique_ptr<PartEncoder>> makePart(const Plan&, size_t) override
    {
        auto analysis = VorbisAnalysis::make(m_format);
        if (!analysis)
            return Failure{analysis.error()};
        Result<SpillFile> bytes = makeSpillFile();
        if (!bytes)
            return Failure{bytes.error()};
        auto part = std::make_unique<VorbisPart>(analysis.take(), bytes.take());
        if (Status made = part->headers(); !made)
            return Failure{made.error()};
        return std::unique_ptr<PartEncoder>(std::move(part));
    }

    Splice splice(QIODevice& out, const Plan& plan,
                  std::vector<std::unique_ptr<PartEncoder>>& parts) override;

private:
    OggFormat m_format;
};

Splice VorbisSplitFormat::splice(QIODevice& out, const Plan& plan,
                                 std::vector<std::unique_ptr<PartEncoder>>& parts)
{
    const Failure incomplete{QStringLiteral("The parts of the Ogg Vorbis encode are incomplete.")};
    if (parts.empty() || parts.size() != plan.parts())
        return incomplete;
    std::vector<VorbisPart*> vorbis;
    for (const auto& part : parts) {
        auto* own = dynamic_cast<VorbisPart*>(part.get());
        if (!own || !own->finished() || own->packets().empty())
            return incomplete;
        vorbis.push_back(own);
    }
    // Packets of one stream share one set of headers: parts set up otherwise can't be joined.
    for (const VorbisPart* part : vorbis)
        if (part->headerPackets() != vorbis.front()->headerPackets())
            return Splice::noSeam();

    // The packets each part keeps: [first[k], last[k]). All seams are found before anything is
    // written, so that a track without one is written in one piece from the start.
    const size_t count = vorbis.size();
    std::vector<size_t> first(count, 0);
    std::vector<size_t> last(count, 0);
    last.back() = vorbis.back()->packets().size();
    for (size_t k = 1; k < count; ++k) {
        const Side left{*vorbis[k - 1], plan.start(k - 1), plan.end(k - 1)};
        const Side right{*vorbis[k], plan.start(k), plan.end(k)};
        const std::optional<Cut> cut = findCut(left, right, plan.seams[k], first[k - 1]);
        if (!cut)
            return Splice::noSeam();
        last[k - 1] = cut->left + 1;
        first[k] = cut->right + 1;
    }
    if (first.back() >= last.back())
        return Splice::noSeam();
    const qint64 length = plan.start(count - 1) + vorbis.back()->packets().back().granule;
    if (length != plan.totalSamples())
        return Failure{QStringLiteral("The Ogg Vorbis parts hold %1 samples instead of %2.")
                           .arg(length)
                           .arg(plan.totalSamples())};

    VorbisEncoder::PageWriter writer(out);
    std::vector<VorbisAnalysis::Packet> headers;
    for (const QByteArray& packet : vorbis.front()->headerPackets())
        headers.push_back(
            {{reinterpret_cast<const unsigned char*>(packet.constData()), size_t(packet.size())},
             0,
             false});
    if (Status written = writer.headers(headers); !written)
        return written;
    std::vector<unsigned char> buffer;
    for (size_t k = 0; k < count; ++k) {
        const qint64 start = plan.start(k);
        for (size_t i = first[k]; i < last[k]; ++i) {
            const VorbisPart::Packet& packet = vorbis[k]->packets()[i];
            const bool end = k + 1 == count && i + 1 == last[k];
            Result<std::span<const unsigned char>> bytes = vorbis[k]->bytes(packet, buffer);
            if (!bytes)
                return Failure{bytes.error()};
            if (Status written = writer.audio({bytes.value(), start + packet.granule, end});
                !written)
                return written;
        }
    }
    return writer.finish();
}

} // namespace

std::unique_ptr<SplitFormat> makeVorbisSplitFormat(const OggFormat& format)
{
    // Parts are cut on the CD's own sample grid: a resampler's filter would smear every seam.
    // A mono downmix at the CD's rate is sample by sample, so parts start on it cleanly.
    if (format.sampleRate != AudioEncoder::InputRate ||
        (format.channels != 1 && format.channels != 2))
        return nullptr;
    if (!VorbisAnalysis::make(format))
        return nullptr;
    return std::make_unique<VorbisSplitFormat>(format);
}
