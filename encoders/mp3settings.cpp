#include "encoders/mp3settings.h"

#include "components/outputfile.h"
#include "encoders/encodertables.h"
#include "encoders/storedfields.h"

#include <array>

namespace
{

using M = Mp3Settings;

// The store's value names, defaults and fields, in load and save order.
const std::array<StoredField<M>, 26> Fields = {{
    {"sampling frequency", "11 025 Hz", &M::Frequency},
    {"channels mode", "Stereo", &M::ChannelMode},
    {"bitrate settings", "10", &M::BitratePos},
    {"encoder quality", "5", &M::QualityPos},
    {"chhfilt settings", "1", &M::HighpassOn},
    {"chlfilt settings", "1", &M::LowpassOn},
    {"thfiltf settings", "30", &M::HighpassFrequency},
    {"thfiltw settings", "5", &M::HighpassWidth, true},
    {"tlfiltf settings", "15160", &M::LowpassFrequency},
    {"tlfiltw settings", "760", &M::LowpassWidth},
    {"commandLine settings", "comment:", &M::CommandLine},
    {"cmbvbrcoding settings", "Default", &M::VbrCoding},
    {"sldrvbrbitrate settings", "5", &M::VbrBitratePos},
    {"chwritevbrheader settings", "1", &M::WriteVbrHeader},
    {"chstrictlyenforceminbitrate settings", "1", &M::StrictlyEnforceMinBitrate},
    {"txtvbrquality settings", "5", &M::VbrQuality},
    {"txtabrbitrate settings", "5", &M::AbrBitrate},
    {"cherrorprotection settings", "0", &M::ErrorProtection},
    {"chstrictlyisocompliance settings", "0", &M::StrictlyIsoCompliance},
    {"chblocktype settings", "0", &M::BlockType},
    {"chshortblocks settings", "0", &M::ShortBlocks},
    {"chbitreservoir settings", "0", &M::BitReservoir},
    {"cmbathcontrol settings", "default", &M::AthControl},
    {"cmbemphasis settings", "default", &M::Emphasis},
    {"preset settings", "1", &M::Preset},
    {"altpreset settings", "1", &M::AltPreset},
}};

int number(const QString& text)
{
    return text.trimmed().toInt();
}

} // namespace

const QStringList Mp3Settings::ChannelModes = {
    QStringLiteral("Mono"), QStringLiteral("Stereo"), QStringLiteral("Joint Stereo"),
    QStringLiteral("Forced Joint Stereo"), QStringLiteral("Dual Channels")};
const QStringList Mp3Settings::VbrCodings = {QStringLiteral("None"), QStringLiteral("Default"),
                                             QStringLiteral("Old"),  QStringLiteral("New"),
                                             QStringLiteral("MTRH"), QStringLiteral("ABR")};
const QStringList Mp3Settings::AthControls = {QStringLiteral("default"), QStringLiteral("only"),
                                              QStringLiteral("disabled"),
                                              QStringLiteral("only for short blocks")};
const QStringList Mp3Settings::Emphases = {
    QStringLiteral("default"), QStringLiteral("0/15 microseconds"), QStringLiteral("citt j.17")};

Mp3Settings Mp3Settings::load(const CRegister& store)
{
    Mp3Settings settings;
    storedfields::load<M>(settings, store, Fields);
    return settings;
}

void Mp3Settings::save(const CRegister& store) const
{
    storedfields::save<M>(*this, store, Fields);
}

bool Mp3Settings::anyStored(const CRegister& store)
{
    return storedfields::anyStored<M>(store, Fields);
}

Mp3EncoderSettings Mp3Settings::encoderSettings() const
{
    Mp3EncoderSettings lame;
    // A list text the list doesn't hold (edited by hand) keeps the encoder's default.
    if (const auto rate = encodertables::samplingRateOf(Frequency))
        lame.SampleRate = *rate;
    if (const qsizetype method = VbrCodings.indexOf(VbrCoding); method >= 0)
        lame.VbrMode = int(method) - 1;
    if (const auto bitrate = encodertables::bitrateAt(BitratePos))
        lame.CbrBitrate = *bitrate;
    if (const auto bitrate = encodertables::bitrateAt(VbrBitratePos))
        lame.VbrMaxBitrate = *bitrate;
    if (const qsizetype mode = ChannelModes.indexOf(ChannelMode); mode == 0) {
        lame.Channels = 1;
    } else if (mode > 0) {
        lame.Channels = 2;
        lame.ChannelMode = int(mode);
    }
    lame.HighpassFrequency = HighpassOn ? number(HighpassFrequency) : -1;
    lame.LowpassFrequency = LowpassOn ? number(LowpassFrequency) : -1;
    lame.HighpassWidth = number(HighpassWidth);
    lame.LowpassWidth = number(LowpassWidth);
    lame.VbrQuality = qint16(number(VbrQuality));
    return lame;
}

Status applyMp3Settings(OutputFile& file, const Mp3Settings& settings)
{
    return file.SetMP3Format(settings.encoderSettings());
}
