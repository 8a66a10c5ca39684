#include "components/accuraterip/discids.h"

#include <discid/discid.h>

#include <memory>

namespace
{

constexpr qint64 LeadIn = 150;
constexpr qint64 SectorsPerSecond = 75;
// The gap between the end of an enhanced disc's audio session and its data track.
constexpr qint64 SessionGap = 11400;

int digitSum(qint64 n)
{
    int sum = 0;
    for (; n > 0; n /= 10)
        sum += int(n % 10);
    return sum;
}

QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

} // namespace

QString DiscIds::accurateRipFileName() const
{
    return QStringLiteral("dBAR-%1-%2-%3-%4.bin")
        .arg(audioTracks, 3, 10, QLatin1Char('0'))
        .arg(hex8(accurateRipId1), hex8(accurateRipId2), hex8(freedbId));
}

QString DiscIds::accurateRipPath() const
{
    const QString id = hex8(accurateRipId1);
    return id.mid(7, 1) + u'/' + id.mid(6, 1) + u'/' + id.mid(5, 1) + u'/' + accurateRipFileName();
}

QUrl DiscIds::accurateRipUrl(const QUrl& base) const
{
    QUrl folder = base;
    QString path = folder.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    folder.setPath(path);
    return folder.resolved(QUrl(accurateRipPath()));
}

QUrl DiscIds::defaultAccurateRipBase()
{
    return QUrl(QStringLiteral("http://www.accuraterip.com/accuraterip/"));
}

QString DiscIds::accurateRipText() const
{
    return accurateRipError.isEmpty() ? accurateRipFileName().mid(5).chopped(4)
                                      : QStringLiteral("none: ") + accurateRipError;
}

QString DiscIds::freedbText() const
{
    return QStringLiteral("%1").arg(freedbId, 8, 16, QLatin1Char('0'));
}

QString DiscIds::musicBrainzText() const
{
    return musicBrainzError.isEmpty() ? musicBrainzId : QStringLiteral("none: ") + musicBrainzError;
}

DiscLayout DiscLayout::of(const CdGrabber::DiscToc& toc)
{
    DiscLayout layout;
    layout.firstTrack = toc.numbers.isEmpty() ? 1 : toc.numbers.first();
    layout.firstSectors = toc.firstSectors;
    layout.audio = toc.audio;
    layout.leadOut = toc.leadOut;
    layout.sessions = toc.sessions;
    return layout;
}

Result<DiscIds> computeDiscIds(const DiscLayout& layout)
{
    const qsizetype count = layout.firstSectors.size();
    if (count == 0 || layout.audio.size() != count)
        return Failure{QStringLiteral("The table of contents lists no tracks.")};
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 end = i + 1 < count ? layout.firstSectors[i + 1] : layout.leadOut;
        if (layout.firstSectors[i] < 0 || layout.firstSectors[i] >= end)
            return Failure{QStringLiteral("The table of contents has its tracks out of order.")};
    }

    DiscIds ids;
    quint32 id1 = 0;
    quint32 id2 = 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (!layout.audio[i])
            continue;
        ++ids.audioTracks;
        const auto start = quint32(layout.firstSectors[i]);
        id1 += start;
        id2 += std::max(start, 1u) * quint32(ids.audioTracks);
    }
    if (ids.audioTracks == 0) {
        ids.accurateRipError = QStringLiteral("the disc has no audio tracks");
    } else {
        const auto leadOut = quint32(layout.leadOut);
        ids.accurateRipId1 = id1 + leadOut;
        ids.accurateRipId2 = id2 + std::max(leadOut, 1u) * quint32(ids.audioTracks + 1);
    }

    int digits = 0;
    for (qint64 start : layout.firstSectors)
        digits += digitSum((start + LeadIn) / SectorsPerSecond);
    const qint64 seconds = (layout.leadOut + LeadIn) / SectorsPerSecond -
                           (layout.firstSectors[0] + LeadIn) / SectorsPerSecond;
    ids.freedbId = quint32(digits % 0xff) << 24 | quint32(seconds) << 8 | quint32(count);

    // The first session, and where it ends: before the next session's gap. Without sessions
    // given, data tracks after the last audio track make a later session, unless the layout has
    // no room for the gap before them (they then share the only session).
    qsizetype sessionTracks = count;
    qint64 sessionEnd = layout.leadOut;
    if (layout.sessions.size() == count) {
        while (sessionTracks > 1 && layout.sessions[sessionTracks - 1] > layout.sessions[0])
            --sessionTracks;
        if (sessionTracks < count)
            sessionEnd = layout.firstSectors[sessionTracks] - SessionGap;
    } else {
        qsizetype audioEnd = count;
        while (audioEnd > 0 && !layout.audio[audioEnd - 1])
            --audioEnd;
        if (audioEnd > 0 && audioEnd < count &&
            layout.firstSectors[audioEnd] - SessionGap > layout.firstSectors[audioEnd - 1]) {
            sessionTracks = audioEnd;
            sessionEnd = layout.firstSectors[audioEnd] - SessionGap;
        }
    }
    const int last = layout.firstTrack + int(sessionTracks) - 1;
    if (layout.firstTrack < 1 || last > 99) {
        ids.musicBrainzError = QStringLiteral("its track numbers run past 99");
        return ids;
    }
    if (sessionEnd <= layout.firstSectors[sessionTracks - 1]) {
        ids.musicBrainzError =
            QStringLiteral("its first session ends before its last track starts");
        return ids;
    }
    int offsets[100] = {};
    offsets[0] = int(sessionEnd + LeadIn);
    for (qsizetype i = 0; i < sessionTracks; ++i)
        offsets[layout.firstTrack + i] = int(layout.firstSectors[i] + LeadIn);
    const std::unique_ptr<DiscId, void (*)(DiscId*)> disc(discid_new(), discid_free);
    if (!disc || !discid_put(disc.get(), layout.firstTrack, last, offsets))
        ids.musicBrainzError =
            QStringLiteral("libdiscid refused the table of contents: %1")
                .arg(disc ? QString::fromUtf8(discid_get_error_msg(disc.get())) : QString());
    else
        ids.musicBrainzId = QString::fromLatin1(discid_get_id(disc.get()));
    QStringList toc{QString::number(layout.firstTrack), QString::number(last),
                    QString::number(offsets[0])};
    for (int n = layout.firstTrack; n <= last; ++n)
        toc << QString::number(offsets[n]);
    ids.musicBrainzToc = toc.join(u' ');
    return ids;
}
