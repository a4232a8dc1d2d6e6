// The SVG figures of the study report's page, written inline into it.
// Internal to report/: the page's style sheet names the classes they use
// (line colours l0 ... l5, flag shades f1 ... f4, and so on).
#ifndef TESSEL_REPORT_SVG_FIGURES_H
#define TESSEL_REPORT_SVG_FIGURES_H

#include <iosfwd>
#include <string>
#include <vector>

#include "report/study_report.h"

namespace tsl {

// How many line colours the style sheet defines; curves beyond them repeat.
inline constexpr std::size_t kLineColours = 6;

// The figure of one run: the flag legend, its traces stacked top to bottom
// (group class "traces") with the flagged volumes shaded across them, the
// carpet image under them (image class "carpet") and the time axis in
// volumes, and in seconds when the repetition time is known. Volume v is
// drawn at the middle of its carpet column. REQUIRES: the run was checked
// (one entry per volume everywhere, at least one volume).
void writeRunFigure(std::ostream& out, const RunSection& run);

struct Bar {
  std::string label;
  double value = 0.0;
  bool over = false;  // drawn in the over-limit colour
};

// A horizontal bar chart with one bar per entry, its value written beside
// it, and the limit as a dashed line when it is above 0. unit follows every
// value ("mm", "%").
void writeBarChart(std::ostream& out, const std::string& title, const std::string& unit,
                   const std::vector<Bar>& bars, double limit);

}  // namespace tsl

#endif
