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
  // Each y below lies within +-2^17, each square and product within 2^34,
  // so sums of up to 2^19 of them are integers that doubles hold exactly, in
  // any order: four partial sums run side by side.
  constexpr std::size_t kExactCount = std::size_t{1} << 19;
  constexpr std::size_t kLanes = 4;
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
  const auto y = [&](std::size_t t) { return static_cast<double>(values[t] - pivot); };
  double squares[kLanes] = {y(0) * y(0), 0.0, 0.0, 0.0};
  double products[kLanes] = {};
  double previous = y(0);
  std::size_t t = 1;
  for (; t + kLanes <= count; t += kLanes) {
    double current[kLanes];
    for (std::size_t k = 0; k < kLanes; ++k) current[k] = y(t + k);
    for (std::size_t k = 0; k < kLanes; ++k) {
      squares[k] += current[k] * current[k];
      products[k] += current[k] * (k == 0 ? previous : current[k - 1]);
    }
    previous = current[kLanes - 1];
  }
  for (; t < count; ++t) {
    const double current = y(t);
    squares[0] += current * current;
    products[0] += current * previous;
    previous = current;
  }
  const double square = (squares[0] + squares[1]) + (squares[2] + squares[3]);
  const double product = (products[0] + products[1]) + (products[2] + products[3]);
  const double delta = static_cast<double>(ySum) / static_cast<double>(n);
  // r0 = sum (y - delta)^2, r1 = sum (y[t] - delta)(y[t - 1] - delta).
  const double r0 = square - static_cast<double>(ySum) * delta;
  const double firstLast = static_cast<double>(2 * ySum) - y(0) - y(count - 1);
  const double r1 = product - delta * firstLast + static_cast<double>(n - 1) * delta * delta;
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
