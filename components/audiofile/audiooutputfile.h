#pragma once

#include "components/outputfile.h"

#include <QString>

// The output-file object of the real grabber: it keeps the formats that grabs encode to.
class AudioOutputFile final : public OutputFile
{
public:
    bool ReadFlag() const override { return m_readFlag; }
    void SetReadFlag(bool flag) override { m_readFlag = flag; }

    Status SetMP3Format(const Mp3EncoderSettings& settings) override;
    bool IsOGGFormatValid(int sampleRate, int channels, int bitrate, int minBitrate,
                          int maxBitrate) const override;
    Status SetOGGFormat(int sampleRate, int channels, int bitrate, int minBitrate, int maxBitrate,
                        qint16 quality) override;
    Status SetWMAProfile(int profile) override;
    void SetFLACLevel(int level) override { m_settings.flacLevel = level; }
    QString FormatString() const override;

    // What a grab starting now encodes with.
    const EncoderSettings& settings() const { return m_settings; }

private:
    enum class Last { Wav, Mp3, Ogg, Wma };

    bool m_readFlag = false;
    EncoderSettings m_settings;
    Last m_last = Last::Wav;
};
