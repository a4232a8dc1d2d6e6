// The confound task: per run of the chosen motion file, spike detection by
// the chosen censoring rule (the relative RMS displacement of the detrended
// motion parameters, framewise displacement, std DVARS, or FD or std DVARS),
// the volumes flagged around the spikes, optional plots, and the spike, model,
// combined and confounds-table files written beside the run's motion SDM;
// then, on request, the study's QC table beside the chosen file.
//
// A run's voxel data are read only when a step needs them (DVARS, the
// detection of non-steady-state volumes). Every run's FMR is checked, and
// every run's signal measured, before the first run's files are written, so a
// run that cannot be measured stops the task with nothing written.
//
// The QC table is written after the last run's files are in place, complete
// or not at all: a run that fails stops the task before it, so a new table
// never describes runs whose files are missing (a table of an earlier
// computation then stays as it was, like the failed run's model files). Its
// spikes and flags are found as for the spike model, also when the spike
// model is off; only the spike file and its log lines need create_spikes.
#include <cstddef>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "confound/censoring_rule.h"
#include "confound/combined_model.h"
#include "confound/confounds_table.h"
#include "confound/motion_filter.h"
#include "confound/motion_models.h"
#include "confound/predictor_transforms.h"
#include "confound/qc_measures.h"
#include "confound/spike_flags.h"
#include "designmatrix/atomic_file.h"
#include "designmatrix/path_functions.h"
#include "designmatrix/sdm_document.h"
#include "motion/motion_series.h"
#include "report/study_report.h"
#include "tasks/confound_report.h"
#include "tasks/dialog_parameters.h"
#include "tasks/parameter_recorder.h"
#include "tasks/run_signal.h"
#include "tasks/task_support.h"
#include "tasks/tasks.h"

namespace tsl {
namespace {

constexpr int kThresholdRed = 150;

constexpr const char* kDetrendedPlotTitle = " + Displacement for Spike Detection";
// Names of the filtered parameters, and the title of their plot, end in it.
constexpr const char* kFilteredSuffix = " filtered";

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
  // The signal and censoring options, read after those.
  CensoringRule rule;
  bool computeDvars = false;
  std::size_t dummyVolumes = 0;
  bool detectDummyVolumes = false;
  bool createConfoundsTable = false;
  float fmrThreshold = 0.0f;
  // The motion filter, read after those.
  MotionFilterParameters filter;
  bool createFiltered = false;
  // The study report, read last; it implies the QC figures.
  bool createReport = false;

  bool qualityFigures() const { return createQc || createReport; }
  bool filtering() const { return filter.type != MotionFilterType::kNone; }
  SignalNeeds signalNeeds() const {
    return {computeDvars || rule.usesDvars(), detectDummyVolumes, filtering()};
  }
};

// A threshold the rule compares with must be above 0.
void requireThreshold(const char* name, float value) {
  if (!(value > 0.0f)) {
    throw std::invalid_argument(
        logText("Dialog parameter ", name, " is ", value, ": the rule needs a threshold above 0"));
  }
}

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
  const int measure = host.intParameter("spike_measure");
  const float fdThreshold = host.floatParameter("fd_threshold");
  const float dvarsThreshold = host.floatParameter("dvars_threshold");
  p.computeDvars = isOn(host.intParameter("compute_dvars"));
  p.dummyVolumes = volumeCount("dummy_volumes", host.intParameter("dummy_volumes"));
  p.detectDummyVolumes = isOn(host.intParameter("detect_dummy_volumes"));
  p.createConfoundsTable = isOn(host.intParameter("create_confounds_tsv"));
  p.limits.minRemaining = volumeCount("qc_min_remaining", host.intParameter("qc_min_remaining"));
  p.fmrThreshold = host.floatParameter("fmr_threshold");
  const int motionFilter = host.intParameter("motion_filter");
  const float bandStopMin = host.floatParameter("band_stop_min");
  const float bandStopMax = host.floatParameter("band_stop_max");
  const int filterOrder = host.intParameter("motion_filter_order");
  p.createFiltered = isOn(host.intParameter("create_filtered"));
  p.filter = motionFilterParameters(motionFilter, bandStopMin, bandStopMax, filterOrder);
  p.createReport = isOn(host.intParameter("create_report"));

