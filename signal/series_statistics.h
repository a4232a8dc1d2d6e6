// Statistics of one series of values, as the field's peers compute them
// (numpy, nitime), in double precision.
#ifndef TESSEL_SIGNAL_SERIES_STATISTICS_H
#define TESSEL_SIGNAL_SERIES_STATISTICS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tsl {

// The index, into the sorted values, of numpy's "lower" percentile of count
// values: floor(percent / 100 x (count - 1)), exactly.
// REQUIRES: count > 0 and percent <= 100.
std::size_t lowerPercentileIndex(std::size_t count, unsigned percent);

// The lag-1 autoregressive coefficient of the series by the Yule-Walker
// equations on its biased autocorrelation: with x the series minus its mean
// and r(k) the sum over t of x[t] x[t + k], r(1) / r(0). 0 for a constant
// series or one of fewer than 2 values, which have no autocorrelation.
double lag1Autocorrelation(const float* values, std::size_t count);
// The same of integers, as 16-bit data are: the sums are taken exactly in
// integers about an integer near the mean, so they need no order and lose
// nothing to cancellation. REQUIRES: every value within -65536 ... 65536.
double lag1Autocorrelation(const std::int32_t* values, std::size_t count);

// The median: the middle value of the sorted values, the mean of the two
// middle ones for an even count. REQUIRES: values is not empty.
double medianOf(std::vector<double> values);

}  // namespace tsl

#endif
