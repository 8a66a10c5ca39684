#pragma once

#include "components/encodersettings.h"

#include <QString>
#include <QStringList>

class CRegister;
class OutputFile;

// The Ogg Vorbis dialog's eight persisted values: the two lists' texts, the slider positions
// (bitrates 0..14, quality 0..1000 in hundredths of a step) and the two check boxes (0 or 1).
// What is handed to the encoder always follows them: the dialog shows what Apply hands over.
struct OggSettings {
    QString FrequencyText = QStringLiteral("11 025 Hz");
    QString ChModeText = QStringLiteral("Stereo");
    qint16 BitratePos = 5;
    qint16 MinBitratePos = 5;
    qint16 MaxBitratePos = 5;
    qint16 QualityPos = 5;
    qint16 VbrState = 1;
    qint16 QualityState = 1;

    static const QStringList ChannelModes; // "Mono", "Stereo"

    static OggSettings load(const CRegister& store);
    void save(const CRegister& store) const;
    static bool anyStored(const CRegister& store);

    // The format the values stand for: quality mode (bitrate 128, no minimum or maximum) when the
    // quality box is checked, else the nominal bitrate with, when VBR is checked, the minimum and
    // maximum. A list text or position outside its list falls back to the default entry.
    OggFormat format() const;

    bool operator==(const OggSettings&) const = default;
};

// Hands the settings' format to the output-file object, after asking it whether it can encode a
// bitrate setup (quality mode is always taken). False when it can't: nothing is handed over.
bool applyOggSettings(OutputFile& file, const OggSettings& settings);
