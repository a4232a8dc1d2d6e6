#include "confound/motion_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using Series = std::vector<double>;

constexpr double kScipyTolerance = 1e-12;

MotionFilterParameters notch(float low, float high, int order) {
  return motionFilterParameters(1, low, high, order);
}
MotionFilterParameters lowPass(float cutoff, int order) {
  return motionFilterParameters(2, cutoff, 0.0f, order);
}

IirFilter designFor(const MotionFilterParameters& p, double trMs) {
  return designMotionFilter(p, foldMotionFilterBand(p, trMs, "run"));
}

void expectNear(const Series& actual, const Series& expected, double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
  }
}

// Coefficients printed by scipy 1.10, the band folded by hand where needed:
//   python3 -c "from scipy.signal import iirnotch as n; print([list(map(float, c)) for c in
//     n(0.25, 2.5, fs=1.25)])"
//   python3 -c "from scipy.signal import iirnotch as n; fs=1000/1800; l,h=0.2,abs(20/60-fs);
//     f=(l+h)/2; print([list(map(float, c)) for c in n(f, f/abs(h-l), fs=fs)])"
//   python3 -c "from scipy.signal import butter; print([list(map(float, c)) for c in
//     butter(2, 0.1, 'lowpass', fs=1.25)])"
//   python3 -c "from scipy.signal import butter; fs=1000/1800; print([list(map(float, c)) for c
//     in butter(3, abs(40/60-fs), 'lowpass', fs=fs)])"
TEST(MotionFilter, DesignsAgreeWithScipyAtTwoSamplingRates) {
  const IirFilter notch800 = designFor(notch(12, 18, 4), 800);
  expectNear(notch800.b, {0.7956991756997356, -0.4917691354027111, 0.7956991756997356},
             kScipyTolerance);
  expectNear(notch800.a, {1.0, -0.4917691354027111, 0.5913983513994712}, kScipyTolerance);
  EXPECT_EQ(notch800.passes, 1);

  const IirFilter notch1800 = designFor(notch(12, 20, 11), 1800);
  expectNear(notch1800.b, {0.8878397555248064, 1.294414655910159, 0.8878397555248064},
             kScipyTolerance);
  expectNear(notch1800.a, {1.0, 1.294414655910159, 0.7756795110496129}, kScipyTolerance);
  EXPECT_EQ(notch1800.passes, 2);

  const IirFilter low800 = designFor(lowPass(6, 5), 800);
  expectNear(low800.b, {0.046131802093312906, 0.09226360418662581, 0.046131802093312906},
             kScipyTolerance);
  expectNear(low800.a, {1.0, -1.3072850288493236, 0.4918122372225753}, kScipyTolerance);
  EXPECT_EQ(low800.passes, 1);

  // Order 6: three poles, one of them real; the cutoff 40 per minute folded.
  const IirFilter low1800 = designFor(lowPass(40, 6), 1800);
  expectNear(low1800.b,
             {0.0985311609239269, 0.2955934827717807, 0.2955934827717807, 0.0985311609239269},
             kScipyTolerance);
  expectNear(low1800.a, {1.0, -0.5772405248063045, 0.42178704868956224, -0.05629723649184282},
             kScipyTolerance);
}

// A sampled sinusoid of f Hz at TR 800 ms on a drift.
Series breathingOnDrift(double f, std::size_t volumes) {
  Series x(volumes);
  for (std::size_t k = 0; k < volumes; ++k) {
    const double t = 0.8 * static_cast<double>(k);
    x[k] = std::sin(2.0 * std::numbers::pi * f * t + 0.7) + 0.002 * t;
  }
  return x;
}

