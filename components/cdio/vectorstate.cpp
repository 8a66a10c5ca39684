#include "components/cdio/vectorstate.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cstdlib>
#include <cstring>
#include <immintrin.h>

namespace
{

__attribute__((target("avx"))) void zeroUpper()
{
    _mm256_zeroupper();
}

bool shouldClear()
{
    // Read at the first call rather than during static initialisation, and the CPU's features
    // read in (__builtin_cpu_init) before they are asked for.
    static const bool clear = [] {
        const char* keep = std::getenv("TAMBREL_KEEP_VECTOR_STATE");
        if (keep && std::strcmp(keep, "1") == 0)
            return false;
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return clear;
}

} // namespace

void clearUpperVectorState()
{
    if (shouldClear())
        zeroUpper();
}

#else

void clearUpperVectorState() {}

#endif
