#include "confound/motion_models.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "confound/predictor_transforms.h"

namespace tsl {

namespace {

void addVolumePredictor(SdmDocument& model, std::size_t points, std::size_t k, const char* name) {
  if (k >= points) {
    throw std::invalid_argument("SDM file " + model.path + ": volume " + std::to_string(k) +
                                " lies beyond its " + std::to_string(points) + " data points");
  }
  std::vector<float> column(points, 0.0f);
  column[k] = 1.0f;
  model.addPredictor(std::move(column), name + signedText(static_cast<int>(k)), kSpikeGrey,
                     kSpikeGrey, kSpikeGrey);
}

}  // namespace

SdmDocument spikeModel(const SdmDocument& motion, const std::vector<std::size_t>& volumes,
                       std::size_t nonSteady) {
  const auto points = static_cast<std::size_t>(std::max(motion.NrOfDataPoints.value, 0));
  SdmDocument spikes = motion;
  spikes.clearPredictors();
  for (std::size_t k = 0; k < nonSteady; ++k)
    addVolumePredictor(spikes, points, k, "Non-steady Volume ");
  for (const std::size_t k : volumes) addVolumePredictor(spikes, points, k, "Spike Volume ");
  return spikes;
}

MotionModels deriveMotionModels(const SdmDocument& motion) {
  MotionModels m;
  m.detrended = motion;
  detrendPredictors(m.detrended);
  m.derivative = m.detrended;
  differentiatePredictors(m.derivative);
  m.derivativeSquared = m.derivative;
  squarePredictors(m.derivativeSquared);
  m.squared = m.detrended;
  squarePredictors(m.squared);
  m.delayed1 = m.detrended;
  delayPredictors(m.delayed1, 1);
  m.delayed2 = m.detrended;
  delayPredictors(m.delayed2, 2);
  m.delayed1Squared = m.delayed1;
  squarePredictors(m.delayed1Squared);
  m.delayed2Squared = m.delayed2;
  squarePredictors(m.delayed2Squared);
  return m;
}

}  // namespace tsl