// Away from the ends, the zero-phase filter leaves the drift and scales the
// sinusoid by the squared magnitude of the filter's response: 0 at the
// notch's centre; for the Butterworth low-pass of order 2 at cutoff fc,
// 1 / (1 + (tan(pi f / fs) / tan(pi fc / fs))^4) after the bilinear
// transform's prewarping.
TEST(MotionFilter, RemovesTheBreathingBandAndKeepsSlowMotion) {
  const std::size_t volumes = 301;
  const std::size_t from = 60, to = 241;  // past the ends' transients
  const Series silent = breathingOnDrift(0.0, volumes);
  const double drift0 = std::sin(0.7);
  const IirFilter notch15 = designFor(notch(12, 18, 4), 800);
  const IirFilter low6 = designFor(lowPass(6, 4), 800);
  const Series notched = zeroPhaseFilter(notch15, breathingOnDrift(0.25, volumes));
  for (std::size_t k = from; k < to; ++k) {
    EXPECT_NEAR(notched[k], silent[k] - drift0, 1e-6) << "volume " << k;
  }
  const Series slow = breathingOnDrift(0.025, volumes);
  const Series kept = zeroPhaseFilter(notch15, slow);
  const Series passed = zeroPhaseFilter(low6, slow);
  const Series fast = zeroPhaseFilter(low6, breathingOnDrift(0.25, volumes));
  const auto gain = [](double f) {
    const double ratio =
        std::tan(std::numbers::pi * f / 1.25) / std::tan(std::numbers::pi * 0.1 / 1.25);
    return 1.0 / (1.0 + std::pow(ratio, 4.0));
  };
  for (std::size_t k = from; k < to; ++k) {
    const double drift = silent[k] - drift0;
    EXPECT_NEAR(kept[k], slow[k], 0.003) << "volume " << k;
    EXPECT_NEAR(passed[k] - drift, gain(0.025) * (slow[k] - drift), 1e-3) << "volume " << k;
    EXPECT_NEAR(fast[k] - drift, gain(0.25) * (breathingOnDrift(0.25, volumes)[k] - drift), 1e-3)
        << "volume " << k;
  }
}

TEST(MotionFilter, FoldsEdgesAboveTheNyquistFrequency) {
  // TR 1800 ms: fs = 5/9 Hz, 33.3333 per minute; 20 per minute folds to
  // |1/3 - 5/9| Hz = 13.3333, 40 to |2/3 - 5/9| Hz = 6.66667.
  const MotionFilterBand n1800 = foldMotionFilterBand(notch(12, 20, 4), 1800, "run1");
  EXPECT_TRUE(n1800.folded);
  EXPECT_DOUBLE_EQ(n1800.samplingHz, 5.0 / 9.0);
  EXPECT_DOUBLE_EQ(n1800.lowHz, 0.2);
  EXPECT_DOUBLE_EQ(n1800.highHz, 2.0 / 9.0);
  EXPECT_EQ(motionFilterFoldingWarning(notch(12, 20, 4), n1800, "run1"),
            "Warning: run1: the stop band 12-20 breaths per minute lies above the Nyquist "
            "frequency of TR 1800 ms (16.6667 per minute); filtering at 12-13.3333 instead");
  const MotionFilterBand l1800 = foldMotionFilterBand(lowPass(40, 4), 1800, "run1");
  EXPECT_DOUBLE_EQ(l1800.lowHz, 1.0 / 9.0);
  EXPECT_EQ(motionFilterFoldingWarning(lowPass(40, 4), l1800, "run1"),
            "Warning: run1: the low-pass cutoff 40 breaths per minute lies above the Nyquist "
            "frequency of TR 1800 ms (16.6667 per minute); filtering at 6.66667 instead");

  // TR 2000 ms: fs = 30 per minute. 20 folds to 10 and 25 to 5, so the band
  // turns over; 40 folds to 10 (one turn), 12-15 stays (15 is the Nyquist
  // frequency, not above it).
  const MotionFilterBand n2000 = foldMotionFilterBand(notch(20, 25, 4), 2000, "run2");
  EXPECT_DOUBLE_EQ(n2000.lowHz * 60.0, 10.0);
  EXPECT_DOUBLE_EQ(n2000.highHz * 60.0, 5.0);
  EXPECT_EQ(motionFilterFoldingWarning(notch(20, 25, 4), n2000, "run2"),
            "Warning: run2: the stop band 20-25 breaths per minute lies above the Nyquist "
            "frequency of TR 2000 ms (15 per minute); filtering at 5-10 instead");
  EXPECT_DOUBLE_EQ(foldMotionFilterBand(lowPass(40, 2), 2000, "run2").lowHz * 60.0, 10.0);
  const MotionFilterBand kept = foldMotionFilterBand(notch(12, 15, 4), 2000, "run2");
  EXPECT_FALSE(kept.folded);
  EXPECT_DOUBLE_EQ(kept.highHz, 0.25);
  EXPECT_FALSE(foldMotionFilterBand(lowPass(6, 4), 800, "run3").folded);
}

