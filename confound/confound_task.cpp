// The confound task: per run of the chosen motion file, spike detection on
// the relative RMS displacement of the detrended motion parameters, optional
// plots, and the spike and seven standardised model files written beside the
// run's motion SDM.
#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "confound/predictor_transforms.h"
#include "designmatrix/atomic_file.h"
#include "designmatrix/motion_parameter_source.h"
#include "designmatrix/path_functions.h"
#include "designmatrix/sdm_document.h"
#include "motion/motion_series.h"
#include "plugin/host_functions.h"
#include "plugin/motion_plot.h"
#include "plugin/tessel.h"

namespace {


constexpr int kSpikeGrey = 250;  // red, green and blue of the spike predictors
constexpr int kThresholdRed = 150;

constexpr const char* kDetrendedPlotTitle = " + Displacement for Spike Detection";

struct ConfoundParameters {
  float spikeThreshold = 0.0f;
  bool createDetrended = false;
  bool createDerivative = false;
  bool createSpikes = false;
  bool createSquared = false;
  bool createDelayed1 = false;
  bool createDelayed1Squared = false;
  bool createDelayed2 = false;
  bool createDelayed2Squared = false;
  bool plotRegular = false;
  bool plotDetrended = false;
  std::string sdmFile;
};

ConfoundParameters readParameters() {
  ConfoundParameters p;
  p.spikeThreshold = tsl::zr::getFloatParameter("spike_threshold");
  p.createDetrended = tsl::zr::getIntParameter("create_detrended") != 0;
  p.createDerivative = tsl::zr::getIntParameter("create_derivative") != 0;
  p.createSpikes = tsl::zr::getIntParameter("create_spikes") != 0;
  p.createSquared = tsl::zr::getIntParameter("create_squared") != 0;
  p.createDelayed1 = tsl::zr::getIntParameter("create_delayed1") != 0;
  p.createDelayed1Squared = tsl::zr::getIntParameter("create_delayed1sq") != 0;
  p.createDelayed2 = tsl::zr::getIntParameter("create_delayed2") != 0;
  p.createDelayed2Squared = tsl::zr::getIntParameter("create_delayed2sq") != 0;
  p.plotRegular = tsl::zr::getIntParameter("plot_regular") != 0;
  p.plotDetrended = tsl::zr::getIntParameter("plot_detrended") != 0;
  p.sdmFile = tsl::zr::getStringParameter("sdmfile");
  return p;
}

// Every step but the plain plot works on the detrended parameters.
bool needsDetrendedSeries(const ConfoundParameters& p) {
  return p.createDetrended || p.createDerivative || p.createSpikes || p.createSquared ||
         p.createDelayed1 || p.createDelayed1Squared || p.createDelayed2 || p.createDelayed2Squared ||
         p.plotDetrended;
}

void addDocument(tsl::FileSet& files, const std::string& path, const tsl::SdmDocument& document) {
  files.add(path, [&document](std::ostream& out) { document.write(out); });
}

// Standardised whether or not it is written, as every model is.
void standardizeAndAdd(tsl::FileSet& files, tsl::SdmDocument& model, bool write,
                       const std::string& motionPath, const char* suffix) {
  tsl::standardizePredictors(model);
  if (write) addDocument(files, tsl::insertBeforeExtension(motionPath, suffix), model);
}

}  // namespace

