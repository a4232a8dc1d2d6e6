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
