#pragma once

#include <atomic>
#include <cstdint>

// The layout of the file named by TAMBREL_VDRIVE_STATE: what every process using the virtual
// drive shares, mapped into each of them. Tests map or read it to see what the drive served;
// all fields are native-endian 64-bit values at fixed offsets.
namespace vdrive
{

struct SharedState {
    static constexpr uint64_t Magic = 0x3176697264766474ULL; // "tdvdriv1"

    std::atomic<uint64_t> magic;         // offset 0
    std::atomic<uint64_t> readCommands;  // 8: audio reads asked for (READ CD, CDROMREADAUDIO)
    std::atomic<uint64_t> sectorsServed; // 16: sectors those reads returned
    std::atomic<uint64_t> failedReads;   // 24: reads that ended in an error
    std::atomic<uint64_t> removedDisc;   // 32: identity of the disc taken out; 0 while none
    std::atomic<int64_t> busyUntilNs;    // 40: CLOCK_MONOTONIC time the drive's reading ends
};

static_assert(sizeof(SharedState) == 48);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

} // namespace vdrive
