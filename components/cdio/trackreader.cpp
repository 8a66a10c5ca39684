#include "components/cdio/trackreader.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "Disc audio is little-endian; reading it as host samples needs a little-endian host");

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("TrackReader", text);
}

} // namespace

TrackReader::TrackReader(Source source, RetryEvent retry)
    : m_source(std::move(source)), m_retry(std::move(retry))
{
    // Rounded down, so the bytes left over are never negative: -1 sample is a sector back and
    // 587 samples on.
    const qint64 offset = m_source.offsetSamples;
    m_shiftSectors = offset >= 0 ? offset / FramesPerSector
                                 : -((-offset + FramesPerSector - 1) / FramesPerSector);
    m_shiftBytes = int(offset - m_shiftSectors * FramesPerSector) * (SectorBytes / FramesPerSector);
    if (m_shiftBytes != 0) {
        m_carry.resize(SectorBytes);
        m_spare.resize(SectorBytes);
    }
}

TrackReader::~TrackReader() = default;

QString TrackReader::discChanged()
{
    return tr("The disc has changed since its tracks were read: read it again and retry.");
}

Result<TrackReader::ImageFormat> TrackReader::imageFormat(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    ImageFormat format = ImageFormat::Cue;
    if (suffix == QLatin1String("toc"))
        format = ImageFormat::Toc;
    else if (suffix == QLatin1String("nrg"))
        format = ImageFormat::Nrg;
    else if (suffix != QLatin1String("cue"))
        return Failure{
            tr("\"%1\" is not a disc image Tambrel can read (.cue, .toc, .nrg).").arg(path)};
    struct stat st {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return Failure{(S_ISDIR(st.st_mode)
                            ? tr("The disc image \"%1\" is a folder, not a file.")
                            : tr("The disc image \"%1\" is not a regular file (a pipe or a "
                                 "device)."))
                           .arg(path)};
    return format;
}

Status TrackReader::open()
{
    ReaderChild::Source kind = ReaderChild::Source::Drive;
    if (m_source.isImage) {
        const Result<ImageFormat> format = imageFormat(m_source.device);
        if (!format.ok())
            return Failure{format.error()};
        if (format.value() == ImageFormat::Cue)
            return openCue();
        kind = format.value() == ImageFormat::Toc ? ReaderChild::Source::Toc
                                                  : ReaderChild::Source::Nrg;
    }
    Result<std::unique_ptr<ReaderChild>> child =
        ReaderChild::open(m_source.device, kind, m_source.paranoia);
    if (!child.ok())
        return Failure{child.error()};
    m_child = child.take();
    m_child->setTrackStart(m_source.firstSector);
    m_child->setRetryEvent(m_retry);
    const ReaderChild::Toc& toc = m_child->toc();
    m_dataFile = toc.dataFile;
    // Past a disc's end a drive hands out silence, so a disc swapped since the tracks were read
    // has to be caught before anything is read.
    if (!sameDisc(toc.tracks, toc.leadOut))
        return Failure{discChanged()};
    std::vector<TocEntry> entries;
    for (const ReaderChild::Track& track : toc.tracks)
        entries.push_back({track.firstSector, track.audio});
    setAudioRun(entries, toc.leadOut);
    const qint64 trackEnd = m_source.firstSector + m_source.sectors;
    m_child->setSpan(std::min(m_source.firstSector, m_source.firstSector + m_shiftSectors),
                     std::max(trackEnd, m_readEnd));
    seek(0);
    return {};
}

void TrackReader::seek(qint64 sector)
{
    m_position = std::clamp<qint64>(sector, 0, m_source.sectors);
}

void TrackReader::setAudioRun(const std::vector<TocEntry>& toc, qint64 leadOut)
{
    // The hidden track lies in the first track's pregap, and reads on into it.
    const qint64 start = m_source.hidden ? m_source.sectors : m_source.firstSector;
    const auto track = std::find_if(toc.begin(), toc.end(), [start](const TocEntry& entry) {
        return entry.firstSector == start;
    });
    if (track == toc.end())
        return;
    // A data track before or after the audio ends the run: its sectors are no audio, and a
    // drive reads them as garbage if at all. Before the first track the disc holds silence.
    auto first = track;
    while (first != toc.begin() && std::prev(first)->audio)
        --first;
    auto last = track;
    while (std::next(last) != toc.end() && std::next(last)->audio)
        ++last;
    m_audioStart = first == toc.begin() ? 0 : first->firstSector;
    m_audioEnd = std::next(last) == toc.end() ? leadOut : std::next(last)->firstSector;
    // An enhanced CD's audio session ends 11,400 sectors before its data track, where the
    // track's length (the drive's multisession information) says.
    if (last == track && std::next(last) != toc.end() && !m_source.hidden)
        m_audioEnd = std::min(m_audioEnd, m_source.firstSector + m_source.sectors);
    const qint64 trackEnd = m_source.firstSector + m_source.sectors;
    m_readEnd = std::clamp<qint64>(trackEnd + m_shiftSectors + (m_shiftBytes != 0 ? 1 : 0),
                                   trackEnd, std::max(trackEnd, m_audioEnd));
    m_carrySector = -1;
}

bool TrackReader::sameDisc(const std::vector<ReaderChild::Track>& tracks, qint64 leadOut) const
{
    if (tracks.empty())
        return false;
    std::vector<TocEntry> toc;
    bool trackThere = false;
    for (const ReaderChild::Track& track : tracks) {
        toc.push_back({track.firstSector, track.audio});
        // libcdio takes an image's last track to run to the end of its data file: a file cut
        // before the track's end shortens it (or wraps its length round when cut before its
        // start), where the tracks before it keep the lengths the sheet gives them.
        if (track.firstSector == m_source.firstSector && track.audio &&
            track.sectors == m_source.sectors)
            trackThere = true;
    }
    // The hidden track is there where the first track still starts where it ended.
    if (m_source.hidden)
        trackThere = tracks.front().audio && tracks.front().firstSector == m_source.sectors;
    if (!trackThere)
        return false;
    if (!m_source.toc.empty() && (toc != m_source.toc || leadOut != m_source.leadOut))
        return false;
    return dataFileHoldsTrack();
}

// A sheet that no longer opens, or opens as another disc, has changed since the grabber read it.
Status TrackReader::openCue()
{
    Result<CueImage> image = CueImage::open(m_source.device);
    if (!image.ok())
        return Failure{discChanged()};
    std::vector<TocEntry> toc;
    bool trackThere = false;
    for (const CueImage::Track& track : image.value().tracks()) {
        toc.push_back({track.firstSector, track.audio});
        if (track.firstSector == m_source.firstSector && track.audio &&
            track.sectors == m_source.sectors)
            trackThere = true;
    }
    if (m_source.hidden)
        trackThere = !image.value().tracks().isEmpty() && image.value().tracks().first().audio &&
                     image.value().tracks().first().firstSector == m_source.sectors;
    if (!trackThere || (!m_source.toc.empty() &&
                        (toc != m_source.toc || image.value().leadOut() != m_source.leadOut)))
        return Failure{discChanged()};
    setAudioRun(toc, image.value().leadOut());
    m_cue = image.take();
    seek(0);
    return {};
}

bool TrackReader::dataFileHoldsTrack() const
{
    // A cue sheet's files must stay as they were: any change of size moves or cuts its tracks.
    if (m_cue) {
        for (const CueImage::DataFile& file : m_cue->dataFiles()) {
            struct stat st {
            };
            if (::stat(QFile::encodeName(file.path).constData(), &st) != 0 ||
                st.st_size != file.bytes)
                return false;
        }
        return true;
    }
    if (m_dataFile.isEmpty())
        return true;
    // With a later read offset the reads go on into the sectors after the track.
    const qint64 needed =
        std::max(m_source.firstSector + m_source.sectors, m_readEnd) * SectorBytes;
    struct stat st {
    };
    return ::stat(QFile::encodeName(m_dataFile).constData(), &st) == 0 && st.st_size >= needed;
}

Status TrackReader::read(qint16* samples, int count, const std::atomic<bool>* stop)
{
    if (!m_cue && !m_child)
        return Failure{tr("The disc %1 is not open for reading.").arg(m_source.device)};
    count = int(std::clamp<qint64>(count, 0, remaining()));
    if (count == 0)
        return {};
    // An image cut before the read would read as silence through paranoia (a read starting past
    // the cut did not even return), and one cut while it was read yields silence, or a last
    // sector cut in two that reads as complete: the data file is looked at on both sides.
    if (!dataFileHoldsTrack())
        return Failure{discChanged()};

    const qint64 first = m_source.firstSector + m_position;
    char* out = reinterpret_cast<char*>(samples);
    if (m_source.offsetSamples == 0) {
        // The track's own sectors, straight into the caller's buffer.
        int done = 0;
        const Status read = readDisc(first, count, out, stop, done);
        m_position += done;
        if (!read.ok())
            return read;
    } else {
        if (Status read = readShifted(first + m_shiftSectors, count, out, stop); !read.ok())
            return read;
        m_position += count;
    }
    if (!dataFileHoldsTrack())
        return Failure{discChanged()};
    return {};
}

Status TrackReader::readDisc(qint64 first, int count, char* out, const std::atomic<bool>* stop,
                             int& done)
{
    done = 0;
    if (m_cue) {
        const Result<QByteArray> sectors = m_cue->readSectors(first, count);
        if (!sectors.ok())
            return Failure{dataFileHoldsTrack() ? sectors.error() : discChanged()};
        std::memcpy(out, sectors.value().constData(), size_t(sectors.value().size()));
        done = count;
        return {};
    }
    while (done < count) {
        const int part = std::min(count - done, ReaderChild::MaxSectorsPerRead);
        int got = 0;
        const Status read =
            m_child->read(first + done, part, out + size_t(done) * SectorBytes, stop, got);
        done += got;
        if (!read.ok())
            return read.error().isEmpty() || m_child->discRemoved() || dataFileHoldsTrack()
                       ? read
                       : Failure{discChanged()};
    }
    return {};
}

void TrackReader::readAround(qint64 count, const std::atomic<bool>* stop)
{
    if (!m_child || m_source.isImage)
        return;
    const qint64 trackEnd = m_source.firstSector + m_source.sectors;
    const qint64 after = std::clamp<qint64>(m_audioEnd - trackEnd, 0, count);
    const qint64 before = std::clamp<qint64>(m_source.firstSector - m_audioStart, 0, count - after);
    std::vector<char> scratch(size_t(ReaderChild::MaxSectorsPerRead) * SectorBytes);
    const auto skim = [&](qint64 first, qint64 sectors) {
        for (qint64 at = first; at < first + sectors && !(stop && stop->load());) {
            const int part =
                int(std::min<qint64>(first + sectors - at, ReaderChild::MaxSectorsPerRead));
            m_child->skim(at, part, scratch.data(), stop);
            at += part;
        }
    };
    skim(trackEnd, after);
    skim(m_source.firstSector - before, before);
}

Status TrackReader::readSpan(qint64 first, int count, char* out, const std::atomic<bool>* stop)
{
    const qint64 end = first + count;
    const qint64 from = std::min(std::max(first, m_audioStart), end);
    const qint64 to = std::max(std::min(end, m_audioEnd), from);
    std::memset(out, 0, size_t(from - first) * SectorBytes);
    std::memset(out + (to - first) * SectorBytes, 0, size_t(end - to) * SectorBytes);
    int done = 0;
    return from < to
               ? readDisc(from, int(to - from), out + (from - first) * SectorBytes, stop, done)
               : Status{};
}

Status TrackReader::readShifted(qint64 first, int count, char* out, const std::atomic<bool>* stop)
{
    if (m_shiftBytes == 0)
        return readSpan(first, count, out, stop);
    // The output is the tail of sector first, then sectors first+1 on, the last of them cut
    // where the next read takes up. Sector first is mostly the previous read's last one.
    // Reading in the disc's order keeps paranoia from seeking back.
    if (m_carrySector != first) {
        m_carrySector = -1;
        if (Status read = readSpan(first, 1, m_carry.data(), stop); !read.ok())
            return read;
    }
    m_carrySector = -1;
    if (Status read = readSpan(first + 1, count, out, stop); !read.ok())
        return read;
    const size_t total = size_t(count) * SectorBytes;
    const size_t head = size_t(SectorBytes - m_shiftBytes);
    std::memcpy(m_spare.data(), out + total - SectorBytes, SectorBytes);
    std::memmove(out + head, out, total - head);
    std::memcpy(out, m_carry.data() + m_shiftBytes, head);
    std::swap(m_carry, m_spare);
    m_carrySector = first + count;
    return {};
}
