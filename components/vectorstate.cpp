#include "components/vectorstate.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

namespace
{

__attribute__((target("avx"))) void zeroUpper()
{
    _mm256_zeroupper();
}

const bool hasAvx = __builtin_cpu_supports("avx");

} // namespace

void clearUpperVectorState()
{
    if (hasAvx)
        zeroUpper();
}

#else

void clearUpperVectorState() {}

#endif
