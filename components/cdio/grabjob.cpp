#include "components/cdio/grabjob.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "Disc audio is little-endian; reading it as host samples needs a little-endian host");

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("GrabJob", text);
}

struct CdioCloser {
    void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};
struct DriveCloser {
    void operator()(cdrom_drive_t* drive) const { cdio_cddap_close_no_free_cdio(drive); }
};
struct ParanoiaFreer {
    void operator()(cdrom_paranoia_t* paranoia) const { cdio_paranoia_free(paranoia); }
};

// Paranoia's callback carries no context of its own; each reader thread says where its events go.
struct ParanoiaWatch {
    const GrabJob::Events* events = nullptr;
    qint64 reading = -1;   // the sector the grab waits for
    int retries = 0;       // sectors retried so far
    qint64 lastRetry = -1; // the sector reported last
    bool skipped = false;
};
thread_local ParanoiaWatch* paranoiaWatch = nullptr;

void paranoiaCallback(long, paranoia_cb_mode_t mode)
{
    ParanoiaWatch* watch = paranoiaWatch;
    if (!watch)
        return;
    if (mode == PARANOIA_CB_READERR || mode == PARANOIA_CB_SCRATCH) {
        // Paranoia calls back for every failed read, up to 20 for each sector, and each read
        // spans many sectors ahead of the one it is after. A retry is told once for the sector
        // the grab is waiting for.
        if (watch->reading == watch->lastRetry)
            return;
        watch->lastRetry = watch->reading;
        ++watch->retries;
        if (watch->events->retry)
            watch->events->retry(watch->retries, watch->reading);
    } else if (mode == PARANOIA_CB_SKIP) {
        watch->skipped = true;
    }
}

// Reads on a physical drive give up on a sector after this many tries.
constexpr int ParanoiaMaxRetries = 20;

QString discChanged()
{
    return tr("The disc has changed since its tracks were read: read it again and retry.");
}

// The prefix and six random letters: a hidden name for the file beside the target.
QByteArray withRandomSuffix(const QByteArray& prefix)
{
    static constexpr char Letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = prefix;
    for (int i = 0; i < 6; ++i)
        name += Letters[QRandomGenerator::global()->bounded(62)];
    return name;
}

// An open file by its descriptor, through which an unnamed file is given a name.
QByteArray descriptorPath(int fd)
{
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
}

} // namespace

GrabJob::GrabJob(Source source, QString targetPath, std::unique_ptr<AudioEncoder> encoder,
                 Events events)
    : m_source(std::move(source)), m_targetPath(std::move(targetPath)),
      m_encoder(std::move(encoder)), m_events(std::move(events))
{
}

GrabJob::~GrabJob()
{
    stop();
    if (m_reader.joinable())
        m_reader.join();
    if (m_writer.joinable())
        m_writer.join();
    closeFile(); // when the threads never ran
}

