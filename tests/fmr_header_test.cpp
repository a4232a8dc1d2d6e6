#include "fmr/fmr_header.h"

#include <gtest/gtest.h>

#include <exception>
#include <sstream>
#include <string>
#include <string_view>

#include "designmatrix/io_error.h"
#include "examples/run_file_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

template <typename T>
void describeField(std::ostream& out, const char* member, const HeaderField<T>& f) {
  out << member << ": ";
  if (!f.present) {
    out << "absent\n";
    return;
  }
  out << f.name << "=" << f.value << " width " << f.width << "\n";
}

void describeField(std::ostream& out, const char* member, const HeaderField<std::string>& f) {
  out << member << ": ";
  if (!f.present) {
    out << "absent\n";
    return;
  }
  out << f.name << "=[" << f.value << "] width " << f.width << (f.quoted ? " quoted" : "") << "\n";
}

// Every member of a record, one line each, so that two records compare as
// texts and a difference shows where it is.
std::string describe(const FmrFileHeader& h) {
  std::ostringstream out;
#define TESSEL_FIELD(member) describeField(out, #member, h.member)
  TESSEL_FIELD(FileVersion);
  TESSEL_FIELD(NrOfVolumes);
  TESSEL_FIELD(NrOfSlices);
  TESSEL_FIELD(NrOfSkippedVolumes);
  TESSEL_FIELD(Prefix);
  TESSEL_FIELD(DataStorageFormat);
  TESSEL_FIELD(DataType);
  TESSEL_FIELD(TR);
  TESSEL_FIELD(InterSliceTime);
  TESSEL_FIELD(TimeResolutionVerified);
  TESSEL_FIELD(TE);
  TESSEL_FIELD(SliceAcquisitionOrder);
  TESSEL_FIELD(SliceAcquisitionOrderVerified);
  TESSEL_FIELD(ResolutionX);
  TESSEL_FIELD(ResolutionY);
  TESSEL_FIELD(LoadAMRFile);
  TESSEL_FIELD(ShowAMRFile);
  TESSEL_FIELD(ImageIndex);
  TESSEL_FIELD(LayoutNColumns);
  TESSEL_FIELD(LayoutNRows);
  TESSEL_FIELD(LayoutZoomLevel);
  TESSEL_FIELD(SegmentSize);
  TESSEL_FIELD(SegmentOffset);
  TESSEL_FIELD(NrOfLinkedProtocols);
  TESSEL_FIELD(ProtocolFile);
  TESSEL_FIELD(InplaneResolutionX);
  TESSEL_FIELD(InplaneResolutionY);
  TESSEL_FIELD(SliceThickness);
  TESSEL_FIELD(SliceGap);
  TESSEL_FIELD(VoxelResolutionVerified);
  TESSEL_FIELD(PosInfosVerified);
  TESSEL_FIELD(CoordinateSystem);
  TESSEL_FIELD(Slice1CenterX);
  TESSEL_FIELD(Slice1CenterY);
  TESSEL_FIELD(Slice1CenterZ);
  TESSEL_FIELD(SliceNCenterX);
  TESSEL_FIELD(SliceNCenterY);
  TESSEL_FIELD(SliceNCenterZ);
  TESSEL_FIELD(RowDirX);
  TESSEL_FIELD(RowDirY);
  TESSEL_FIELD(RowDirZ);
  TESSEL_FIELD(ColDirX);
  TESSEL_FIELD(ColDirY);
  TESSEL_FIELD(ColDirZ);
  TESSEL_FIELD(NRows);
  TESSEL_FIELD(NCols);
  TESSEL_FIELD(FoVRows);
  TESSEL_FIELD(FoVCols);
  TESSEL_FIELD(PositionSliceThickness);
  TESSEL_FIELD(GapThickness);
  TESSEL_FIELD(NrOfPastSpatialTransformations);
  TESSEL_FIELD(LeftRightConvention);
  TESSEL_FIELD(FirstDataSourceFile);
  TESSEL_FIELD(MultibandSequence);
  TESSEL_FIELD(SliceTimingTableSize);
#undef TESSEL_FIELD
  out << "table:";
  for (float t : h.sliceTimingTable) out << " " << t;
  out << "\n";
  return out.str();
}

