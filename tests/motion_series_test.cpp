#include "motion/motion_series.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "designmatrix/io_error.h"

namespace tsl::testing {
namespace {

using Row = std::vector<float>;

// A motion document with one row of parameters per volume (at least six
// values per row; every row the same length).
SdmDocument motionOf(const std::vector<Row>& rows, std::size_t predictors = 6) {
  SdmDocument doc;
  doc.path = "runs/run1_3DMC.sdm";
  doc.NrOfPredictors.value = static_cast<int>(predictors);
  doc.NrOfDataPoints.value = static_cast<int>(rows.size());
  doc.columns.assign(predictors, {});
  for (const Row& row : rows) {
    for (std::size_t p = 0; p < predictors; ++p) doc.columns[p].push_back(row[p]);
  }
  doc.names.assign(predictors, "M");
  doc.red.assign(predictors, 0);
  doc.green.assign(predictors, 0);
  doc.blue.assign(predictors, 0);
  return doc;
}

TEST(MotionSeries, ShortRuns) {
  EXPECT_TRUE(relativeRmsDisplacement(motionOf({})).empty());
  EXPECT_EQ(relativeRmsDisplacement(motionOf({{1, 2, 3, 4, 5, 6}})), (std::vector<float>{0}));
  const Row shifted{0.5f, -1, 2, 0, 0, 0};
  EXPECT_EQ(relativeRmsDisplacement(motionOf({shifted, shifted, shifted})),
            (std::vector<float>{0, 0, 0}));
  // With rotations only the rounding of the matrix inverse remains.
  const Row turned{0.5f, -1, 2, 3, -4, 5};
  for (float v : relativeRmsDisplacement(motionOf({turned, turned, turned}))) {
    EXPECT_NEAR(v, 0.0f, 1e-4f);
  }
}

TEST(MotionSeries, StepsBetweenNeighbours) {
  // Each value compares a volume with the one before it only.
  const std::vector<float> r = relativeRmsDisplacement(motionOf({{0, 0, 0, 0, 0, 0},
                                                                 {1, 0, 0, 0, 0, 0},
                                                                 {1, 1, 0, 0, 0, 0},
                                                                 {1, 1, 1, 0, 0, 0},
                                                                 {1, 1, 1, 1, 0, 0},
                                                                 {1, 1, 1, 1, 1, 0},
                                                                 {1, 1, 1, 1, 1, 1},
                                                                 {1, 1, 1, 1, 1, 3}}));
  ASSERT_EQ(r.size(), 8u);
  EXPECT_EQ(r[0], 0.0f);
  for (std::size_t i = 1; i <= 3; ++i) EXPECT_NEAR(r[i], 1.0f, 1e-6f) << "volume " << i;
  // sqrt(845 * 4 * (1 - cos 1 deg)) and the same for 2 deg.
  for (std::size_t i = 4; i <= 6; ++i) EXPECT_NEAR(r[i], 0.717489f, 5e-4f) << "volume " << i;
  EXPECT_NEAR(r[7], 1.434923f, 5e-4f);
}

TEST(MotionSeries, ReadsOnlySixColumnsAndNrOfDataPointsRows) {
  SdmDocument doc = motionOf({{0, 0, 0, 0, 0, 0, 100}, {3, 4, 0, 0, 0, 0, -100}}, 7);
  // A longer column: its extra row is never compared.
  doc.columns[0].push_back(1000.0f);
  const std::vector<float> r = relativeRmsDisplacement(doc);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1], 5.0f);
}

TEST(MotionSeries, RefusesDocumentsItCannotRead) {
  auto messageOf = [](const SdmDocument& doc) {
    try {
      relativeRmsDisplacement(doc);
    } catch (const IOError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const SdmDocument valid = motionOf({{0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0}});

  SdmDocument fewer = motionOf({{0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}}, 5);
  EXPECT_EQ(messageOf(fewer),
            "SDM file runs/run1_3DMC.sdm: holds 5 predictors, the six motion parameters need 6");

  SdmDocument shortColumn = valid;
  shortColumn.columns[4].pop_back();
  EXPECT_EQ(messageOf(shortColumn),
            "SDM file runs/run1_3DMC.sdm: predictor 5 holds 1 values, NrOfDataPoints is 2");

  SdmDocument negative = valid;
  negative.NrOfDataPoints.value = -3;
  EXPECT_EQ(messageOf(negative), "SDM file runs/run1_3DMC.sdm: predictor 1 holds 2 values, NrOfDataPoints is -3");
}

}  // namespace
}  // namespace tsl::testing
