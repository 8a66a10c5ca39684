#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Writes CD disc images (a .cue sheet and one .bin file of raw 2352-byte sectors) from a short
// description, so that tests and the demo never need binary data in the repository.
namespace discimage
{

inline constexpr int SectorBytes = 2352;
inline constexpr int SectorsPerSecond = 75;

enum class TrackKind { Audio, Data };
enum class Content { Tone, Noise, Silence };

struct TrackSpec {
    TrackKind kind = TrackKind::Audio;
    qint64 sectors = 0;
    Content content = Content::Tone;
    double frequency = 440.0; // Hz, for Content::Tone
    bool newSession = false;  // the track opens the disc's next session (an enhanced CD)
};

struct DiscSpec {
    QList<TrackSpec> tracks;
    quint32 seed = 1; // for Content::Noise; the same seed gives the same samples
};

// Parses one track description: [+]KIND:LENGTH[:CONTENT], where KIND is "audio" or "data", LENGTH
// is seconds ("65", "4.5", "4:05.120" as m:ss.fff) or sectors with an "s" suffix ("18375s"), and
// CONTENT is "tone" (440 Hz), "tone=HZ", "noise" or "silence". A leading "+" starts a new
// session with this track. Returns nothing on bad input.
std::optional<TrackSpec> parseTrack(const QString& text);

// Writes cuePath and, beside it, the .bin of the same base name. A track that starts a session
// gets a "REM SESSION nn" line before it; on a drive it lies 11,400 sectors (the first session's
// lead-out and the next lead-in and pregap) after its place in the .bin, 6,900 for later sessions,
// and its data sectors' headers carry that address. Returns an error text on failure, nothing
// on success.
std::optional<QString> writeImage(const QString& cuePath, const DiscSpec& disc);

// The exact 16-bit little-endian stereo PCM bytes an audio track holds in the image
// (what a bit-exact rip of that track must produce).
QByteArray trackPcm(const DiscSpec& disc, int trackIndex);

} // namespace discimage
