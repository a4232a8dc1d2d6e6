// Functional runs made by hand for the signal measures: a header and an STC
// file in the host's layout whose voxels hold the series a test lists.
#ifndef TESSEL_TESTS_SUPPORT_HAND_RUN_H
#define TESSEL_TESTS_SUPPORT_HAND_RUN_H

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "examples/run_file_writer.h"
#include "motion/volume.h"

namespace tsl::testing {

// Writes <folder>/run.fmr and run.stc (paths in generic form, as
// TempDir::file gives them): dims.x x dims.y x dims.z voxels,
// `volumes` volumes of 16-bit values or floats. Voxel i (index (z * dims.y +
// y) * dims.x + x) holds series.at(i)[t] where listed, background(i, t)
// otherwise. Returns the header's path.
inline std::string writeHandRun(const std::filesystem::path& folder, Dim3 dims, int volumes,
                                bool floats, const std::map<int, std::vector<float>>& series,
                                const std::function<float(int i, int t)>& background) {
  FmrLayout layout;
  layout.volumes = volumes;
  layout.slices = dims.z;
  layout.resolutionX = dims.x;
  layout.resolutionY = dims.y;
  layout.dataType = floats ? 2 : 1;
  layout.prefix = "run";
  const std::string fmr = (folder / "run.fmr").generic_string();
  writeFmrHeader(fmr, layout);
  writeStc((folder / "run.stc").generic_string(), dims.x, dims.y, dims.z, volumes,
           [&](int x, int y, int z, int t) {
             const int i = (z * dims.y + y) * dims.x + x;
             const auto listed = series.find(i);
             return listed != series.end() ? listed->second.at(static_cast<std::size_t>(t))
                                           : background(i, t);
           },
           floats);
  return fmr;
}

}  // namespace tsl::testing

#endif
