#pragma once

#include <QList>
#include <QString>

// What is known of an album and its tracks, and where it came from: a cue sheet's TITLE,
// PERFORMER, SONGWRITER and REM lines, a disc's CD-Text, or a MusicBrainz release.
struct TrackInfo {
    QString title;
    QString artist;     // empty: the album's
    QString songwriter;
    QString musicBrainzRecordingId;
};

struct AlbumInfo {
    QString source; // "cue sheet", "CD-Text", "MusicBrainz"; empty: nothing is known
    QString title;
    QString artist;
    QString date;  // as given: "1997", "1997-05-12"
    QString genre;
    QString musicBrainzReleaseId;
    QList<TrackInfo> tracks; // in disc order, one per track of the disc (data tracks too)

    bool isEmpty() const { return source.isEmpty(); }
};
