// Runs a check on each form of the pixel kernels this processor can run (the SSE2 / scalar form
// always, the AVX2 form where the processor has it), so both are held to the same answers.
#pragma once

#include <gtest/gtest.h>

#include "video/vector_kernels.h"

namespace quillon {

template <typename Check>
void ForEachKernelForm(Check check) {
  const bool before = UseAvx2Kernels(false);
  for (const bool avx2 : {false, true}) {
    UseAvx2Kernels(avx2);
    if (Avx2Kernels() != avx2) continue;
    SCOPED_TRACE(avx2 ? "AVX2 kernels" : "SSE2 kernels");
    check();
  }
  UseAvx2Kernels(before);
}

}  // namespace quillon
