// dvars_dump FMR THRESHOLD: prints what Tessel computes of a run's signal, for
// the cross-check against nipype (bench/dvars_crosscheck.py):
//   voxels <V>
//   median <m>
//   non_steady_state <D>
//   mean <t> <mean intensity of volume t>     (the detection's first volumes)
//   dvars <t> <dvars> <std_dvars>             (volumes 1 ... T-1)
// every number with 17 significant digits. Exit status 1 with the error on
// standard error when the run is refused.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "fmr/fmr_header.h"
#include "signal/dvars.h"
#include "signal/non_steady_state.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: dvars_dump FMR THRESHOLD\n");
    return 2;
  }
  try {
    const tsl::FmrFileHeader header = tsl::readFmrFileHeader(argv[1], false);
    const float threshold = std::strtof(argv[2], nullptr);
    const tsl::DvarsSeries dvars = tsl::computeDvars(header, threshold);
    const std::vector<double> means = tsl::leadingVolumeMeans(header);
    std::printf("voxels %zu\nmedian %.17g\nnon_steady_state %zu\n", dvars.voxels, dvars.median,
                tsl::leadingOutliers(means));
    for (std::size_t t = 0; t < means.size(); ++t) std::printf("mean %zu %.17g\n", t, means[t]);
    for (std::size_t t = 1; t < dvars.dvars.size(); ++t) {
      std::printf("dvars %zu %.17g %.17g\n", t, dvars.dvars[t], dvars.stdDvars[t]);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "dvars_dump: %s\n", error.what());
    return 1;
  }
  return 0;
}
