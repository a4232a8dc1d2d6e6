// The relative RMS displacement series of a run: per volume, how far the head
// moved against the previous volume, averaged over a sphere about the rotation
// centre.
#ifndef TESSEL_MOTION_MOTION_SERIES_H
#define TESSEL_MOTION_MOTION_SERIES_H

#include <vector>

#include "designmatrix/motion_parameters.h"
#include "designmatrix/sdm_document.h"

namespace tsl {

// Radius of the sphere over which the displacement is averaged.
inline constexpr float kSphereRadiusMm = 65.0f;

// One value per data point (NrOfDataPoints of them), in mm: element 0 is 0,
// element i is rmsDeviation(matrix of row i-1, matrix of row i, 65) of the
// first six predictor columns. Columns beyond the sixth and rows beyond
// NrOfDataPoints are not read.
// Throws IOError naming the document's path, as requireMotionParameters does,
// when it holds fewer than six predictor columns or one of the first six is
// shorter than NrOfDataPoints (a negative count included); nothing is read
// out of range.
std::vector<float> relativeRmsDisplacement(const SdmDocument& motion);

// The same series of parameters already taken out of their document.
std::vector<float> relativeRmsDisplacement(const MotionParameters& motion);

// The same measure in double precision from the parameters' float values, for
// figures that must agree with the field's tools at every printed digit: the
// closed form sqrt(0.2 R^2 |B_i - B_{i-1}|^2 + |t_i - t_{i-1}|^2), B the
// rotation block and t the translation of a volume's motion matrix, R 65 mm.
// Element 0 is 0.
std::vector<double> relativeRmsDisplacementInDouble(const MotionColumns& motion);

}  // namespace tsl

#endif
