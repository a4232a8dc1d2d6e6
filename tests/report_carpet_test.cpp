#include "report/carpet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

// A residual of 9 volumes free of mean and line (it sums to 0, and so does
// its product with the centred volume index -4 ... 4) whose standard
// deviation is sqrt(72 / 8) = 3: its z-scores are r / 3. None is 0, whose
// grey level 127.5 would be a tie that rounding decides.
constexpr double kResidual[9] = {-2, -2, 1, 7, -2, -1, -1, 2, -2};

// intercept + slope t + scale r(t); integers keep every step exact.
std::vector<double> series(double intercept, double slope, double scale) {
  std::vector<double> x;
  for (int t = 0; t < 9; ++t) x.push_back(intercept + slope * t + scale * kResidual[t]);
  return x;
}

std::vector<std::uint8_t> row(const GreyImage& image, std::size_t r) {
  const auto first = image.pixels.begin() + static_cast<std::ptrdiff_t>(r * image.width);
  return {first, first + static_cast<std::ptrdiff_t>(image.width)};
}

TEST(CarpetPlot, GreyLevelsOfZScores) {
  EXPECT_EQ(carpetGreyOf(-2.0), 0);
  EXPECT_EQ(carpetGreyOf(-7.0), 0);
  EXPECT_EQ(carpetGreyOf(0.0), 128);  // 127.5, rounded away from 0
  EXPECT_EQ(carpetGreyOf(1.9), 249);  // 248.625
  EXPECT_EQ(carpetGreyOf(2.0), 255);
  EXPECT_EQ(carpetGreyOf(30.0), 255);
}

TEST(CarpetPlot, OneVoxelPerRowDetrendedAndStandardised) {
  CarpetPlot carpet(4, 9);
  EXPECT_EQ(carpet.rows(), 4u);
  EXPECT_EQ(carpet.voxelsPerRow(), 1u);
  // z = r / 3: -2/3, -2/3, 1/3, 7/3 (clamped), ...
  carpet.addVoxel(series(200, -7, 1));
  // z = -r / 3, whatever the scale and line.
  carpet.addVoxel(series(-50, 2, -3));
  // A straight line whose steps do not add up exactly in binary: what is
  // left after removing its line is rounding, no signal.
  std::vector<double> line;
  for (int t = 0; t < 9; ++t) line.push_back(0.1 + 0.3 * t);
  carpet.addVoxel(line);
  carpet.addVoxel(std::vector<float>(9, 1234.5f));
  EXPECT_EQ(carpet.voxelsAdded(), 4u);

  const GreyImage image = carpet.image();
  ASSERT_EQ(image.width, 9u);
  ASSERT_EQ(image.height, 4u);
  EXPECT_EQ(row(image, 0), (std::vector<std::uint8_t>{85, 85, 149, 255, 85, 106, 106, 170, 85}));
  EXPECT_EQ(row(image, 1), (std::vector<std::uint8_t>{170, 170, 106, 0, 170, 149, 149, 85, 170}));
  EXPECT_EQ(row(image, 2), std::vector<std::uint8_t>(9, 128));
  EXPECT_EQ(row(image, 3), std::vector<std::uint8_t>(9, 128));
}

