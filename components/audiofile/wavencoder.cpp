#include "components/audiofile/wavencoder.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace
{

constexpr int HeaderBytes = 44;
constexpr int BytesPerFrame = AudioEncoder::InputChannels * 2;
// The RIFF size fields are 32 bits; a CD never comes near this, but a wrong size must not wrap.
constexpr qint64 MaxDataBytes = 0xFFFFFFFFLL - (HeaderBytes - 8);

std::array<char, HeaderBytes> header(qint64 dataBytes)
{
    const auto data = quint32(std::clamp<qint64>(dataBytes, 0, MaxDataBytes));
    std::array<char, HeaderBytes> bytes{};
    char* at = bytes.data();
    const auto text = [&at](const char(&tag)[5]) {
        std::memcpy(at, tag, 4);
        at += 4;
    };
    const auto u32 = [&at](quint32 value) {
        qToLittleEndian(value, at);
        at += 4;
    };
    const auto u16 = [&at](quint16 value) {
        qToLittleEndian(value, at);
        at += 2;
    };
    text("RIFF");
    u32(data + HeaderBytes - 8);
    text("WAVE");
    text("fmt ");
    u32(16); // size of the PCM format block
    u16(1);  // PCM
    u16(AudioEncoder::InputChannels);
    u32(AudioEncoder::InputRate);
    u32(AudioEncoder::InputRate * BytesPerFrame);
    u16(BytesPerFrame);
    u16(16); // bits per sample
    text("data");
    u32(data);
    return bytes;
}

} // namespace

Status WavEncoder::begin(QIODevice& out, qint64 totalFrames)
{
    m_out = nullptr;
    m_start = out.pos();
    m_dataBytes = 0;
    // The sizes are a forecast here; finish() writes the real ones.
    const auto bytes = header(totalFrames * BytesPerFrame);
    if (Status written = writeAll(out, bytes.data(), bytes.size()); !written)
        return written;
    m_out = &out;
    return {};
}

Status WavEncoder::encode(std::span<const qint16> interleaved)
{
    if (!m_out)
        return notStarted();
    const qint64 bytes = qint64(interleaved.size_bytes());
    Status written;
    if constexpr (std::endian::native == std::endian::little) {
        written = writeAll(*m_out, interleaved.data(), bytes);
    } else {
        std::vector<qint16> swapped(interleaved.size());
        qToLittleEndian<qint16>(interleaved.data(), qsizetype(interleaved.size()), swapped.data());
        written = writeAll(*m_out, swapped.data(), bytes);
    }
    if (written)
        m_dataBytes += bytes;
    return written;
}

Status WavEncoder::finish()
{
    if (!m_out)
        return notStarted();
    QIODevice& out = *m_out;
    m_out = nullptr;
    const auto bytes = header(m_dataBytes);
    if (Status moved = seekTo(out, m_start); !moved)
        return moved;
    if (Status written = writeAll(out, bytes.data(), bytes.size()); !written)
        return written;
    // Leave the device at the end of the file, as after any other encoder.
    return seekTo(out, m_start + HeaderBytes + m_dataBytes);
}