class FmrHeaderTest : public ::testing::Test {
 protected:
  FmrFileHeader read(const std::string& text) {
    const std::string path = dir_.file("run.fmr");
    writeFile(path, text);
    return readFmrFileHeader(path, false);
  }
  std::string path() const { return dir_.file("run.fmr"); }

  TempDir dir_;
};

FmrLayout sampleRun() {
  FmrLayout run;
  run.volumes = 420;
  run.slices = 3;
  run.resolutionX = 64;
  run.resolutionY = 56;
  run.prefix = "run1 main";
  run.tr = 1500;
  run.inplaneResolutionX = 3.5f;
  run.inplaneResolutionY = 3.25f;
  run.sliceThickness = 3.0f;
  run.sliceGap = 0.5f;
  run.sliceTiming = {0.0f, 500.5f, 1000.25f};
  return run;
}

TEST_F(FmrHeaderTest, ReadsEveryEntryOfAHostHeader) {
  const FmrFileHeader h = read(fmrHeaderText(sampleRun()));
  EXPECT_EQ(h.path, path());
  EXPECT_EQ(h.FileVersion.value, 7);
  EXPECT_EQ(h.NrOfVolumes.name, "NrOfVolumes");
  EXPECT_EQ(h.NrOfVolumes.value, 420);
  EXPECT_EQ(h.NrOfVolumes.width, 30);
  EXPECT_EQ(h.SliceAcquisitionOrderVerified.width, 31);  // longer keys get one blank
  EXPECT_EQ(h.Prefix.value, "run1 main");
  EXPECT_TRUE(h.Prefix.quoted);
  EXPECT_EQ(h.TR.value, 1500);
  EXPECT_EQ(h.InterSliceTime.value, 500);
  EXPECT_EQ(h.ResolutionX.value, 64);
  EXPECT_EQ(h.ResolutionY.value, 56);
  EXPECT_EQ(h.DataType.value, 1);
  EXPECT_EQ(h.LoadAMRFile.value, "run1 main_firstvol.amr");
  EXPECT_EQ(h.ProtocolFile.value, "run1 main.prt");
  EXPECT_EQ(h.InplaneResolutionX.value, 3.5f);
  EXPECT_EQ(h.InplaneResolutionY.value, 3.25f);
  EXPECT_EQ(h.SliceGap.value, 0.5f);
  EXPECT_TRUE(h.VoxelResolutionVerified.value);
  EXPECT_TRUE(h.PosInfosVerified.value);
  EXPECT_EQ(h.Slice1CenterZ.value, -3.5f);
  EXPECT_EQ(h.SliceNCenterZ.value, 3.5f);
  EXPECT_EQ(h.ColDirY.value, -1.0f);
  EXPECT_EQ(h.NRows.value, 56);
  EXPECT_EQ(h.NCols.value, 64);
  EXPECT_EQ(h.FoVRows.value, 182.0f);
  EXPECT_EQ(h.FoVCols.value, 224.0f);
  EXPECT_EQ(h.GapThickness.value, 0.5f);
  EXPECT_EQ(h.NrOfPastSpatialTransformations.value, 1);
  EXPECT_EQ(h.LeftRightConvention.value, "1");
  EXPECT_FALSE(h.LeftRightConvention.quoted);
  EXPECT_EQ(h.FirstDataSourceFile.value, "run1 main-0001-0001.dcm");
  EXPECT_EQ(h.MultibandSequence.value, 0);
  EXPECT_EQ(h.SliceTimingTableSize.value, 3);
  EXPECT_EQ(h.sliceTimingTable, (std::vector<float>{0.0f, 500.5f, 1000.25f}));
  EXPECT_TRUE(h.voxelData.empty());

  // The two SliceThickness entries fill two members.
  FmrLayout differing = sampleRun();
  differing.sliceThickness = 3.0f;
  std::string text = fmrHeaderText(differing);
  const std::string inBlock = "SliceThickness:               3.000000\r\nGapThickness:";
  const auto at = text.find(inBlock);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, inBlock.size(), "SliceThickness:               3.5\r\nGapThickness:");
  const FmrFileHeader two = read(text);
  EXPECT_EQ(two.SliceThickness.value, 3.0f);
  EXPECT_EQ(two.PositionSliceThickness.value, 3.5f);
  EXPECT_EQ(two.PositionSliceThickness.name, "SliceThickness");
}

