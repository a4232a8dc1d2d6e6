#include "report/svg_figures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "report/html_text.h"

namespace tsl {

namespace {

// The run figure, in the units of its view box.
constexpr double kFigureWidth = 1000.0;
constexpr double kPlotLeft = 70.0;
constexpr double kPlotRight = 960.0;
constexpr double kPlotWidth = kPlotRight - kPlotLeft;
constexpr double kLegendHeight = 22.0;
constexpr double kTitleHeight = 16.0;
constexpr double kPanelHeight = 70.0;
constexpr double kPanelGap = 8.0;
constexpr double kCaptionHeight = 20.0;
constexpr double kCarpetHeight = 240.0;
constexpr double kAxisRowHeight = 16.0;
constexpr double kTickLength = 4.0;
constexpr double kLabelGap = 4.0;
constexpr double kTextDrop = 12.0;  // from the top of a text row to its baseline
constexpr double kTargetTimeTicks = 8.0;
constexpr double kTargetValueTicks = 3.0;
// The values of a panel whose curves are flat span this much around them,
// or this share of their magnitude when that is more.
constexpr double kFlatHalfRange = 1.0;
constexpr double kFlatRelativeRange = 0.01;
// More labels than a scale ever needs; a bound for values so large that a
// step no longer changes them.
constexpr int kMaxTicks = 20;

// The bar chart.
constexpr double kChartWidth = 480.0;
constexpr double kChartLabelRight = 165.0;
constexpr double kChartBarLeft = 170.0;
constexpr double kChartBarRight = 410.0;
constexpr double kChartTitleHeight = 24.0;
constexpr double kChartRowHeight = 16.0;
constexpr double kChartBarHeight = 11.0;
constexpr double kChartAxisHeight = 22.0;
constexpr double kChartHeadroom = 1.1;
constexpr std::size_t kChartLabelBytes = 28;

struct FlagStyle {
  VolumeFlag flag;
  const char* name;
};
// In the order of precedence, as the legend lists them; f1 ... f4 in the
// style sheet.
constexpr std::array<FlagStyle, 4> kFlagStyles = {{
    {VolumeFlag::kNonSteady, "non-steady"},
    {VolumeFlag::kSpike, "spike"},
    {VolumeFlag::kNeighbour, "neighbour of a spike"},
    {VolumeFlag::kShortSegment, "short segment"},
}};

std::string c(double value) { return coordinateText(value); }

// A step of 1, 2 or 5 times a power of ten near span / target.
double niceStep(double span, double target) {
  const double raw = span / target;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= raw) return factor * power;
  }
  return 10.0 * power;
}

// The multiples of step from low (one of them) as far as high. As whole
// multiples they are exact where a sum of steps is not: 0 is 0, not 1e-17.
std::vector<double> ticksOf(double low, double high, double step) {
  std::vector<double> ticks;
  const double first = std::round(low / step);
  for (int i = 0; i <= kMaxTicks; ++i) {
    const double value = (first + i) * step;
    if (value > high + step / 2) break;
    ticks.push_back(value);
  }
  return ticks;
}

// The vertical scale of one panel: the values from low to high fill it.
struct ValueScale {
  double low = 0.0;
  double high = 1.0;
  double step = 1.0;
  double top = 0.0;

  double y(double value) const { return top + (high - value) / (high - low) * kPanelHeight; }
};

ValueScale scaleOf(const Trace& trace, double top) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  const auto include = [&](double v) {
    if (!std::isfinite(v)) return;
    low = std::min(low, v);
    high = std::max(high, v);
  };
  for (const TraceLine& line : trace.lines) {
    for (const double v : line.values) include(v);
  }
  if (trace.threshold) include(*trace.threshold);
  if (low > high) {
    low = 0.0;
    high = 0.0;
  }
  if (high - low <= std::numeric_limits<double>::epsilon() * std::max(1.0, std::fabs(high))) {
    const double half = std::max(kFlatHalfRange, kFlatRelativeRange * std::fabs(high));
    low -= half;
    high += half;
  }
  ValueScale scale;
  scale.step = niceStep(high - low, kTargetValueTicks);
  scale.low = std::floor(low / scale.step) * scale.step;
  scale.high = std::ceil(high / scale.step) * scale.step;
  scale.top = top;
  return scale;
}

double xOfVolume(double volume, std::size_t volumes) {
  return kPlotLeft + (volume + 0.5) / static_cast<double>(volumes) * kPlotWidth;
}

