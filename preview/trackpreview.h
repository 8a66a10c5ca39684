#pragma once

#include <QObject>
#include <QString>

#include <optional>

class AudioPlayer;
class CdGrabber;
class PreviewView;
class UserDialogs;

// The preview of the grabber's current track: the grabber reads the track in chunks, the player
// plays them and asks for more. The dialog shows it through PreviewView; the player's signals
// reach it through the main window.
class TrackPreview final : public QObject
{
    Q_OBJECT

public:
    static constexpr int BufferMin = 5;
    static constexpr int BufferMax = 30;

    TrackPreview(CdGrabber& grabber, AudioPlayer& player, UserDialogs& dialogs, QObject* window);

    // Called once the dialog exists (owner: the dialog, which owns the messages); the preview
    // starts stopped.
    void setView(PreviewView* view, QObject* owner);

    void StartPlay();
    void StopPlay();

    // The player's events.
    void loadNextChunk();
    void AudioPlayer_Timer(qint64 CurrentSamples, int LevelLeft, int LevelRight);
    void AudioPlayer_Failed(const QString& description);

    // The user's controls.
    void slPosition_MouseDown();
    void slPosition_MouseUp(int value);
    void slBuffer_MouseUp(int value);
    void txtBuffer_Change(const QString& text);

    // True while the preview plays; the batch grab also sets it while it sets up a row.
    bool flgPlay = false;
    bool flgSeeking = false;
    qint64 TotalSamples = 0;
    qint64 SampleOffset = 0;
    int BufferSize = BufferMax;
    bool flgBufferSync = false;

    // Meter value of a level: the part above 40 (at least 1), scaled by 1/0.6.
    static int meterValue(int level);
    // "Current second: 01.500" for 1500 ms.
    static QString timeText(qint64 ms);
    // The buffer a typed text asks for (its leading number, rounded, at least 1); nothing for an
    // empty text.
    static std::optional<int> bufferFromText(const QString& text);

private:
    void tell(const QString& text);

    CdGrabber& m_grabber;
    AudioPlayer& m_player;
    UserDialogs& m_dialogs;
    QObject* m_owner;
    PreviewView* m_view = nullptr;
};
