#include "components/cdio/cdiograbber.h"

#include "components/cdio/disctoc.h"

#include "components/accuraterip/discids.h"
#include "components/filename.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>

namespace
{

// libcdio reports why an image or a drive can't be opened only through its log. The handler
// keeps the first warning or error since the log was cleared (the cause; later ones are its
// consequences) so it can go into the failure's description, instead of printing it on the
// terminal.
thread_local QString lastCdioMessage;

void keepCdioMessage(cdio_log_level_t level, const char message[])
{
    if (level >= CDIO_LOG_WARN && lastCdioMessage.isEmpty())
        lastCdioMessage = QString::fromLocal8Bit(message).trimmed();
    // libcdio carries on after a failed assertion when the handler returns; its own handler
    // aborts there, and so does this one rather than run on with broken state.
    if (level == CDIO_LOG_ASSERT) {
        std::fprintf(stderr, "libcdio: %s\n", message);
        std::abort();
    }
}

QString fromFixed(const char* text)
{
    return QString::fromLatin1(text).trimmed();
}

// The disc's CD-Text, from its first language block (libcdio hands it on as UTF-8): track 0
// holds the album's fields. Empty when the disc has none.
// The "CD-DA stream is accurate" bit of the drive's capabilities page (MMC MODE SENSE page 2Ah,
// byte 5, bit 1); nothing when the drive doesn't answer.
std::optional<bool> accurateStream(CdIo_t* cdio)
{
    uint8_t answer[64] = {};
    if (mmc_mode_sense_10(cdio, answer, sizeof answer, CDIO_MMC_CAPABILITIES_PAGE) !=
        DRIVER_OP_SUCCESS)
        return std::nullopt;
    // After the 8-byte header and the block descriptors comes the page, with its code first.
    const size_t page = 8 + size_t(answer[6] << 8 | answer[7]);
    if (page + 6 > sizeof answer || (answer[page] & 0x3F) != CDIO_MMC_CAPABILITIES_PAGE)
        return std::nullopt;
    return (answer[page + 5] & 0x02) != 0;
}

AlbumInfo cdText(CdIo_t* cdio, track_t first, track_t count)
{
    cdtext_t* text = cdio_get_cdtext(cdio); // owned by cdio
    if (!text)
        return {};
    cdtext_set_language_index(text, 0);
    const auto field = [text](cdtext_field_t f, track_t track) {
        const char* value = cdtext_get_const(text, f, track);
        return value ? QString::fromUtf8(value).trimmed() : QString();
    };
    AlbumInfo album;
    album.title = field(CDTEXT_FIELD_TITLE, 0);
    album.artist = field(CDTEXT_FIELD_PERFORMER, 0);
    album.genre = field(CDTEXT_FIELD_GENRE, 0);
    bool told = !album.title.isEmpty() || !album.artist.isEmpty() || !album.genre.isEmpty();
    for (track_t number = first; number < first + count; ++number) {
        TrackInfo track;
        track.title = field(CDTEXT_FIELD_TITLE, number);
        track.artist = field(CDTEXT_FIELD_PERFORMER, number);
        track.songwriter = field(CDTEXT_FIELD_SONGWRITER, number);
        told = told || !track.title.isEmpty() || !track.artist.isEmpty() ||
               !track.songwriter.isEmpty();
        album.tracks << track;
    }
    if (!told)
        return {};
    album.source = QStringLiteral("CD-Text");
    return album;
}

} // namespace

void CdioGrabber::CdioDeleter::operator()(CdIo_t* cdio) const
{
    cdio_destroy(cdio);
}

// Where the grab's threads hand their events: to the grabber's thread, until Close() cuts the
// grabber off. The lock makes the cut final: once detach() has returned, nothing more is queued
// for the grabber, which may then go away while an abandoned grab's threads still post.
struct CdioGrabber::EventSink {
    explicit EventSink(CdioGrabber* grabber) : m_grabber(grabber) {}

