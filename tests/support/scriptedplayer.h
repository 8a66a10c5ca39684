#pragma once

#include "components/audioplayer.h"

#include <QList>
#include <QStringList>

// A player that plays nothing: it records what it was asked and raises its events when the test
// says so. For the preview's state rules only; the ALSA player is tested on ALSA's null device.
class ScriptedPlayer final : public AudioPlayer
{
    Q_OBJECT

public:
    QStringList calls;
    QList<QByteArray> chunks;
    QString failure;

    Status StartArrayPlay() override
    {
        calls << QStringLiteral("StartArrayPlay");
        if (!failure.isEmpty())
            return Failure{failure};
        return {};
    }
    void Stop() override { calls << QStringLiteral("Stop"); }
    void AddArray(const QByteArray& chunk) override
    {
        calls << QStringLiteral("AddArray");
        chunks << chunk;
    }
    void ClearArrays() override { calls << QStringLiteral("ClearArrays"); }
    qint64 playedFrames() const override { return 0; }

    void raiseRequest() { emit RequestOnLoadArray(); }
    void raiseEndPlay() { emit EndPlay(); }
    void raiseTimer(qint64 samples, int left, int right) { emit Timer(samples, left, right); }
};
