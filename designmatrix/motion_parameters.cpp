#include "designmatrix/motion_parameters.h"

#include <string>

#include "designmatrix/io_error.h"

namespace tsl {

void requireMotionParameters(const SdmDocument& motion) {
  const std::string file = "SDM file " + motion.path + ": ";
  if (motion.columns.size() < static_cast<std::size_t>(kMotionParameterCount)) {
    throw IOError(file + "holds " + std::to_string(motion.columns.size()) +
                  " predictors, the six motion parameters need 6");
  }
  const int points = motion.NrOfDataPoints.value;
  for (std::size_t k = 0; k < static_cast<std::size_t>(kMotionParameterCount); ++k) {
    if (points < 0 || motion.columns[k].size() < static_cast<std::size_t>(points)) {
      throw IOError(file + "predictor " + std::to_string(k + 1) + " holds " +
                    std::to_string(motion.columns[k].size()) + " values, NrOfDataPoints is " +
                    std::to_string(points));
    }
  }
}

MotionParameters motionParametersOf(const SdmDocument& motion) {
  requireMotionParameters(motion);
  MotionParameters parameters{motion.path, {}};
  const auto volumes = static_cast<std::size_t>(motion.NrOfDataPoints.value);
  parameters.volumes.resize(volumes);
  for (std::size_t j = 0; j < volumes; ++j) {
    for (std::size_t p = 0; p < parameters.volumes[j].size(); ++p) {
      parameters.volumes[j][p] = motion.columns[p][j];
    }
  }
  return parameters;
}

MotionColumns motionColumnsOf(const SdmDocument& motion) {
  requireMotionParameters(motion);
  const auto volumes = static_cast<std::size_t>(motion.NrOfDataPoints.value);
  MotionColumns columns;
  for (std::size_t p = 0; p < columns.size(); ++p) {
    columns[p].assign(motion.columns[p].begin(),
                      motion.columns[p].begin() + static_cast<std::ptrdiff_t>(volumes));
  }
  return columns;
}

}  // namespace tsl
