#include "confound/qc_measures.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "motion/motion_series.h"
#include "motion/rigid_body.h"
#include "support/hand_motion.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

// All six parameters drift, wobble and jump at volume 9; the largest
// translation and rotation are negative.
SdmDocument driftingMotion(int n) {
  const double drift[6] = {0.03, -0.05, 0.02, 0.04, -0.12, 0.06};
  const double wobble[6] = {0.2, 0.1, 0.3, 0.15, 0.25, 0.1};
  const double jump[6] = {0.8, -1.1, 0.4, -0.9, 0.7, -1.3};
  std::vector<std::vector<float>> columns(6);
  for (int p = 0; p < 6; ++p) {
    for (int i = 0; i < n; ++i) {
      columns[static_cast<std::size_t>(p)].push_back(static_cast<float>(
          drift[p] * i + wobble[p] * std::sin(0.9 * i + p) + (i >= 9 ? jump[p] : 0.0)));
    }
  }
  return test::sdmOf(columns, "study/run2_3DMC.sdm");
}

std::array<float, 6> row(const SdmDocument& doc, int i) {
  std::array<float, 6> r{};
  for (std::size_t p = 0; p < 6; ++p) r[p] = doc.columns[p][static_cast<std::size_t>(i)];
  return r;
}

double fdByHand(const SdmDocument& doc, int i) {
  return framewiseChangeByHand(row(doc, i - 1).data(), row(doc, i).data());
}

double rmsByHand(const SdmDocument& doc, int i) {
  return rmsChangeByHand(row(doc, i - 1).data(), row(doc, i).data());
}

TEST(QcMeasures, EveryMeasureOfADriftingRun) {
  EXPECT_EQ(kPiFloat, PI);
  constexpr int n = 17;
  const SdmDocument motion = driftingMotion(n);
  const std::vector<float> rms = relativeRmsDisplacement(motion);
  // Spikes at both ends and two side by side.
  const FlaggedVolumes flags = flagVolumes({0, 8, 9, 16}, n, {1, 1, 4});

  const RunQuality q = measureRunQuality(motion, rms, flags, {});
  double fdSum = 0.0, fdMax = 0.0, rmsSum = 0.0, rmsMax = 0.0, translation = 0.0, rotation = 0.0;
  for (int i = 0; i < n; ++i) {
    const auto r = row(motion, i);
    for (std::size_t p = 0; p < 3; ++p)
      translation = std::max(translation, std::fabs(double{r[p]}));
    for (std::size_t p = 3; p < 6; ++p) rotation = std::max(rotation, std::fabs(double{r[p]}));
    if (i == 0) continue;
    fdSum += fdByHand(motion, i);
    fdMax = std::max(fdMax, fdByHand(motion, i));
    rmsSum += rmsByHand(motion, i);
    rmsMax = std::max(rmsMax, rmsByHand(motion, i));
  }
  EXPECT_EQ(q.run, "study/run2_3DMC.sdm");
  EXPECT_EQ(q.volumes, 17u);
  EXPECT_NEAR(q.meanFd, fdSum / (n - 1), 1e-5);
  EXPECT_NEAR(q.maxFd, fdMax, 1e-5);
  EXPECT_NEAR(q.meanRms, rmsSum / (n - 1), 1e-5);
  EXPECT_NEAR(q.maxRms, rmsMax, 1e-5);
  EXPECT_EQ(q.maxTranslation, translation);
  EXPECT_EQ(q.maxRotation, rotation);
  // Flagged 0-1, 7-10, 15-16; the stretches 2-6 and 11-14 are long enough.
  EXPECT_EQ(q.spikes, 4u);
  EXPECT_EQ(q.flagged, 8u);
  EXPECT_EQ(q.flaggedPercent, 800.0 / 17.0);
  EXPECT_EQ(q.remaining, 9u);
  EXPECT_EQ(q.longestClean, 5u);
  EXPECT_FALSE(q.overLimits());

  // Limits count when above 0 and are exceeded strictly.
  EXPECT_TRUE(measureRunQuality(motion, rms, flags, {q.meanFd * 0.999f, 0.0f}).overMeanFd);
  EXPECT_FALSE(measureRunQuality(motion, rms, flags, {q.meanFd, 0.0f}).overLimits());
  const RunQuality overShare = measureRunQuality(motion, rms, flags, {-1.0f, 47.0f});
  EXPECT_TRUE(overShare.overFlaggedPercent);
  EXPECT_FALSE(overShare.overMeanFd);
  EXPECT_FALSE(measureRunQuality(motion, rms, flags, {0.0f, 48.0f}).overLimits());
}

