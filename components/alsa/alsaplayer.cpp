#include "components/alsa/alsaplayer.h"

struct AlsaPlayer::Impl {
};

AlsaPlayer::AlsaPlayer(QObject* parent) : AudioPlayer(parent), d(std::make_unique<Impl>()) {}

AlsaPlayer::~AlsaPlayer() = default;

Status AlsaPlayer::StartArrayPlay()
{
    return Failure{QStringLiteral("Playing is not available yet.")};
}

void AlsaPlayer::Stop() {}

void AlsaPlayer::AddArray(const QByteArray&) {}

void AlsaPlayer::ClearArrays() {}

qint64 AlsaPlayer::playedFrames() const
{
    return 0;
}