    void post(quint64 id, std::function<void(CdioGrabber&)> handler)
    {
        const std::lock_guard lock(m_mutex);
        CdioGrabber* grabber = m_grabber;
        if (!grabber)
            return;
        QMetaObject::invokeMethod(
            grabber,
            [grabber, id, handler = std::move(handler)] {
                if (id == grabber->m_jobId && grabber->m_job)
                    handler(*grabber);
            },
            Qt::QueuedConnection);
    }

    void detach()
    {
        const std::lock_guard lock(m_mutex);
        m_grabber = nullptr;
    }

private:
    std::mutex m_mutex;
    CdioGrabber* m_grabber;
};

CdioGrabber::CdioGrabber(QStringList imagePaths, QObject* parent)
    : CdGrabber(parent), m_imagePaths(std::move(imagePaths)),
      m_sink(std::make_shared<EventSink>(this))
{
    cdio_log_set_handler(keepCdioMessage);

    // Writers touch an image's files several times while replacing them; one re-read after they
    // settle is enough.
    m_settleTimer.setSingleShot(true);
    m_settleTimer.setInterval(300);
    connect(&m_settleTimer, &QTimer::timeout, this, &CdioGrabber::checkImages);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { m_settleTimer.start(); });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            [this] { m_settleTimer.start(); });

    m_reapTimer.setInterval(500);
    connect(&m_reapTimer, &QTimer::timeout, this, &CdioGrabber::reapStoppedJobs);

    m_previewClosed = tr("No track is open for the preview.");
}

CdioGrabber::~CdioGrabber()
{
    Close();
}

Status CdioGrabber::Refresh()
{
    if (m_closed)
        return Failure{tr("The grabber has been closed.")};

    closePreview(tr("The preview's read was closed: the discs were read again."));
    m_drives.clear();
    if (char** devices = cdio_get_devices(DRIVER_DEVICE)) {
        for (char** device = devices; *device; ++device) {
            Drive drive;
            drive.letter = QString::fromLocal8Bit(*device);
            m_drives.push_back(std::move(drive));
        }
        cdio_free_device_list(devices);
    }
    for (const QString& path : std::as_const(m_imagePaths)) {
        Drive drive;
        drive.letter = path;
        drive.isImage = true;
        m_drives.push_back(std::move(drive));
    }
    for (Drive& drive : m_drives)
        readDisc(drive);

    m_currentDrive = m_drives.empty() ? 0 : 1;
    m_currentSession = 0;
    m_currentTrack = 0;
    m_hiddenTrack = false;
    watchImages();

    QList<DrivePoller::Drive> polled;
    for (const Drive& drive : m_drives) {
        if (!drive.isImage)
            polled.append({drive.letter, drive.handle != nullptr});
    }
    if (!polled.isEmpty() && !m_poller) {
        m_poller = std::make_unique<DrivePoller>(MediaPollMs);
        connect(
            m_poller.get(), &DrivePoller::mediaChanged, this,
            [this] {
                if (m_closed)
                    return;
                // The poller doesn't say which drive changed.
                if (m_preview && !m_drives[size_t(m_previewDrive - 1)].isImage)
                    closePreview(TrackReader::discChanged());
                emit MediaChange();
            },
            Qt::QueuedConnection);
        pausePollWhileBusy();
    }
    if (m_poller)
        m_poller->setDrives(polled);
    return {};
}

std::optional<bool> CdioGrabber::DriveAccurateStream() const
{
    const Drive* drive = current();
    return drive ? drive->accurateStream : std::nullopt;
}

