// Filters of the six motion parameters against breathing: a notch at the
// breathing band or a Butterworth low-pass, designed and applied as scipy
// 1.10 does when xcp_d filters motion (iirnotch or butter, then filtfilt with
// a constant extension of T - 1 values at each end, T the run's volumes).
//
// Fast acquisitions sample breathing, which moves the image rather than the
// head; filtering the estimates before framewise displacement keeps a
// censoring rule from throwing good volumes away.
//
// Everything here is double precision, from the file's float values: the
// filtered values agree with scipy's to about 1e-13 mm or degrees at the
// usual orders, and within 1e-9 for every filter foldMotionFilterBand
// accepts (bench/motion_filter_crosscheck.py measures it).
// Frequencies are in Hz unless a name says per minute; a run's TR is in ms.
//
// The usual order of calls for a study: motionFilterParameters once, for the
// dialog's values; foldMotionFilterBand for every run, once its TR is known,
// before anything is written (it throws the run's refusal); then per run
// motionFilterFoldingWarning when the band was folded, and filterMotion.
#ifndef TESSEL_CONFOUND_MOTION_FILTER_H
#define TESSEL_CONFOUND_MOTION_FILTER_H

#include <array>
#include <complex>
#include <string>
#include <vector>

#include "designmatrix/motion_parameters.h"