Status GrabJob::start()
{
    const auto cannotWrite = [this](const QString& reason) {
        return Failure{tr("Cannot write the file %1: %2").arg(m_targetPath, reason)};
    };
    // As QSaveFile did: a link is followed, so the file it points at is replaced and the link
    // stays.
    QFileInfo target(m_targetPath);
    for (int depth = 0; depth < 32 && target.isSymLink(); ++depth)
        target.setFile(target.symLinkTarget());
    if (target.isDir())
        return cannotWrite(tr("it is a folder."));
    m_finalPath = QFile::encodeName(target.absoluteFilePath());
    struct stat existing {
    };
    const bool replacing = ::stat(m_finalPath.constData(), &existing) == 0;
    if (replacing && ::access(m_finalPath.constData(), W_OK) != 0)
        return cannotWrite(qt_error_string(errno));

    // The file is written beside the target, so that the rename is atomic. It has no name
    // (O_TMPFILE) until it is complete: a grab killed hard, or a machine that loses power,
    // leaves nothing behind. Where the file system has no unnamed files (or the kernel doesn't
    // know them: EOPNOTSUPP, EISDIR, EINVAL...), or there is no /proc to name one through later,
    // it is written under a hidden name (a dot, the target's name and a random suffix) that a
    // file manager doesn't show. A new file gets the permissions any new file gets (0666 less
    // the umask); one that replaces a file is readable by no one else until it has that file's
    // permissions.
    const QString folder = target.absolutePath();
    m_tempPrefix =
        QFile::encodeName(folder + QStringLiteral("/.") + target.fileName() + QLatin1Char('.'));
    const mode_t mode = replacing ? 0600 : 0666;
    m_fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (m_fd >= 0 && ::access(descriptorPath(m_fd).constData(), F_OK) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_unnamed = m_fd >= 0;
    // Whatever kept the unnamed file from opening, the named one is tried: a folder that is
    // missing or can't be written fails that too, and it gives the reason.
    for (int attempt = 0; m_fd < 0; ++attempt) {
        m_tempPath = withRandomSuffix(m_tempPrefix);
        m_fd = ::open(m_tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (m_fd < 0 && (errno != EEXIST || attempt == 100))
            return cannotWrite(qt_error_string(errno));
    }
    m_tempOnDisk = !m_unnamed;
    if (replacing && ::fchmod(m_fd, existing.st_mode & 0777) != 0) {
        const int error = errno;
        closeFile();
        return cannotWrite(qt_error_string(error));
    }
    m_file = std::make_unique<QFile>();
    // Unbuffered: the encoders write in large blocks anyway, and a failed write then says why
    // (a full disk, say) instead of failing later without a reason.
    if (!m_file->open(m_fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle)) {
        const QString reason = m_file->errorString();
        closeFile();
        return cannotWrite(reason);
    }
    // From here on the file belongs to the encoder thread, which also closes it.
    m_file->moveToThread(nullptr);
    m_threadsRunning = 2;
    m_reader = std::thread([this] { readLoop(); });
    m_writer = std::thread([this] { encodeLoop(); });
    return {};
}

void GrabJob::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stop = true;
    m_changed.notify_all();
}

void GrabJob::abandon(std::unique_ptr<GrabJob> job)
{
    {
        const std::lock_guard lock(job->m_mutex);
        job->m_stop = true;
        // An unnamed file has no name to remove: it goes when its threads close it, at the
        // latest when the process ends.
        if (job->m_tempOnDisk)
            ::unlink(job->m_tempPath.constData());
        job->m_tempOnDisk = false;
        job->m_changed.notify_all();
    }
    if (job->m_reader.joinable())
        job->m_reader.detach();
    if (job->m_writer.joinable())
        job->m_writer.detach();
    // Kept where leak checkers see them: they are let go on purpose, not lost.
    static std::mutex mutex;
    static auto* abandoned = new std::vector<GrabJob*>;
    const std::lock_guard lock(mutex);
    abandoned->push_back(job.release());
}

bool GrabJob::sameDisc(CdIo_t* cdio)
{
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0)
        return false;
    std::vector<TocEntry> toc;
    bool trackThere = false;
    for (track_t number = first; number < first + count; ++number) {
        const TocEntry entry{cdio_get_track_lsn(cdio, number),
                             cdio_get_track_format(cdio, number) == TRACK_FORMAT_AUDIO};
        toc.push_back(entry);
        // libcdio takes an image's last track to run to the end of its data file: a file cut
        // before the track's end shortens it (or wraps its length round when cut before its
        // start), where the tracks before it keep the lengths the sheet gives them.
        if (entry.firstSector == m_source.firstSector && entry.audio &&
            qint64(cdio_get_track_sec_count(cdio, number)) == m_source.sectors)
            trackThere = true;
    }
    if (!trackThere)
        return false;
    if (!m_source.toc.empty() &&
        (toc != m_source.toc ||
         cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK) != m_source.leadOut))
        return false;

    if (m_source.isImage) {
        // A cue sheet names the .bin it reads from; other images (.nrg) are their own data.
        const char* source = cdio_get_arg(cdio, "source");
        const QString file =
            source ? QFileInfo(QFile::decodeName(source)).absoluteFilePath() : QString();
        if (!file.isEmpty() && file != QFileInfo(m_source.device).absoluteFilePath())
            m_dataFile = file;
    }
    return dataFileHoldsTrack();
}

bool GrabJob::dataFileHoldsTrack() const
{
    if (m_dataFile.isEmpty())
        return true;
    const qint64 needed = (m_source.firstSector + m_source.sectors) * SectorBytes;
    struct stat st {
    };
    return ::stat(QFile::encodeName(m_dataFile).constData(), &st) == 0 && st.st_size >= needed;
}

