#include "components/alsa/alsaplayer.h"

#include <QCoreApplication>
#include <QTimer>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "The levels read the little-endian audio as host samples");

namespace
{

using Clock = std::chrono::steady_clock;

constexpr qint64 Rate = AudioPlayer::SampleRate;
// Written ahead of the clock at most, so that a device that takes everything at once still plays
// in real time.
constexpr qint64 LeadFrames = Rate / 4;
// With fewer frames than this waiting to be played, more audio is requested.
constexpr qint64 LowWaterFrames = Rate / 2;
// The levels are kept for blocks of 10 ms of what was written.
constexpr qint64 PeakBlockFrames = Rate / 100;
// How often the audio thread looks at the device and the clock while something plays.
constexpr auto Tick = std::chrono::milliseconds(10);
constexpr int TimerMs = 50;
// Recoveries in a row without a frame written before the device is given up.
constexpr int MaxRecoveries = 8;

QString tr(const char* text)
{
    return QCoreApplication::translate("AlsaPlayer", text);
}

QString alsaError(int error)
{
    return QString::fromLocal8Bit(snd_strerror(error));
}

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using Pcm = std::unique_ptr<snd_pcm_t, PcmCloser>;

QString configuredDevice()
{
    const QString name = qEnvironmentVariable("TAMBREL_AUDIO_DEVICE");
    return name.isEmpty() ? QStringLiteral("default") : name;
}

// ALSA's library writes lines of its own to standard error as it looks for a device ("ALSA lib
// confmisc.c:855:(parse_card) cannot find card '0'", and eight more). They are kept instead, and
// the first of an attempt joins the program's own message: one line says what went wrong.
thread_local QString libraryDetail;

void keepLibraryMessage(const char*, int, const char*, int, const char* format, ...)
{
    if (!libraryDetail.isEmpty())
        return;
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    libraryDetail = QString::fromLocal8Bit(text);
}

QString withLibraryDetail(const QString& reason)
{
    return libraryDetail.isEmpty() ? reason : reason + QStringLiteral(" (") + libraryDetail + u')';
}

// Opens the device for interleaved 16-bit stereo at 44 100 Hz. The device is non-blocking: a
// busy device fails at once instead of holding the caller, and no write ever waits.
Result<Pcm> openDevice(const QString& name)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(keepLibraryMessage); });
    libraryDetail.clear();
    snd_pcm_t* raw = nullptr;
    int error = snd_pcm_open(&raw, name.toLocal8Bit().constData(), SND_PCM_STREAM_PLAYBACK,
                             SND_PCM_NONBLOCK);
    if (error < 0)
        return Failure{tr("The audio device %1 cannot be opened: %2.")
                           .arg(name, withLibraryDetail(alsaError(error)))};
    Pcm pcm(raw);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    if ((error = snd_pcm_hw_params_any(raw, hw)) >= 0 &&
        (error = snd_pcm_hw_params_set_access(raw, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) >= 0 &&
        (error = snd_pcm_hw_params_set_format(raw, hw, SND_PCM_FORMAT_S16_LE)) >= 0 &&
        (error = snd_pcm_hw_params_set_channels(raw, hw, 2)) >= 0 &&
        (error = snd_pcm_hw_params_set_rate(raw, hw, Rate, 0)) >= 0) {
        // A buffer of 0.2 s in periods of 50 ms, or what comes nearest; a device that has its
        // own ideas about sizes plays with those.
        unsigned bufferUs = 200000;
        unsigned periodUs = 50000;
        snd_pcm_hw_params_set_buffer_time_near(raw, hw, &bufferUs, nullptr);
        snd_pcm_hw_params_set_period_time_near(raw, hw, &periodUs, nullptr);
        error = snd_pcm_hw_params(raw, hw); // also prepares the device
    }
    if (error < 0)
        return Failure{tr("The audio device %1 cannot play 16-bit stereo audio at 44 100 Hz: %2.")
                           .arg(name, withLibraryDetail(alsaError(error)))};
    return pcm;
}

