#include "designmatrix/cpu_features.h"

#include <stdexcept>
#include <string>

namespace tsl {

bool cpuHasAvx2() {
#ifdef TESSEL_HAVE_AVX2_KERNEL
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

bool useAvx2(KernelInstructions instructions, const char* what) {
  if (instructions == KernelInstructions::baseline) return false;
  const bool avx2 = cpuHasAvx2();
  if (instructions == KernelInstructions::avx2 && !avx2) {
    throw std::invalid_argument(std::string("the AVX2 version of ") + what +
                                " needs a CPU with AVX2");
  }
  return avx2;
}

}  // namespace tsl