void CdioGrabber::readDisc(Drive& drive)
{
    lastCdioMessage.clear();
    drive.handle.reset();
    drive.tracks.clear();
    drive.leadOut = 0;
    drive.discError.clear();
    drive.imageFiles.clear();
    drive.album = {};
    drive.catalog.clear();
    if (drive.isImage) {
        readImage(drive);
        return;
    }
    drive.handle.reset(cdio_open(QFile::encodeName(drive.letter).constData(), DRIVER_DEVICE));
    // A drive libcdio can't open holds no disc we could read; it still has its line.
    if (!drive.handle)
        return;

    cdio_hwinfo_t hw{};
    if (cdio_get_hwinfo(drive.handle.get(), &hw)) {
        drive.vendor = fromFixed(hw.psz_vendor);
        drive.product = fromFixed(hw.psz_model);
        drive.revision = fromFixed(hw.psz_revision);
    }
    int64_t leadOut = 0;
    const std::vector<disctoc::Track> toc = disctoc::read(drive.handle.get(), leadOut);
    if (toc.empty()) {
        drive.handle.reset();
        return;
    }
    for (const disctoc::Track& t : toc)
        drive.tracks << Track{t.audio ? TrackTypeAudio : TrackTypeData,
                              t.firstSector,
                              t.sectors,
                              t.number,
                              t.session,
                              QString(),
                              false};
    drive.leadOut = leadOut;
    // The disc's catalogue number and each audio track's ISRC, from the subchannel; libcdio
    // hands them out in memory the caller frees.
    const auto taken = [](char* text) {
        const QString value = QString::fromLatin1(text).trimmed();
        cdio_free(text);
        return value;
    };
    drive.catalog = taken(cdio_get_mcn(drive.handle.get()));
    if (drive.catalog.count(u'0') == drive.catalog.size())
        drive.catalog.clear(); // a disc without a catalogue number tells all zeros
    for (Track& t : drive.tracks) {
        if (t.type != TrackTypeAudio)
            continue;
        t.isrc = taken(cdio_get_track_isrc(drive.handle.get(), track_t(t.number)));
        t.preEmphasis = cdio_get_track_preemphasis(drive.handle.get(), track_t(t.number)) ==
                        CDIO_TRACK_FLAG_TRUE;
    }
    drive.album = cdText(drive.handle.get(), track_t(toc.front().number), track_t(toc.size()));
    drive.accurateStream = accurateStream(drive.handle.get());
}

void CdioGrabber::readImage(Drive& drive)
{
    drive.imageFiles << QFileInfo(drive.letter).absoluteFilePath();
    if (nameNotUtf8(drive.letter)) {
        drive.discError = tr("The disc image \"%1\" cannot be read: its name is not valid UTF-8. "
                             "Rename it and try again.")
                              .arg(drive.letter);
        return;
    }
    if (!QFileInfo::exists(drive.letter)) {
        drive.discError =
            tr("The disc image \"%1\" cannot be read: the file does not exist.").arg(drive.letter);
        return;
    }
    const Result<TrackReader::ImageFormat> format = TrackReader::imageFormat(drive.letter);
    if (!format.ok()) {
        drive.discError = format.error();
        return;
    }
    drive.cueSheet = format.value() == TrackReader::ImageFormat::Cue;
    if (drive.cueSheet) {
        readCueSheet(drive);
        return;
    }
    // libcdio reads a .toc or an .nrg only in a child process of its own: a damaged image
    // ends the child, not the program.
    const Result<std::unique_ptr<ReaderChild>> child = ReaderChild::open(
        drive.letter,
        format.value() == TrackReader::ImageFormat::Toc ? ReaderChild::Source::Toc
                                                        : ReaderChild::Source::Nrg,
        false);
    if (!child.ok()) {
        drive.discError = child.error();
        return;
    }
    const ReaderChild::Toc& toc = child.value()->toc();
    drive.vendor = toc.vendor;
    drive.product = toc.product;
    drive.revision = toc.revision;
    if (!toc.dataFile.isEmpty())
        drive.imageFiles << toc.dataFile;
    for (const ReaderChild::Track& t : toc.tracks)
        drive.tracks << Track{t.audio ? TrackTypeAudio : TrackTypeData,
                              t.firstSector,
                              t.sectors,
                              t.number,
                              1,
                              QString(),
                              false};
    drive.leadOut = toc.leadOut;
    // libcdio takes a .toc's FILE start for the track's place on the disc; one that lies past
    // the data file's end leaves a track that ends before it begins, which nothing can read.
    for (const Track& t : std::as_const(drive.tracks)) {
        if (t.sectors <= 0 || t.firstSector < 0) {
            drive.discError = tr("The disc image \"%1\" is damaged: its table gives track %2 no "
                                 "length.")
                                  .arg(drive.letter)
                                  .arg(t.number);
            drive.tracks.clear();
            return;
        }
    }
    // An image whose data file is missing or shorter than its table says can't be grabbed from.
    if (!toc.dataFile.isEmpty()) {
        const qint64 needed = (drive.tracks.last().firstSector + drive.tracks.last().sectors) *
                              qint64(CDIO_CD_FRAMESIZE_RAW);
        const QFileInfo data(toc.dataFile);
        if (!data.exists() || data.size() < needed) {
            drive.discError = tr("The disc image \"%1\" is damaged: its data file \"%2\" is "
                                 "missing or too short.")
                                  .arg(drive.letter, data.fileName());
            drive.tracks.clear();
        }
    }
}

