// The displacement task: follows every voxel of the current run above an
// intensity threshold through each run's head motion, and adds the selected
// per-voxel measures to the current run as maps named after the motion file.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "confound/predictor_transforms.h"
#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameters.h"
#include "designmatrix/path_functions.h"
#include "fmr/fmr_header.h"
#include "fmr/stc_reader.h"
#include "fmr/voxel_mask.h"
#include "motion/displacement_kernel.h"
#include "motion/motion_series.h"
#include "tasks/dialog_parameters.h"
#include "tasks/task_support.h"
#include "tasks/tasks.h"

namespace tsl {
namespace {

constexpr float kMapLowerValue = 0.01f;
constexpr const char* kDetrendedPlotTitle = " detrended  + relative RMS displacement";

struct Parameters {
  float threshold = 0.0f;
  bool maxAbsolute = false;
  bool meanAbsolute = false;
  bool maxRelative = false;
  bool meanRelative = false;
  bool maxAbsoluteX = false;
  bool maxAbsoluteY = false;
  bool maxAbsoluteZ = false;
  PlotsAndMotionFile shared;
};

// In the order the dialog's parameters are read.
Parameters readParameters(Host& host) {
  Parameters p;
  p.threshold = host.floatParameter("fmr_threshold");
  p.maxAbsolute = isOn(host.intParameter("map_max_abs"));
  p.meanAbsolute = isOn(host.intParameter("map_mean_abs"));
  p.maxRelative = isOn(host.intParameter("map_max_rel"));
  p.meanRelative = isOn(host.intParameter("map_mean_rel"));
  p.maxAbsoluteX = isOn(host.intParameter("map_max_abs_x"));
  p.maxAbsoluteY = isOn(host.intParameter("map_max_abs_y"));
  p.maxAbsoluteZ = isOn(host.intParameter("map_max_abs_z"));
  p.shared = readPlotsAndMotionFile(host);
  return p;
}

std::string gridText(Dim3 d) {
  return std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z);
}

std::vector<std::int32_t> readMask(const CurrentRun& run, float threshold) {
  const FmrFileHeader header = readFmrFileHeader(run.path, false);
  // Only the first time point is read: the mask needs nothing else, and the
  // whole run may be larger than memory.
  const Volume first = readFirstVolume(header);
  // The mask indexes the host's grid, so the data must have that grid.
  if (!(first.dim == run.dims)) {
    throw IOError("FMR file " + run.path + ": its voxel data have a grid of " +
                  gridText(first.dim) + " voxels, but the host's record of the run has " +
                  gridText(run.dims));
  }
  return voxelMask(first, threshold);
}

void plotMotion(Host& host, const SdmDocument& copy, const MotionParameters& motion,
                const Parameters& p) {
  if (p.shared.plotRegular) host.plot(copy, "");
  if (p.shared.plotDetrended) {
    std::vector<float> series = relativeRmsDisplacement(motion);
    SdmDocument detrended = copy;
    detrendPredictors(detrended);
    detrended.addPredictor(std::move(series), kRmsSeriesName, kRmsSeriesGrey, kRmsSeriesGrey,
                           kRmsSeriesGrey);
    host.plot(detrended, kDetrendedPlotTitle);
  }
}

float largestElement(const Volume& volume) {
  if (volume.size() == 0) return 0.0f;
  return *std::max_element(volume.data(), volume.data() + volume.size());
}

// Each selected measure becomes a volume of the run's grid (one at a time,
// in the same memory) and goes to the host.
void exportSelected(Host& host, const MaskedMeasures& measures,
                    const std::vector<std::int32_t>& mask, Dim3 dims, const Parameters& p,
                    const std::string& base) {
  struct Export {
    bool selected;
    const float* values;
    const char* suffix;
  };
  // The fixed order in which the maps are added to the run.
  const Export exports[] = {
      {p.maxAbsolute, measures.maxAbsolute.get(), "_MaxAbsolute.map"},
      {p.meanAbsolute, measures.meanAbsolute.get(), "_MeanAbsolute.map"},
      {p.meanRelative, measures.meanRelative.get(), "_MeanRelative.map"},
      {p.maxRelative, measures.maxRelative.get(), "_MaxRelative.map"},
      {p.maxAbsoluteX, measures.maxAbsoluteX.get(), "_MaxAbsoluteX.map"},
      {p.maxAbsoluteY, measures.maxAbsoluteY.get(), "_MaxAbsoluteY.map"},
      {p.maxAbsoluteZ, measures.maxAbsoluteZ.get(), "_MaxAbsoluteZ.map"},
  };
  // Not touched, so it costs no memory until a map is selected.
  Volume volume(dims);
  for (const Export& e : exports) {
    if (!e.selected) continue;
    expandToVolume(e.values, mask, volume);
    host.addMap(volume, kMapLowerValue, largestElement(volume));
    host.saveMaps(base + e.suffix);
  }
}

}  // namespace

void computeDisplacementMaps(Host& host) {
  const Parameters p = readParameters(host);
  const std::vector<SdmDocument> documents = loadRuns(host, p.shared.motionFile);
  // Every document is checked before anything is shown or added to the run.
  for (const SdmDocument& motion : documents) {
    checkMotionDocument(motion);
    if (p.shared.plotDetrended) requireDetrendable(motion);
  }

  const CurrentRun run = host.currentRun();
  const float extent[3] = {static_cast<float>(run.dims.x) * run.voxelSize[0],
                           static_cast<float>(run.dims.y) * run.voxelSize[1],
                           static_cast<float>(run.dims.z) * run.voxelSize[2]};
  host.logLine(logText("FMR size voxels: ", run.dims.x, " x ", run.dims.y, " x ", run.dims.z));

  const std::vector<std::int32_t> mask = readMask(run, p.threshold);

  for (const SdmDocument& motion : documents) {
    const SdmDocument copy = motion;
    const MotionParameters parameters = motionParametersOf(copy);
    plotMotion(host, copy, parameters, p);
    host.logLine(logText("Start calculating voxel specific motion in ", copy.NrOfDataPoints.value,
                         " volumes"));
    const MaskedMeasures measures = computeMaskedDisplacement(mask, run.dims, extent, parameters);
    host.logLine("Saving Maps");
    exportSelected(host, measures, mask, run.dims, p, stripExtension(copy.path));
  }
}

}  // namespace tsl
