#include "signal/non_steady_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "fmr/fmr_header.h"
#include "tests/support/hand_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

TEST(NonSteadyStateTest, LeadingOutliersByTheModifiedZScore) {
  // Median 1000; deviations 500 200 0 1 1 0 2 2 0, their median 1: scores
  // 337, 135, then 0.
  EXPECT_EQ(leadingOutliers({1500, 1200, 1000, 1001, 999, 1000, 1002, 998, 1000}), 2u);
  // An outlier after a steady volume is not leading.
  EXPECT_EQ(leadingOutliers({1000, 1500, 1001, 999, 1000, 1002, 998}), 0u);
  // Even count: median (1000 + 1001) / 2, median deviation (1.5 + 2.5) / 2;
  // deviations 10.38 and 10.37 score 3.5007 and 3.4973.
  EXPECT_EQ(leadingOutliers({1010.88, 1010.87, 998, 999, 1000, 1001}), 1u);
  // A median absolute deviation of 0: more than half the values equal.
  EXPECT_EQ(leadingOutliers({1800, 1400, 1000, 1000, 1000, 1000, 1003}), 0u);
  EXPECT_EQ(leadingOutliers({5}), 0u);
  EXPECT_EQ(leadingOutliers({}), 0u);
}

class NonSteadyStateRunTest : public ::testing::Test {
 protected:
  std::string stcPath() const { return dir_.file("run.stc"); }
  TempDir dir_;
};

// Volume t of the run holds 1000 + t + an offset per voxel that sums to 0
// over the volume's 12 voxels, and three bright volumes first. Only the first
// 50 volumes are read: a NaN in volume 55 is never met, and later volumes
// far brighter than the rest change nothing.
TEST_F(NonSteadyStateRunTest, MeansOfTheFirstFiftyVolumes) {
  const auto level = [](int t) {
    const double bright[] = {2000, 1500, 1250};
    return t < 3 ? bright[t] : 1000.0 + t % 7;
  };
  const auto value = [&](int i, int t) {
    const float offsets[] = {-30, 12, 5, 7, -1, 9, -4, -8, 11, 3, -2, -2};
    return static_cast<float>(level(t)) + offsets[i] * static_cast<float>(t % 3 + 1);
  };
  const std::map<int, std::vector<float>> none;
  for (const bool floats : {false, true}) {
    const std::string fmr = writeHandRun(
        dir_.path(), Dim3{3, 2, 2}, 60, floats, none,
        [&](int i, int t) { return t >= 50 ? 90000.0f + static_cast<float>(i) : value(i, t); });
    std::string bytes = readFile(stcPath());
    if (floats) {
      const float nan = std::numeric_limits<float>::quiet_NaN();
      std::memcpy(&bytes[4 * (60 * 6 + 55 * 6 + 2)], &nan, 4);  // slice 1, volume 55
    }
    const FmrFileHeader header = readFmrFileHeader(fmr, false);
    const std::vector<double> means = leadingVolumeMeans(header, bytes);
    ASSERT_EQ(means.size(), 50u);
    for (std::size_t t = 0; t < 50; ++t) EXPECT_EQ(means[t], level(static_cast<int>(t))) << t;
    EXPECT_EQ(detectNonSteadyStateVolumes(header, bytes), 3u);
    if (!floats) {
      EXPECT_EQ(detectNonSteadyStateVolumes(header), 3u);
    }
  }

  // A run shorter than 50 volumes is read whole.
  const std::string fmr = writeHandRun(dir_.path(), Dim3{2, 1, 2}, 4, true, {},
                                       [](int i, int t) { return float(t * 10 + i); });
  EXPECT_EQ(leadingVolumeMeans(readFmrFileHeader(fmr, false)),
            (std::vector<double>{1.5, 11.5, 21.5, 31.5}));
  // A float value that is not a number, where the detection reads.
  std::string bytes = readFile(stcPath());
  const float infinity = std::numeric_limits<float>::infinity();
  std::memcpy(&bytes[4 * (4 * 2 + 3 * 2 + 1)], &infinity, 4);
  EXPECT_THROW_MSG(
      detectNonSteadyStateVolumes(readFmrFileHeader(fmr, false), bytes), IOError,
      "STC file " + stcPath() + ": slice 1, volume 3 holds a value that is not a finite number");
}

}  // namespace
}  // namespace tsl::testing
