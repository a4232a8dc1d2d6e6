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
#include "confound/spike_flags.h"
#include "designmatrix/atomic_file.h"
#include "designmatrix/path_functions.h"
#include "designmatrix/sdm_document.h"
#include "motion/motion_series.h"
#include "tasks/task_support.h"
#include "tasks/tasks.h"

namespace tsl {
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

ConfoundParameters readParameters(Host& host) {
  ConfoundParameters p;
  p.spikeThreshold = host.floatParameter("spike_threshold");
  p.createDetrended = host.intParameter("create_detrended") != 0;
  p.createDerivative = host.intParameter("create_derivative") != 0;
  p.createSpikes = host.intParameter("create_spikes") != 0;
  p.createSquared = host.intParameter("create_squared") != 0;
  p.createDelayed1 = host.intParameter("create_delayed1") != 0;
  p.createDelayed1Squared = host.intParameter("create_delayed1sq") != 0;
  p.createDelayed2 = host.intParameter("create_delayed2") != 0;
  p.createDelayed2Squared = host.intParameter("create_delayed2sq") != 0;
  p.plotRegular = host.intParameter("plot_regular") != 0;
  p.plotDetrended = host.intParameter("plot_detrended") != 0;
  p.sdmFile = host.textParameter("sdmfile");
  return p;
}

// Every step but the plain plot works on the detrended parameters.
bool needsDetrendedSeries(const ConfoundParameters& p) {
  return p.createDetrended || p.createDerivative || p.createSpikes || p.createSquared ||
         p.createDelayed1 || p.createDelayed1Squared || p.createDelayed2 || p.createDelayed2Squared ||
         p.plotDetrended;
}

void addDocument(FileSet& files, const std::string& path, const SdmDocument& document) {
  files.add(path, [&document](std::ostream& out) { document.write(out); });
}

// Standardised whether or not it is written, as every model is.
void standardizeAndAdd(FileSet& files, SdmDocument& model, bool write,
                       const std::string& motionPath, const char* suffix) {
  standardizePredictors(model);
  if (write) addDocument(files, insertBeforeExtension(motionPath, suffix), model);
}

}  // namespace

void createConfoundModels(Host& host) {
  const ConfoundParameters params = readParameters(host);
  // Every run is read and checked for its six motion columns (and, when a
  // step detrends, for two data points) before the first one is processed, so
  // a bad run stops the task before anything is plotted or written.
  const std::vector<SdmDocument> runs = loadRuns(host, params.sdmFile);
  if (needsDetrendedSeries(params)) {
    for (const SdmDocument& motion : runs) requireDetrendable(motion);
  }

  for (const SdmDocument& motion : runs) {
    const SdmDocument original = motion;
    if (params.plotRegular) host.plot(original, "");

    SdmDocument detrended = original;
    detrendPredictors(detrended);
    // Every model derives from the detrended values before standardisation.
    SdmDocument derivative = detrended;
    differentiatePredictors(derivative);
    SdmDocument delayed1 = detrended;
    delayPredictors(delayed1, 1);
    SdmDocument delayed2 = detrended;
    delayPredictors(delayed2, 2);
    SdmDocument squared = detrended;
    squarePredictors(squared);
    SdmDocument delayed1Squared = delayed1;
    squarePredictors(delayed1Squared);
    SdmDocument delayed2Squared = delayed2;
    squarePredictors(delayed2Squared);
    SdmDocument spikes = original;

    const std::vector<float> displacement = relativeRmsDisplacement(detrended);

    if (params.createSpikes) {
      host.logLine("Detecting Spikes");
      spikes.clearPredictors();
      const std::vector<std::size_t> found = detectSpikes(displacement, params.spikeThreshold);
      for (const std::size_t k : found) {
        const int volume = static_cast<int>(k);
        std::vector<float> column(displacement.size(), 0.0f);
        column[k] = 1.0f;
        spikes.addPredictor(std::move(column), "Spike Volume " + signedText(volume), kSpikeGrey,
                            kSpikeGrey, kSpikeGrey);
        host.logLine(logText("Found spike at position ", volume, " with displacement ",
                             displacement[k], " mm"));
      }
      if (found.empty()) {
        host.logLine(logText("No spikes found with displacement greater than ",
                             params.spikeThreshold, " mm"));
      }
    }

    if (params.plotDetrended) {
      SdmDocument plot = detrended;
      plot.addPredictor(displacement, kRmsSeriesName, kRmsSeriesGrey, kRmsSeriesGrey,
                        kRmsSeriesGrey);
      plot.addPredictor(std::vector<float>(displacement.size(), params.spikeThreshold),
                        "Spike threshold", kThresholdRed, 0, 0);
      host.plot(plot, kDetrendedPlotTitle);
    }

    host.logLine("Saving SDMs");
    // The run's files arrive together or not at all (see FileSet).
    FileSet files;
    const std::string spikesPath = insertBeforeExtension(motion.path, "_spikes");
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
    if (staleSpikes) host.logLine("Removed the spike file of an earlier run: " + spikesPath);
  }
}

}  // namespace tsl