void CdioGrabber::readCueSheet(Drive& drive)
{
    drive.vendor = QStringLiteral("Tambrel");
    drive.product = QStringLiteral("Cue sheet");
    drive.revision = QStringLiteral(TAMBREL_VERSION).left(4);
    const Result<CueImage> image = CueImage::open(drive.letter);
    if (!image.ok()) {
        drive.discError = image.error();
        return;
    }
    for (const CueImage::DataFile& file : image.value().dataFiles())
        drive.imageFiles << file.path;
    drive.imageFiles.removeDuplicates();
    for (const CueImage::Track& t : image.value().tracks())
        drive.tracks << Track{t.audio ? TrackTypeAudio : TrackTypeData,
                              t.firstSector,
                              t.sectors,
                              t.number,
                              t.session,
                              t.isrc,
                              t.preEmphasis};
    drive.catalog = image.value().catalog();
    drive.leadOut = image.value().leadOut();
    drive.album = image.value().album();
}

Status CdioGrabber::SetCurrentDrive(int drive)
{
    if (drive < 1 || drive > DriveCount())
        return {};
    if (drive != m_currentDrive)
        closePreview(tr("The preview's read was closed: another drive was chosen."));
    m_currentDrive = drive;
    m_currentSession = 0;
    m_currentTrack = 0;
    m_hiddenTrack = false;
    return {};
}

const CdioGrabber::Drive* CdioGrabber::current() const
{
    if (m_currentDrive < 1 || m_currentDrive > DriveCount())
        return nullptr;
    return &m_drives[size_t(m_currentDrive - 1)];
}

const CdioGrabber::Track* CdioGrabber::currentTrack() const
{
    const Drive* drive = current();
    if (!drive || m_currentTrack >= drive->tracks.size())
        return nullptr;
    return &drive->tracks[m_currentTrack];
}

QString CdioGrabber::DriveLetter() const
{
    return current() ? current()->letter : QString();
}

QString CdioGrabber::DriveVendor() const
{
    return current() ? current()->vendor : QString();
}

QString CdioGrabber::DriveProduct() const
{
    return current() ? current()->product : QString();
}

QString CdioGrabber::DriveRevision() const
{
    return current() ? current()->revision : QString();
}

Result<int> CdioGrabber::SessionCount() const
{
    const Drive* drive = current();
    if (!drive)
        return 0;
    if (!drive->discError.isEmpty())
        return Failure{drive->discError};
    return drive->tracks.isEmpty() ? 0 : 1;
}

Status CdioGrabber::SetCurrentSession(int session)
{
    const Result<int> sessions = SessionCount();
    if (sessions.ok() && session >= 0 && session < sessions.value()) {
        m_currentSession = session;
        m_currentTrack = 0;
        m_hiddenTrack = false;
    }
    return {};
}

Result<int> CdioGrabber::TrackCount() const
{
    const Drive* drive = current();
    if (!drive)
        return 0;
    if (!drive->discError.isEmpty())
        return Failure{drive->discError};
    return int(drive->tracks.size());
}

