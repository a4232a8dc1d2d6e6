#include "hostsim/plots.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace tsl::hostsim {

namespace {

constexpr double kMarginLeft = 70, kMarginRight = 20, kMarginTop = 40, kMarginBottom = 40;
constexpr double kLegendRowHeight = 16, kLegendWidth = 220;

struct Rgb {
  int red, green, blue;
};
constexpr std::array<Rgb, 7> kPalette{{{0, 114, 189},
                                       {217, 83, 25},
                                       {237, 177, 32},
                                       {126, 47, 142},
                                       {119, 172, 48},
                                       {77, 190, 238},
                                       {162, 20, 47}}};

std::string number(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, result.ptr);
}

std::string label(double value) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  return std::string(buffer, result.ptr);
}

int channel(int value) { return std::clamp(value, 0, 255); }

std::string colourOf(const Curve& curve, std::size_t index) {
  const Rgb rgb =
      curve.colourSet ? Rgb{curve.red, curve.green, curve.blue} : kPalette[index % kPalette.size()];
  return "rgb(" + std::to_string(channel(rgb.red)) + "," + std::to_string(channel(rgb.green)) +
         "," + std::to_string(channel(rgb.blue)) + ")";
}

// [low, high] widened to a non-empty range.
void widen(double& low, double& high) {
  if (!(low < high)) {
    low -= 0.5;
    high += 0.5;
  }
}

}  // namespace

Curve makeCurve(int count, const float* x, const float* y, const char* name) {
  Curve curve;
  if (name != nullptr) curve.name = name;
  if (count > 0 && x != nullptr && y != nullptr) {
    curve.x.assign(x, x + count);
    curve.y.assign(y, y + count);
  }
  return curve;
}

