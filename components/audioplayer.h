#pragma once

#include "components/result.h"

#include <QByteArray>
#include <QObject>

#include <algorithm>
#include <cmath>

// The audio player: plays queued chunks of 16-bit stereo audio at 44 100 Hz and asks for more by
// its signals. It counts the sample frames the device has really played (not what was queued),
// from 0 at StartArrayPlay() and again from 0 after ClearArrays(). Every call and every signal
// happens on the thread the object lives on (the user-interface thread); the audio itself runs
// on a thread of the implementation's, so the caller never waits for the device. A signal raised
// for an earlier playback (before the last StartArrayPlay, ClearArrays or Stop) is never
// delivered.
class AudioPlayer : public QObject
{
    Q_OBJECT

public:
    static constexpr int SampleRate = 44100;
    static constexpr int BytesPerFrame = 4;

    using QObject::QObject;

    // Starts playing what will be queued; the player asks for the first chunk with
    // RequestOnLoadArray. A device that can't be opened is a failure with a description.
    virtual Status StartArrayPlay() = 0;
    // Ends the playback at once; queued audio is dropped.
    virtual void Stop() = 0;
    // Queues one chunk (whole frames). An empty chunk marks the end: once everything queued
    // before it has played, EndPlay follows.
    virtual void AddArray(const QByteArray& chunk) = 0;
    // Drops every queued chunk and counts played frames from 0 again (a seek).
    virtual void ClearArrays() = 0;
    // Milliseconds of a number of sample frames.
    static qint64 SamplesToMs(qint64 samples) { return samples * 1000 / SampleRate; }

    // Played sample frames since the playback (or the last ClearArrays) began.
    virtual qint64 playedFrames() const = 0;

    // Level of a channel's peak: 100 is full scale, 40 is -60 dBFS, linear in dB between (one
    // point a decibel), 0 for -100 dBFS and below.
    static int levelOfPeak(int peak)
    {
        if (peak <= 0)
            return 0;
        const double dB = 20.0 * std::log10(peak / 32768.0);
        return int(std::lround(std::clamp(100.0 + dB, 0.0, 100.0)));
    }

signals:
    // More audio is wanted: fewer than about half a second is queued.
    void RequestOnLoadArray();
    // Everything queued has played and the end was not marked: more audio is wanted at once.
    void EndArrayPlay();
    // Everything up to the end mark has played; the playback is over.
    void EndPlay();
    // About 20 times a second while playing: frames played so far, and the peak levels of what
    // plays now.
    void Timer(qint64 CurrentSamples, int LevelLeft, int LevelRight);
    // The device failed while playing (unplugged, say); the playback has ended.
    void PlaybackFailed(const QString& description);
};
