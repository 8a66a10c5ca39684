#pragma once

#include "components/encodersettings.h"
#include "components/result.h"

#include <QString>
#include <QStringList>

class CRegister;
class OutputFile;

// The MP3 dialog's 26 persisted values, each in the form its control shows: a list entry's text,
// a slider position, a check box state (0 or 1), a number field's text, an option's index.
struct Mp3Settings {
    QString Frequency = QStringLiteral("11 025 Hz");
    QString ChannelMode = QStringLiteral("Stereo");
    qint16 BitratePos = 10;
    qint16 QualityPos = 5;
    qint16 HighpassOn = 1;
    qint16 LowpassOn = 1;
    QString HighpassFrequency = QStringLiteral("30");
    QString HighpassWidth = QStringLiteral("5");
    QString LowpassFrequency = QStringLiteral("15160");
    QString LowpassWidth = QStringLiteral("760");
    QString CommandLine = QStringLiteral("comment:");
    QString VbrCoding = QStringLiteral("Default");
    qint16 VbrBitratePos = 5;
    qint16 WriteVbrHeader = 1;
    qint16 StrictlyEnforceMinBitrate = 1;
    QString VbrQuality = QStringLiteral("5");
    QString AbrBitrate = QStringLiteral("5");
    qint16 ErrorProtection = 0;
    qint16 StrictlyIsoCompliance = 0;
    qint16 BlockType = 0;
    qint16 ShortBlocks = 0;
    qint16 BitReservoir = 0;
    QString AthControl = QStringLiteral("default");
    QString Emphasis = QStringLiteral("default");
    QString Preset = QStringLiteral("1");
    qint16 AltPreset = 1;

    // The lists of the dialog, whose entries' texts are stored.
    static const QStringList ChannelModes; // "Mono", "Stereo", ...
    static const QStringList VbrCodings;   // "None", "Default", "Old", "New", "MTRH", "ABR"
    static const QStringList AthControls;  // "default", "only", ...
    static const QStringList Emphases;     // "default", "0/15 microseconds", "citt j.17"

    // Every value from the store; a missing one (or one holding no characters) is its default.
    static Mp3Settings load(const CRegister& store);
    void save(const CRegister& store) const;
    // Whether the store holds any MP3 value at all.
    static bool anyStored(const CRegister& store);

    // The encoder's settings: LAME's defaults with the rate, the coding method, both bitrates,
    // the channels, the filters and the VBR quality written over them. Only those values of the
    // dialog reach the encoder; the others are kept in the store only.
    Mp3EncoderSettings encoderSettings() const;

    bool operator==(const Mp3Settings&) const = default;
};

// Hands the settings to the output-file object; later MP3 grabs use them.
Status applyMp3Settings(OutputFile& file, const Mp3Settings& settings);
