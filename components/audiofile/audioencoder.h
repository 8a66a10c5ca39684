#pragma once

#include "components/encodersettings.h"
#include "components/result.h"

#include <QString>

#include <memory>
#include <span>

class QIODevice;

// Turns 44.1 kHz 16-bit stereo PCM into one audio file format, written to a device that is open
// for writing and can seek. Used on one thread at a time.
class AudioEncoder
{
public:
    static constexpr int InputRate = 44100;
    static constexpr int InputChannels = 2;

    virtual ~AudioEncoder() = default;

    // totalFrames is the number of stereo frames that will follow, when known (0 otherwise).
    virtual Status begin(QIODevice& out, qint64 totalFrames) = 0;
    // Interleaved left/right samples: frames * 2 values.
    virtual Status encode(std::span<const qint16> interleaved) = 0;
    // Flushes everything and completes the file (headers, trailers).
    virtual Status finish() = 0;

    // Writes all bytes or fails with the device's own error text (e.g. a full disk); for the
    // encoders and the splices of their parts.
    static Status writeAll(QIODevice& out, const void* data, qint64 size);

protected:
    // Moves to an absolute position, for headers that are fixed up at the end.
    static Status seekTo(QIODevice& out, qint64 position);
    // The failure for encode() or finish() without a successful begin().
    static Failure notStarted();
};

// The encoder for a file extension (".wav", ".mp3", ".ogg", ".wma", ".flac", compared without
// regard to case), or a failure naming the extension when there is none for it.
Result<std::unique_ptr<AudioEncoder>> makeEncoder(const QString& extension,
                                                  const EncoderSettings& settings);

namespace encoders
{

// Whether libvorbisenc accepts this managed-bitrate setup (bitrates in kbit/s, 0 = none).
bool isOggFormatValid(int sampleRate, int channels, int bitrate, int minBitrate, int maxBitrate);

// The WMA profiles by index 0..10.
inline constexpr int WmaProfileCount = 11;
WmaProfile wmaProfile(int index);

// A readable description of a format, e.g. "MP3, 128 kbit/s, 44 100 Hz, joint stereo".
QString describeWav();
QString describeMp3(const Mp3EncoderSettings& settings);
QString describeOgg(const OggFormat& format);
QString describeWma(int profileIndex);

} // namespace encoders
