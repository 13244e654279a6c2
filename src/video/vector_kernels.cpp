#include "video/vector_kernels.h"

#include <atomic>

namespace quillon {
namespace {

bool ProcessorHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

std::atomic<bool>& Avx2Setting() {
  static std::atomic<bool> setting{ProcessorHasAvx2()};
  return setting;
}

}  // namespace

bool Avx2Kernels() { return Avx2Setting().load(std::memory_order_relaxed); }

bool UseAvx2Kernels(bool enabled) {
  return Avx2Setting().exchange(enabled && ProcessorHasAvx2(), std::memory_order_relaxed);
}

}  // namespace quillon