  if (measure < 0 || measure >= kSpikeMeasureCount) {
    throw std::invalid_argument(logText(
        "Dialog parameter spike_measure is ", measure,
        ": the rule is 0 (relative RMS), 1 (framewise displacement), 2 (framewise displacement "
        "or std DVARS) or 3 (std DVARS)"));
  }
  p.rule = {static_cast<SpikeMeasure>(measure), p.spikeThreshold, typedDecimal(fdThreshold),
            typedDecimal(dvarsThreshold)};
  if (p.rule.usesFd()) requireThreshold("fd_threshold", fdThreshold);
  if (p.rule.usesDvars()) requireThreshold("dvars_threshold", dvarsThreshold);
  return p;
}

// Every step but the plain plot works on the detrended parameters (the QC
// table's spikes are found on them). The combined model only gathers the
// others.
bool needsDetrendedSeries(const ConfoundParameters& p) {
  return p.createDetrended || p.createDerivative || p.createSpikes || p.createSquared ||
         p.createDelayed1 || p.createDelayed1Squared || p.createDelayed2 ||
         p.createDelayed2Squared || p.shared.plotDetrended || p.createDerivativeSquared ||
         p.createQc || p.createConfoundsTable || p.createReport;
}

// The volumes are flagged for every output that holds the censoring.
bool needsFlags(const ConfoundParameters& p) {
  return p.createSpikes || p.qualityFigures() || p.createConfoundsTable;
}

// The files of one run, put in place together, and the names of those
// written, for the report.
struct RunFiles {
  FileSet set;
  std::vector<std::string> written;

  void add(const std::string& path, const std::function<void(std::ostream&)>& body) {
    set.add(path, body);
    written.push_back(path);
  }
  bool remove(const std::string& path) { return set.remove(path); }
  void commit() { set.commit(); }
};

void addDocument(RunFiles& files, const std::string& path, const SdmDocument& document) {
  files.add(path, [&document](std::ostream& out) { document.write(out); });
}

// A file of this run that may have nothing to hold: document goes to path
// when there is one; otherwise a file of an earlier computation at path is
// removed with the run's files, since it would look like this run's result.
// Returns true when such a file is to be removed.
bool addOrRemoveStale(RunFiles& files, const std::string& path, const SdmDocument* document) {
  if (document == nullptr) return files.remove(path);
  addDocument(files, path, *document);
  return false;
}

// Standardised whether or not it is written, as every model is. A written
// model joins written, the parts of the combined model.
void standardizeAndAdd(RunFiles& files, std::vector<SdmDocument>& written, SdmDocument& model,
                       bool write, const std::string& motionPath, const char* suffix) {
  standardizePredictors(model);
  if (!write) return;
  addDocument(files, insertBeforeExtension(motionPath, suffix), model);
  written.push_back(model);
}

// The rule's condition in words, as the log and the sidecar name it.
std::string ruleText(const CensoringRule& rule) {
  const std::string fd = logText("framewise displacement greater than ", rule.fdThreshold, " mm");
  const std::string dvars = logText("std DVARS greater than ", rule.dvarsThreshold);
  switch (rule.measure) {
    case SpikeMeasure::framewiseDisplacement:
      return fd;
    case SpikeMeasure::fdOrDvars:
      return fd + " or " + dvars;
    case SpikeMeasure::stdDvars:
      return dvars;
    case SpikeMeasure::relativeRms:
      break;
  }
  return logText("displacement greater than ", rule.spikeThreshold, " mm");
}

std::string spikeLine(const CensoringRule& rule, const Spike& spike,
                      const std::vector<float>& displacement, const std::vector<double>& fd,
                      const std::vector<double>& stdDvars) {
  const int k = static_cast<int>(spike.volume);
  switch (rule.measure) {
    case SpikeMeasure::framewiseDisplacement:
      return logText("Found spike at position ", k, " with framewise displacement ",
                     fd[spike.volume], " mm");
    case SpikeMeasure::fdOrDvars:
      return logText("Found spike at position ", k, " with framewise displacement ",
                     fd[spike.volume], " mm and std DVARS ", stdDvars[spike.volume]);
    case SpikeMeasure::stdDvars:
      return logText("Found spike at position ", k, " with std DVARS ", stdDvars[spike.volume]);
    case SpikeMeasure::relativeRms:
      break;
  }
  return logText("Found spike at position ", k, " with displacement ", displacement[spike.volume],
                 " mm");
}