Status CdioGrabber::SetCurrentTrack(int track)
{
    const Drive* drive = current();
    if (drive && track >= 0 && track < drive->tracks.size()) {
        m_currentTrack = track;
        m_hiddenTrack = false;
    }
    return {};
}

qint64 CdioGrabber::HiddenTrackSectors() const
{
    const Drive* drive = current();
    if (!drive || drive->tracks.isEmpty() || drive->tracks.first().type != TrackTypeAudio)
        return 0;
    return drive->tracks.first().firstSector;
}

Status CdioGrabber::SelectHiddenTrack()
{
    if (HiddenTrackSectors() == 0)
        return CdGrabber::SelectHiddenTrack();
    m_currentTrack = 0;
    m_hiddenTrack = true;
    return {};
}

int CdioGrabber::TrackType() const
{
    const Track* track = currentTrack();
    return track ? track->type : TrackTypeAudio;
}

qint64 CdioGrabber::TrackSectors() const
{
    if (m_hiddenTrack)
        return HiddenTrackSectors();
    const Track* track = currentTrack();
    return track ? track->sectors : 0;
}

void CdioGrabber::Abort()
{
    StopGrab();
    closePreview(tr("The preview's read was stopped."));
}

void CdioGrabber::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_sink->detach();
    ++m_jobId;
    if (m_job)
        m_stoppedJobs.push_back(std::move(m_job));
    // Quitting must not hang on a drive stuck in a read: the grabs get a short while to end, and
    // those still running then are abandoned. Their temporary files go at once, they can no
    // longer take their file's name, and their threads end by themselves later.
    for (const std::unique_ptr<GrabJob>& job : m_stoppedJobs)
        job->stop();
    const QDeadlineTimer deadline(StopWaitMs);
    for (std::unique_ptr<GrabJob>& job : m_stoppedJobs) {
        if (!job->waitFinished(int(deadline.remainingTime())))
            GrabJob::abandon(std::move(job));
    }
    m_stoppedJobs.clear();
    m_reapTimer.stop();
    if (m_poller)
        m_poller->stop();
    m_settleTimer.stop();
    if (!m_watcher.files().isEmpty())
        m_watcher.removePaths(m_watcher.files());
    if (!m_watcher.directories().isEmpty())
        m_watcher.removePaths(m_watcher.directories());
    closePreview(tr("The grabber has been closed."));
    m_drives.clear();
    m_currentDrive = 0;
}

bool CdioGrabber::Busy() const
{
    return grabRunning() || m_preview;
}

bool CdioGrabber::grabRunning() const
{
    return (m_job && !m_job->isFinished()) ||
           std::any_of(m_stoppedJobs.begin(), m_stoppedJobs.end(),
                       [](const auto& job) { return !job->isFinished(); });
}