// Brings the device back after an underrun or a suspend: 0 when it can be written again,
// -EAGAIN while it is still suspended, else the error that ends the playback. (snd_pcm_recover
// would wait out a suspend in a loop.)
int recover(snd_pcm_t* pcm, int error)
{
    if (error == -ESTRPIPE) {
        error = snd_pcm_resume(pcm);
        if (error == 0 || error == -EAGAIN)
            return error;
    } else if (error != -EPIPE && error != -EBADFD) {
        return error;
    }
    return snd_pcm_prepare(pcm);
}

// The channels' peaks in written frames [start, end).
struct PeakBlock {
    qint64 start = 0;
    qint64 end = 0;
    int left = 0;
    int right = 0;
};

} // namespace

struct AlsaPlayer::Impl {
    explicit Impl(AlsaPlayer* player) : q(player) {}

    void run(quint64 runSession);
    void tick();
    // Hands an event to the player's thread; it is dropped there when the playback it belongs to
    // has been stopped, started again or cleared meanwhile.
    template <typename Event> void post(quint64 generation, Event event);

    AlsaPlayer* const q;
    QString deviceName;
    QTimer* timer = nullptr;

    // The player's thread only.
    bool playing = false;
    quint64 session = 0; // one for each StartArrayPlay
    qint64 lastTick = 0; // played frames at the last Timer
    Pcm pcm;             // the audio thread's while it runs
    std::thread thread;

    // Shared with the audio thread, under the mutex; generation changes on the player's thread
    // only, so that thread reads it without the lock.
    std::mutex mutex;
    std::condition_variable wake;
    bool woken = false;
    bool stopping = false;
    bool clearing = false; // the device still holds audio from before ClearArrays
    quint64 generation = 0;
    std::deque<QByteArray> queue;
    qsizetype queueOffset = 0; // bytes of the front chunk taken already
    qint64 queuedFrames = 0;
    bool endMarked = false;
    bool requestOutstanding = false;
    qint64 played = 0;
    std::deque<PeakBlock> peaks; // of what was written and has not passed the last Timer
};

template <typename Event> void AlsaPlayer::Impl::post(quint64 eventGeneration, Event event)
{
    QMetaObject::invokeMethod(
        q,
        [this, eventGeneration, event = std::move(event)] {
            if (playing && eventGeneration == generation)
                event();
        },
        Qt::QueuedConnection);
}

