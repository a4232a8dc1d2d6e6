// What the tasks require of a motion document (the first six predictor
// columns are the rigid-body motion parameters of every volume), and those
// parameters taken out of it once for the computations that follow.
#ifndef TESSEL_DESIGNMATRIX_MOTION_PARAMETERS_H
#define TESSEL_DESIGNMATRIX_MOTION_PARAMETERS_H

#include <array>
#include <string>
#include <vector>

#include "designmatrix/sdm_document.h"

namespace tsl {

// Translations x, y, z (mm), then rotations about x, y, z (degrees).
inline constexpr int kMotionParameterCount = 6;

// Throws IOError naming the document's file when it holds fewer than six
// predictor columns, or when one of the first six holds fewer than
// NrOfDataPoints values. Returns normally otherwise.
void requireMotionParameters(const SdmDocument& motion);

// Degrees in radians, in double precision, as numpy's deg2rad: the measures
// the field computes in double (framewise displacement, the confounds table)
// start from the file's float values this way.
inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double radiansOf(double degrees) { return degrees * (kPi / 180.0); }

// One volume's six motion parameters, in the order above.
using MotionRow = std::array<float, kMotionParameterCount>;

// The six parameters of a run in double precision, each over its volumes, in
// the order of MotionRow: for the measures the field computes in double.
using MotionColumns = std::array<std::vector<double>, kMotionParameterCount>;

// The first six columns' NrOfDataPoints values as doubles. Throws what
// requireMotionParameters throws.
MotionColumns motionColumnsOf(const SdmDocument& motion);

// The motion parameters of every volume of a run, taken out of its document
// once, for every computation that follows the head through the run.
struct MotionParameters {
  std::string path;                // the document's file, for messages
  std::vector<MotionRow> volumes;  // NrOfDataPoints rows, in volume order
};

// Row j of the first six columns, for every data point j. Throws what
// requireMotionParameters throws.
MotionParameters motionParametersOf(const SdmDocument& motion);

}  // namespace tsl

#endif
