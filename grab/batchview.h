#pragma once

#include <QString>

// What the batch grab needs of the window that shows it: the track list's rows (counted from 0,
// in list order), the command controls, the status text, the progress bar, and the output folder
// and format the user chose. The main window implements it; the batch itself needs no widget.
class BatchView
{
public:
    enum class Command { Convert, Play, Refresh };

    virtual ~BatchView() = default;

    virtual int rowCount() const = 0;
    // The row's tag: disc session index * 100 + track index.
    virtual int rowTag(int row) const = 0;
    // The track's name as the list shows it; it becomes the file's name.
    virtual QString rowName(int row) const = 0;
    virtual bool rowChecked(int row) const = 0;
    // The row whose percent column progress is written to.
    virtual void makeCurrentRow(int row) = 0;
    // Selects the row and scrolls it into view.
    virtual void selectRow(int row) = 0;
    virtual void setCurrentRowPercent(const QString& text) = 0;

    // Idle (true): every command control enabled and Cancel disabled; grabbing (false): the
    // other way round.
    virtual void SetControlsEnabled(bool enabled) = 0;
    virtual void setCommandEnabled(Command command, bool enabled) = 0;

    // The first status panel.
    virtual void setStatusText(const QString& text) = 0;
    // The progress bar (0..100) over the second status panel.
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgressValue(int value) = 0;

    // The preview's playing flag: true while a row is being set up, so that the Play command
    // refuses; false once its grab has started and when the batch ends.
    virtual void setPreviewPlayFlag(bool playing) = 0;

    virtual QString outputFolder() const = 0;
    // trackoutput::FormatCode, or 0 before a format was chosen.
    virtual int outputFormat() const = 0;
};
