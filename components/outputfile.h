#pragma once

#include "components/encodersettings.h"
#include "components/result.h"

#include <QString>

// The output-file object the grabber hands out after every disc read. It holds the formats that
// later grabs encode to; one object serves the whole run, so settings survive a re-read.
class OutputFile
{
public:
    virtual ~OutputFile() = default;

    virtual bool ReadFlag() const = 0;
    virtual void SetReadFlag(bool flag) = 0;

    // Later MP3 grabs use these settings. Fails, keeping the settings in use, when LAME would
    // refuse them.
    virtual Status SetMP3Format(const Mp3EncoderSettings& settings) = 0;
    // Whether the Ogg Vorbis encoder accepts this managed-bitrate setup (bitrates in kbit/s).
    virtual bool IsOGGFormatValid(int sampleRate, int channels, int bitrate, int minBitrate,
                                  int maxBitrate) const = 0;
    // Later Ogg Vorbis grabs use this format; quality -1 means the bitrates apply.
    virtual Status SetOGGFormat(int sampleRate, int channels, int bitrate, int minBitrate,
                                int maxBitrate, qint16 quality) = 0;
    // Later WMA grabs use this profile (0..10).
    virtual Status SetWMAProfile(int profile) = 0;
    // FLAC's compression level (0 to 8) for grabs into .flac files; other output files ignore it.
    virtual void SetFLACLevel(int level) { Q_UNUSED(level); }

    // A readable description of the format last handed over.
    virtual QString FormatString() const = 0;
};
