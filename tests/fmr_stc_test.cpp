#include "fmr/stc_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "designmatrix/io_error.h"
#include "examples/run_file_writer.h"
#include "fmr/fmr_header.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

class StcTest : public ::testing::Test {
 protected:
  // A header file of the given shape in the temporary folder; its STC file is
  // "run.stc" beside it.
  std::string writeHeader(int slices, int volumes, int columns, int rows, int dataType) {
    FmrLayout run;
    run.slices = slices;
    run.volumes = volumes;
    run.resolutionX = columns;
    run.resolutionY = rows;
    run.dataType = dataType;
    run.prefix = "run";
    writeFmrHeader(fmrPath(), run);
    return fmrPath();
  }
  std::string writeHeaderText(const std::string& text) {
    writeFile(fmrPath(), text);
    return fmrPath();
  }
  std::string fmrPath() const { return dir_.file("run.fmr"); }
  std::string stcPath() const { return dir_.file("run.stc"); }

  TempDir dir_;
};

// Value number i of the file, for files whose values count up from 0.
float fileIndex(int x, int y, int z, int t, int columns, int rows, int volumes) {
  return static_cast<float>(((z * volumes + t) * rows + y) * columns + x);
}

TEST_F(StcTest, SliceMajorLayoutInBothEncodings) {
  for (const int dataType : {1, 2}) {
    writeHeader(2, 3, 2, 2, dataType);
    writeStc(
        stcPath(), 2, 2, 2, 3,
        [](int x, int y, int z, int t) { return fileIndex(x, y, z, t, 2, 2, 3); }, dataType == 2);
    const FmrFileHeader h = readFmrFileHeader(fmrPath(), true);
    ASSERT_EQ(h.voxelData.size(), 3u);
    // Value number 12, the first of slice 1, is voxel (0, 0, 1) of volume 0.
    EXPECT_EQ(h.voxelData[0][4], 12.0f);
    for (int t = 0; t < 3; ++t) {
      const Volume& v = h.voxelData[static_cast<std::size_t>(t)];
      EXPECT_EQ(v.dim, (Dim3{2, 2, 2}));
      for (int z = 0; z < 2; ++z) {
        for (int y = 0; y < 2; ++y) {
          for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(v[static_cast<std::size_t>((z * 2 + y) * 2 + x)],
                      fileIndex(x, y, z, t, 2, 2, 3));
          }
        }
      }
    }
  }
}

TEST_F(StcTest, RawValuesDecodeLittleEndian) {
  // 16-bit: 0xFFFF is -1; the extremes convert exactly; DataType absent reads
  // 16-bit values too.
  writeHeaderText(
      "NrOfVolumes: 1\nNrOfSlices: 1\nResolutionX: 4\nResolutionY: 1\nPrefix: \"run\"\n");
  writeFile(stcPath(), std::string("\xFF\xFF\x00\x80\xFF\x7F\x34\x12", 8));
  FmrFileHeader h = readFmrFileHeader(fmrPath(), true);
  ASSERT_EQ(h.voxelData.size(), 1u);
  EXPECT_EQ(h.voxelData[0][0], -1.0f);
  EXPECT_EQ(h.voxelData[0][1], -32768.0f);
  EXPECT_EQ(h.voxelData[0][2], 32767.0f);
  EXPECT_EQ(h.voxelData[0][3], 4660.0f);

  // 32-bit floats: 1.5f is 0x3FC00000, stored lowest byte first.
  writeHeaderText(
      "NrOfVolumes: 1\nNrOfSlices: 1\nResolutionX: 2\nResolutionY: 1\nPrefix: run\nDataType: 2\n");
  writeFile(stcPath(), std::string("\x00\x00\xC0\x3F\x00\x00\x20\xC1", 8));
  h = readFmrFileHeader(fmrPath(), true);
  EXPECT_EQ(h.voxelData[0][0], 1.5f);
  EXPECT_EQ(h.voxelData[0][1], -10.0f);
}