TEST_F(FmrHeaderTest, CarriageReturnsAndAByteOrderMarkReadLikeLineFeeds) {
  FmrLayout run = sampleRun();
  run.crlf = true;
  const std::string crlf = describe(read(fmrHeaderText(run)));
  const std::string marked = describe(read("\xEF\xBB\xBF" + fmrHeaderText(run)));
  run.crlf = false;
  const std::string lf = describe(read(fmrHeaderText(run)));
  EXPECT_EQ(crlf, lf);
  EXPECT_EQ(marked, lf);
  EXPECT_NE(crlf.find("Prefix: Prefix=[run1 main] width 30 quoted"), std::string::npos) << crlf;
}

// Bytes in memory read as the file holding them; the name given is the
// record's path and names it in messages. Only the bytes given are read.
TEST_F(FmrHeaderTest, ParsesBytesInMemoryAsTheirFile) {
  FmrLayout run = sampleRun();
  run.crlf = true;
  const std::string text = fmrHeaderText(run);
  const FmrFileHeader parsed = parseFmrFileHeader("\xEF\xBB\xBF" + text, "D:/runs/run1.fmr");
  EXPECT_EQ(parsed.path, "D:/runs/run1.fmr");
  EXPECT_EQ(describe(parsed), describe(read(text)));

  const std::string table = "SliceTimingTableSize: 3\n0 62.5 125\n";
  EXPECT_EQ(parseFmrFileHeader(std::string_view(table).substr(0, table.find(" 125")), "t.fmr")
                .sliceTimingTable,
            (std::vector<float>{0.0f, 62.5f, 0.0f}));
  EXPECT_THROW_MSG(
      parseFmrFileHeader("SliceTimingTableSize: 2000000000\n1 2 3\n", "D:/runs/big.fmr"), IOError,
      "FMR file D:/runs/big.fmr: SliceTimingTableSize 2000000000 exceeds what the file holds");
}

TEST_F(FmrHeaderTest, KeyColumnsAndTextForms) {
  FmrFileHeader h =
      read("NrOfVolumes:     420\nPrefix:    \"run1 main\"   \nLoadAMRFile:\t\trun1\r\n");
  EXPECT_EQ(h.NrOfVolumes.value, 420);
  EXPECT_EQ(h.NrOfVolumes.width, 17);
  EXPECT_EQ(h.Prefix.value, "run1 main");
  EXPECT_TRUE(h.Prefix.quoted);
  EXPECT_EQ(h.Prefix.width, 11);
  EXPECT_EQ(h.LoadAMRFile.value, "run1");
  EXPECT_FALSE(h.LoadAMRFile.quoted);
  EXPECT_EQ(h.LoadAMRFile.width, 14);  // a tab counts as one column
  EXPECT_FALSE(h.FileVersion.present);
  EXPECT_EQ(h.FileVersion.value, -1);

  h = read("Prefix:  run1\nProtocolFile: \"\nLoadAMRFile:   \t \nFirstDataSourceFile: \"a\" b\n");
  EXPECT_EQ(h.Prefix.value, "run1");
  EXPECT_FALSE(h.Prefix.quoted);
  EXPECT_EQ(h.ProtocolFile.value, "");  // a lone quote: quoted, empty
  EXPECT_TRUE(h.ProtocolFile.quoted);
  EXPECT_TRUE(h.LoadAMRFile.present);
  EXPECT_EQ(h.LoadAMRFile.value, "");
  EXPECT_FALSE(h.LoadAMRFile.quoted);
  EXPECT_EQ(h.FirstDataSourceFile.value, "\"a\" b");
  EXPECT_FALSE(h.FirstDataSourceFile.quoted);
}