bool GrabJob::waitFinished(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_threadsRunning.load() == 0; });
}

void GrabJob::readLoop()
{
    std::unique_ptr<CdIo_t, CdioCloser> cdio;
    std::unique_ptr<cdrom_drive_t, DriveCloser> drive;
    std::unique_ptr<cdrom_paranoia_t, ParanoiaFreer> paranoia;
    ParanoiaWatch watch{&m_events};
    QString error;

    cdio.reset(cdio_open(QFile::encodeName(m_source.device).constData(),
                         m_source.isImage ? DRIVER_UNKNOWN : DRIVER_DEVICE));
    // Past a disc's end (or an image's) paranoia hands out silence, so a disc swapped or an
    // image cut since the tracks were read has to be caught before anything is read.
    if (cdio && !sameDisc(cdio.get())) {
        error = discChanged();
    } else if (!m_source.paranoia) {
        if (!cdio)
            error = tr("The disc image %1 cannot be opened.").arg(m_source.device);
    } else {
        if (cdio)
            drive.reset(cdio_cddap_identify_cdio(cdio.get(), CDDA_MESSAGE_FORGETIT, nullptr));
        if (drive && cdio_cddap_open(drive.get()) == 0)
            paranoia.reset(cdio_paranoia_init(drive.get()));
        if (!paranoia) {
            error = tr("The drive %1 cannot be opened for reading audio.").arg(m_source.device);
        } else {
            // Full verification, but a sector that stays unreadable ends the grab rather than
            // the read hanging on it forever.
            cdio_paranoia_modeset(paranoia.get(), PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
            cdio_paranoia_seek(paranoia.get(), int32_t(m_source.firstSector), SEEK_SET);
            paranoiaWatch = &watch;
        }
    }

    for (qint64 done = 0; error.isEmpty() && done < m_source.sectors && !m_stop;) {
        const int chunkSectors = m_source.paranoia ? DriveChunkSectors : ImageChunkSectors;
        const int count = int(std::min<qint64>(chunkSectors, m_source.sectors - done));
        Chunk chunk;
        {
            const std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                chunk = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        chunk.samples.resize(size_t(count) * FramesPerSector * 2);
        if (!m_source.paranoia) {
            const qint64 sector = m_source.firstSector + done;
            if (cdio_read_audio_sectors(cdio.get(), chunk.samples.data(), lsn_t(sector),
                                        uint32_t(count)) != DRIVER_OP_SUCCESS) {
                // One arg() for both: a path holding "%2" must not take the sector's place.
                error = dataFileHoldsTrack() ? tr("The disc image %1 cannot be read at sector %2.")
                                                   .arg(m_source.device, QString::number(sector))
                                             : discChanged();
            }
        } else {
            for (int s = 0; s < count && !m_stop; ++s) {
                watch.reading = m_source.firstSector + done + s;
                const int16_t* sector = cdio_paranoia_read_limited(paranoia.get(), paranoiaCallback,
                                                                   ParanoiaMaxRetries);
                if (!sector || watch.skipped) {
                    error = dataFileHoldsTrack()
                                ? tr("The disc cannot be read at sector %1: the read failed "
                                     "after %2 tries.")
                                      .arg(QString::number(m_source.firstSector + done + s),
                                           QString::number(ParanoiaMaxRetries))
                                : discChanged();
                    break;
                }
                std::memcpy(chunk.samples.data() + size_t(s) * FramesPerSector * 2, sector,
                            SectorBytes);
            }
        }
        if (!error.isEmpty() || m_stop)
            break;
        done += count;

        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queue.size() < QueueLimit || m_stop; });
        m_queue.push_back(std::move(chunk));
        m_changed.notify_all();
    }
    paranoiaWatch = nullptr;
    // An image cut while it was read yields silence through paranoia, and a last sector cut
    // in two reads as complete: the file must still hold the whole track now that it was read.
    if (error.isEmpty() && !m_stop && !dataFileHoldsTrack())
        error = discChanged();

    const std::lock_guard lock(m_mutex);
    m_readerDone = true;
    m_readError = error;
    if (--m_threadsRunning == 0)
        m_finished = true;
    m_changed.notify_all();
}

