#include "app/discreader.h"

#include "app/disctext.h"
#include "app/tracklistpresenter.h"
#include "components/cdgrabber.h"
#include "grab/driveoffset.h"
#include "settings/cregister.h"

#include <QComboBox>

DiscReader::DiscReader(CdGrabber& grabber, QComboBox& drives, TrackListPresenter& tracks)
    : m_grabber(grabber), m_drives(drives), m_tracks(tracks)
{
}

bool DiscReader::readDisc(Mode mode, QString& error)
{
    const bool startup = mode == Mode::Startup;
    // At start-up a failing step is noted and the read goes on with the next one; otherwise the
    // read ends at the first failure.
    auto failed = [&](const Status& status) {
        if (status.ok())
            return false;
        if (error.isEmpty())
            error = status.error();
        return !startup;
    };

    // The read runs to its end without handing the event loop a turn: a disc change signalled
    // meanwhile is queued and read again afterwards, not inside this read, and no click reaches
    // the window while its lists are half rebuilt.
    if (failed(m_grabber.Refresh()))
        return false;
    m_drives.clear();
    if (!startup)
        m_tracks.clear();

    const int drives = m_grabber.DriveCount();
    for (int drive = 1; drive <= drives; ++drive) {
        if (failed(m_grabber.SetCurrentDrive(drive)))
            return false;
        m_drives.addItem(disctext::driveLine(m_grabber.DriveLetter(), m_grabber.DriveVendor(),
                                             m_grabber.DriveProduct(), m_grabber.DriveRevision()),
                         m_grabber.DriveLetter());
    }
    // The drive the user chose stays current across re-reads; otherwise the last drive read is.
    // The drive list shows the line of the drive whose tracks are listed.
    if (const int chosen = m_drives.findData(m_chosenDrive);
        !m_chosenDrive.isEmpty() && chosen >= 0) {
        if (failed(m_grabber.SetCurrentDrive(chosen + 1)))
            return false;
    }
    if (m_drives.count() > 0)
        m_drives.setCurrentIndex(qBound(0, m_grabber.CurrentDrive() - 1, m_drives.count() - 1));

    if (startup && drives == 0)
        return error.isEmpty();
    return listTracks(mode, error) && error.isEmpty();
}

bool DiscReader::listTracks(Mode mode, QString& error)
{
    const bool startup = mode == Mode::Startup;
    auto failed = [&](const QString& description) {
        if (error.isEmpty())
            error = description;
        return !startup;
    };

    // The drive's model reads with the offset kept for it, as in the command-line tool.
    driveoffset::apply(m_grabber, CRegister());
    if (OutputFile* file = m_grabber.AudioFile())
        file->SetReadFlag(true);

    const Result<int> sessions = m_grabber.SessionCount();
    if (!sessions.ok())
        return !failed(sessions.error());
    for (int session = 0; session < sessions.value(); ++session) {
        if (const Status s = m_grabber.SetCurrentSession(session); !s.ok() && failed(s.error()))
            return false;
        const Result<int> tracks = m_grabber.TrackCount();
        if (!tracks.ok()) {
            if (failed(tracks.error()))
                return false;
            continue;
        }
        for (int track = 0; track < tracks.value(); ++track) {
            if (const Status s = m_grabber.SetCurrentTrack(track); !s.ok()) {
                if (failed(s.error()))
                    return false;
                continue;
            }
            m_tracks.InsertTrackInfoToTrackListView(session, track);
        }
    }
    m_tracks.selectFirstRow();
    return true;
}

bool DiscReader::chooseDrive(int index, QString& error)
{
    if (const Status s = m_grabber.SetCurrentDrive(index + 1); !s.ok()) {
        error = s.error();
        return false;
    }
    m_chosenDrive = m_grabber.DriveLetter();
    m_tracks.clear();
    return listTracks(Mode::Normal, error);
}
