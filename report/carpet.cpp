#include "report/carpet.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace tsl {

namespace {

constexpr double kGreyLevels = 255.0;
constexpr double kLargestScale = std::numeric_limits<float>::max();
constexpr double kLargestSquares = kLargestScale / 2.0 * (kLargestScale / 2.0);

}  // namespace

std::uint8_t carpetGreyOf(double z) {
  const double level = (z + kCarpetZLimit) / (2.0 * kCarpetZLimit) * kGreyLevels;
  if (!(level > 0.0)) return 0;
  if (level >= kGreyLevels) return static_cast<std::uint8_t>(kGreyLevels);
  // Rounded half away from 0; the fraction level - whole is exact.
  const auto whole = static_cast<std::uint8_t>(level);
  return static_cast<std::uint8_t>(level - whole >= 0.5 ? whole + 1 : whole);
}

CarpetPlot::CarpetPlot(std::size_t voxels, std::size_t volumes)
    : CarpetPlot(voxels, volumes, {0, voxels}) {}

CarpetPlot::CarpetPlot(std::size_t voxels, std::size_t volumes, std::vector<std::size_t> partStarts,
                       KernelInstructions instructions)
    : voxels_(voxels), volumes_(volumes), kernels_(kernelsFor(instructions)) {
  if (voxels == 0 || volumes == 0) {
    throw std::invalid_argument("Carpet plot: " + std::to_string(voxels) + " voxels and " +
                                std::to_string(volumes) +
                                " volumes; it needs at least one of each");
  }
  if (partStarts.size() < 2 || partStarts.front() != 0 || partStarts.back() != voxels ||
      !std::is_sorted(partStarts.begin(), partStarts.end())) {
    throw std::invalid_argument("Carpet plot: the parts do not cover its " +
                                std::to_string(voxels) + " voxels in order");
  }
  groupSize_ = (voxels + kCarpetMaxRows - 1) / kCarpetMaxRows;
  rows_ = (voxels + groupSize_ - 1) / groupSize_;
  // (T - 1) T (T + 1) / 12, exact for any run length met in practice.
  const double n = static_cast<double>(volumes);
  timeSquares_ = (n - 1.0) * n * (n + 1.0) / 12.0;
  for (std::size_t p = 0; p + 1 < partStarts.size(); ++p) {
    Part part;
    part.voxels = partStarts[p + 1] - partStarts[p];
    if (part.voxels > 0) {
      part.firstRow = partStarts[p] / groupSize_;
      const std::size_t rows = (partStarts[p + 1] - 1) / groupSize_ - part.firstRow + 1;
      part.sums.assign(rows * volumes_, 0.0);
      part.offsets.assign(rows, 0.0);
      part.slopes.assign(rows, 0.0);
    }
    parts_.push_back(std::move(part));
  }
}

std::size_t CarpetPlot::voxelsAdded() const {
  std::size_t added = 0;
  for (const Part& part : parts_) added += part.added;
  return added;
}

void CarpetPlot::addVoxel(std::span<const double> series) {
  add(parts_[0], parts_[0].added, series);
}
void CarpetPlot::addVoxel(std::span<const float> series) {
  add(parts_[0], parts_[0].added, series);
}

void CarpetPlot::addVoxelOf(std::size_t part, std::size_t voxel, std::span<const float> series) {
  add(parts_.at(part), voxel, series);
}