TEST_F(FmrHeaderTest, PositionBlockKeysAreRecognisedOnlyInsideIt) {
  const FmrFileHeader h = read(
      "RowDirX: 9\n"
      "PositionInformationFromImageHeaders\n"
      "Prefix: \"inside\"\n"
      "RowDirX: 1.5\n"
      "NRows: 64\n"
      "GapThickness: 0.25\n"
      "NCols: 12\n"
      "Prefix: \"after\"\n");
  EXPECT_EQ(h.RowDirX.value, 1.5f);
  EXPECT_EQ(h.NRows.value, 64);
  EXPECT_EQ(h.GapThickness.value, 0.25f);
  EXPECT_FALSE(h.NCols.present);
  EXPECT_EQ(h.Prefix.value, "after");

  // The file ends inside the block: what was read stays.
  const FmrFileHeader cut = read("NrOfSlices: 3\nPositionInformationFromImageHeaders\nNRows: 7\n");
  EXPECT_EQ(cut.NrOfSlices.value, 3);
  EXPECT_EQ(cut.NRows.value, 7);
  EXPECT_FALSE(cut.GapThickness.present);
}

TEST_F(FmrHeaderTest, SliceTimingTableAndTheTokenAfterIt) {
  FmrFileHeader h = read("SliceTimingTableSize: 3\n0\n\n62.5\n125\nTR: 2000\nTE: 30\n");
  EXPECT_EQ(h.sliceTimingTable, (std::vector<float>{0.0f, 62.5f, 125.0f}));
  EXPECT_FALSE(h.TR.present);  // the token after the table is ignored...
  EXPECT_EQ(h.TE.value, 30);   // ...and reading goes on after it

  h = read("SliceTimingTableSize: 0\nTR: 2000\nTE: 30\n");
  EXPECT_TRUE(h.sliceTimingTable.empty());
  EXPECT_EQ(h.SliceTimingTableSize.value, 0);
  EXPECT_FALSE(h.TR.present);
  EXPECT_TRUE(h.TE.present);

  // A table that the file ends in still has its announced size.
  h = read("SliceTimingTableSize: 4\n1 2\n");
  EXPECT_EQ(h.sliceTimingTable, (std::vector<float>{1.0f, 2.0f, 0.0f, 0.0f}));

  // A count larger than the rest of the file could hold is refused before
  // it sizes anything.
  EXPECT_THROW_MSG(
      read("SliceTimingTableSize: 2000000000\n1 2 3\n"), IOError,
      "FMR file " + path() + ": SliceTimingTableSize 2000000000 exceeds what the file holds");
}

