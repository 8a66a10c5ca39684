#pragma once

#include "components/audioplayer.h"

#include <QString>

#include <memory>

// The audio player on alsa-lib: the device "default", or the one named by TAMBREL_AUDIO_DEVICE.
// The device is opened by StartArrayPlay() and closed by Stop(), at the end mark (EndPlay) or
// when it fails (PlaybackFailed); a thread of the player's own writes to it, never blocking on
// it, so every call returns at once. A device that takes audio faster than it plays (the "null"
// device) is held to the pace of the clock.
class AlsaPlayer final : public AudioPlayer
{
    Q_OBJECT

public:
    explicit AlsaPlayer(QObject* parent = nullptr);
    ~AlsaPlayer() override;

    Status StartArrayPlay() override;
    void Stop() override;
    void AddArray(const QByteArray& chunk) override;
    void ClearArrays() override;
    qint64 playedFrames() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
