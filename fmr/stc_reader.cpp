#include "fmr/stc_reader.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/path_functions.h"

namespace tsl {
namespace {

constexpr int kFloatDataType = 2;
constexpr std::size_t kFloatBytes = 4;
constexpr std::size_t kInt16Bytes = 2;
// Images are read a block of this many bytes at a time (at least one image).
constexpr std::size_t kReadBlockBytes = std::size_t{1} << 20;

// The file's shape as the header announces it, checked before anything is
// allocated.
struct StcLayout {
  std::string path;
  Dim3 dims;
  std::size_t volumes = 0;
  bool floats = false;
  std::size_t imageValues = 0;  // values per image: ResolutionX * ResolutionY
  std::uint64_t expectedBytes = 0;

  std::size_t bytesPerValue() const { return floats ? kFloatBytes : kInt16Bytes; }
  std::size_t imageBytes() const { return imageValues * bytesPerValue(); }
};

// The reading stopped at a value it could not read: that value is the
// problem to report when it is one the data need, or when a needed entry is
// missing because the reading stopped before it.
void requireEntry(const FmrFileHeader& header, bool present, const char* key) {
  const auto& unread = header.unreadValue;
  if (unread && (!present || unread->key == key))
    throw IOError("FMR file " + header.path + ": " + unread->problem);
  if (!present) throw IOError("FMR file " + header.path + ": " + key + " is missing");
}

int requireCount(const FmrFileHeader& header, const HeaderField<int>& field, const char* key) {
  requireEntry(header, field.present, key);
  if (field.value < 0) {
    throw IOError("FMR file " + header.path + ": " + key + " is negative (" +
                  std::to_string(field.value) + ")");
  }
  return field.value;
}

StcLayout layoutOf(const FmrFileHeader& header) {
  const int volumes = requireCount(header, header.NrOfVolumes, "NrOfVolumes");
  const int slices = requireCount(header, header.NrOfSlices, "NrOfSlices");
  const int columns = requireCount(header, header.ResolutionX, "ResolutionX");
  const int rows = requireCount(header, header.ResolutionY, "ResolutionY");
  requireEntry(header, header.Prefix.present, "Prefix");
  // An absent DataType means 16-bit values; an unreadable one names no type.
  requireEntry(header, true, "DataType");

  const std::int64_t voxels = std::int64_t{columns} * rows * slices;
  const std::string grid = "a volume of " + std::to_string(columns) + " x " + std::to_string(rows) +
                           " x " + std::to_string(slices) + " voxels";
  if (voxels > std::numeric_limits<std::int32_t>::max()) {
    throw IOError("FMR file " + header.path + ": " + grid + " is too large");
  }
  // Empty volumes take no byte of the file, so its size would not bound how
  // many of them are made.
  if (voxels == 0) throw IOError("FMR file " + header.path + ": " + grid + " holds no voxel");
  StcLayout layout;
  layout.path = stcPathOf(header);
  layout.dims = Dim3{columns, rows, slices};
  layout.volumes = static_cast<std::size_t>(volumes);
  layout.floats = header.DataType.present && header.DataType.value == kFloatDataType;
  layout.imageValues = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
  // At most (2^31 - 1)^2 * 4 bytes: fits in 64 bits.
  layout.expectedBytes = static_cast<std::uint64_t>(voxels) * static_cast<std::uint64_t>(volumes) *
                         layout.bytesPerValue();
  return layout;
}

std::string describeSize(const FmrFileHeader& header, const StcLayout& layout) {
  return std::to_string(header.NrOfSlices.value) + " slices x " +
         std::to_string(header.NrOfVolumes.value) + " volumes x " +
         std::to_string(header.ResolutionY.value) + " rows x " +
         std::to_string(header.ResolutionX.value) + " columns x " +
         std::to_string(layout.bytesPerValue()) + " bytes";
}

// The STC file's size must be the one its header announces.
void checkSize(const FmrFileHeader& header, const StcLayout& layout, std::uint64_t size) {
  if (size != layout.expectedBytes) {
    throw IOError("STC file " + layout.path + " holds " + std::to_string(size) +
                  " bytes, but its header " + header.path + " announces " +
                  std::to_string(layout.expectedBytes) + " bytes (" + describeSize(header, layout) +
                  ")");
  }
}

// The bytes of an STC file whose size has been checked against the layout:
// the file itself, or its bytes in memory.
class StcSource {
 public:
  virtual ~StcSource() = default;
  // Moves to byte offset of the file. REQUIRES: offset <= the file's size.
  virtual void seek(std::uint64_t offset) = 0;
  // The next count bytes; throws IOError naming the STC file when they
  // cannot be read.
  virtual void read(char* bytes, std::size_t count) = 0;
};

// glibc opens a folder for reading, and seeking to its end then reports a
// size of 2^63 - 1 bytes; a folder is an STC file that does not open.
bool isFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

// The open STC file.
class StcFile final : public StcSource {
 public:
  StcFile(const FmrFileHeader& header, const StcLayout& layout)
      : path_(layout.path), in_(layout.path, std::ios::binary) {
    if (!in_ || isFolder(path_)) throw OpenFileError("Failed opening STC for reading: " + path_);
    in_.seekg(0, std::ios::end);
    const std::streamoff size = in_.tellg();
    in_.seekg(0, std::ios::beg);
    if (size < 0 || !in_) throw IOError("Failed reading STC file: " + path_);
    checkSize(header, layout, static_cast<std::uint64_t>(size));
  }

