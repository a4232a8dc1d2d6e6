// The MDM document, its relocation of missing studies and the motion-parameter
// source. The host's file dialog is a fake installed in the host function table.
#include "designmatrix/mdm_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameter_source.h"
#include "examples/motion_file_writer.h"
#include "plugin/host_functions.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

struct DialogCall {
  std::string caption, directory, filter;
};
std::vector<DialogCall> dialogCalls;
std::vector<std::string> dialogAnswers;  // "" cancels

int fakeGetOpenFileName(const char* caption, const char* directory, const char* filter, char* buffer) {
  dialogCalls.push_back({caption, directory, filter});
  if (dialogAnswers.empty() || dialogAnswers.front().empty()) {
    if (!dialogAnswers.empty()) dialogAnswers.erase(dialogAnswers.begin());
    return 0;
  }
  std::strncpy(buffer, dialogAnswers.front().c_str(), host::kHostTextBufferSize - 1);
  dialogAnswers.erase(dialogAnswers.begin());
  return 1;
}

class MdmFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dialogCalls.clear();
    dialogAnswers.clear();
    host::table()[static_cast<std::size_t>(host::Fn::zrGetOpenFileName)] =
        reinterpret_cast<host::RawFunction>(&fakeGetOpenFileName);
  }
  void TearDown() override {
    host::table()[static_cast<std::size_t>(host::Fn::zrGetOpenFileName)] = nullptr;
  }

  MdmDocument read(const std::string& text, const std::string& name = "study.mdm") {
    writeFile(dir.file(name), text);
    return MdmDocument(dir.file(name));
  }

  std::string refusal(const std::string& text) {
    try {
      read(text);
    } catch (const IOError& error) {
      return error.what();
    }
    return "";
  }

  // A motion SDM of the host with the given number of volumes.
  std::string motionFile(const std::string& name, int volumes) {
    std::vector<MotionRow> rows(static_cast<std::size_t>(volumes), MotionRow{});
    for (int t = 0; t < volumes; ++t) rows[static_cast<std::size_t>(t)][0] = 0.5f * static_cast<float>(t);
    const std::string file = dir.file(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    writeHostMotionSdm(file, rows);
    return file;
  }

  TempDir dir;
};

std::string written(const MdmDocument& document) {
  std::ostringstream out;
  document.write(out);
  return out.str();
}

const char* const kHeader =
    "\nFileVersion:          3\nTypeOfFunctionalData: FMR\n\nRFX-GLM:              1\n\n"
    "PSCTransformation:    1\nzTransformation:      0\nSeparatePredictors:   2\n\nNrOfStudies:          ";

TEST_F(MdmFiles, ReadsAndWritesTheFileFormat) {
  const MdmDocument document = read(
      std::string(kHeader) + "3\n\"C:/a/run1.fmr\" \"C:/a/run1_3DMC.sdm\"\n"
                             "\"run2.fmr\"   ;  \"run2_3DMC.sdm\"\r\n\"x\" \"y\" \"z\"\n");
  EXPECT_EQ(document.FileVersion, 3);
  EXPECT_EQ(document.TypeOfFunctionalData, "FMR");
  EXPECT_EQ(document.RFX_GLM, 1);
  EXPECT_EQ(document.PSCTransformation, 1);
  EXPECT_EQ(document.SeparatePredictors, 2);
  EXPECT_EQ(document.NrOfStudies, 3);
  EXPECT_EQ(document.dataPaths, (std::vector<std::string>{"C:/a/run1.fmr", "run2.fmr"}));
  EXPECT_EQ(document.sdmPaths, (std::vector<std::string>{"C:/a/run1_3DMC.sdm", "run2_3DMC.sdm"}));
  EXPECT_TRUE(document.leadingPaths.empty());
  const std::string expected =
      "\r\nFileVersion:          3\r\nTypeOfFunctionalData: FMR\r\n\r\nRFX-GLM:              1\r\n\r\n"
      "PSCTransformation:    1\r\nzTransformation:      0\r\nSeparatePredictors:   2\r\n\r\n"
      "NrOfStudies:          3\r\n"
      "\"C:/a/run1.fmr\"  \"C:/a/run1_3DMC.sdm\"\r\n\"run2.fmr\"  \"run2_3DMC.sdm\"\r\n";
  EXPECT_EQ(written(document), expected);
  document.writeToFile();
  EXPECT_EQ(readFile(dir.file("study.mdm")), expected);
  const MdmDocument back(dir.file("study.mdm"));
  EXPECT_EQ(written(back), expected);

  // Absent keys: FileVersion -1, the others 0.
  const MdmDocument sparse = read("NrOfStudies: 1\n\"d\" \"s\"\n");
  EXPECT_EQ(sparse.FileVersion, -1);
  EXPECT_EQ(sparse.RFX_GLM, 0);
  EXPECT_EQ(sparse.TypeOfFunctionalData, "");
}

