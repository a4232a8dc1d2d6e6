// The confound task: per run of the chosen motion file, spike detection on
// the relative RMS displacement of the detrended motion parameters, the
// volumes flagged around the spikes, optional plots, and the spike, model and
// combined files written beside the run's motion SDM; then, on request, the
// study's QC table beside the chosen file.
//
// The QC table is written after the last run's files are in place, complete
// or not at all: a run that fails stops the task before it, so a new table
// never describes runs whose files are missing (a table of an earlier
// computation then stays as it was, like the failed run's model files). Its
// spikes and flags are found as for the spike model, also when the spike
// model is off; only the spike file and its log lines need create_spikes.
#include <cstddef>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "confound/combined_model.h"
#include "confound/predictor_transforms.h"
#include "confound/qc_measures.h"
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
  // Read after the ones above, whose order the host may rely on; each is off
  // when 0.
  FlagOptions flagging;
  bool createDerivativeSquared = false;
  bool createCombined = false;
  bool createQc = false;
  QcLimits limits;
};

// value, the dialog parameter name, as a count of volumes.
std::size_t volumeCount(const char* name, int value) {
  if (value < 0) {
    throw std::invalid_argument(logText("Dialog parameter ", name, " is ", value,
                                        ": a number of volumes cannot be negative"));
  }
  return static_cast<std::size_t>(value);
}

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
  p.flagging.before = volumeCount("spike_before", host.intParameter("spike_before"));
  p.flagging.after = volumeCount("spike_after", host.intParameter("spike_after"));
  p.flagging.minSegment = volumeCount("spike_min_segment", host.intParameter("spike_min_segment"));
  p.createDerivativeSquared = host.intParameter("create_derivativesq") != 0;
  p.createCombined = host.intParameter("create_combined") != 0;
  p.createQc = host.intParameter("create_qc") != 0;
  p.limits.maxMeanFdMm = host.floatParameter("qc_max_mean_fd");
  p.limits.maxFlaggedPercent = host.floatParameter("qc_max_flagged_percent");
  return p;
}

// Every step but the plain plot works on the detrended parameters (the QC
// table's spikes are found on them). The combined model only gathers the
// others.
bool needsDetrendedSeries(const ConfoundParameters& p) {
  return p.createDetrended || p.createDerivative || p.createSpikes || p.createSquared ||
         p.createDelayed1 || p.createDelayed1Squared || p.createDelayed2 ||
         p.createDelayed2Squared || p.plotDetrended || p.createDerivativeSquared || p.createQc;
}

void addDocument(FileSet& files, const std::string& path, const SdmDocument& document) {
  files.add(path, [&document](std::ostream& out) { document.write(out); });
}

// A file of this run that may have nothing to hold: document goes to path
// when there is one; otherwise a file of an earlier computation at path is
// removed with the run's files, since it would look like this run's result.
// Returns true when such a file is to be removed.
bool addOrRemoveStale(FileSet& files, const std::string& path, const SdmDocument* document) {
  if (document == nullptr) return files.remove(path);
  addDocument(files, path, *document);
  return false;
}

// Standardised whether or not it is written, as every model is. A written
// model joins written, the parts of the combined model.
void standardizeAndAdd(FileSet& files, std::vector<SdmDocument>& written, SdmDocument& model,
                       bool write, const std::string& motionPath, const char* suffix) {
  standardizePredictors(model);
  if (!write) return;
  addDocument(files, insertBeforeExtension(motionPath, suffix), model);
  written.push_back(model);
}

// The spikes of displacement and the volumes flagged around them. With the
// spike model on, spikes becomes that model (one predictor per flagged
// volume) and the log tells what was found; otherwise nothing is logged.
FlaggedVolumes flagSpikes(Host& host, const ConfoundParameters& params,
                          const std::vector<float>& displacement, SdmDocument& spikes) {
  const std::vector<std::size_t> found = detectSpikes(displacement, params.spikeThreshold);
  FlaggedVolumes flags = flagVolumes(found, displacement.size(), params.flagging);
  if (!params.createSpikes) return flags;

  host.logLine("Detecting Spikes");
  spikes.clearPredictors();
  for (const std::size_t k : flags.volumes) {
    std::vector<float> column(displacement.size(), 0.0f);
    column[k] = 1.0f;
    spikes.addPredictor(std::move(column), "Spike Volume " + signedText(static_cast<int>(k)),
                        kSpikeGrey, kSpikeGrey, kSpikeGrey);
  }
  for (const std::size_t k : found) {
    host.logLine(logText("Found spike at position ", static_cast<int>(k), " with displacement ",
                         displacement[k], " mm"));
  }
  if (found.empty()) {
    host.logLine(
        logText("No spikes found with displacement greater than ", params.spikeThreshold, " mm"));
  }
  if (flags.extra > 0) {
    host.logLine(logText("Flagged ", flags.extra,
                         flags.extra == 1 ? " more volume" : " more volumes",
                         " around the spikes, ", flags.volumes.size(), " in all"));
  }
  return flags;
}

