#include "components/accuraterip/checksums.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TAMBREL_X86 1
#endif

static_assert(std::endian::native == std::endian::little,
              "the samples are summed as little-endian 32-bit frame words");

namespace
{

// Frames of the disc's first track before this position (counted from 1) and of its last track
// after the track's length minus this many are not summed.
constexpr qint64 EdgeFrames = 5 * 588;

quint32 zlibCrc(quint32 crc, const uchar* data, size_t size)
{
    while (size > 0) {
        const uInt step = uInt(std::min<size_t>(size, 1u << 30));
        crc = quint32(::crc32(crc, data, step));
        data += step;
        size -= step;
    }
    return crc;
}

// The AccurateRip sums of `count` frame words whose first has position `position`: the 64-bit
// sums of the products and of their high halves (only their low 32 bits are used).
struct Sums {
    quint64 products = 0;
    quint64 highHalves = 0;
};

Sums sumScalar(const quint32* words, size_t count, quint64 position)
{
    Sums s;
    for (size_t i = 0; i < count; ++i) {
        const quint64 product = quint64(words[i]) * (position + i);
        s.products += product;
        s.highHalves += product >> 32;
    }
    return s;
}

#ifdef TAMBREL_X86
// Eight frames a step: vpmuludq multiplies the even and the odd 32-bit words by their positions
// into four 64-bit products each.
__attribute__((target("avx2"))) Sums sumAvx2(const quint32* words, size_t count, quint64 position)
{
    __m256i products = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    __m256i evenPos = _mm256_setr_epi64x(qint64(position), qint64(position + 2),
                                         qint64(position + 4), qint64(position + 6));
    __m256i oddPos = _mm256_add_epi64(evenPos, _mm256_set1_epi64x(1));
    const __m256i step = _mm256_set1_epi64x(8);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + i));
        const __m256i even = _mm256_mul_epu32(w, evenPos);
        const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(w, 32), oddPos);
        products = _mm256_add_epi64(products, _mm256_add_epi64(even, odd));
        high = _mm256_add_epi64(
            high, _mm256_add_epi64(_mm256_srli_epi64(even, 32), _mm256_srli_epi64(odd, 32)));
        evenPos = _mm256_add_epi64(evenPos, step);
        oddPos = _mm256_add_epi64(oddPos, step);
    }
    alignas(32) quint64 p[4];
    alignas(32) quint64 h[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(p), products);
    _mm256_store_si256(reinterpret_cast<__m256i*>(h), high);
    Sums s = sumScalar(words + i, count - i, position + i);
    s.products += p[0] + p[1] + p[2] + p[3];
    s.highHalves += h[0] + h[1] + h[2] + h[3];
    return s;
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i load16(const uchar* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Carries a 128-bit lane forward by the distance the constant k stands for.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// CRC-32 by carry-less multiplication (PCLMULQDQ): four 128-bit lanes are folded forward over
// the data, then folded into one; its 16 bytes, whose remainder is the whole run's, go through
// zlib. The constants are x^n mod P for the fold distances, bit-reflected and shifted by one:
// 4*128 +/- 32 for the four-lane fold, 128 +/- 32 for the one-lane fold.
__attribute__((target("pclmul,sse4.1"))) quint32 crcClmul(quint32 crc, const uchar* data,
                                                          size_t size)
{
    if (size < 64)
        return zlibCrc(crc, data, size);
    const __m128i fold4 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i fold1 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);

    __m128i x0 = _mm_xor_si128(load16(data), _mm_cvtsi32_si128(int(~crc)));
    __m128i x1 = load16(data + 16);
    __m128i x2 = load16(data + 32);
    __m128i x3 = load16(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        x0 = _mm_xor_si128(fold(x0, fold4), load16(data));
        x1 = _mm_xor_si128(fold(x1, fold4), load16(data + 16));
        x2 = _mm_xor_si128(fold(x2, fold4), load16(data + 32));
        x3 = _mm_xor_si128(fold(x3, fold4), load16(data + 48));
    }
    x0 = _mm_xor_si128(fold(x0, fold1), x1);
    x0 = _mm_xor_si128(fold(x0, fold1), x2);
    x0 = _mm_xor_si128(fold(x0, fold1), x3);
    for (; size >= 16; data += 16, size -= 16)
        x0 = _mm_xor_si128(fold(x0, fold1), load16(data));
    uchar rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x0);
    // zlib starts from the complement of the value it is given: 0xffffffff starts the register
    // at 0, which is what the folded lanes need, and its final complement is the CRC's.
    crc = zlibCrc(0xffffffffu, rest, sizeof rest);
    return zlibCrc(crc, data, size);
}

