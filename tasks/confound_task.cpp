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
#include "confound/motion_models.h"
#include "confound/predictor_transforms.h"
#include "confound/qc_measures.h"
#include "confound/spike_flags.h"
#include "designmatrix/atomic_file.h"
#include "designmatrix/path_functions.h"
#include "designmatrix/sdm_document.h"
#include "motion/motion_series.h"
#include "tasks/dialog_parameters.h"
#include "tasks/task_support.h"
#include "tasks/tasks.h"

namespace tsl {
namespace {

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
  PlotsAndMotionFile shared;
  // Read after the ones above, whose order the host may rely on; each is off
  // when 0.
  FlagOptions flagging;
  bool createDerivativeSquared = false;
  bool createCombined = false;
  bool createQc = false;
  QcLimits limits;
};

ConfoundParameters readParameters(Host& host) {
  ConfoundParameters p;
  p.spikeThreshold = host.floatParameter("spike_threshold");
  p.createDetrended = isOn(host.intParameter("create_detrended"));
  p.createDerivative = isOn(host.intParameter("create_derivative"));
  p.createSpikes = isOn(host.intParameter("create_spikes"));
  p.createSquared = isOn(host.intParameter("create_squared"));
  p.createDelayed1 = isOn(host.intParameter("create_delayed1"));
  p.createDelayed1Squared = isOn(host.intParameter("create_delayed1sq"));
  p.createDelayed2 = isOn(host.intParameter("create_delayed2"));
  p.createDelayed2Squared = isOn(host.intParameter("create_delayed2sq"));
  p.shared = readPlotsAndMotionFile(host);
  p.flagging.before = volumeCount("spike_before", host.intParameter("spike_before"));
  p.flagging.after = volumeCount("spike_after", host.intParameter("spike_after"));
  p.flagging.minSegment = volumeCount("spike_min_segment", host.intParameter("spike_min_segment"));
  p.createDerivativeSquared = isOn(host.intParameter("create_derivativesq"));
  p.createCombined = isOn(host.intParameter("create_combined"));
  p.createQc = isOn(host.intParameter("create_qc"));
  p.limits.maxMeanFdMm = typedDecimal(host.floatParameter("qc_max_mean_fd"));
  p.limits.maxFlaggedPercent = typedDecimal(host.floatParameter("qc_max_flagged_percent"));
  return p;
}

// Every step but the plain plot works on the detrended parameters (the QC
// table's spikes are found on them). The combined model only gathers the
// others.
bool needsDetrendedSeries(const ConfoundParameters& p) {
  return p.createDetrended || p.createDerivative || p.createSpikes || p.createSquared ||
         p.createDelayed1 || p.createDelayed1Squared || p.createDelayed2 ||
         p.createDelayed2Squared || p.shared.plotDetrended || p.createDerivativeSquared ||
         p.createQc;
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
// spike model on, the log tells what was found; otherwise nothing is logged
// but the warning of a run left without data.
FlaggedVolumes flagSpikes(Host& host, const ConfoundParameters& params, const std::string& run,
                          const std::vector<float>& displacement) {
  const std::vector<std::size_t> found = detectSpikes(displacement, params.spikeThreshold);
  FlaggedVolumes flags = flagVolumes(found, displacement.size(), params.flagging);
  if (params.createSpikes) {
    host.logLine("Detecting Spikes");
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
  }
  if (!displacement.empty() && flags.volumes.size() == displacement.size()) {
    host.logLine("Warning: " + run + ": every volume is flagged; its spike model leaves no data");
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
  const std::vector<SdmDocument> runs = loadRuns(host, params.shared.motionFile);
  if (needsDetrendedSeries(params)) {
    for (const SdmDocument& motion : runs) requireDetrendable(motion);
  }

  std::vector<RunQuality> quality;
  for (const SdmDocument& motion : runs) {
    if (params.shared.plotRegular) host.plot(motion, "");

    MotionModels models = deriveMotionModels(motion);
    const std::vector<float> displacement = relativeRmsDisplacement(models.detrended);

    FlaggedVolumes flags;
    if (params.createSpikes || params.createQc)
      flags = flagSpikes(host, params, motion.path, displacement);
    const SdmDocument spikes = spikeModel(motion, flags.volumes);

    if (params.shared.plotDetrended) {
      SdmDocument plot = models.detrended;
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
    const struct {
      SdmDocument& model;
      bool write;
      const char* suffix;
    } steps[] = {
        {models.detrended, params.createDetrended, "_detr"},
        {models.derivative, params.createDerivative, "_deriv"},
        {models.derivativeSquared, params.createDerivativeSquared, "_derivsqr"},
        {models.squared, params.createSquared, "_sqr"},
        {models.delayed1, params.createDelayed1, "_t1"},
        {models.delayed2, params.createDelayed2, "_t2"},
        {models.delayed1Squared, params.createDelayed1Squared, "_t1sqr"},
        {models.delayed2Squared, params.createDelayed2Squared, "_t2sqr"},
    };
    for (const auto& step : steps) {
      standardizeAndAdd(files, written, step.model, step.write, motion.path, step.suffix);
    }
    // A combined file this computation does not write would hold the models
    // and spikes of an earlier one; beside a new or removed spike file it is
    // the file most likely to go into the model, so it goes.
    const std::string combinedPath = insertBeforeExtension(motion.path, "_combined");
    const bool spikeFileChanged = params.createSpikes && (haveSpikes || staleSpikes);
    if (params.createCombined && params.createSpikes && haveSpikes) written.push_back(spikes);
    const bool writeCombined = params.createCombined && !written.empty();
    const SdmDocument combined = writeCombined ? combineModels(written) : SdmDocument();
    const bool staleCombined =
        (params.createCombined || spikeFileChanged) &&
        addOrRemoveStale(files, combinedPath, writeCombined ? &combined : nullptr);
    files.commit();
    if (staleSpikes) host.logLine("Removed the spike file of an earlier run: " + spikesPath);
    if (staleCombined) {
      host.logLine("Removed the combined file of an earlier run: " + combinedPath);
    }

    if (params.createQc) {
      quality.push_back(
          measureRunQuality(motion, relativeRmsDisplacementInDouble(motionParametersOf(motion)),
                            flags, params.limits));
      logQuality(host, quality.back(), params.limits);
    }
  }

  if (params.createQc && !runs.empty()) {
    const std::string tablePath = qualityTablePath(params.shared.motionFile);
    writeFileAtomically(tablePath,
                        [&quality](std::ostream& out) { writeQualityTable(out, quality); });
    host.logLine("Saved the QC table: " + tablePath);
  }
}

}  // namespace tsl
