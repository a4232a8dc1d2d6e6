#include "fmr/stc_reader.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "designmatrix/path_functions.h"
#include "fmr/stc_file.h"

namespace tsl {
namespace {

// The whole run, every volume in time order.
std::vector<Volume> readRun(const StcLayout& layout, StcSource& source) {
  std::vector<Volume> data;
  data.reserve(layout.volumes);
  for (std::size_t t = 0; t < layout.volumes; ++t) data.emplace_back(layout.dims);

  const std::size_t imageBytes = layout.imageBytes();
  if (imageBytes > 0 && layout.volumes > 0) {
    const std::size_t imagesPerBlock = std::max<std::size_t>(1, kStcReadBlockBytes / imageBytes);
    std::vector<char> block(std::min(imagesPerBlock, layout.volumes) * imageBytes);
    // The file is slice-major: each slice's images of every time point in turn.
    for (std::size_t z = 0; z < static_cast<std::size_t>(layout.dims.z); ++z) {
      for (std::size_t first = 0; first < layout.volumes; first += imagesPerBlock) {
        const std::size_t images = std::min(imagesPerBlock, layout.volumes - first);
        source.read(block.data(), images * imageBytes);
        for (std::size_t i = 0; i < images; ++i) {
          decodeStcValues(block.data() + i * imageBytes, layout.imageValues, layout.floats,
                          data[first + i].data() + z * layout.imageValues);
        }
      }
    }
  }
  return data;
}

// The first image of every slice.
Volume readFirstImages(const StcLayout& layout, StcSource& source) {
  Volume volume(layout.dims);
  const std::size_t imageBytes = layout.imageBytes();
  std::vector<char> image(imageBytes);
  for (std::size_t z = 0; z < static_cast<std::size_t>(layout.dims.z); ++z) {
    source.seek(z * layout.sliceBytes());
    source.read(image.data(), imageBytes);
    decodeStcValues(image.data(), layout.imageValues, layout.floats,
                    volume.data() + z * layout.imageValues);
  }
  return volume;
}

}  // namespace

std::string stcPathOf(const FmrFileHeader& header) {
  return directoryOf(header.path) + header.Prefix.value + ".stc";
}

void readStcData(FmrFileHeader& header) {
  const StcLayout layout = stcLayoutOf(header);
  header.voxelData = readRun(layout, *openStcFile(header, layout));
}

void readStcData(FmrFileHeader& header, std::string_view stcBytes) {
  const StcLayout layout = stcLayoutOf(header);
  header.voxelData = readRun(layout, *stcBytesSource(header, layout, stcBytes));
}

Volume readFirstVolume(const FmrFileHeader& header) {
  const StcLayout layout = stcLayoutOf(header);
  requireFirstVolume(layout, header.path);
  return readFirstImages(layout, *openStcFile(header, layout));
}

Volume readFirstVolume(const FmrFileHeader& header, std::string_view stcBytes) {
  const StcLayout layout = stcLayoutOf(header);
  requireFirstVolume(layout, header.path);
  return readFirstImages(layout, *stcBytesSource(header, layout, stcBytes));
}

}  // namespace tsl
