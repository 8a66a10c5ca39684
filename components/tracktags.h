#pragma once

#include "components/albuminfo.h"

#include <QString>

// What the component writes into every encoded file about its track (a WAV file stays plain
// PCM): ID3v2 frames in MP3, Vorbis comments in Ogg Vorbis and FLAC, ASF attributes in WMA.
struct TrackTags {
    int number = 0;            // the track's number on the disc; 0: no tags at all
    int total = 0;             // the disc's tracks
    QString musicBrainzDiscId; // empty: not written
    // What the disc itself says of the track and the disc (empty or false: not written): the
    // track's ISRC, the disc's catalogue number (its UPC/EAN bar code), and whether the track's
    // audio was recorded with pre-emphasis (it is written as it is, never de-emphasised).
    QString isrc;
    QString barcode;
    bool preEmphasis = false;
    // The album's and the track's texts, where known (empty ones are not written).
    QString title;
    QString artist;
    QString album;
    QString albumArtist;
    QString date;
    QString genre;
    QString composer;
    QString musicBrainzReleaseId;
    QString musicBrainzRecordingId;
};

// Fills the tags' texts from album data, for the track at trackIndex on the disc (the number,
// total and disc id stay as they are).
inline void addAlbumTags(TrackTags& tags, const AlbumInfo& album, int trackIndex)
{
    const TrackInfo track = trackIndex >= 0 && trackIndex < album.tracks.size()
                                ? album.tracks[trackIndex]
                                : TrackInfo{};
    tags.title = track.title;
    tags.artist = track.artist.isEmpty() ? album.artist : track.artist;
    tags.album = album.title;
    tags.albumArtist = album.artist;
    tags.date = album.date;
    tags.genre = album.genre;
    tags.composer = track.songwriter;
    tags.musicBrainzReleaseId = album.musicBrainzReleaseId;
    tags.musicBrainzRecordingId = track.musicBrainzRecordingId;
}
