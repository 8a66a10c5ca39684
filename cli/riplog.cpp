#include "cli/riplog.h"

#include "cli/printable.h"

#include <QStringList>

namespace riplog
{
namespace
{

QString hex(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
}

// mm:ss.fff and the sector count.
QString lengthText(qint64 sectors)
{
    const qint64 milliseconds = sectors * 1000 / CdGrabber::SectorsPerSecond;
    return QStringLiteral("%1:%2.%3 (%4 sectors)")
        .arg(milliseconds / 60000)
        .arg(milliseconds / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(milliseconds % 1000, 3, 10, QLatin1Char('0'))
        .arg(sectors);
}

// Where each suspicious sector lies in the track, as m:ss.ff (frames of 1/75 s).
QString positionsText(const QList<qint64>& sectors, qint64 trackStart)
{
    if (sectors.isEmpty())
        return QStringLiteral("none");
    QStringList positions;
    for (const qint64 sector : sectors) {
        const qint64 into = std::max<qint64>(sector - trackStart, 0);
        positions << QStringLiteral("%1:%2.%3")
                         .arg(into / 75 / 60)
                         .arg(into / 75 % 60, 2, 10, QLatin1Char('0'))
                         .arg(into % 75, 2, 10, QLatin1Char('0'));
    }
    return positions.join(QStringLiteral(", "));
}

} // namespace

bool accuratelyRipped(const Track& track)
{
    return track.result == u"written" && track.accurateRip.startsWith(u"accurately ripped");
}

QString summary(const QList<Track>& tracks)
{
    // Why tracks are not verified, each track counted once, the first reason that holds: a
    // mismatch is told apart from a track the database doesn't know.
    int notAccurate = 0;
    int notInDatabase = 0;
    int notLookedUp = 0;
    int notWritten = 0;
    for (const Track& track : tracks) {
        if (accuratelyRipped(track))
            continue;
        if (track.result != u"written")
            ++notWritten;
        else if (track.accurateRip.startsWith(u"not accurate"))
            ++notAccurate;
        else if (track.accurateRip == u"not in the database" ||
                 track.accurateRip == u"the disc is not in the database")
            ++notInDatabase;
        else
            ++notLookedUp;
    }
    const int unverified = notAccurate + notInDatabase + notLookedUp + notWritten;
    if (unverified == 0 && !tracks.isEmpty())
        return QStringLiteral("All tracks accurately ripped");
    QStringList reasons;
    const auto add = [&reasons](int count, const char* reason) {
        if (count > 0)
            reasons << QString::number(count) + u' ' + QLatin1String(reason);
    };
    add(notAccurate, "not accurate (the database holds other checksums)");
    add(notInDatabase, "not in the database");
    add(notLookedUp, "not looked up");
    add(notWritten, "not written");
    QString text = unverified == 1 ? QStringLiteral("1 track not verified")
                                   : QStringLiteral("%1 tracks not verified").arg(unverified);
    if (!reasons.isEmpty())
        text += QStringLiteral(": ") + reasons.join(QStringLiteral(", "));
    return text;
}

QString text(const Disc& disc, const QList<Track>& tracks)
{
    QString log;
    // A value can't start a line of its own: album text never forges a field.
    const auto line = [&log](const QString& field, const QString& value) {
        log += field + QStringLiteral(": ") + printable::escaped(value) + u'\n';
    };
    log += QStringLiteral("Tambrel rip log\n\n");
    line(QStringLiteral("Program"), disc.program);
    line(QStringLiteral("Date"), disc.date);
    line(QStringLiteral("Source"), disc.source);
    line(QStringLiteral("Drive"), disc.drive);
    line(QStringLiteral("Read mode"), disc.readMode);
    if (!disc.encoder.isEmpty())
        line(QStringLiteral("Encoder"), disc.encoder);
    line(QStringLiteral("Read offset"), (disc.offset > 0 ? QStringLiteral("+") : QString()) +
                                            QString::number(disc.offset) +
                                            QStringLiteral(" samples"));
    line(QStringLiteral("Tracks on disc"), QString::number(disc.tracks));
    line(QStringLiteral("AccurateRip disc id"), disc.accurateRipId);
    line(QStringLiteral("FreeDB disc id"), disc.freedbId);
    line(QStringLiteral("MusicBrainz disc id"), disc.musicBrainzId);
    if (!disc.catalog.isEmpty())
        line(QStringLiteral("Catalogue number"), disc.catalog);
    line(QStringLiteral("AccurateRip lookup"), disc.lookup);
    for (const Track& track : tracks) {
        log += QStringLiteral("\nTrack %1\n").arg(track.number, 2, 10, QLatin1Char('0'));
        line(QStringLiteral("  Name"), track.name);
        line(QStringLiteral("  File"), track.file);
        line(QStringLiteral("  Format"), track.format);
        line(QStringLiteral("  Length"), lengthText(track.sectors));
        if (!track.isrc.isEmpty())
            line(QStringLiteral("  ISRC"), track.isrc);
        if (track.preEmphasis)
            line(QStringLiteral("  Pre-emphasis"),
                 QStringLiteral("yes (the file holds the audio as "
                                "recorded, with its emphasis)"));
        line(QStringLiteral("  Retries"), QString::number(track.retries));
        line(QStringLiteral("  Re-reads"), QString::number(track.read.reReads));
        line(QStringLiteral("  Repairs"), QString::number(track.read.repairs));
        line(QStringLiteral("  Skips"), QString::number(track.read.skips));
        line(QStringLiteral("  Suspicious positions"),
             positionsText(track.read.suspicious, track.firstSector));
        if (track.read.tested)
            line(QStringLiteral("  Test CRC32"), hex(track.read.testCrc32));
        if (track.proof.valid) {
            line(QStringLiteral("  CRC32"), hex(track.proof.crc32));
            // A copy that differs from its test read fails, and its file is never written.
            if (track.read.tested && track.read.testCrc32 == track.proof.crc32)
                line(QStringLiteral("  Test and copy"), QStringLiteral("Copy verified"));
            line(QStringLiteral("  AccurateRip v1"), hex(track.proof.accurateRipV1));
            line(QStringLiteral("  AccurateRip v2"), hex(track.proof.accurateRipV2));
        }
        line(QStringLiteral("  AccurateRip"), track.accurateRip);
        line(QStringLiteral("  Result"), track.result);
    }
    log += u'\n';
    line(QStringLiteral("Summary"), summary(tracks));
    return log;
}

} // namespace riplog
