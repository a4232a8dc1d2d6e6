#include "plugin/motion_plot.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/path_functions.h"
#include "plugin/host_functions.h"

namespace tsl {

namespace {

constexpr int kColorTheme = 1;
constexpr int kLineStyle = 0;
constexpr int kPlotWidth = 800;
constexpr int kPlotHeight = 350;
constexpr int kPlotLeft = 50;
constexpr int kPlotTop = 50;

// Truncation of m + 1 toward zero, for a non-negative m that is not
// not-a-number; beyond the int range the conversion would be undefined.
int boundOf(float m) {
  const float above = m + 1.0f;
  if (above >= 2147483648.0f) return std::numeric_limits<int>::max();
  return static_cast<int>(above);
}

}  // namespace

void plotPredictors(const SdmDocument& doc, int lineSize, int legend1, int legend2) {
  const int n = doc.NrOfDataPoints.value;
  const int p = doc.NrOfPredictors.value;
  if (n <= 0 || p <= 0) return;
  const auto count = static_cast<std::size_t>(n);
  const auto predictors = static_cast<std::size_t>(p);
  if (doc.columns.size() < predictors || doc.names.size() < predictors ||
      doc.red.size() < predictors || doc.green.size() < predictors ||
      doc.blue.size() < predictors) {
    throw std::runtime_error("SDM document " + doc.path + ": NrOfPredictors is " +
                             std::to_string(p) + " but it holds " +
                             std::to_string(doc.columns.size()) + " predictors");
  }
  for (std::size_t i = 0; i < predictors; ++i) {
    if (doc.columns[i].size() < count) {
      throw std::runtime_error("SDM document " + doc.path + ": predictor " +
                               std::to_string(i + 1) + " holds " +
                               std::to_string(doc.columns[i].size()) + " values, expected " +
                               std::to_string(n));
    }
  }

  std::vector<float> volumes(count);
  volumes[0] = 1.0f;
  for (std::size_t k = 1; k < count; ++k) volumes[k] = volumes[k - 1] + 1.0f;

  const ZrPlot plot = zr::plotLine(n, volumes.data(), doc.columns[0].data(), doc.names[0]);
  zr::setPlotColorTheme(plot, kColorTheme);
  int bound = 0;
  for (std::size_t i = 0; i < predictors; ++i) {
    const std::vector<float>& values = doc.columns[i];
    if (i > 0) zr::addLineToPlot(plot, n, volumes.data(), values.data(), doc.names[i]);
    zr::setPlotLineSizeAndColor(plot, static_cast<int>(i), lineSize, doc.red[i], doc.green[i],
                                doc.blue[i], kLineStyle);
    bool seen = false;
    float smallest = 0.0f;
    float largest = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
      const float v = values[k];
      if (std::isnan(v)) continue;
      if (!seen || v < smallest) smallest = v;
      if (!seen || v > largest) largest = v;
      seen = true;
    }
    if (!seen) continue;
    const float m = largest > -smallest ? largest : -smallest;
    const int c = boundOf(m);
    if (c > bound) bound = c;
  }
  zr::showPlotLegend(plot, legend1, legend2);
  zr::setPlotTitle(plot, fileNameOf(doc.path));
  zr::resizePlot(plot, kPlotWidth, kPlotHeight);
  zr::setPlotYAxisRange(plot, static_cast<float>(-bound), static_cast<float>(bound));
  zr::showPlotAtPosition(plot, kPlotLeft, kPlotTop);
}

}  // namespace tsl
