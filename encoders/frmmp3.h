#pragma once

#include "encoders/mp3settings.h"

#include <QDialog>

class OutputFile;
class UserDialogs;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSlider;
class QSpinBox;
class QTabWidget;

// The MP3 encoder's settings on seven pages. Opening it reads the stored settings; every control
// keeps its field of the record current; Ok and Apply store the record and hand it to the
// output-file object; Cancel and closing the window drop every change since the last Apply.
class frmmp3 final : public QDialog
{
    Q_OBJECT

public:
    frmmp3(OutputFile& audioFile, UserDialogs& dialogs, QWidget* parent = nullptr);

    // The settings as the controls show them now.
    const Mp3Settings& settings() const { return m_settings; }

private:
    QWidget* makeGeneralPage();
    QWidget* makeFilteringPage();
    QWidget* makeVbrPage();
    QWidget* makeExpertPage();
    QWidget* makePresetPage();
    QWidget* makeAltPresetPage();
    QWidget* makeCommandLinePage();

    void fillControls();
    void UpdateVbrControls();
    void UpdateHighpassControls();
    void UpdateLowpassControls();
    void showDraggedBitrate(int position);
    // Stores the record and hands it to the output-file object; false when the encoder refused.
    bool saveAndApply();

    OutputFile& m_audioFile;
    UserDialogs& m_dialogs;
    Mp3Settings m_settings;

    QTabWidget* m_tabs = nullptr;
    // General
    QComboBox* m_chMode = nullptr;
    QGroupBox* m_bitrateFrame = nullptr;
    QSlider* m_bitrate = nullptr;
    QSlider* m_quality = nullptr;
    QComboBox* m_frequency = nullptr;
    // Filtering
    QCheckBox* m_lowpassOn = nullptr;
    QSpinBox* m_lowpassFrequency = nullptr;
    QSpinBox* m_lowpassWidth = nullptr;
    QLabel* m_lowpassWidthLabel = nullptr;
    QCheckBox* m_highpassOn = nullptr;
    QSpinBox* m_highpassFrequency = nullptr;
    QSpinBox* m_highpassWidth = nullptr;
    QLabel* m_highpassWidthLabel = nullptr;
    // VBR
    QComboBox* m_vbrCoding = nullptr;
    QLabel* m_vbrQualityLabel = nullptr;
    QSpinBox* m_vbrQuality = nullptr;
    QLabel* m_abrBitrateLabel = nullptr;
    QSpinBox* m_abrBitrate = nullptr;
    QGroupBox* m_vbrBitrateFrame = nullptr;
    QSlider* m_vbrBitrate = nullptr;
    QLabel* m_vbrBitrateLabel = nullptr;
    QGroupBox* m_vbrAdvancedFrame = nullptr;
    QCheckBox* m_strictlyEnforceMinBitrate = nullptr;
    QCheckBox* m_writeVbrHeader = nullptr;
    // Expert
    QCheckBox* m_errorProtection = nullptr;
    QCheckBox* m_shortBlocks = nullptr;
    QCheckBox* m_bitReservoir = nullptr;
    QCheckBox* m_blockType = nullptr;
    QCheckBox* m_strictlyIsoCompliance = nullptr;
    QComboBox* m_athControl = nullptr;
    QComboBox* m_emphasis = nullptr;
    // Preset, Alt-Preset, Command Line
    QButtonGroup* m_preset = nullptr;
    QButtonGroup* m_altPreset = nullptr;
    QLineEdit* m_commandLine = nullptr;
};
