#include "app/mainbatchview.h"

#include "app/maincontrols.h"
#include "app/outputoptions.h"
#include "app/tracklistpresenter.h"
#include "preview/trackpreview.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

MainBatchView::MainBatchView(const MainControls& controls, TrackListPresenter& tracks,
                             const OutputOptions& output, TrackPreview& preview)
    : m_controls(controls), m_tracks(tracks), m_output(output), m_preview(preview)
{
}

int MainBatchView::rowCount() const
{
    return m_tracks.rowCount();
}

int MainBatchView::rowTag(int row) const
{
    return m_tracks.rowTag(row);
}

QString MainBatchView::rowName(int row) const
{
    return m_tracks.rowName(row);
}

bool MainBatchView::rowChecked(int row) const
{
    return m_tracks.rowChecked(row);
}

void MainBatchView::makeCurrentRow(int row)
{
    m_tracks.makeCurrentRow(row);
}

void MainBatchView::selectRow(int row)
{
    m_tracks.selectRow(row);
}

void MainBatchView::setCurrentRowPercent(const QString& text)
{
    m_tracks.setCurrentRowPercent(text);
}

void MainBatchView::SetControlsEnabled(bool enabled)
{
    m_controls.setCommandsEnabled(enabled);
}

void MainBatchView::setCommandEnabled(Command command, bool enabled)
{
    switch (command) {
    case Command::Convert:
        m_controls.Cmdgrab->setEnabled(enabled);
        break;
    case Command::Play:
        m_controls.Command3->setEnabled(enabled);
        break;
    case Command::Refresh:
        m_controls.Command1->setEnabled(enabled);
        break;
    }
}

void MainBatchView::setStatusText(const QString& text)
{
    m_controls.statusPanel1->setText(text);
}

void MainBatchView::setProgressVisible(bool visible)
{
    m_controls.pbProgressBar->setVisible(visible);
}

void MainBatchView::setProgressValue(int value)
{
    m_controls.pbProgressBar->setValue(value);
}

void MainBatchView::setPreviewPlayFlag(bool playing)
{
    m_preview.flgPlay = playing;
}

QString MainBatchView::outputFolder() const
{
    return m_output.folder();
}

int MainBatchView::outputFormat() const
{
    return m_output.format();
}