// What the rule needs of a run beside its detrended displacement.
struct RunSeries {
  std::vector<float> displacement;  // relative RMS of the detrended parameters
  std::vector<double> fd;           // framewise displacement as in the file
  std::vector<double> stdDvars;     // empty without DVARS
};

// The spikes of the run by the rule and the volumes flagged around them. With
// the spike model on, the log tells what was found; otherwise nothing is
// logged but the warning of a run left without data.
FlaggedVolumes flagSpikes(Host& host, const ConfoundParameters& params, const std::string& run,
                          const RunSeries& series, std::size_t nonSteady,
                          std::vector<std::size_t>& spikes) {
  const std::vector<Spike> found =
      findSpikes(params.rule, series.displacement, series.fd, series.stdDvars, nonSteady);
  spikes = spikeVolumes(found);
  const std::size_t volumes = series.displacement.size();
  FlaggedVolumes flags = flagVolumes(spikes, volumes, params.flagging, nonSteady);
  if (params.createSpikes) {
    host.logLine("Detecting Spikes");
    std::size_t byFd = 0, byDvars = 0, byBoth = 0;
    for (const Spike& spike : found) {
      host.logLine(spikeLine(params.rule, spike, series.displacement, series.fd, series.stdDvars));
      byFd += spike.byFd ? 1 : 0;
      byDvars += spike.byDvars ? 1 : 0;
      byBoth += spike.byFd && spike.byDvars ? 1 : 0;
    }
    if (found.empty()) host.logLine("No spikes found with " + ruleText(params.rule));
    if (params.rule.measure == SpikeMeasure::fdOrDvars && !found.empty()) {
      host.logLine(logText("Spikes by framewise displacement: ", byFd, ", by std DVARS: ", byDvars,
                           ", by both: ", byBoth));
    }
    if (flags.extra > 0) {
      host.logLine(logText("Flagged ", flags.extra,
                           flags.extra == 1 ? " more volume" : " more volumes",
                           " around the spikes, ", flags.volumes.size(), " in all"));
    }
  }
  if (volumes > 0 && flags.volumes.size() + nonSteady == volumes) {
    host.logLine("Warning: " + run + ": every volume is flagged; its spike model leaves no data");
  }
  return flags;
}

// The signal lines of a run, before its spikes.
void logSignal(Host& host, const std::string& run, const RunData& data, const RunSignal& signal) {
  if (signal.nonSteady > 0) {
    host.logLine(logText("Non-steady-state volumes at the start of ", run, ": ", signal.nonSteady,
                         signal.nonSteadyDetected ? " (detected)" : " (as set)"));
  }
  if (!signal.dvars) return;
  const DvarsSeries& d = *signal.dvars;
  double dvarsSum = 0.0, stdSum = 0.0;
  for (std::size_t t = 1; t < d.dvars.size(); ++t) {
    dvarsSum += d.dvars[t];
    stdSum += d.stdDvars[t];
  }
  const double changes = d.dvars.size() > 1 ? static_cast<double>(d.dvars.size() - 1) : 1.0;
  host.logLine(logText("DVARS of ", run, ": ", d.voxels, " voxels of ", data.fmrPath, ", mean ",
                       dvarsSum / changes, ", mean std DVARS ", stdSum / changes));
}

// The detrended plot: the parameters and the series the rule uses, each with
// its threshold; std DVARS whenever they were computed.
void plotDetrended(Host& host, const ConfoundParameters& params, const SdmDocument& detrended,
                   const RunSeries& series) {
  constexpr int kFdGreen = 200, kFdBlue = 255;
  constexpr int kDvarsRed = 255, kDvarsGreen = 200;
  constexpr int kDvarsThresholdBlue = 150;
  const std::size_t n = series.displacement.size();
  SdmDocument plot = detrended;
  auto asFloats = [](const std::vector<double>& values) {
    return std::vector<float>(values.begin(), values.end());
  };
  if (params.rule.measure == SpikeMeasure::relativeRms) {
    plot.addPredictor(series.displacement, kRmsSeriesName, kRmsSeriesGrey, kRmsSeriesGrey,
                      kRmsSeriesGrey);
    plot.addPredictor(std::vector<float>(n, params.spikeThreshold), "Spike threshold",
                      kThresholdRed, 0, 0);
  }
  if (params.rule.usesFd()) {
    plot.addPredictor(asFloats(series.fd), "framewise displacement", 0, kFdGreen, kFdBlue);
    plot.addPredictor(std::vector<float>(n, static_cast<float>(params.rule.fdThreshold)),
                      "FD threshold", kThresholdRed, 0, 0);
  }
  if (!series.stdDvars.empty()) {
    plot.addPredictor(asFloats(series.stdDvars), "std DVARS", kDvarsRed, kDvarsGreen, 0);
    if (params.rule.usesDvars()) {
      plot.addPredictor(std::vector<float>(n, static_cast<float>(params.rule.dvarsThreshold)),
                        "DVARS threshold", kThresholdRed, 0, kDvarsThresholdBlue);
    }
  }
  host.plot(plot, kDetrendedPlotTitle);
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
    over += logText(over.empty() ? "" : ",", " ", q.flaggedPercent,
                    " % of the volumes flagged (limit ", limits.maxFlaggedPercent, " %)");
  }
  if (q.underMinRemaining) {
    over += logText(over.empty() ? "" : ",", " ", q.remaining, " volumes remain (limit ",
                    limits.minRemaining, ")");
  }
  host.logLine("Warning: " + q.run + " is over the QC limits:" + over);
}

