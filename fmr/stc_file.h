// What the readers of a run's STC file share: the file's shape as its header
// announces it, checked before anything is allocated, and its bytes, from the
// file or from memory, checked against that shape. Internal to fmr/.
#ifndef TESSEL_FMR_STC_FILE_H
#define TESSEL_FMR_STC_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fmr/fmr_header.h"
#include "motion/volume.h"

namespace tsl {

inline constexpr int kFloatDataType = 2;
inline constexpr std::size_t kFloatBytes = 4;
inline constexpr std::size_t kInt16Bytes = 2;
// The readers read a block of this many bytes at a time (at least one image).
inline constexpr std::size_t kStcReadBlockBytes = std::size_t{1} << 20;

struct StcLayout {
  std::string path;  // the STC file
  Dim3 dims;
  std::size_t volumes = 0;
  bool floats = false;
  std::size_t imageValues = 0;  // values per image: ResolutionX * ResolutionY
  std::uint64_t expectedBytes = 0;

  std::size_t bytesPerValue() const { return floats ? kFloatBytes : kInt16Bytes; }
  std::size_t imageBytes() const { return imageValues * bytesPerValue(); }
  std::uint64_t sliceBytes() const { return std::uint64_t{imageBytes()} * volumes; }
};

// The layout header announces. Throws IOError naming the FMR file when
// NrOfVolumes, NrOfSlices, ResolutionX, ResolutionY or Prefix is absent, one
// of the counts is negative, the header reader stopped at a value one of them
// (or DataType) needs, or a volume would hold no voxel or more than a 32-bit
// element count (the messages readStcData documents).
StcLayout stcLayoutOf(const FmrFileHeader& header);

// Throws IOError naming fmrPath when the run of layout has no volume, so no
// first volume.
void requireFirstVolume(const StcLayout& layout, const std::string& fmrPath);

// The bytes of an STC file whose size matches its layout.
class StcSource {
 public:
  virtual ~StcSource() = default;
  // Moves to byte offset of the file. REQUIRES: offset <= the file's size.
  virtual void seek(std::uint64_t offset) = 0;
  // The next count bytes; throws IOError ("Failed reading STC file: " + the
  // STC path) when they cannot be read.
  virtual void read(char* bytes, std::size_t count) = 0;
};

// Opens layout.path. Throws OpenFileError ("Failed opening STC for reading: "
// + path) when it does not open or is a folder, and IOError naming the STC
// file, header's file and both sizes when its size is not the one announced.
std::unique_ptr<StcSource> openStcFile(const FmrFileHeader& header, const StcLayout& layout);

// The STC file's bytes in memory, checked as openStcFile checks the file.
// bytes must outlive the source.
std::unique_ptr<StcSource> stcBytesSource(const FmrFileHeader& header, const StcLayout& layout,
                                          std::string_view bytes);

// count little-endian values of the file to floats: 32-bit floats with floats
// set, 16-bit signed integers otherwise.
void decodeStcValues(const char* bytes, std::size_t count, bool floats, float* out);

}  // namespace tsl

#endif