TEST(MotionFilter, ConstantAndLinearSeries) {
  // A steady start makes no transient: a constant stays, through every pass.
  for (const IirFilter& f : {designFor(notch(12, 20, 12), 1800), designFor(lowPass(6, 8), 800)}) {
    expectNear(zeroPhaseFilter(f, Series(13, -0.734)), Series(13, -0.734), 1e-12);
  }
  // A ramp keeps its middle, but the constant extension bends its ends:
  //   python3 -c "from scipy.signal import butter,filtfilt; x=[0.5+0.3*k for k in range(7)];
  //     print(list(filtfilt(*butter(2, 0.1, 'lowpass', fs=1.25), x, padtype='constant',
  //     padlen=6)))"
  // and the same with iirnotch(0.25, 2.5, fs=1.25).
  Series ramp;
  for (int k = 0; k < 7; ++k) ramp.push_back(0.5 + 0.3 * k);
  expectNear(zeroPhaseFilter(designFor(lowPass(6, 4), 800), ramp),
             {0.7410347149028721, 0.925843839369621, 1.1513254882534973, 1.399250932902055,
              1.6470610183031849, 1.8722524440133679, 2.056770098379298},
             kScipyTolerance);
  expectNear(zeroPhaseFilter(designFor(notch(12, 18, 4), 800), ramp),
             {0.5483454683707012, 0.809547081369153, 1.078949125791501, 1.4009483131712308,
              1.7221958840767961, 1.9894159875867705, 2.2485656764042283},
             kScipyTolerance);
}

TEST(MotionFilter, RunsOfTwoVolumesOneAndNone) {
  //   python3 -c "import numpy as np; from scipy.signal import butter,filtfilt;
  //     x=np.float32([0.1,-0.25]).astype(float); print(list(filtfilt(*butter(2, 0.1,
  //     'lowpass', fs=1.25), x, padtype='constant', padlen=1)))"
  // and twice filtfilt with the folded notch of the design test above.
  const Series two{static_cast<double>(0.1f), static_cast<double>(-0.25f)};
  expectNear(zeroPhaseFilter(designFor(lowPass(6, 4), 800), two),
             {0.04180956626193798, 0.03291744563526227}, kScipyTolerance);
  expectNear(zeroPhaseFilter(designFor(notch(12, 20, 8), 1800), two),
             {0.03997494217852717, -0.18928440789993384}, kScipyTolerance);
  expectNear(zeroPhaseFilter(designFor(notch(12, 20, 8), 1800), {0.37}), {0.37}, 1e-15);
  EXPECT_TRUE(zeroPhaseFilter(designFor(lowPass(6, 4), 800), {}).empty());
}