  void seek(std::uint64_t offset) override {
    in_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    if (!in_) throw IOError("Failed reading STC file: " + path_);
  }

  void read(char* bytes, std::size_t count) override {
    in_.read(bytes, static_cast<std::streamsize>(count));
    if (static_cast<std::size_t>(in_.gcount()) != count) {
      throw IOError("Failed reading STC file: " + path_);
    }
  }

 private:
  std::string path_;
  std::ifstream in_;
};

// The STC file's bytes in memory.
class StcBytes final : public StcSource {
 public:
  StcBytes(const FmrFileHeader& header, const StcLayout& layout, std::string_view bytes)
      : path_(layout.path), bytes_(bytes) {
    checkSize(header, layout, bytes.size());
  }

  // Kept within the bytes, so that read's bound cannot wrap around.
  void seek(std::uint64_t offset) override {
    at_ = static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes_.size()));
  }

  void read(char* bytes, std::size_t count) override {
    if (count > bytes_.size() - at_) throw IOError("Failed reading STC file: " + path_);
    std::copy_n(bytes_.data() + at_, count, bytes);
    at_ += count;
  }

 private:
  std::string path_;
  std::string_view bytes_;
  std::size_t at_ = 0;
};

// Little-endian values to floats, assembled byte by byte so that the result
// does not depend on this machine's byte order.
void decode(const char* bytes, std::size_t count, bool floats, float* out) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  if (floats) {
    for (std::size_t i = 0; i < count; ++i, b += kFloatBytes) {
      const std::uint32_t bits = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                 std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
      out[i] = std::bit_cast<float>(bits);
    }
  } else {
    for (std::size_t i = 0; i < count; ++i, b += kInt16Bytes) {
      const auto raw = static_cast<std::uint16_t>(b[0] | b[1] << 8);
      out[i] = static_cast<float>(static_cast<std::int16_t>(raw));
    }
  }
}

// The whole run, every volume in time order.
std::vector<Volume> readRun(const StcLayout& layout, StcSource& source) {
  std::vector<Volume> data;
  data.reserve(layout.volumes);
  for (std::size_t t = 0; t < layout.volumes; ++t) data.emplace_back(layout.dims);

  const std::size_t imageBytes = layout.imageBytes();
  if (imageBytes > 0 && layout.volumes > 0) {
    const std::size_t imagesPerBlock = std::max<std::size_t>(1, kReadBlockBytes / imageBytes);
    std::vector<char> block(std::min(imagesPerBlock, layout.volumes) * imageBytes);
    // The file is slice-major: each slice's images of every time point in turn.
    for (std::size_t z = 0; z < static_cast<std::size_t>(layout.dims.z); ++z) {
      for (std::size_t first = 0; first < layout.volumes; first += imagesPerBlock) {
        const std::size_t images = std::min(imagesPerBlock, layout.volumes - first);
        source.read(block.data(), images * imageBytes);
        for (std::size_t i = 0; i < images; ++i) {
          decode(block.data() + i * imageBytes, layout.imageValues, layout.floats,
                 data[first + i].data() + z * layout.imageValues);
        }
      }
    }
  }
  return data;
}

// The layout of a run that has a first volume.
StcLayout firstVolumeLayoutOf(const FmrFileHeader& header) {
  StcLayout layout = layoutOf(header);
  if (layout.volumes == 0) {
    throw IOError("FMR file " + header.path + ": NrOfVolumes is 0, the run has no first volume");
  }
  return layout;
}

// The first image of every slice.
Volume readFirstImages(const StcLayout& layout, StcSource& source) {
  Volume volume(layout.dims);
  const std::size_t imageBytes = layout.imageBytes();
  std::vector<char> image(imageBytes);
  const std::uint64_t sliceBytes = std::uint64_t{imageBytes} * layout.volumes;
  for (std::size_t z = 0; z < static_cast<std::size_t>(layout.dims.z); ++z) {
    source.seek(z * sliceBytes);
    source.read(image.data(), imageBytes);
    decode(image.data(), layout.imageValues, layout.floats, volume.data() + z * layout.imageValues);
  }
  return volume;
}

}  // namespace

std::string stcPathOf(const FmrFileHeader& header) {
  return directoryOf(header.path) + header.Prefix.value + ".stc";
}

void readStcData(FmrFileHeader& header) {
  const StcLayout layout = layoutOf(header);
  StcFile file(header, layout);
  header.voxelData = readRun(layout, file);
}

void readStcData(FmrFileHeader& header, std::string_view stcBytes) {
  const StcLayout layout = layoutOf(header);
  StcBytes bytes(header, layout, stcBytes);
  header.voxelData = readRun(layout, bytes);
}

Volume readFirstVolume(const FmrFileHeader& header) {
  const StcLayout layout = firstVolumeLayoutOf(header);
  StcFile file(header, layout);
  return readFirstImages(layout, file);
}

Volume readFirstVolume(const FmrFileHeader& header, std::string_view stcBytes) {
  const StcLayout layout = firstVolumeLayoutOf(header);
  StcBytes bytes(header, layout, stcBytes);
  return readFirstImages(layout, bytes);
}

}  // namespace tsl