Status CdioGrabber::GrabTrack(const QString& path)
{
    if (m_closed)
        return Failure{tr("The grabber has been closed.")};
    if (m_job && !m_job->isFinished())
        return Failure{tr("A track is being grabbed already.")};
    Result<TrackReader::Source> source = currentSource(false);
    if (!source.ok())
        return Failure{source.error()};

    Result<std::unique_ptr<AudioEncoder>> encoder =
        makeEncoder(QFileInfo(path).suffix(), m_audioFile.settings());
    if (!encoder.ok())
        return Failure{encoder.error()};

    // Events come from the grab's threads; they are handed to this object's thread through the
    // sink, and those of a grab that has been stopped or replaced meanwhile are dropped there.
    // They hold the sink, never this object: the threads of an abandoned grab outlive it.
    const quint64 id = ++m_jobId;
    const std::shared_ptr<EventSink> sink = m_sink;
    auto post = [sink, id](std::function<void(CdioGrabber&)> handler) {
        sink->post(id, std::move(handler));
    };
    GrabJob::Events events;
    // Progress is queued one event at a time: while an event waits for a busy window, newer
    // values only replace the one it will show, so a slow window never works through a backlog.
    // The end and a failure are queued behind a waiting progress event, never dropped.
    struct LatestProgress {
        std::atomic<double> value{0.0};
        std::atomic<bool> queued{false};
        double shown = -1.0; // on this object's thread
    };
    auto progress = std::make_shared<LatestProgress>();
    events.progress = [post, progress](double percent) {
        progress->value.store(percent);
        if (progress->queued.exchange(true))
            return;
        post([progress](CdioGrabber& grabber) {
            progress->queued.store(false);
            // A value stored just before the flag was cleared is shown now and again by the
            // event it queued; the second showing is dropped.
            const double percent = progress->value.load();
            if (percent > progress->shown) {
                progress->shown = percent;
                emit grabber.OperationProgress(percent);
            }
        });
    };
    events.retry = [post](int retry, qint64 sector) {
        post([retry, sector](CdioGrabber& grabber) { emit grabber.GrabRetry(retry, sector); });
    };
    events.checksums = [post](const TrackChecksums& sums) {
        post([proof = GrabProof{true, sums.crc32(), sums.accurateRipV1(), sums.accurateRipV2()}](
                 CdioGrabber& grabber) { grabber.m_lastProof = proof; });
    };
    events.readReport = [post](const GrabJob::ReadReport& read) {
        ReadReport report;
        report.reReads = read.stats.reReads;
        report.repairs = read.stats.repairs;
        report.skips = read.stats.skips;
        report.suspicious =
            QList<qint64>(read.stats.suspicious.begin(), read.stats.suspicious.end());
        report.tested = read.testCrc32.has_value();
        report.testCrc32 = read.testCrc32.value_or(0);
        report.discRemoved = read.discRemoved;
        post([report](CdioGrabber& grabber) { grabber.m_lastReadReport = report; });
    };
    events.finished = [post] {
        post([](CdioGrabber& grabber) {
            grabber.retireJob();
            emit grabber.OperationProgress(100.0);
        });
    };
    events.failed = [post](const QString& description) {
        post([description](CdioGrabber& grabber) {
            grabber.retireJob();
            emit grabber.GrabFailed(description);
        });
    };

    m_lastProof = {};
    m_lastReadReport = {};
    auto job = std::make_unique<GrabJob>(
        source.take(), path, encoder.take(), std::move(events),
        makeSplitFormat(QFileInfo(path).suffix(), m_audioFile.settings()), m_encodeThreads);
    if (const Drive* drive = current()) {
        const Result<DiscIds> ids = computeDiscIds(DiscLayout::of(CurrentDiscToc()));
        TrackTags tags;
        // As the disc numbers the track; the total counts its audio tracks, as the databases do.
        // The hidden track has no number, and its file no tags.
        const int number = drive->tracks[m_currentTrack].number;
        tags.number = m_hiddenTrack ? 0 : number > 0 ? number : m_currentTrack + 1;
        tags.total = int(std::count_if(drive->tracks.begin(), drive->tracks.end(),
                                       [](const Track& t) { return t.type == TrackTypeAudio; }));
        tags.musicBrainzDiscId = ids.ok() ? ids.value().musicBrainzId : QString();
        tags.isrc = drive->tracks[m_currentTrack].isrc;
        tags.preEmphasis = drive->tracks[m_currentTrack].preEmphasis;
        tags.barcode = drive->catalog;
        addAlbumTags(tags, m_albumTags, m_currentTrack);
        job->setTags(tags);
    }
    const Drive* drive = current();
    job->setVerify(m_verify || (drive && drive->accurateStream == false));
    if (Status s =
            job->start(m_replaceExisting ? GrabJob::Existing::Replace : GrabJob::Existing::Keep);
        !s.ok())
        return s;
    m_job = std::move(job);
    // The grab reads the disc through handles of its own; the preview reads no more.
    closePreview(tr("The preview's read was closed: a track is being grabbed."));
    pausePollWhileBusy();
    return {};
}

