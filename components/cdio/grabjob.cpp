#include "components/cdio/grabjob.h"

#include "components/cdio/splitencode.h"
#include "components/taglib/tagwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("GrabJob", text);
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

// A hidden temporary name of ours: a dot, a file name that ends in one of the encoders'
// extensions, a dot, and six letters or digits.
bool isOurTemporaryName(const QString& name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\..+\\.(wav|mp3|ogg|wma|flac)\\.[A-Za-z0-9]{6}$"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(name).hasMatch();
}

// Removes the temporary files of grabs that were killed before their file took its name, in the
// folder of a new grab: files of our own pattern that are regular, the user's own, and locked by
// no grab (a running grab holds a lock on its file until it ends).
void removeKilledGrabsFiles(const QString& folder)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!isOurTemporaryName(entry.fileName()) || entry.isSymLink() ||
            entry.ownerId() != ::getuid())
            continue;
        const QByteArray path = QFile::encodeName(entry.absoluteFilePath());
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(path.constData());
        ::close(fd);
    }
}

// An open file by its descriptor, through which an unnamed file is given a name.
QByteArray descriptorPath(int fd)
{
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
}

} // namespace

GrabJob::GrabJob(Source source, QString targetPath, std::unique_ptr<AudioEncoder> encoder,
                 Events events, std::unique_ptr<SplitFormat> split, int threads)
    : m_source(std::move(source)), m_targetPath(std::move(targetPath)),
      m_encoder(std::move(encoder)), m_events(std::move(events))
{
    // Only an image is read at several places at once; a drive would seek to and fro.
    if (split && m_source.isImage) {
        m_plan = SplitEncode::plan(*split, m_source.sectors * FramesPerSector,
                                   threads > 0 ? threads : SplitEncode::usableThreads());
        if (m_plan.parts() > 1) {
            m_split = std::move(split);
            m_split->setSpillFolder(QFileInfo(m_targetPath).absolutePath());
        }
    }
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

Status GrabJob::start(Existing existing)
{
    m_replace = existing == Existing::Replace;
    // As QSaveFile did: a link is followed, so the file it points at is replaced and the link
    // stays.
    QFileInfo target(m_targetPath);
    for (int depth = 0; depth < 32 && target.isSymLink(); ++depth)
        target.setFile(target.symLinkTarget());
    if (target.isDir())
        return Failure{cannotWrite(tr("it is a folder."))};
    // Anything at the name, a link that leads nowhere too, is a file that must be kept.
    struct stat atName {
    };
    if (!m_replace && ::lstat(QFile::encodeName(m_targetPath).constData(), &atName) == 0)
        return Failure{tr("%1 exists already; it was kept.").arg(m_targetPath)};
    m_finalPath = QFile::encodeName(target.absoluteFilePath());
    struct stat old {
    };
    const bool replacing = m_replace && ::stat(m_finalPath.constData(), &old) == 0;
    if (replacing && ::access(m_finalPath.constData(), W_OK) != 0)
        return Failure{cannotWrite(qt_error_string(errno))};

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
    m_fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (m_fd >= 0 && ::access(descriptorPath(m_fd).constData(), F_OK) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_unnamed = m_fd >= 0;
    // Whatever kept the unnamed file from opening, the named one is tried: a folder that is
    // missing or can't be written fails that too, and it gives the reason.
    for (int attempt = 0; m_fd < 0; ++attempt) {
        m_tempPath = withRandomSuffix(m_tempPrefix);
        m_fd = ::open(m_tempPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (m_fd < 0 && (errno != EEXIST || attempt == 100))
            return Failure{cannotWrite(qt_error_string(errno))};
    }
    m_tempOnDisk = !m_unnamed;
    // Held until the file is closed: a later grab's clean-up leaves this file alone.
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    removeKilledGrabsFiles(folder);
    if (replacing && ::fchmod(m_fd, old.st_mode & 0777) != 0) {
        const int error = errno;
        closeFile();
        return Failure{cannotWrite(qt_error_string(error))};
    }
    m_file = std::make_unique<QFile>();
    // Unbuffered: the encoders write in large blocks anyway, and a failed write then says why
    // (a full disk, say) instead of failing later without a reason.
    if (!m_file->open(m_fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                      QFileDevice::DontCloseHandle)) {
        const QString reason = m_file->errorString();
        closeFile();
        return Failure{cannotWrite(reason)};
    }
    // From here on the file belongs to the encoder thread, which also closes it.
    m_file->moveToThread(nullptr);
    // A thread the system refuses (a process or memory limit) fails the grab with its reason;
    // one already started sees the stop and is waited for before the file goes.
    try {
        if (m_split) {
            m_threadsRunning = 1;
            m_writer = std::thread([this] { splitLoop(); });
            return {};
        }
        m_threadsRunning = 2;
        m_reader = std::thread([this] { readLoop(); });
        m_writer = std::thread([this] { encodeLoop(); });
    } catch (const std::system_error& error) {
        stop();
        if (m_reader.joinable())
            m_reader.join();
        m_threadsRunning = 0;
        m_finished = true;
        closeFile();
        return Failure{
            tr("The grab cannot start a thread: %1").arg(QString::fromLocal8Bit(error.what()))};
    }
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

bool GrabJob::waitFinished(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_threadsRunning.load() == 0; });
}

Result<quint32> GrabJob::testRead(ReadReport& report)
{
    m_testing = true;
    TrackReader reader(m_source, m_events.retry);
    Status status = reader.open();
    TrackChecksums sums(m_source.sectors * FramesPerSector, m_source.firstAudioTrack,
                        m_source.lastAudioTrack);
    std::vector<qint16> samples;
    while (status.ok() && reader.remaining() > 0 && !m_stop) {
        const int count = int(std::min<qint64>(DriveChunkSectors, reader.remaining()));
        samples.resize(size_t(count) * FramesPerSector * 2);
        status = reader.read(samples.data(), count, &m_stop);
        if (status.ok())
            sums.add(samples);
        reportProgress(50.0 * double(reader.position()) /
                       double(std::max<qint64>(1, m_source.sectors)));
    }
    report.stats = reader.stats();
    report.discRemoved = report.discRemoved || reader.discRemoved();
    // The drive's cache still holds the end of the track; on a short track it holds the start
    // too, which the copy read would then be given without the disc being read.
    if (status.ok() && !m_stop && m_source.sectors < 2 * DriveCacheSectors)
        reader.readAround(DriveCacheSectors, &m_stop);
    m_testing = false;
    if (!status.ok())
        return Failure{status.error()};
    if (m_stop)
        return Failure{};
    return sums.crc32();
}

void GrabJob::readLoop()
{
    ReadReport report;
    Status status;
    if (m_verify) {
        Result<quint32> test = testRead(report);
        if (test.ok())
            report.testCrc32 = test.value();
        else
            status = Failure{test.error()};
    }
    TrackReader reader(m_source, m_events.retry);
    TrackChecksums sums(m_source.sectors * FramesPerSector, m_source.firstAudioTrack,
                        m_source.lastAudioTrack);
    if (status.ok())
        status = reader.open();
    const int chunkSectors = m_source.paranoia ? DriveChunkSectors : ImageChunkSectors;
    const size_t queueLimit = size_t(std::max(2, QueuedSectorsLimit / chunkSectors));
    while (status.ok() && reader.remaining() > 0 && !m_stop) {
        const int count = int(std::min<qint64>(chunkSectors, reader.remaining()));
        Chunk chunk;
        {
            const std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                chunk = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        chunk.samples.resize(size_t(count) * FramesPerSector * 2);
        status = reader.read(chunk.samples.data(), count, &m_stop);
        if (!status.ok() || m_stop)
            break;
        sums.add(chunk.samples);

        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_queue.size() < queueLimit || m_stop; });
        m_queue.push_back(std::move(chunk));
        m_changed.notify_all();
    }
    const TrackReader::ReadStats copyStats = reader.stats();
    report.stats.reReads += copyStats.reReads;
    report.stats.repairs += copyStats.repairs;
    report.stats.skips += copyStats.skips;
    for (const qint64 sector : copyStats.suspicious) {
        if (std::find(report.stats.suspicious.begin(), report.stats.suspicious.end(), sector) ==
            report.stats.suspicious.end())
            report.stats.suspicious.push_back(sector);
    }
    std::sort(report.stats.suspicious.begin(), report.stats.suspicious.end());
    report.discRemoved = report.discRemoved || reader.discRemoved();
    if (status.ok() && !m_stop && report.testCrc32 && *report.testCrc32 != sums.crc32())
        status = Failure{
            tr("The copy differs from the test read: test CRC32 %1, copy CRC32 %2. "
               "The drive does not read this track the same way twice.")
                .arg(QStringLiteral("%1").arg(*report.testCrc32, 8, 16, QLatin1Char('0')).toUpper(),
                     QStringLiteral("%1").arg(sums.crc32(), 8, 16, QLatin1Char('0')).toUpper())};
    if (m_events.readReport)
        m_events.readReport(report);

    const std::lock_guard lock(m_mutex);
    m_readerDone = true;
    m_readError = status.error();
    if (status.ok() && sums.complete())
        m_checksums = sums;
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
        return Failure{cannotWrite(qt_error_string(errno))};
    // Under the lock stop() and abandon() take: once they have returned, no name comes.
    const std::lock_guard lock(m_mutex);
    if (m_stop)
        return Failure{};
    const auto failed = [this](int error) { return Failure{cannotWrite(qt_error_string(error))}; };
    const auto appeared = [this] {
        return Failure{tr("%1 appeared during the grab; it was kept.").arg(m_targetPath)};
    };
    if (m_unnamed && !m_replace) {
        // linkat() never replaces a file: the unnamed file takes the target's name directly.
        if (::linkat(AT_FDCWD, descriptorPath(m_fd).constData(), AT_FDCWD, m_finalPath.constData(),
                     AT_SYMLINK_FOLLOW) == 0)
            return {};
        return errno == EEXIST ? appeared() : failed(errno);
    }
    // Replacing, the unnamed file takes a fresh hidden name, and the rename moves that over the
    // target at once.
    if (m_unnamed) {
        const QByteArray self = descriptorPath(m_fd);
        for (int attempt = 0; !m_tempOnDisk; ++attempt) {
            m_tempPath = withRandomSuffix(m_tempPrefix);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, m_tempPath.constData(),
                         AT_SYMLINK_FOLLOW) == 0)
                m_tempOnDisk = true;
            else if (errno != EEXIST || attempt == 100)
                return failed(errno);
        }
    }
    if (m_replace ? ::rename(m_tempPath.constData(), m_finalPath.constData()) != 0
                  : !renameNoReplace())
        return !m_replace && errno == EEXIST ? appeared() : failed(errno);
    m_tempOnDisk = false;
    return {};
}