namespace {

// What the first look at a series gives: the sums of d = x - x[0], of d^2
// and of c d, c = t - (T - 1) / 2.
struct SeriesSums {
  double values = 0.0;
  double squares = 0.0;
  double products = 0.0;
};

// Eight lanes, lane k taking volumes k, k + 8, ...; two vectors of four.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kWidth = 4;
using Doubles [[gnu::vector_size(kWidth * sizeof(double))]] = double;

// d = x[0 ... 3] - o. (Vectors are not returned: their ABI depends on the
// instructions compiled for.)
template <typename Value>
[[gnu::always_inline]] inline void difference(const Value* x, const Doubles& o, Doubles& d) {
  d = Doubles{static_cast<double>(x[0]), static_cast<double>(x[1]), static_cast<double>(x[2]),
              static_cast<double>(x[3])} -
      o;
}

// Each lane keeps its running sum p of d and the sum q of its running sums,
// from which the products follow (the sum of j a_j over a lane's values
// a_0 ... a_{m-1} is m p - q): an addition per value instead of a product
// and a step of c. For 16-bit data every partial sum is an integer or a
// half-integer well within what doubles hold exactly, so the sums are exact.
template <typename Value>
[[gnu::always_inline]] inline SeriesSums sumsOf(const Value* x, std::size_t n) {
  const double origin = static_cast<double>(x[0]);
  const Doubles o = {origin, origin, origin, origin};
  Doubles p0 = {}, p1 = {}, q0 = {}, q1 = {}, s0 = {}, s1 = {};
  std::size_t t = 0;
  for (; t + kLanes <= n; t += kLanes) {
    Doubles d0, d1;
    difference(x + t, o, d0);
    difference(x + t + kWidth, o, d1);
    p0 += d0;
    p1 += d1;
    q0 += p0;
    q1 += p1;
    s0 += d0 * d0;
    s1 += d1 * d1;
  }
  double p[kLanes], q[kLanes], s[kLanes];
  for (std::size_t k = 0; k < kWidth; ++k) {
    p[k] = p0[k], p[k + kWidth] = p1[k];
    q[k] = q0[k], q[k + kWidth] = q1[k];
    s[k] = s0[k], s[k + kWidth] = s1[k];
  }
  const std::size_t full = t / kLanes;  // values of every lane so far
  for (std::size_t k = 0; t < n; ++t, ++k) {
    const double d = static_cast<double>(x[t]) - origin;
    p[k] += d;
    q[k] += p[k];
    s[k] += d * d;
  }
  const double centre = (static_cast<double>(n) - 1.0) / 2.0;
  SeriesSums sums;
  for (std::size_t k = 0; k < kLanes; ++k) {
    const double m = static_cast<double>(full + (k < n % kLanes ? 1 : 0));
    sums.values += p[k];
    sums.squares += s[k];
    sums.products +=
        static_cast<double>(kLanes) * (m * p[k] - q[k]) + (static_cast<double>(k) - centre) * p[k];
  }
  return sums;
}

// row[t] += (x[t] - mean) scale, in single precision: what is added is a
// z-score plus its voxel's line, a few units, which single precision holds
// to within 1e-6 or so, far below a grey level (1/64 of a z-score).
template <typename Value>
[[gnu::always_inline]] inline void addScaled(const Value* x, std::size_t n, Value mean, float scale,
                                             float* row) {
  for (std::size_t t = 0; t < n; ++t) row[t] += static_cast<float>(x[t] - mean) * scale;
}

template <typename Value>
SeriesSums sumsBaseline(const Value* x, std::size_t n) {
  return sumsOf(x, n);
}
template <typename Value>
void addScaledBaseline(const Value* x, std::size_t n, Value mean, float scale, float* row) {
  addScaled(x, n, mean, scale, row);
}

#ifdef TESSEL_HAVE_AVX2_KERNEL
template <typename Value>
[[gnu::target("avx2")]] SeriesSums sumsAvx2(const Value* x, std::size_t n) {
  return sumsOf(x, n);
}
template <typename Value>
[[gnu::target("avx2")]] void addScaledAvx2(const Value* x, std::size_t n, Value mean, float scale,
                                           float* row) {
  addScaled(x, n, mean, scale, row);
}
#endif

template <typename Value>
struct KernelsOf {
  SeriesSums (*sums)(const Value*, std::size_t);
  void (*addScaled)(const Value*, std::size_t, Value, float, float*);
};

}  // namespace

struct CarpetPlot::Kernels {
  KernelsOf<float> floats;
  KernelsOf<double> doubles;

  template <typename Value>
  const KernelsOf<Value>& of() const {
    if constexpr (std::is_same_v<Value, float>) {
      return floats;
    } else {
      return doubles;
    }
  }
};

const CarpetPlot::Kernels* CarpetPlot::kernelsFor(KernelInstructions instructions) {
  static constexpr Kernels baseline{{sumsBaseline<float>, addScaledBaseline<float>},
                                    {sumsBaseline<double>, addScaledBaseline<double>}};
#ifdef TESSEL_HAVE_AVX2_KERNEL
  static constexpr Kernels avx2{{sumsAvx2<float>, addScaledAvx2<float>},
                                {sumsAvx2<double>, addScaledAvx2<double>}};
  if (useAvx2(instructions, "the carpet plot")) return &avx2;
#else
  useAvx2(instructions, "the carpet plot");
#endif
  return &baseline;
}