// The grab has ended; its threads are done or about to be.
void CdioGrabber::retireJob()
{
    m_job->waitFinished(StopWaitMs);
    m_stoppedJobs.push_back(std::move(m_job));
    // Ended ones are freed at once, the others when the timer finds them ended. The timer is not
    // started anew at every track's end: grabs that end more often than it fires are still
    // freed, and memory doesn't grow with the tracks.
    reapStoppedJobs();
    if (!m_stoppedJobs.empty() && !m_reapTimer.isActive())
        m_reapTimer.start();
}

void CdioGrabber::StopGrab()
{
    if (!m_job)
        return;
    ++m_jobId;
    m_job->stop();
    retireJob();
    reapStoppedJobs();
}

void CdioGrabber::reapStoppedJobs()
{
    std::erase_if(m_stoppedJobs, [](const auto& job) { return job->isFinished(); });
    if (m_stoppedJobs.empty())
        m_reapTimer.stop();
    pausePollWhileBusy();
}

// A grab reads a drive through handles of its own; the poller leaves the drives alone meanwhile.
void CdioGrabber::pausePollWhileBusy()
{
    if (m_poller)
        m_poller->setPaused(grabRunning());
}

CdGrabber::DiscToc CdioGrabber::CurrentDiscToc() const
{
    DiscToc toc;
    if (const Drive* drive = current()) {
        for (const Track& t : drive->tracks) {
            toc.firstSectors << t.firstSector;
            toc.audio << (t.type == TrackTypeAudio);
            toc.numbers << t.number;
            toc.sessions << t.session;
            toc.isrcs << t.isrc;
            toc.preEmphasis << t.preEmphasis;
        }
        toc.catalog = drive->catalog;
        toc.leadOut = drive->leadOut;
    }
    return toc;
}

AlbumInfo CdioGrabber::CurrentAlbumInfo() const
{
    const Drive* drive = current();
    return drive ? drive->album : AlbumInfo{};
}

Result<TrackReader::Source> CdioGrabber::currentSource(bool preview) const
{
    const Drive* drive = current();
    const Track* track = currentTrack();
    if (!drive || !track) {
        if (drive && !drive->discError.isEmpty())
            return Failure{drive->discError};
        return Failure{preview ? tr("There is no track to play: the drive holds no disc.")
                               : tr("There is no track to grab: the drive holds no disc.")};
    }
    if (track->type != TrackTypeAudio)
        return Failure{(preview ? tr("Track %1 is a data track; only audio tracks can be played.")
                                : tr("Track %1 is a data track; only audio tracks can be grabbed."))
                           .arg(m_currentTrack + 1)};

    TrackReader::Source source;
    source.device = drive->letter;
    source.isImage = drive->isImage;
    source.paranoia = !drive->isImage || (m_paranoiaOnImages && !drive->cueSheet);
    source.firstSector = m_hiddenTrack ? 0 : track->firstSector;
    source.sectors = m_hiddenTrack ? HiddenTrackSectors() : track->sectors;
    source.hidden = m_hiddenTrack;
    for (const Track& t : drive->tracks)
        source.toc.push_back({t.firstSector, t.type == TrackTypeAudio});
    source.leadOut = drive->leadOut;
    source.offsetSamples = m_readOffset;
    // AccurateRip leaves out the edges of the disc's first and last audio tracks.
    int firstAudio = -1;
    int lastAudio = -1;
    for (int t = 0; t < drive->tracks.size(); ++t) {
        if (drive->tracks[t].type == TrackTypeAudio) {
            firstAudio = firstAudio < 0 ? t : firstAudio;
            lastAudio = t;
        }
    }
    source.firstAudioTrack = m_currentTrack == firstAudio && !m_hiddenTrack;
    source.lastAudioTrack = m_currentTrack == lastAudio && !m_hiddenTrack;
    return source;
}

void CdioGrabber::closePreview(const QString& reason)
{
    m_preview.reset();
    m_previewClosed = reason;
}

