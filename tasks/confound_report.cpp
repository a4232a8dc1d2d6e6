#include "tasks/confound_report.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "designmatrix/path_functions.h"
#include "tasks/tasks.h"

namespace tsl {
namespace {

constexpr double kMillisecondsPerSecond = 1000.0;
constexpr const char* kAxes[3] = {"x", "y", "z"};

VolumeFlag shadeOf(FlagReason reason) {
  switch (reason) {
    case FlagReason::nonSteady:
      return VolumeFlag::kNonSteady;
    case FlagReason::spike:
      return VolumeFlag::kSpike;
    case FlagReason::neighbour:
      return VolumeFlag::kNeighbour;
    case FlagReason::shortSegment:
      return VolumeFlag::kShortSegment;
    case FlagReason::none:
      break;
  }
  return VolumeFlag::kNone;
}

Trace axesTrace(const char* title, const MotionColumns& motion, std::size_t first) {
  Trace t{title, {}, std::nullopt};
  for (std::size_t a = 0; a < 3; ++a) t.lines.push_back({kAxes[a], motion[first + a], false});
  return t;
}

std::uintmax_t sizeOf(const std::string& path) {
  std::error_code error;
  const std::uintmax_t bytes = std::filesystem::file_size(path, error);
  return error ? 0 : bytes;
}

}  // namespace

RunSection reportSection(const ReportedRun& run, const CensoringRule& rule) {
  RunSection s;
  s.motionFile = run.motionFile;
  s.volumes = run.fd.size();
  s.repetitionTimeSeconds = run.trMs > 0 ? run.trMs / kMillisecondsPerSecond : 0.0;
  const char* suffix = run.filtered ? " filtered" : "";
  s.traces.push_back(axesTrace(run.filtered ? "Translations, filtered (mm)" : "Translations (mm)",
                               *run.motion, 0));
  s.traces.push_back(axesTrace(
      run.filtered ? "Rotations, filtered (degrees)" : "Rotations (degrees)", *run.motion, 3));
  Trace fd{"Framewise displacement (mm)", {}, std::nullopt};
  if (run.filtered) fd.lines.push_back({"as estimated", run.fdUnfiltered, true});
  fd.lines.push_back({std::string("framewise displacement") + suffix, run.fd, false});
  if (rule.usesFd()) fd.threshold = rule.fdThreshold;
  s.traces.push_back(std::move(fd));
  Trace rms{"Relative RMS displacement of the detrended parameters (mm)",
            {{"relative RMS", std::vector<double>(run.relativeRms.begin(), run.relativeRms.end()),
              false}},
            std::nullopt};
  if (rule.measure == SpikeMeasure::relativeRms) rms.threshold = rule.spikeThreshold;
  s.traces.push_back(std::move(rms));
  if (!run.stdDvars.empty()) {
    // Volume 0 has no change from a volume before it: a gap, not a 0.
    std::vector<double> values = run.stdDvars;
    values[0] = std::nan("");
    Trace dvars{"Std DVARS", {{"std DVARS", std::move(values), false}}, std::nullopt};
    if (rule.usesDvars()) dvars.threshold = rule.dvarsThreshold;
    s.traces.push_back(std::move(dvars));
  }
  for (const FlagReason r : run.reasons) s.flags.push_back(shadeOf(r));
  if (s.flags.empty()) s.flags.assign(s.volumes, VolumeFlag::kNone);
  s.carpet = run.carpet;
  s.qcCells = qualityTableCells(run.quality);
  s.meanFdMm = run.quality.meanFd;
  s.flaggedPercent = run.quality.flaggedPercent;
  s.overMeanFd = run.quality.overMeanFd;
  s.overFlaggedPercent = run.quality.overFlaggedPercent;
  s.filesWritten = run.filesWritten;
  return s;
}

StudyReport studyReport(const std::string& chosenFile, const QcLimits& limits,
                        const std::vector<RunSection>& runs,
                        const std::vector<std::pair<std::string, std::string>>& parameters,
                        const std::vector<ReportedRun>& reported) {
  StudyReport r;
  r.studyFile = chosenFile;
  r.toolName = "Tessel";
  r.toolVersion = kTesselVersion;
  r.qcColumns = qualityTableColumns();
  r.maxMeanFdMm = limits.maxMeanFdMm;
  r.maxFlaggedPercent = limits.maxFlaggedPercent;
  r.runs = runs;
  for (const auto& [name, value] : parameters) r.parameters.push_back({name, value});
  r.inputs.push_back({chosenFile, sizeOf(chosenFile)});
  for (const ReportedRun& run : reported) {
    if (run.motionFile != chosenFile) r.inputs.push_back({run.motionFile, sizeOf(run.motionFile)});
    if (!run.dataFile.empty()) r.inputs.push_back({run.dataFile, sizeOf(run.dataFile)});
  }
  return r;
}

std::string studyReportPath(const std::string& chosenFile) {
  return stripExtension(chosenFile) + "_report.html";
}

}  // namespace tsl
