#include "motion/motion_series.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using Row = std::vector<float>;

using test::motionSdmOf;

constexpr const char* kRun = "runs/run1_3DMC.sdm";

TEST(MotionSeries, ShortRuns) {
  EXPECT_TRUE(relativeRmsDisplacement(motionSdmOf({}, kRun)).empty());
  EXPECT_EQ(relativeRmsDisplacement(motionSdmOf({{1, 2, 3, 4, 5, 6}}, kRun)),
            (std::vector<float>{0}));
  const Row shifted{0.5f, -1, 2, 0, 0, 0};
  EXPECT_EQ(relativeRmsDisplacement(motionSdmOf({shifted, shifted, shifted}, kRun)),
            (std::vector<float>{0, 0, 0}));
  // With rotations only the rounding of the matrix inverse remains.
  const Row turned{0.5f, -1, 2, 3, -4, 5};
  for (float v : relativeRmsDisplacement(motionSdmOf({turned, turned, turned}, kRun))) {
    EXPECT_NEAR(v, 0.0f, 1e-4f);
  }
}

TEST(MotionSeries, StepsBetweenNeighbours) {
  // Each value compares a volume with the one before it only.
  const SdmDocument steps = motionSdmOf({{0, 0, 0, 0, 0, 0},
                                         {1, 0, 0, 0, 0, 0},
                                         {1, 1, 0, 0, 0, 0},
                                         {1, 1, 1, 0, 0, 0},
                                         {1, 1, 1, 1, 0, 0},
                                         {1, 1, 1, 1, 1, 0},
                                         {1, 1, 1, 1, 1, 1},
                                         {1, 1, 1, 1, 1, 3}},
                                        kRun);
  const std::vector<float> r = relativeRmsDisplacement(steps);
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[0], 0.0f);
  for (std::size_t i = 1; i <= 3; ++i) EXPECT_NEAR(r[i], 1.0f, 1e-6f) << "volume " << i;
  // sqrt(845 * 4 * (1 - cos 1 deg)) and the same for 2 deg.
  for (std::size_t i = 4; i <= 6; ++i) EXPECT_NEAR(r[i], 0.717489f, 5e-4f) << "volume " << i;
  EXPECT_NEAR(r[7], 1.434923f, 5e-4f);
}

TEST(MotionSeries, ReadsOnlySixColumnsAndNrOfDataPointsRows) {
  SdmDocument doc = motionSdmOf({{0, 0, 0, 0, 0, 0, 100}, {3, 4, 0, 0, 0, 0, -100}}, kRun, 7);
  // A longer column: its extra row is never compared.
  doc.columns[0].push_back(1000.0f);
  const std::vector<float> r = relativeRmsDisplacement(doc);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1], 5.0f);
}

TEST(MotionSeries, RefusesDocumentsItCannotRead) {
  const SdmDocument valid = motionSdmOf({{0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}}, kRun);

  SdmDocument fewer = motionSdmOf({{0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}}, kRun, 5);
  EXPECT_THROW_MSG(
      relativeRmsDisplacement(fewer), IOError,
      "SDM file runs/run1_3DMC.sdm: holds 5 predictors, the six motion parameters need 6");

  SdmDocument shortColumn = valid;
  shortColumn.columns[4].pop_back();
  EXPECT_THROW_MSG(relativeRmsDisplacement(shortColumn), IOError,
                   "SDM file runs/run1_3DMC.sdm: predictor 5 holds 1 values, NrOfDataPoints is 2");

  SdmDocument negative = valid;
  negative.NrOfDataPoints.value = -3;
  EXPECT_THROW_MSG(relativeRmsDisplacement(negative), IOError,
                   "SDM file runs/run1_3DMC.sdm: predictor 1 holds 2 values, NrOfDataPoints is -3");
}

}  // namespace
}  // namespace tsl::testing
