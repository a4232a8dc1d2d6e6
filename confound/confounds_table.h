// A run's confounds as a table that the field's Python tools read: tab-
// separated text, a header row and one row per volume, n/a where a value does
// not exist, with a JSON sidecar that describes every column and how the
// volumes were censored.
#ifndef TESSEL_CONFOUND_CONFOUNDS_TABLE_H
#define TESSEL_CONFOUND_CONFOUNDS_TABLE_H

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "designmatrix/motion_parameters.h"
#include "designmatrix/sdm_document.h"

namespace tsl {

// What the table holds of one run. Series hold one value per volume of
// motion; dvars and stdDvars are empty when DVARS were not computed.
struct ConfoundSeries {
  const SdmDocument* motion = nullptr;  // the parameters as estimated
  std::vector<double> framewiseDisplacement;
  std::vector<float> relativeRms;  // of the detrended parameters: the spike measure
  std::vector<double> dvars;
  std::vector<double> stdDvars;
  std::size_t nonSteady = 0;         // the first volumes not at steady state
  std::vector<std::size_t> flagged;  // the censored volumes, increasing
  // With a motion filter: the filtered parameters (degrees for rotations)
  // and their framewise displacement; relativeRms and flagged are then those
  // of the filtered parameters.
  const MotionColumns* filtered = nullptr;
  std::vector<double> framewiseDisplacementFiltered;
};

// Where the table came from and how its volumes were censored, for the
// sidecar. Texts are written as JSON strings.
struct ConfoundsProvenance {
  std::string version;  // the plug-in's
  std::string motionFile;
  std::string dataFile;  // the FMR read; empty when none was
  std::string rule;      // the censoring rule in words
  int spikeMeasure = 0;
  double spikeThreshold = 0.0, fdThreshold = 0.0, dvarsThreshold = 0.0;
  std::size_t volumesBefore = 0, volumesAfter = 0, minimumSegment = 0;
  bool nonSteadyDetected = false;  // found in the data rather than set
  std::string motionFilter;        // the filter in words; empty without one
};

// The columns, in order: trans_x trans_y trans_z rot_x rot_y rot_z (rotations
// in radians), each followed by its _derivative1 (backward difference),
// _power2 and _derivative1_power2; framewise_displacement, relative_rms,
// dvars, std_dvars; with a filter trans_x_filtered ... rot_z_filtered
// (radians) and framewise_displacement_filtered; one
// non_steady_state_outlierXX per non-steady volume and
// one motion_outlierXX per flagged volume (XX from 00, two digits or more; 1
// at its volume, 0 elsewhere).
std::vector<std::string> confoundColumnNames(const ConfoundSeries& series);

// The table: LF line ends; every value computed in double from the file's
// floats and written in the shortest form that reads back to the same double
// (relative_rms: the shortest form of its float); n/a in row 0 of the
// derivative and volume-to-volume columns, and in every row of dvars and
// std_dvars when they were not computed.
// Throws std::invalid_argument when a series does not hold one value per
// volume or a flagged volume lies outside the run.
void writeConfoundsTable(std::ostream& out, const ConfoundSeries& series);

// The sidecar: one JSON object with a key per column (its Description and
// Units), GeneratedBy and Censoring.
void writeConfoundsSidecar(std::ostream& out, const ConfoundSeries& series,
                           const ConfoundsProvenance& provenance);

}  // namespace tsl

#endif
