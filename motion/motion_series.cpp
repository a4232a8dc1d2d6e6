#include "motion/motion_series.h"

#include <cstddef>
#include <utility>

#include "designmatrix/motion_parameters.h"
#include "motion/rigid_body.h"

namespace tsl {

namespace {

Matrix4 matrixOfRow(const SdmDocument& motion, std::size_t row) {
  std::vector<float> values(kMotionParameterCount);
  for (std::size_t p = 0; p < values.size(); ++p) values[p] = motion.columns[p][row];
  return motionMatrix(ParameterArray(std::move(values)));
}

}  // namespace

std::vector<float> relativeRmsDisplacement(const SdmDocument& motion) {
  requireMotionParameters(motion);
  const auto n = static_cast<std::size_t>(motion.NrOfDataPoints.value);

  std::vector<float> result(n, 0.0f);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    // Each matrix is built afresh, so a value depends only on its two rows.
    const Matrix4 earlier = matrixOfRow(motion, i);
    const Matrix4 later = matrixOfRow(motion, i + 1);
    result[i + 1] = rmsDeviation(earlier, later, kSphereRadiusMm);
  }
  return result;
}

}  // namespace tsl