TEST_F(StcTest, FileSizeMustMatchTheHeader) {
  writeHeader(2, 3, 2, 2, 1);
  const std::string prefix = "STC file " + stcPath() + " holds ";
  const std::string announced =
      " bytes, but its header " + fmrPath() +
      " announces 48 bytes (2 slices x 3 volumes x 2 rows x 2 columns x 2 bytes)";
  writeFile(stcPath(), std::string(47, '\0'));
  EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError, prefix + "47" + announced);
  writeFile(stcPath(), std::string(96, '\0'));  // floats read as 16-bit values
  EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError, prefix + "96" + announced);
  writeFile(stcPath(), "");
  EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError, prefix + "0" + announced);

  // A header announcing far more than any file holds fails on the size
  // check, before anything is allocated.
  writeHeaderText(
      "NrOfVolumes: 2147483647\nNrOfSlices: 1\nResolutionX: 46340\nResolutionY: 46340\n"
      "Prefix: run\nDataType: 2\n");
  EXPECT_THROW_MSG(
      readFmrFileHeader(fmrPath(), true), IOError,
      "STC file " + stcPath() + " holds 0 bytes, but its header " + fmrPath() +
          " announces 18445987738559012800 bytes (1 slices x 2147483647 volumes x 46340 rows x "
          "46340 columns x 4 bytes)");
  writeHeaderText(
      "NrOfVolumes: 1\nNrOfSlices: 2\nResolutionX: 46341\nResolutionY: 46341\nPrefix: run\n");
  EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError,
                   "FMR file " + fmrPath() + ": a volume of 46341 x 46341 x 2 voxels is too large");

  // Volumes without voxels take no byte of the file, so the size check
  // cannot bound their number: an empty STC file would pass for two billion
  // of them.
  writeFile(stcPath(), "");
  for (const std::string grid : {"ResolutionX: 0\nResolutionY: 4\nNrOfSlices: 2\n",
                                 "ResolutionX: 4\nResolutionY: 0\nNrOfSlices: 2\n",
                                 "ResolutionX: 4\nResolutionY: 4\nNrOfSlices: 0\n"}) {
    writeHeaderText("NrOfVolumes: 2147483647\n" + grid + "Prefix: run\n");
    const FmrFileHeader h = readFmrFileHeader(fmrPath(), false);
    const std::string expected = "FMR file " + fmrPath() + ": a volume of " +
                                 std::to_string(h.ResolutionX.value) + " x " +
                                 std::to_string(h.ResolutionY.value) + " x " +
                                 std::to_string(h.NrOfSlices.value) + " voxels holds no voxel";
    EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError, expected);
    EXPECT_THROW_MSG(readFirstVolume(h), IOError, expected);
  }
}

TEST_F(StcTest, RequiredKeysMissingOrNegative) {
  const std::string complete =
      "NrOfVolumes: 1\nNrOfSlices: 1\nResolutionX: 1\nResolutionY: 1\nPrefix: \"run\"\n";
  writeFile(stcPath(), std::string(2, '\0'));
  writeHeaderText(complete);
  EXPECT_NO_THROW(readFmrFileHeader(fmrPath(), true));
  std::filesystem::remove(stcPath());  // the key errors come before the file is opened
  for (const std::string key :
       {"NrOfVolumes", "NrOfSlices", "ResolutionX", "ResolutionY", "Prefix"}) {
    std::string text = complete;
    const auto at = text.find(key + ":");
    text.erase(at, text.find('\n', at) + 1 - at);
    writeHeaderText(text);
    EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError,
                     "FMR file " + fmrPath() + ": " + key + " is missing");
    if (key == "Prefix") continue;
    text = complete;
    text.replace(text.find(key + ": 1"), key.size() + 3, key + ": -3");
    writeHeaderText(text);
    EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), IOError,
                     "FMR file " + fmrPath() + ": " + key + " is negative (-3)");
  }
}

