#include "fmr/stc_slice_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "examples/run_file_writer.h"
#include "fmr/fmr_header.h"
#include "fmr/stc_reader.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

class StcSliceReaderTest : public ::testing::Test {
 protected:
  void writeRun(int columns, int rows, int slices, int volumes, bool floats) {
    FmrLayout layout;
    layout.volumes = volumes;
    layout.slices = slices;
    layout.resolutionX = columns;
    layout.resolutionY = rows;
    layout.dataType = floats ? 2 : 1;
    layout.prefix = "run";
    writeFmrHeader(fmrPath(), layout);
    writeStc(stcPath(), columns, rows, slices, volumes, value, floats);
  }
  static float value(int x, int y, int z, int t) {
    return static_cast<float>((x * 7 + y * 13 + z * 101 + t * 3) % 4001 - 2000);
  }
  std::string fmrPath() const { return dir_.file("run.fmr"); }
  std::string stcPath() const { return dir_.file("run.stc"); }

  TempDir dir_;
};

// Images of 7.5 KB, 300 volumes: a slice spans three read blocks. Whole
// slices and stretches across block ends hold the values written, in both
// encodings, from the file and from its bytes.
TEST_F(StcSliceReaderTest, ReadsSlicesAndStretchesOfThem) {
  constexpr int kColumns = 48, kRows = 40, kSlices = 3, kVolumes = 300;
  for (const bool floats : {false, true}) {
    writeRun(kColumns, kRows, kSlices, kVolumes, floats);
    const FmrFileHeader header = readFmrFileHeader(fmrPath(), false);
    const std::string bytes = readFile(stcPath());
    StcSliceReader file(header);
    StcSliceReader memory(header, bytes);
    EXPECT_EQ(file.dims(), (Dim3{kColumns, kRows, kSlices}));
    EXPECT_EQ(file.volumes(), 300u);
    EXPECT_EQ(file.imageValues(), 1920u);
    EXPECT_EQ(file.holdsFloats(), floats);
    EXPECT_EQ(file.stcPath(), stcPath());
    std::vector<float> series;
    const auto check = [&](StcSliceReader& reader, std::size_t z, std::size_t first,
                           std::size_t count) {
      reader.readImages(z, first, count, series);
      ASSERT_EQ(series.size(), count * 1920);
      int wrong = 0;
      for (std::size_t i = 0; i < count; ++i) {
        for (int y = 0; y < kRows; ++y) {
          for (int x = 0; x < kColumns; ++x) {
            const float expected = value(x, y, static_cast<int>(z), static_cast<int>(first + i));
            if (series[(i * kRows + static_cast<std::size_t>(y)) * kColumns + x] != expected)
              ++wrong;
          }
        }
      }
      EXPECT_EQ(wrong, 0) << "slice " << z << ", volumes " << first << " + " << count;
    };
    for (StcSliceReader* reader : {&file, &memory}) {
      check(*reader, 2, 0, 300);
      check(*reader, 0, 130, 20);  // across the first block's end
      check(*reader, 1, 299, 1);
      check(*reader, 1, 0, 0);
    }
    file.readSlice(1, series);
    EXPECT_EQ(series.size(), 300u * 1920u);
    EXPECT_EQ(series[1920 * 299 + 47], value(47, 0, 1, 299));
    const Volume first = memory.readFirstVolume();
    EXPECT_EQ(first.dim, (Dim3{kColumns, kRows, kSlices}));
    const Volume whole = readFirstVolume(header);
    EXPECT_EQ(std::memcmp(first.data(), whole.data(), whole.size() * sizeof(float)), 0);

    EXPECT_THROW_MSG(file.readImages(3, 0, 1, series), std::invalid_argument,
                     "STC file " + stcPath() + ": no slice 3 in a run of 3 slices");
    EXPECT_THROW_MSG(
        file.readImages(0, 290, 11, series), std::invalid_argument,
        "STC file " + stcPath() + ": volumes 290 to 301 (exclusive) exceed its 300 volumes");
  }
}

