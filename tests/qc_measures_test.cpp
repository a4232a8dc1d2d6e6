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
#include "designmatrix/motion_parameters.h"
#include "motion/motion_series.h"
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
  constexpr int n = 17;
  const SdmDocument motion = driftingMotion(n);
  const std::vector<double> rms = relativeRmsDisplacementInDouble(motionColumnsOf(motion));
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
  EXPECT_NEAR(q.meanFd, fdSum / (n - 1), 1e-12);
  EXPECT_NEAR(q.maxFd, fdMax, 1e-12);
  EXPECT_NEAR(q.meanRms, rmsSum / (n - 1), 1e-12);
  EXPECT_NEAR(q.maxRms, rmsMax, 1e-12);
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
  EXPECT_TRUE(measureRunQuality(motion, rms, flags, {q.meanFd * 0.999, 0.0}).overMeanFd);
  EXPECT_FALSE(measureRunQuality(motion, rms, flags, {q.meanFd, 0.0}).overLimits());
  const RunQuality overShare = measureRunQuality(motion, rms, flags, {-1.0, 47.0});
  EXPECT_TRUE(overShare.overFlaggedPercent);
  EXPECT_FALSE(overShare.overMeanFd);
  EXPECT_FALSE(measureRunQuality(motion, rms, flags, {0.0, 48.0}).overLimits());
  // 7 of 250 volumes are 2.8 %, not over a limit of 2.8.
  std::vector<std::size_t> seven{1, 2, 3, 4, 5, 6, 7};
  const RunQuality atLimit = measureRunQuality(driftingMotion(250), std::vector<double>(250, 0.0),
                                               flagVolumes(seven, 250, {}), {0.0, 2.8});
  EXPECT_EQ(atLimit.flaggedPercent, 2.8);
  EXPECT_FALSE(atLimit.overLimits());
}

// The figures of numpy in float64 on the same float values, printed by
// bench-style numpy code: diff of the parameters, rotations by np.deg2rad
// times 50, absolute values summed; the relative RMS from the rotation
// blocks' closed form.
TEST(QcMeasures, FiguresAgreeWithNumpyInDouble) {
  const std::vector<std::vector<float>> rows = {{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f},
                                                {0.12f, -0.31f, 0.05f, 0.4f, -0.25f, 0.11f},
                                                {0.97f, -1.43f, 0.38f, -0.62f, 0.55f, -1.19f},
                                                {1.01f, -1.39f, 0.41f, -0.58f, 0.61f, -1.2f},
                                                {0.33f, 0.27f, -0.9f, 0.2f, 0.07f, 0.66f}};
  std::vector<std::vector<float>> columns(6);
  for (const auto& r : rows)
    for (std::size_t p = 0; p < 6; ++p) columns[p].push_back(r[p]);
  const SdmDocument motion = test::sdmOf(columns, "run_3DMC.sdm");
  const std::vector<double> fd = framewiseDisplacement(motion);
  const std::vector<double> rms = relativeRmsDisplacementInDouble(motionColumnsOf(motion));
  const double numpyFd[] = {1.1432251208862181, 5.0227136732336604, 0.20599304624140333,
                            6.4250735217853103};
  const double numpyRms[] = {0.48360194280121782, 1.9537465630361641, 0.08265967368610104,
                             2.6775517922162781};
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_NEAR(fd[i], numpyFd[i - 1], 1e-13) << i;
    EXPECT_NEAR(rms[i], numpyRms[i - 1], 1e-13) << i;
  }
  std::ostringstream table;
  writeQualityTable(table, {measureRunQuality(motion, rms, flagVolumes({}, 5, {}), {})});
  EXPECT_NE(table.str().find("\t1.299390\t2.677552\t3.199251\t6.425074\t"), std::string::npos)
      << table.str();
}

