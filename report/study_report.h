// The study report: one self-contained HTML page that shows every run of a
// study side by side, for judging which runs to keep. At the top, the
// study's QC table and two bar charts (mean framewise displacement, flagged
// percentage) with their limits; then one section per run: its traces
// stacked on one time axis with the flagged volumes shaded, the carpet plot
// under them, its QC row and its files; last, what produced the page (tool,
// parameters, input files with their sizes).
//
// The page needs nothing but itself: inline SVG, the carpet images as PNG in
// data: URLs, its styles in the page, no script; the only links are to
// papers and within the page. Its print style keeps each run's figure whole
// on paper. Every text of the model is HTML-escaped.
#ifndef TESSEL_REPORT_STUDY_REPORT_H
#define TESSEL_REPORT_STUDY_REPORT_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "report/png_image.h"

namespace tsl {

// Why a volume is flagged, as the page shades it. The caller picks one
// category per volume (a volume in several shows the first that applies).
enum class VolumeFlag : std::uint8_t {
  kNone,
  kNonSteady,     // a non-steady-state volume at the start of the run
  kSpike,         // over the spike threshold
  kNeighbour,     // flagged before or after a spike
  kShortSegment,  // in a stretch of clean volumes too short to keep
};

// One curve of a trace: one value per volume; a value that is not a finite
// number leaves a gap. A faint line is drawn thin and pale beneath the
// others (the unfiltered framewise displacement beside the filtered one).
struct TraceLine {
  std::string name;
  std::vector<double> values;
  bool faint = false;
};

// One panel of the stacked traces: a title that names the unit
// ("Framewise displacement (mm)"), its curves in distinct colours, and the
// threshold the flagging rule uses on it, drawn as a dashed line.
struct Trace {
  std::string title;
  std::vector<TraceLine> lines;
  std::optional<double> threshold;
};

struct RunSection {
  std::string motionFile;  // the run's motion file; the section is headed by its name
  std::size_t volumes = 0;
  double repetitionTimeSeconds = 0.0;  // above 0: the time axis shows seconds too
  // Top to bottom on the run's one time axis, for example the translations,
  // the rotations, the framewise displacement, the relative RMS
  // displacement, std DVARS.
  std::vector<Trace> traces;
  std::vector<VolumeFlag> flags;     // one per volume
  std::optional<GreyImage> carpet;   // one column per volume, shown under the traces
  std::vector<std::string> qcCells;  // the run's row of the QC table
  // The run's figures in the study's bar charts, and whether they are over
  // the study's limits (the QC table marks the run's row when either is).
  double meanFdMm = 0.0;
  double flaggedPercent = 0.0;
  bool overMeanFd = false;
  bool overFlaggedPercent = false;
  std::vector<std::string> filesWritten;
};

struct NamedValue {
  std::string name;
  std::string value;
};

struct InputFile {
  std::string path;
  std::uintmax_t bytes = 0;
};

struct StudyReport {
  std::string studyFile;  // the file the study was chosen by; the page's title
  std::string toolName;
  std::string toolVersion;
  std::vector<std::string> qcColumns;  // the QC table's column names, in order
  // The study's limits, drawn in the charts when set (above 0).
  double maxMeanFdMm = 0.0;
  double maxFlaggedPercent = 0.0;
  std::vector<RunSection> runs;        // in the study's order
  std::vector<NamedValue> parameters;  // every parameter read, in the order read
  std::vector<InputFile> inputs;
};

// Writes the page of report to out. Checks the whole model before writing a
// byte: throws std::invalid_argument when a run has no volumes, or its
// flags, a trace line or its carpet do not have one entry (column) per
// volume, or its carpet's pixels do not fill it, or its QC row does not have
// one cell per column. Stream errors are the caller's to check.
void writeStudyReport(std::ostream& out, const StudyReport& report);

}  // namespace tsl

#endif
