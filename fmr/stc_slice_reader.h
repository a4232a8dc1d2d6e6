// A run's STC file read one slice at a time. The file keeps each slice's
// whole time series in one block, so a measure of the signal can walk the run
// slice by slice and hold about one slice's series, whatever the run's size.
#ifndef TESSEL_FMR_STC_SLICE_READER_H
#define TESSEL_FMR_STC_SLICE_READER_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fmr/fmr_header.h"
#include "motion/volume.h"

namespace tsl {

struct StcLayout;
class StcSource;

class StcSliceReader {
 public:
  // Opens the STC file of header (stcPathOf) and keeps it open for the
  // reader's life. Throws what readStcData throws before it reads a value,
  // with the same texts: IOError naming the FMR file for a missing, negative
  // or unreadable entry and for an empty or too large volume, OpenFileError
  // ("Failed opening STC for reading: " + STC path), and IOError naming the
  // STC file and both sizes when its size is not the one announced.
  explicit StcSliceReader(const FmrFileHeader& header);
  // The same over the STC file's bytes in memory, named stcPathOf(header) in
  // every message. stcBytes must outlive the reader.
  StcSliceReader(const FmrFileHeader& header, std::string_view stcBytes);
  ~StcSliceReader();
  StcSliceReader(StcSliceReader&&) noexcept;
  StcSliceReader& operator=(StcSliceReader&&) noexcept;

  // (ResolutionX, ResolutionY, NrOfSlices).
  Dim3 dims() const;
  std::size_t volumes() const;      // NrOfVolumes
  std::size_t imageValues() const;  // values per image: ResolutionX * ResolutionY
  // True for 32-bit float data (DataType 2); otherwise the values are 16-bit
  // integers, read as the floats -32768 ... 32767.
  bool holdsFloats() const;
  const std::string& stcPath() const;

  // Replaces series with slice z's images of the volumes first ... first +
  // count - 1, in time order: the value of voxel (x, y) in volume first + i
  // is series[i * imageValues() + y * ResolutionX + x]. The reader needs no
  // more memory than series.
  //
  // Throws std::invalid_argument when z is not a slice of the run or the
  // volumes go past its last one; IOError ("Failed reading STC file: " + STC
  // path) when the bytes cannot be read; for float data, IOError ("STC file
  // <stc>: slice 3, volume 17 holds a value that is not a finite number",
  // slice and volume counted from 0, the first such value) when a value read
  // is a NaN or an infinity. On an error series holds no defined values.
  void readImages(std::size_t z, std::size_t first, std::size_t count, std::vector<float>& series);

  // readImages(z, 0, volumes(), series): the slice's whole time series.
  void readSlice(std::size_t z, std::vector<float>& series);

  // The first image of every slice: the run's first volume, checked and
  // refused as readImages does. Throws IOError naming the FMR file when the
  // run has no volume ("FMR file <fmr>: NrOfVolumes is 0, the run has no
  // first volume").
  Volume readFirstVolume();

 private:
  std::string fmrPath_;
  std::unique_ptr<StcLayout> layout_;
  std::unique_ptr<StcSource> source_;
  std::vector<char> block_;  // raw bytes of a few images
};

}  // namespace tsl

#endif
