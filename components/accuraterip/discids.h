#pragma once

#include "components/cdgrabber.h"
#include "components/result.h"

#include <QList>
#include <QString>
#include <QUrl>

// A disc's table of contents as the identities are computed from it: sectors count from 0 at
// the first track's start on a plain audio disc (LBA without the 150-sector lead-in).
struct DiscLayout {
    int firstTrack = 1;         // the number of the disc's first track
    QList<qint64> firstSectors; // each track's first sector
    QList<bool> audio;          // whether each track is audio (same length as firstSectors)
    qint64 leadOut = 0;         // the lead-out's first sector (the end of the disc's last track)
    // Each track's session, from 1. Empty: unknown, and data tracks after the last audio track
    // are taken to be a later session, 11,400 sectors after the audio session's lead-out.
    QList<int> sessions;

    // The layout of a grabber's disc: its own first track number and sessions.
    static DiscLayout of(const CdGrabber::DiscToc& toc);
};

// The identities by which the databases know a disc.
//
// AccurateRip numbers the disc's audio tracks from 1 and sums their first sectors (id 1) and the
// first sectors (at least 1) times the track number (id 2), each with the lead-out of the whole
// disc, the latter times the audio track count plus one. On an enhanced disc (audio, then a data
// session) that is the data track's end, as EAC and dBpoweramp compute it; on a mixed-mode disc
// (data track first) the data track is left out.
// The freedb id takes every track, data tracks too, and that same lead-out, in seconds from the
// start of the lead-in (sectors + 150, 75 a second).
// The MusicBrainz id (libdiscid) takes the first session only, numbered as the disc numbers its
// tracks: on an enhanced disc the audio tracks, ending 11400 sectors before the data session.
// Each id is computed on its own: one that can't be leaves its reason and the others stand.
struct DiscIds {
    int audioTracks = 0;
    quint32 accurateRipId1 = 0;
    quint32 accurateRipId2 = 0;
    quint32 freedbId = 0;
    QString musicBrainzId;
    // The TOC the MusicBrainz service takes beside the id: first and last track, the session's
    // lead-out, each track's start, counted from the lead-in's start.
    QString musicBrainzToc;
    // Why an id is missing (empty while it is there).
    QString accurateRipError;
    QString musicBrainzError;

    // "dBAR-013-00206791-01486a82-a710de0d.bin"
    QString accurateRipFileName() const;
    // "013-00206791-01486a82-a710de0d", or "none: why"; the freedb id in 8 hex digits; the
    // MusicBrainz id, or "none: why".
    QString accurateRipText() const;
    QString freedbText() const;
    QString musicBrainzText() const;
    // The record's path below the database's folder: the last, second-last and third-last hex
    // digits of id 1 as folders, then the file name ("1/9/7/dBAR-....bin").
    QString accurateRipPath() const;
    // The record's address below `base` (the database's folder, by default AccurateRip's own).
    QUrl accurateRipUrl(const QUrl& base = defaultAccurateRipBase()) const;
    static QUrl defaultAccurateRipBase();
};

// Fails on a table without tracks or with sectors out of order; a disc without audio tracks has
// a freedb id only.
Result<DiscIds> computeDiscIds(const DiscLayout& layout);
