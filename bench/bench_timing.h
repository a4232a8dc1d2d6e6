// Wall-clock timing for the benchmark programs.
#ifndef TESSEL_BENCH_BENCH_TIMING_H
#define TESSEL_BENCH_BENCH_TIMING_H

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>

namespace tsl::bench {

using Clock = std::chrono::steady_clock;

// The seconds work takes once.
inline double secondsOf(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The shortest of repeat runs of work, in seconds.
inline double bestOf(int repeat, const std::function<void()>& work) {
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < repeat; ++i) best = std::min(best, secondsOf(work));
  return best;
}

}  // namespace tsl::bench

#endif
