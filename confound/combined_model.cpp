#include "confound/combined_model.h"

#include <stdexcept>
#include <string>

namespace tsl {

namespace {

void requireCombinable(const SdmDocument& model, int dataPoints) {
  const std::string file = "SDM file " + model.path + ": ";
  if (model.NrOfDataPoints.value != dataPoints) {
    throw std::invalid_argument(
        file + "NrOfDataPoints is " + std::to_string(model.NrOfDataPoints.value) +
        ", the models it is combined with have " + std::to_string(dataPoints));
  }
  const auto count = static_cast<std::size_t>(model.NrOfPredictors.value);
  if (model.NrOfPredictors.value < 0 || model.columns.size() != count ||
      model.names.size() != count || model.red.size() != count || model.green.size() != count ||
      model.blue.size() != count) {
    throw std::invalid_argument(file + "its predictor lists do not match NrOfPredictors " +
                                std::to_string(model.NrOfPredictors.value));
  }
  for (const std::vector<float>& column : model.columns) {
    if (column.size() != static_cast<std::size_t>(dataPoints)) {
      throw std::invalid_argument(file + "a column holds " + std::to_string(column.size()) +
                                  " values, NrOfDataPoints is " + std::to_string(dataPoints));
    }
  }
}

}  // namespace

SdmDocument combineModels(const std::vector<SdmDocument>& models) {
  if (models.empty()) throw std::invalid_argument("No models to combine");
  SdmDocument combined = models.front();
  combined.clearPredictors();
  for (const SdmDocument& model : models) {
    // addPredictor would drop a column of another length without a word.
    requireCombinable(model, combined.NrOfDataPoints.value);
    for (std::size_t p = 0; p < model.columns.size(); ++p) {
      combined.addPredictor(model.columns[p], model.names[p], model.red[p], model.green[p],
                            model.blue[p]);
    }
  }
  return combined;
}

}  // namespace tsl
