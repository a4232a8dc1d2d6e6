// DVARS against values worked out by hand from small runs (and, for the
// first run, nipype 1.8.5's compute_dvars on the same data: its float32
// results agree to 1e-6).
#include "signal/dvars.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <algorithm>

#include "designmatrix/io_error.h"
#include "fmr/fmr_header.h"
#include "fmr/stc_reader.h"
#include "tests/support/hand_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

void expectRelative(double actual, double expected, const std::string& what) {
  EXPECT_NEAR(actual, expected, 1e-12 * std::abs(expected)) << what;
}

class DvarsTest : public ::testing::Test {
 protected:
  FmrFileHeader run(Dim3 dims, int volumes, bool floats,
                    const std::map<int, std::vector<float>>& series,
                    const std::function<float(int, int)>& background) {
    return readFmrFileHeader(writeHandRun(dir_.path(), dims, volumes, floats, series, background),
                             false);
  }
  std::string fmrPath() const { return dir_.file("run.fmr"); }
  std::string stcPath() const { return dir_.file("run.stc"); }

  TempDir dir_;
};

// 3 x 2 x 2 voxels, 7 volumes, masked above 250: A (voxel 2) and C (voxel 10)
// vary; B (3) is constant and B2 (7) moves once but has equal quartiles, so
// both are dropped. Voxel 0 equals the threshold, the others lie below it in
// the first volume and far above it later.
const std::vector<float> kA{500, 512, 490, 524, 500, 540, 481};
const std::vector<float> kC{300, 330, 310, 340, 320, 300, 350};
const std::map<int, std::vector<float>> kFirstRun{
    {0, {250, 9000, 250, 9000, 250, 9000, 250}}, {2, kA},
    {3, {700, 700, 700, 700, 700, 700, 700}},    {7, {600, 600, 600, 650, 600, 600, 600}},
    {9, {250, 250, 250, 250, 250, 250, 250}},    {10, kC},
};
float belowThenBright(int i, int t) { return t == 0 ? static_cast<float>(i * 20) : 20000.0f; }

TEST_F(DvarsTest, WorkedExampleInBothEncodings) {
  // The 28 masked values sorted: C's 7 (300 ... 350), A's 7 (481 ... 540),
  // 600 x 6, 650, 700 x 7; an even count: median (540 + 600) / 2.
  const double median = 570.0;
  const double scale = 1000.0 / median;
  // Quartiles at sorted indices floor(0.25 x 6) = 1 and floor(0.75 x 6) = 4:
  // A 481 490 500 500 512 524 540 -> 490, 512; C 300 300 310 320 330 340 350
  // -> 300, 330.
  const double sdA = 22.0 * scale / 1.349;
  const double sdC = 30.0 * scale / 1.349;
  // Yule-Walker: r1 / r0 of the demeaned series, A -78803/120806 and C -27/56.
  const double hatA = std::sqrt(2.0 * (1.0 + 78803.0 / 120806.0)) * sdA;
  const double hatC = std::sqrt(2.0 * (1.0 + 27.0 / 56.0)) * sdC;
  const double meanHat = (hatA + hatC) / 2.0;
  // Squared differences of A and C summed, volumes 1 ... 6.
  const double squares[] = {144 + 900, 484 + 400, 1156 + 900, 576 + 400, 1600 + 400, 3481 + 2500};

  for (const bool floats : {false, true}) {
    const FmrFileHeader header = run(Dim3{3, 2, 2}, 7, floats, kFirstRun, belowThenBright);
    const DvarsSeries d = computeDvars(header, 250.0f);
    EXPECT_EQ(d.voxels, 2u);
    EXPECT_EQ(d.median, median);
    ASSERT_EQ(d.dvars.size(), 7u);
    ASSERT_EQ(d.stdDvars.size(), 7u);
    EXPECT_EQ(d.dvars[0], 0.0);
    EXPECT_EQ(d.stdDvars[0], 0.0);
    for (std::size_t t = 1; t < 7; ++t) {
      const double dvars = std::sqrt(squares[t - 1] / 2.0) * scale;
      expectRelative(d.dvars[t], dvars, "dvars, volume " + std::to_string(t));
      expectRelative(d.stdDvars[t], dvars / meanHat, "std DVARS, volume " + std::to_string(t));
    }
    // nipype's float32 results for this run.
    EXPECT_NEAR(d.dvars[1], 40.08302, 1e-4);
    EXPECT_NEAR(d.stdDvars[6], 1.6099356, 1e-6);
    // The same from the bytes in memory.
    const DvarsSeries m = computeDvars(header, 250.0f, readFile(stcPath()));
    EXPECT_EQ(m.dvars, d.dvars);
    EXPECT_EQ(m.stdDvars, d.stdDvars);
  }
}

