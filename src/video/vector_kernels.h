// Which instruction set the pixel kernels run on. Built for generic x86-64, the engine picks its
// AVX2 kernels, and where it has them its AVX-512 kernels, at run time when the processor has
// them; every kernel keeps its SSE2 or scalar form for processors without, and all forms give
// the same bytes and sums.
#pragma once

namespace quillon {

// True when the AVX2 kernels are in use (decided once from the processor).
bool Avx2Kernels();

// Turns the AVX2 kernels off, or back on where the processor has them, so that tests can run
// both forms on one machine; returns the previous setting. Not for use while other threads run
// kernels.
bool UseAvx2Kernels(bool enabled);

// True when the AVX-512 kernels (AVX-512 F, BW and VNNI) are in use: only where the processor
// has them and the AVX2 kernels are in use too, as the wide kernels may leave work to those.
bool Avx512Kernels();

// As UseAvx2Kernels, for the AVX-512 kernels.
bool UseAvx512Kernels(bool enabled);

}  // namespace quillon
