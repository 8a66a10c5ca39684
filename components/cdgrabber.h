#pragma once

#include "components/albuminfo.h"
#include "components/outputfile.h"
#include "components/result.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// The CD grabber: drives, the disc in the current drive, its sessions and tracks, grabbing a
// track into a file, and reading a track into memory for the preview. Indices follow the disc:
// drives are numbered from 1, sessions and tracks from 0. Every call and every signal happens on
// the thread the object lives on (the user-interface thread).
class CdGrabber : public QObject
{
    Q_OBJECT

public:
    static constexpr int SectorsPerSecond = 75;
    static constexpr int TrackTypeAudio = 0;
    static constexpr int TrackTypeData = 1;

    using QObject::QObject;

    // Drives and discs are read again.
    virtual Status Refresh() = 0;

    virtual int DriveCount() const = 0;
    virtual int CurrentDrive() const = 0;
    // A drive number outside 1..DriveCount() is ignored. Selecting a drive makes its first
    // session and track current.
    virtual Status SetCurrentDrive(int drive) = 0;
    virtual QString DriveLetter() const = 0;
    virtual QString DriveVendor() const = 0;
    virtual QString DriveProduct() const = 0;
    virtual QString DriveRevision() const = 0;
    // Whether the current drive says it reads audio at exactly the sample asked for (an
    // "accurate stream"); nothing where it doesn't tell. A drive without one starts its reads a
    // little off each time, which paranoia aligns to its first read, not to the disc: its
    // grabs read every track twice (test and copy), whatever SetVerify says.
    virtual std::optional<bool> DriveAccurateStream() const { return std::nullopt; }

    // Zero sessions when the current drive holds no disc; a failure when its disc can't be read.
    virtual Result<int> SessionCount() const = 0;
    virtual int CurrentSession() const = 0;
    // An index outside the disc is ignored: the current one stays.
    virtual Status SetCurrentSession(int session) = 0;

    virtual Result<int> TrackCount() const = 0;
    virtual int CurrentTrack() const = 0;
    virtual Status SetCurrentTrack(int track) = 0;

    // TrackTypeAudio for an audio track; any other value is not audio.
    virtual int TrackType() const = 0;
    // The current track's length in sectors of 1/75 second.
    virtual qint64 TrackSectors() const = 0;
    // Audio the disc holds before its first track (a "hidden track" in the first track's
    // pregap), in sectors; 0 where there is none.
    virtual qint64 HiddenTrackSectors() const { return 0; }
    // Makes that audio the current track, for grabs and TrackSectors(), until a track, session
    // or drive is chosen or the discs are read again.
    virtual Status SelectHiddenTrack()
    {
        return Failure{QStringLiteral("The disc has no hidden track.")};
    }
    // Bytes of audio in one sector: 588 stereo frames of two 16-bit samples.
    virtual int SectorSize() const { return 2352; }

    // The length split for display: whole minutes, seconds, and the milliseconds left over.
    int TrackMinutes() const { return int(TrackSectors() / SectorsPerSecond / 60); }
    int TrackSeconds() const { return int(TrackSectors() / SectorsPerSecond % 60); }
    int TrackFraction() const
    {
        return int(TrackSectors() % SectorsPerSecond * 1000 / SectorsPerSecond);
    }

    // The one output-file object of this grabber.
    virtual OutputFile* AudioFile() = 0;

    // True while a grab or a preview read is under way.
    virtual bool Busy() const = 0;
    // Stops whatever runs.
    virtual void Abort() = 0;
    // The last call before the program ends: stops everything and releases the drives.
    virtual void Close() = 0;

    // Grabs the current track into the file at path, encoded by its extension (".wav", ".mp3",
    // ".wma", ".ogg") with the format last given to AudioFile(). Returns once the grab has started;
    // progress, the end and a later failure arrive as signals. A file at path is never replaced:
    // one there at the start fails the grab at once, one that appears meanwhile fails it at its
    // end.
    virtual Status GrabTrack(const QString& path) = 0;
    // The same, and with replace a file at path is replaced by the grab's.
    Status GrabTrack(const QString& path, bool replace)
    {
        m_replaceExisting = replace;
        Status started = GrabTrack(path);
        m_replaceExisting = false;
        return started;
    }
    virtual void StopGrab() = 0;