TEST(CarpetPlot, RowsAreMeansOfZScoresOverGroupsOfVoxels) {
  EXPECT_EQ(CarpetPlot(500, 3).rows(), 500u);
  EXPECT_EQ(CarpetPlot(501, 3).voxelsPerRow(), 2u);
  EXPECT_EQ(CarpetPlot(501, 3).rows(), 251u);
  EXPECT_EQ(CarpetPlot(1000, 3).rows(), 500u);

  // 1001 voxels: 3 per row, 334 rows, the last of 2 voxels.
  CarpetPlot carpet(1001, 9);
  ASSERT_EQ(carpet.voxelsPerRow(), 3u);
  ASSERT_EQ(carpet.rows(), 334u);
  for (std::size_t v = 0; v < 1001; ++v) {
    if (v == 0 || v == 1 || v == 999) {
      carpet.addVoxel(series(10.0 + static_cast<double>(v), 1, 1));
    } else if (v == 2) {
      carpet.addVoxel(series(-4, 0, -1));
    } else {
      carpet.addVoxel(std::vector<double>(9, static_cast<double>(v)));
    }
  }
  const GreyImage image = carpet.image();
  ASSERT_EQ(image.height, 334u);
  // Row 0: (r/3 + r/3 - r/3) / 3 = r / 9. At volume 3 the z-scores are 7/3,
  // 7/3 and -7/3: their mean 7/9 gives 177, where a mean of the clamped grey
  // levels (255, 255, 0) would give 170.
  EXPECT_EQ(row(image, 0),
            (std::vector<std::uint8_t>{113, 113, 135, 177, 113, 120, 120, 142, 113}));
  EXPECT_EQ(row(image, 1), std::vector<std::uint8_t>(9, 128));
  EXPECT_EQ(row(image, 332), std::vector<std::uint8_t>(9, 128));
  // The last row, voxels 999 and 1000 (flat): (r/3 + 0) / 2 = r / 6.
  EXPECT_EQ(row(image, 333),
            (std::vector<std::uint8_t>{106, 106, 138, 202, 106, 117, 117, 149, 106}));
}

// Drifting, noisy voxels of a length that fills no whole set of lanes, in
// three parts as the slices of a run come: each compiled version of the sums
// gives the image a plain two-pass computation gives, and the same bits.
TEST(CarpetPlot, MatchesAPlainComputationInEveryCompiledVersion) {
  constexpr std::size_t kVoxels = 1003;
  constexpr std::size_t kVolumes = 37;
  std::vector<std::vector<float>> voxels(kVoxels);
  std::vector<double> zSums(((kVoxels + 2) / 3) * kVolumes, 0.0);
  for (std::size_t v = 0; v < kVoxels; ++v) {
    std::vector<float>& x = voxels[v];
    for (std::size_t t = 0; t < kVolumes; ++t) {
      const double vt = static_cast<double>(v * 31 + t * 17);
      // A bright first volume, a drift, a slow wave and a little noise; every
      // fifth voxel far from 0, where floats are coarse.
      x.push_back(static_cast<float>(
          (t == 0 ? 900.0 : 700.0) + (v % 5 == 0 ? 1.0e6 : 0.0) + 0.01 * static_cast<double>(v) +
          0.37 * static_cast<double>(t) +
          5.0 * std::sin(0.4 * static_cast<double>(t) + 0.1 * static_cast<double>(v)) +
          std::fmod(vt * 0.6180339, 1.0)));
    }
    double mean = 0.0;
    for (const float value : x) mean += value;
    mean /= kVolumes;
    const double centre = (kVolumes - 1) / 2.0;
    double products = 0.0;
    double squares = 0.0;
    for (std::size_t t = 0; t < kVolumes; ++t) {
      products += (static_cast<double>(t) - centre) * (x[t] - mean);
      squares += (static_cast<double>(t) - centre) * (static_cast<double>(t) - centre);
    }
    std::vector<double> residual;
    double sumOfSquares = 0.0;
    for (std::size_t t = 0; t < kVolumes; ++t) {
      residual.push_back(x[t] - mean - products / squares * (static_cast<double>(t) - centre));
      sumOfSquares += residual.back() * residual.back();
    }
    const double deviation = std::sqrt(sumOfSquares / (kVolumes - 1));
    for (std::size_t t = 0; t < kVolumes; ++t)
      zSums[(v / 3) * kVolumes + t] += residual[t] / deviation;
  }
  std::vector<std::uint8_t> expected;
  for (std::size_t r = 0; r * 3 < kVoxels; ++r) {
    const double members = static_cast<double>(std::min<std::size_t>(3, kVoxels - r * 3));
    for (std::size_t t = 0; t < kVolumes; ++t)
      expected.push_back(carpetGreyOf(zSums[r * kVolumes + t] / members));
  }

  std::vector<KernelInstructions> versions{KernelInstructions::baseline};
  if (cpuHasAvx2()) versions.push_back(KernelInstructions::avx2);
  for (const KernelInstructions version : versions) {
    // Parts of 400, 0 and 603 voxels, the first ending inside a row.
    CarpetPlot carpet(kVoxels, kVolumes, {0, 400, 400, kVoxels}, version);
    for (std::size_t v = 400; v < kVoxels; ++v) carpet.addVoxelOf(2, v, voxels[v]);
    for (std::size_t v = 0; v < 400; ++v) carpet.addVoxelOf(0, v, voxels[v]);
    EXPECT_EQ(carpet.image().pixels, expected);
  }
}