// The curve as polylines, broken where a value is not finite.
void writeLine(std::ostream& out, const TraceLine& line, const std::string& cssClass,
               const ValueScale& scale, std::size_t volumes) {
  bool open = false;
  for (std::size_t v = 0; v < line.values.size(); ++v) {
    const double value = line.values[v];
    if (!std::isfinite(value)) {
      if (open) out << "\"/>";
      open = false;
      continue;
    }
    out << (open ? " " : "<polyline class=\"" + cssClass + "\" points=\"")
        << c(xOfVolume(static_cast<double>(v), volumes)) << ',' << c(scale.y(value));
    open = true;
  }
  if (open) out << "\"/>";
  out << '\n';
}

// The class of the colour of curve i of trace: prefix "l" for the curve,
// "k" for its legend key. The curves that are not faint take the colours in
// turn, so a faint companion does not shift them.
std::string colourClass(const char* prefix, const Trace& trace, std::size_t i) {
  std::string name = prefix;
  if (trace.lines[i].faint) {
    name += 'f';
  } else {
    const auto before = std::count_if(trace.lines.begin(), trace.lines.begin() + i,
                                      [](const TraceLine& line) { return !line.faint; });
    name += std::to_string(static_cast<std::size_t>(before) % kLineColours);
  }
  return name;
}

void writeTracePanel(std::ostream& out, const Trace& trace, double top, std::size_t volumes) {
  // The title and the legend of the curves in one text, which lays them out.
  out << "<text class=\"panel-title\" x=\"" << c(kPlotLeft) << "\" y=\"" << c(top + kTextDrop)
      << "\">" << escapeHtml(trace.title);
  for (std::size_t i = 0; i < trace.lines.size(); ++i) {
    const TraceLine& line = trace.lines[i];
    out << "<tspan class=\"" << colourClass("k", trace, i)
        << "\" dx=\"14\">&#9632;</tspan><tspan dx=\"3\">" << escapeHtml(line.name) << "</tspan>";
  }
  out << "</text>\n";

  const double panelTop = top + kTitleHeight;
  const ValueScale scale = scaleOf(trace, panelTop);
  out << "<rect class=\"frame\" x=\"" << c(kPlotLeft) << "\" y=\"" << c(panelTop) << "\" width=\""
      << c(kPlotWidth) << "\" height=\"" << c(kPanelHeight) << "\"/>\n";
  for (const double value : ticksOf(scale.low, scale.high, scale.step)) {
    out << "<text class=\"tick-y\" x=\"" << c(kPlotLeft - kLabelGap) << "\" y=\""
        << c(scale.y(value) + kLabelGap) << "\">" << numberText(value) << "</text>";
  }
  out << '\n';
  if (trace.threshold && std::isfinite(*trace.threshold)) {
    const double y = scale.y(*trace.threshold);
    out << "<line class=\"threshold\" x1=\"" << c(kPlotLeft) << "\" x2=\"" << c(kPlotRight)
        << "\" y1=\"" << c(y) << "\" y2=\"" << c(y) << "\"/><text class=\"threshold-label\" x=\""
        << c(kPlotRight - kLabelGap) << "\" y=\"" << c(y - kLabelGap) << "\">threshold "
        << numberText(*trace.threshold) << "</text>\n";
  }
  // Faint curves first, so that the others are drawn over them.
  for (const bool faint : {true, false}) {
    for (std::size_t i = 0; i < trace.lines.size(); ++i) {
      if (trace.lines[i].faint != faint) continue;
      writeLine(out, trace.lines[i], colourClass("l", trace, i), scale, volumes);
    }
  }
}

double tracesHeight(const RunSection& run) {
  return static_cast<double>(run.traces.size()) * (kTitleHeight + kPanelHeight + kPanelGap);
}

void writeFlagLegend(std::ostream& out, const RunSection& run) {
  out << "<text class=\"flag-legend\" x=\"" << c(kPlotLeft) << "\" y=\"" << c(kTextDrop)
      << "\">Flagged volumes:";
  for (std::size_t i = 0; i < kFlagStyles.size(); ++i) {
    const auto count = std::count(run.flags.begin(), run.flags.end(), kFlagStyles[i].flag);
    out << "<tspan class=\"f" << i + 1 << "\" dx=\"14\">&#9632;</tspan><tspan dx=\"3\">"
        << kFlagStyles[i].name << " (" << count << ")</tspan>";
  }
  out << "</text>\n";
}

// One rectangle per stretch of volumes of one category, across every trace.
void writeFlagShading(std::ostream& out, const RunSection& run, double top, double height) {
  std::size_t v = 0;
  while (v < run.flags.size()) {
    const VolumeFlag flag = run.flags[v];
    std::size_t end = v + 1;
    while (end < run.flags.size() && run.flags[end] == flag) ++end;
    for (std::size_t i = 0; i < kFlagStyles.size(); ++i) {
      if (kFlagStyles[i].flag != flag) continue;
      const double left = xOfVolume(static_cast<double>(v) - 0.5, run.volumes);
      const double right = xOfVolume(static_cast<double>(end) - 0.5, run.volumes);
      out << "<rect class=\"f" << i + 1 << "\" x=\"" << c(left) << "\" y=\"" << c(top)
          << "\" width=\"" << c(right - left) << "\" height=\"" << c(height) << "\"/>";
    }
    v = end;
  }
  out << '\n';
}

