// The spike model and the chain of models derived from the detrended motion
// parameters, without a task around them.
#include "confound/motion_models.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

// Five volumes, every parameter on its own curve, so that detrending leaves
// something that differs from column to column.
SdmDocument curvedMotion() {
  std::vector<std::vector<float>> columns(6);
  for (std::size_t p = 0; p < 6; ++p) {
    for (int t = 0; t < 5; ++t) {
      const float x = static_cast<float>(t);
      columns[p].push_back(0.1f * static_cast<float>(p + 1) * x * x - 0.3f * x);
    }
  }
  return test::sdmOf(columns, "s/run1_3DMC.sdm");
}

TEST(MotionModels, SpikeModelHasAPredictorPerVolumeAndTheMotionHeader) {
  const SdmDocument motion = curvedMotion();
  const SdmDocument spikes = spikeModel(motion, {1, 4});
  EXPECT_EQ(spikes.NrOfPredictors.value, 2);
  EXPECT_EQ(spikes.NrOfDataPoints.value, 5);
  EXPECT_FALSE(spikes.IncludesConstant.value);
  EXPECT_EQ(spikes.FirstConfoundPredictor.value, 1);
  EXPECT_EQ(spikes.names, (std::vector<std::string>{"Spike Volume 1", "Spike Volume 4"}));
  EXPECT_EQ(spikes.columns, (std::vector<std::vector<float>>{{0, 1, 0, 0, 0}, {0, 0, 0, 0, 1}}));
  EXPECT_EQ(spikes.red, (std::vector<int>{250, 250}));
  EXPECT_EQ(spikes.green, spikes.red);
  EXPECT_EQ(spikes.blue, spikes.red);
  EXPECT_EQ(spikeModel(motion, {}).NrOfPredictors.value, 0);
  // Non-steady-state volumes come first, a spike file even without spikes.
  const SdmDocument early = spikeModel(motion, {3}, 2);
  EXPECT_EQ(early.names, (std::vector<std::string>{"Non-steady Volume 0", "Non-steady Volume 1",
                                                   "Spike Volume 3"}));
  EXPECT_EQ(early.columns[1], (std::vector<float>{0, 1, 0, 0, 0}));
  EXPECT_EQ(spikeModel(motion, {}, 1).NrOfPredictors.value, 1);
  EXPECT_THROW_MSG(spikeModel(motion, {5}), std::invalid_argument,
                   "SDM file s/run1_3DMC.sdm: volume 5 lies beyond its 5 data points");
}

// Each model comes from the detrended values before any standardisation:
// the squares are squares of those values, the delays shift them.
TEST(MotionModels, EveryModelDerivesFromTheDetrendedValues) {
  const MotionModels m = deriveMotionModels(curvedMotion());
  for (std::size_t p = 0; p < 6; ++p) {
    const std::vector<float>& d = m.detrended.columns[p];
    for (std::size_t t = 0; t < 5; ++t) {
      EXPECT_EQ(m.squared.columns[p][t], d[t] * d[t]);
      EXPECT_EQ(m.delayed1.columns[p][t], t < 1 ? 0.0f : d[t - 1]);
      EXPECT_EQ(m.delayed2.columns[p][t], t < 2 ? 0.0f : d[t - 2]);
      EXPECT_EQ(m.delayed2Squared.columns[p][t], t < 2 ? 0.0f : d[t - 2] * d[t - 2]);
      const float slope = t == 0 || t == 4 ? 0.0f : (d[t + 1] - d[t - 1]) * 0.5f;
      EXPECT_EQ(m.derivative.columns[p][t], slope);
      EXPECT_EQ(m.derivativeSquared.columns[p][t], slope * slope);
    }
  }
  EXPECT_EQ(m.delayed1Squared.names[0], "P0 detrended t-1 squared");
  EXPECT_EQ(m.derivativeSquared.names[5], "P5 detrended derivative squared");
}

}  // namespace
}  // namespace tsl::testing
