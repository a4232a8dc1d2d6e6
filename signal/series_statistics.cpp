#include "signal/series_statistics.h"

#include <algorithm>

namespace tsl {

std::size_t lowerPercentileIndex(std::size_t count, unsigned percent) {
  constexpr std::size_t kHundred = 100;
  return percent * (count - 1) / kHundred;
}

double lag1Autocorrelation(const float* values, std::size_t count) {
  if (count < 2) return 0.0;
  double sum = 0.0;
  for (std::size_t t = 0; t < count; ++t) sum += values[t];
  const double mean = sum / static_cast<double>(count);
  double r0 = 0.0;
  double r1 = 0.0;
  double previous = values[0] - mean;
  r0 = previous * previous;
  for (std::size_t t = 1; t < count; ++t) {
    const double x = values[t] - mean;
    r0 += x * x;
    r1 += previous * x;
    previous = x;
  }
  return r0 > 0.0 ? r1 / r0 : 0.0;
}

double lag1Autocorrelation(const std::int32_t* values, std::size_t count) {
  // Each y below lies within +-2^17, its square below 2^34: 2^29 of them sum
  // to less than 2^63.
  constexpr std::size_t kExactCount = std::size_t{1} << 29;
  if (count < 2) return 0.0;
  if (count > kExactCount) {
    const std::vector<float> floats(values, values + count);
    return lag1Autocorrelation(floats.data(), count);
  }
  std::int64_t sum = 0;
  for (std::size_t t = 0; t < count; ++t) sum += values[t];
  const auto n = static_cast<std::int64_t>(count);
  const auto pivot = static_cast<std::int32_t>(sum / n);
  // y = x - pivot, whose mean delta lies within (-1, 1).
  const std::int64_t ySum = sum - std::int64_t{pivot} * n;
  std::int64_t squares = 0;
  std::int64_t products = 0;
  for (std::size_t t = 0; t < count; ++t) {
    const std::int64_t y = values[t] - pivot;
    squares += y * y;
  }
  for (std::size_t t = 1; t < count; ++t) {
    products += std::int64_t{values[t] - pivot} * std::int64_t{values[t - 1] - pivot};
  }
  const double delta = static_cast<double>(ySum) / static_cast<double>(n);
  // r0 = sum (y - delta)^2, r1 = sum (y[t] - delta)(y[t - 1] - delta).
  const double r0 = static_cast<double>(squares) - static_cast<double>(ySum) * delta;
  const auto firstLast =
      static_cast<double>(2 * ySum - (values[0] - pivot) - (values[count - 1] - pivot));
  const double r1 = static_cast<double>(products) - delta * firstLast +
                    static_cast<double>(n - 1) * delta * delta;
  return r0 > 0.0 ? r1 / r0 : 0.0;
}

double medianOf(std::vector<double> values) {
  const std::size_t upper = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(upper),
                   values.end());
  const double high = values[upper];
  if (values.size() % 2 == 1) return high;
  // The lower middle value is the largest of those before the upper one.
  const double low =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(upper));
  return (low + high) / 2.0;
}

}  // namespace tsl
