#include "report/carpet.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tsl {

namespace {

constexpr double kGreyLevels = 255.0;

}  // namespace

std::uint8_t carpetGreyOf(double z) {
  const double level = std::round((z + kCarpetZLimit) / (2.0 * kCarpetZLimit) * kGreyLevels);
  return static_cast<std::uint8_t>(std::clamp(level, 0.0, kGreyLevels));
}

CarpetPlot::CarpetPlot(std::size_t voxels, std::size_t volumes)
    : voxels_(voxels), volumes_(volumes) {
  if (voxels == 0 || volumes == 0) {
    throw std::invalid_argument("Carpet plot: " + std::to_string(voxels) + " voxels and " +
                                std::to_string(volumes) +
                                " volumes; it needs at least one of each");
  }
  groupSize_ = (voxels + kCarpetMaxRows - 1) / kCarpetMaxRows;
  rows_ = (voxels + groupSize_ - 1) / groupSize_;
  sums_.assign(rows_ * volumes_, 0.0);
  residuals_.resize(volumes_);
}

void CarpetPlot::addVoxel(std::span<const double> series) { add(series); }
void CarpetPlot::addVoxel(std::span<const float> series) { add(series); }

template <typename Value>
void CarpetPlot::add(std::span<const Value> series) {
  if (added_ == voxels_) {
    throw std::invalid_argument("Carpet plot: all " + std::to_string(voxels_) +
                                " voxels were added already");
  }
  if (series.size() != volumes_) {
    throw std::invalid_argument("Carpet plot: voxel " + std::to_string(added_) + " has " +
                                std::to_string(series.size()) + " values, expected " +
                                std::to_string(volumes_));
  }
  const std::size_t n = volumes_;
  double sum = 0.0;
  double largest = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    const double x = series[t];
    if (!std::isfinite(x)) {
      throw std::invalid_argument("Carpet plot: voxel " + std::to_string(added_) + ", volume " +
                                  std::to_string(t) + " holds a value that is not a finite number");
    }
    sum += x;
    largest = std::max(largest, std::fabs(x));
  }
  const double mean = sum / static_cast<double>(n);
  // The volume index centred on its mean makes the line's slope independent
  // of its intercept, which is then the series' mean.
  const double centre = static_cast<double>(n - 1) / 2.0;
  double timeSquares = 0.0;
  double timeProducts = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    const double c = static_cast<double>(t) - centre;
    timeSquares += c * c;
    timeProducts += c * (series[t] - mean);
  }
  const double slope = timeSquares > 0.0 ? timeProducts / timeSquares : 0.0;
  double squares = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    const double c = static_cast<double>(t) - centre;
    residuals_[t] = series[t] - mean - slope * c;
    squares += residuals_[t] * residuals_[t];
  }
  const double deviation = n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0.0;
  if (!std::isfinite(deviation)) {
    throw std::invalid_argument("Carpet plot: voxel " + std::to_string(added_) +
                                " holds values too large to standardise");
  }
  if (deviation > kCarpetFlatTolerance * largest) {
    double* row = sums_.data() + (added_ / groupSize_) * n;
    for (std::size_t t = 0; t < n; ++t) row[t] += residuals_[t] / deviation;
  }
  ++added_;
}

GreyImage CarpetPlot::image() const {
  if (added_ != voxels_) {
    throw std::logic_error("Carpet plot: " + std::to_string(added_) + " of " +
                           std::to_string(voxels_) + " voxels were added");
  }
  GreyImage image;
  image.width = volumes_;
  image.height = rows_;
  image.pixels.resize(rows_ * volumes_);
  for (std::size_t r = 0; r < rows_; ++r) {
    const std::size_t members = std::min(groupSize_, voxels_ - r * groupSize_);
    for (std::size_t t = 0; t < volumes_; ++t) {
      const std::size_t i = r * volumes_ + t;
      image.pixels[i] = carpetGreyOf(sums_[i] / static_cast<double>(members));
    }
  }
  return image;
}

}  // namespace tsl
