#include "confound/motion_filter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <locale>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tsl {

namespace {

using Complex = std::complex<double>;

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr int kLastFilterType = static_cast<int>(MotionFilterType::kLowPass);
constexpr int kNotchMinimumOrder = kNotchOrderPerPass;
constexpr int kLowPassMinimumOrder = kLowPassOrderDivisor;

// scipy normalises digital frequencies to the Nyquist frequency, where
// fs = 2, and prewarps and transforms with that fs.
constexpr double kNormalisedSampling = 2.0;

// Folded edges closer than this share of the sampling frequency to each
// other, to 0 or to the Nyquist frequency are taken as there: the distance is
// rounding, and such a filter would do nothing or could not be designed.
constexpr double kFoldTolerance = 1e-9;

// A relative shift of a pole, caused by rounding the coefficients of a(z)
// to double, above which the filter's output is no longer reliable to about
// 1e-9 of the motion (measured against a cascade of second-order sections
// computed from the same poles).
constexpr double kMaximumPoleShift = 1e-8;

// Numbers as the log stream prints them: default notation, six significant
// digits, classic locale.
template <typename... Parts>
std::string text(const Parts&... parts) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  (out << ... << parts);
  return out.str();
}

double perMinute(double hz) { return hz * kSecondsPerMinute; }

std::string dialogError(const char* name, const std::string& value, const std::string& why) {
  return "Dialog parameter " + std::string(name) + " is " + value + ": " + why;
}

void requireEdge(const char* name, float value, const char* edge) {
  if (!(value > 0.0f)) {
    throw std::invalid_argument(
        dialogError(name, text(value), std::string(edge) + " must be above 0"));
  }
  if (!std::isfinite(value)) {
    throw std::invalid_argument(
        dialogError(name, text(value), std::string(edge) + " must be finite"));
  }
}

// The typed band as the messages name it.
std::string typedBand(const MotionFilterParameters& p) {
  if (p.type == MotionFilterType::kNotch) {
    return text("the stop band ", p.bandStopMin, "-", p.bandStopMax, " breaths per minute");
  }
  return text("the low-pass cutoff ", p.bandStopMin, " breaths per minute");
}

// The band the filter uses, per minute; the notch's lower edge first.
std::string usedBand(const MotionFilterParameters& p, const MotionFilterBand& band) {
  if (p.type == MotionFilterType::kNotch) {
    return text(perMinute(std::min(band.lowHz, band.highHz)), "-",
                perMinute(std::max(band.lowHz, band.highHz)));
  }
  return text(perMinute(band.lowHz));
}

std::string nyquistOf(const MotionFilterBand& band) {
  return text("TR ", band.trMs, " ms (", perMinute(band.nyquistHz), " per minute)");
}

// The alias of hz at or below the Nyquist frequency, as xcp_d folds it.
double fold(double hz, double samplingHz, bool& folded) {
  if (!(hz > samplingHz / 2.0)) return hz;
  folded = true;
  return std::fabs(hz - std::floor((hz + samplingHz / 2.0) / samplingHz) * samplingHz);
}

// numpy's complex division (Smith's method), so the designs round as scipy's.
Complex quotient(Complex n, Complex d) {
  if (std::fabs(d.real()) >= std::fabs(d.imag())) {
    const double ratio = d.imag() / d.real();
    const double scale = 1.0 / (d.real() + d.imag() * ratio);
    return {(n.real() + n.imag() * ratio) * scale, (n.imag() - n.real() * ratio) * scale};
  }
  const double ratio = d.real() / d.imag();
  const double scale = 1.0 / (d.imag() + d.real() * ratio);
  return {(n.real() * ratio + n.imag()) * scale, (n.imag() * ratio - n.real()) * scale};
}

// numpy's poly: the coefficients of prod (z - root), highest power first.
std::vector<Complex> polynomialOf(const std::vector<Complex>& roots) {
  std::vector<Complex> c{1.0};
  for (const Complex& root : roots) {
    std::vector<Complex> next(c.size() + 1);
    next[0] = c[0];
    for (std::size_t j = 1; j < c.size(); ++j) next[j] = c[j] + c[j - 1] * -root;
    next[c.size()] = c.back() * -root;
    c = std::move(next);
  }
  return c;
}