std::string xmlEscape(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          escaped += '?';
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

std::string renderSvg(const Plot& plot) {
  const double width = plot.width > 0 ? plot.width : kDefaultPlotWidth;
  const double height = plot.height > 0 ? plot.height : kDefaultPlotHeight;
  const double left = kMarginLeft, top = kMarginTop;
  const double right = std::max(left + 1, width - kMarginRight);
  const double bottom = std::max(top + 1, height - kMarginBottom);

  double xLow = std::numeric_limits<double>::infinity(), xHigh = -xLow;
  double yLow = xLow, yHigh = -xLow;
  for (const Curve& curve : plot.curves) {
    for (std::size_t i = 0; i < curve.x.size(); ++i) {
      if (!std::isfinite(curve.x[i]) || !std::isfinite(curve.y[i])) continue;
      xLow = std::min(xLow, double{curve.x[i]});
      xHigh = std::max(xHigh, double{curve.x[i]});
      yLow = std::min(yLow, double{curve.y[i]});
      yHigh = std::max(yHigh, double{curve.y[i]});
    }
  }
  if (!std::isfinite(xLow)) xLow = xHigh = yLow = yHigh = 0;
  if (plot.yRangeSet && std::isfinite(plot.yLower) && std::isfinite(plot.yUpper)) {
    yLow = plot.yLower;
    yHigh = plot.yUpper;
  }
  widen(xLow, xHigh);
  widen(yLow, yHigh);
  auto px = [&](double x) { return left + (x - xLow) / (xHigh - xLow) * (right - left); };
  auto py = [&](double y) { return bottom - (y - yLow) / (yHigh - yLow) * (bottom - top); };

  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
         number(height) + "\" viewBox=\"0 0 " + number(width) + " " + number(height) + "\">\n";
  svg += "<desc>colour theme " + std::to_string(plot.colourTheme) + "; legend " +
         (plot.legendShown
              ? std::to_string(plot.legendSetting1) + " " + std::to_string(plot.legendSetting2)
              : std::string("not shown")) +
         "; position " +
         (plot.positioned ? std::to_string(plot.positionX) + "," + std::to_string(plot.positionY)
                          : std::string("not set")) +
         "</desc>\n";
  // Colour theme 1 is drawn dark, as a plot window with light curves (the
  // near-white relative RMS curve, for one) needs; every other theme light.
  const bool dark = plot.colourTheme == 1;
  const std::string paper = dark ? "rgb(32,32,36)" : "white";
  const std::string ink = dark ? "rgb(230,230,230)" : "black";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"" + paper + "\"/>\n";
  svg += "<text x=\"" + number(width / 2) +
         "\" y=\"24\" text-anchor=\"middle\" font-family=\"sans-serif\" font-size=\"16\" fill=\"" +
         ink + "\">" + xmlEscape(plot.title) + "</text>\n";
  svg += "<defs><clipPath id=\"frame\"><rect x=\"" + number(left) + "\" y=\"" + number(top) +
         "\" width=\"" + number(right - left) + "\" height=\"" + number(bottom - top) +
         "\"/></clipPath></defs>\n";
  svg += "<rect x=\"" + number(left) + "\" y=\"" + number(top) + "\" width=\"" +
         number(right - left) + "\" height=\"" + number(bottom - top) +
         "\" fill=\"none\" stroke=\"" + ink + "\"/>\n";

  // Axis labels: both ends of each range, and the zero line when inside.
  const std::string labelStyle = "font-family=\"sans-serif\" font-size=\"12\" fill=\"" + ink + "\"";
  for (const double y : {yLow, yHigh}) {
    svg += "<text class=\"y-label\" x=\"" + number(left - 6) + "\" y=\"" + number(py(y) + 4) +
           "\" text-anchor=\"end\" " + labelStyle + ">" + label(y) + "</text>\n";
  }
  if (yLow < 0 && yHigh > 0) {
    svg += "<line x1=\"" + number(left) + "\" y1=\"" + number(py(0)) + "\" x2=\"" + number(right) +
           "\" y2=\"" + number(py(0)) + "\" stroke=\"gray\"/>\n";
    svg += "<text class=\"y-label\" x=\"" + number(left - 6) + "\" y=\"" + number(py(0) + 4) +
           "\" text-anchor=\"end\" " + labelStyle + ">0</text>\n";
  }
  for (const double x : {xLow, xHigh}) {
    svg += "<text class=\"x-label\" x=\"" + number(px(x)) + "\" y=\"" + number(bottom + 16) +
           "\" text-anchor=\"middle\" " + labelStyle + ">" + label(x) + "</text>\n";
  }

  for (std::size_t c = 0; c < plot.curves.size(); ++c) {
    const Curve& curve = plot.curves[c];
    const std::string stroke = "fill=\"none\" stroke=\"" + colourOf(curve, c) +
                               "\" stroke-width=\"" + std::to_string(std::max(curve.lineSize, 1)) +
                               "\"" + (curve.style != 0 ? " stroke-dasharray=\"6,4\"" : "");
    svg += "<g clip-path=\"url(#frame)\"><title>" + xmlEscape(curve.name) + "</title>\n";
    std::string points;
    auto flush = [&]() {
      if (!points.empty()) svg += "<polyline " + stroke + " points=\"" + points + "\"/>\n";
      points.clear();
    };
    for (std::size_t i = 0; i < curve.x.size(); ++i) {
      if (!std::isfinite(curve.x[i]) || !std::isfinite(curve.y[i])) {
        flush();
        continue;
      }
      if (!points.empty()) points += ' ';
      points += number(px(curve.x[i])) + "," + number(py(curve.y[i]));
    }
    flush();
    svg += "</g>\n";
  }

  if (plot.legendShown && !plot.curves.empty()) {
    const double legendLeft = std::max(left, right - kLegendWidth);
    svg += "<g class=\"legend\">\n";
    svg += "<rect x=\"" + number(legendLeft) + "\" y=\"" + number(top) + "\" width=\"" +
           number(right - legendLeft) + "\" height=\"" +
           number(kLegendRowHeight * static_cast<double>(plot.curves.size()) + 6) + "\" fill=\"" +
           paper + "\" fill-opacity=\"0.8\" stroke=\"gray\"/>\n";
    for (std::size_t c = 0; c < plot.curves.size(); ++c) {
      const double y = top + kLegendRowHeight * static_cast<double>(c + 1);
      svg += "<line x1=\"" + number(legendLeft + 6) + "\" y1=\"" + number(y - 4) + "\" x2=\"" +
             number(legendLeft + 30) + "\" y2=\"" + number(y - 4) + "\" stroke=\"" +
             colourOf(plot.curves[c], c) + "\" stroke-width=\"" +
             std::to_string(std::max(plot.curves[c].lineSize, 1)) + "\"/>\n";
      svg += "<text x=\"" + number(legendLeft + 36) + "\" y=\"" + number(y) + "\" " + labelStyle +
             ">" + xmlEscape(plot.curves[c].name) + "</text>\n";
    }
    svg += "</g>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace tsl::hostsim
