#include "signal/voxel_series_terms.h"

#include <algorithm>
#include <cmath>

#include "signal/dvars.h"
#include "signal/series_statistics.h"

namespace tsl {
namespace {

constexpr unsigned kLowerQuartile = 25;
constexpr unsigned kUpperQuartile = 75;
// Integral series whose values span at most this many integers (or as many
// as the series has values) have their quartiles counted.
constexpr std::size_t kCountedRange = 4096;

}  // namespace

// By counting each value: a few operations per value, where selection costs
// dozens.
bool VoxelSeriesAnalyser::countRanks(const float* series, std::size_t count, std::size_t lower,
                                     std::size_t upper, double& low, double& high) {
  integers_.resize(count);
  for (std::size_t t = 0; t < count; ++t) integers_[t] = static_cast<std::int32_t>(series[t]);
  std::int32_t least = integers_[0];
  std::int32_t most = integers_[0];
  // Integer minimum and maximum: branch-free, unlike std::minmax_element on floats.
  for (const std::int32_t v : integers_) {
    least = std::min(least, v);
    most = std::max(most, v);
  }
  const auto range = static_cast<std::size_t>(most - least) + 1;
  if (range > std::max(kCountedRange, count)) return false;
  counts_.assign(range, 0);
  for (const std::int32_t v : integers_) ++counts_[static_cast<std::size_t>(v - least)];
  std::size_t seen = 0;
  std::size_t value = 0;
  while (seen + counts_[value] <= lower) seen += counts_[value++];
  low = static_cast<double>(least + static_cast<std::int32_t>(value));
  while (seen + counts_[value] <= upper) seen += counts_[value++];
  high = static_cast<double>(least + static_cast<std::int32_t>(value));
  lowest_ = least;
  return true;
}

VoxelSeriesTerms VoxelSeriesAnalyser::analyse(const float* series, std::size_t count) {
  const std::size_t upper = lowerPercentileIndex(count, kUpperQuartile);
  const std::size_t lower = lowerPercentileIndex(count, kLowerQuartile);
  double low = 0.0;
  double high = 0.0;
  counted_ = integral_ && countRanks(series, count, lower, upper, low, high);
  if (!counted_) {
    sorted_.assign(series, series + count);
    const auto at = [&](std::size_t i) { return sorted_.begin() + static_cast<std::ptrdiff_t>(i); };
    std::nth_element(sorted_.begin(), at(upper), sorted_.end());
    // The values before the upper rank's are the smallest ones.
    if (lower < upper) std::nth_element(sorted_.begin(), at(lower), at(upper));
    low = sorted_[lower];
    high = sorted_[upper];
  }
  VoxelSeriesTerms terms;
  terms.spread = (high - low) / kInterquartileSigmas * kDvarsIntensityScale;
  if (terms.spread > 0.0) {
    // Rounding may put a strongly correlated series' coefficient a hair above 1.
    const double a = counted_ ? lag1Autocorrelation(integers_.data(), count)
                              : lag1Autocorrelation(series, count);
    terms.factor = std::sqrt(std::max(0.0, 2.0 * (1.0 - a)));
  }
  return terms;
}

void addSquaredDifferences(const float* series, std::size_t count, double* sums) {
  for (std::size_t t = 1; t < count; ++t) {
    const double d = static_cast<double>(series[t]) - static_cast<double>(series[t - 1]);
    sums[t] += d * d;
  }
}

}  // namespace tsl