// A time axis: labels at the multiples of step, in a unit of which
// volumesPerUnit volumes make one.
struct TimeAxis {
  double step = 1.0;
  double volumesPerUnit = 1.0;
  const char* unit = "";

  // The values labelled, as far as the last volume.
  std::vector<double> ticks(std::size_t volumes) const {
    std::vector<double> values;
    // Tolerates the rounding of a step that is no whole number of volumes.
    const double last = static_cast<double>(volumes - 1) + 1e-9;
    for (long k = 0; static_cast<double>(k) * step * volumesPerUnit <= last; ++k) {
      values.push_back(static_cast<double>(k) * step);
    }
    return values;
  }
};

// Light vertical lines at axis's ticks from top to bottom.
void writeTimeGrid(std::ostream& out, const TimeAxis& axis, std::size_t volumes, double top,
                   double bottom) {
  for (const double value : axis.ticks(volumes)) {
    const std::string x = c(xOfVolume(value * axis.volumesPerUnit, volumes));
    out << "<line class=\"grid\" x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << c(top)
        << "\" y2=\"" << c(bottom) << "\"/>";
  }
  out << '\n';
}

// One row of labels of axis, its top at top; with marks, a tick mark above
// each label.
void writeTimeLabels(std::ostream& out, const TimeAxis& axis, std::size_t volumes, double top,
                     bool marks) {
  for (const double value : axis.ticks(volumes)) {
    const std::string x = c(xOfVolume(value * axis.volumesPerUnit, volumes));
    if (marks) {
      out << "<line class=\"axis\" x1=\"" << x << "\" x2=\"" << x << "\" y1=\""
          << c(top - kTickLength) << "\" y2=\"" << c(top) << "\"/>";
    }
    out << "<text class=\"tick-x\" x=\"" << x << "\" y=\"" << c(top + kTextDrop) << "\">"
        << numberText(value) << "</text>";
  }
  out << "<text class=\"axis-label\" x=\"" << c(kPlotLeft - kLabelGap) << "\" y=\""
      << c(top + kTextDrop) << "\">" << axis.unit << "</text>\n";
}

// name, or its end after an ellipsis when it is long; never cut inside a
// UTF-8 character.
std::string shortLabel(const std::string& name) {
  if (name.size() <= kChartLabelBytes) return name;
  std::size_t start = name.size() - kChartLabelBytes;
  while (start < name.size() && (static_cast<unsigned char>(name[start]) & 0xc0U) == 0x80U) {
    ++start;
  }
  std::string label = "\u2026";
  label.append(name, start);
  return label;
}

}  // namespace

void writeRunFigure(std::ostream& out, const RunSection& run) {
  const double tracesTop = kLegendHeight;
  const double tracesBottom = tracesTop + tracesHeight(run);
  // Where the panels' frames start and end.
  const double framesTop = tracesTop + kTitleHeight;
  const double framesBottom = tracesBottom - kPanelGap;
  double bottomOfPlots = framesBottom;
  const double carpetTop = tracesBottom + kCaptionHeight;
  if (run.carpet) bottomOfPlots = carpetTop + kCarpetHeight;
  const bool seconds = run.repetitionTimeSeconds > 0.0;
  const double axisTop = bottomOfPlots + kTickLength;
  const double height = axisTop + kAxisRowHeight * (seconds ? 2.0 : 1.0) + kLabelGap;
  const double volumes = static_cast<double>(run.volumes);
  // Volumes are whole: no tick between two of them.
  const TimeAxis volumeAxis{std::max(1.0, niceStep(volumes, kTargetTimeTicks)), 1.0, "volume"};

  out << "<svg class=\"run-figure\" viewBox=\"0 0 " << c(kFigureWidth) << ' ' << c(height)
      << "\" role=\"img\" aria-label=\"Traces";
  if (run.carpet) out << " and carpet plot";
  out << " of " << escapeHtml(run.motionFile) << "\">\n";
  writeFlagLegend(out, run);
  out << "<g class=\"traces\">\n";
  if (!run.traces.empty()) {
    writeFlagShading(out, run, framesTop, framesBottom - framesTop);
    writeTimeGrid(out, volumeAxis, run.volumes, framesTop, framesBottom);
  }
  double top = tracesTop;
  for (const Trace& trace : run.traces) {
    writeTracePanel(out, trace, top, run.volumes);
    top += kTitleHeight + kPanelHeight + kPanelGap;
  }
  out << "</g>\n";

  if (run.carpet) {
    out << "<text class=\"panel-title\" x=\"" << c(kPlotLeft) << "\" y=\""
        << c(tracesBottom + kTextDrop) << "\">Carpet plot: " << run.carpet->height
        << " rows of voxels in slice order; z-score -2 black to +2 white</text>\n"
        << "<image class=\"carpet\" x=\"" << c(kPlotLeft) << "\" y=\"" << c(carpetTop)
        << "\" width=\"" << c(kPlotWidth) << "\" height=\"" << c(kCarpetHeight)
        << "\" preserveAspectRatio=\"none\" href=\"" << pngDataUrl(encodePng(*run.carpet))
        << "\"/>\n";
  }

  writeTimeLabels(out, volumeAxis, run.volumes, axisTop, true);
  if (seconds) {
    const TimeAxis secondsAxis{niceStep(volumes * run.repetitionTimeSeconds, kTargetTimeTicks),
                               1.0 / run.repetitionTimeSeconds, "s"};
    writeTimeLabels(out, secondsAxis, run.volumes, axisTop + kAxisRowHeight, false);
  }
  out << "</svg>\n";
}