TEST_F(MdmFiles, MtcDocumentsCarryALeadingPath) {
  MdmDocument document = read(
      "\nFileVersion: 3\nTypeOfFunctionalData: MTC\nNrOfStudies: 3\n"
      "\"l1.srf\" \"C:/old/sub/m1.mtc\" \"C:/old/sub/run1.sdm\"\n"
      "\"C:/old/sub/m2.mtc\" \"C:/old/sub/run2.sdm\"\n"
      "\"C:/old/l3.srf\" \"C:/old/m3.mtc\" \"C:/old/run3.sdm\"\n");
  ASSERT_EQ(document.sdmPaths.size(), 3u);
  ASSERT_EQ(document.leadingPaths.size(), 3u);
  EXPECT_FALSE(document.leadingPaths[1].has_value());
  const std::string out = written(document);
  EXPECT_NE(out.find("\r\n\"l1.srf\"  \"C:/old/sub/m1.mtc\"  \"C:/old/sub/run1.sdm\"\r\n"
                     "\"C:/old/sub/m2.mtc\"  \"C:/old/sub/run2.sdm\"\r\n"
                     "\"C:/old/l3.srf\"  \"C:/old/m3.mtc\"  \"C:/old/run3.sdm\"\r\n"),
            std::string::npos);
  document.replaceStudyPrefixes("C:/old/sub/run1.sdm", "D:/new/sub/run1.sdm");
  EXPECT_EQ(*document.leadingPaths[0], "D:/new");  // no longer than the old prefix: replaced whole
  EXPECT_EQ(document.dataPaths[1], "D:/new/sub/m2.mtc");
  EXPECT_EQ(*document.leadingPaths[2], "D:/new/l3.srf");
  EXPECT_EQ(document.sdmPaths[2], "D:/new/run3.sdm");
}

TEST_F(MdmFiles, BrokenFilesNameTheFile) {
  const std::string p = "MDM file " + dir.file("study.mdm") + ": ";
  EXPECT_EQ(refusal(""), p + "missing header key NrOfStudies");
  EXPECT_EQ(refusal("FileVersion: 3\n\"d\" \"s\"\n"), p + "missing header key NrOfStudies");
  // Seven tokens before the key end the header.
  EXPECT_EQ(refusal("a b c d e f g NrOfStudies: 1\n\"d\" \"s\"\n"), p + "missing header key NrOfStudies");
  EXPECT_EQ(read("a b c d e f NrOfStudies: 1\n\"d\" \"s\"\n").sdmPaths, std::vector<std::string>{"s"});
  EXPECT_EQ(refusal("NrOfStudies: x\n"), p + "value of NrOfStudies cannot be read as an integer");
  EXPECT_EQ(refusal("FileVersion: v3\nNrOfStudies: 1\n"), p + "value of FileVersion cannot be read as an integer");
  EXPECT_EQ(refusal("TypeOfFunctionalData:"), p + "value of TypeOfFunctionalData is missing");
  EXPECT_EQ(refusal("NrOfStudies: -2\n"), p + "NrOfStudies is negative (-2)");
  EXPECT_EQ(refusal("NrOfStudies: 0\n\"d\" \"s\"\n"), p + "NrOfStudies is 0, the file lists no studies");
  const std::string none = p + "none of its study lines names a data file and an SDM file in double quotes";
  EXPECT_EQ(refusal("NrOfStudies: 2\n\"d\" \"s\" \"x\"\n\"only one\"\n"), none);
  EXPECT_EQ(refusal("NrOfStudies: 2000000000\n"), none);
  EXPECT_EQ(refusal("NrOfStudies: 1\n\n\"d\" \"s\"\n"), none);  // the blank line is study 1
  EXPECT_THROW(MdmDocument(dir.file("absent.mdm")), OpenFileError);

  // Every truncated prefix of a valid file reads or is refused with its name.
  const std::string valid = std::string(kHeader) + "2\n\"C:/a/r1.fmr\" \"C:/a/r1.sdm\"\n\"r2.fmr\" \"r2.sdm\"\n";
  for (std::size_t length = 0; length <= valid.size(); ++length) {
    writeFile(dir.file("cut.mdm"), valid.substr(0, length));
    try {
      const MdmDocument document(dir.file("cut.mdm"));
      EXPECT_EQ(document.dataPaths.size(), document.sdmPaths.size());
      EXPECT_FALSE(document.sdmPaths.empty());
    } catch (const IOError& error) {
      EXPECT_NE(std::string(error.what()).find(dir.file("cut.mdm")), std::string::npos) << error.what();
    }
  }
}

