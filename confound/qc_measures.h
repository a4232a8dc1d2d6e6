// Quality measures of one run for deciding which runs to keep in a study:
// how much the head moved (relative RMS displacement and framewise
// displacement), how many volumes are flagged and how much clean data is left,
// and the study's table of them, one row per run.
//
// Motion measures are single precision, like all motion arithmetic here: the
// values in a fixed order of operations, sums in index order from 0, a count
// converted to float before it divides. They are then the same bit for bit on
// every platform and, at six printed decimals, as exact as the motion
// estimates they come from. flagged_percent is a ratio of two counts, not a
// motion measure: it is a double, so that a share like 1 of 3 prints as
// 33.333333 rather than the nearest float's 33.333332.
//
// A run of fewer than two volumes has no volume-to-volume change: its means
// and maxima of displacement are 0. An empty run has flagged_percent 0.
#ifndef TESSEL_CONFOUND_QC_MEASURES_H
#define TESSEL_CONFOUND_QC_MEASURES_H

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "confound/spike_flags.h"
#include "designmatrix/sdm_document.h"

namespace tsl {

// The head radius that turns a rotation into an arc length in framewise
// displacement (Power et al. 2012).
inline constexpr float kFramewiseRadiusMm = 50.0f;

// pi in single precision, the same float as motion's PI (4 * atan(1)), which
// confound cannot include. Degrees become radians as (kPiFloat * angle) / 180.
inline constexpr float kPiFloat = 3.14159265358979323846f;
inline constexpr float kDegreesPerHalfTurn = 180.0f;

// A limit is set when it is above 0; a run is over it when strictly above.
struct QcLimits {
  float maxMeanFdMm = 0.0f;
  float maxFlaggedPercent = 0.0f;
};

struct RunQuality {
  std::string run;  // the run's motion SDM path
  std::size_t volumes = 0;
  float meanRms = 0.0f, maxRms = 0.0f;  // mm, volumes 1 to N-1
  float meanFd = 0.0f, maxFd = 0.0f;    // mm, volumes 1 to N-1
  std::size_t spikes = 0;
  std::size_t flagged = 0;
  double flaggedPercent = 0.0;
  std::size_t remaining = 0;
  std::size_t longestClean = 0;
  float maxTranslation = 0.0f;  // largest |value| of the translations, mm
  float maxRotation = 0.0f;     // largest |value| of the rotations, degrees
  bool overMeanFd = false;
  bool overFlaggedPercent = false;

  bool overLimits() const { return overMeanFd || overFlaggedPercent; }
};

// Framewise displacement of every volume of a motion document (N values, mm):
// element 0 is 0; element i is, summed from left to right, |dx| + |dy| + |dz|
// + 50 |da| + 50 |db| + 50 |dc|, the changes from volume i-1 to i of the
// translations and of the rotations converted to radians.
// Throws IOError as requireMotionParameters does.
std::vector<float> framewiseDisplacement(const SdmDocument& motion);

// The measures of one run from its motion parameters as in the file,
// relativeRms (relativeRmsDisplacement of that same document) and its flagged
// volumes. Throws IOError as requireMotionParameters does, and
// std::invalid_argument when relativeRms or flags.flagged does not hold one
// value per data point.
RunQuality measureRunQuality(const SdmDocument& motion, const std::vector<float>& relativeRms,
                             const FlaggedVolumes& flags, const QcLimits& limits);

// The tab-separated table: the header row, then one row per run in the given
// order; every line ends in CRLF. Measures in fixed point with six decimals,
// counts as integers, over_limits as yes or no; no locale is involved.
// Throws IOError, before writing anything, when a run's path holds a tab or a
// line break (the row could not be read back).
void writeQualityTable(std::ostream& out, const std::vector<RunQuality>& rows);

}  // namespace tsl

#endif
