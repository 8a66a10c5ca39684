#pragma once

#include "components/audioplayer.h"

#include <QString>

#include <memory>

// The audio player on alsa-lib: the device "default", or the one named by TAMBREL_AUDIO_DEVICE.
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