TEST(CarpetPlot, RunsOfOneAndTwoVolumesAreMidGrey) {
  CarpetPlot one(2, 1);
  one.addVoxel(std::vector<double>{5.0});
  one.addVoxel(std::vector<double>{-7.0});
  EXPECT_EQ(one.image().pixels, std::vector<std::uint8_t>(2, 128));
  CarpetPlot two(1, 2);
  two.addVoxel(std::vector<double>{1.0, 3.0});
  EXPECT_EQ(two.image().pixels, std::vector<std::uint8_t>(2, 128));
}

TEST(CarpetPlot, RefusesWhatItCannotShow) {
  EXPECT_THROW_MSG(CarpetPlot(0, 5), std::invalid_argument,
                   "Carpet plot: 0 voxels and 5 volumes; it needs at least one of each");
  EXPECT_THROW_MSG(CarpetPlot(5, 0), std::invalid_argument,
                   "Carpet plot: 5 voxels and 0 volumes; it needs at least one of each");

  CarpetPlot carpet(2, 9);
  EXPECT_THROW_MSG(carpet.addVoxel(std::vector<double>(8, 1.0)), std::invalid_argument,
                   "Carpet plot: voxel 0 has 8 values, expected 9");
  std::vector<float> bad(9, 2.0f);
  bad[6] = std::nanf("");
  EXPECT_THROW_MSG(carpet.addVoxel(bad), std::invalid_argument,
                   "Carpet plot: voxel 0, volume 6 holds a value that is not a finite number");
  std::vector<double> huge = series(0, 0, 1e300);
  EXPECT_THROW_MSG(carpet.addVoxel(huge), std::invalid_argument,
                   "Carpet plot: voxel 0 holds values too large to standardise");
  // Floats that square in double, but whose distance from their mean is
  // beyond what a float holds.
  std::vector<float> wide(9, 3e38f);
  wide[4] = -3e38f;
  EXPECT_THROW_MSG(carpet.addVoxel(wide), std::invalid_argument,
                   "Carpet plot: voxel 0 holds values too large to standardise");
  EXPECT_EQ(carpet.voxelsAdded(), 0u);
  // What was refused left nothing behind: the voxel below still shows alone.
  carpet.addVoxel(series(200, -7, 1));
  EXPECT_THROW_MSG(carpet.image(), std::logic_error, "Carpet plot: 1 of 2 voxels were added");
  // A variation finer than floats resolve: mid grey, not a row of NaN.
  carpet.addVoxel(series(0, 0, 1e-45));
  EXPECT_THROW_MSG(carpet.addVoxel(std::vector<double>(9, 0.0)), std::invalid_argument,
                   "Carpet plot: all 2 voxels were added already");
  EXPECT_EQ(row(carpet.image(), 0),
            (std::vector<std::uint8_t>{85, 85, 149, 255, 85, 106, 106, 170, 85}));
  EXPECT_EQ(row(carpet.image(), 1), std::vector<std::uint8_t>(9, 128));
}

}  // namespace
}  // namespace tsl::testing