// A value the header reader could not read is named, with what stood there,
// when the data need it or an entry behind it; after every needed entry it
// changes nothing.
TEST_F(StcTest, UnreadableValuesAreNamed) {
  writeHeader(2, 3, 2, 2, 1);
  const std::string valid = readFile(fmrPath());
  writeFile(stcPath(), std::string(48, '\0'));
  // The path of the header with key's value replaced.
  auto headerWith = [&](const std::string& key, const std::string& value) {
    std::string text = valid;
    const auto at = text.find_first_not_of(' ', text.find("\n" + key + ":") + key.size() + 2);
    text.replace(at, text.find_first_of("\r\n", at) - at, value);
    return writeHeaderText(text);
  };
  const std::string p = "FMR file " + fmrPath() + ": ";
  EXPECT_THROW_MSG(readFmrFileHeader(headerWith("TR", "n/a"), true), IOError,
                   p + "value of TR cannot be read as an integer (found \"n/a\")");
  EXPECT_THROW_MSG(readFmrFileHeader(headerWith("NrOfSlices", "two"), true), IOError,
                   p + "value of NrOfSlices cannot be read as an integer (found \"two\")");
  EXPECT_THROW_MSG(readFmrFileHeader(headerWith("NrOfVolumes", "4294967299"), true), IOError,
                   p + "value of NrOfVolumes cannot be read as an integer (found \"4294967299\")");
  EXPECT_THROW_MSG(readFmrFileHeader(headerWith("DataType", "float32"), true), IOError,
                   p + "value of DataType cannot be read as an integer (found \"float32\")");
  EXPECT_NO_THROW(readFmrFileHeader(headerWith("SliceGap", "n/a"), true));
  EXPECT_NO_THROW(readFmrFileHeader(headerWith("SliceGap", "0.5"), true));
}

TEST_F(StcTest, MissingStcFileNamesItsFullPath) {
  writeHeader(1, 1, 1, 1, 1);
  EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), OpenFileError,
                   "Failed opening STC for reading: " + stcPath());
  // A folder of that name is no STC file: on Linux it opens, and seeking to
  // its end reports 2^63 - 1 bytes.
  std::filesystem::create_directory(stcPath());
  EXPECT_THROW_MSG(readFmrFileHeader(fmrPath(), true), OpenFileError,
                   "Failed opening STC for reading: " + stcPath());
  EXPECT_THROW_MSG(readFirstVolume(readFmrFileHeader(fmrPath(), false)), OpenFileError,
                   "Failed opening STC for reading: " + stcPath());
  std::filesystem::remove(stcPath());

  // A failed read leaves the voxel data as they were.
  FmrFileHeader h = readFmrFileHeader(fmrPath(), false);
  h.voxelData.emplace_back(Dim3{1, 1, 1}, 7.0f);
  EXPECT_THROW_MSG(readStcData(h), OpenFileError, "Failed opening STC for reading: " + stcPath());
  ASSERT_EQ(h.voxelData.size(), 1u);
  EXPECT_EQ(h.voxelData[0][0], 7.0f);

  // A header path without a folder looks in the working folder.
  writeFile(stcPath(), std::string(2, '\0'));
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  FmrFileHeader local = readFmrFileHeader("run.fmr", false);
  EXPECT_EQ(stcPathOf(local), "run.stc");
  EXPECT_NO_THROW(readStcData(local));
  std::filesystem::current_path(previous);
  EXPECT_EQ(local.voxelData.size(), 1u);

  FmrFileHeader windows;
  windows.path = "C:\\data\\run1.fmr";
  windows.Prefix.value = "run7";
  windows.Prefix.present = true;
  EXPECT_EQ(stcPathOf(windows), "C:\\data\\run7.stc");
}

TEST_F(StcTest, RunWithoutVolumes) {
  writeHeader(2, 0, 2, 2, 1);
  writeFile(stcPath(), "");
  const FmrFileHeader h = readFmrFileHeader(fmrPath(), true);
  EXPECT_TRUE(h.voxelData.empty());
  EXPECT_THROW_MSG(readFirstVolume(h), IOError,
                   "FMR file " + fmrPath() + ": NrOfVolumes is 0, the run has no first volume");
}