TEST_F(MdmFiles, StudyPrefixesFollowTheCommonSuffix) {
  MdmDocument document = read(std::string(kHeader) +
                              "3\n\"C:/old/sub/run1.fmr\" \"C:/old/sub/run1.sdm\"\n"
                              "\"C:/old/other/run2.fmr\" \"C:/old/other/run2.sdm\"\n\"C:/o\" \"C:/o\"\n");
  document.replaceStudyPrefixes("C:/old/sub/run1.sdm", "D:/new/sub/run1.sdm");
  EXPECT_EQ(document.sdmPaths,
            (std::vector<std::string>{"D:/new/sub/run1.sdm", "D:/new/other/run2.sdm", "D:/new"}));
  EXPECT_EQ(document.dataPaths[1], "D:/new/other/run2.fmr");

  // A relative old path gets the selected path's leading part.
  MdmDocument relative = read(std::string(kHeader) + "2\n\"run1.fmr\" \"run1.sdm\"\n\"b/run2.fmr\" \"b/run2.sdm\"\n");
  relative.replaceStudyPrefixes("run1.sdm", "D:/data/run1.sdm");
  EXPECT_EQ(relative.sdmPaths, (std::vector<std::string>{"D:/data/run1.sdm", "D:/data/b/run2.sdm"}));
  EXPECT_EQ(relative.dataPaths[0], "D:/data/run1.fmr");

  // Backslashes, and the dialog's backslashes against an MDM's forward slashes.
  MdmDocument back = read(std::string(kHeader) + "2\n\"C:\\old\\a\\r1.fmr\" \"C:\\old\\a\\r1.sdm\"\n"
                                                 "\"C:\\old\\b\\r2.fmr\" \"C:\\old\\b\\r2.sdm\"\n");
  back.replaceStudyPrefixes("C:\\old\\a\\r1.sdm", "E:\\x\\old\\a\\r1.sdm");
  EXPECT_EQ(back.sdmPaths, (std::vector<std::string>{"E:\\x\\old\\a\\r1.sdm", "E:\\x\\old\\b\\r2.sdm"}));
  MdmDocument mixed = read(std::string(kHeader) + "2\n\"C:/old/a/r1.fmr\" \"C:/old/a/r1.sdm\"\n"
                                                  "\"C:/old/b/r2.fmr\" \"C:/old/b/r2.sdm\"\n");
  mixed.replaceStudyPrefixes("C:/old/a/r1.sdm", "D:\\new\\a\\r1.sdm");
  EXPECT_EQ(mixed.sdmPaths, (std::vector<std::string>{"D:\\new/a/r1.sdm", "D:\\new/b/r2.sdm"}));
}

