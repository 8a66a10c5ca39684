#pragma once

#include <QString>

// What the component writes into every encoded file about its track (a WAV file stays plain
// PCM): ID3v2 frames in MP3, Vorbis comments in Ogg Vorbis and FLAC, ASF attributes in WMA.
struct TrackTags {
    int number = 0; // the track's number on the disc; 0: no tags at all
    int total = 0;  // the disc's tracks
    QString musicBrainzDiscId; // empty: not written
};