bool GrabJob::renameNoReplace() const
{
    if (::renameat2(AT_FDCWD, m_tempPath.constData(), AT_FDCWD, m_finalPath.constData(),
                    RENAME_NOREPLACE) == 0)
        return true;
    // A file system (or kernel) that can't rename on that condition: a hard link can't replace
    // a file either, and the hidden name goes once the target's is there.
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(m_tempPath.constData(), m_finalPath.constData()) != 0)
        return false;
    ::unlink(m_tempPath.constData());
    return true;
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

void GrabJob::reportProgress(double percent)
{
    // Exactly 100 is kept for the end, once the file is in place.
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    const qint64 now = clock.elapsed();
    if (percent < 100.0 && (percent - m_lastReported >= 1.0 || now - m_lastReportTime >= 250)) {
        m_lastReported = percent;
        m_lastReportTime = now;
        if (m_events.progress)
            m_events.progress(percent);
    }
}

Status GrabJob::encodeQueued()
{
    const qint64 totalFrames = m_source.sectors * FramesPerSector;
    qint64 framesDone = 0;
    if (Status s = m_encoder->begin(*m_file, totalFrames); !s.ok())
        return s;

    while (!m_stop) {
        Chunk chunk;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_queue.empty() || m_readerDone || m_stop; });
            if (m_stop)
                break;
            if (m_queue.empty()) {
                if (!m_readError.isEmpty())
                    return Failure{m_readError};
                return m_encoder->finish();
            }
            chunk = std::move(m_queue.front());
            m_queue.pop_front();
            m_changed.notify_all();
        }
        const std::span<const qint16> samples(chunk.samples);
        for (size_t at = 0; at < samples.size() && !m_stop; at += EncodeSliceFrames * 2) {
            const size_t count = std::min<size_t>(EncodeSliceFrames * 2, samples.size() - at);
            if (Status s = m_encoder->encode(samples.subspan(at, count)); !s.ok())
                return s;
            framesDone += qint64(count / 2);
            const double share = double(framesDone) / double(std::max<qint64>(1, totalFrames));
            reportProgress(m_verify ? 50.0 + 50.0 * share : 100.0 * share);
        }
        startWriteback();
        const std::lock_guard lock(m_mutex);
        m_spare.push_back(std::move(chunk));
    }
    return Failure{};
}