// How far rounding a's coefficients to double moves the filter's poles,
// relative to their distance from the unit circle: the first-order shift of
// a simple root, eps * sum |a_i| |p|^(n-i) / |a'(p)|, with a'(p) the product
// of p's distances to the other poles. Far above eps the transfer function
// no longer holds the filter its poles describe.
double poleShift(const IirFilter& f) {
  double largest = 0.0;
  for (std::size_t k = 0; k < f.poles.size(); ++k) {
    const Complex pk = f.poles[k];
    double scale = 0.0;
    for (const double ai : f.a) scale = scale * std::abs(pk) + std::fabs(ai);
    Complex slope = 1.0;
    for (std::size_t j = 0; j < f.poles.size(); ++j) {
      if (j != k) slope *= pk - f.poles[j];
    }
    const double margin = 1.0 - std::abs(pk);
    const double shift =
        std::numeric_limits<double>::epsilon() * scale / (std::abs(slope) * margin);
    // A pole on or outside the circle counts as an infinite shift.
    if (!(margin > 0.0) || !(shift <= std::numeric_limits<double>::max())) {
      return std::numeric_limits<double>::infinity();
    }
    largest = std::max(largest, shift);
  }
  return largest;
}

void requireDigitalFrequency(double hz, double fs, const char* what) {
  const double normalised = 2.0 * hz / fs;
  if (!(normalised > 0.0 && normalised < 1.0)) {
    throw std::invalid_argument(
        text(what, " ", hz, " Hz is not above 0 and below fs / 2 = ", fs / 2.0, " Hz"));
  }
}

// Solves m x = rhs by Gaussian elimination with partial pivoting (what
// numpy's solve does through LAPACK). Throws std::invalid_argument when m is
// singular. REQUIRES: m is square, of rhs.size() rows.
std::vector<double> solve(std::vector<std::vector<double>> m, std::vector<double> rhs) {
  const std::size_t n = rhs.size();
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < n; ++r) {
      if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
    }
    if (m[pivot][col] == 0.0) {
      throw std::invalid_argument("the filter has no steady response to a step (a sums to 0)");
    }
    std::swap(m[col], m[pivot]);
    std::swap(rhs[col], rhs[pivot]);
    for (std::size_t r = col + 1; r < n; ++r) {
      const double factor = m[r][col] / m[col][col];
      for (std::size_t c = col; c < n; ++c) m[r][c] -= factor * m[col][c];
      rhs[r] -= factor * rhs[col];
    }
  }
  std::vector<double> x(n);
  for (std::size_t i = n; i-- > 0;) {
    double sum = rhs[i];
    for (std::size_t c = i + 1; c < n; ++c) sum -= m[i][c] * x[c];
    x[i] = sum / m[i][i];
  }
  return x;
}

std::vector<double> scaled(const std::vector<double>& v, double factor) {
  std::vector<double> out(v.size());
  for (std::size_t i = 0; i < v.size(); ++i) out[i] = v[i] * factor;
  return out;
}

}  // namespace

MotionFilterParameters motionFilterParameters(int motionFilter, float bandStopMin,
                                              float bandStopMax, int order) {
  if (motionFilter < 0 || motionFilter > kLastFilterType) {
    throw std::invalid_argument(dialogError("motion_filter", text(motionFilter),
                                            "0 is no filter, 1 the notch, 2 the low-pass"));
  }
  MotionFilterParameters p;
  p.type = static_cast<MotionFilterType>(motionFilter);
  if (p.type == MotionFilterType::kNone) return p;
  const bool notch = p.type == MotionFilterType::kNotch;
  requireEdge("band_stop_min", bandStopMin,
              notch ? "the stop band's lower edge (breaths per minute)"
                    : "the low-pass cutoff (breaths per minute)");
  if (notch) {
    requireEdge("band_stop_max", bandStopMax, "the stop band's upper edge (breaths per minute)");
    if (!(bandStopMax > bandStopMin)) {
      throw std::invalid_argument(dialogError(
          "band_stop_max", text(bandStopMax),
          text("the stop band's upper edge must be above band_stop_min (", bandStopMin, ")")));
    }
  }
  const int minimumOrder = notch ? kNotchMinimumOrder : kLowPassMinimumOrder;
  if (order < minimumOrder) {
    throw std::invalid_argument(dialogError("motion_filter_order", text(order),
                                            notch
                                                ? text("the notch needs at least ", minimumOrder,
                                                       ", one pass for every ", kNotchOrderPerPass)
                                                : text("the low-pass needs at least ", minimumOrder,
                                                       ", its design having half the order")));
  }
  p.bandStopMin = bandStopMin;
  p.bandStopMax = bandStopMax;
  p.order = order;
  return p;
}

