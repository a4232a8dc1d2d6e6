// Fuzz target of the STC slice reader and of the measures that read a run
// through it. The header is the target's own: the first input byte chooses
// one of a few fixed layouts and a mask threshold; the rest of the input is
// the STC file. Every slice, and a stretch of each, must hold exactly what an
// independent decoding of the bytes gives, or be refused at the first value
// that is not a finite number with the message naming its slice and volume.
// DVARS and the non-steady-state means must refuse with a message naming the
// run, or give finite numbers.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "fmr/fmr_header.h"
#include "fmr/stc_slice_reader.h"
#include "fuzz/fuzz_findings.h"
#include "signal/dvars.h"
#include "signal/non_steady_state.h"

namespace {

constexpr std::size_t kMaxInputBytes = 4 * 1024;

struct Layout {
  int volumes, slices, columns, rows, dataType;
};

// Both encodings, a single voxel, an uneven grid, a run without volumes, one
// longer than the detection's window.
constexpr std::array<Layout, 6> kLayouts{{
    {5, 2, 2, 2, 1},
    {5, 1, 3, 2, 2},
    {3, 2, 2, 1, 1},
    {1, 1, 1, 1, 2},
    {0, 2, 2, 2, 1},
    {60, 1, 2, 1, 2},
}};
constexpr std::array<float, 4> kThresholds{-1e30f, 0.0f, 100.0f, 30000.0f};

std::string headerText(const Layout& layout) {
  return "NrOfVolumes: " + std::to_string(layout.volumes) +
         "\nNrOfSlices: " + std::to_string(layout.slices) +
         "\nPrefix: \"run\"\nDataType: " + std::to_string(layout.dataType) +
         "\nResolutionX: " + std::to_string(layout.columns) +
         "\nResolutionY: " + std::to_string(layout.rows) + "\n";
}

// Reads volumes first ... first + count - 1 of slice z and checks them
// against the bytes.
void checkStretch(tsl::StcSliceReader& reader, const Layout& layout, const std::uint8_t* stc,
                  std::size_t z, std::size_t first, std::size_t count) {
  const bool floats = layout.dataType == 2;
  const std::size_t pixels = static_cast<std::size_t>(layout.columns) * layout.rows;
  const auto volumes = static_cast<std::size_t>(layout.volumes);
  std::string refusal;
  for (std::size_t t = first; t < first + count && refusal.empty(); ++t) {
    for (std::size_t p = 0; p < pixels; ++p) {
      if (!std::isfinite(tsl::fuzz::stcValueAt(stc, (z * volumes + t) * pixels + p, floats))) {
        refusal = "STC file run.stc: slice " + std::to_string(z) + ", volume " + std::to_string(t) +
                  " holds a value that is not a finite number";
        break;
      }
    }
  }
  std::vector<float> series;
  try {
    reader.readImages(z, first, count, series);
  } catch (const std::exception& error) {
    if (refusal != error.what()) tsl::fuzz::fail(std::string("wrong refusal: ") + error.what());
    return;
  }
  if (!refusal.empty()) tsl::fuzz::fail("not refused: " + refusal);
  if (series.size() != count * pixels) tsl::fuzz::fail("wrong number of values");
  for (std::size_t i = 0; i < series.size(); ++i) {
    const std::size_t t = first + i / pixels;
    if (!tsl::fuzz::sameBits(
            series[i],
            tsl::fuzz::stcValueAt(stc, (z * volumes + t) * pixels + i % pixels, floats))) {
      tsl::fuzz::fail("value differs from the file");
    }
  }
}

void checkMeasures(const tsl::FmrFileHeader& header, std::string_view stcBytes, float threshold) {
  try {
    const tsl::DvarsSeries d = tsl::computeDvars(header, threshold, stcBytes);
    if (d.voxels == 0 || !(d.median > 0.0) || d.dvars.size() != d.stdDvars.size())
      tsl::fuzz::fail("DVARS without voxels, median or volumes");
    for (std::size_t t = 0; t < d.dvars.size(); ++t) {
      if (!std::isfinite(d.dvars[t]) || !std::isfinite(d.stdDvars[t]) || d.dvars[t] < 0.0)
        tsl::fuzz::fail("DVARS not a finite, non-negative number");
    }
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "run.");
  }
  try {
    for (const double mean : tsl::leadingVolumeMeans(header, stcBytes)) {
      if (!std::isfinite(mean)) tsl::fuzz::fail("volume mean not a finite number");
    }
    tsl::detectNonSteadyStateVolumes(header, stcBytes);
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "run.");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInputBytes) return -1;
  const Layout& layout = kLayouts[data[0] % kLayouts.size()];
  const float threshold = kThresholds[(data[0] / kLayouts.size()) % kThresholds.size()];
  const std::string_view stcBytes = tsl::fuzz::bytesOf(data + 1, size - 1);
  const tsl::FmrFileHeader header = tsl::parseFmrFileHeader(headerText(layout), "run.fmr");
  checkMeasures(header, stcBytes, threshold);
  try {
    tsl::StcSliceReader reader(header, stcBytes);
    const std::size_t needed = static_cast<std::size_t>(layout.slices) * layout.rows *
                               layout.columns * layout.volumes * (layout.dataType == 2 ? 4 : 2);
    if (size - 1 != needed) tsl::fuzz::fail("an STC file of the wrong size was opened");
    const auto volumes = static_cast<std::size_t>(layout.volumes);
    for (std::size_t z = 0; z < static_cast<std::size_t>(layout.slices); ++z) {
      checkStretch(reader, layout, data + 1, z, 0, volumes);
      if (volumes > 1) checkStretch(reader, layout, data + 1, z, volumes / 2, (volumes + 1) / 2);
    }
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "run.");
  }
  return 0;
}