void GrabJob::encodeLoop()
{
    endWriting(encodeQueued());
}

void GrabJob::splitLoop()
{
    const SplitEncode::Result result =
        SplitEncode::run(*m_split, m_plan, m_source, *m_file, m_stop,
                         [this](double share) { reportProgress(100.0 * share); });
    if (result.checksums && result.checksums->complete()) {
        const std::lock_guard lock(m_mutex);
        m_checksums = result.checksums;
    }
    switch (result.outcome) {
    case SplitEncode::Outcome::Written:
        endWriting({});
        return;
    case SplitEncode::Outcome::Stopped:
        endWriting(Failure{});
        return;
    case SplitEncode::Outcome::Failed:
        endWriting(Failure{result.error});
        return;
    case SplitEncode::Outcome::NoSeam:
        break;
    }
    // No seam: the track is encoded in one piece, read by a reader thread as usual.
    {
        const std::lock_guard lock(m_mutex);
        ++m_threadsRunning;
    }
    m_lastReported = -1.0;
    try {
        m_reader = std::thread([this] { readLoop(); });
    } catch (const std::system_error& error) {
        {
            const std::lock_guard lock(m_mutex);
            --m_threadsRunning;
        }
        endWriting(Failure{
            tr("The grab cannot start a thread: %1").arg(QString::fromLocal8Bit(error.what()))});
        return;
    }
    encodeLoop();
}