// Six drifting parameters over 9 volumes, the folded notch in two passes:
//   python3 -c "import numpy as np; from scipy.signal import iirnotch,filtfilt;
//     m=np.float32(<the columns below>).astype(float); fs=1000/1800; l,h=0.2,abs(20/60-fs);
//     f=(l+h)/2; b,a=iirnotch(f, f/abs(h-l), fs=fs); y=filtfilt(b,a,filtfilt(b,a,m,axis=1,
//     padtype='constant',padlen=8),axis=1,padtype='constant',padlen=8); print(y.T)"
TEST(MotionFilter, FiltersEachParameterOnItsOwn) {
  const std::vector<std::vector<float>> columns{
      {0.012f, 0.031f, 0.055f, 0.048f, 0.090f, 0.121f, 0.117f, 0.160f, 0.183f},
      {-0.020f, 0.110f, -0.050f, 0.140f, -0.010f, 0.170f, 0.020f, 0.190f, 0.060f},
      {0.300f, 0.310f, 0.335f, 0.330f, 0.362f, 0.380f, 0.371f, 0.405f, 0.420f},
      {0.050f, 0.020f, 0.081f, 0.040f, 0.102f, 0.066f, 0.125f, 0.090f, 0.141f},
      {-0.110f, -0.105f, -0.120f, -0.098f, -0.131f, -0.090f, -0.142f, -0.085f, -0.150f},
      {0.000f, 0.015f, 0.028f, 0.046f, 0.060f, 0.071f, 0.093f, 0.104f, 0.118f}};
  const std::vector<Series> expected{
      {0.01415368486099945, -0.02867728706604742, 0.30130430977279521, 0.052732083732915623,
       -0.11296128032252334, 0.00092970431424321451},
      {0.033839458432804115, 0.10659021506076469, 0.313199871242485, 0.021302928916108972,
       -0.099783418541492794, 0.013703293924643365},
      {0.047976897578079734, -0.039467486045907066, 0.32858916128890603, 0.077535634508990564,
       -0.12556190877241685, 0.029276473758379724},
      {0.054896441976080609, 0.12831285025804098, 0.33584111126554578, 0.043643948068066686,
       -0.094795250083651431, 0.045324552447477885},
      {0.088556673936112024, 0.001030297069325815, 0.36086197951807464, 0.098977588100945146,
       -0.12941633325806201, 0.059628889272604541},
      {0.11577033965501067, 0.15898705469041771, 0.375334150248959, 0.068684081826401885,
       -0.097024225805069239, 0.072287249363570408},
      {0.12495968073490744, 0.029761551674010157, 0.378181719997501, 0.12255632538713108,
       -0.13180098626863482, 0.091516682589847922},
      {0.15490442028817694, 0.18635809648569374, 0.40025412269987154, 0.09113881203757021,
       -0.093442456286509615, 0.10496773823329092},
      {0.18250006197378665, 0.051335940924929477, 0.41982753382700894, 0.1428209568793247,
       -0.1489235350713472, 0.11772114700942633}};
  MotionParameters motion;
  for (std::size_t j = 0; j < expected.size(); ++j) {
    MotionRow row{};
    for (std::size_t c = 0; c < row.size(); ++c) row[c] = columns[c][j];
    motion.volumes.push_back(row);
  }
  const FilteredMotion filtered = filterMotion(notch(12, 20, 8), motion, 1800, "run1");
  EXPECT_TRUE(filtered.band.folded);
  for (std::size_t j = 0; j < expected.size(); ++j) {
    for (std::size_t c = 0; c < expected[j].size(); ++c) {
      EXPECT_NEAR(filtered.columns[c][j], expected[j][c], kScipyTolerance)
          << "volume " << j << " parameter " << c;
    }
  }
  motion.volumes[4][2] = std::numeric_limits<float>::infinity();
  EXPECT_THROW_MSG(filterMotion(notch(12, 20, 8), motion, 1800, "run1"), std::invalid_argument,
                   "run1: the motion filter gives a value that is not finite for motion "
                   "parameter 3");
}

TEST(MotionFilter, RefusesDialogValuesNamingTheParameter) {
  const float inf = std::numeric_limits<float>::infinity();
  const auto refused = [](int type, float low, float high, int order, const std::string& text) {
    EXPECT_THROW_MSG(motionFilterParameters(type, low, high, order), std::invalid_argument,
                     "Dialog parameter " + text);
  };
  refused(3, 12, 18, 4, "motion_filter is 3: 0 is no filter, 1 the notch, 2 the low-pass");
  refused(-1, 12, 18, 4, "motion_filter is -1: 0 is no filter, 1 the notch, 2 the low-pass");
  refused(1, 0, 18, 4,
          "band_stop_min is 0: the stop band's lower edge (breaths per minute) must be above 0");
  refused(2, -6, 0, 4,
          "band_stop_min is -6: the low-pass cutoff (breaths per minute) must be above 0");
  refused(2, inf, 0, 4,
          "band_stop_min is inf: the low-pass cutoff (breaths per minute) must be finite");
  refused(1, 12, 0, 4,
          "band_stop_max is 0: the stop band's upper edge (breaths per minute) must be above 0");
  refused(1, 18, 12.5f, 4,
          "band_stop_max is 12.5: the stop band's upper edge must be above band_stop_min (18)");
  refused(1, 18, 18, 4,
          "band_stop_max is 18: the stop band's upper edge must be above band_stop_min (18)");
  refused(1, 12, 18, 3,
          "motion_filter_order is 3: the notch needs at least 4, one pass for every 4");
  refused(2, 6, 0, 1,
          "motion_filter_order is 1: the low-pass needs at least 2, its design having half the "
          "order");
  // Off, nothing else is looked at; the low-pass ignores band_stop_max.
  EXPECT_EQ(motionFilterParameters(0, -1, -2, 0).type, MotionFilterType::kNone);
  EXPECT_EQ(motionFilterParameters(2, 6, -3, 2).order, 2);
}

