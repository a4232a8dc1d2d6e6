#include "motion/displacement_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "tests/support/hand_motion.h"
#include "tests/support/reference_displacement.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using test::motionSdmOf;

constexpr const char* kRun = "C:/data/run1_3DMC.sdm";

// Uniform in [low, high), from the generator's bits alone (the standard
// distributions may differ between libraries).
float uniform(std::mt19937& g, float low, float high) {
  return low + (high - low) * static_cast<float>(g() >> 8) / 16777216.0f;
}

SdmDocument randomMotion(std::mt19937& g, std::size_t volumes) {
  std::vector<std::vector<float>> rows;
  for (std::size_t j = 0; j < volumes; ++j) {
    // Mostly small head motion, now and then a large turn.
    const float turn = g() % 8 == 0 ? 180.0f : 4.0f;
    rows.push_back({uniform(g, -3, 3), uniform(g, -3, 3), uniform(g, -3, 3),
                    uniform(g, -turn, turn), uniform(g, -turn, turn), uniform(g, -turn, turn)});
  }
  return motionSdmOf(rows, kRun);
}

// Every map of a and b holds the same bytes.
::testing::AssertionResult sameBits(const DisplacementMaps& a, const DisplacementMaps& b) {
  const int differing = firstDifferentMap(a, b);
  if (differing < 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "map " << differing << " differs";
}

std::vector<KernelInstructions> instructionSets() {
  std::vector<KernelInstructions> sets{KernelInstructions::baseline};
  if (cpuHasAvx2()) sets.push_back(KernelInstructions::avx2);
  return sets;
}

TEST(DisplacementKernel, AgreesWithTheWholeGridComputationBitForBit) {
  std::mt19937 g(20261208);
  int compared = 0;
  for (int trial = 0; trial < 40; ++trial) {
    // Up to 40 x 17 x 9 voxels: several tiles, and grids smaller than one.
    const Dim3 dims{static_cast<std::int32_t>(1 + g() % 40),
                    static_cast<std::int32_t>(1 + g() % 17),
                    static_cast<std::int32_t>(1 + g() % 9)};
    const float extent[3] = {static_cast<float>(dims.x) * uniform(g, 0.5f, 4.0f),
                             static_cast<float>(dims.y) * uniform(g, 0.5f, 4.0f),
                             static_cast<float>(dims.z) * uniform(g, 0.5f, 6.0f)};
    const std::size_t voxels = Volume::elementCount(dims);
    // A single volume in some trials; in others a row with an infinite or
    // not-a-number parameter, which must not raise any maximum it does not
    // raise in the plain computation.
    SdmDocument motion = randomMotion(g, trial % 5 == 0 ? 1 : 1 + g() % 30);
    if (trial % 7 == 3) {
      const std::size_t row = g() % motion.columns[0].size();
      motion.columns[g() % 6][row] = trial % 2 == 0 ? std::numeric_limits<float>::infinity()
                                                    : std::numeric_limits<float>::quiet_NaN();
    }

    std::vector<std::int32_t> full, sparse, ends;
    for (std::size_t v = 0; v < voxels; ++v) {
      full.push_back(static_cast<std::int32_t>(v));
      if (g() % 10 == 0) sparse.push_back(static_cast<std::int32_t>(v));
    }
    ends.push_back(0);
    if (voxels > 1) ends.push_back(static_cast<std::int32_t>(voxels - 1));
    for (const auto& mask : {std::vector<std::int32_t>{}, full, sparse, ends}) {
      const DisplacementMaps expected = referenceDisplacement(mask, dims, extent, motion);
      for (const KernelInstructions set : instructionSets()) {
        for (const unsigned threads : {1u, 2u, 5u}) {
          EXPECT_TRUE(
              sameBits(computeDisplacement(mask, dims, extent, motion, {set, threads}), expected))
              << "trial " << trial << ", grid " << dims.x << " x " << dims.y << " x " << dims.z
              << ", " << mask.size() << " masked voxels, instructions " << static_cast<int>(set)
              << ", " << threads << " threads";
          ++compared;
        }
      }
    }
  }
  EXPECT_EQ(compared, 40 * 4 * 3 * static_cast<int>(instructionSets().size()));
}

TEST(DisplacementKernel, MatchesAnIndependentComputationWithRotations) {
  const Dim3 dims{5, 4, 3};
  const float extent[3] = {15.0f, 14.0f, 10.5f};
  const std::vector<std::vector<float>> rows = {
      {0.5f, -0.25f, 0.1f, 1.0f, 0.0f, 0.0f},
      {0.0f, 0.0f, 0.0f, 0.0f, -2.0f, 0.5f},
      {1.5f, 0.75f, -1.0f, 0.3f, 0.4f, -1.2f},
      {0.2f, 0.1f, 0.0f, -0.6f, 1.1f, 2.5f},
  };
  // Every other voxel, to see that unmasked voxels stay 0.
  std::vector<std::int32_t> mask;
  for (std::int32_t i = 0; i < 60; i += 2) mask.push_back(i);
  const DisplacementMaps maps = computeDisplacement(mask, dims, extent, motionSdmOf(rows, kRun));

  const double size[3] = {15.0 / 5, 14.0 / 4, 10.5 / 3};
  int checked = 0;
  for (int z = 0; z < dims.z; ++z) {
    for (int y = 0; y < dims.y; ++y) {
      for (int x = 0; x < dims.x; ++x) {
        const auto v = static_cast<std::size_t>((z * dims.y + y) * dims.x + x);
        if (v % 2 == 1) {
          EXPECT_EQ(maps.maxAbsolute[v], 0.0f);
          EXPECT_EQ(maps.meanRelative[v], 0.0f);
          continue;
        }
        const Vec3d centre{(x + 0.5) * size[0] - 7.5, (y + 0.5) * size[1] - 7.0,
                           (z + 0.5) * size[2] - 5.25};
        double maxA = 0, sumA = 0, maxR = 0, sumR = 0, maxX = 0, maxY = 0, maxZ = 0;
        Vec3d previous = centre;
        for (const auto& row : rows) {
          const Vec3d moved = moveByHand(centre, row.data());
          const double a = distance(moved, centre);
          const double r = distance(moved, previous);
          maxA = std::max(maxA, a);
          sumA += a;
          maxR = std::max(maxR, r);
          sumR += r;
          maxX = std::max(maxX, std::fabs(moved.x - centre.x));
          maxY = std::max(maxY, std::fabs(moved.y - centre.y));
          maxZ = std::max(maxZ, std::fabs(moved.z - centre.z));
          previous = moved;
        }
        constexpr double kTolerance = 2e-5;
        EXPECT_NEAR(maps.maxAbsolute[v], maxA, kTolerance) << v;
        EXPECT_NEAR(maps.meanAbsolute[v], sumA / 4, kTolerance) << v;
        EXPECT_NEAR(maps.maxRelative[v], maxR, kTolerance) << v;
        EXPECT_NEAR(maps.meanRelative[v], sumR / 4, kTolerance) << v;
        EXPECT_NEAR(maps.maxAbsoluteX[v], maxX, kTolerance) << v;
        EXPECT_NEAR(maps.maxAbsoluteY[v], maxY, kTolerance) << v;
        EXPECT_NEAR(maps.maxAbsoluteZ[v], maxZ, kTolerance) << v;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 30);
}

TEST(DisplacementKernel, TranslationAndSingleVolume) {
  const Dim3 dims{3, 2, 2};
  const float extent[3] = {6.0f, 4.0f, 4.0f};
  const std::vector<std::int32_t> mask{0, 5, 11};
  const SdmDocument shifted =
      motionSdmOf({{2, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0}}, kRun);
  const DisplacementMaps maps = computeDisplacement(mask, dims, extent, shifted);
  for (const std::int32_t v : mask) {
    const auto i = static_cast<std::size_t>(v);
    EXPECT_EQ(maps.maxAbsolute[i], 2.0f);
    EXPECT_EQ(maps.meanAbsolute[i], 2.0f);
    EXPECT_EQ(maps.maxAbsoluteX[i], 2.0f);
    EXPECT_EQ(maps.maxAbsoluteY[i], 0.0f);
    EXPECT_EQ(maps.maxRelative[i], 2.0f);  // volume 0 against the unmoved centres
    EXPECT_EQ(maps.meanRelative[i], 2.0f / 3.0f);
  }
  EXPECT_EQ(maps.maxAbsolute[1], 0.0f);

  // One data point: the means equal the sums.
  const DisplacementMaps one =
      computeDisplacement(mask, dims, extent, motionSdmOf({{0, 3, 4, 0, 0, 0}}, kRun));
  EXPECT_EQ(one.meanAbsolute[5], 5.0f);
  EXPECT_EQ(one.meanRelative[5], 5.0f);
  EXPECT_EQ(one.maxAbsoluteZ[5], 4.0f);

  const DisplacementMaps none =
      computeDisplacement({}, dims, extent, motionSdmOf({{1, 1, 1, 9, 9, 9}}, kRun));
  EXPECT_EQ(*std::max_element(none.maxAbsolute.data(), none.maxAbsolute.data() + 12), 0.0f);
}

TEST(DisplacementKernel, RefusesWhatItCannotMeasure) {
  const Dim3 dims{2, 2, 1};
  const float extent[3] = {2.0f, 2.0f, 1.0f};
  EXPECT_THROW_MSG(computeDisplacement({0}, dims, extent, motionSdmOf({}, kRun)), IOError,
                   "SDM file C:/data/run1_3DMC.sdm: holds no data points, nothing to measure");
  EXPECT_THROW_MSG(
      computeDisplacement({0}, dims, extent, motionSdmOf({{0, 0, 0, 0, 0}}, kRun, 5)), IOError,
      "SDM file C:/data/run1_3DMC.sdm: holds 5 predictors, the six motion parameters need 6");
  SdmDocument shortColumn = motionSdmOf({{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}, kRun);
  shortColumn.columns[3].pop_back();
  EXPECT_THROW_MSG(
      computeDisplacement({0}, dims, extent, shortColumn), IOError,
      "SDM file C:/data/run1_3DMC.sdm: predictor 4 holds 1 values, NrOfDataPoints is 2");
  const SdmDocument good = motionSdmOf({{0, 0, 0, 0, 0, 0}}, kRun);
  EXPECT_THROW_MSG(computeDisplacement({0, 4}, dims, extent, good), std::invalid_argument,
                   "voxel mask index 4 is out of order or outside a grid of 4 voxels");
  EXPECT_THROW_MSG(computeDisplacement({2, 1}, dims, extent, good), std::invalid_argument,
                   "voxel mask index 1 is out of order or outside a grid of 4 voxels");
  EXPECT_THROW_MSG(computeDisplacement({-1}, dims, extent, good), std::invalid_argument,
                   "voxel mask index -1 is out of order or outside a grid of 4 voxels");
  EXPECT_NO_THROW(computeDisplacement({0, 1, 2, 3}, dims, extent, good));
}

}  // namespace
}  // namespace tsl::testing
