#include "components/audiofile/audiooutputfile.h"

#include "components/audiofile/audioencoder.h"

#include <QCoreApplication>

Status AudioOutputFile::SetMP3Format(const Mp3EncoderSettings& settings)
{
    m_settings.mp3 = settings;
    m_last = Last::Mp3;
    return {};
}

bool AudioOutputFile::IsOGGFormatValid(int sampleRate, int channels, int bitrate, int minBitrate,
                                       int maxBitrate) const
{
    return encoders::isOggFormatValid(sampleRate, channels, bitrate, minBitrate, maxBitrate);
}

Status AudioOutputFile::SetOGGFormat(int sampleRate, int channels, int bitrate, int minBitrate,
                                     int maxBitrate, qint16 quality)
{
    if (quality < -1 || quality > 1000)
        return Failure{QCoreApplication::translate(
                           "AudioOutputFile", "The Ogg Vorbis quality %1 is outside 0 to 1000.")
                           .arg(quality)};
    m_settings.ogg = {sampleRate, channels, bitrate, minBitrate, maxBitrate, quality};
    m_last = Last::Ogg;
    return {};
}

Status AudioOutputFile::SetWMAProfile(int profile)
{
    if (profile < 0 || profile >= encoders::WmaProfileCount)
        return Failure{
            QCoreApplication::translate("AudioOutputFile",
                                        "There is no WMA profile %1; profiles go from 0 to %2.")
                .arg(profile)
                .arg(encoders::WmaProfileCount - 1)};
    m_settings.wmaProfile = profile;
    m_last = Last::Wma;
    return {};
}

QString AudioOutputFile::FormatString() const
{
    switch (m_last) {
    case Last::Mp3:
        return encoders::describeMp3(m_settings.mp3);
    case Last::Ogg:
        return encoders::describeOgg(m_settings.ogg);
    case Last::Wma:
        return encoders::describeWma(m_settings.wmaProfile);
    case Last::Wav:
        break;
    }
    return encoders::describeWav();
}
