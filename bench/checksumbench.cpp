// Times TrackChecksums over a 10-minute track's PCM (26,460,000 frames of noise) as a grab meets
// it: each read of 26 sectors is copied into a buffer and summed from there. Prints the time of
// the copies alone and of copies and sums in milliseconds, and the sums' share (the difference)
// as a percentage of the copy and of a WAV rip of the track (REFERENCE_MS, 200 by default).
// Best of RUNS (7) each.
// INSTRUCTIONS limits the processor's instructions used: 0 portable, 1 AVX2, 2 AVX-512 (the
// default: the widest the processor has).
// Usage: checksumbench [RUNS] [REFERENCE_MS] [INSTRUCTIONS]
#include "components/accuraterip/checksums.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

int main(int argc, char* argv[])
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const double referenceMs = argc > 2 ? std::atof(argv[2]) : 200.0;
    const TrackChecksums::Instructions used = TrackChecksums::useInstructions(
        TrackChecksums::Instructions(argc > 3 ? std::clamp(std::atoi(argv[3]), 0, 2) : 2));
    constexpr qint64 Frames = qint64(10) * 60 * 75 * 588;
    constexpr qint64 ReadFrames = 26 * 588;
    std::vector<qint16> pcm(size_t(Frames) * 2);
    std::mt19937 random(1);
    for (qint16& s : pcm)
        s = qint16(random());
    std::vector<qint16> copy(size_t(ReadFrames) * 2);

    double bestCopy = 1e9;
    double bestBoth = 1e9;
    quint32 keep = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (qint64 at = 0; at < Frames; at += ReadFrames) {
            const qint64 n = std::min(ReadFrames, Frames - at);
            std::memcpy(copy.data(), pcm.data() + at * 2, size_t(n) * 4);
            keep += quint32(copy[size_t(at % 7)]);
        }
        bestCopy = std::min(bestCopy, double(timer.nsecsElapsed()) / 1e6);

        timer.restart();
        TrackChecksums sums(Frames, true, true);
        for (qint64 at = 0; at < Frames; at += ReadFrames) {
            const qint64 n = std::min(ReadFrames, Frames - at);
            std::memcpy(copy.data(), pcm.data() + at * 2, size_t(n) * 4);
            sums.add(std::span<const qint16>(copy.data(), size_t(n) * 2));
        }
        bestBoth = std::min(bestBoth, double(timer.nsecsElapsed()) / 1e6);
        keep += sums.crc32() ^ sums.accurateRipV2();
    }
    volatile quint32 sink = keep;
    (void)sink;
    const char* names[] = {"portable", "AVX2 and PCLMULQDQ", "AVX-512 and VPCLMULQDQ"};
    const double sums = std::max(0.0, bestBoth - bestCopy);
    std::printf("copy %.2f ms, copy and checksums %.2f ms: checksums %.2f ms, %.0f%% of the copy, "
                "%.1f%% of a %.0f ms WAV rip; instructions: %s\n",
                bestCopy, bestBoth, sums, 100.0 * sums / bestCopy, 100.0 * sums / referenceMs,
                referenceMs, names[int(used)]);
    return 0;
}