// run1_3DMC.sdm gives run1_3DMC_desc-confounds_timeseries.tsv and .json.
std::string confoundsTablePath(const std::string& motionPath, const char* extension) {
  return stripExtension(motionPath) + "_desc-confounds_timeseries" + extension;
}

// The filter as the log names it: "notch 12-18 breaths per minute" or
// "low-pass 6 breaths per minute", at the run's TR.
std::string filterText(const MotionFilterParameters& f, int trMs) {
  const std::string band =
      f.type == MotionFilterType::kNotch
          ? logText("notch ", f.bandStopMin, "-", f.bandStopMax, " breaths per minute")
          : logText("low-pass ", f.bandStopMin, " breaths per minute");
  return band + logText(" at TR ", trMs, " ms");
}

// The mean of series over the volumes from first on (0 when there is none).
double meanFrom(const std::vector<double>& series, std::size_t first) {
  double sum = 0.0;
  for (std::size_t t = first; t < series.size(); ++t) sum += series[t];
  return series.size() > first ? sum / static_cast<double>(series.size() - first) : 0.0;
}

// The run's motion as the task uses it: the parameters as estimated, or with
// a filter their filtered values, named with " filtered".
struct RunMotion {
  SdmDocument document;   // the six columns as floats
  MotionColumns columns;  // the same in double precision
  std::optional<FilteredMotion> filtered;
};

RunMotion runMotion(Host& host, const ConfoundParameters& params, const SdmDocument& motion,
                    const RunSignal& signal) {
  RunMotion m{motion, motionColumnsOf(motion), std::nullopt};
  if (!params.filtering()) return m;
  m.filtered = filterMotion(params.filter, motionParametersOf(motion), signal.trMs, motion.path);
  if (m.filtered->band.folded) {
    host.logLine(motionFilterFoldingWarning(params.filter, m.filtered->band, motion.path));
  }
  m.columns = m.filtered->columns;
  for (std::size_t p = 0; p < m.columns.size(); ++p) {
    m.document.columns[p].assign(m.columns[p].begin(), m.columns[p].end());
    m.document.names[p] += kFilteredSuffix;
  }
  const std::size_t first = signal.nonSteady + 1;
  host.logLine(logText("Motion filter of ", motion.path, ": ",
                       filterText(params.filter, signal.trMs), "; mean framewise displacement ",
                       meanFrom(framewiseDisplacement(motion), first), " mm before, ",
                       meanFrom(framewiseDisplacement(m.columns), first), " mm after"));
  return m;
}

ConfoundsProvenance provenanceOf(const ConfoundParameters& params, const std::string& motionPath,
                                 const RunData& data, const RunSignal& signal) {
  ConfoundsProvenance p;
  p.version = kTesselVersion;
  p.motionFile = motionPath;
  p.dataFile = data.fmrPath;
  p.rule = ruleText(params.rule);
  p.spikeMeasure = static_cast<int>(params.rule.measure);
  p.spikeThreshold = typedDecimal(params.spikeThreshold);
  p.fdThreshold = params.rule.fdThreshold;
  p.dvarsThreshold = params.rule.dvarsThreshold;
  p.volumesBefore = params.flagging.before;
  p.volumesAfter = params.flagging.after;
  p.minimumSegment = params.flagging.minSegment;
  p.nonSteadyDetected = signal.nonSteadyDetected;
  if (params.filtering()) {
    p.motionFilter = filterText(params.filter, signal.trMs) +
                     logText(", motion_filter_order ", params.filter.order);
  }
  return p;
}