MotionFilterBand foldMotionFilterBand(const MotionFilterParameters& p, double trMs,
                                      const std::string& run) {
  if (!(trMs > 0.0) || !std::isfinite(trMs)) {
    throw std::invalid_argument(
        text(run, ": TR is ", trMs, " ms; the motion filter needs a repetition time above 0"));
  }
  MotionFilterBand band;
  band.trMs = trMs;
  band.samplingHz = kMillisecondsPerSecond / trMs;
  band.nyquistHz = band.samplingHz / 2.0;
  band.lowHz = fold(p.bandStopMin / kSecondsPerMinute, band.samplingHz, band.folded);
  const std::string what = run + ": " + typedBand(p);
  const double tolerance = kFoldTolerance * band.samplingHz;
  if (p.type == MotionFilterType::kNotch) {
    band.highHz = fold(p.bandStopMax / kSecondsPerMinute, band.samplingHz, band.folded);
    if (std::fabs(band.highHz - band.lowHz) <= tolerance) {
      throw std::invalid_argument(what + " folds to a band of no width (" + usedBand(p, band) +
                                  ") about the Nyquist frequency of " + nyquistOf(band) +
                                  "; the notch would filter nothing");
    }
  } else {
    const char* where = nullptr;
    if (band.lowHz <= tolerance) {
      where = " folds to 0 about the Nyquist frequency of ";
    } else if (band.lowHz >= band.nyquistHz - tolerance) {
      where = band.folded ? " folds to the Nyquist frequency of "
                          : " lies at the Nyquist frequency of ";
    }
    if (where != nullptr) {
      throw std::invalid_argument(what + where + nyquistOf(band) +
                                  "; a low-pass needs a cutoff above 0 and below the Nyquist "
                                  "frequency");
    }
  }
  if (poleShift(designMotionFilter(p, band)) > kMaximumPoleShift) {
    throw std::invalid_argument(text(what, " at TR ", trMs, " ms with motion_filter_order ",
                                     p.order,
                                     " cannot be computed in double precision; choose a lower "
                                     "order"));
  }
  return band;
}

std::string motionFilterFoldingWarning(const MotionFilterParameters& p,
                                       const MotionFilterBand& band, const std::string& run) {
  return "Warning: " + run + ": " + typedBand(p) + " lies above the Nyquist frequency of " +
         nyquistOf(band) + "; filtering at " + usedBand(p, band) + " instead";
}

IirFilter notchFilter(double f0, double q, double fs) {
  requireDigitalFrequency(f0, fs, "notch frequency");
  if (!(q > 0.0)) throw std::invalid_argument(text("notch quality factor ", q, " is not above 0"));
  // scipy's iirnotch, operation by operation: the -3 dB bandwidth and the
  // centre as angles, the gain from the bandwidth's tangent.
  const double w0 = 2.0 * f0 / fs;
  const double bw = w0 / q * std::numbers::pi;
  const double centre = w0 * std::numbers::pi;
  const double gb = 1.0 / std::sqrt(2.0);
  const double beta = (std::sqrt(1.0 - std::pow(gb, 2.0)) / gb) * std::tan(bw / 2.0);
  const double gain = 1.0 / (1.0 + beta);
  IirFilter f;
  f.b = {gain * 1.0, gain * (-2.0 * std::cos(centre)), gain * 1.0};
  f.a = {1.0, -2.0 * gain * std::cos(centre), 2.0 * gain - 1.0};
  return f;
}

IirFilter butterworthLowPass(int n, double cutoff, double fs) {
  if (n < 1) throw std::invalid_argument(text("Butterworth order ", n, " is below 1"));
  requireDigitalFrequency(cutoff, fs, "low-pass cutoff");
  const double wn = 2.0 * cutoff / fs;
  // buttap: poles on the left half of the unit circle, the middle one
  // exactly -1 for odd n; numpy divides the complex angle by 2n as a
  // product with its reciprocal.
  const double reciprocal = 1.0 / (2.0 * n);
  std::vector<Complex> poles;
  for (int m = -n + 1; m < n; m += 2) {
    const double angle = (std::numbers::pi * m) * reciprocal;
    poles.emplace_back(-std::cos(angle), -std::sin(angle));
  }
  // Prewarped cutoff, the analog low-pass, then the bilinear transform.
  const double warped =
      2.0 * kNormalisedSampling * std::tan(std::numbers::pi * wn / kNormalisedSampling);
  const double fs2 = 2.0 * kNormalisedSampling;
  Complex denominator = 1.0;
  for (std::size_t i = 0; i < poles.size(); ++i) {
    const Complex analog = warped * poles[i];
    denominator = i == 0 ? fs2 - analog : denominator * (fs2 - analog);
    poles[i] = quotient(fs2 + analog, fs2 - analog);
  }
  const double gain = std::pow(warped, n) * quotient(1.0, denominator).real();
  // Every zero lands at -1: b is the gain times the coefficients of
  // (z + 1)^n, binomial and exact in double.
  IirFilter f;
  const auto order = static_cast<std::size_t>(n);
  f.b.assign(order + 1, 0.0);
  f.b[0] = 1.0;
  for (std::size_t k = 1; k <= order; ++k) {
    for (std::size_t j = k; j > 0; --j) f.b[j] += f.b[j - 1];
  }
  for (double& c : f.b) c *= gain;
  for (const Complex& c : polynomialOf(poles)) f.a.push_back(c.real());
  f.poles = std::move(poles);
  return f;
}