// Images of several KB over several read blocks: the whole run and the first
// volume alone agree with the values written, in both encodings.
TEST_F(StcTest, FirstVolumeAloneMatchesTheWholeRun) {
  constexpr int kColumns = 48, kRows = 40, kSlices = 3, kVolumes = 300;
  auto value = [](int x, int y, int z, int t) {
    return static_cast<float>((x * 7 + y * 13 + z * 101 + t * 3) % 4001 - 2000);
  };
  for (const int dataType : {1, 2}) {
    writeHeader(kSlices, kVolumes, kColumns, kRows, dataType);
    writeStc(stcPath(), kColumns, kRows, kSlices, kVolumes, value, dataType == 2);
    const FmrFileHeader h = readFmrFileHeader(fmrPath(), true);
    ASSERT_EQ(h.voxelData.size(), static_cast<std::size_t>(kVolumes));
    int wrong = 0;
    for (int t = 0; t < kVolumes; t += 37) {
      for (int z = 0; z < kSlices; ++z) {
        for (int y = 0; y < kRows; ++y) {
          for (int x = 0; x < kColumns; ++x) {
            const auto i = static_cast<std::size_t>((z * kRows + y) * kColumns + x);
            if (h.voxelData[static_cast<std::size_t>(t)][i] != value(x, y, z, t)) ++wrong;
          }
        }
      }
    }
    EXPECT_EQ(wrong, 0);
    const Volume first = readFirstVolume(readFmrFileHeader(fmrPath(), false));
    EXPECT_EQ(first.dim, (Dim3{kColumns, kRows, kSlices}));
    ASSERT_EQ(first.size(), h.voxelData[0].size());
    for (std::size_t i = 0; i < first.size(); ++i) ASSERT_EQ(first[i], h.voxelData[0][i]) << i;
  }
  // The first volume alone still checks the whole file's size.
  writeFile(stcPath(), std::string(100, '\0'));
  EXPECT_THROW_MSG(
      readFirstVolume(readFmrFileHeader(fmrPath(), false)), IOError,
      "STC file " + stcPath() + " holds 100 bytes, but its header " + fmrPath() +
          " announces 6912000 bytes (3 slices x 300 volumes x 40 rows x 48 columns x 4 bytes)");
}

// The STC bytes in memory read as the file holding them: the same volumes,
// the same first volume, the same size check naming the STC file; no file is
// opened.
TEST_F(StcTest, ReadsStcBytesInMemoryAsTheirFile) {
  constexpr int kColumns = 3, kRows = 2, kSlices = 3, kVolumes = 5;
  writeHeader(kSlices, kVolumes, kColumns, kRows, 2);
  writeStc(
      stcPath(), kColumns, kRows, kSlices, kVolumes,
      [](int x, int y, int z, int t) {
        return 0.25f * static_cast<float>(x - 2 * y + 7 * z - 3 * t);
      },
      true);
  const FmrFileHeader fromFile = readFmrFileHeader(fmrPath(), true);
  const std::string bytes = readFile(stcPath());
  std::filesystem::remove(stcPath());

  FmrFileHeader h = readFmrFileHeader(fmrPath(), false);
  readStcData(h, bytes);
  ASSERT_EQ(h.voxelData.size(), fromFile.voxelData.size());
  for (std::size_t t = 0; t < h.voxelData.size(); ++t) {
    EXPECT_EQ(h.voxelData[t].dim, fromFile.voxelData[t].dim);
    for (std::size_t i = 0; i < h.voxelData[t].size(); ++i) {
      EXPECT_EQ(h.voxelData[t][i], fromFile.voxelData[t][i]) << "volume " << t << ", voxel " << i;
    }
  }
  const Volume first = readFirstVolume(h, bytes);
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i], fromFile.voxelData[0][i]) << i;

  const std::string_view cut = std::string_view(bytes).substr(0, bytes.size() - 1);
  const std::string expected =
      "STC file " + stcPath() + " holds 359 bytes, but its header " + fmrPath() +
      " announces 360 bytes (3 slices x 5 volumes x 2 rows x 3 columns x 4 bytes)";
  EXPECT_THROW_MSG(readStcData(h, cut), IOError, expected);
  EXPECT_THROW_MSG(readFirstVolume(h, cut), IOError, expected);
  EXPECT_EQ(h.voxelData.size(), 5u);
}

}  // namespace
}  // namespace tsl::testing
