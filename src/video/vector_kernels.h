// Which instruction set the pixel kernels run on. Built for generic x86-64, the engine picks its
// AVX2 kernels at run time when the processor has them; every kernel keeps its SSE2 or scalar
// form for processors without, and both give the same bytes and sums.
#pragma once

namespace quillon {

// True when the AVX2 kernels are in use (decided once from the processor).
bool Avx2Kernels();

// Turns the AVX2 kernels off, or back on where the processor has them, so that tests can run
// both forms on one machine; returns the previous setting. Not for use while other threads run
// kernels.
bool UseAvx2Kernels(bool enabled);

}  // namespace quillon