// The audio thread. Every 10 ms while something is to be played (at once when woken), it reads
// the device's room and delay, writes what the device and the clock allow, publishes the played
// count and raises the events; when nothing is left to play it sleeps until it is woken.
void AlsaPlayer::Impl::run(quint64 runSession)
{
    snd_pcm_t* const device = pcm.get();
    std::vector<qint16> pending; // interleaved samples taken from the queue, not yet written
    size_t pendingAt = 0;        // samples of pending written already
    qint64 written = 0;          // frames the device took since the start or the last clear
    // The clock: anchorFrames at anchorTime, and the rate's frames a second since.
    qint64 anchorFrames = 0;
    Clock::time_point anchorTime = Clock::now();
    bool starvedTold = false; // EndArrayPlay raised since the last frame was written
    bool endTold = false;
    int recoveries = 0;
    std::vector<PeakBlock> newPeaks;

    std::unique_lock lock(mutex);
    while (!stopping) {
        const quint64 gen = generation;
        const bool clear = std::exchange(clearing, false);
        lock.unlock();

        if (clear) {
            snd_pcm_drop(device);
            snd_pcm_prepare(device); // a failure shows in the next call
            pending.clear();
            pendingAt = 0;
            written = 0;
            anchorFrames = 0;
            anchorTime = Clock::now();
            starvedTold = endTold = false;
        }

        // A recovery that brings the device back counts; a suspend that lasts does not.
        const auto recoverFrom = [&](int problem) {
            const int result = recover(device, problem);
            if (result != -EAGAIN)
                ++recoveries;
            return result;
        };
        snd_pcm_sframes_t avail = 0;
        snd_pcm_sframes_t delay = 0;
        int error = snd_pcm_avail_delay(device, &avail, &delay);
        if (error < 0) {
            // After an underrun everything written has played: the delay is 0 once prepared.
            error = recoverFrom(error);
            if (error == 0)
                error = snd_pcm_avail_delay(device, &avail, &delay);
        }
        if (error < 0)
            avail = delay = 0;

        const Clock::time_point now = Clock::now();
        delay = std::clamp<qint64>(delay, 0, written);
        const qint64 devicePlayed = written - delay;
        qint64 clock =
            anchorFrames +
            std::chrono::duration_cast<std::chrono::microseconds>(now - anchorTime).count() * Rate /
                1000000;
        // The clock never runs ahead of what was written, so after a dry spell the audio plays
        // at its pace, not in a burst to catch up. A device that holds audio and has played
        // more than the clock says (its crystal runs fast) is believed.
        if (clock > written || (delay > 0 && devicePlayed > clock)) {
            clock = std::min(written, std::max(clock, devicePlayed));
            anchorFrames = clock;
            anchorTime = now;
        }
        const qint64 playedNow = std::min(devicePlayed, clock);
        const qint64 room = std::min<qint64>(avail, clock + LeadFrames - written);

        if (pendingAt > 0) {
            pending.erase(pending.begin(), pending.begin() + qsizetype(pendingAt));
            pendingAt = 0;
        }
        lock.lock();
        if (generation != gen)
            continue;
        for (qint64 want = room - qint64(pending.size() / 2); want > 0 && !queue.empty();) {
            const QByteArray& chunk = queue.front();
            const qsizetype bytes =
                std::min<qsizetype>(want * BytesPerFrame, chunk.size() - queueOffset);
            const size_t at = pending.size();
            pending.resize(at + size_t(bytes) / 2);
            std::memcpy(pending.data() + at, chunk.constData() + queueOffset, size_t(bytes));
            queueOffset += bytes;
            want -= bytes / BytesPerFrame;
            queuedFrames -= bytes / BytesPerFrame;
            if (queueOffset == chunk.size()) {
                queue.pop_front();
                queueOffset = 0;
            }
        }
        lock.unlock();

        newPeaks.clear();
        const qint64 toWrite = std::min<qint64>(room, qint64(pending.size() / 2));
        if (toWrite > 0) {
            const qint16* samples = pending.data();
            const snd_pcm_sframes_t count = snd_pcm_writei(device, samples, toWrite);
            if (count > 0) {
                for (qint64 from = 0; from < count; from += PeakBlockFrames) {
                    PeakBlock block{written + from,
                                    written + std::min<qint64>(count, from + PeakBlockFrames)};
                    for (qint64 i = 2 * from; i < 2 * (block.end - written); i += 2) {
                        block.left = std::max(block.left, std::abs(int(samples[i])));
                        block.right = std::max(block.right, std::abs(int(samples[i + 1])));
                    }
                    newPeaks.push_back(block);
                }
                written += count;
                pendingAt = size_t(count) * 2;
                recoveries = 0;
                starvedTold = false;
                // A device whose start threshold is more than was written starts now.
                if (snd_pcm_state(device) == SND_PCM_STATE_PREPARED)
                    snd_pcm_start(device);
            } else if (count < 0 && count != -EAGAIN) {
                error = recoverFrom(int(count));
            }
        }

        lock.lock();
        if ((error < 0 && error != -EAGAIN) || recoveries > MaxRecoveries) {
            // Told whatever was cleared meanwhile: only a new start or a stop makes it stale.
            const QString description = tr("The audio device %1 failed: %2.")
                                            .arg(deviceName, alsaError(error < 0 ? error : -EIO));
            QMetaObject::invokeMethod(
                q,
                [this, runSession, description] {
                    if (playing && runSession == session) {
                        q->Stop();
                        emit q->PlaybackFailed(description);
                    }
                },
                Qt::QueuedConnection);
            break;
        }
        if (generation != gen)
            continue;
        played = playedNow;
        peaks.insert(peaks.end(), newPeaks.begin(), newPeaks.end());
        const qint64 unplayed =
            queuedFrames + qint64(pending.size() - pendingAt) / 2 + written - playedNow;
        if (!endMarked && !requestOutstanding && unplayed < LowWaterFrames) {
            requestOutstanding = true;
            post(gen, [this] { emit q->RequestOnLoadArray(); });
        }
        const bool dry = unplayed == 0;
        if (dry && endMarked && !endTold) {
            endTold = true;
            post(gen, [this] {
                q->Stop();
                emit q->EndPlay();
            });
        } else if (dry && !endMarked && written > 0 && !starvedTold) {
            starvedTold = true;
            post(gen, [this] { emit q->EndArrayPlay(); });
        }
        const auto awake = [this] { return woken || stopping; };
        if (dry && error != -EAGAIN)
            wake.wait(lock, awake);
        else
            wake.wait_for(lock, Tick, awake);
        woken = false;
    }
    lock.unlock();
    snd_pcm_drop(device);
}

