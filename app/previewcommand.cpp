#include "app/previewcommand.h"

#include "app/apptext.h"
#include "app/maincontrols.h"
#include "app/userdialogs.h"
#include "components/cdgrabber.h"
#include "grab/batchgrab.h"
#include "preview/frmplaytrack.h"
#include "preview/trackpreview.h"

#include <QPushButton>
#include <QTreeWidget>

PreviewCommand::PreviewCommand(CdGrabber& grabber, TrackPreview& preview, UserDialogs& dialogs,
                               const BatchGrab& batch, const MainControls& controls,
                               QWidget& window)
    : m_grabber(grabber), m_preview(preview), m_dialogs(dialogs), m_batch(batch),
      m_controls(controls), m_window(window)
{
}

QDialog* PreviewCommand::makeDialog()
{
    m_preview.flgPlay = false;
    m_dialog = new frmplaytrack(m_preview, &m_window);
    return m_dialog;
}

void PreviewCommand::play()
{
    if (m_controls.TrackListView->topLevelItemCount() == 0 || !m_dialog)
        return;
    m_controls.Cmdgrab->setEnabled(false);
    if (!m_batch.trackGrabbing()) {
        // An index beyond the disc is ignored: the track of the last row clicked stays current.
        (void)m_grabber.SetCurrentSession(4);
        if (m_grabber.TrackType() != CdGrabber::TrackTypeAudio) {
            m_dialogs.ask(&m_window, {QStringLiteral("Selected track type is not AUDIO!"),
                                      apptext::title(), MessageBox::Buttons::Ok,
                                      MessageBox::Icon::None, MessageBox::Answer::Ok});
        } else if (m_preview.flgPlay) {
            m_dialogs.ask(&m_window,
                          {QStringLiteral("You can't play audio,there is conversion process!"),
                           QStringLiteral("Warning"), MessageBox::Buttons::Ok,
                           MessageBox::Icon::None, MessageBox::Answer::Ok});
        } else {
            m_preview.StartPlay();
            // Play and Convert come back once the dialog has closed.
            if (!m_dialog->isVisible()) {
                m_dialog->open();
                return;
            }
        }
    }
    restorePlayAndConvert();
}

void PreviewCommand::dialogClosed()
{
    m_preview.flgPlay = true;
    m_preview.StopPlay();
    restorePlayAndConvert();
}

void PreviewCommand::restorePlayAndConvert()
{
    // Play from the skin during a batch must not enable the batch's controls.
    if (!m_batch.grabbing()) {
        m_controls.Command3->setEnabled(true);
        m_controls.Cmdgrab->setEnabled(true);
    }
}
