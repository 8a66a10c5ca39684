#pragma once

// A new thread starts with a copy of its creator's vector registers. When the creator last ran
// AVX code without clearing the upper halves of the registers, every SSE instruction of the new
// thread pays to merge them: the SSE-built encoders (libvorbis, say) then run 20-30 % slower for
// no work of their own. Threads that do heavy vector work call this once at their start, and
// again after calling code they don't control. It costs a cycle; on CPUs without AVX it does
// nothing.
void clearUpperVectorState();