void AlsaPlayer::Impl::tick()
{
    qint64 now = 0;
    int left = 0;
    int right = 0;
    {
        const std::lock_guard lock(mutex);
        now = played;
        for (const PeakBlock& block : peaks) {
            if (block.start >= now)
                break;
            if (block.end > lastTick) {
                left = std::max(left, block.left);
                right = std::max(right, block.right);
            }
        }
        while (!peaks.empty() && peaks.front().end <= now)
            peaks.pop_front();
    }
    lastTick = now;
    emit q->Timer(now, levelOfPeak(left), levelOfPeak(right));
}

AlsaPlayer::AlsaPlayer(QObject* parent) : AudioPlayer(parent), d(std::make_unique<Impl>(this))
{
    d->timer = new QTimer(this);
    d->timer->setInterval(TimerMs);
    connect(d->timer, &QTimer::timeout, this, [this] { d->tick(); });
}

AlsaPlayer::~AlsaPlayer()
{
    Stop();
}

Status AlsaPlayer::StartArrayPlay()
{
    Stop();
    d->deviceName = configuredDevice();
    Result<Pcm> opened = openDevice(d->deviceName);
    if (!opened)
        return Failure{opened.error()};
    d->pcm = opened.take();
    {
        const std::lock_guard lock(d->mutex);
        ++d->generation;
        d->stopping = d->clearing = d->woken = false;
        d->endMarked = d->requestOutstanding = false;
        d->played = 0;
    }
    d->lastTick = 0;
    d->playing = true;
    d->thread = std::thread([this, session = ++d->session] { d->run(session); });
    d->timer->start();
    return {};
}

void AlsaPlayer::Stop()
{
    if (!d->playing)
        return;
    {
        const std::lock_guard lock(d->mutex);
        ++d->generation;
        d->stopping = true;
        d->queue.clear();
        d->queueOffset = 0;
        d->queuedFrames = 0;
        d->peaks.clear();
    }
    d->wake.notify_all();
    // The audio thread makes no call that waits for the device, so it ends at once.
    d->thread.join();
    d->pcm.reset();
    d->timer->stop();
    d->playing = false;
}

void AlsaPlayer::AddArray(const QByteArray& chunk)
{
    if (!d->playing)
        return;
    {
        const std::lock_guard lock(d->mutex);
        if (d->endMarked)
            return;
        const qsizetype whole = chunk.size() - chunk.size() % BytesPerFrame;
        if (chunk.isEmpty())
            d->endMarked = true;
        else if (whole > 0)
            d->queue.push_back(whole == chunk.size() ? chunk : chunk.left(whole));
        d->queuedFrames += whole / BytesPerFrame;
        d->requestOutstanding = false;
        d->woken = true;
    }
    d->wake.notify_all();
}

void AlsaPlayer::ClearArrays()
{
    {
        const std::lock_guard lock(d->mutex);
        if (d->playing) {
            ++d->generation;
            d->clearing = true;
            d->woken = true;
        }
        d->queue.clear();
        d->queueOffset = 0;
        d->queuedFrames = 0;
        d->endMarked = d->requestOutstanding = false;
        d->played = 0;
        d->peaks.clear();
    }
    d->lastTick = 0;
    d->wake.notify_all();
}

qint64 AlsaPlayer::playedFrames() const
{
    const std::lock_guard lock(d->mutex);
    return d->played;
}
