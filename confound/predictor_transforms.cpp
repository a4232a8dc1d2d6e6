#include "confound/predictor_transforms.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "designmatrix/io_error.h"

namespace tsl {

void detrendPredictor(SdmDocument& doc, std::size_t column) {
  std::vector<float>& y = doc.columns[column];
  const std::size_t n = y.size();
  const float count = static_cast<float>(n);
  float sx = 0.0f, sy = 0.0f, sxy = 0.0f, sxx = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    const float x = static_cast<float>(i);
    sx += x;
    sy += y[i];
    sxy += y[i] * x;
    // i*i as a 32-bit integer product; unsigned arithmetic makes the wrap of
    // very long columns defined instead of undefined.
    const auto square = static_cast<std::uint32_t>(i) * static_cast<std::uint32_t>(i);
    sxx += static_cast<float>(static_cast<std::int32_t>(square));
  }
  const float b = (sxy * count - sy * sx) / (sxx * count - sx * sx);
  const float c = (sy - b * sx) / count;
  for (std::size_t i = 0; i < n; ++i) {
    const float x = static_cast<float>(i);
    y[i] = y[i] - (x * b + c);
  }
  doc.names[column] += kDetrendedSuffix;
}

void detrendPredictors(SdmDocument& doc) {
  for (std::size_t i = 0; i < doc.columns.size(); ++i) detrendPredictor(doc, i);
}

void requireDetrendable(const SdmDocument& doc) {
  const int points = doc.NrOfDataPoints.value;
  if (points >= kMinimumDetrendPoints) return;
  throw IOError("SDM file " + doc.path + ": holds " + std::to_string(points) +
                (points == 1 ? " data point" : " data points") +
                ", a detrended series needs at least " + std::to_string(kMinimumDetrendPoints));
}

void differentiatePredictor(SdmDocument& doc, std::size_t column) {
  std::vector<float>& v = doc.columns[column];
  const std::size_t n = v.size();
  if (n > 0) {
    const std::vector<float> o = v;
    v[0] = 0.0f;
    v[n - 1] = 0.0f;
    // The bound is compared as floats; the integer test keeps a rounded bound
    // of a huge column from reaching past its end.
    for (std::size_t i = 1; static_cast<float>(i) < static_cast<float>(n) - 1.0f && i + 1 < n;
         ++i) {
      v[i] = (o[i + 1] - o[i - 1]) * 0.5f;
    }
  }
  doc.names[column] += kDerivativeSuffix;
}

void differentiatePredictors(SdmDocument& doc) {
  for (std::size_t i = 0; i < doc.columns.size(); ++i) differentiatePredictor(doc, i);
}

void squarePredictors(SdmDocument& doc) {
  for (std::size_t c = 0; c < doc.columns.size(); ++c) {
    for (float& v : doc.columns[c]) v = v * v;
    doc.names[c] += kSquaredSuffix;
  }
}

void delayPredictor(SdmDocument& doc, std::size_t column, unsigned k) {
  std::vector<float>& v = doc.columns[column];
  const std::vector<float> o = v;
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = i < k ? 0.0f : o[i - k];
  doc.names[column] += kDelaySuffix + unsignedText(k);
}

void delayPredictors(SdmDocument& doc, unsigned k) {
  for (std::size_t i = 0; i < doc.columns.size(); ++i) delayPredictor(doc, i, k);
}

std::pair<float, float> meanAndStdDev(const std::vector<float>& values) {
  const float n = static_cast<float>(values.size());
  float sum = 0.0f;
  for (float v : values) sum += v;
  const float mean = sum / n;
  float ss = 0.0f;
  for (float v : values) ss += (v - mean) * (v - mean);
  const float sd = std::sqrt(ss / (n - 1.0f));
  return {mean, sd};
}

void standardizePredictors(SdmDocument& doc) {
  for (std::vector<float>& column : doc.columns) {
    const auto [mean, sd] = meanAndStdDev(column);
    // Strict test: a not-a-number sd fails it and is used as the divisor.
    const float d = sd < kMinimumSpread ? 1.0f : sd;
    for (float& v : column) v = (v - mean) / d;
  }
}

std::string unsignedText(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", value);
  return text;
}

std::string signedText(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return text;
}

}  // namespace tsl
