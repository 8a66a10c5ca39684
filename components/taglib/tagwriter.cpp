#include "components/taglib/tagwriter.h"

#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Room reserved on the disk past the file's end while TagLib writes: inserting tags moves the
// rest of the file back by the tags' size (at most a few KiB here), and TagLib does not report a
// write that fails, so a full disk must be found before it starts.
constexpr off_t TagReserveBytes = 256 * 1024;

const char* const Mp3DiscIdDescription = "MusicBrainz Disc Id";
const char* const WmaDiscIdAttribute = "MusicBrainz/Disc Id";

TagLib::String text(const QString& value)
{
    return TagLib::String(value.toStdString(), TagLib::String::UTF8);
}

// The texts go in through TagLib's property map, which names them the same way in every format
// (TIT2, TPE1... in ID3v2; TITLE, ARTIST... as Vorbis comments; WM/ attributes in ASF).
template <typename File> void addTexts(File& file, const TrackTags& tags)
{
    TagLib::PropertyMap properties = file.properties();
    const auto set = [&properties](const char* key, const QString& value) {
        if (!value.isEmpty())
            properties.replace(key, TagLib::StringList(text(value)));
    };
    set("TITLE", tags.title);
    set("ARTIST", tags.artist);
    set("ALBUM", tags.album);
    set("ALBUMARTIST", tags.albumArtist);
    set("DATE", tags.date);
    set("GENRE", tags.genre);
    set("COMPOSER", tags.composer);
    set("MUSICBRAINZ_ALBUMID", tags.musicBrainzReleaseId);
    set("MUSICBRAINZ_TRACKID", tags.musicBrainzRecordingId);
    set("ISRC", tags.isrc);
    set("BARCODE", tags.barcode);
    // No format has a field for it: a text of its own (TXXX in ID3v2, a Vorbis comment).
    if (tags.preEmphasis)
        set("PRE_EMPHASIS", QStringLiteral("yes"));
    file.setProperties(properties);
}

Failure unreadable()
{
    return Failure{QStringLiteral("it could not be read back to write its tags.")};
}

Failure unsaved()
{
    return Failure{QStringLiteral("its tags could not be written.")};
}

Status tagMp3(TagLib::IOStream* stream, const TrackTags& tags)
{
    TagLib::MPEG::File file(stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid() || file.readOnly())
        return unreadable();
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->removeFrames("TRCK");
    auto* track = new TagLib::ID3v2::TextIdentificationFrame("TRCK", TagLib::String::UTF8);
    track->setText(tags.total > 0 ? text(QStringLiteral("%1/%2").arg(tags.number).arg(tags.total))
                                  : text(QString::number(tags.number)));
    tag->addFrame(track);
    if (!tags.musicBrainzDiscId.isEmpty()) {
        if (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, Mp3DiscIdDescription))
            tag->removeFrame(old);
        tag->addFrame(new TagLib::ID3v2::UserTextIdentificationFrame(
            Mp3DiscIdDescription, TagLib::StringList(text(tags.musicBrainzDiscId)),
            TagLib::String::UTF8));
    }
    addTexts(file, tags);
    // Only the ID3v2 tag, in front of the Xing/LAME frame, which stays the first audio frame.
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate))
        return unsaved();
    return {};
}

void setComments(TagLib::Ogg::XiphComment& comment, const TrackTags& tags)
{
    comment.addField("TRACKNUMBER", text(QString::number(tags.number)));
    if (tags.total > 0)
        comment.addField("TRACKTOTAL", text(QString::number(tags.total)));
    if (!tags.musicBrainzDiscId.isEmpty())
        comment.addField("MUSICBRAINZ_DISCID", text(tags.musicBrainzDiscId));
}

template <typename File> Status saved(File& file)
{
    return file.save() ? Status{} : Status{unsaved()};
}

