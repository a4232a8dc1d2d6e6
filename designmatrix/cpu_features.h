// Which compiled version of a vectorised inner loop runs. The loops that
// come in two versions (the displacement kernel, the carpet plot's sums) are
// the same source compiled for any x86-64 CPU and with AVX2, without fused
// multiply-adds in either, so both round every operation alike and give the
// same bits.
#ifndef TESSEL_DESIGNMATRIX_CPU_FEATURES_H
#define TESSEL_DESIGNMATRIX_CPU_FEATURES_H

#if defined(__x86_64__) || defined(__i386__)
#define TESSEL_HAVE_AVX2_KERNEL 1
#endif

namespace tsl {

// automatic: AVX2 where this CPU has it.
enum class KernelInstructions { automatic, baseline, avx2 };

// True when this CPU can run the AVX2 versions.
bool cpuHasAvx2();

// Whether instructions, on this CPU, means the AVX2 version. Throws
// std::invalid_argument naming what when AVX2 is asked for and this CPU lacks
// it.
bool useAvx2(KernelInstructions instructions, const char* what);

}  // namespace tsl

#endif