void tessel::createConfoundModels() {
  const ConfoundParameters params = readParameters();
  // Every run is read and checked for its six motion columns (and, when a
  // step detrends, for two data points) before the first one is processed, so
  // a bad run stops the task before anything is plotted or written.
  const std::vector<tsl::SdmDocument> runs = tsl::loadMotionDocuments(params.sdmFile, &log());
  if (needsDetrendedSeries(params)) {
    for (const tsl::SdmDocument& motion : runs) tsl::requireDetrendable(motion);
  }

  tsl::ZorvLog& out = log();
  for (const tsl::SdmDocument& motion : runs) {
    const tsl::SdmDocument original = motion;
    if (params.plotRegular) {
      tsl::plotPredictors(original, tsl::kPlotLineSize, tsl::kPlotLegend1, tsl::kPlotLegend2);
    }

    tsl::SdmDocument detrended = original;
    tsl::detrendPredictors(detrended);
    // Every model derives from the detrended values before standardisation.
    tsl::SdmDocument derivative = detrended;
    tsl::differentiatePredictors(derivative);
    tsl::SdmDocument delayed1 = detrended;
    tsl::delayPredictors(delayed1, 1);
    tsl::SdmDocument delayed2 = detrended;
    tsl::delayPredictors(delayed2, 2);
    tsl::SdmDocument squared = detrended;
    tsl::squarePredictors(squared);
    tsl::SdmDocument delayed1Squared = delayed1;
    tsl::squarePredictors(delayed1Squared);
    tsl::SdmDocument delayed2Squared = delayed2;
    tsl::squarePredictors(delayed2Squared);
    tsl::SdmDocument spikes = original;

    const std::vector<float> displacement = tsl::relativeRmsDisplacement(detrended);

    if (params.createSpikes) {
      out << tsl::kDisplayName << ">  Detecting Spikes" << std::flush;
      spikes.clearPredictors();
      bool found = false;
      for (std::size_t k = 0; k < displacement.size(); ++k) {
        // Strictly greater: an equal value, or not-a-number, is no spike.
        if (!(displacement[k] > params.spikeThreshold)) continue;
        found = true;
        const int volume = static_cast<int>(k);
        std::vector<float> column(displacement.size(), 0.0f);
        column[k] = 1.0f;
        spikes.addPredictor(std::move(column), "Spike Volume " + tsl::signedText(volume),
                            kSpikeGrey, kSpikeGrey, kSpikeGrey);
        out << tsl::kDisplayName << ">  Found spike at position " << volume
            << " with displacement " << displacement[k] << " mm" << std::flush;
      }
      if (!found) {
        out << tsl::kDisplayName << ">  No spikes found with displacement greater than "
            << params.spikeThreshold << " mm" << std::flush;
      }
    }

    if (params.plotDetrended) {
      tsl::SdmDocument plot = detrended;
      plot.path += kDetrendedPlotTitle;
      plot.addPredictor(displacement, tsl::kRmsSeriesName, tsl::kRmsSeriesGrey,
                        tsl::kRmsSeriesGrey, tsl::kRmsSeriesGrey);
      plot.addPredictor(std::vector<float>(displacement.size(), params.spikeThreshold),
                        "Spike threshold", kThresholdRed, 0, 0);
      tsl::plotPredictors(plot, tsl::kPlotLineSize, tsl::kPlotLegend1, tsl::kPlotLegend2);
    }

    out << tsl::kDisplayName << ">  Saving SDMs" << std::flush;
    // The run's files arrive together or not at all (see FileSet).
    tsl::FileSet files;
    const std::string spikesPath = tsl::insertBeforeExtension(motion.path, "_spikes");
    bool staleSpikes = false;
    if (params.createSpikes) {
      if (spikes.NrOfPredictors.value > 0) {
        addDocument(files, spikesPath, spikes);
      } else {
        // Left from an earlier run with another threshold, it would look like
        // this run's result.
        staleSpikes = files.remove(spikesPath);
      }
    }
    standardizeAndAdd(files, detrended, params.createDetrended, motion.path, "_detr");
    standardizeAndAdd(files, derivative, params.createDerivative, motion.path, "_deriv");
    standardizeAndAdd(files, squared, params.createSquared, motion.path, "_sqr");
    standardizeAndAdd(files, delayed1, params.createDelayed1, motion.path, "_t1");
    standardizeAndAdd(files, delayed2, params.createDelayed2, motion.path, "_t2");
    standardizeAndAdd(files, delayed1Squared, params.createDelayed1Squared, motion.path, "_t1sqr");
    standardizeAndAdd(files, delayed2Squared, params.createDelayed2Squared, motion.path, "_t2sqr");
    files.commit();
    if (staleSpikes) {
      out << tsl::kDisplayName << ">  Removed the spike file of an earlier run: " << spikesPath
          << std::flush;
    }
  }
}
