#include "grab/batchgrab.h"

#include "app/apptext.h"
#include "app/disctext.h"
#include "app/userdialogs.h"
#include "components/cdgrabber.h"
#include "grab/batchview.h"
#include "grab/trackoutput.h"

#include <QCoreApplication>
#include <QFileInfo>

BatchGrab::BatchGrab(CdGrabber& grabber, BatchView& view, UserDialogs& dialogs, QObject* window)
    : QObject(window), m_grabber(grabber), m_view(view), m_dialogs(dialogs), m_track(grabber)
{
    connect(&grabber, &CdGrabber::OperationProgress, this,
            &BatchGrab::AudioCDGrabber2_OperationProgress);
    connect(&grabber, &CdGrabber::GrabRetry, this, &BatchGrab::AudioCDGrabber2_GrabRetry);
    connect(&grabber, &CdGrabber::GrabFailed, this, &BatchGrab::AudioCDGrabber2_GrabFailed);
}

void BatchGrab::Cmdgrab_Click()
{
    // Cancel gives Convert back before the running batch has noticed; a click in that moment
    // would start a second batch inside the first, and the first would then go on grabbing.
    if (Grabbing)
        return;
    // While a track is still under way no batch starts; only the finishing steps run.
    if (!m_track.running() && !grabCheckedRows())
        return;
    m_view.setPreviewPlayFlag(false);
    // The completion text stays for the user to read; the next batch replaces it. A batch in
    // which tracks failed says so: the boxes may have been closed unread.
    m_view.setStatusText(m_failedTracks == 0
                             ? QStringLiteral("It is successful conversion")
                             : QStringLiteral("Conversion finished: %1 of %2 tracks failed")
                                   .arg(m_failedTracks)
                                   .arg(TracksToGrab));
    m_view.setProgressValue(0);
    m_view.setProgressVisible(false);
    m_view.setCommandEnabled(BatchView::Command::Refresh, true);
    m_track.end();
    emit ended();
}

bool BatchGrab::grabCheckedRows()
{
    m_view.setCommandEnabled(BatchView::Command::Refresh, false);
    TracksToGrab = 0;
    m_view.setProgressVisible(true);
    for (int k = 0; k < m_view.rowCount(); ++k) {
        if (m_view.rowChecked(k))
            ++TracksToGrab;
    }
    // Nothing to grab is told, and the batch still walks the rows and finishes as usual.
    if (TracksToGrab == 0)
        m_dialogs.ask(parent(), {QStringLiteral("You must check on any list view item"),
                                 QStringLiteral("Warning"), MessageBox::Buttons::Ok,
                                 MessageBox::Icon::None, MessageBox::Answer::Ok});
    TracksStarted = 0;
    m_failedTracks = 0;
    flgCancel = false;
    m_discRemoved = false;

    for (int k = 0; k < m_view.rowCount(); ++k) {
        Grabbing = true;
        m_view.setPreviewPlayFlag(true);
        m_view.makeCurrentRow(k);
        if (m_view.rowChecked(k)) {
            ++TracksStarted;
            const int tag = m_view.rowTag(k);
            const Status selected =
                m_track.select(disctext::tagSession(tag), disctext::tagTrack(tag));
            m_view.selectRow(k);
            m_view.SetControlsEnabled(false);

            if (!QFileInfo(m_view.outputFolder()).isDir()) {
                m_dialogs.ask(parent(), {QStringLiteral(" The output folder doesn't exist,please "
                                                        "change the output folder"),
                                         apptext::title(), MessageBox::Buttons::Ok,
                                         MessageBox::Icon::None, MessageBox::Answer::Ok});
                stopBatch();
                return false;
            }
            // A track that can't be selected would be grabbed from the wrong place: it fails
            // like a track that can't be written, and the batch goes on.
            m_rowFailed = false;
            if (selected.ok())
                GrabCurrentTrack(m_view.rowName(k));
            else
                trackFailed(selected.error());
            m_track.wait();
            if (flgCancel || m_discRemoved) {
                stopBatch();
                if (m_discRemoved)
                    m_view.setStatusText(QStringLiteral("The disc was removed from the drive."));
                return false;
            }
        }
        Grabbing = false;
        m_view.SetControlsEnabled(true);
    }
    return true;
}

void BatchGrab::stopBatch()
{
    m_view.setStatusText(QStringLiteral("Canceling....."));
    cmdCancel_Click();
    m_view.SetControlsEnabled(true);
    // A batch cancelled while a track was declined or failed never started its grab; the
    // preview must not stay refused for good.
    m_view.setPreviewPlayFlag(false);
    Grabbing = false;
    emit ended();
}