TEST(QcMeasures, RunsTooShortToMoveAndMismatchedInputs) {
  const SdmDocument one = driftingMotion(1);
  const RunQuality q = measureRunQuality(one, {0.0f}, flagVolumes({}, 1, {}), {0.001f, 0.001f});
  EXPECT_EQ(q.volumes, 1u);
  EXPECT_EQ(q.meanFd, 0.0f);
  EXPECT_EQ(q.maxRms, 0.0f);
  EXPECT_EQ(q.longestClean, 1u);
  EXPECT_EQ(q.maxRotation, std::fabs(one.columns[4][0]));
  EXPECT_FALSE(q.overLimits());
  const RunQuality none = measureRunQuality(driftingMotion(0), {}, flagVolumes({}, 0, {}), {});
  EXPECT_EQ(none.flaggedPercent, 0.0);
  EXPECT_EQ(none.remaining, 0u);

  const SdmDocument motion = driftingMotion(5);
  EXPECT_THROW_MSG(
      measureRunQuality(motion, {0, 1, 2, 3}, flagVolumes({}, 5, {}), {}), std::invalid_argument,
      "SDM file study/run2_3DMC.sdm: the displacement series holds 4 values, NrOfDataPoints is 5");
  EXPECT_THROW_MSG(
      measureRunQuality(motion, {0, 1, 2, 3, 4}, flagVolumes({}, 6, {}), {}), std::invalid_argument,
      "SDM file study/run2_3DMC.sdm: the list of flags holds 6 values, NrOfDataPoints is 5");
}

// A locale that groups thousands, as many users' locales do.
struct Grouping : std::numpunct<char> {
  char do_thousands_sep() const override { return ','; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(QcMeasures, TableText) {
  RunQuality a{.run = "C:/data/run1_3DMC.sdm",
               .volumes = 1200,
               .meanRms = 0.1f,
               .maxRms = 2.5f,
               .meanFd = 0.123456789f,
               .maxFd = 1234.5f,
               .spikes = 2,
               .flagged = 400,
               .flaggedPercent = 100.0 / 3.0,
               .remaining = 800,
               .longestClean = 1001,
               .maxTranslation = 0.0000004f,
               .maxRotation = 3.0f,
               .overMeanFd = true};
  RunQuality b{.run = "run 2.sdm", .volumes = 1, .longestClean = 1};

  std::ostringstream out;
  out.imbue(std::locale(std::locale::classic(), new Grouping));
  writeQualityTable(out, {a, b});
  EXPECT_EQ(out.str(),
            "run\tvolumes\tmean_rms\tmax_rms\tmean_fd\tmax_fd\tspikes\tflagged\tflagged_percent\t"
            "remaining\tlongest_clean\tmax_translation\tmax_rotation\tover_limits\r\n"
            "C:/data/run1_3DMC.sdm\t1200\t0.100000\t2.500000\t0.123457\t1234.500000\t2\t400\t"
            "33.333333\t800\t1001\t0.000000\t3.000000\tyes\r\n"
            "run 2.sdm\t1\t0.000000\t0.000000\t0.000000\t0.000000\t0\t0\t0.000000\t0\t1\t"
            "0.000000\t0.000000\tno\r\n");

  b.run = "runs\tA.sdm";
  std::ostringstream refused;
  EXPECT_THROW_MSG(
      (writeQualityTable(refused, {a, b})), IOError,
      "SDM file runs\tA.sdm: its path holds a tab or a line break, which the QC table cannot hold");
  EXPECT_EQ(refused.str(), "");
}

}  // namespace
}  // namespace tsl::testing
