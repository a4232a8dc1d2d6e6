// What DVARS needs of one voxel's time series: its robust spread and the
// factor of its lag-1 autocorrelation, and its squared volume-to-volume
// differences. Internal to signal/.
#ifndef TESSEL_SIGNAL_VOXEL_SERIES_TERMS_H
#define TESSEL_SIGNAL_VOXEL_SERIES_TERMS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsl {

struct VoxelSeriesTerms {
  // (P75 - P25) / kInterquartileSigmas x kDvarsIntensityScale, numpy's
  // "lower" quartiles, in the file's units: the robust standard deviation of
  // the scaled series times the run's median.
  double spread = 0.0;
  // sqrt(2 (1 - a)), a the series' lag-1 autocorrelation (Yule-Walker); 0
  // when spread is 0.
  double factor = 0.0;
};

// Computes the terms of series after series, reusing its work space.
class VoxelSeriesAnalyser {
 public:
  // integral: every value is an integer (16-bit data); the quartiles of a
  // series whose values span few integers are then counted, not selected.
  explicit VoxelSeriesAnalyser(bool integral) : integral_(integral) {}

  // REQUIRES: count > 0; the values finite (integers when integral).
  VoxelSeriesTerms analyse(const float* series, std::size_t count);

  // After analyse: true when the values were counted; then counts()[i] of
  // them equal lowest() + i.
  bool counted() const { return counted_; }
  int lowest() const { return lowest_; }
  const std::vector<std::uint32_t>& counts() const { return counts_; }

 private:
  bool countRanks(const float* series, std::size_t count, std::size_t lower, std::size_t upper,
                  double& low, double& high);

  bool integral_;
  bool counted_ = false;
  int lowest_ = 0;
  std::vector<std::int32_t> integers_;
  std::vector<std::uint32_t> counts_;
  std::vector<float> sorted_;
};

// sums[t] += (series[t] - series[t - 1])^2 for t = 1 ... count - 1, in
// double precision.
void addSquaredDifferences(const float* series, std::size_t count, double* sums);

}  // namespace tsl

#endif