void BatchGrab::GrabCurrentTrack(const QString& trackName)
{
    m_track.begin();
    // Every track starts with the bar at 0; the next progress event sets the batch's value.
    DockProgressBar();
    const QString path =
        trackoutput::outputPath(m_view.outputFolder(), trackName, m_view.outputFormat());
    // Only the file the user agreed to lose is replaced: one that appears after the question is
    // kept.
    const bool replace = QFileInfo(path).isFile();
    if (replace) {
        const auto answer =
            m_dialogs.ask(parent(), {QStringLiteral("are you want to overwrite the existing file?"),
                                     apptext::title(), MessageBox::Buttons::YesNo,
                                     MessageBox::Icon::Question, MessageBox::Answer::No});
        if (answer != MessageBox::Answer::Yes) {
            m_track.end();
            return;
        }
    }
    if (const Status started = m_track.start(path, replace); !started.ok()) {
        trackFailed(started.error());
        return;
    }
    m_view.setPreviewPlayFlag(false);
}

void BatchGrab::DockProgressBar()
{
    // The bar lives over the status bar's second panel, so showing it is all the docking needed.
    m_view.setProgressVisible(true);
    m_view.setProgressValue(0);
}

void BatchGrab::trackFailed(const QString& description)
{
    ++m_failedTracks;
    m_rowFailed = true;
    m_view.setCurrentRowPercent(QStringLiteral("Failed"));
    reportConversionError(description);
}

void BatchGrab::reportConversionError(const QString& description)
{
    m_dialogs.ask(
        parent(),
        {QStringLiteral("Error occured during conversion..\r\nError Description:") + description,
         apptext::title(), MessageBox::Buttons::Ok, MessageBox::Icon::Critical,
         MessageBox::Answer::Ok});
}

void BatchGrab::AudioCDGrabber2_OperationProgress(double percent)
{
    if (!Grabbing)
        return;
    // A Cancel click waiting in the queue runs first, so the steps below see its flag. Later
    // progress events may run here too: the newest value is then on display already, and this
    // older one must not replace it (a finished track would show an early percent).
    const quint64 event = ++m_progressEvents;
    QCoreApplication::processEvents();
    if (event != m_progressEvents && percent != 100.0)
        return;
    const double overall = trackoutput::overallPercent(TracksStarted, TracksToGrab, percent);
    m_view.setProgressValue(qBound(0, qRound(overall), 100));
    m_view.setStatusText(trackoutput::completedText(overall));
    if (!(percent == 100.0 && flgCancel) && !m_rowFailed)
        m_view.setCurrentRowPercent(trackoutput::percentColumnText(percent));
    // Events that still come after StopGrab repeat the Cancel, which is harmless.
    if (flgCancel)
        cmdCancel_Click();
    // Only exactly 100 ends a track; the grabber sends it once, after the file is complete.
    if (percent == 100.0)
        m_track.end();
}

void BatchGrab::AudioCDGrabber2_GrabRetry(int, qint64)
{
    // A drive retrying one bad stretch raises many retries; one box at a time, and the rest
    // counted in the status text meanwhile.
    if (m_retryBoxOpen) {
        m_view.setStatusText(QStringLiteral("Read retries: %1").arg(++m_retriesWhileOpen + 1));
        return;
    }
    m_retryBoxOpen = true;
    m_retriesWhileOpen = 0;
    m_dialogs.ask(parent(), {QString(), apptext::title(), MessageBox::Buttons::Ok,
                             MessageBox::Icon::None, MessageBox::Answer::Ok});
    m_retryBoxOpen = false;
}

void BatchGrab::AudioCDGrabber2_GrabFailed(const QString& description)
{
    // A failure that arrives after the track has ended or was cancelled has nothing to stop.
    if (!m_track.running())
        return;
    m_track.end();
    // The other tracks can't be read without the disc: one message says so, and no more.
    m_discRemoved = m_grabber.LastReadReport().discRemoved;
    trackFailed(description);
}

void BatchGrab::cmdCancel_Click()
{
    m_view.setProgressValue(0);
    m_track.stop();
    flgCancel = true;
    m_view.setCommandEnabled(BatchView::Command::Convert, true);
    m_view.setCommandEnabled(BatchView::Command::Play, true);
    m_view.setCommandEnabled(BatchView::Command::Refresh, true);
}