// Three volumes: quartiles at sorted indices 0 and 1. Voxels P and R vary
// (10, 30, 20 and 25, 15, 35), Q (40, 40, 41) has equal quartiles. Nine
// masked values, an odd count: the middle one, 30, is the median. Voxels in
// three slices of two.
TEST_F(DvarsTest, RunOfThreeVolumesAndAnOddCount) {
  const std::map<int, std::vector<float>> series{{0, {10, 30, 20}},
                                                 {3, {40, 40, 41}},
                                                 {4, {25, 15, 35}},
                                                 {1, {0, 500, 900}},
                                                 {5, {-5, 1000, 3}}};
  for (const bool floats : {false, true}) {
    const FmrFileHeader header =
        run(Dim3{2, 1, 3}, 3, floats, series, [](int, int) { return -1.0f; });
    const DvarsSeries d = computeDvars(header, 0.0f);
    EXPECT_EQ(d.voxels, 2u);
    EXPECT_EQ(d.median, 30.0);
    // Both have IQR 10 and r1 / r0 = -1/2; squared differences 400 + 100 and
    // 100 + 400.
    const double dvars = std::sqrt(250.0) * 1000.0 / 30.0;
    for (std::size_t t = 1; t < 3; ++t) {
      expectRelative(d.dvars[t], dvars, "dvars");
      expectRelative(d.stdDvars[t], std::sqrt(2.5) * 1.349 / std::sqrt(3.0), "std DVARS");
    }
  }
}

// The tolerance compares the robust standard deviation of the scaled values,
// IQR / 1.349 x 1000 / median, with 1e-7. Float voxels D and E hold values
// near 1e-5 whose quartiles differ by just above and just below 1e-7 x the
// median / 1000 x 1.349; only the exact median (501, with 500 and 502 close
// enough that its first bounds do not decide) tells them apart.
TEST_F(DvarsTest, ToleranceAppliesToTheScaledSpreadForFloats) {
  const double median = 501.0;
  const auto series = [](double iqr) {
    const float low = 1e-5f;
    const float high = low + static_cast<float>(iqr);
    return std::vector<float>{low, high, low, high, low};
  };
  const double kept = 1.349 * 1e-7 * 501.5 / 1000.0;
  const double dropped = 1.349 * 1e-7 * 500.5 / 1000.0;
  const std::map<int, std::vector<float>> voxels{{0, {501, 490, 512, 495, 520}},
                                                 {1, {501, 530, 470, 540, 460}},
                                                 {2, series(kept)},
                                                 {3, series(dropped)},
                                                 {4, {501, 501, 501, 501, 501}},
                                                 {5, {501, 501, 501, 501, 501}}};
  const FmrFileHeader header = run(Dim3{3, 2, 1}, 5, true, voxels, [](int, int) { return 0.0f; });
  const DvarsSeries d = computeDvars(header, 0.0f);
  EXPECT_EQ(d.median, median);
  EXPECT_EQ(d.voxels, 3u);
  // Over three voxels, D's differences too small to count.
  const double squares[] = {121 + 841, 484 + 3600, 289 + 4900, 625 + 6400};
  for (std::size_t t = 1; t < 5; ++t) {
    expectRelative(d.dvars[t], std::sqrt(squares[t - 1] / 3.0) * 1000.0 / median, "dvars");
  }
}

// The six steps written out plainly on the whole run in memory (readStcData):
// sorted series, whole-run median, demeaned sums.
DvarsSeries plainDvars(const FmrFileHeader& run, float threshold) {
  FmrFileHeader whole = run;
  readStcData(whole);
  std::vector<std::vector<double>> series;
  for (std::size_t i = 0; i < whole.voxelData[0].size(); ++i) {
    if (!(whole.voxelData[0][i] > threshold)) continue;
    series.emplace_back();
    for (const Volume& v : whole.voxelData) series.back().push_back(v[i]);
  }
  std::vector<double> all;
  for (const auto& s : series) all.insert(all.end(), s.begin(), s.end());
  std::sort(all.begin(), all.end());
  DvarsSeries out;
  out.median = (all[(all.size() - 1) / 2] + all[all.size() / 2]) / 2;
  const std::size_t volumes = whole.voxelData.size();
  std::vector<double> squares(volumes, 0.0);
  double hats = 0.0;
  for (auto s : series) {
    for (double& v : s) v = v / out.median * 1000.0;
    std::vector<double> sorted = s;
    std::sort(sorted.begin(), sorted.end());
    const double sd = (sorted[3 * (volumes - 1) / 4] - sorted[(volumes - 1) / 4]) / 1.349;
    if (!(sd > 1e-7)) continue;
    double mean = 0.0;
    for (const double v : s) mean += v / static_cast<double>(volumes);
    double r0 = 0.0, r1 = 0.0;
    for (std::size_t t = 0; t < volumes; ++t) {
      r0 += (s[t] - mean) * (s[t] - mean);
      if (t > 0) r1 += (s[t] - mean) * (s[t - 1] - mean);
    }
    hats += std::sqrt(2.0 * (1.0 - r1 / r0)) * sd;
    for (std::size_t t = 1; t < volumes; ++t) squares[t] += (s[t] - s[t - 1]) * (s[t] - s[t - 1]);
    ++out.voxels;
  }
  out.dvars.assign(volumes, 0.0);
  out.stdDvars.assign(volumes, 0.0);
  for (std::size_t t = 1; t < volumes; ++t) {
    out.dvars[t] = std::sqrt(squares[t] / static_cast<double>(out.voxels));
    out.stdDvars[t] = out.dvars[t] / (hats / static_cast<double>(out.voxels));
  }
  return out;
}