void logQuality(Host& host, const RunQuality& q, const QcLimits& limits) {
  host.logLine(logText("QC ", q.run, ": mean framewise displacement ", q.meanFd, " mm, ", q.flagged,
                       " of ", q.volumes, " volumes flagged (", q.flaggedPercent, " %)"));
  if (!q.overLimits()) return;
  std::string over;
  if (q.overMeanFd) {
    over += logText(" mean framewise displacement ", q.meanFd, " mm (limit ", limits.maxMeanFdMm,
                    " mm)");
  }
  if (q.overFlaggedPercent) {
    over += logText(q.overMeanFd ? "," : "", " ", q.flaggedPercent,
                    " % of the volumes flagged (limit ", limits.maxFlaggedPercent, " %)");
  }
  host.logLine("Warning: " + q.run + " is over the QC limits:" + over);
}

// study.mdm gives study_qc.tsv, in the same folder.
std::string qualityTablePath(const std::string& chosenFile) {
  return stripExtension(chosenFile) + "_qc.tsv";
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

  std::vector<RunQuality> quality;
  for (const SdmDocument& motion : runs) {
    const SdmDocument original = motion;
    if (params.plotRegular) host.plot(original, "");

    SdmDocument detrended = original;
    detrendPredictors(detrended);
    // Every model derives from the detrended values before standardisation.
    SdmDocument derivative = detrended;
    differentiatePredictors(derivative);
    SdmDocument derivativeSquared = derivative;
    squarePredictors(derivativeSquared);
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

    FlaggedVolumes flags;
    if (params.createSpikes || params.createQc)
      flags = flagSpikes(host, params, displacement, spikes);

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
    const bool haveSpikes = spikes.NrOfPredictors.value > 0;
    const bool staleSpikes =
        params.createSpikes && addOrRemoveStale(files, spikesPath, haveSpikes ? &spikes : nullptr);
    std::vector<SdmDocument> written;  // in the order of the combined model
    standardizeAndAdd(files, written, detrended, params.createDetrended, motion.path, "_detr");
    standardizeAndAdd(files, written, derivative, params.createDerivative, motion.path, "_deriv");
    standardizeAndAdd(files, written, derivativeSquared, params.createDerivativeSquared,
                      motion.path, "_derivsqr");
    standardizeAndAdd(files, written, squared, params.createSquared, motion.path, "_sqr");
    standardizeAndAdd(files, written, delayed1, params.createDelayed1, motion.path, "_t1");
    standardizeAndAdd(files, written, delayed2, params.createDelayed2, motion.path, "_t2");
    standardizeAndAdd(files, written, delayed1Squared, params.createDelayed1Squared, motion.path,
                      "_t1sqr");
    standardizeAndAdd(files, written, delayed2Squared, params.createDelayed2Squared, motion.path,
                      "_t2sqr");
    const std::string combinedPath = insertBeforeExtension(motion.path, "_combined");
    bool staleCombined = false;
    if (params.createCombined) {
      if (params.createSpikes && haveSpikes) written.push_back(spikes);
      const SdmDocument combined = written.empty() ? SdmDocument() : combineModels(written);
      staleCombined = addOrRemoveStale(files, combinedPath, written.empty() ? nullptr : &combined);
    }
    files.commit();
    if (staleSpikes) host.logLine("Removed the spike file of an earlier run: " + spikesPath);
    if (staleCombined) {
      host.logLine("Removed the combined file of an earlier run: " + combinedPath);
    }

    if (params.createQc) {
      quality.push_back(
          measureRunQuality(motion, relativeRmsDisplacement(motion), flags, params.limits));
      logQuality(host, quality.back(), params.limits);
    }
  }

  if (params.createQc && !runs.empty()) {
    const std::string tablePath = qualityTablePath(params.sdmFile);
    writeFileAtomically(tablePath,
                        [&quality](std::ostream& out) { writeQualityTable(out, quality); });
    host.logLine("Saved the QC table: " + tablePath);
  }
}

}  // namespace tsl
