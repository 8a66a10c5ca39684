#pragma once

#include "grab/trackgrab.h"

#include <QObject>

class BatchView;
class CdGrabber;
class UserDialogs;

// Convert: every checked row of the track list grabbed into a file, one after another in list
// order, each waited for while the window stays live. Progress, read retries, failures and
// Cancel arrive while it waits. The window shows it through BatchView; questions and errors go
// to the user through UserDialogs, owned by the window that is this object's parent.
class BatchGrab final : public QObject
{
    Q_OBJECT

public:
    BatchGrab(CdGrabber& grabber, BatchView& view, UserDialogs& dialogs, QObject* window);

    // The batch loop is working on a row.
    bool grabbing() const { return Grabbing; }
    // A track is under way (being asked about, grabbed, or winding down).
    bool trackGrabbing() const { return m_track.running(); }

    void Cmdgrab_Click();
    void cmdCancel_Click();

signals:
    // The batch has ended: finished, cancelled, or stopped for a missing folder.
    void ended();

private:
    // Returns false when the batch stopped early (cancelled, or no output folder) and has put
    // the controls back itself; true when the finishing steps are due.
    bool grabCheckedRows();
    void stopBatch();
    void GrabCurrentTrack(const QString& trackName);
    void DockProgressBar();
    // The current row's track failed: its row and the batch's end say so, and a box tells why.
    void trackFailed(const QString& description);
    void reportConversionError(const QString& description);
    void AudioCDGrabber2_OperationProgress(double percent);
    void AudioCDGrabber2_GrabRetry(int retry, qint64 sector);
    void AudioCDGrabber2_GrabFailed(const QString& description);

    CdGrabber& m_grabber;
    BatchView& m_view;
    UserDialogs& m_dialogs;
    TrackGrab m_track;
    bool Grabbing = false;
    // Checked rows counted when the batch started, and those reached so far.
    int TracksToGrab = 0;
    int TracksStarted = 0;
    bool flgCancel = false;
    // Tracks of this batch that failed; the current row's track failed.
    int m_failedTracks = 0;
    bool m_rowFailed = false;
    // Counts progress events; one that finds a later event handled while it let others run
    // leaves the display to that one.
    quint64 m_progressEvents = 0;
    // A retry box is open; further retries are counted in the status text meanwhile.
    bool m_retryBoxOpen = false;
    // The last track failed because the drive's disc was taken out: the batch ends there.
    bool m_discRemoved = false;
    int m_retriesWhileOpen = 0;
};
