#include "fmr/stc_file.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <limits>

#include "designmatrix/io_error.h"
#include "fmr/stc_reader.h"

namespace tsl {
namespace {

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

}  // namespace

StcLayout stcLayoutOf(const FmrFileHeader& header) {
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

void requireFirstVolume(const StcLayout& layout, const std::string& fmrPath) {
  if (layout.volumes == 0) {
    throw IOError("FMR file " + fmrPath + ": NrOfVolumes is 0, the run has no first volume");
  }
}

std::unique_ptr<StcSource> openStcFile(const FmrFileHeader& header, const StcLayout& layout) {
  return std::make_unique<StcFile>(header, layout);
}

std::unique_ptr<StcSource> stcBytesSource(const FmrFileHeader& header, const StcLayout& layout,
                                          std::string_view bytes) {
  return std::make_unique<StcBytes>(header, layout, bytes);
}

// Assembled byte by byte so that the result does not depend on this
// machine's byte order.
void decodeStcValues(const char* bytes, std::size_t count, bool floats, float* out) {
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

}  // namespace tsl
