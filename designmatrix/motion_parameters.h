// What the tasks require of a motion document: the first six predictor
// columns are the rigid-body motion parameters of every volume.
#ifndef TESSEL_DESIGNMATRIX_MOTION_PARAMETERS_H
#define TESSEL_DESIGNMATRIX_MOTION_PARAMETERS_H

#include "designmatrix/sdm_document.h"

namespace tsl {

// Translations x, y, z (mm), then rotations about x, y, z (degrees).
inline constexpr int kMotionParameterCount = 6;

// Throws IOError naming the document's file when it holds fewer than six
// predictor columns, or when one of the first six holds fewer than
// NrOfDataPoints values. Returns normally otherwise.
void requireMotionParameters(const SdmDocument& motion);

}  // namespace tsl

#endif
