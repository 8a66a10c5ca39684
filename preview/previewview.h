#pragma once

#include <QString>

// What the preview needs of its dialog: the buttons, the position slider, the level meters, the
// time label and the buffer setting. The dialog implements it; the preview's rules need no
// widget.
class PreviewView
{
public:
    virtual ~PreviewView() = default;

    virtual void setPlayEnabled(bool enabled) = 0;
    virtual void setStopEnabled(bool enabled) = 0;
    virtual void setOkEnabled(bool enabled) = 0;
    virtual void setPositionEnabled(bool enabled) = 0;
    // 0..100.
    virtual void setPosition(int percent) = 0;
    // Meter 0 is the left channel, 1 the right; 0..100.
    virtual void setMeter(int index, int value) = 0;
    virtual void setTimeText(const QString& text) = 0;
    virtual int bufferSliderValue() const = 0;
    virtual void setBufferSliderValue(int value) = 0;
    virtual QString bufferText() const = 0;
    virtual void setBufferText(const QString& text) = 0;
    // Draws the dialog now.
    virtual void redraw() = 0;
};
