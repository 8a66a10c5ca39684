#include "components/cdio/splitencode.h"

#include <QIODevice>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>

namespace SplitEncode
{

SplitFormat::Plan plan(const SplitFormat& format, qint64 totalSamples, int threads)
{
    SplitFormat::Plan plan;
    plan.overlap = format.overlap();
    plan.tail = format.tail();
    const qint64 grid = format.grid();
    const qint64 byLength = totalSamples / std::max<qint64>(1, format.minimumPart());
    const int parts = int(std::clamp<qint64>(std::min<qint64>(threads, byLength), 1, MaxParts));
    plan.seams.push_back(0);
    for (int i = 1; i < parts; ++i)
        plan.seams.push_back(totalSamples * i / parts / grid * grid);
    plan.seams.push_back(totalSamples);
    return plan;
}

int usableThreads()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    const int cores = ::sched_getaffinity(0, sizeof set, &set) == 0
                          ? CPU_COUNT(&set)
                          : int(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, MaxParts);
}

namespace
{

constexpr int FramesPerSector = TrackReader::FramesPerSector;
// A quarter of a second, give or take: the reads' size, and how often a part looks at the
// stop flag.
constexpr int SectorsPerRead = 19;

// What the part threads share.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    QString error; // the first failure
    std::atomic<bool> failed{false};
    std::atomic<qint64> samplesDone{0};
};

// Reads the part's samples [first, end) of the track and feeds them to its encoder; the samples
// of its own region (sums.firstFrame() to its seam regionEnd) go into its checksums.
Status encodePart(PartEncoder& encoder, const TrackReader::Source& source, qint64 first, qint64 end,
                  qint64 regionEnd, TrackChecksums& sums, const std::atomic<bool>& stop,
                  Shared& shared)
{
    TrackReader reader(source);
    if (Status opened = reader.open(); !opened.ok())
        return opened;
    const qint64 firstSector = first / FramesPerSector;
    reader.seek(firstSector);
    std::vector<qint16> samples(size_t(SectorsPerRead) * FramesPerSector * 2);
    qint64 at = firstSector * FramesPerSector; // the sample the next read starts at
    while (at < end) {
        if (stop.load() || shared.failed.load())
            return Failure{};
        const int count = int(std::min<qint64>(SectorsPerRead, reader.remaining()));
        if (count <= 0)
            return Failure{TrackReader::discChanged()};
        if (Status read = reader.read(samples.data(), count, &stop); !read.ok())
            return read;
        const qint64 from = std::max(first, at);
        const qint64 to = std::min(end, at + qint64(count) * FramesPerSector);
        const std::span<const qint16> part(samples.data() + (from - at) * 2, size_t(to - from) * 2);
        if (Status encoded = encoder.encode(part); !encoded.ok())
            return encoded;
        const qint64 sumFrom = std::max(from, sums.firstFrame() + sums.framesAdded());
        const qint64 sumTo = std::min(to, regionEnd);
        if (sumFrom < sumTo)
            sums.add(part.subspan(size_t(sumFrom - from) * 2, size_t(sumTo - sumFrom) * 2));
        shared.samplesDone += to - from;
        at += qint64(count) * FramesPerSector;
    }
    return encoder.finish();
}

} // namespace

Result run(SplitFormat& format, const SplitFormat::Plan& plan, const TrackReader::Source& source,
           QIODevice& out, const std::atomic<bool>& stop,
           const std::function<void(double share)>& progress)
{
    std::vector<std::unique_ptr<PartEncoder>> parts;
    for (size_t i = 0; i < plan.parts(); ++i) {
        ::Result<std::unique_ptr<PartEncoder>> part = format.makePart(plan, i);
        if (!part.ok())
            return {Outcome::Failed, part.error(), {}};
        parts.push_back(part.take());
    }
    qint64 totalWork = 0;
    for (size_t i = 0; i < plan.parts(); ++i)
        totalWork += plan.end(i) - plan.start(i);

    std::vector<TrackChecksums> sums;
    for (size_t i = 0; i < plan.parts(); ++i)
        sums.emplace_back(plan.totalSamples(), source.firstAudioTrack, source.lastAudioTrack,
                          plan.seams[i]);
    Shared shared;
    shared.running = int(parts.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < parts.size(); ++i) {
        // A thread the system refuses (a process or memory limit) fails the track; the parts
        // already started finish and are thrown away.
        try {
            threads.emplace_back([&, i] {
                const Status done = encodePart(*parts[i], source, plan.start(i), plan.end(i),
                                               plan.seams[i + 1], sums[i], stop, shared);
                const std::lock_guard lock(shared.mutex);
                if (!done.ok() && !shared.failed.exchange(true))
                    shared.error = done.error();
                --shared.running;
                shared.changed.notify_all();
            });
        } catch (const std::system_error& error) {
            const std::lock_guard lock(shared.mutex);
            if (!shared.failed.exchange(true))
                shared.error =
                    QStringLiteral("A thread to encode the track on cannot be started: %1")
                        .arg(QString::fromLocal8Bit(error.what()));
            shared.running -= int(parts.size() - i);
            break;
        }
    }
    {
        std::unique_lock lock(shared.mutex);
        while (!shared.changed.wait_for(lock, std::chrono::milliseconds(100),
                                        [&] { return shared.running == 0; })) {
            lock.unlock();
            if (progress)
                progress(double(shared.samplesDone.load()) /
                         double(std::max<qint64>(1, totalWork)));
            lock.lock();
        }
    }
    for (std::thread& thread : threads)
        thread.join();

    if (stop.load())
        return {Outcome::Stopped, {}, {}};
    if (shared.failed.load())
        return {shared.error.isEmpty() ? Outcome::Stopped : Outcome::Failed, shared.error, {}};
    for (size_t i = 1; i < sums.size(); ++i)
        sums.front().append(sums[i]);
    const Splice spliced = format.splice(out, plan, parts);
    switch (spliced.outcome()) {
    case Splice::Outcome::Written:
        return {Outcome::Written, {}, sums.front()};
    case Splice::Outcome::NoSeam:
        return {Outcome::NoSeam, {}, sums.front()};
    case Splice::Outcome::Failed:
        break;
    }
    return {Outcome::Failed, spliced.error(), sums.front()};
}

} // namespace SplitEncode