namespace tsl {

// The dialog's motion_filter values.
enum class MotionFilterType { kNone = 0, kNotch = 1, kLowPass = 2 };

// The notch is applied once per this much of the order; the low-pass is a
// Butterworth filter of order / kLowPassOrderDivisor.
inline constexpr int kNotchOrderPerPass = 4;
inline constexpr int kLowPassOrderDivisor = 2;

inline constexpr double kSecondsPerMinute = 60.0;

struct MotionFilterParameters {
  MotionFilterType type = MotionFilterType::kNone;
  // Breaths per minute. The notch stops bandStopMin-bandStopMax; the
  // low-pass cutoff is bandStopMin, and bandStopMax plays no part there.
  double bandStopMin = 0.0;
  double bandStopMax = 0.0;
  int order = 0;
};

// The dialog's motion_filter, band_stop_min, band_stop_max and
// motion_filter_order, checked. With the filter off (0) the other three are
// not looked at. Throws std::invalid_argument "Dialog parameter <name> is
// <value>: <why>" (values as the log prints them) when motion_filter is
// outside 0-2; band_stop_min is not above 0 or not finite; for the notch,
// band_stop_max is not above 0, not finite or not above band_stop_min; the
// order is below 4 for the notch (one pass needs 4) or below 2 for the
// low-pass.
MotionFilterParameters motionFilterParameters(int motionFilter, float bandStopMin,
                                              float bandStopMax, int order);

// A run's band after folding: an edge above the Nyquist frequency fs / 2 is
// replaced by its alias |f - floor((f + fs/2) / fs) fs|, as xcp_d does; an
// edge at or below it stays as it is. For the low-pass only low is used.
struct MotionFilterBand {
  double trMs = 0.0;
  double samplingHz = 0.0;  // 1000 / trMs
  double nyquistHz = 0.0;   // samplingHz / 2
  double lowHz = 0.0;       // the folded band_stop_min / 60
  double highHz = 0.0;      // the folded band_stop_max / 60 (notch)
  bool folded = false;      // an edge lay above the Nyquist frequency
};

// The band of parameters p for a run of repetition time trMs.
// REQUIRES: p comes from motionFilterParameters and p.type is not kNone.
// Throws std::invalid_argument naming run, its TR and the band when trMs is
// not above 0 or not finite; when a notch band folds to equal edges (it
// would filter nothing); when a low-pass cutoff folds to 0 or is, folded or
// not, the Nyquist frequency (no low-pass exists there); and when the
// low-pass's order is too high for its transfer function at this cutoff,
// whose coefficients rounded to double would move its poles (such a filter
// gives values off by up to whole millimetres, or not finite). Edges within
// 1e-9 of the sampling frequency of each other, of 0 or of the Nyquist
// frequency count as equal, as the distance is rounding.
MotionFilterBand foldMotionFilterBand(const MotionFilterParameters& p, double trMs,
                                      const std::string& run);

// The log line telling the user that band (of p, for run) was folded:
//   Warning: <run>: the stop band 12-20 breaths per minute lies above the
//   Nyquist frequency of TR 1800 ms (16.6667 per minute); filtering at
//   12-13.3333 instead
// (one line; "the low-pass cutoff 40 breaths per minute" and "filtering at
// 6.66667" for the low-pass). Numbers in the log's notation, six significant
// digits; the folded notch band is written lower edge first, as the notch
// does not depend on the order of its edges.
// REQUIRES: band.folded, and band comes from foldMotionFilterBand(p, ...).
std::string motionFilterFoldingWarning(const MotionFilterParameters& p,
                                       const MotionFilterBand& band, const std::string& run);

// A digital filter's transfer function b(z) / a(z), a[0] == 1, b and a of
// equal length (at least 2), applied `passes` times in a row with filtfilt.
struct IirFilter {
  std::vector<double> b;
  std::vector<double> a;
  int passes = 1;
  // The low-pass's poles, from which a was multiplied out (the notch's two,
  // at radius sqrt(a[2]), are always well within the unit circle and left
  // out).
  std::vector<std::complex<double>> poles;
};

// scipy's iirnotch(f0, q, fs): the second-order notch at f0 Hz with quality
// factor q (f0 over the -3 dB bandwidth) for sampling frequency fs Hz.
// Throws std::invalid_argument when f0 is not above 0 and below fs / 2, or q
// is not above 0.
IirFilter notchFilter(double f0, double q, double fs);

// scipy's butter(n, cutoff, 'lowpass', fs=fs) in transfer-function form, by
// its route: the analog prototype's poles, the cutoff prewarped, the bilinear
// transform, then the polynomials of zeros and poles (n + 1 values each).
// Throws std::invalid_argument when n is below 1, or cutoff is not above 0
// and below fs / 2.
IirFilter butterworthLowPass(int n, double cutoff, double fs);

// The filter of p for band: the notch at the mean of the edges with
// bandwidth their difference, floor(order / 4) passes; or the low-pass of
// order floor(order / 2), one pass.
// REQUIRES: band comes from foldMotionFilterBand(p, ...).
IirFilter designMotionFilter(const MotionFilterParameters& p, const MotionFilterBand& band);

// scipy's lfilter(b, a, x, zi=zi) (direct form II transposed): the output;
// zi, of b.size() - 1 values, is the state before x[0].
// REQUIRES: f.b.size() == f.a.size() >= 2, f.a[0] == 1, zi.size() ==
// f.b.size() - 1.
std::vector<double> linearFilter(const IirFilter& f, const std::vector<double>& x,
                                 std::vector<double> zi);

// scipy's lfilter_zi(b, a): the state of the filter's steady response to a
// step of 1, so a series starting at c and started from c * zi has no
// transient. Throws std::invalid_argument when a sums to 0 (no steady
// response exists). REQUIRES as for linearFilter.
std::vector<double> linearFilterSteadyState(const IirFilter& f);

// scipy's filtfilt(b, a, x, padtype='constant', padlen=x.size() - 1), done
// f.passes times: x extended by x.size() - 1 copies of each end value, a
// forward pass from zi * the first extended value, a backward pass from zi *
// the last forward output, the extension removed. Any length works: scipy
// needs padlen < len, which T - 1 always is; one value comes back as it is
// (up to rounding), none as none. REQUIRES as for linearFilter.
std::vector<double> zeroPhaseFilter(const IirFilter& f, const std::vector<double>& x);

struct FilteredMotion {
  // The six parameters, each over the run's volumes, in the order of
  // MotionRow: translations mm, rotations degrees.
  std::array<std::vector<double>, kMotionParameterCount> columns;
  MotionFilterBand band;
};

// Filters each of motion's six parameters on its own, with the filter of p
// for a run of repetition time trMs (named run in messages). Throws what
// foldMotionFilterBand throws, and std::invalid_argument naming run when a
// filtered value is not finite (an order too high for the low-pass to be
// computed in double precision).
// REQUIRES: p comes from motionFilterParameters and p.type is not kNone.
FilteredMotion filterMotion(const MotionFilterParameters& p, const MotionParameters& motion,
                            double trMs, const std::string& run);

}  // namespace tsl

#endif
