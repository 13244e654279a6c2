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

// The processor check also asks whether the system saves the 512-bit registers.
bool ProcessorHasAvx512() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return ProcessorHasAvx2() && __builtin_cpu_supports("avx512f") != 0 &&
         __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vnni") != 0;
#else
  return false;
#endif
}

std::atomic<bool>& Avx2Setting() {
  static std::atomic<bool> setting{ProcessorHasAvx2()};
  return setting;
}

std::atomic<bool>& Avx512Setting() {
  static std::atomic<bool> setting{ProcessorHasAvx512()};
  return setting;
}

}  // namespace

bool Avx2Kernels() {
  return Avx2Setting().load(std::memory_order_relaxed);
}

bool UseAvx2Kernels(bool enabled) {
  return Avx2Setting().exchange(enabled && ProcessorHasAvx2(), std::memory_order_relaxed);
}

bool Avx512Kernels() {
  return Avx2Kernels() && Avx512Setting().load(std::memory_order_relaxed);
}

bool UseAvx512Kernels(bool enabled) {
  return Avx512Setting().exchange(enabled && ProcessorHasAvx512(), std::memory_order_relaxed);
}

}  // namespace quillon
