#pragma once

#include "encoders/oggsettings.h"

#include <QDialog>

class OutputFile;
class UserDialogs;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

// The Ogg Vorbis settings dialog: sampling frequency, channel mode, and one of three rate
// controls (constant nominal bitrate, variable bitrate between a minimum and a maximum, or a
// quality level). It opens on the stored values, keeps its record in step with every control,
// and hands the record's format to the output-file object on Apply or Ok. What the controls show
// is exactly what is handed over. The caller builds it afresh for every opening.
class frmogg final : public QDialog
{
    Q_OBJECT

public:
    frmogg(OutputFile& audioFile, UserDialogs& dialogs, QWidget* parent = nullptr);

    // The values as the controls stand now.
    const OggSettings& settings() const { return m_settings; }

private:
    void buildControls();
    void showSettings();
    void connectControls();

    void vbrBoxChanged();
    void qualityBoxChanged();
    void bitrateSliderChanged(QSlider* slider, qint16 OggSettings::*position, QLabel* label,
                              const QString& caption);
    void qualitySliderChanged();
    void showTip(QSlider* slider);

    // Hands the format over; tells the user when the output file refuses it.
    bool applySettings();
    void cmdApply_Click();
    void cmdOk_Click();

    OutputFile& m_audioFile;
    UserDialogs& m_dialogs;
    OggSettings m_settings;

    QGroupBox* frmFrequency = nullptr;
    QComboBox* cmbFrequency = nullptr;
    QGroupBox* frmChMode = nullptr;
    QComboBox* cmbChMode = nullptr;
    QGroupBox* frmOption = nullptr;
    QCheckBox* chVbr = nullptr;
    QCheckBox* chQuality = nullptr;
    QSlider* sldrBitrate = nullptr;
    QLabel* lblBitrate = nullptr;
    QGroupBox* frmVbr = nullptr;
    QSlider* sldrMinBitrate = nullptr;
    QLabel* lblMinBitrate = nullptr;
    QSlider* sldrMaxBitrate = nullptr;
    QLabel* lblMaxBitrate = nullptr;
    QGroupBox* frmQuality = nullptr;
    QSlider* sldrQuality = nullptr;
    QPushButton* cmdOk = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdApply = nullptr;
};