Status tagOgg(TagLib::IOStream* stream, const TrackTags& tags)
{
    TagLib::Ogg::Vorbis::File file(stream, false);
    if (!file.isValid() || file.readOnly() || !file.tag())
        return unreadable();
    setComments(*file.tag(), tags);
    addTexts(file, tags);
    return saved(file);
}

Status tagFlac(TagLib::IOStream* stream, const TrackTags& tags)
{
    TagLib::FLAC::File file(stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid() || file.readOnly())
        return unreadable();
    setComments(*file.xiphComment(true), tags);
    addTexts(file, tags);
    return saved(file);
}

Status tagWma(TagLib::IOStream* stream, const TrackTags& tags)
{
    TagLib::ASF::File file(stream, false);
    if (!file.isValid() || file.readOnly() || !file.tag())
        return unreadable();
    // A 32-bit number, as Windows Media Player writes it; ASF has no field for the total.
    file.tag()->setAttribute("WM/TrackNumber", TagLib::ASF::Attribute(unsigned(tags.number)));
    if (!tags.musicBrainzDiscId.isEmpty())
        file.tag()->setAttribute(WmaDiscIdAttribute,
                                 TagLib::ASF::Attribute(text(tags.musicBrainzDiscId)));
    addTexts(file, tags);
    return saved(file);
}

// Holds the file open read-write while TagLib works on it, with disk space reserved past its end
// (where the file system can), and gives back what the tags did not use.
class Reservation
{
public:
    // The file's own descriptor, duplicated: TagLib closes what it is given.
    explicit Reservation(int fd) : m_fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)) {}
    ~Reservation()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;

    // Why the file can't be opened or the room reserved, or nothing.
    Status reserve()
    {
        if (m_fd < 0)
            return failure(errno);
        struct stat info {
        };
        if (::fstat(m_fd, &info) != 0)
            return failure(errno);
        m_end = info.st_size + TagReserveBytes;
        // Room reserved past the end is not held to the size limit of the process (ulimit -f),
        // only the writes that would use it are, and those TagLib would cut short unseen.
        rlimit limit{};
        if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
            rlim_t(m_end) > limit.rlim_cur)
            return failure(EFBIG);
        const int reserved = ::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, info.st_size, TagReserveBytes);
        // File systems without reservations (EOPNOTSUPP) are written without one.
        if (reserved != 0 && (errno == ENOSPC || errno == EFBIG || errno == EDQUOT))
            return failure(errno);
        return {};
    }

    void release()
    {
        struct stat info {
        };
        if (m_fd >= 0 && ::fstat(m_fd, &info) == 0 && info.st_size < m_end)
            ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, info.st_size,
                        m_end - info.st_size);
    }

private:
    static Failure failure(int error) { return Failure{qt_error_string(error)}; }

    int m_fd;
    off_t m_end = 0;
};

} // namespace

Status writeTrackTags(int fd, const QString& extension, const TrackTags& tags)
{
    const QString key = (extension.startsWith(u'.') ? extension.mid(1) : extension).toLower();
    Status (*tagger)(TagLib::IOStream*, const TrackTags&) = nullptr;
    if (key == u"mp3")
        tagger = tagMp3;
    else if (key == u"ogg")
        tagger = tagOgg;
    else if (key == u"flac")
        tagger = tagFlac;
    else if (key == u"wma")
        tagger = tagWma;
    if (!tagger || tags.number <= 0)
        return {};

    Reservation reservation(fd);
    if (Status reserved = reservation.reserve(); !reserved)
        return reserved;
    // TagLib reads and writes through a stream of its own on another duplicate of the file's
    // descriptor (it closes it when done), from the file's start: no path, no /proc needed.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0 || ::lseek(own, 0, SEEK_SET) != 0) {
        if (own >= 0)
            ::close(own);
        return unreadable();
    }
    Status status;
    {
        TagLib::FileStream stream(own, false);
        status = stream.isOpen() ? tagger(&stream, tags) : Status{unreadable()};
    }
    reservation.release();
    return status;
}
