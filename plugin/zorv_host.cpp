#include "plugin/zorv_host.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/path_functions.h"
#include "plugin/assertion.h"
#include "plugin/file_stamp.h"
#include "plugin/host_api.h"
#include "plugin/host_functions.h"
#include "plugin/zorv_log.h"

namespace tsl {
namespace {

// Map settings the host reads: 1 at the type's place is the kind of map the
// plug-in makes; no cluster threshold.
constexpr std::int32_t kMapType = 1;
constexpr std::uint32_t kClusterSize = 0;

// How every plot of the plug-in looks.
constexpr int kPlotLineSize = 2;
constexpr int kPlotLegend1 = 1;
constexpr int kPlotLegend2 = 3;
constexpr int kColorTheme = 1;
constexpr int kLineStyle = 0;
constexpr int kPlotWidth = 800;
constexpr int kPlotHeight = 350;
constexpr int kPlotLeft = 50;
constexpr int kPlotTop = 50;

template <typename T>
T readAt(const char* record, std::size_t offset) {
  T value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

template <typename T>
void writeAt(char* record, std::size_t offset, T value) {
  std::memcpy(record + offset, &value, sizeof value);
}

// The map's grid as the host reports it, under the names the checks show.
struct MapHeader {
  std::int32_t DimX, DimY, DimZ;
};

// Truncation of m + 1 toward zero, for a non-negative m that is not
// not-a-number; beyond the int range the conversion would be undefined.
int boundOf(float m) {
  const float above = m + 1.0f;
  if (above >= 2147483648.0f) return std::numeric_limits<int>::max();
  return static_cast<int>(above);
}

void requirePlottable(const SdmDocument& doc, std::size_t count, std::size_t predictors) {
  if (doc.columns.size() < predictors || doc.names.size() < predictors ||
      doc.red.size() < predictors || doc.green.size() < predictors ||
      doc.blue.size() < predictors) {
    throw std::runtime_error("SDM document " + doc.path + ": NrOfPredictors is " +
                             std::to_string(predictors) + " but it holds " +
                             std::to_string(doc.columns.size()) + " predictors");
  }
  for (std::size_t i = 0; i < predictors; ++i) {
    if (doc.columns[i].size() < count) {
      throw std::runtime_error("SDM document " + doc.path + ": predictor " + std::to_string(i + 1) +
                               " holds " + std::to_string(doc.columns[i].size()) +
                               " values, expected " + std::to_string(count));
    }
  }
}

}  // namespace

std::string ZorvHost::textParameter(const char* name) { return zr::getStringParameter(name); }
int ZorvHost::intParameter(const char* name) { return zr::getIntParameter(name); }
float ZorvHost::floatParameter(const char* name) { return zr::getFloatParameter(name); }

void ZorvHost::setMotionFile(const std::string& path) { zr::setStringParameter("sdmfile", path); }

std::optional<std::string> ZorvHost::chooseFile(const std::string& caption,
                                                const std::string& initialFolder,
                                                const std::string& filter) {
  std::string chosen;
  if (!zr::getOpenFileName(caption, initialFolder, filter, chosen)) return std::nullopt;
  return chosen;
}

void ZorvHost::logLine(const std::string& message) {
  log_ << kDisplayName << ">  " << message << std::flush;
}

void ZorvHost::showMessage(const std::string& text) { zr::messageBox(text); }

CurrentRun ZorvHost::currentRun() {
  const auto record = zr::getHeaderOfCurrentFMR();
  CurrentRun run;
  const char* text = record.data() + host::kFmrRecordPathOffset;
  run.path.assign(text, std::find(text, text + host::kFmrRecordPathCapacity, '\0'));
  run.volumes = readAt<std::int32_t>(record.data(), host::kFmrRecordVolumesOffset);
  std::int32_t dims[3];
  std::memcpy(dims, record.data() + host::kFmrRecordDimXOffset, sizeof dims);
  run.dims = Dim3{dims[0], dims[1], dims[2]};
  std::memcpy(run.voxelSize.data(), record.data() + host::kFmrRecordVoxelSizeXOffset,
              sizeof(float) * run.voxelSize.size());
  return run;
}

void ZorvHost::addMap(const Volume& volume, float lower, float upper) {
  zr::createMAPForCurrentFMR();
  std::array<char, host::kMapHeaderRecordSize> record{};
  float** const slices = zr::getMAPOfCurrentFMR(record.data());
  const MapHeader header{readAt<std::int32_t>(record.data(), host::kMapDimXOffset),
                         readAt<std::int32_t>(record.data(), host::kMapDimXOffset + 4),
                         readAt<std::int32_t>(record.data(), host::kMapDimXOffset + 8)};
  const Dim3& dim = volume.dim;
  TESSEL_CHECK_AT(slices != nullptr, "tessel", 52, "slices != nullptr");
  TESSEL_CHECK_AT(dim.z == header.DimZ, "tessel", 53, "dim.z == header.DimZ");
  TESSEL_CHECK_AT(dim.y == header.DimY, "tessel", 54, "dim.y == header.DimY");
  TESSEL_CHECK_AT(dim.x == header.DimX, "tessel", 55, "dim.x == header.DimX");

  const std::size_t sliceSize = static_cast<std::size_t>(dim.x) * static_cast<std::size_t>(dim.y);
  for (std::int32_t z = 0; z < dim.z; ++z) {
    float* const slice = slices[z];
    if (slice == nullptr) {
      throw std::runtime_error("The host's new map has no data for slice " + std::to_string(z));
    }
    std::memcpy(slice, volume.data() + static_cast<std::size_t>(z) * sliceSize,
                sliceSize * sizeof(float));
  }

  writeAt(record.data(), host::kMapTypeOffset, kMapType);
  writeAt(record.data(), host::kMapLowerValueOffset, lower);
  writeAt(record.data(), host::kMapUpperValueOffset, upper);
  writeAt(record.data(), host::kMapClusterSizeOffset, kClusterSize);
  zr::setMAPParametersOfCurrentFMR(record.data());
}

// The host's save call reports nothing; the file itself tells whether the
// host wrote it.
void ZorvHost::saveMaps(const std::string& path) {
  const FileStamp before = stampOf(path);
  zr::saveMAPsOfCurrentFMR(path);
  const FileStamp after = stampOf(path);
  if (!after.regularFile || after == before) throw IOError("Failed writing file: " + path);
}

void ZorvHost::plot(const SdmDocument& doc, const std::string& titleSuffix) {
  const int n = doc.NrOfDataPoints.value;
  const int p = doc.NrOfPredictors.value;
  if (n <= 0 || p <= 0) return;
  const auto count = static_cast<std::size_t>(n);
  const auto predictors = static_cast<std::size_t>(p);
  requirePlottable(doc, count, predictors);

  std::vector<float> volumes(count);
  volumes[0] = 1.0f;
  for (std::size_t k = 1; k < count; ++k) volumes[k] = volumes[k - 1] + 1.0f;

  const ZrPlot plot = zr::plotLine(n, volumes.data(), doc.columns[0].data(), doc.names[0]);
  zr::setPlotColorTheme(plot, kColorTheme);
  int bound = 0;
  for (std::size_t i = 0; i < predictors; ++i) {
    const std::vector<float>& values = doc.columns[i];
    if (i > 0) zr::addLineToPlot(plot, n, volumes.data(), values.data(), doc.names[i]);
    zr::setPlotLineSizeAndColor(plot, static_cast<int>(i), kPlotLineSize, doc.red[i], doc.green[i],
                                doc.blue[i], kLineStyle);
    bool seen = false;
    float smallest = 0.0f;
    float largest = 0.0f;
    for (std::size_t k = 0; k < count; ++k) {
      const float v = values[k];
      if (std::isnan(v)) continue;
      if (!seen || v < smallest) smallest = v;
      if (!seen || v > largest) largest = v;
      seen = true;
    }
    if (!seen) continue;
    const float m = largest > -smallest ? largest : -smallest;
    const int c = boundOf(m);
    if (c > bound) bound = c;
  }
  zr::showPlotLegend(plot, kPlotLegend1, kPlotLegend2);
  zr::setPlotTitle(plot, fileNameOf(doc.path) + titleSuffix);
  zr::resizePlot(plot, kPlotWidth, kPlotHeight);
  zr::setPlotYAxisRange(plot, static_cast<float>(-bound), static_cast<float>(bound));
  zr::showPlotAtPosition(plot, kPlotLeft, kPlotTop);
}

}  // namespace tsl
