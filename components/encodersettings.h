#pragma once

#include <QString>

// The MP3 encoder's settings, mapped onto LAME. A new object carries LAME's own defaults
// (44.1 kHz, joint stereo, 128 kbit/s constant bitrate). A value of -1 leaves LAME's choice.
struct Mp3EncoderSettings
{
    int SampleRate = 44100;  // Hz of the encoded file
    int VbrMode = -1;        // -1 constant bitrate; 0 default VBR, 1 old, 2 new, 3 MTRH, 4 ABR
    int CbrBitrate = 128;    // kbit/s
    int VbrMaxBitrate = -1;  // kbit/s
    int Channels = 2;        // 1 mono, 2 stereo
    int ChannelMode = 2;     // 1 stereo, 2 joint stereo, 3 forced joint stereo, 4 dual channels
    int HighpassFrequency = -1; // Hz; -1 off
    int LowpassFrequency = -1;  // Hz; -1 LAME's choice
    int HighpassWidth = -1;     // Hz
    int LowpassWidth = -1;      // Hz
    int VbrQuality = 4;         // 0 best .. 9 smallest

    bool operator==(const Mp3EncoderSettings&) const = default;
};

// The Ogg Vorbis encoder's format. quality -1: managed bitrates (bitrate, and minBitrate and
// maxBitrate when they are not 0, in kbit/s); otherwise quality 0..1000, where 300 is Vorbis
// quality 3. The default is oggenc's own: quality 3 at 44.1 kHz stereo.
struct OggFormat
{
    int sampleRate = 44100;
    int channels = 2;
    int bitrate = 128;
    int minBitrate = 0;
    int maxBitrate = 0;
    int quality = 300;

    bool operator==(const OggFormat&) const = default;
};

// One of the WMA profiles (FFmpeg's wmav2 encoder in an ASF file).
struct WmaProfile
{
    int bitrate;    // kbit/s
    int sampleRate; // Hz
    int channels;
};

// Everything a grab needs to know to encode: a copy is taken when a grab starts.
struct EncoderSettings
{
    Mp3EncoderSettings mp3;
    OggFormat ogg;
    int wmaProfile = 8;
    int flacLevel = 5; // FLAC compression level: 0 fastest .. 8 smallest; 5 is flac's default
};