    // What the last grab that put its file in place can prove about its copy: checksums of the
    // track's audio as it was read. valid is false where the grabber computes none.
    struct GrabProof {
        bool valid = false;
        quint32 crc32 = 0;
        quint32 accurateRipV1 = 0;
        quint32 accurateRipV2 = 0;
    };
    virtual GrabProof LastGrabProof() const { return {}; }
    // How the last grab's reading went, whether it succeeded or not: what the drive's verified
    // read did along the way (reads made again, damage repaired by comparing reads, stretches
    // skipped, and the sectors where any of that happened), the test read's CRC32 when the
    // track was read twice, and whether it failed because the disc was taken out.
    struct ReadReport {
        int reReads = 0;
        int repairs = 0;
        int skips = 0;
        QList<qint64> suspicious;
        bool tested = false;
        quint32 testCrc32 = 0;
        bool discRemoved = false;
    };
    virtual ReadReport LastReadReport() const { return {}; }
    // Test and copy: each grab reads its track twice and fails when the reads differ.
    virtual void SetVerify(bool on) { Q_UNUSED(on); }
    // The current disc's table of contents, to identify it: each track's first sector, whether
    // it is audio, and the lead-out's first sector. Empty where the grabber doesn't tell.
    struct DiscToc {
        QList<qint64> firstSectors;
        QList<bool> audio;
        QList<int> numbers;  // as the disc numbers its tracks
        QList<int> sessions; // each track's session, from 1
        QStringList isrcs;   // each track's ISRC, empty where the disc has none
        QList<bool> preEmphasis;
        QString catalog; // the disc's catalogue number (UPC/EAN), empty where it has none
        qint64 leadOut = 0;
    };
    virtual DiscToc CurrentDiscToc() const { return {}; }
    // What the current disc itself tells of its album: a cue sheet's titles and performers, a
    // drive's CD-Text. Empty where it tells nothing.
    virtual AlbumInfo CurrentAlbumInfo() const { return {}; }
    // Album data whose titles, artists and ids later grabs write into their files' tags (the
    // track's entry by its place on the disc); empty: none.
    void SetAlbumTags(const AlbumInfo& album) { m_albumTags = album; }
    // The drive's read offset in samples: grabs read the audio that many samples later (earlier
    // when negative). Grabbers that can't shift their reads ignore it.
    virtual void SetReadOffset(int samples) { Q_UNUSED(samples); }

    // Reading the current track into memory for the preview.
    void SetArrayReadParam1(int value) { m_arrayReadParams[0] = value; }
    void SetArrayReadParam2(int value) { m_arrayReadParams[1] = value; }
    void SetArrayReadParam3(int value) { m_arrayReadParams[2] = value; }
    virtual Status OpenArrayRead() = 0;
    // The next chunk of 16-bit stereo audio: chunkSize sectors (2352 bytes, 1/75 s each; fewer at
    // the track's end, at least 1); empty once the whole track has been read.
    virtual Result<QByteArray> ReadArray(int chunkSize) = 0;
    // Moves the read position to the given sector of the track (mode 3: from the track's start).
    virtual Status SeekArray(qint64 sector, int mode) = 0;

signals:
    // A disc was inserted or removed, or a disc image changed.
    void MediaChange();
    // Raised repeatedly during a grab; a finished grab ends with exactly one event of exactly 100.
    void OperationProgress(double percent);
    // A read is being retried.
    void GrabRetry(int retry, qint64 sector);
    // A grab failed after GrabTrack() had returned; no 100 event follows.
    void GrabFailed(const QString& description);

protected:
    int m_arrayReadParams[3] = {0, 0, 0};
    // Set for the time of a GrabTrack(path, true) call.
    bool m_replaceExisting = false;
    AlbumInfo m_albumTags;
};
