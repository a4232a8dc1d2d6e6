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
    : CarpetPlot(voxels, volumes, {0, voxels}) {}

CarpetPlot::CarpetPlot(std::size_t voxels, std::size_t volumes, std::vector<std::size_t> partStarts)
    : voxels_(voxels), volumes_(volumes) {
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
  for (std::size_t p = 0; p + 1 < partStarts.size(); ++p) {
    Part part;
    if (partStarts[p] < partStarts[p + 1]) {
      part.firstRow = partStarts[p] / groupSize_;
      const std::size_t lastRow = (partStarts[p + 1] - 1) / groupSize_;
      part.sums.assign((lastRow - part.firstRow + 1) * volumes_, 0.0);
      part.residuals.resize(volumes_);
    }
    parts_.push_back(std::move(part));
  }
}

void CarpetPlot::addVoxel(std::span<const double> series) { add(parts_[0], added_, series); }
void CarpetPlot::addVoxel(std::span<const float> series) { add(parts_[0], added_, series); }

void CarpetPlot::addVoxelOf(std::size_t part, std::size_t voxel, std::span<const float> series) {
  add(parts_.at(part), voxel, series);
}

template <typename Value>
void CarpetPlot::add(Part& part, std::size_t voxel, std::span<const Value> series) {
  if (added_ >= voxels_) {
    throw std::invalid_argument("Carpet plot: all " + std::to_string(voxels_) +
                                " voxels were added already");
  }
  if (series.size() != volumes_) {
    throw std::invalid_argument("Carpet plot: voxel " + std::to_string(voxel) + " has " +
                                std::to_string(series.size()) + " values, expected " +
                                std::to_string(volumes_));
  }
  const std::size_t n = volumes_;
  double sum = 0.0;
  double largest = 0.0;
  for (std::size_t t = 0; t < n; ++t) {
    const double x = series[t];
    if (!std::isfinite(x)) {
      throw std::invalid_argument("Carpet plot: voxel " + std::to_string(voxel) + ", volume " +
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
    part.residuals[t] = series[t] - mean - slope * c;
    squares += part.residuals[t] * part.residuals[t];
  }
  const double deviation = n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0.0;
  if (!std::isfinite(deviation)) {
    throw std::invalid_argument("Carpet plot: voxel " + std::to_string(voxel) +
                                " holds values too large to standardise");
  }
  if (deviation > kCarpetFlatTolerance * largest) {
    double* row = part.sums.data() + (voxel / groupSize_ - part.firstRow) * n;
    for (std::size_t t = 0; t < n; ++t) row[t] += part.residuals[t] / deviation;
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
  std::vector<double> sums(rows_ * volumes_, 0.0);
  for (const Part& part : parts_) {
    for (std::size_t i = 0; i < part.sums.size(); ++i)
      sums[part.firstRow * volumes_ + i] += part.sums[i];
  }
  for (std::size_t r = 0; r < rows_; ++r) {
    const std::size_t members = std::min(groupSize_, voxels_ - r * groupSize_);
    for (std::size_t t = 0; t < volumes_; ++t) {
      const std::size_t i = r * volumes_ + t;
      image.pixels[i] = carpetGreyOf(sums[i] / static_cast<double>(members));
    }
  }
  return image;
}

}  // namespace tsl