template <typename Value>
void CarpetPlot::add(Part& part, std::size_t voxel, std::span<const Value> series) {
  if (part.added >= part.voxels) {
    throw std::invalid_argument("Carpet plot: all " + std::to_string(part.voxels) +
                                " voxels were added already");
  }
  if (series.size() != volumes_) {
    throw std::invalid_argument("Carpet plot: voxel " + std::to_string(voxel) + " has " +
                                std::to_string(series.size()) + " values, expected " +
                                std::to_string(volumes_));
  }
  const std::size_t n = volumes_;
  const double count = static_cast<double>(n);
  const KernelsOf<Value>& kernels = kernels_->of<Value>();
  const SeriesSums sums = kernels.sums(series.data(), n);
  const double mean = sums.values / count;  // of x - x[0]
  const double about = sums.squares - sums.values * mean;
  // The slope of the least-squares line; the centred volume index makes it
  // independent of the intercept, which is then the mean.
  const double slope = n > 1 ? sums.products / timeSquares_ : 0.0;
  const double residual = about - slope * sums.products;
  // Beyond kLargestSquares a value's distance from the mean may not fit the
  // row's single precision.
  if (!std::isfinite(residual) || !(sums.squares <= kLargestSquares)) {
    for (std::size_t t = 0; t < n; ++t) {
      if (!std::isfinite(static_cast<double>(series[t]))) {
        throw std::invalid_argument("Carpet plot: voxel " + std::to_string(voxel) + ", volume " +
                                    std::to_string(t) +
                                    " holds a value that is not a finite number");
      }
    }
    throw std::invalid_argument("Carpet plot: voxel " + std::to_string(voxel) +
                                " holds values too large to standardise");
  }
  const double scale = 1.0 / std::sqrt(residual / (count - 1.0));
  ++part.added;
  // A variation finer than single precision resolves shows as none.
  if (n < 2 || !(residual > kCarpetFlatTolerance * about) || !(scale < kLargestScale)) return;
  const std::size_t row = voxel / groupSize_ - part.firstRow;
  // Taken about the mean as near as Value holds it; the row's offset takes
  // the rest off.
  const double exactMean = static_cast<double>(series[0]) + mean;
  const auto nearMean = static_cast<Value>(exactMean);
  const auto rowScale = static_cast<float>(scale);
  kernels.addScaled(series.data(), n, nearMean, rowScale, part.sums.data() + row * n);
  part.offsets[row] += (exactMean - static_cast<double>(nearMean)) * rowScale;
  part.slopes[row] += slope * rowScale;
}

GreyImage CarpetPlot::image() const {
  if (voxelsAdded() != voxels_) {
    throw std::logic_error("Carpet plot: " + std::to_string(voxelsAdded()) + " of " +
                           std::to_string(voxels_) + " voxels were added");
  }
  GreyImage image;
  image.width = volumes_;
  image.height = rows_;
  image.pixels.resize(rows_ * volumes_);
  const double centre = (static_cast<double>(volumes_) - 1.0) / 2.0;
  std::vector<double> sums(volumes_);
  // The parts that hold a row are consecutive; each adds its share in
  // order, whichever thread filled it.
  std::size_t firstPart = 0;
  for (std::size_t r = 0; r < rows_; ++r) {
    std::fill(sums.begin(), sums.end(), 0.0);
    double offset = 0.0;
    double slope = 0.0;
    const auto holds = [&](const Part& part) {
      return part.voxels > 0 && part.firstRow <= r && r - part.firstRow < part.slopes.size();
    };
    while (firstPart < parts_.size() && !holds(parts_[firstPart])) ++firstPart;
    for (std::size_t p = firstPart; p < parts_.size() && parts_[p].firstRow <= r; ++p) {
      const Part& part = parts_[p];
      if (!holds(part)) continue;
      const std::size_t own = r - part.firstRow;
      const float* partSums = part.sums.data() + own * volumes_;
      for (std::size_t t = 0; t < volumes_; ++t) sums[t] += partSums[t];
      offset += part.offsets[own];
      slope += part.slopes[own];
    }
    const double members = static_cast<double>(std::min(groupSize_, voxels_ - r * groupSize_));
    std::uint8_t* pixels = image.pixels.data() + r * volumes_;
    for (std::size_t t = 0; t < volumes_; ++t) {
      const double c = static_cast<double>(t) - centre;
      pixels[t] = carpetGreyOf((sums[t] - offset - slope * c) / members);
    }
  }
  return image;
}

}  // namespace tsl