// GCC 12's AVX-512 intrinsics start some results from _mm512_undefined_*(), which its
// uninitialized-use warnings take for a fault.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#define TAMBREL_AVX512 __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,sse4.1")))

// The eight lanes' sum, wrapping as unsigned numbers do (the compiler's own reduction adds them
// as signed numbers, whose overflow is undefined).
TAMBREL_AVX512 inline quint64 sumLanes(__m512i v)
{
    alignas(64) quint64 lanes[8];
    _mm512_store_si512(lanes, v);
    quint64 sum = 0;
    for (const quint64 lane : lanes)
        sum += lane;
    return sum;
}

// Sixteen frames a step, as sumAvx2 does eight.
TAMBREL_AVX512 Sums sumAvx512(const quint32* words, size_t count, quint64 position)
{
    __m512i products = _mm512_setzero_si512();
    __m512i high = _mm512_setzero_si512();
    __m512i evenPos = _mm512_add_epi64(_mm512_set1_epi64(qint64(position)),
                                       _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14));
    __m512i oddPos = _mm512_add_epi64(evenPos, _mm512_set1_epi64(1));
    const __m512i step = _mm512_set1_epi64(16);
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512i w = _mm512_loadu_si512(words + i);
        const __m512i even = _mm512_mul_epu32(w, evenPos);
        const __m512i odd = _mm512_mul_epu32(_mm512_srli_epi64(w, 32), oddPos);
        products = _mm512_add_epi64(products, _mm512_add_epi64(even, odd));
        high = _mm512_add_epi64(
            high, _mm512_add_epi64(_mm512_srli_epi64(even, 32), _mm512_srli_epi64(odd, 32)));
        evenPos = _mm512_add_epi64(evenPos, step);
        oddPos = _mm512_add_epi64(oddPos, step);
    }
    Sums s = sumScalar(words + i, count - i, position + i);
    s.products += sumLanes(products);
    s.highHalves += sumLanes(high);
    return s;
}

TAMBREL_AVX512 inline __m512i fold512(__m512i x, __m512i k)
{
    return _mm512_xor_si512(_mm512_clmulepi64_epi128(x, k, 0x00),
                            _mm512_clmulepi64_epi128(x, k, 0x11));
}

// crcClmul on 512-bit registers (VPCLMULQDQ): four registers of four lanes each fold over
// 256 bytes a step; the lanes are then folded into one 128-bit lane, 384, 256 and 128 bits
// forward, and the rest goes on as in crcClmul.
TAMBREL_AVX512 quint32 crcAvx512(quint32 crc, const uchar* data, size_t size)
{
    if (size < 256)
        return crcClmul(crc, data, size);
    const __m512i fold16 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x1322d1430, 0x11542778a));
    const __m512i fold4 = _mm512_broadcast_i32x4(_mm_set_epi64x(0x1c6e41596, 0x154442bd4));
    __m512i x0 = _mm512_xor_si512(_mm512_loadu_si512(data),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(~crc))));
    __m512i x1 = _mm512_loadu_si512(data + 64);
    __m512i x2 = _mm512_loadu_si512(data + 128);
    __m512i x3 = _mm512_loadu_si512(data + 192);
    data += 256;
    size -= 256;
    for (; size >= 256; data += 256, size -= 256) {
        x0 = _mm512_xor_si512(fold512(x0, fold16), _mm512_loadu_si512(data));
        x1 = _mm512_xor_si512(fold512(x1, fold16), _mm512_loadu_si512(data + 64));
        x2 = _mm512_xor_si512(fold512(x2, fold16), _mm512_loadu_si512(data + 128));
        x3 = _mm512_xor_si512(fold512(x3, fold16), _mm512_loadu_si512(data + 192));
    }
    x0 = _mm512_xor_si512(fold512(x0, fold4), x1);
    x0 = _mm512_xor_si512(fold512(x0, fold4), x2);
    x0 = _mm512_xor_si512(fold512(x0, fold4), x3);
    for (; size >= 64; data += 64, size -= 64)
        x0 = _mm512_xor_si512(fold512(x0, fold4), _mm512_loadu_si512(data));
    __m128i x = _mm512_extracti32x4_epi32(x0, 3);
    x = _mm_xor_si128(
        x, fold(_mm512_extracti32x4_epi32(x0, 0), _mm_set_epi64x(0x174359406, 0x3db1ecdc)));
    x = _mm_xor_si128(
        x, fold(_mm512_extracti32x4_epi32(x0, 1), _mm_set_epi64x(0x15a546366, 0xf1da05aa)));
    x = _mm_xor_si128(
        x, fold(_mm512_extracti32x4_epi32(x0, 2), _mm_set_epi64x(0x0ccaa009e, 0x1751997d0)));
    for (; size >= 16; data += 16, size -= 16)
        x = _mm_xor_si128(fold(x, _mm_set_epi64x(0x0ccaa009e, 0x1751997d0)), load16(data));
    uchar rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
    crc = zlibCrc(0xffffffffu, rest, sizeof rest);
    return zlibCrc(crc, data, size);
}

