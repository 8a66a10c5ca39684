#pragma once

#include "components/cdgrabber.h"

#include <QList>
#include <QSet>
#include <QString>

// A grabber whose drives, discs and failures the test sets up, and which records what it was
// asked. For the windows' state rules only; the real grabber is tested on real images.
class ScriptedGrabber final : public CdGrabber
{
    Q_OBJECT

public:
    struct Track {
        int type = TrackTypeAudio;
        qint64 sectors = 75 * 60;
    };
    struct Drive {
        QString letter;
        QString vendor;
        QString product;
        QString revision;
        QList<QList<Track>> sessions;
    };

    // What one GrabTrack() call does once it has returned: the progress events it raises, one per
    // turn of the event loop, and then, when failure is set, a GrabFailed() with that text. In a
    // burst every event is queued at once, as a worker thread does when the window is slow.
    struct GrabScript {
        QList<double> progress;
        QString failure;
        bool burst = false;
    };
    // One GrabTrack() call as the grabber saw it.
    struct GrabCall {
        QString path;
        int session = 0;
        int track = 0;
    };

    class Output final : public OutputFile
    {
    public:
        bool ReadFlag() const override { return readFlag; }
        void SetReadFlag(bool flag) override { readFlag = flag; }
        Status SetMP3Format(const Mp3EncoderSettings& settings) override
        {
            mp3 = settings;
            return {};
        }
        bool IsOGGFormatValid(int, int, int, int, int) const override { return true; }
        Status SetOGGFormat(int, int, int, int, int, qint16) override { return {}; }
        Status SetWMAProfile(int profile) override
        {
            wmaProfile = profile;
            return {};
        }
        QString FormatString() const override { return QStringLiteral("scripted"); }
        bool readFlag = false;
        Mp3EncoderSettings mp3;
        int wmaProfile = -1;
    };

    QList<Drive> drives;
    // Names of operations that fail ("Refresh", "SetCurrentDrive", "SessionCount", ...).
    QSet<QString> failing;
    bool busy = false;
    QStringList calls;
    Output output;
    // Taken one per GrabTrack() call, in order; a call with no script left starts a grab that
    // never reports anything.
    QList<GrabScript> grabScripts;
    QList<GrabCall> grabs;

    // A drive of sessions with the given track counts, all audio of one minute.
    static Drive drive(const QString& letter, QList<int> tracksPerSession);

    Status Refresh() override;
    int DriveCount() const override { return int(m_drives.size()); }
    int CurrentDrive() const override { return m_drive; }
    Status SetCurrentDrive(int drive) override;
    QString DriveLetter() const override { return current() ? current()->letter : QString(); }
    QString DriveVendor() const override { return current() ? current()->vendor : QString(); }
    QString DriveProduct() const override { return current() ? current()->product : QString(); }
    QString DriveRevision() const override { return current() ? current()->revision : QString(); }
    Result<int> SessionCount() const override;
    int CurrentSession() const override { return m_session; }
    Status SetCurrentSession(int session) override;
    Result<int> TrackCount() const override;
    int CurrentTrack() const override { return m_track; }
    Status SetCurrentTrack(int track) override;
    int TrackType() const override;
    qint64 TrackSectors() const override;
    OutputFile* AudioFile() override { return &output; }
    bool Busy() const override { return busy; }
    void Abort() override { calls << QStringLiteral("Abort"); }
    void Close() override { calls << QStringLiteral("Close"); }
    Status GrabTrack(const QString& path) override;
    void StopGrab() override { calls << QStringLiteral("StopGrab"); }
    // Preview reads give chunks of the current track's length, each sector's bytes its number.
    Status OpenArrayRead() override;
    Result<QByteArray> ReadArray(int sectors) override;
    Status SeekArray(qint64 sector, int mode) override;

    void raiseMediaChange() { emit MediaChange(); }
    void raiseProgress(double percent) { emit OperationProgress(percent); }
    void raiseGrabRetry(int retry, qint64 sector) { emit GrabRetry(retry, sector); }

private:
    void playGrabScript(GrabScript script);
    Status check(const QString& operation) const;
    const Drive* current() const;
    const Track* currentTrack() const;

    // What Refresh() read; the test may change `drives` for the next read.
    QList<Drive> m_drives;
    int m_drive = 0;
    int m_session = 0;
    int m_track = 0;
    qint64 m_readSector = 0;
};
