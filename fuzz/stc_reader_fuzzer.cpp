// Fuzz target of the STC data reader. The header is the target's own, one of a
// few fixed layouts chosen by the first input byte; the rest of the input is
// the STC file. A run that reads must hold exactly what an independent decoding
// of the bytes gives, voxel by voxel, and the first-volume reader must agree
// with the first volume of the whole run.
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "fmr/fmr_header.h"
#include "fmr/stc_reader.h"
#include "fuzz/fuzz_findings.h"

namespace {

constexpr std::size_t kMaxInputBytes = 4 * 1024;

struct Layout {
  int volumes, slices, columns, rows, dataType;
};

// Both encodings, a single voxel, an uneven grid, and a run without volumes.
constexpr std::array<Layout, 5> kLayouts{{
    {3, 2, 2, 2, 1},
    {3, 2, 2, 2, 2},
    {1, 1, 1, 1, 1},
    {2, 1, 3, 2, 2},
    {0, 2, 2, 2, 1},
}};

std::string headerText(const Layout& layout) {
  return "FileVersion:          7\n"
         "NrOfVolumes:          " +
         std::to_string(layout.volumes) +
         "\n"
         "NrOfSlices:           " +
         std::to_string(layout.slices) +
         "\n"
         "Prefix:               \"run\"\n"
         "DataType:             " +
         std::to_string(layout.dataType) +
         "\n"
         "ResolutionX:          " +
         std::to_string(layout.columns) +
         "\n"
         "ResolutionY:          " +
         std::to_string(layout.rows) + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInputBytes) return -1;
  const Layout& layout = kLayouts[data[0] % kLayouts.size()];
  const std::string_view stcBytes = tsl::fuzz::bytesOf(data + 1, size - 1);
  tsl::FmrFileHeader header = tsl::parseFmrFileHeader(headerText(layout), "run.fmr");
  try {
    tsl::readStcData(header, stcBytes);
  } catch (const std::exception& error) {
    tsl::fuzz::checkRefusal(error, "run.");
    return 0;
  }
  const bool floats = layout.dataType == 2;
  const std::size_t voxels = static_cast<std::size_t>(layout.slices) * layout.rows * layout.columns;
  const std::size_t needed = voxels * static_cast<std::size_t>(layout.volumes) * (floats ? 4 : 2);
  if (size - 1 < needed) tsl::fuzz::fail("a short STC file was read");
  if (header.voxelData.size() != static_cast<std::size_t>(layout.volumes))
    tsl::fuzz::fail("wrong number of volumes");
  const std::uint8_t* stc = data + 1;
  for (int t = 0; t < layout.volumes; ++t) {
    const auto& volume = header.voxelData[static_cast<std::size_t>(t)];
    if (volume.dim.x != layout.columns || volume.dim.y != layout.rows ||
        volume.dim.z != layout.slices) {
      tsl::fuzz::fail("volume of the wrong grid");
    }
    for (int z = 0; z < layout.slices; ++z) {
      for (int y = 0; y < layout.rows; ++y) {
        for (int x = 0; x < layout.columns; ++x) {
          const std::size_t fileIndex =
              ((static_cast<std::size_t>(z) * layout.volumes + t) * layout.rows + y) *
                  layout.columns +
              x;
          const std::size_t voxel =
              (static_cast<std::size_t>(z) * layout.rows + y) * layout.columns + x;
          if (!tsl::fuzz::sameBits(volume[voxel], tsl::fuzz::stcValueAt(stc, fileIndex, floats))) {
            tsl::fuzz::fail("voxel value differs from the file");
          }
        }
      }
    }
  }
  if (layout.volumes == 0) return 0;
  try {
    const tsl::Volume first = tsl::readFirstVolume(header, stcBytes);
    const auto& whole = header.voxelData.front();
    if (!(first.dim == whole.dim) || first.size() != whole.size())
      tsl::fuzz::fail("first volume of the wrong grid");
    for (std::size_t i = 0; i < first.size(); ++i) {
      if (!tsl::fuzz::sameBits(first[i], whole[i]))
        tsl::fuzz::fail("first volume differs from the run's");
    }
  } catch (const std::exception& error) {
    tsl::fuzz::fail(std::string("first volume refused where the run reads: ") + error.what());
  }
  return 0;
}
