#pragma once

#include "components/audiofile/audiooutputfile.h"
#include "components/cdgrabber.h"
#include "components/cdio/drivepoller.h"
#include "components/cdio/grabjob.h"
#include "components/cdio/trackreader.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <vector>

typedef struct _CdIo CdIo_t;

// The grabber on libcdio: every CD drive libcdio finds, followed by every disc image named when
// the grabber was made. A cue sheet is read by CueImage, never by libcdio; a cdrdao .toc or a
// Nero .nrg is opened like a drive by libcdio's driver for it, chosen by the extension (a file is
// never probed); any other file is refused. A disc has one session holding all its tracks.
//
// The preview reads the current track on the grabber's thread, through a TrackReader of its own
// that stays open between reads: from OpenArrayRead until the next one, Abort(), Close(), a grab,
// Refresh(), another drive chosen, or a change of the disc. A grab and a preview never read at
// once: OpenArrayRead fails while a grab's threads run, and a grab closes the preview's read.
class CdioGrabber final : public CdGrabber
{
    Q_OBJECT

public:
    explicit CdioGrabber(QStringList imagePaths, QObject* parent = nullptr);
    ~CdioGrabber() override;

    Status Refresh() override;

    int DriveCount() const override { return int(m_drives.size()); }
    int CurrentDrive() const override { return m_currentDrive; }
    Status SetCurrentDrive(int drive) override;
    QString DriveLetter() const override;
    QString DriveVendor() const override;
    QString DriveProduct() const override;
    QString DriveRevision() const override;
    std::optional<bool> DriveAccurateStream() const override;

    Result<int> SessionCount() const override;
    int CurrentSession() const override { return m_currentSession; }
    Status SetCurrentSession(int session) override;
    Result<int> TrackCount() const override;
    int CurrentTrack() const override { return m_currentTrack; }
    Status SetCurrentTrack(int track) override;
    int TrackType() const override;
    qint64 TrackSectors() const override;
    qint64 HiddenTrackSectors() const override;
    Status SelectHiddenTrack() override;

    OutputFile* AudioFile() override { return &m_audioFile; }

    bool Busy() const override;
    void Abort() override;
    void Close() override;

    Status GrabTrack(const QString& path) override;
    void StopGrab() override;

    Status OpenArrayRead() override;
    Result<QByteArray> ReadArray(int chunkSize) override;
    Status SeekArray(qint64 sector, int mode) override;

    // Images are read straight by default: they can't jitter, and paranoia's verification costs
    // ten times the read there. With this on they are read like a drive, by grabs and previews.
    void setParanoiaOnImages(bool on) { m_paranoiaOnImages = on; }
    // How many threads one track of an image may be encoded on (cut into parts and spliced, for
    // MP3 and Ogg Vorbis); 0, the default: one for each usable core; 1: in one piece.
    void setEncodeThreads(int threads) { m_encodeThreads = threads; }
    // Grabs and previews read the audio that many samples later (earlier when negative), with
    // silence beyond the disc's edges.
    void SetReadOffset(int samples) override { m_readOffset = samples; }
    GrabProof LastGrabProof() const override { return m_lastProof; }
    ReadReport LastReadReport() const override { return m_lastReadReport; }
    void SetVerify(bool on) override { m_verify = on; }
    DiscToc CurrentDiscToc() const override;
    // A cue sheet's album data, or a drive's CD-Text; empty for a .toc or an .nrg.
    AlbumInfo CurrentAlbumInfo() const override;

    // The one seek mode: a sector counted from the track's start.
    static constexpr int SeekFromTrackStart = 3;

    // How often a physical drive is asked whether its medium changed (on a thread of its own).
    static constexpr int MediaPollMs = 1500;
    // How long StopGrab, and Close once more, wait for the grab's threads; a drive stuck in a
    // read finishes later.
    static constexpr int StopWaitMs = 150;

private:
    struct CdioDeleter {
        void operator()(CdIo_t* cdio) const;
    };
    using CdioHandle = std::unique_ptr<CdIo_t, CdioDeleter>;

    struct Track {
        int type = TrackTypeAudio;
        qint64 firstSector = 0;
        qint64 sectors = 0;
        int number = 0; // as the disc numbers it
        int session = 1;
        QString isrc;
        bool preEmphasis = false;
    };

    // What identifies the content of an image file, to tell a real change from a touch of the
    // folder it lives in.
    struct FileStamp {
        bool exists = false;
        qint64 size = 0;
        QDateTime modified;
        quint64 inode = 0;
        bool operator==(const FileStamp&) const = default;
    };

    struct Drive {
        QString letter;
        QString vendor;
        QString product;
        QString revision;
        bool isImage = false;
        bool cueSheet = false;  // read through CueImage
        CdioHandle handle;      // a drive's, open while it holds a readable disc
        QList<Track> tracks;    // empty: no disc
        qint64 leadOut = 0;     // the sector after the last track
        QString discError;      // why the disc can't be read; empty when it can
        QString catalog;        // the disc's catalogue number (MCN, CATALOG)
        QStringList imageFiles; // the image's files, watched for changes
        QList<FileStamp> stamps;
        AlbumInfo album;                    // what the disc tells of its album
        std::optional<bool> accurateStream; // what a drive's capabilities say
    };

    void readDisc(Drive& drive);
    void readImage(Drive& drive);
    void readCueSheet(Drive& drive);
    const Drive* current() const;
    const Track* currentTrack() const;
    // Where the current track lies on the disc as it was read; a failure without an audio track
    // (its description says what was wanted: a preview or a grab).
    Result<TrackReader::Source> currentSource(bool preview) const;
    // Whether a grab's threads, a stopped grab's too, are still running.
    bool grabRunning() const;
    // Ends the preview's read; a later ReadArray or SeekArray fails with the reason given.
    void closePreview(const QString& reason);
    void watchImages();
    void checkImages();
    void pausePollWhileBusy();
    void reapStoppedJobs();
    void retireJob();
    static FileStamp stampOf(const QString& path);
    static QList<FileStamp> stampsOf(const QStringList& paths);

    QStringList m_imagePaths;
    std::vector<Drive> m_drives;
    int m_currentDrive = 0;
    int m_currentSession = 0;
    int m_currentTrack = 0;
    bool m_hiddenTrack = false; // the audio before the first track is current
    AudioOutputFile m_audioFile;
    QFileSystemWatcher m_watcher;
    QTimer m_settleTimer;
    // Made at the first read that finds a CD drive.
    std::unique_ptr<DrivePoller> m_poller;
    bool m_closed = false;
    bool m_paranoiaOnImages = false;
    int m_encodeThreads = 0;
    int m_readOffset = 0;
    GrabProof m_lastProof;
    ReadReport m_lastReadReport;
    bool m_verify = false;

    struct EventSink;
    std::shared_ptr<EventSink> m_sink;

    // The running grab, and grabs that were stopped but whose threads have not ended yet.
    std::unique_ptr<GrabJob> m_job;
    quint64 m_jobId = 0;
    std::vector<std::unique_ptr<GrabJob>> m_stoppedJobs;
    QTimer m_reapTimer;

    // The preview's read, its drive, and how an image's files were when it was opened: a file
    // replaced or cut since fails the next read at once.
    std::unique_ptr<TrackReader> m_preview;
    int m_previewDrive = 0;
    QList<FileStamp> m_previewStamps;
    QString m_previewClosed; // why there is no preview read
};