Status CdioGrabber::OpenArrayRead()
{
    if (m_closed)
        return Failure{tr("The grabber has been closed.")};
    closePreview(tr("No track is open for the preview."));
    // A grab stopped a moment ago had its time to end (StopGrab waits for it); one whose threads
    // still run is stuck in a drive's read, which the preview would wait behind.
    if (grabRunning())
        return Failure{tr("A track is being grabbed: the preview can read the disc once the grab "
                          "has ended.")};
    Result<TrackReader::Source> source = currentSource(true);
    if (!source.ok())
        return Failure{source.error()};
    auto reader = std::make_unique<TrackReader>(source.take());
    if (Status s = reader->open(); !s.ok())
        return s;
    m_preview = std::move(reader);
    m_previewDrive = m_currentDrive;
    m_previewStamps = stampsOf(current()->imageFiles);
    return {};
}

Result<QByteArray> CdioGrabber::ReadArray(int chunkSize)
{
    if (!m_preview)
        return Failure{m_previewClosed};
    // Replacing an image, or cutting its data file, is told by the watch only a moment later.
    if (stampsOf(m_drives[size_t(m_previewDrive - 1)].imageFiles) != m_previewStamps) {
        closePreview(TrackReader::discChanged());
        return Failure{m_previewClosed};
    }
    const int count = int(std::min<qint64>(std::max(chunkSize, 1), m_preview->remaining()));
    if (count == 0)
        return QByteArray();
    QByteArray chunk(qsizetype(count) * TrackReader::SectorBytes, Qt::Uninitialized);
    if (Status s = m_preview->read(reinterpret_cast<qint16*>(chunk.data()), count); !s.ok()) {
        closePreview(s.error());
        return Failure{s.error()};
    }
    return chunk;
}

Status CdioGrabber::SeekArray(qint64 sector, int mode)
{
    if (!m_preview)
        return Failure{m_previewClosed};
    if (mode != SeekFromTrackStart)
        return Failure{tr("Seek mode %1 is not known: the preview seeks from the track's start "
                          "(mode %2).")
                           .arg(QString::number(mode), QString::number(SeekFromTrackStart))};
    m_preview->seek(sector);
    return {};
}

CdioGrabber::FileStamp CdioGrabber::stampOf(const QString& path)
{
    FileStamp stamp;
    struct stat st {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = st.st_size;
    stamp.inode = st.st_ino;
    stamp.modified = QFileInfo(path).lastModified();
    return stamp;
}

QList<CdioGrabber::FileStamp> CdioGrabber::stampsOf(const QStringList& paths)
{
    QList<FileStamp> stamps;
    for (const QString& path : paths)
        stamps << stampOf(path);
    return stamps;
}

// Watches every image's files and the folders holding them: replacing a file by renaming another
// over it drops the file from the watch, but its folder reports the change.
void CdioGrabber::watchImages()
{
    QStringList paths;
    for (Drive& drive : m_drives) {
        if (!drive.isImage)
            continue;
        drive.stamps = stampsOf(drive.imageFiles);
        for (const QString& file : std::as_const(drive.imageFiles)) {
            if (QFileInfo::exists(file))
                paths << file;
            paths << QFileInfo(file).absolutePath();
        }
    }
    paths.removeDuplicates();
    QStringList watched = m_watcher.files() + m_watcher.directories();
    for (const QString& path : std::as_const(paths)) {
        if (!watched.contains(path))
            m_watcher.addPath(path);
    }
}

void CdioGrabber::checkImages()
{
    if (m_closed)
        return;
    bool changed = false;
    for (size_t d = 0; d < m_drives.size(); ++d) {
        Drive& drive = m_drives[d];
        if (!drive.isImage)
            continue;
        QList<FileStamp> now = stampsOf(drive.imageFiles);
        if (now != drive.stamps) {
            drive.stamps = std::move(now);
            changed = true;
            if (m_preview && int(d) == m_previewDrive - 1)
                closePreview(TrackReader::discChanged());
        }
    }
    // Files dropped from the watch by a rename come back once they exist again.
    for (const Drive& drive : m_drives) {
        for (const QString& file : drive.imageFiles) {
            if (drive.isImage && QFileInfo::exists(file) && !m_watcher.files().contains(file))
                m_watcher.addPath(file);
        }
    }
    if (changed)
        emit MediaChange();
}
