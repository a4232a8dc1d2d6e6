// Plot windows as the plug-in builds them through the host's plot calls, and
// their picture as SVG.
#ifndef TESSEL_HOSTSIM_PLOTS_H
#define TESSEL_HOSTSIM_PLOTS_H

#include <string>
#include <string_view>
#include <vector>

namespace tsl::hostsim {

struct Curve {
  std::string name;
  std::vector<float> x, y;  // the same length
  int lineSize = 1;
  bool colourSet = false;  // unset: a colour of the default palette
  int red = 0, green = 0, blue = 0;
  int style = 0;  // 0 solid, anything else dashed
};

inline constexpr int kDefaultPlotWidth = 640;
inline constexpr int kDefaultPlotHeight = 480;

struct Plot {
  std::vector<Curve> curves;  // numbered from 0 in the order added
  std::string title;
  int width = kDefaultPlotWidth, height = kDefaultPlotHeight;
  bool yRangeSet = false;  // unset: the range of the data
  float yLower = 0.0f, yUpper = 0.0f;
  bool legendShown = false;
  int legendSetting1 = 0, legendSetting2 = 0;
  int colourTheme = 0;
  bool positioned = false;
  int positionX = 0, positionY = 0;
};

// A curve of count points; no points when count <= 0 or a pointer is null.
Curve makeCurve(int count, const float* x, const float* y, const char* name);

// Escapes & < > " ' for XML text and attributes; control characters that XML
// 1.0 does not allow become '?'.
std::string xmlEscape(std::string_view text);

// The plot as a complete SVG document of its width and height (defaults for
// a size <= 0): frame, curves as polylines in their colours and line sizes
// (broken at non-finite values, clipped to the frame), the x range of the data,
// the y range asked for, the title, and the legend with the curve names when
// it was shown. Colour theme 1 is drawn on a dark background (light text),
// every other theme on white. The theme, the legend settings and the
// position are recorded in the SVG's desc element.
std::string renderSvg(const Plot& plot);

}  // namespace tsl::hostsim

#endif