// A head of 7 x 5 x 4 voxels over 23 volumes: more voxels per slice than are
// gathered at once, slices shared among threads, values drifting, jumping and
// spanning more integers than are counted in some voxels; a few constant
// voxels. The slice-by-slice passes agree with the plain computation.
TEST_F(DvarsTest, AgreesWithThePlainComputationOnALargerRun) {
  const auto value = [](int i, int t) {
    const int x = i % 7, y = i / 7 % 5, z = i / 35;
    if (x == 3 && y == 2) return 640.0f;  // constant through the slices
    const float base = 300.0f + 40.0f * static_cast<float>((x * 3 + y * 5 + z * 7) % 11);
    const float wiggle = static_cast<float>((i * 37 + t * t * 11 + t * 5) % 29) - 14.0f;
    const float jump = t == 11 ? 90.0f * static_cast<float>(y - 2) : 0.0f;
    const float wide = i % 13 == 0 && t % 2 == 1 ? 9000.0f : 0.0f;
    return base + wiggle * (1.0f + 0.1f * static_cast<float>(z)) + 1.5f * static_cast<float>(t) +
           jump + wide;
  };
  for (const bool floats : {false, true}) {
    const FmrFileHeader header = run(Dim3{7, 5, 4}, 23, floats, {}, [&](int i, int t) {
      return floats ? value(i, t) + 0.125f * static_cast<float>(i % 5) : value(i, t);
    });
    const DvarsSeries expected = plainDvars(header, 450.0f);
    const DvarsSeries d = computeDvars(header, 450.0f);
    EXPECT_EQ(d.voxels, expected.voxels);
    EXPECT_GT(d.voxels, 40u);
    EXPECT_EQ(d.median, expected.median);
    for (std::size_t t = 1; t < 23; ++t) {
      expectRelative(d.dvars[t], expected.dvars[t], "dvars, volume " + std::to_string(t));
      expectRelative(d.stdDvars[t], expected.stdDvars[t], "std DVARS, volume " + std::to_string(t));
    }
  }
}

TEST_F(DvarsTest, Refusals) {
  const std::string fmr = "FMR file " + fmrPath() + ": ";
  const auto constant = [](int i, int) { return static_cast<float>(100 + i); };
  FmrFileHeader header = run(Dim3{3, 1, 2}, 4, false, {}, constant);
  EXPECT_THROW_MSG(computeDvars(header, 1234.5f), IOError,
                   fmr + "no voxel of the first volume is above the threshold of 1234.5");
  EXPECT_THROW_MSG(computeDvars(header, 0.0f), IOError,
                   fmr + "no voxel in the mask varies over time; DVARS cannot be computed");
  // Two volumes: every voxel's quartiles are its first value.
  header = run(Dim3{3, 1, 2}, 2, false, {}, [](int i, int t) { return float(100 + i * t * 7); });
  EXPECT_THROW_MSG(computeDvars(header, 0.0f), IOError,
                   fmr + "no voxel in the mask varies over time; DVARS cannot be computed");

  // Negative intensities: the even count's two middle values are -3 and -4.
  const std::map<int, std::vector<float>> negative{{0, {-1, -3, -8}}, {1, {-2, -4, -9}}};
  for (const bool floats : {false, true}) {
    header = run(Dim3{2, 1, 1}, 3, floats, negative, constant);
    EXPECT_THROW_MSG(computeDvars(header, -10.0f), IOError,
                     fmr + "the median intensity in the mask is -3.5; DVARS need a positive one");
  }
  // Minus and plus zero are one median.
  header = run(Dim3{2, 1, 1}, 3, true, {{0, {-0.0f, 5, -0.0f}}, {1, {0, -5, 0}}}, constant);
  EXPECT_THROW_MSG(computeDvars(header, -10.0f), IOError,
                   fmr + "the median intensity in the mask is 0; DVARS need a positive one");

  header = run(Dim3{2, 1, 2}, 0, false, {}, constant);
  EXPECT_THROW_MSG(computeDvars(header, 0.0f), IOError,
                   fmr + "NrOfVolumes is 0, the run has no first volume");

  header = run(Dim3{2, 1, 2}, 6, true,
               {{3, {1, 2, 3, 4, std::numeric_limits<float>::infinity(), 6}}}, constant);
  EXPECT_THROW_MSG(
      computeDvars(header, 0.0f), IOError,
      "STC file " + stcPath() + ": slice 1, volume 4 holds a value that is not a finite number");
  std::filesystem::remove(stcPath());
  EXPECT_THROW_MSG(computeDvars(header, 0.0f), OpenFileError,
                   "Failed opening STC for reading: " + stcPath());
}

}  // namespace
}  // namespace tsl::testing
