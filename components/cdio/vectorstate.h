#pragma once

// A new thread starts with a copy of its creator's vector registers. When the creator last ran
// AVX code without clearing the upper halves of the registers, every SSE instruction of the new
// thread may pay to merge them (on CPUs that track that state), so SSE-built encoders such as
// libvorbis run slower for no work of their own. Threads that do heavy vector work call this once
// at their start, and again after calling code they don't control. It costs a cycle; on CPUs
// without AVX it does nothing.
//
// Benchmarking switch: with the environment variable TAMBREL_KEEP_VECTOR_STATE=1 set, the call
// does nothing, so that a benchmark can time the grab with and without the clearing on the same
// build. The variable and the CPU's features are read once, at the first call.
void clearUpperVectorState();
