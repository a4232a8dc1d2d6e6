#include "signal/non_steady_state.h"

#include <algorithm>
#include <cmath>

#include "fmr/stc_slice_reader.h"
#include "signal/series_statistics.h"

namespace tsl {
namespace {

std::vector<double> meansOf(StcSliceReader& reader) {
  const std::size_t volumes = std::min(kNonSteadyStateWindow, reader.volumes());
  const std::size_t pixels = reader.imageValues();
  std::vector<double> sums(volumes, 0.0);
  std::vector<float> images;
  for (std::size_t z = 0; z < static_cast<std::size_t>(reader.dims().z); ++z) {
    reader.readImages(z, 0, volumes, images);
    for (std::size_t t = 0; t < volumes; ++t) {
      const float* image = images.data() + t * pixels;
      double sum = 0.0;
      for (std::size_t i = 0; i < pixels; ++i) sum += image[i];
      sums[t] += sum;
    }
  }
  const double voxels = static_cast<double>(pixels) * reader.dims().z;
  for (double& sum : sums) sum /= voxels;
  return sums;
}

}  // namespace

std::size_t leadingOutliers(const std::vector<double>& means) {
  if (means.empty()) return 0;
  const double median = medianOf(means);
  std::vector<double> deviations;
  deviations.reserve(means.size());
  for (const double g : means) deviations.push_back(std::abs(g - median));
  const double deviation = medianOf(deviations);
  // nipype divides by it and counts the NaN scores as outliers too.
  if (deviation == 0.0) return 0;
  std::size_t leading = 0;
  while (leading < means.size() &&
         kModifiedZScoreFactor * deviations[leading] / deviation > kOutlierScore) {
    ++leading;
  }
  return leading;
}

std::vector<double> leadingVolumeMeans(const FmrFileHeader& header) {
  StcSliceReader reader(header);
  return meansOf(reader);
}

std::vector<double> leadingVolumeMeans(const FmrFileHeader& header, std::string_view stcBytes) {
  StcSliceReader reader(header, stcBytes);
  return meansOf(reader);
}

std::size_t detectNonSteadyStateVolumes(const FmrFileHeader& header) {
  return leadingOutliers(leadingVolumeMeans(header));
}

std::size_t detectNonSteadyStateVolumes(const FmrFileHeader& header, std::string_view stcBytes) {
  return leadingOutliers(leadingVolumeMeans(header, stcBytes));
}

}  // namespace tsl
