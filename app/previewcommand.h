#pragma once

class BatchGrab;
class CdGrabber;
class QDialog;
class QWidget;
class TrackPreview;
class UserDialogs;
class frmplaytrack;
struct MainControls;

// Play: the preview of the grabber's current track (the row clicked last) in its dialog. Convert
// waits while the dialog is open; Play and Convert come back once it has closed, but not while a
// batch runs. A track that is not audio, or a batch setting up a row, is told instead.
class PreviewCommand
{
public:
    PreviewCommand(CdGrabber& grabber, TrackPreview& preview, UserDialogs& dialogs,
                   const BatchGrab& batch, const MainControls& controls, QWidget& window);

    // Makes the preview's dialog, once, at start-up; it is hidden between showings. The preview
    // starts stopped.
    QDialog* makeDialog();

    void play();
    // However the dialog closed, the preview stops in full.
    void dialogClosed();

private:
    // Play and Convert enabled again, unless a batch runs.
    void restorePlayAndConvert();

    CdGrabber& m_grabber;
    TrackPreview& m_preview;
    UserDialogs& m_dialogs;
    const BatchGrab& m_batch;
    const MainControls& m_controls;
    QWidget& m_window;
    frmplaytrack* m_dialog = nullptr;
};
