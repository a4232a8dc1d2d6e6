#include "tasks/run_signal.h"

#include <stdexcept>

#include "designmatrix/io_error.h"
#include "designmatrix/path_functions.h"
#include "fmr/stc_slice_reader.h"
#include "report/carpet.h"
#include "signal/non_steady_state.h"

namespace tsl {
namespace {

// Makes the carpet plot of the masked voxels as the DVARS pass reads them;
// a voxel it cannot show is an error that names the run's FMR file.
class CarpetMaker : public MaskedSeriesVisitor {
 public:
  explicit CarpetMaker(const std::string& fmrPath) : fmrPath_(fmrPath) {}
  void begin(std::size_t voxels, std::size_t volumes,
             const std::vector<std::size_t>& sliceStarts) override {
    plot_.emplace(voxels, volumes, sliceStarts);
  }
  void visit(std::size_t slice, std::size_t voxel, const float* series,
             std::size_t volumes) override {
    try {
      plot_->addVoxelOf(slice, voxel, std::span<const float>(series, volumes));
    } catch (const std::invalid_argument& refusal) {
      throw IOError("FMR file " + fmrPath_ + ": " + refusal.what());
    }
  }
  GreyImage image() const { return plot_->image(); }

 private:
  const std::string& fmrPath_;
  std::optional<CarpetPlot> plot_;
};

// A run needs two steady volumes for a change between them.
constexpr std::size_t kMinimumSteadyVolumes = 2;

std::string fmrOf(Host& host, const MotionRun& run, const SignalNeeds& needs) {
  if (run.mdmFile.empty()) return host.currentRun().path;
  if (!hasExtension(run.dataFile, "fmr")) {
    throw IOError("MDM file " + run.mdmFile + ": study " + std::to_string(run.study) +
                  "'s data file " + run.dataFile + " is not an FMR run; " +
                  (needs.dvars             ? "DVARS need the run's voxel data"
                   : needs.detectNonSteady ? "non-steady-state detection needs the run's voxel data"
                                           : "the motion filter needs the run's TR"));
  }
  return run.dataFile;
}

}  // namespace

std::vector<RunData> findRunData(Host& host, const std::vector<MotionRun>& runs,
                                 const SignalNeeds& needs) {
  std::vector<RunData> found(runs.size());
  if (!needs.any()) return found;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    RunData& data = found[r];
    data.fmrPath = fmrOf(host, runs[r], needs);
    data.header = readFmrFileHeader(data.fmrPath, false);
    const int points = runs[r].motion.NrOfDataPoints.value;
    if (data.header.NrOfVolumes.present && data.header.NrOfVolumes.value != points) {
      throw IOError("FMR file " + data.fmrPath + " holds " +
                    std::to_string(data.header.NrOfVolumes.value) +
                    " volumes, but the motion file " + runs[r].motion.path + " has " +
                    std::to_string(points) + " data points");
    }
    if (needs.repetitionTime && !(data.header.TR.present && data.header.TR.value > 0)) {
      throw IOError("FMR file " + data.fmrPath +
                    ": TR is missing; the motion filter needs the repetition time");
    }
    // Opening checks the header's layout and the STC file's size; the data
    // are read later, run by run.
    if (needs.voxelData()) {
      StcSliceReader reader(data.header);
    }
  }
  return found;
}

void requireSteadyVolumes(const std::string& sdm, std::size_t nonSteady, std::size_t points) {
  if (nonSteady > 0 && nonSteady + kMinimumSteadyVolumes > points) {
    throw IOError("SDM file " + sdm + ": " + std::to_string(nonSteady) +
                  " non-steady-state volumes leave fewer than 2 of its " + std::to_string(points) +
                  " volumes");
  }
}

RunSignal measureRunSignal(const MotionRun& run, const RunData& data, const SignalNeeds& needs,
                           std::size_t dummyVolumes, float fmrThreshold, bool carpet) {
  RunSignal signal;
  signal.nonSteadyDetected = needs.detectNonSteady;
  signal.nonSteady =
      needs.detectNonSteady ? detectNonSteadyStateVolumes(data.header) : dummyVolumes;
  if (needs.repetitionTime) signal.trMs = data.header.TR.value;
  requireSteadyVolumes(run.motion.path, signal.nonSteady,
                       static_cast<std::size_t>(run.motion.NrOfDataPoints.value));
  if (needs.dvars && carpet) {
    CarpetMaker maker(data.fmrPath);
    signal.dvars = computeDvars(data.header, fmrThreshold, &maker);
    signal.carpet = maker.image();
  } else if (needs.dvars) {
    signal.dvars = computeDvars(data.header, fmrThreshold);
  }
  return signal;
}

}  // namespace tsl
