// dvars_dump FMR THRESHOLD [REPEAT]: prints what Tessel computes of a run's
// signal, for the cross-check against nipype (bench/dvars_crosscheck.py):
//   voxels <V>
//   median <m>
//   non_steady_state <D>
//   mean <t> <mean intensity of volume t>     (the detection's first volumes)
//   dvars <t> <dvars> <std_dvars>             (volumes 1 ... T-1)
//   seconds <s> <cpu>                         (with REPEAT: the best of that many
//                                              computations of DVARS alone, wall
//                                              clock and processor time of all
//                                              threads)
// every number with 17 significant digits. Exit status 1 with the error on
// standard error when the run is refused.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>

#include "fmr/fmr_header.h"
#include "signal/dvars.h"
#include "signal/non_steady_state.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: dvars_dump FMR THRESHOLD [REPEAT]\n");
    return 2;
  }
  try {
    const tsl::FmrFileHeader header = tsl::readFmrFileHeader(argv[1], false);
    const float threshold = std::strtof(argv[2], nullptr);
    const int repeat = argc == 4 ? std::max(1, std::atoi(argv[3])) : 0;
    tsl::DvarsSeries dvars = tsl::computeDvars(header, threshold);
    double best = 1e300;
    double bestCpu = 1e300;
    for (int i = 0; i < repeat; ++i) {
      const auto start = std::chrono::steady_clock::now();
      const std::clock_t cpuStart = std::clock();
      dvars = tsl::computeDvars(header, threshold);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count());
      bestCpu = std::min(bestCpu, static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    }
    const std::vector<double> means = tsl::leadingVolumeMeans(header);
    std::printf("voxels %zu\nmedian %.17g\nnon_steady_state %zu\n", dvars.voxels, dvars.median,
                tsl::leadingOutliers(means));
    for (std::size_t t = 0; t < means.size(); ++t) std::printf("mean %zu %.17g\n", t, means[t]);
    for (std::size_t t = 1; t < dvars.dvars.size(); ++t) {
      std::printf("dvars %zu %.17g %.17g\n", t, dvars.dvars[t], dvars.stdDvars[t]);
    }
    if (repeat > 0) std::printf("seconds %.17g %.17g\n", best, bestCpu);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dvars_dump: %s\n", error.what());
    return 1;
  }
  return 0;
}
