// Writers of a functional run in the host's own layout: the text header file
// (.fmr) and the slice time-course data file (.stc). Used by the sample-study
// generator, the benchmarks and the tests; the plug-in itself never writes
// these files.
#ifndef TESSEL_EXAMPLES_RUN_FILE_WRITER_H
#define TESSEL_EXAMPLES_RUN_FILE_WRITER_H

#include <functional>
#include <string>
#include <vector>

namespace tsl {

// What a header file describes. The defaults are a small but complete run.
struct FmrLayout {
  int fileVersion = 7;
  int volumes = 10;             // NrOfVolumes
  int slices = 4;               // NrOfSlices
  int resolutionX = 8;          // ResolutionX: values per image row
  int resolutionY = 8;          // ResolutionY: rows per image
  std::string prefix = "run1";  // base name of the .stc file beside the header
  bool quotedPrefix = true;     // the host writes the Prefix between double quotes
  int dataType = 1;             // 1: 16-bit integers, 2: 32-bit floats
  int dataStorageFormat = 1;
  int tr = 2000;           // milliseconds
  int interSliceTime = 0;  // 0: tr / slices
  int te = 30;
  int sliceAcquisitionOrder = 1;
  float inplaneResolutionX = 3.0f;  // millimetres
  float inplaneResolutionY = 3.0f;
  float sliceThickness = 3.0f;
  float sliceGap = 0.5f;
  // Slice acquisition times in milliseconds; empty: one per slice, spaced by
  // the inter-slice time.
  std::vector<float> sliceTiming;
  // One past spatial transformation (a motion correction) is listed when set.
  bool pastTransformation = true;
  bool crlf = true;  // line ends of the host's platform
};

// The header text of run, with the host's keys in the host's order and key
// columns: the main entries, the position block, the past spatial
// transformations, the slice timing table and the lines that follow it.
std::string fmrHeaderText(const FmrLayout& run);

// Writes fmrHeaderText(run) to path, complete or not at all. Throws
// std::runtime_error naming the path when the file cannot be written.
void writeFmrHeader(const std::string& path, const FmrLayout& run);

// Writes an STC file: for each slice z, each time point t, each row y, each
// column x, value(x, y, z, t) as a little-endian 32-bit float (float32) or as a
// little-endian 16-bit signed integer (rounded to nearest, clamped to
// -32768..32767). Complete or not at all; throws std::runtime_error naming the
// path on failure.
void writeStc(const std::string& path, int dimX, int dimY, int slices, int volumes,
              const std::function<float(int x, int y, int z, int t)>& value, bool float32);

}  // namespace tsl

#endif