void writeBarChart(std::ostream& out, const std::string& title, const std::string& unit,
                   const std::vector<Bar>& bars, double limit) {
  double largest = limit > 0.0 ? limit : 0.0;
  for (const Bar& bar : bars) {
    if (std::isfinite(bar.value)) largest = std::max(largest, bar.value);
  }
  const double step = niceStep(largest > 0.0 ? largest * kChartHeadroom : 1.0, 4.0);
  const double end = std::ceil((largest > 0.0 ? largest * kChartHeadroom : 1.0) / step) * step;
  const auto x = [&](double value) {
    return kChartBarLeft + std::clamp(value, 0.0, end) / end * (kChartBarRight - kChartBarLeft);
  };
  const double barsBottom = kChartTitleHeight + static_cast<double>(bars.size()) * kChartRowHeight;
  const double height = barsBottom + kChartAxisHeight;

  out << "<svg class=\"bar-chart\" viewBox=\"0 0 " << c(kChartWidth) << ' ' << c(height)
      << "\" role=\"img\" aria-label=\"" << escapeHtml(title)
      << "\">\n<text class=\"chart-title\" x=\"" << c(kChartBarLeft) << "\" y=\""
      << c(kTextDrop + kLabelGap) << "\">" << escapeHtml(title) << "</text>\n";
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const Bar& bar = bars[i];
    const double rowTop = kChartTitleHeight + static_cast<double>(i) * kChartRowHeight;
    const double value = std::isfinite(bar.value) ? bar.value : 0.0;
    out << "<text class=\"bar-label\" x=\"" << c(kChartLabelRight) << "\" y=\""
        << c(rowTop + kChartBarHeight) << "\">" << escapeHtml(shortLabel(bar.label))
        << "</text><rect class=\"" << (bar.over ? "bar over" : "bar") << "\" x=\""
        << c(kChartBarLeft) << "\" y=\"" << c(rowTop + 1.0) << "\" width=\""
        << c(x(value) - kChartBarLeft) << "\" height=\"" << c(kChartBarHeight)
        << "\"/><text class=\"bar-value\" x=\"" << c(x(value) + kLabelGap) << "\" y=\""
        << c(rowTop + kChartBarHeight) << "\">" << numberText(bar.value) << ' ' << escapeHtml(unit)
        << "</text>\n";
  }
  out << "<line class=\"axis\" x1=\"" << c(kChartBarLeft) << "\" x2=\"" << c(kChartBarRight)
      << "\" y1=\"" << c(barsBottom) << "\" y2=\"" << c(barsBottom) << "\"/>";
  for (const double value : ticksOf(0.0, end, step)) {
    out << "<text class=\"tick-x\" x=\"" << c(x(value)) << "\" y=\""
        << c(barsBottom + kTextDrop + kLabelGap) << "\">" << numberText(value) << "</text>";
  }
  out << '\n';
  if (limit > 0.0) {
    out << "<line class=\"limit\" x1=\"" << c(x(limit)) << "\" x2=\"" << c(x(limit)) << "\" y1=\""
        << c(kChartTitleHeight - kLabelGap) << "\" y2=\"" << c(barsBottom)
        << "\"/><text class=\"limit-label\" x=\"" << c(x(limit) + kLabelGap) << "\" y=\""
        << c(kChartTitleHeight - kLabelGap) << "\">limit " << numberText(limit) << ' '
        << escapeHtml(unit) << "</text>\n";
  }
  out << "</svg>\n";
}

}  // namespace tsl