#pragma GCC diagnostic pop

TrackChecksums::Instructions available()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("pclmul"))
        return TrackChecksums::Instructions::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul") &&
        __builtin_cpu_supports("sse4.1"))
        return TrackChecksums::Instructions::Avx2;
    return TrackChecksums::Instructions::Portable;
}
#else
TrackChecksums::Instructions available()
{
    return TrackChecksums::Instructions::Portable;
}
#endif

const TrackChecksums::Instructions Available = available();
std::atomic<TrackChecksums::Instructions> Used{Available};

Sums sumFrames(const quint32* words, size_t count, quint64 position)
{
#ifdef TAMBREL_X86
    switch (Used.load(std::memory_order_relaxed)) {
    case TrackChecksums::Instructions::Avx512:
        return sumAvx512(words, count, position);
    case TrackChecksums::Instructions::Avx2:
        return sumAvx2(words, count, position);
    case TrackChecksums::Instructions::Portable:
        break;
    }
#endif
    return sumScalar(words, count, position);
}

quint32 crcBytes(quint32 crc, const uchar* data, size_t size)
{
#ifdef TAMBREL_X86
    switch (Used.load(std::memory_order_relaxed)) {
    case TrackChecksums::Instructions::Avx512:
        return crcAvx512(crc, data, size);
    case TrackChecksums::Instructions::Avx2:
        return crcClmul(crc, data, size);
    case TrackChecksums::Instructions::Portable:
        break;
    }
#endif
    return zlibCrc(crc, data, size);
}

} // namespace

TrackChecksums::Instructions TrackChecksums::useInstructions(Instructions most)
{
    const Instructions used = std::min(most, Available);
    Used.store(used);
    return used;
}

TrackChecksums::TrackChecksums(qint64 totalFrames, bool firstTrackOfDisc, bool lastTrackOfDisc,
                               qint64 firstFrame)
    : m_totalFrames(totalFrames), m_first(firstTrackOfDisc), m_last(lastTrackOfDisc),
      m_firstFrame(firstFrame)
{
}

void TrackChecksums::add(std::span<const qint16> interleaved)
{
    const qint64 count = qint64(interleaved.size() / 2);
    if (count == 0)
        return;
    const auto* bytes = reinterpret_cast<const uchar*>(interleaved.data());
    m_crc = crcBytes(m_crc, bytes, size_t(count) * 4);

    // Positions count from 1 within the track; only those in [from, to] are summed.
    const qint64 start = m_firstFrame + m_frames + 1;
    const qint64 from = std::max(start, m_first ? EdgeFrames : 1);
    const qint64 to =
        std::min(start + count - 1, m_last ? m_totalFrames - EdgeFrames : m_totalFrames);
    if (from <= to) {
        // The frames are read as 32-bit words; the buffer of 16-bit samples needn't be aligned
        // for them, so the run is copied through memcpy-sized loads only where needed.
        const uchar* first = bytes + (from - start) * 4;
        const size_t n = size_t(to - from + 1);
        Sums s;
        if (reinterpret_cast<quintptr>(first) % alignof(quint32) == 0) {
            s = sumFrames(reinterpret_cast<const quint32*>(first), n, quint64(from));
        } else {
            quint32 buffer[1024];
            for (size_t done = 0; done < n;) {
                const size_t step = std::min<size_t>(n - done, std::size(buffer));
                std::memcpy(buffer, first + done * 4, step * 4);
                const Sums part = sumFrames(buffer, step, quint64(from) + done);
                s.products += part.products;
                s.highHalves += part.highHalves;
                done += step;
            }
        }
        m_v1 += quint32(s.products);
        m_v2High += quint32(s.highHalves);
    }
    m_frames += count;
}

void TrackChecksums::append(const TrackChecksums& following)
{
    Q_ASSERT(following.m_firstFrame == m_firstFrame + m_frames);
    if (following.m_frames == 0)
        return;
    m_crc = quint32(crc32_combine(m_crc, following.m_crc, z_off_t(following.m_frames * 4)));
    m_v1 += following.m_v1;
    m_v2High += following.m_v2High;
    m_frames += following.m_frames;
}

quint32 TrackChecksums::accurateRipV1() const
{
    return m_v1;
}

quint32 TrackChecksums::accurateRipV2() const
{
    return m_v1 + m_v2High;
}
