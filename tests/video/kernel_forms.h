// Runs a check on each form of the pixel kernels this processor can run (the SSE2 / scalar form
// always, the AVX2 and AVX-512 forms where the processor has them), so all are held to the same
// answers.
#pragma once

#include <gtest/gtest.h>

#include "video/vector_kernels.h"

namespace quillon {

enum class KernelForm { kBasic, kAvx2, kAvx512 };

// Selects a form; false when this processor cannot run it.
inline bool UseKernelForm(KernelForm form) {
  UseAvx2Kernels(form != KernelForm::kBasic);
  UseAvx512Kernels(form == KernelForm::kAvx512);
  return Avx2Kernels() == (form != KernelForm::kBasic) &&
         Avx512Kernels() == (form == KernelForm::kAvx512);
}

template <typename Check>
void ForEachKernelForm(Check check) {
  const bool avx2Before = UseAvx2Kernels(false);
  const bool avx512Before = UseAvx512Kernels(false);
  for (const KernelForm form : {KernelForm::kBasic, KernelForm::kAvx2, KernelForm::kAvx512}) {
    if (!UseKernelForm(form)) continue;
    SCOPED_TRACE(form == KernelForm::kBasic  ? "SSE2 kernels"
                 : form == KernelForm::kAvx2 ? "AVX2 kernels"
                                             : "AVX-512 kernels");
    check();
  }
  UseAvx2Kernels(avx2Before);
  UseAvx512Kernels(avx512Before);
}

}  // namespace quillon