IirFilter designMotionFilter(const MotionFilterParameters& p, const MotionFilterBand& band) {
  if (p.type == MotionFilterType::kNotch) {
    // The mean and difference as xcp_d takes them of [low, high].
    const double f0 = (band.lowHz + band.highHz) / 2.0;
    const double bandwidth = std::fabs(band.highHz - band.lowHz);
    IirFilter f = notchFilter(f0, f0 / bandwidth, band.samplingHz);
    f.passes = p.order / kNotchOrderPerPass;
    return f;
  }
  return butterworthLowPass(p.order / kLowPassOrderDivisor, band.lowHz, band.samplingHz);
}

std::vector<double> linearFilter(const IirFilter& f, const std::vector<double>& x,
                                 std::vector<double> zi) {
  const std::vector<double>& b = f.b;
  const std::vector<double>& a = f.a;
  const std::size_t last = b.size() - 1;
  std::vector<double> y(x.size());
  for (std::size_t k = 0; k < x.size(); ++k) {
    const double xn = x[k];
    const double yn = zi[0] + b[0] * xn;
    for (std::size_t n = 0; n + 1 < last; ++n) zi[n] = zi[n + 1] + xn * b[n + 1] - yn * a[n + 1];
    zi[last - 1] = xn * b[last] - yn * a[last];
    y[k] = yn;
  }
  return y;
}

std::vector<double> linearFilterSteadyState(const IirFilter& f) {
  // The state z of a constant input 1 is a fixed point, z = A z + B, with A
  // the transposed companion matrix of a: (I - A) z = B.
  const std::size_t n = f.a.size() - 1;
  std::vector<std::vector<double>> iMinusA(n, std::vector<double>(n, 0.0));
  std::vector<double> rhs(n);
  for (std::size_t i = 0; i < n; ++i) {
    iMinusA[i][i] = 1.0;
    iMinusA[i][0] += f.a[i + 1];
    if (i + 1 < n) iMinusA[i][i + 1] -= 1.0;
    rhs[i] = f.b[i + 1] - f.a[i + 1] * f.b[0];
  }
  return solve(std::move(iMinusA), std::move(rhs));
}

std::vector<double> zeroPhaseFilter(const IirFilter& f, const std::vector<double>& x) {
  if (x.empty()) return {};
  const std::vector<double> zi = linearFilterSteadyState(f);
  const std::size_t edge = x.size() - 1;
  std::vector<double> series = x;
  for (int pass = 0; pass < f.passes; ++pass) {
    std::vector<double> extended(edge, series.front());
    extended.insert(extended.end(), series.begin(), series.end());
    extended.insert(extended.end(), edge, series.back());
    std::vector<double> forward = linearFilter(f, extended, scaled(zi, extended.front()));
    std::reverse(forward.begin(), forward.end());
    std::vector<double> backward = linearFilter(f, forward, scaled(zi, forward.front()));
    std::reverse(backward.begin(), backward.end());
    series.assign(backward.begin() + static_cast<std::ptrdiff_t>(edge),
                  backward.end() - static_cast<std::ptrdiff_t>(edge));
  }
  return series;
}

FilteredMotion filterMotion(const MotionFilterParameters& p, const MotionParameters& motion,
                            double trMs, const std::string& run) {
  FilteredMotion result;
  result.band = foldMotionFilterBand(p, trMs, run);
  const IirFilter filter = designMotionFilter(p, result.band);
  for (std::size_t c = 0; c < result.columns.size(); ++c) {
    std::vector<double> column(motion.volumes.size());
    for (std::size_t j = 0; j < column.size(); ++j) column[j] = motion.volumes[j][c];
    result.columns[c] = zeroPhaseFilter(filter, column);
    for (const double v : result.columns[c]) {
      if (!std::isfinite(v)) {
        throw std::invalid_argument(text(run,
                                         ": the motion filter gives a value that is not "
                                         "finite for motion parameter ",
                                         c + 1));
      }
    }
  }
  return result;
}

}  // namespace tsl
