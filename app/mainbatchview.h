#pragma once

#include "grab/batchview.h"

class OutputOptions;
class TrackListPresenter;
class TrackPreview;
struct MainControls;

// The batch as the main window shows it: the rows of the track list, the command buttons, the
// status text and the progress bar in the status bar, the preview's playing flag, and the output
// format and folder the user chose.
class MainBatchView final : public BatchView
{
public:
    MainBatchView(const MainControls& controls, TrackListPresenter& tracks,
                  const OutputOptions& output, TrackPreview& preview);

    int rowCount() const override;
    int rowTag(int row) const override;
    QString rowName(int row) const override;
    bool rowChecked(int row) const override;
    void makeCurrentRow(int row) override;
    void selectRow(int row) override;
    void setCurrentRowPercent(const QString& text) override;

    void SetControlsEnabled(bool enabled) override;
    void setCommandEnabled(Command command, bool enabled) override;

    void setStatusText(const QString& text) override;
    void setProgressVisible(bool visible) override;
    void setProgressValue(int value) override;

    void setPreviewPlayFlag(bool playing) override;

    QString outputFolder() const override;
    int outputFormat() const override;

private:
    const MainControls& m_controls;
    TrackListPresenter& m_tracks;
    const OutputOptions& m_output;
    TrackPreview& m_preview;
};
