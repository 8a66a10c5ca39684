#pragma once

#include "preview/previewview.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class TrackPreview;

// The preview player's dialog: play and stop, the position slider, the buffer setting, the two
// level meters and the time played. It shows the preview's state and hands the user's actions
// to TrackPreview. Made once, hidden between showings.
class frmplaytrack final : public QDialog, public PreviewView
{
    Q_OBJECT

public:
    frmplaytrack(TrackPreview& preview, QWidget* owner);

    void setPlayEnabled(bool enabled) override;
    void setStopEnabled(bool enabled) override;
    void setOkEnabled(bool enabled) override;
    void setPositionEnabled(bool enabled) override;
    void setPosition(int percent) override;
    void setMeter(int index, int value) override;
    void setTimeText(const QString& text) override;
    int bufferSliderValue() const override;
    void setBufferSliderValue(int value) override;
    QString bufferText() const override;
    void setBufferText(const QString& text) override;
    void redraw() override;

private:
    void Form_Load();

    TrackPreview& m_preview;
    // The program moves a slider itself: not a user's action.
    bool m_settingSlider = false;

    QPushButton* cmdPlay = nullptr;
    QPushButton* cmdStop = nullptr;
    QPushButton* okbutton = nullptr;
    QSlider* slPosition = nullptr;
    QSlider* slBuffer = nullptr;
    QLineEdit* txtBuffer = nullptr;
    QProgressBar* Meter[2] = {nullptr, nullptr};
    QLabel* lblCurrentPlayTime = nullptr;
};
