// One design matrix that holds the models of a run side by side, for users
// who want a single confound file per run.
#ifndef TESSEL_CONFOUND_COMBINED_MODEL_H
#define TESSEL_CONFOUND_COMBINED_MODEL_H

#include <vector>

#include "designmatrix/sdm_document.h"

namespace tsl {

// The predictors of models[0], then those of models[1], and so on, each
// column, name and colour exactly as in its own document. The path and the
// header entries (values, widths, present flags) are those of models[0],
// except: NrOfPredictors is the total; IncludesConstant is false and
// FirstConfoundPredictor is 1, as for any matrix started with
// clearPredictors, since every column is a confound and none is a constant
// (the motion models are standardised to mean 0, spike columns are 0 but
// once), whatever the motion SDM they came from said of itself.
// Throws std::invalid_argument "No models to combine" when models is empty,
// and "SDM file <path>: ..." naming a model whose NrOfDataPoints differs from
// that of models[0] or whose lists do not match its header counts.
SdmDocument combineModels(const std::vector<SdmDocument>& models);

}  // namespace tsl

#endif
