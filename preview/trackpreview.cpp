#include "preview/trackpreview.h"

#include "app/apptext.h"
#include "app/userdialogs.h"
#include "components/audioplayer.h"
#include "components/cdgrabber.h"
#include "preview/previewview.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cmath>

TrackPreview::TrackPreview(CdGrabber& grabber, AudioPlayer& player, UserDialogs& dialogs,
                           QObject* window)
    : QObject(window), m_grabber(grabber), m_player(player), m_dialogs(dialogs), m_owner(window)
{
}

void TrackPreview::setView(PreviewView* view, QObject* owner)
{
    m_view = view;
    m_owner = owner;
    if (m_view)
        BufferSize = m_view->bufferSliderValue();
    flgBufferSync = false;
}

void TrackPreview::StartPlay()
{
    if (flgPlay || !m_view)
        return;
    QCoreApplication::processEvents();
    m_view->redraw();
    m_view->setOkEnabled(false);
    SampleOffset = 0;
    flgPlay = true;
    flgSeeking = false;
    m_view->setPlayEnabled(false);
    m_view->setStopEnabled(true);

    m_grabber.SetArrayReadParam1(0);
    m_grabber.SetArrayReadParam2(0);
    m_grabber.SetArrayReadParam3(0);
    Status started = m_grabber.OpenArrayRead();
    m_view->setPositionEnabled(true);
    TotalSamples = m_grabber.TrackSectors() * m_grabber.SectorSize() / 4;
    // No chunk is queued here: the player asks for the first one itself.
    if (started.ok())
        started = m_player.StartArrayPlay();
    if (!started.ok())
        AudioPlayer_Failed(started.error());
}

void TrackPreview::StopPlay()
{
    if (!flgPlay)
        return;
    flgPlay = false;
    if (m_view)
        m_view->redraw();
    QCoreApplication::processEvents();
    m_player.Stop();
    m_grabber.Abort();
    if (!m_view)
        return;
    m_view->setPlayEnabled(true);
    m_view->setStopEnabled(false);
    m_view->setPosition(0);
    m_view->setMeter(0, 0);
    m_view->setMeter(1, 0);
    m_view->setPositionEnabled(false);
    m_view->setOkEnabled(true);
    m_view->setTimeText(timeText(0));
}

void TrackPreview::loadNextChunk()
{
    if (!flgPlay || flgSeeking)
        return;
    const Result<QByteArray> chunk = m_grabber.ReadArray(BufferSize);
    if (!chunk.ok()) {
        AudioPlayer_Failed(chunk.error());
        return;
    }
    // An empty chunk at the track's end tells the player to finish.
    m_player.AddArray(chunk.value());
}

void TrackPreview::AudioPlayer_Failed(const QString& description)
{
    if (!flgPlay)
        return;
    StopPlay();
    tell(QStringLiteral("Error during playing the track! ") + description);
}

void TrackPreview::AudioPlayer_Timer(qint64 CurrentSamples, int LevelLeft, int LevelRight)
{
    if (!m_view)
        return;
    m_view->setMeter(0, meterValue(LevelLeft));
    m_view->setMeter(1, meterValue(LevelRight));
    const qint64 position = CurrentSamples + SampleOffset;
    m_view->setTimeText(timeText(AudioPlayer::SamplesToMs(position)));
    if (!flgSeeking) {
        const qint64 percent = TotalSamples < 1 ? 0 : std::llround(position * 100.0 / TotalSamples);
        m_view->setPosition(int(qMin<qint64>(percent, 100)));
    }
}

void TrackPreview::slPosition_MouseDown()
{
    flgSeeking = true;
}

void TrackPreview::slPosition_MouseUp(int value)
{
    if (!flgPlay) {
        flgSeeking = false;
        return;
    }
    m_player.ClearArrays();
    const qint64 sectors = m_grabber.TrackSectors();
    const double target = double(qint64(value) * sectors) / 100.0;
    if (const Status sought = m_grabber.SeekArray(std::llround(target), 3); !sought.ok()) {
        tell(QStringLiteral("Error during seeking the track! ") + sought.error());
        StopPlay();
        return;
    }
    SampleOffset = std::llround(target * m_grabber.SectorSize() / 4.0);
    flgSeeking = false;
    // Two chunks, so that the player has one to play while it asks for the next.
    loadNextChunk();
    loadNextChunk();
}

void TrackPreview::slBuffer_MouseUp(int value)
{
    if (std::exchange(flgBufferSync, false))
        return;
    BufferSize = value;
    const QString text = QString::number(value);
    // The box echoes only a change: the flag waits for it only when one will come.
    if (m_view && m_view->bufferText() != text) {
        flgBufferSync = true;
        m_view->setBufferText(text);
    }
}

void TrackPreview::txtBuffer_Change(const QString& text)
{
    if (std::exchange(flgBufferSync, false))
        return;
    const std::optional<int> size = bufferFromText(text);
    if (!size)
        return;
    // A size beyond the slider's range is kept; the slider shows its nearest end.
    BufferSize = *size;
    const int shown = qBound(BufferMin, *size, BufferMax);
    if (m_view && shown != m_view->bufferSliderValue())
        m_view->setBufferSliderValue(shown);
}

int TrackPreview::meterValue(int level)
{
    const int above = qMax(level - 40, 1);
    return int(std::lround(above / 0.6));
}

QString TrackPreview::timeText(qint64 ms)
{
    return QStringLiteral("Current second: %1.%2")
        .arg(ms / 1000, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

std::optional<int> TrackPreview::bufferFromText(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    // The leading number, blanks ignored; no number reads as 0.
    QString compact = text;
    compact.remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression leading(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)"));
    const QRegularExpressionMatch match = leading.match(compact);
    const double number = match.hasMatch() ? match.captured(0).toDouble() : 0.0;
    // Rounded to the nearest, halves to even; kept within a 16-bit number.
    const double rounded = std::nearbyint(qBound(-32768.0, number, 32767.0));
    return qMax(int(rounded), 1);
}

void TrackPreview::tell(const QString& text)
{
    m_dialogs.ask(m_owner, {text, apptext::title(), MessageBox::Buttons::Ok, MessageBox::Icon::None,
                            MessageBox::Answer::Ok});
}
