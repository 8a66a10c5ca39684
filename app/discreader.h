#pragma once

#include <QString>

class CdGrabber;
class QComboBox;
class TrackListPresenter;

// Reads the drives into the drive list and the current drive's disc into the track list. The
// drive the user chose stays current across re-reads. A read ends at the first failure; the first
// read at start-up notes the first failure and goes on with the next step. Either way the failure's
// description is left in error for the caller to report.
class DiscReader
{
public:
    enum class Mode { Normal, Startup };

    DiscReader(CdGrabber& grabber, QComboBox& drives, TrackListPresenter& tracks);

    // Drives and disc read again, both lists rebuilt. False when the read stopped at a failure.
    bool readDisc(Mode mode, QString& error);
    // The current drive's disc into the track list (which the caller has emptied).
    bool listTracks(Mode mode, QString& error);
    // Makes the drive of the drive list's line index current and lists its disc.
    bool chooseDrive(int index, QString& error);

private:
    CdGrabber& m_grabber;
    QComboBox& m_drives;
    TrackListPresenter& m_tracks;
    // The drive the user chose in the drive list, kept across re-reads.
    QString m_chosenDrive;
};
