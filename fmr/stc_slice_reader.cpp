#include "fmr/stc_slice_reader.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "designmatrix/io_error.h"
#include "fmr/stc_file.h"

namespace tsl {
StcSliceReader::StcSliceReader(const FmrFileHeader& header)
    : fmrPath_(header.path), layout_(std::make_unique<StcLayout>(stcLayoutOf(header))) {
  source_ = openStcFile(header, *layout_);
}

StcSliceReader::StcSliceReader(const FmrFileHeader& header, std::string_view stcBytes)
    : fmrPath_(header.path), layout_(std::make_unique<StcLayout>(stcLayoutOf(header))) {
  source_ = stcBytesSource(header, *layout_, stcBytes);
}

StcSliceReader::~StcSliceReader() = default;
StcSliceReader::StcSliceReader(StcSliceReader&&) noexcept = default;
StcSliceReader& StcSliceReader::operator=(StcSliceReader&&) noexcept = default;

Dim3 StcSliceReader::dims() const { return layout_->dims; }
std::size_t StcSliceReader::volumes() const { return layout_->volumes; }
std::size_t StcSliceReader::imageValues() const { return layout_->imageValues; }
bool StcSliceReader::holdsFloats() const { return layout_->floats; }
const std::string& StcSliceReader::stcPath() const { return layout_->path; }

void StcSliceReader::readImages(std::size_t z, std::size_t first, std::size_t count,
                                std::vector<float>& series) {
  const StcLayout& layout = *layout_;
  if (z >= static_cast<std::size_t>(layout.dims.z)) {
    throw std::invalid_argument("STC file " + layout.path + ": no slice " + std::to_string(z) +
                                " in a run of " + std::to_string(layout.dims.z) + " slices");
  }
  if (first > layout.volumes || count > layout.volumes - first) {
    throw std::invalid_argument("STC file " + layout.path + ": volumes " + std::to_string(first) +
                                " to " + std::to_string(first + count) +
                                " (exclusive) exceed its " + std::to_string(layout.volumes) +
                                " volumes");
  }
  series.resize(count * layout.imageValues);
  if (count == 0) return;
  const std::size_t imageBytes = layout.imageBytes();
  const std::size_t imagesPerBlock = std::max<std::size_t>(1, kStcReadBlockBytes / imageBytes);
  block_.resize(std::min(imagesPerBlock, count) * imageBytes);
  source_->seek(z * layout.sliceBytes() + std::uint64_t{first} * imageBytes);
  for (std::size_t done = 0; done < count; done += imagesPerBlock) {
    const std::size_t images = std::min(imagesPerBlock, count - done);
    const std::size_t values = images * layout.imageValues;
    float* out = series.data() + done * layout.imageValues;
    source_->read(block_.data(), images * imageBytes);
    decodeStcValues(block_.data(), values, layout.floats, out);
    if (!layout.floats) continue;
    const float* bad = std::find_if(out, out + values, [](float v) { return !std::isfinite(v); });
    if (bad != out + values) {
      const auto volume = first + done + static_cast<std::size_t>(bad - out) / layout.imageValues;
      throw IOError("STC file " + layout.path + ": slice " + std::to_string(z) + ", volume " +
                    std::to_string(volume) + " holds a value that is not a finite number");
    }
  }
}

void StcSliceReader::readSlice(std::size_t z, std::vector<float>& series) {
  readImages(z, 0, layout_->volumes, series);
}

Volume StcSliceReader::readFirstVolume() {
  requireFirstVolume(*layout_, fmrPath_);
  Volume volume(layout_->dims);
  std::vector<float> image;
  for (std::size_t z = 0; z < static_cast<std::size_t>(layout_->dims.z); ++z) {
    readImages(z, 0, 1, image);
    std::copy(image.begin(), image.end(), volume.data() + z * layout_->imageValues);
  }
  return volume;
}

}  // namespace tsl