// Volumes 0 and 1 are not at steady state: every figure leaves them out, and
// a change counts from volume 3 on (volume 2 has no steady volume before it).
TEST(QcMeasures, NonSteadyVolumesAndTheSignalsFigures) {
  constexpr std::size_t n = 17, d = 2;
  const SdmDocument motion = driftingMotion(static_cast<int>(n));
  const std::vector<double> rms = relativeRmsDisplacementInDouble(motionColumnsOf(motion));
  const FlaggedVolumes flags = flagVolumes({9}, n, {0, 1, 0}, d);
  SignalMeasures signal;
  for (std::size_t t = 0; t < n; ++t) {
    signal.dvars.push_back(t == 0 ? 0.0 : 20.0 + static_cast<double>((t * 7) % 5));
    signal.stdDvars.push_back(t == 0 ? 0.0 : 0.8 + 0.1 * static_cast<double>((t * 3) % 4));
  }
  signal.dataFile = "study/run2.fmr";
  signal.trMs = 2000;
  const RunQuality q = measureRunQuality(motion, rms, flags, {0.0, 0.0, 14}, d, signal);

  double fdSum = 0, fdMax = 0, kept = 0, keptCount = 0, dv = 0, sd = 0, sdMax = 0, rot = 0;
  double sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
  for (std::size_t t = d + 1; t < n; ++t) {
    const double fd = fdByHand(motion, static_cast<int>(t));
    const double z = signal.stdDvars[t];
    fdSum += fd;
    fdMax = std::max(fdMax, fd);
    if (t != 9 && t != 10) {
      kept += fd;
      ++keptCount;
    }
    dv += signal.dvars[t];
    sd += z;
    sdMax = std::max(sdMax, z);
    sx += fd, sy += z, sxy += fd * z, sxx += fd * fd, syy += z * z;
  }
  for (std::size_t t = d; t < n; ++t)
    for (std::size_t p = 3; p < 6; ++p)
      rot = std::max(rot, std::fabs(double{motion.columns[p][t]}));
  const double m = n - d - 1;
  EXPECT_EQ(q.dummy, 2u);
  EXPECT_NEAR(q.meanFd, fdSum / m, 1e-12);
  EXPECT_NEAR(q.maxFd, fdMax, 1e-12);
  EXPECT_EQ(q.maxRotation, rot);
  EXPECT_EQ(q.flagged, 2u);
  EXPECT_EQ(q.flaggedPercent, 200.0 / 15.0);
  EXPECT_EQ(q.remaining, 13u);
  EXPECT_EQ(q.longestClean, 7u);  // volumes 2-8
  EXPECT_NEAR(*q.meanFdKept, kept / keptCount, 1e-12);
  EXPECT_NEAR(*q.meanDvars, dv / m, 1e-12);
  EXPECT_NEAR(*q.meanStdDvars, sd / m, 1e-12);
  EXPECT_EQ(*q.maxStdDvars, sdMax);
  EXPECT_NEAR(*q.fdDvarsCorrelation,
              (m * sxy - sx * sy) / std::sqrt((m * sxx - sx * sx) * (m * syy - sy * sy)), 1e-12);
  EXPECT_EQ(*q.remainingSeconds, 26.0);
  EXPECT_EQ(q.dataFile, "study/run2.fmr");
  EXPECT_TRUE(q.underMinRemaining);
  EXPECT_TRUE(q.overLimits());

  // A constant std DVARS has no correlation; every volume flagged leaves no kept mean.
  signal.stdDvars.assign(n, 1.0);
  const RunQuality flat =
      measureRunQuality(motion, rms, flagVolumes({}, n, {0, 0, 16}, d), {0.0, 0.0, 13}, d, signal);
  EXPECT_FALSE(flat.fdDvarsCorrelation.has_value());
  EXPECT_FALSE(flat.meanFdKept.has_value());
  EXPECT_EQ(flat.remaining, 0u);
}

TEST(QcMeasures, RunsTooShortToMoveAndMismatchedInputs) {
  const SdmDocument one = driftingMotion(1);
  const RunQuality q = measureRunQuality(one, {0.0}, flagVolumes({}, 1, {}), {0.001, 0.001});
  EXPECT_EQ(q.volumes, 1u);
  EXPECT_EQ(q.meanFd, 0.0);
  EXPECT_EQ(q.maxRms, 0.0);
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
  RunQuality a;
  a.run = "C:/data/run1_3DMC.sdm";
  a.volumes = 1200;
  a.meanRms = 0.1;
  a.maxRms = 2.5;
  a.meanFd = 0.123456789;
  a.maxFd = 1234.5;
  a.spikes = 2;
  a.flagged = 400;
  a.flaggedPercent = 100.0 / 3.0;
  a.remaining = 800;
  a.longestClean = 1001;
  a.maxTranslation = 0.0000004;
  a.maxRotation = 3.0;
  a.overMeanFd = true;
  a.dummy = 3;
  a.meanFdKept = 0.0625;
  a.meanDvars = 21.5;
  a.meanStdDvars = 1.0000004;
  a.maxStdDvars = 3.25;
  a.fdDvarsCorrelation = -0.5;
  a.remainingSeconds = 1600.0;
  a.dataFile = "C:/data/run1.fmr";
  a.meanFdUnfiltered = 0.25;
  RunQuality b;
  b.run = "run 2.sdm";
  b.volumes = 1;
  b.longestClean = 1;

  std::ostringstream out;
  out.imbue(std::locale(std::locale::classic(), new Grouping));
  writeQualityTable(out, {a, b});
  EXPECT_EQ(out.str(),
            "run\tvolumes\tmean_rms\tmax_rms\tmean_fd\tmax_fd\tspikes\tflagged\tflagged_percent\t"
            "remaining\tlongest_clean\tmax_translation\tmax_rotation\tover_limits\tdummy\t"
            "mean_fd_kept\tmean_dvars\tmean_std_dvars\tmax_std_dvars\tfd_dvars_correlation\t"
            "remaining_seconds\tdata_file\tmean_fd_unfiltered\r\n"
            "C:/data/run1_3DMC.sdm\t1200\t0.100000\t2.500000\t0.123457\t1234.500000\t2\t400\t"
            "33.333333\t800\t1001\t0.000000\t3.000000\tyes\t3\t0.062500\t21.500000\t1.000000\t"
            "3.250000\t-0.500000\t1600.000000\tC:/data/run1.fmr\t0.250000\r\n"
            "run 2.sdm\t1\t0.000000\t0.000000\t0.000000\t0.000000\t0\t0\t0.000000\t0\t1\t"
            "0.000000\t0.000000\tno\t0\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\tn/a\r\n");

  b.run = "runs\tA.sdm";
  std::ostringstream refused;
  EXPECT_THROW_MSG(
      (writeQualityTable(refused, {a, b})), IOError,
      "SDM file runs\tA.sdm: its path holds a tab or a line break, which the QC table cannot hold");
  EXPECT_EQ(refused.str(), "");
}

}  // namespace
}  // namespace tsl::testing
