#include "motion/motion_series.h"

#include <cstddef>
#include <string>

#include "designmatrix/io_error.h"
#include "motion/rigid_body.h"

namespace tsl {

namespace {

Matrix4 matrixOfRow(const SdmDocument& motion, std::size_t row) {
  std::vector<float> values(kMotionParameterCount);
  for (std::size_t p = 0; p < kMotionParameterCount; ++p) values[p] = motion.columns[p][row];
  return motionMatrix(ParameterArray(std::move(values)));
}

}  // namespace

std::vector<float> relativeRmsDisplacement(const SdmDocument& motion) {
  const int count = motion.NrOfDataPoints.value;
  if (motion.columns.size() < kMotionParameterCount) {
    throw IOError("SDM file " + motion.path + ": holds " + std::to_string(motion.columns.size()) +
                  " predictors, expected at least 6 motion parameters");
  }
  if (count < 0) {
    throw IOError("SDM file " + motion.path + ": NrOfDataPoints is negative (" +
                  std::to_string(count) + ")");
  }
  const auto n = static_cast<std::size_t>(count);
  for (std::size_t p = 0; p < kMotionParameterCount; ++p) {
    if (motion.columns[p].size() < n) {
      throw IOError("SDM file " + motion.path + ": predictor " + std::to_string(p + 1) +
                    " holds " + std::to_string(motion.columns[p].size()) + " values, expected " +
                    std::to_string(n));
    }
  }

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
