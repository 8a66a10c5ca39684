#pragma once

#include "components/accuraterip/discids.h"
#include "components/result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

// A disc's record in the AccurateRip database (a dBAR file): one or more chunks, each for one
// pressing or one kind of checksum (v1 and v2 entries come in chunks of their own), each headed
// by the track count and the disc's ids. All numbers are little-endian.
struct AccurateRipRecord {
    struct Entry {
        int confidence = 0;   // how many rips submitted this checksum
        quint32 crc = 0;      // AccurateRip v1 or v2 checksum of the track
        quint32 frame450 = 0; // checksum of the track's 450th sector (offset detection)
    };
    struct Chunk {
        int trackCount = 0;
        quint32 id1 = 0;
        quint32 id2 = 0;
        quint32 freedbId = 0;
        QList<Entry> tracks; // by the track's position on the disc, from 0
    };
    QList<Chunk> chunks;

    // Fails on an empty or truncated record.
    static Result<AccurateRipRecord> parse(const QByteArray& bytes);
};

// What the database says about one track.
struct AccurateRipVerdict {
    enum class Kind {
        Accurate,     // a chunk of this disc holds the track's v1 or v2 checksum
        NoMatch,      // the disc's record was found but holds neither
        DiscNotFound, // the database has no record of the disc (HTTP 404)
        LookupFailed, // the database couldn't be asked: reason says why
    };
    Kind kind = Kind::LookupFailed;
    int confidence = 0;     // Accurate: the confidence of the best matching entry
    int version = 0;        // Accurate: 1 or 2, which checksum matched (2 where both did equally)
    int bestConfidence = 0; // NoMatch: the highest confidence of the track's entries
    QString reason;         // LookupFailed

    // "accurately ripped (confidence 5, v2)", "not accurate (not in the database; ...)" ...
    QString text() const;
};

// The verdict on the track at `position` on the disc (from 0: track number minus the first
// track's number; a mixed-mode disc's data track holds position 0) from the chunks of `record`
// whose header names the disc `ids`. Entries of confidence 0 hold no rip and never match.
AccurateRipVerdict matchTrack(const AccurateRipRecord& record, const DiscIds& ids, int position,
                              quint32 v1, quint32 v2);

// The outcome of fetching a disc's record.
struct AccurateRipLookup {
    enum class Outcome { Found, DiscNotFound, Failed };
    Outcome outcome = Outcome::Failed;
    AccurateRipRecord record; // Found
    QString reason;           // Failed: "connection refused", "no answer within 5 s", ...

    // The verdict for one track: matchTrack() on a found record, otherwise the lookup's outcome.
    AccurateRipVerdict verdict(const DiscIds& ids, int position, quint32 v1, quint32 v2) const;
};

// Fetches the record of `ids` from the database folder `base` (DiscIds::accurateRipUrl) over
// HTTP. Blocks the calling thread, running an event loop of its own, until the answer or until
// timeoutMs pass without one; needs a QCoreApplication and may be called from any thread (a
// worker thread is best: the calling thread's other events are handled meanwhile).
AccurateRipLookup fetchAccurateRipRecord(const DiscIds& ids,
                                         const QUrl& base = DiscIds::defaultAccurateRipBase(),
                                         int timeoutMs = 5000);