TEST(MotionFilter, RefusesRunsWhoseBandFoldsToNothing) {
  const auto refused = [](const MotionFilterParameters& p, double trMs, const std::string& text) {
    EXPECT_THROW_MSG(foldMotionFilterBand(p, trMs, "sub-01_run2.sdm"), std::invalid_argument,
                     "sub-01_run2.sdm: " + text);
  };
  const std::string needs = "; a low-pass needs a cutoff above 0 and below the Nyquist frequency";
  // 18 per minute folds to |18 - 30| = 12 at TR 2000 ms.
  refused(notch(12, 18, 4), 2000,
          "the stop band 12-18 breaths per minute folds to a band of no width (12-12) about the "
          "Nyquist frequency of TR 2000 ms (15 per minute); the notch would filter nothing");
  refused(lowPass(60, 4), 2000,
          "the low-pass cutoff 60 breaths per minute folds to 0 about the Nyquist frequency of "
          "TR 2000 ms (15 per minute)" +
              needs);
  // Three times the Nyquist frequency folds onto it.
  refused(lowPass(50, 4), 1800,
          "the low-pass cutoff 50 breaths per minute folds to the Nyquist frequency of TR 1800 "
          "ms (16.6667 per minute)" +
              needs);
  refused(lowPass(15, 4), 2000,
          "the low-pass cutoff 15 breaths per minute lies at the Nyquist frequency of TR 2000 ms "
          "(15 per minute)" +
              needs);
  refused(notch(12, 18, 4), 0, "TR is 0 ms; the motion filter needs a repetition time above 0");
  refused(notch(12, 18, 4), std::numeric_limits<double>::quiet_NaN(),
          "TR is nan ms; the motion filter needs a repetition time above 0");
  // In scipy this transfer function is off by 0.8 mm on breathing motion
  // (bench/motion_filter_crosscheck.py); order 8 at that cutoff is fine.
  refused(lowPass(1.2f, 24), 800,
          "the low-pass cutoff 1.2 breaths per minute at TR 800 ms with motion_filter_order 24 "
          "cannot be computed in double precision; choose a lower order");
  EXPECT_NO_THROW(foldMotionFilterBand(lowPass(1.2f, 8), 800, "run"));
}

// The precision check must not turn away what studies use: low-pass cutoffs
// of 3 to 12 per minute up to order 12 below TR 1 s and up to order 16 above
// (Butterworth order 6 and 8; the poles crowd toward 1 as the cutoff falls
// relative to fs), and notches of any order.
TEST(MotionFilter, AcceptsTheOrdersStudiesUse) {
  for (const double trMs : {400.0, 500.0, 720.0, 800.0, 1000.0, 1500.0, 2000.0, 3000.0}) {
    const int highest = trMs < 1000.0 ? 12 : 16;
    for (const float cutoff : {3.0f, 6.0f, 12.0f}) {
      for (int order = 2; order <= highest; ++order) {
        EXPECT_NO_THROW(foldMotionFilterBand(lowPass(cutoff, order), trMs, "run"))
            << cutoff << " per minute, order " << order << ", TR " << trMs;
      }
    }
    EXPECT_NO_THROW(foldMotionFilterBand(notch(6, 9, 400), trMs, "run")) << "TR " << trMs;
  }
}

TEST(MotionFilter, DesignsRefuseFrequenciesTheyCannotHave) {
  EXPECT_THROW_MSG(notchFilter(0.7, 2.0, 1.25), std::invalid_argument,
                   "notch frequency 0.7 Hz is not above 0 and below fs / 2 = 0.625 Hz");
  EXPECT_THROW_MSG(notchFilter(0.25, 0.0, 1.25), std::invalid_argument,
                   "notch quality factor 0 is not above 0");
  EXPECT_THROW_MSG(butterworthLowPass(2, 0.0, 1.25), std::invalid_argument,
                   "low-pass cutoff 0 Hz is not above 0 and below fs / 2 = 0.625 Hz");
  EXPECT_THROW_MSG(butterworthLowPass(0, 0.1, 1.25), std::invalid_argument,
                   "Butterworth order 0 is below 1");
  // An integrator has no steady response to a step.
  EXPECT_THROW_MSG(linearFilterSteadyState(IirFilter{{1.0, 1.0}, {1.0, -1.0}, 1, {}}),
                   std::invalid_argument,
                   "the filter has no steady response to a step (a sums to 0)");
}

}  // namespace
}  // namespace tsl::testing
