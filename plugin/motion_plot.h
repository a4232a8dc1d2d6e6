// The motion curve plot: every predictor of a design matrix as one curve of a
// new host plot window.
#ifndef TESSEL_PLUGIN_MOTION_PLOT_H
#define TESSEL_PLUGIN_MOTION_PLOT_H

#include "designmatrix/sdm_document.h"

namespace tsl {

// Opens one host plot of the document's predictors over the volume numbers
// 1..NrOfDataPoints, each in its own colour with the given line size; shows
// the legend with the two settings, titles the plot with the file-name part
// of doc.path, sizes it 800 x 350, sets the vertical range to -B..B (B the
// smallest integer above the largest absolute value, at least 1) and shows it
// at 50, 50. The host owns the window; nothing is kept.
//
// A document with no predictors or no data points makes no plot and logs
// nothing. Throws std::runtime_error naming the path when NrOfPredictors
// exceeds the stored predictors or a column is shorter than NrOfDataPoints,
// and what the host wrappers throw for a missing host function.
// Not-a-number values do not widen the range; a bound beyond the int range is
// clamped to the largest int.
void plotPredictors(const SdmDocument& doc, int lineSize, int legend1, int legend2);

// The settings both tasks plot with: line size 2, legend settings 1 and 3.
inline constexpr int kPlotLineSize = 2;
inline constexpr int kPlotLegend1 = 1;
inline constexpr int kPlotLegend2 = 3;

// The per-volume relative RMS displacement curve added to detrended plots.
inline constexpr const char* kRmsSeriesName = "relative RMS displacement";
inline constexpr int kRmsSeriesGrey = 250;  // red, green and blue

}  // namespace tsl

#endif