// study.mdm gives study_qc.tsv, in the same folder.
std::string qualityTablePath(const std::string& chosenFile) {
  return stripExtension(chosenFile) + "_qc.tsv";
}

}  // namespace

void createConfoundModels(Host& host) {
  ParameterRecorder recorder(host);
  const ConfoundParameters params = readParameters(recorder);
  // Every run is read and checked for its six motion columns (and, when a
  // step detrends, for two data points) before the first one is processed, so
  // a bad run stops the task before anything is plotted or written.
  const std::vector<MotionRun> runs = loadStudyRuns(host, params.shared.motionFile);
  if (needsDetrendedSeries(params)) {
    for (const MotionRun& run : runs) requireDetrendable(run.motion);
  }
  const SignalNeeds needs = params.signalNeeds();
  if (!needs.detectNonSteady) {
    for (const MotionRun& run : runs) {
      requireSteadyVolumes(run.motion.path, params.dummyVolumes,
                           static_cast<std::size_t>(run.motion.NrOfDataPoints.value));
    }
  }
  const std::vector<RunData> data = findRunData(host, runs, needs);
  // A band the filter cannot use at a run's TR stops the task here.
  if (params.filtering()) {
    for (std::size_t r = 0; r < runs.size(); ++r) {
      foldMotionFilterBand(params.filter, data[r].header.TR.value, runs[r].motion.path);
    }
  }
  // The study's files come after the runs' files: one the user protected is
  // refused before any run's file is put in place.
  if (params.createQc) requireWritable(qualityTablePath(params.shared.motionFile));
  if (params.createReport) requireWritable(studyReportPath(params.shared.motionFile));
  std::vector<RunSignal> signals;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    signals.push_back(needs.any()
                          ? measureRunSignal(runs[r], data[r], needs, params.dummyVolumes,
                                             params.fmrThreshold, params.createReport)
                          : RunSignal{params.dummyVolumes, false, std::nullopt, 0, std::nullopt});
  }

  std::vector<RunQuality> quality;
  std::vector<ReportedRun> reported;
  std::vector<RunSection> sections;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const SdmDocument& estimated = runs[r].motion;
    const RunSignal& signal = signals[r];
    logSignal(host, estimated.path, data[r], signal);
    const RunMotion used = runMotion(host, params, estimated, signal);
    const SdmDocument& motion = used.document;
    if (params.shared.plotRegular) {
      host.plot(estimated, "");
      if (used.filtered) host.plot(motion, kFilteredSuffix);
    }

    MotionModels models = deriveMotionModels(motion);
    RunSeries series{relativeRmsDisplacement(models.detrended), framewiseDisplacement(used.columns),
                     signal.dvars ? signal.dvars->stdDvars : std::vector<double>()};

    FlaggedVolumes flags;
    std::vector<std::size_t> spikesFound;
    if (needsFlags(params)) {
      flags = flagSpikes(host, params, motion.path, series, signal.nonSteady, spikesFound);
    }
    const SdmDocument spikes = spikeModel(motion, flags.volumes, signal.nonSteady);

    if (params.shared.plotDetrended) plotDetrended(host, params, models.detrended, series);

    host.logLine("Saving SDMs");
    // The run's files arrive together or not at all (see FileSet).
    RunFiles files;
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
    // A combined file or confounds table this computation does not write
    // would hold the censoring of an earlier one; beside a new or removed
    // spike file it is the file most likely to be used, so it goes.
    const std::string combinedPath = insertBeforeExtension(motion.path, "_combined");
    const bool spikeFileChanged = params.createSpikes && (haveSpikes || staleSpikes);
    if (params.createCombined && params.createSpikes && haveSpikes) written.push_back(spikes);
    const bool writeCombined = params.createCombined && !written.empty();
    const SdmDocument combined = writeCombined ? combineModels(written) : SdmDocument();
    const bool staleCombined =
        (params.createCombined || spikeFileChanged) &&
        addOrRemoveStale(files, combinedPath, writeCombined ? &combined : nullptr);

    // The filtered motion file, with the filter on; one of an earlier
    // computation goes when the filter is on and the file is not asked for.
    const std::string filteredPath = insertBeforeExtension(motion.path, "_filtered");
    const bool staleFiltered =
        params.filtering() &&
        addOrRemoveStale(files, filteredPath, params.createFiltered ? &motion : nullptr);

    const std::string tablePath = confoundsTablePath(motion.path, ".tsv");
    const std::string sidecarPath = confoundsTablePath(motion.path, ".json");
    bool staleTable = false;
    if (params.createConfoundsTable) {
      ConfoundSeries table{&estimated,
                           framewiseDisplacement(estimated),
                           series.displacement,
                           signal.dvars ? signal.dvars->dvars : std::vector<double>(),
                           series.stdDvars,
                           signal.nonSteady,
                           flags.volumes,
                           used.filtered ? &used.columns : nullptr,
                           used.filtered ? series.fd : std::vector<double>()};
      const ConfoundsProvenance provenance = provenanceOf(params, motion.path, data[r], signal);
      files.add(tablePath, [&table](std::ostream& out) { writeConfoundsTable(out, table); });
      files.add(sidecarPath, [&table, &provenance](std::ostream& out) {
        writeConfoundsSidecar(out, table, provenance);
      });
    } else if (spikeFileChanged) {
      staleTable = files.remove(tablePath);
      staleTable = files.remove(sidecarPath) || staleTable;
    }
    files.commit();
    if (staleSpikes) host.logLine("Removed the spike file of an earlier run: " + spikesPath);
    if (staleCombined) {
      host.logLine("Removed the combined file of an earlier run: " + combinedPath);
    }
    if (staleTable) host.logLine("Removed the confounds table of an earlier run: " + tablePath);
    if (staleFiltered) {
      host.logLine("Removed the filtered motion file of an earlier run: " + filteredPath);
    }

    if (params.qualityFigures()) {
      SignalMeasures measures;
      if (signal.dvars) {
        measures.dvars = signal.dvars->dvars;
        measures.stdDvars = signal.dvars->stdDvars;
      }
      measures.dataFile = data[r].fmrPath;
      const HeaderField<int>& tr = data[r].header.TR;
      measures.trMs = !data[r].fmrPath.empty() && tr.present && tr.value > 0 ? tr.value : 0;
      quality.push_back(measureRunQuality(motion.path, used.columns,
                                          relativeRmsDisplacementInDouble(used.columns), flags,
                                          params.limits, signal.nonSteady, measures));
      if (used.filtered) {
        quality.back().meanFdUnfiltered =
            meanFrom(framewiseDisplacement(estimated), signal.nonSteady + 1);
      }
      logQuality(host, quality.back(), params.limits);
    }
    if (params.createReport) {
      ReportedRun run;
      run.motionFile = estimated.path;
      run.dataFile = data[r].fmrPath;
      const HeaderField<int>& tr = data[r].header.TR;
      run.trMs = !data[r].fmrPath.empty() && tr.present && tr.value > 0 ? tr.value : 0;
      run.motion = &used.columns;
      run.filtered = used.filtered.has_value();
      run.fd = series.fd;
      if (run.filtered) run.fdUnfiltered = framewiseDisplacement(estimated);
      run.relativeRms = series.displacement;
      run.stdDvars = series.stdDvars;
      run.reasons = flagReasons(flags, spikesFound, params.flagging, signal.nonSteady);
      run.carpet = signal.carpet;
      run.quality = quality.back();
      run.filesWritten = files.written;
      sections.push_back(reportSection(run, params.rule));
      run.motion = nullptr;
      reported.push_back(std::move(run));
    }
  }

  if (params.createQc && !runs.empty()) {
    const std::string tablePath = qualityTablePath(params.shared.motionFile);
    writeFileAtomically(tablePath,
                        [&quality](std::ostream& out) { writeQualityTable(out, quality); });
    host.logLine("Saved the QC table: " + tablePath);
  }
  if (params.createReport && !runs.empty()) {
    const StudyReport report =
        studyReport(params.shared.motionFile, params.limits, sections, recorder.read(), reported);
    const std::string reportPath = studyReportPath(params.shared.motionFile);
    writeFileAtomically(reportPath,
                        [&report](std::ostream& out) { writeStudyReport(out, report); });
    host.logLine("Saved the study report: " + reportPath);
  }
}

}  // namespace tsl
