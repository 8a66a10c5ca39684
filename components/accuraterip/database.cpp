#include "components/accuraterip/database.h"

#include "components/net/httpget.h"

#include <memory>

namespace
{

constexpr qsizetype HeaderSize = 13;
constexpr qsizetype EntrySize = 9;

quint32 le32(const QByteArray& bytes, qsizetype at)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

} // namespace

Result<AccurateRipRecord> AccurateRipRecord::parse(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return Failure{QStringLiteral("the AccurateRip record is empty")};
    AccurateRipRecord record;
    for (qsizetype at = 0; at < bytes.size();) {
        Chunk chunk;
        chunk.trackCount = uchar(bytes[at]);
        if (bytes.size() - at < HeaderSize + chunk.trackCount * EntrySize || chunk.trackCount == 0)
            return Failure{
                QStringLiteral("the AccurateRip record is damaged (%1 bytes)").arg(bytes.size())};
        chunk.id1 = le32(bytes, at + 1);
        chunk.id2 = le32(bytes, at + 5);
        chunk.freedbId = le32(bytes, at + 9);
        at += HeaderSize;
        for (int i = 0; i < chunk.trackCount; ++i, at += EntrySize)
            chunk.tracks.append({uchar(bytes[at]), le32(bytes, at + 1), le32(bytes, at + 5)});
        record.chunks.append(std::move(chunk));
    }
    return record;
}

QString AccurateRipVerdict::text() const
{
    switch (kind) {
    case Kind::Accurate:
        return QStringLiteral("accurately ripped (confidence %1, v%2)")
            .arg(confidence)
            .arg(version);
    case Kind::NoMatch:
        return bestConfidence > 0
                   ? QStringLiteral("not accurate: the database holds other checksums "
                                    "(confidence up to %1)")
                         .arg(bestConfidence)
                   : QStringLiteral("not in the database");
    case Kind::DiscNotFound:
        return QStringLiteral("the disc is not in the database");
    case Kind::LookupFailed:
        break;
    }
    return QStringLiteral("lookup failed: %1").arg(reason);
}

AccurateRipVerdict matchTrack(const AccurateRipRecord& record, const DiscIds& ids, int position,
                              quint32 v1, quint32 v2)
{
    AccurateRipVerdict verdict;
    verdict.kind = AccurateRipVerdict::Kind::NoMatch;
    for (const AccurateRipRecord::Chunk& chunk : record.chunks) {
        if (chunk.trackCount != ids.audioTracks || chunk.id1 != ids.accurateRipId1 ||
            chunk.id2 != ids.accurateRipId2 || chunk.freedbId != ids.freedbId || position < 0 ||
            position >= chunk.tracks.size())
            continue;
        const AccurateRipRecord::Entry& entry = chunk.tracks[position];
        if (entry.confidence == 0)
            continue;
        verdict.bestConfidence = std::max(verdict.bestConfidence, entry.confidence);
        const int version = entry.crc == v2 ? 2 : entry.crc == v1 ? 1 : 0;
        if (version == 0)
            continue;
        if (verdict.kind != AccurateRipVerdict::Kind::Accurate ||
            entry.confidence > verdict.confidence ||
            (entry.confidence == verdict.confidence && version > verdict.version)) {
            verdict.kind = AccurateRipVerdict::Kind::Accurate;
            verdict.confidence = entry.confidence;
            verdict.version = version;
        }
    }
    return verdict;
}

AccurateRipVerdict AccurateRipLookup::verdict(const DiscIds& ids, int position, quint32 v1,
                                              quint32 v2) const
{
    if (outcome == Outcome::Found)
        return matchTrack(record, ids, position, v1, v2);
    AccurateRipVerdict v;
    v.kind = outcome == Outcome::DiscNotFound ? AccurateRipVerdict::Kind::DiscNotFound
                                              : AccurateRipVerdict::Kind::LookupFailed;
    v.reason = reason;
    return v;
}

AccurateRipLookup fetchAccurateRipRecord(const DiscIds& ids, const QUrl& base, int timeoutMs)
{
    AccurateRipLookup lookup;
    const QUrl url = ids.accurateRipUrl(base);
    // A record is 13 bytes and 9 for each track, for each pressing: far below a megabyte.
    const HttpAnswer answer = httpGet(QNetworkRequest(url), timeoutMs, 1024 * 1024);
    if (answer.stopped) {
        lookup.reason = QStringLiteral("the lookup was stopped");
        return lookup;
    }
    if (answer.timedOut) {
        lookup.reason = QStringLiteral("no answer from %1 within %2 s")
                            .arg(url.host())
                            .arg(double(timeoutMs) / 1000.0);
        return lookup;
    }
    if (answer.status == 404) {
        lookup.outcome = AccurateRipLookup::Outcome::DiscNotFound;
        return lookup;
    }
    if (answer.failed) {
        lookup.reason = answer.errorText;
        return lookup;
    }
    if (answer.status != 200) {
        lookup.reason = QStringLiteral("HTTP status %1").arg(answer.status);
        return lookup;
    }
    Result<AccurateRipRecord> record = AccurateRipRecord::parse(answer.body);
    if (!record.ok()) {
        lookup.reason = record.error();
        return lookup;
    }
    lookup.outcome = AccurateRipLookup::Outcome::Found;
    lookup.record = record.take();
    return lookup;
}