TEST_F(MdmFiles, RelocationAsksOnceRewritesTheFileAndKeepsItOnCancel) {
  const std::string oldRoot = dir.file("old");
  const std::string newRoot = dir.file("new");
  motionFile("new/sub/run1_3DMC.sdm", 4);
  motionFile("new/sub/run2_3DMC.sdm", 4);
  const std::string mdmPath = dir.file("study.mdm");
  writeMdm(mdmPath, {oldRoot + "/sub/run1_3DMC.sdm", oldRoot + "/sub/run2_3DMC.sdm"},
           {oldRoot + "/sub/run1.fmr", oldRoot + "/sub/run2.fmr"});
  const std::string original = readFile(mdmPath);

  // Cancelled, then a path shorter than the file's name: nothing changes.
  dialogAnswers = {"", "run1.sdm"};
  EXPECT_FALSE(MdmDocument(mdmPath).relocateStudyPaths());
  EXPECT_FALSE(MdmDocument(mdmPath).relocateStudyPaths());
  EXPECT_EQ(readFile(mdmPath), original);
  ASSERT_EQ(dialogCalls.size(), 2u);
  EXPECT_EQ(dialogCalls[0].caption, "SDM not found. Select run1_3DMC.sdm manually.");
  EXPECT_EQ(dialogCalls[0].directory, dir.path().generic_string() + "/");
  EXPECT_EQ(dialogCalls[0].filter, "Single Subject Desgin Matrix (run1_3DMC.sdm)");

  // A cancelled relocation ends loading with the reader's error on the missing SDM.
  dialogAnswers = {""};
  try {
    loadDesignMatrices(mdmPath);
    FAIL() << "no exception";
  } catch (const OpenFileError& error) {
    EXPECT_EQ(std::string(error.what()), "Failed opening for reading: " + oldRoot + "/sub/run1_3DMC.sdm");
  }

  dialogCalls.clear();
  dialogAnswers = {newRoot + "/sub/run1_3DMC.sdm"};
  const std::vector<SdmDocument> runs = loadDesignMatrices(mdmPath);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].path, newRoot + "/sub/run2_3DMC.sdm");
  EXPECT_EQ(runs[1].columns[0][3], 1.5f);
  EXPECT_EQ(dialogCalls.size(), 1u);
  const MdmDocument rewritten(mdmPath);
  EXPECT_EQ(rewritten.dataPaths[1], newRoot + "/sub/run2.fmr");
  const std::string relocated = readFile(mdmPath);

  // Found now: no question, the file stays as it is.
  EXPECT_EQ(loadDesignMatrices(mdmPath).size(), 2u);
  EXPECT_EQ(dialogCalls.size(), 1u);
  EXPECT_EQ(readFile(mdmPath), relocated);
}

TEST_F(MdmFiles, MotionSourceOfEachKindOfPath) {
  const std::string run1 = motionFile("run1_3DMC.sdm", 3);
  const std::string run2 = motionFile("run2_3DMC.sdm", 5);
  const std::string run3 = motionFile("run3_3DMC.sdm", 2);

  const std::vector<SdmDocument> single = loadDesignMatrices(run2);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].path, run2);
  EXPECT_EQ(single[0].NrOfDataPoints.value, 5);

  const std::string mdm = dir.file("three.mdm");
  writeFile(mdm, std::string(kHeader) + "4\n\"r3.fmr\" \"" + run3 + "\"\n\"r1.fmr\" \"" + run1 +
                     "\"\n\"ignored\"\n\"r2.fmr\" \"" + run2 + "\"\n");
  const std::vector<SdmDocument> three = loadDesignMatrices(mdm);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[0].path, run3);
  EXPECT_EQ(three[1].path, run1);
  EXPECT_EQ(three[2].path, run2);
  EXPECT_TRUE(dialogCalls.empty());

  EXPECT_TRUE(loadDesignMatrices(dir.file("run1_3DMC.SDM")).empty());
  EXPECT_TRUE(loadDesignMatrices(dir.file("notes.txt")).empty());

  // Fewer than six predictors: refused with the file's name.
  SdmDocument five;
  five.NrOfDataPoints.value = 1;
  for (int k = 0; k < 5; ++k) five.addPredictor({0.0f}, "p", 0, 0, 0);
  five.writeToFile(dir.file("five.sdm"));
  try {
    loadDesignMatrices(dir.file("five.sdm"));
    FAIL() << "no exception";
  } catch (const IOError& error) {
    EXPECT_EQ(std::string(error.what()),
              "SDM file " + dir.file("five.sdm") + ": holds 5 predictors, the six motion parameters need 6");
  }
  SdmDocument shortColumn = single[0];
  shortColumn.columns[2].pop_back();
  try {
    requireMotionParameters(shortColumn);
    FAIL() << "no exception";
  } catch (const IOError& error) {
    EXPECT_EQ(std::string(error.what()),
              "SDM file " + run2 + ": predictor 3 holds 4 values, NrOfDataPoints is 5");
  }
}

}  // namespace
}  // namespace tsl::testing