// The value is noted with what stood there, so that a missing entry behind it
// can be explained.
TEST_F(FmrHeaderTest, AFailedValueEndsTheReadingWithoutAnError) {
  auto unread = [](const FmrFileHeader& h) {
    return h.unreadValue ? h.unreadValue->key + ": " + h.unreadValue->problem : std::string("none");
  };
  FmrFileHeader h = read("NrOfVolumes: 5\nTR: 2000.5\nTE: 30\n");
  EXPECT_EQ(h.TR.value, 2000);  // ".5" becomes a token that matches nothing
  EXPECT_EQ(h.TE.value, 30);
  EXPECT_EQ(unread(h), "none");

  h = read("NrOfVolumes: 5\nTR: fast\nTE: 30\nNrOfSlices: 2\n");
  EXPECT_EQ(h.NrOfVolumes.value, 5);
  EXPECT_TRUE(h.TR.present);
  EXPECT_EQ(h.TR.value, 0);
  EXPECT_FALSE(h.TE.present);
  EXPECT_FALSE(h.NrOfSlices.present);
  EXPECT_EQ(unread(h), "TR: value of TR cannot be read as an integer (found \"fast\")");

  h = read("TimeResolutionVerified: 2\nTE: 30\n");  // bool takes only 0 and 1
  EXPECT_TRUE(h.TimeResolutionVerified.present);
  EXPECT_FALSE(h.TE.present);
  EXPECT_EQ(unread(h),
            "TimeResolutionVerified: value of TimeResolutionVerified cannot be read as 0 or 1 "
            "(found \"2\")");

  h = read("InplaneResolutionX: -\nTE: 30\n");
  EXPECT_TRUE(h.InplaneResolutionX.present);
  EXPECT_EQ(h.InplaneResolutionX.value, 0.0f);
  EXPECT_FALSE(h.TE.present);
  EXPECT_EQ(
      unread(h),
      "InplaneResolutionX: value of InplaneResolutionX cannot be read as a number (found \"-\")");

  h = read("NrOfVolumes:\t99999999999\r\nTE: 30\n");
  EXPECT_EQ(
      unread(h),
      "NrOfVolumes: value of NrOfVolumes cannot be read as an integer (found \"99999999999\")");
  h = read("SliceTimingTableSize: 3\n0 n/a 2\nTE: 30\n");
  EXPECT_EQ(h.sliceTimingTable.size(), 3u);
  EXPECT_EQ(unread(h),
            "slice timing table: value 2 of the slice timing table cannot be read as a number "
            "(found \"n/a\")");

  h = read("FileVersion:");  // a key at the very end
  EXPECT_TRUE(h.FileVersion.present);
  EXPECT_EQ(h.FileVersion.value, 0);
  EXPECT_EQ(unread(h), "none");  // nothing stood there: the file ends
}

TEST_F(FmrHeaderTest, UnknownKeysAndWordsAreSkipped) {
  const FmrFileHeader h = read(
      "Some words here\nNameOfSpatialTransformation: NrOfVolumes 3D\nNrOfVolumes:x 4\n"
      "nrofvolumes: 9\nNrOfVolumes: 12\n");
  EXPECT_EQ(h.NrOfVolumes.value, 12);
}

TEST_F(FmrHeaderTest, MissingFileAndTheStcFileUntouched) {
  EXPECT_THROW_MSG(readFmrFileHeader(dir_.file("absent.fmr"), false), OpenFileError,
                   "Failed opening for reading: " + dir_.file("absent.fmr"));
  // No STC file exists beside it; without readData that is no error.
  const FmrFileHeader h = read(fmrHeaderText(sampleRun()));
  EXPECT_TRUE(h.voxelData.empty());
}

// Every prefix of a valid header, and the header with one byte changed at
// every position, either reads or is refused with an error naming the file.
TEST_F(FmrHeaderTest, SurvivesTruncatedAndDamagedHeaders) {
  FmrLayout run = sampleRun();
  run.slices = 2;
  run.sliceTiming = {0.0f, 1000.0f};
  const std::string valid = fmrHeaderText(run);
  const char replacements[] = {'9', '"', '\0'};
  const std::string name = "D:/runs/damaged.fmr";
  auto tryRead = [&](std::string_view bytes) {
    try {
      const FmrFileHeader h = parseFmrFileHeader(bytes, name);
      if (h.SliceTimingTableSize.present && h.SliceTimingTableSize.value > 0) {
        EXPECT_EQ(h.sliceTimingTable.size(),
                  static_cast<std::size_t>(h.SliceTimingTableSize.value));
      }
    } catch (const IOError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  };
  for (std::size_t length = 0; length <= valid.size(); ++length)
    tryRead(std::string_view(valid).substr(0, length));
  for (std::size_t at = 0; at < valid.size(); ++at) {
    for (char c : replacements) {
      std::string damaged = valid;
      damaged[at] = c;
      tryRead(damaged);
    }
  }
}

}  // namespace
}  // namespace tsl::testing