// Whatever the whole-run reader refuses before reading, the slice reader
// refuses with the same text: damaged headers, a missing or short STC file.
TEST_F(StcSliceReaderTest, RefusesWhatTheWholeRunReaderRefuses) {
  writeRun(3, 2, 2, 5, false);
  const std::string valid = readFile(fmrPath());
  const std::string stc = readFile(stcPath());
  const auto sameRefusal = [&](const std::string& header, const std::string& expected) {
    writeFile(fmrPath(), header);
    FmrFileHeader h = readFmrFileHeader(fmrPath(), false);
    EXPECT_THROW_MSG(readStcData(h), IOError, expected);
    EXPECT_THROW_MSG(StcSliceReader{h}, IOError, expected);
  };
  // The header with key's value (or, value empty, the key itself) replaced.
  const auto replaced = [&](const std::string& key, const std::string& value) {
    std::string text = valid;
    const auto at = text.find("\n" + key + ":") + 1;
    if (value.empty()) return text.replace(at, key.size(), "Removed");
    const auto start = text.find_first_not_of(' ', at + key.size() + 1);
    return text.replace(start, text.find_first_of("\r\n", start) - start, value);
  };
  const std::string fmr = "FMR file " + fmrPath() + ": ";
  for (const std::string key : {"NrOfVolumes", "NrOfSlices", "ResolutionX", "ResolutionY"}) {
    sameRefusal(replaced(key, ""), fmr + key + " is missing");
  }
  sameRefusal(replaced("Prefix", ""), fmr + "Prefix is missing");
  sameRefusal(replaced("NrOfSlices", "-2"), fmr + "NrOfSlices is negative (-2)");
  sameRefusal(replaced("NrOfVolumes", "five"),
              fmr + "value of NrOfVolumes cannot be read as an integer (found \"five\")");
  sameRefusal(replaced("ResolutionX", "0"), fmr + "a volume of 0 x 2 x 2 voxels holds no voxel");

  const std::string sizes =
      " bytes, but its header " + fmrPath() +
      " announces 120 bytes (2 slices x 5 volumes x 2 rows x 3 columns x 2 bytes)";
  writeFile(stcPath(), stc.substr(0, 119));
  sameRefusal(valid, "STC file " + stcPath() + " holds 119" + sizes);
  const FmrFileHeader h = readFmrFileHeader(fmrPath(), false);
  EXPECT_THROW_MSG((StcSliceReader{h, std::string_view(stc).substr(1)}), IOError,
                   "STC file " + stcPath() + " holds 119" + sizes);
  EXPECT_THROW_MSG((StcSliceReader{h, stc + '\0'}), IOError,
                   "STC file " + stcPath() + " holds 121" + sizes);
  std::filesystem::remove(stcPath());
  EXPECT_THROW_MSG(StcSliceReader{h}, OpenFileError,
                   "Failed opening STC for reading: " + stcPath());
  std::filesystem::create_directory(stcPath());
  EXPECT_THROW_MSG(StcSliceReader{h}, OpenFileError,
                   "Failed opening STC for reading: " + stcPath());
}

// Float values that are not finite numbers are refused where a read meets
// them, naming the slice and the volume (counted from 0); reads that stop
// short of them succeed.
TEST_F(StcSliceReaderTest, RefusesValuesThatAreNotFiniteNumbers) {
  writeRun(3, 2, 2, 5, true);
  std::string bytes = readFile(stcPath());
  const FmrFileHeader header = readFmrFileHeader(fmrPath(), false);
  const auto put = [&](std::size_t z, std::size_t t, std::size_t pixel, float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    const std::size_t at = 4 * ((z * 5 + t) * 6 + pixel);
    for (std::size_t b = 0; b < 4; ++b) bytes[at + b] = static_cast<char>(bits >> (8 * b) & 0xFF);
  };
  put(1, 3, 5, std::numeric_limits<float>::quiet_NaN());
  put(1, 4, 0, -std::numeric_limits<float>::infinity());
  put(0, 2, 1, std::numeric_limits<float>::infinity());
  StcSliceReader reader(header, bytes);
  std::vector<float> series;
  const std::string stc = "STC file " + stcPath() + ": ";
  EXPECT_THROW_MSG(reader.readSlice(1, series), IOError,
                   stc + "slice 1, volume 3 holds a value that is not a finite number");
  EXPECT_THROW_MSG(reader.readImages(1, 4, 1, series), IOError,
                   stc + "slice 1, volume 4 holds a value that is not a finite number");
  EXPECT_THROW_MSG(reader.readImages(0, 1, 3, series), IOError,
                   stc + "slice 0, volume 2 holds a value that is not a finite number");
  EXPECT_NO_THROW(reader.readImages(1, 0, 3, series));
  EXPECT_EQ(series[17], value(2, 1, 1, 2));
  EXPECT_NO_THROW(reader.readFirstVolume());
  put(1, 0, 4, std::numeric_limits<float>::quiet_NaN());
  EXPECT_THROW_MSG(StcSliceReader(header, bytes).readFirstVolume(), IOError,
                   stc + "slice 1, volume 0 holds a value that is not a finite number");

  // 16-bit data have no such values.
  writeRun(3, 2, 2, 5, false);
  const std::string minusOnes(120, '\xFF');
  StcSliceReader integers(readFmrFileHeader(fmrPath(), false), minusOnes);
  integers.readSlice(1, series);
  EXPECT_EQ(series, std::vector<float>(30, -1.0f));
}

}  // namespace
}  // namespace tsl::testing
