// Quality measures of one run for deciding which runs to keep in a study:
// how much the head moved (relative RMS displacement and framewise
// displacement), how many volumes are flagged and how much clean data is left,
// and the study's table of them, one row per run.
//
// Every figure is computed in double precision from the motion file's float
// values, sums in index order from 0, so that it agrees with numpy and the
// field's tools at every printed digit. (The confound models and the spike
// detection stay in single precision; these figures only describe the run.)
//
// A run of fewer than two volumes has no volume-to-volume change: its means
// and maxima of displacement are 0. An empty run has flagged_percent 0.
#ifndef TESSEL_CONFOUND_QC_MEASURES_H
#define TESSEL_CONFOUND_QC_MEASURES_H

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "confound/spike_flags.h"
#include "designmatrix/motion_parameters.h"
#include "designmatrix/sdm_document.h"

namespace tsl {

// The head radius that turns a rotation into an arc length in framewise
// displacement (Power et al. 2012).
inline constexpr double kFramewiseRadiusMm = 50.0;

// A limit is set when it is above 0; a run is over it when strictly above
// (below, for minRemaining). The limits are the numbers the user typed (see
// typedDecimal), so a run exactly at a limit is not over it.
struct QcLimits {
  double maxMeanFdMm = 0.0;
  double maxFlaggedPercent = 0.0;
  std::size_t minRemaining = 0;  // volumes
};

// What is known of a run's voxel data besides its motion.
struct SignalMeasures {
  // One value per volume (element 0 is 0), empty when DVARS were not
  // computed: DVARS in tenths of a percent of the median intensity, and
  // standardised.
  std::vector<double> dvars;
  std::vector<double> stdDvars;
  std::string dataFile;  // the FMR read for the run; empty when none was
  int trMs = 0;          // its TR; 0 when no FMR was read or it has none
};

// Every figure of a volume-to-volume change is over the steady volumes that
// follow a steady one, D+1 ... N-1 (D the run's non-steady-state volumes);
// every other figure over the steady volumes D ... N-1. With D = 0 these are
// volumes 1 ... N-1 and all volumes.
struct RunQuality {
  std::string run;  // the run's motion SDM path
  std::size_t volumes = 0;
  double meanRms = 0.0, maxRms = 0.0;  // mm
  double meanFd = 0.0, maxFd = 0.0;    // mm
  std::size_t spikes = 0;
  std::size_t flagged = 0;      // the non-steady volumes not counted
  double flaggedPercent = 0.0;  // of the N - D steady volumes
  std::size_t remaining = 0;
  std::size_t longestClean = 0;
  double maxTranslation = 0.0;  // largest |value| of the translations, mm
  double maxRotation = 0.0;     // largest |value| of the rotations, degrees
  std::size_t dummy = 0;        // D
  // Figures that may not exist (no unflagged steady volume, no DVARS, no TR,
  // a constant series): n/a in the table.
  std::optional<double> meanFdKept;  // over the unflagged volumes of D+1 ... N-1
  std::optional<double> meanDvars, meanStdDvars, maxStdDvars;
  std::optional<double> fdDvarsCorrelation;  // Pearson, D+1 ... N-1
  std::optional<double> remainingSeconds;
  std::string dataFile;  // empty when none was read
  // The mean FD of the parameters as estimated, when the figures above are
  // those of the filtered ones.
  std::optional<double> meanFdUnfiltered;
  bool overMeanFd = false;
  bool overFlaggedPercent = false;
  bool underMinRemaining = false;

  bool overLimits() const { return overMeanFd || overFlaggedPercent || underMinRemaining; }
};

// Framewise displacement of every volume of a motion document (N values, mm),
// in double precision: element 0 is 0; element i is, summed from left to
// right, |dx| + |dy| + |dz| + 50 |da| + 50 |db| + 50 |dc|, the changes from
// volume i-1 to i of the translations and of the rotations in radians.
// Throws IOError as requireMotionParameters does.
std::vector<double> framewiseDisplacement(const SdmDocument& motion);
// The same of parameters in double precision (degrees for the rotations).
std::vector<double> framewiseDisplacement(const MotionColumns& motion);

// The measures of one run from its motion parameters as in the file,
// relativeRms (relativeRmsDisplacementInDouble of that same document), its
// flagged volumes (flagVolumes with the same nonSteady), its first nonSteady
// volumes not at steady state, and what is known of its voxel data. Throws
// IOError as requireMotionParameters does, and std::invalid_argument when
// relativeRms, flags.flagged or a series of signal does not hold one value
// per data point, or nonSteady exceeds the run.
RunQuality measureRunQuality(const SdmDocument& motion, const std::vector<double>& relativeRms,
                             const FlaggedVolumes& flags, const QcLimits& limits,
                             std::size_t nonSteady = 0, const SignalMeasures& signal = {});
// The same of parameters in double precision (a filtered run's), run naming
// the run's motion file.
RunQuality measureRunQuality(const std::string& run, const MotionColumns& motion,
                             const std::vector<double>& relativeRms, const FlaggedVolumes& flags,
                             const QcLimits& limits, std::size_t nonSteady,
                             const SignalMeasures& signal);

// The table's column names, in order, and one run's cells as the table
// writes them.
std::vector<std::string> qualityTableColumns();
std::vector<std::string> qualityTableCells(const RunQuality& row);

// The tab-separated table: the header row, then one row per run in the given
// order; every line ends in CRLF. Measures in fixed point with six decimals,
// counts as integers, over_limits as yes or no, n/a for a figure that does
// not exist; the table always has every column. No locale is involved.
// Throws IOError, before writing anything, when a run's path or data file
// holds a tab or a line break (the row could not be read back).
void writeQualityTable(std::ostream& out, const std::vector<RunQuality>& rows);

}  // namespace tsl

#endif
