// The confound models of a run's motion parameters: the spike model of its
// flagged volumes, and the models derived from the detrended parameters
// (derivative, squares, delays), each before standardisation.
#ifndef TESSEL_CONFOUND_MOTION_MODELS_H
#define TESSEL_CONFOUND_MOTION_MODELS_H

#include <cstddef>
#include <vector>

#include "designmatrix/sdm_document.h"

namespace tsl {

// The grey (red, green and blue) of the spike predictors.
inline constexpr int kSpikeGrey = 250;

// motion's header with one predictor per non-steady-state volume k <
// nonSteady, named "Non-steady Volume <k>", then one per volume of volumes,
// in the given order, named "Spike Volume <k>": 1 at that volume and 0
// elsewhere, all coloured kSpikeGrey. NrOfPredictors is their number,
// IncludesConstant off, FirstConfoundPredictor 1, NrOfDataPoints that of
// motion. Throws std::invalid_argument when a volume is not below
// NrOfDataPoints.
SdmDocument spikeModel(const SdmDocument& motion, const std::vector<std::size_t>& volumes,
                       std::size_t nonSteady = 0);

// Every model derives from the detrended values before standardisation:
// derivative, squared and the delays of detrended; the squares of the
// derivative and of the delays from those.
struct MotionModels {
  SdmDocument detrended;
  SdmDocument derivative;
  SdmDocument derivativeSquared;
  SdmDocument squared;
  SdmDocument delayed1;
  SdmDocument delayed2;
  SdmDocument delayed1Squared;
  SdmDocument delayed2Squared;
};

// The models of motion (copied; motion is left as it is), not standardised.
// REQUIRES: motion holds its six motion parameters over at least two data
// points (requireDetrendable).
MotionModels deriveMotionModels(const SdmDocument& motion);

}  // namespace tsl

#endif