QString GrabJob::cannotWrite(const QString& reason) const
{
    return tr("Cannot write the file %1: %2").arg(m_targetPath, reason);
}

void GrabJob::endWriting(const Status& encoded)
{
    QString error = encoded.error();
    // A write that failed, into the file or into the parts' temporary files beside it, is the
    // file's failure, with the system's reason (a full disk, say), whatever the encoder made of
    // it: the user chose that file and its folder, not the hidden names.
    if (!encoded.ok() && !error.isEmpty()) {
        const QString spill = m_split ? m_split->spillWriteError() : QString();
        if (m_file && m_file->error() != QFileDevice::NoError)
            error = cannotWrite(m_file->errorString());
        else if (!spill.isEmpty())
            error = cannotWrite(spill);
    }
    bool done = false;
    if (encoded.ok() && !m_stop) {
        // The tags go in through a path of the file's own, which an unnamed file has too.
        const Status tagged =
            writeTrackTags(m_fd, QFileInfo(m_targetPath).suffix().toLower(), m_tags);
        if (!tagged.ok())
            error = cannotWrite(tagged.error());
        else if (Status c = commitFile(); !c.ok())
            error = c.error();
        else
            done = true;
    }
    // Without a commit the temporary file goes away here (an unnamed one as it is closed), and
    // an existing target stays.
    closeFile();

    if (done && m_checksums && m_events.checksums)
        m_events.checksums(*m_checksums);
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