// The file is synced before it takes the target's name. Handing what has been written to the
// disk as the grab goes, without waiting for it, leaves little for that final sync to wait for.
void GrabJob::startWriteback()
{
    constexpr qint64 Step = 8 * 1024 * 1024;
    const qint64 end = m_file->pos();
    if (end - m_writtenBack < Step)
        return;
    ::sync_file_range(m_fd, m_writtenBack, end - m_writtenBack, SYNC_FILE_RANGE_WRITE);
    m_writtenBack = end;
}

Status GrabJob::commitFile()
{
    // A disk that fills up while the written data is finally allocated fails here; a file
    // system that can't sync (EINVAL) is no failure.
    if (::fsync(m_fd) != 0 && errno != EINVAL)
        return Failure{
            tr("Cannot write the file %1: %2").arg(m_targetPath, qt_error_string(errno))};
    // Under the lock stop() and abandon() take: once they have returned, no name comes.
    const std::lock_guard lock(m_mutex);
    if (m_stop)
        return Failure{};
    // linkat() can't replace a file: the unnamed file takes a fresh hidden name, and the rename
    // moves that over the target at once.
    if (m_unnamed) {
        const QByteArray self = descriptorPath(m_fd);
        for (int attempt = 0; !m_tempOnDisk; ++attempt) {
            m_tempPath = withRandomSuffix(m_tempPrefix);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_tempPath.constData(),
                         AT_SYMLINK_FOLLOW) == 0)
                m_tempOnDisk = true;
            else if (errno != EEXIST || attempt == 100)
                return Failure{
                    tr("Cannot write the file %1: %2").arg(m_targetPath, qt_error_string(errno))};
        }
    }
    if (::rename(m_tempPath.constData(), m_finalPath.constData()) != 0)
        return Failure{
            tr("Cannot write the file %1: %2").arg(m_targetPath, qt_error_string(errno))};
    m_tempOnDisk = false;
    return {};
}

void GrabJob::removeTempFile()
{
    const std::lock_guard lock(m_mutex);
    if (m_tempOnDisk)
        ::unlink(m_tempPath.constData());
    m_tempOnDisk = false;
}

void GrabJob::closeFile()
{
    removeTempFile();
    m_file.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void GrabJob::encodeLoop()
{
    const qint64 totalFrames = m_source.sectors * FramesPerSector;
    qint64 framesDone = 0;
    double lastReported = -1.0;
    QElapsedTimer sinceReport;
    sinceReport.start();
    QString error;

    if (Status s = m_encoder->begin(*m_file, totalFrames); !s.ok())
        error = s.error();

    while (error.isEmpty() && !m_stop) {
        Chunk chunk;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_queue.empty() || m_readerDone || m_stop; });
            if (m_stop)
                break;
            if (m_queue.empty()) {
                error = m_readError;
                break;
            }
            chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_changed.notify_all();
        }
        if (Status s = m_encoder->encode(chunk.samples); !s.ok()) {
            error = s.error();
            break;
        }
        framesDone += qint64(chunk.samples.size() / 2);
        startWriteback();
        {
            const std::lock_guard lock(m_mutex);
            m_spare.push_back(std::move(chunk));
        }
        // Exactly 100 is kept for the end, once the file is in place.
        const double percent =
            100.0 * double(framesDone) / double(std::max<qint64>(1, totalFrames));
        if (percent < 100.0 && (percent - lastReported >= 1.0 || sinceReport.elapsed() >= 250)) {
            lastReported = percent;
            sinceReport.restart();
            if (m_events.progress)
                m_events.progress(percent);
        }
    }

    bool done = false;
    if (error.isEmpty() && !m_stop) {
        if (Status s = m_encoder->finish(); !s.ok())
            error = s.error();
        else if (Status c = commitFile(); !c.ok())
            error = c.error();
        else
            done = true;
    }
    // Without a commit the temporary file goes away here (an unnamed one as it is closed), and
    // an existing target stays.
    closeFile();

    if (done && m_events.finished)
        m_events.finished();
    else if (!done && !m_stop && m_events.failed)
        m_events.failed(error);

    // Let a reader blocked on a full queue see that nobody will take its chunks.
    m_stop = true;
    const std::lock_guard lock(m_mutex);
    if (--m_threadsRunning == 0)
        m_finished = true;
    m_changed.notify_all();
}
