#include "motion/motion_series.h"

#include <cstddef>
#include <utility>

#include "designmatrix/motion_parameters.h"
#include "motion/rigid_body.h"

namespace tsl {

namespace {

Matrix4 matrixOfRow(const MotionRow& row) {
  return motionMatrix(ParameterArray(std::vector<float>(row.begin(), row.end())));
}

}  // namespace

std::vector<float> relativeRmsDisplacement(const SdmDocument& motion) {
  return relativeRmsDisplacement(motionParametersOf(motion));
}

std::vector<float> relativeRmsDisplacement(const MotionParameters& motion) {
  const std::size_t n = motion.volumes.size();

  std::vector<float> result(n, 0.0f);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    // Each matrix is built afresh, so a value depends only on its two rows.
    const Matrix4 earlier = matrixOfRow(motion.volumes[i]);
    const Matrix4 later = matrixOfRow(motion.volumes[i + 1]);
    result[i + 1] = rmsDeviation(earlier, later, kSphereRadiusMm);
  }
  return result;
}

}  // namespace tsl
