// The fixed pseudo-random noise of the benchmarks' synthetic runs.
#ifndef TESSEL_BENCH_BENCH_NOISE_H
#define TESSEL_BENCH_BENCH_NOISE_H

#include <cstdint>

namespace tsl::bench {

// A cheap, fixed pseudo-random value in [0, 1) per key.
inline float hashNoise(std::uint64_t key) {
  key ^= key >> 33;
  key *= 0xff51afd7ed558ccdULL;
  key ^= key >> 33;
  key *= 0xc4ceb9fe1a85ec53ULL;
  key ^= key >> 33;
  return static_cast<float>(key >> 40) / 16777216.0f;
}

// The key of voxel (x, y, z) at time point t, for grids of up to 4096 a side.
inline std::uint64_t voxelKey(int x, int y, int z, int t) {
  return ((static_cast<std::uint64_t>(t) * 4096 + static_cast<std::uint64_t>(z)) * 4096 +
          static_cast<std::uint64_t>(y)) *
             4096 +
         static_cast<std::uint64_t>(x);
}

}  // namespace tsl::bench

#endif
