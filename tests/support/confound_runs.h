// Fixtures of the confound task's tests: a motion run whose every output can
// be worked out by hand, and the task's outputs in the order it puts them in
// place.
//
// Both translation columns of the hand run are symmetric about the middle of
// the run and sum to 0, so their least-squares line is exactly 0 and
// detrending leaves them as they are; the other four columns are constant and
// detrend to exactly 0. The rotations of the detrended run are therefore 0 and
// the relative RMS displacement is the length of the translation step:
// r(4) = r(12) = sqrt(0.75^2 + 1^2) = 1.25, r(7) = r(9) = 0.5,
// r(6) = r(10) = 0.25, 0 elsewhere. Being symmetric, the run cannot tell
// apart mistakes that keep symmetry; the tests check the arithmetic on
// drifting motion.
#ifndef TESSEL_TESTS_SUPPORT_CONFOUND_RUNS_H
#define TESSEL_TESTS_SUPPORT_CONFOUND_RUNS_H

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "designmatrix/motion_parameters.h"

namespace tsl::testing {

// An output with its switch and what its predictor names gain after the
// motion name.
struct ConfoundOutput {
  const char* suffix;
  const char* parameter;
  const char* nameSuffix;
};
inline const std::vector<ConfoundOutput> kConfoundOutputs = {
    {"_spikes", "create_spikes", ""},
    {"_detr", "create_detrended", " detrended"},
    {"_deriv", "create_derivative", " detrended derivative"},
    {"_sqr", "create_squared", " detrended squared"},
    {"_t1", "create_delayed1", " detrended t-1"},
    {"_t2", "create_delayed2", " detrended t-2"},
    {"_t1sqr", "create_delayed1sq", " detrended t-1 squared"},
    {"_t2sqr", "create_delayed2sq", " detrended t-2 squared"},
};

inline constexpr std::size_t kHandVolumes = 16;

// The hand run, its translations multiplied by scale.
inline std::vector<MotionRow> handRows(float scale = 1.0f) {
  const float tx[kHandVolumes] = {-0.375f, -0.375f, -0.375f, -0.375f, 0.375f, 0.375f,
                                  0.375f,  0.375f,  0.375f,  0.375f,  0.375f, 0.375f,
                                  -0.375f, -0.375f, -0.375f, -0.375f};
  const float ty[kHandVolumes] = {-0.5f, -0.5f, -0.5f, -0.5f, 0.5f,  0.5f,  0.75f, 0.25f,
                                  0.25f, 0.75f, 0.5f,  0.5f,  -0.5f, -0.5f, -0.5f, -0.5f};
  std::vector<MotionRow> rows(kHandVolumes);
  for (std::size_t t = 0; t < kHandVolumes; ++t) {
    rows[t] = {scale * tx[t], scale * ty[t], 0.25f, 0.0f, -0.5f, 0.5f};
  }
  return rows;
}

// The path of an output beside the motion SDM sdm ("run1_3DMC.sdm" with
// "_detr" gives "run1_3DMC_detr.sdm").
inline std::string withSuffix(const std::string& sdm, const std::string& suffix) {
  return sdm.substr(0, sdm.size() - 4) + suffix + ".sdm";
}

// The names of the entries of folder.
inline std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace tsl::testing

#endif
