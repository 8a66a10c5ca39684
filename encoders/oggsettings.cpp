#include "encoders/oggsettings.h"

#include "components/outputfile.h"
#include "encoders/encodertables.h"
#include "encoders/storedfields.h"

#include <array>

namespace
{

using O = OggSettings;

const std::array<StoredField<O>, 8> Fields = {{
    {"cmbfrequency settings", "11 025 Hz", &O::FrequencyText},
    {"cmbchmode settings", "Stereo", &O::ChModeText},
    {"sldrbitrate settings", "5", &O::BitratePos},
    {"sldrminbitrate settings", "5", &O::MinBitratePos},
    {"sldrmaxbitrate settings", "5", &O::MaxBitratePos},
    {"sldrquality settings", "5", &O::QualityPos},
    {"chvbr settings", "1", &O::VbrState},
    {"chquality settings", "1", &O::QualityState},
}};

int bitrate(qint16 position)
{
    return encodertables::bitrateAt(position).value_or(*encodertables::bitrateAt(5));
}

} // namespace

const QStringList OggSettings::ChannelModes = {QStringLiteral("Mono"), QStringLiteral("Stereo")};

OggSettings OggSettings::load(const CRegister& store)
{
    OggSettings settings;
    storedfields::load<O>(settings, store, Fields);
    return settings;
}

void OggSettings::save(const CRegister& store) const
{
    storedfields::save<O>(*this, store, Fields);
}

bool OggSettings::anyStored(const CRegister& store)
{
    return storedfields::anyStored<O>(store, Fields);
}

OggFormat OggSettings::format() const
{
    OggFormat format;
    format.sampleRate = encodertables::samplingRateOf(FrequencyText).value_or(11025);
    const qsizetype mode = ChannelModes.indexOf(ChModeText);
    format.channels = mode >= 0 ? int(mode) + 1 : 2;
    if (QualityState != 0) {
        format.bitrate = 128;
        format.minBitrate = 0;
        format.maxBitrate = 0;
        format.quality = qBound(0, int(QualityPos), 1000);
        return format;
    }
    format.bitrate = bitrate(BitratePos);
    format.minBitrate = VbrState != 0 ? bitrate(MinBitratePos) : 0;
    format.maxBitrate = VbrState != 0 ? bitrate(MaxBitratePos) : 0;
    format.quality = -1;
    return format;
}

bool applyOggSettings(OutputFile& file, const OggSettings& settings)
{
    const OggFormat f = settings.format();
    if (f.quality < 0 &&
        !file.IsOGGFormatValid(f.sampleRate, f.channels, f.bitrate, f.minBitrate, f.maxBitrate))
        return false;
    return file
        .SetOGGFormat(f.sampleRate, f.channels, f.bitrate, f.minBitrate, f.maxBitrate,
                      qint16(f.quality))
        .ok();
}
