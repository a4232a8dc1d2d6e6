// The displacement task: follows every voxel of the current run above an
// intensity threshold through each run's head motion, and adds the selected
// per-voxel measures to the current run as maps named after the motion file.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "confound/predictor_transforms.h"
#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameter_source.h"
#include "designmatrix/path_functions.h"
#include "fmr/fmr_header.h"
#include "fmr/stc_reader.h"
#include "motion/displacement_kernel.h"
#include "motion/map_export.h"
#include "motion/motion_series.h"
#include "plugin/host_api.h"
#include "plugin/host_functions.h"
#include "plugin/motion_plot.h"
#include "plugin/tessel.h"

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
  bool plotRegular = false;
  bool plotDetrended = false;
  std::string motionFile;
};

// In the order the dialog's parameters are read.
Parameters readParameters() {
  Parameters p;
  p.threshold = tsl::zr::getFloatParameter("fmr_threshold");
  p.maxAbsolute = tsl::zr::getIntParameter("map_max_abs") != 0;
  p.meanAbsolute = tsl::zr::getIntParameter("map_mean_abs") != 0;
  p.maxRelative = tsl::zr::getIntParameter("map_max_rel") != 0;
  p.meanRelative = tsl::zr::getIntParameter("map_mean_rel") != 0;
  p.maxAbsoluteX = tsl::zr::getIntParameter("map_max_abs_x") != 0;
  p.maxAbsoluteY = tsl::zr::getIntParameter("map_max_abs_y") != 0;
  p.maxAbsoluteZ = tsl::zr::getIntParameter("map_max_abs_z") != 0;
  p.plotRegular = tsl::zr::getIntParameter("plot_regular") != 0;
  p.plotDetrended = tsl::zr::getIntParameter("plot_detrended") != 0;
  p.motionFile = tsl::zr::getStringParameter("sdmfile");
  return p;
}

// What the task takes from the host's record of the current run.
struct RunGeometry {
  std::string path;
  tsl::Dim3 dims;
  float voxelSize[3] = {0.0f, 0.0f, 0.0f};
};

RunGeometry currentRunGeometry() {
  const auto record = tsl::zr::getHeaderOfCurrentFMR();
  RunGeometry run;
  const char* text = record.data() + tsl::host::kFmrRecordPathOffset;
  run.path.assign(text, std::find(text, text + tsl::host::kFmrRecordPathCapacity, '\0'));
  std::int32_t dims[3];
  std::memcpy(dims, record.data() + tsl::host::kFmrRecordDimXOffset, sizeof dims);
  run.dims = tsl::Dim3{dims[0], dims[1], dims[2]};
  std::memcpy(run.voxelSize, record.data() + tsl::host::kFmrRecordVoxelSizeXOffset,
              sizeof run.voxelSize);
  return run;
}

std::string gridText(tsl::Dim3 d) {
  return std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z);
}

// Indices, in increasing order, of the voxels of the run's first time point
// whose intensity is strictly above the threshold (not-a-number is not).
std::vector<std::int32_t> buildMask(const tsl::Volume& first, float threshold) {
  std::vector<std::int32_t> mask;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (first[i] > threshold) mask.push_back(static_cast<std::int32_t>(i));
  }
  return mask;
}

std::vector<std::int32_t> readMask(const RunGeometry& run, float threshold) {
  const tsl::FmrFileHeader header = tsl::readFmrFileHeader(run.path, false);
  // Only the first time point is read: the mask needs nothing else, and the
  // whole run may be larger than memory.
  const tsl::Volume first = tsl::readFirstVolume(header);
  // The mask indexes the host's grid, so the data must have that grid.
  if (!(first.dim == run.dims)) {
    throw tsl::IOError("FMR file " + run.path + ": its voxel data have a grid of " +
                       gridText(first.dim) + " voxels, but the host's record of the run has " +
                       gridText(run.dims));
  }
  return buildMask(first, threshold);
}

void plotMotion(const tsl::SdmDocument& copy, const Parameters& p) {
  if (p.plotRegular) tsl::plotPredictors(copy, tsl::kPlotLineSize, tsl::kPlotLegend1, tsl::kPlotLegend2);
  if (p.plotDetrended) {
    std::vector<float> series = tsl::relativeRmsDisplacement(copy);
    tsl::SdmDocument detrended = copy;
    tsl::detrendPredictors(detrended);
    detrended.path += kDetrendedPlotTitle;
    detrended.addPredictor(std::move(series), tsl::kRmsSeriesName, tsl::kRmsSeriesGrey, tsl::kRmsSeriesGrey,
                           tsl::kRmsSeriesGrey);
    tsl::plotPredictors(detrended, tsl::kPlotLineSize, tsl::kPlotLegend1, tsl::kPlotLegend2);
  }
}

float largestElement(const tsl::Volume& volume) {
  if (volume.size() == 0) return 0.0f;
  return *std::max_element(volume.data(), volume.data() + volume.size());
}

// Each selected measure becomes a volume of the run's grid (one at a time,
// in the same memory) and goes to the host.
void exportSelected(const tsl::MaskedMeasures& measures, const std::vector<std::int32_t>& mask,
                    tsl::Dim3 dims, const Parameters& p, const std::string& base) {
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
  tsl::Volume volume(dims);
  for (const Export& e : exports) {
    if (!e.selected) continue;
    tsl::expandToVolume(e.values, mask, volume);
    tsl::exportMap(volume, kMapLowerValue, largestElement(volume), base + e.suffix);
  }
}

}  // namespace

void tessel::computeDisplacementMaps() {
  const Parameters p = readParameters();
  const std::vector<tsl::SdmDocument> documents = tsl::loadMotionDocuments(p.motionFile, &log());
  // Every document is checked before anything is shown or added to the run.
  for (const tsl::SdmDocument& motion : documents) {
    tsl::checkMotionDocument(motion);
    if (p.plotDetrended) tsl::requireDetrendable(motion);
  }

  const RunGeometry run = currentRunGeometry();
  const float extent[3] = {static_cast<float>(run.dims.x) * run.voxelSize[0],
                           static_cast<float>(run.dims.y) * run.voxelSize[1],
                           static_cast<float>(run.dims.z) * run.voxelSize[2]};
  log() << tsl::kDisplayName << ">  FMR size voxels: " << run.dims.x << " x " << run.dims.y
        << " x " << run.dims.z << std::flush;

  const std::vector<std::int32_t> mask = readMask(run, p.threshold);

  for (const tsl::SdmDocument& motion : documents) {
    const tsl::SdmDocument copy = motion;
    plotMotion(copy, p);
    log() << tsl::kDisplayName << ">  Start calculating voxel specific motion in "
          << copy.NrOfDataPoints.value << " volumes" << std::flush;
    const tsl::MaskedMeasures measures = tsl::computeMaskedDisplacement(mask, run.dims, extent, copy);
    log() << tsl::kDisplayName << ">  Saving Maps" << std::flush;
    exportSelected(measures, mask, run.dims, p, tsl::stripExtension(copy.path));
  }
}
