// The MDM document, its relocation of missing studies and the motion-parameter
// source. The user's answers come from a fake file dialog.
#include "designmatrix/mdm_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameter_source.h"
#include "examples/motion_file_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

struct DialogCall {
  std::string caption, directory, filter;
};

class MdmFiles : public ::testing::Test {
 protected:
  std::vector<DialogCall> dialogCalls;
  std::vector<std::string> dialogAnswers;  // "" cancels
  std::string logged;                      // the log lines, as the log pane shows them
  UserAccess user{[this](const std::string& caption, const std::string& directory,
                         const std::string& filter) -> std::optional<std::string> {
                    dialogCalls.push_back({caption, directory, filter});
                    if (dialogAnswers.empty()) return std::nullopt;
                    const std::string answer = dialogAnswers.front();
                    dialogAnswers.erase(dialogAnswers.begin());
                    if (answer.empty()) return std::nullopt;
                    return answer;
                  },
                  [this](const std::string& message) { logged += "Tessel>  " + message; }};

  MdmDocument read(const std::string& text, const std::string& name = "study.mdm") {
    writeFile(dir.file(name), text);
    return MdmDocument(dir.file(name));
  }

  // A motion SDM of the host with the given number of volumes.
  std::string motionFile(const std::string& name, int volumes) {
    std::vector<MotionRow> rows(static_cast<std::size_t>(volumes), MotionRow{});
    for (int t = 0; t < volumes; ++t)
      rows[static_cast<std::size_t>(t)][0] = 0.5f * static_cast<float>(t);
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
    "PSCTransformation:    1\nzTransformation:      0\nSeparatePredictors:   2\n\nNrOfStudies:     "
    "     ";

TEST_F(MdmFiles, ReadsAndWritesTheFileFormat) {
  const MdmDocument document = read(std::string(kHeader) +
                                    "2\n\"C:/a/run1.fmr\" \"C:/a/run1_3DMC.sdm\"\n"
                                    "\"run2.fmr\"   ;  \"run2_3DMC.sdm\"\r\n\n");
  EXPECT_EQ(document.FileVersion, 3);
  EXPECT_EQ(document.TypeOfFunctionalData, "FMR");
  EXPECT_EQ(document.RFX_GLM, 1);
  EXPECT_EQ(document.PSCTransformation, 1);
  EXPECT_EQ(document.SeparatePredictors, 2);
  EXPECT_EQ(document.NrOfStudies, 2);
  EXPECT_EQ(document.dataPaths, (std::vector<std::string>{"C:/a/run1.fmr", "run2.fmr"}));
  EXPECT_EQ(document.sdmPaths, (std::vector<std::string>{"C:/a/run1_3DMC.sdm", "run2_3DMC.sdm"}));
  EXPECT_TRUE(document.leadingPaths.empty());
  const std::string expected =
      "\r\nFileVersion:          3\r\nTypeOfFunctionalData: FMR\r\n\r\nRFX-GLM:              "
      "1\r\n\r\n"
      "PSCTransformation:    1\r\nzTransformation:      0\r\nSeparatePredictors:   2\r\n\r\n"
      "NrOfStudies:          2\r\n"
      "\"C:/a/run1.fmr\"  \"C:/a/run1_3DMC.sdm\"\r\n\"run2.fmr\"  \"run2_3DMC.sdm\"\r\n";
  EXPECT_EQ(written(document), expected);
  document.writeToFile();
  EXPECT_EQ(readFile(dir.file("study.mdm")), expected);
  const MdmDocument back(dir.file("study.mdm"));
  EXPECT_EQ(written(back), expected);
  // A byte-order mark, as Windows editors save one, changes nothing.
  EXPECT_EQ(written(read("\xEF\xBB\xBF" + expected)), expected);

  // Absent keys: FileVersion -1, the others 0.
  const MdmDocument sparse = read("NrOfStudies: 1\n\"d\" \"s\"\n");
  EXPECT_EQ(sparse.FileVersion, -1);
  EXPECT_EQ(sparse.RFX_GLM, 0);
  EXPECT_EQ(sparse.TypeOfFunctionalData, "");
}

// Bytes in memory read as the file holding them; the name given is the
// document's path and names it in messages. Only the bytes given are read.
TEST_F(MdmFiles, ParsesBytesInMemoryAsTheirFile) {
  const std::string text =
      std::string(kHeader) + "2\n\"C:/a/r1.fmr\" \"C:/a/r1.sdm\"\n\"r2.fmr\" \"r2.sdm\"\n";
  const MdmDocument parsed = MdmDocument::parse("\xEF\xBB\xBF" + text, "D:/lists/study.mdm");
  EXPECT_EQ(parsed.path, "D:/lists/study.mdm");
  EXPECT_EQ(written(parsed), written(read(text)));
  EXPECT_THROW_MSG(
      MdmDocument::parse(std::string_view(text).substr(0, text.find("\"r2.fmr\"")), "D:/cut.mdm"),
      IOError, "MDM file D:/cut.mdm: NrOfStudies is 2, but the file lists 1 study");
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
  EXPECT_EQ(*document.leadingPaths[0], "l1.srf");  // not in the old folder: stays
  EXPECT_EQ(document.dataPaths[1], "D:/new/sub/m2.mtc");
  EXPECT_EQ(*document.leadingPaths[2], "D:/new/l3.srf");
  EXPECT_EQ(document.sdmPaths[2], "D:/new/run3.sdm");
}

TEST_F(MdmFiles, BrokenFilesNameTheFile) {
  const std::string p = "MDM file " + dir.file("study.mdm") + ": ";
  EXPECT_THROW_MSG(read(""), IOError, p + "missing header key NrOfStudies");
  EXPECT_THROW_MSG(read("FileVersion: 3\n\"d\" \"s\"\n"), IOError,
                   p + "missing header key NrOfStudies");
  // Seven tokens before the key end the header.
  EXPECT_THROW_MSG(read("a b c d e f g NrOfStudies: 1\n\"d\" \"s\"\n"), IOError,
                   p + "missing header key NrOfStudies");
  EXPECT_EQ(read("a b c d e f NrOfStudies: 1\n\"d\" \"s\"\n").sdmPaths,
            std::vector<std::string>{"s"});
  EXPECT_THROW_MSG(read("NrOfStudies: x\n"), IOError,
                   p + "value of NrOfStudies cannot be read as an integer");
  EXPECT_THROW_MSG(read("FileVersion: v3\nNrOfStudies: 1\n"), IOError,
                   p + "value of FileVersion cannot be read as an integer");
  EXPECT_THROW_MSG(read("TypeOfFunctionalData:"), IOError,
                   p + "value of TypeOfFunctionalData is missing");
  EXPECT_THROW_MSG(read("NrOfStudies: -2\n"), IOError, p + "NrOfStudies is negative (-2)");
  EXPECT_THROW_MSG(read("NrOfStudies: 0\n\"d\" \"s\"\n"), IOError,
                   p + "NrOfStudies is 0, the file lists no studies");
  EXPECT_THROW_MSG(read("NrOfStudies: 2000000000\n"), IOError,
                   p + "NrOfStudies is 2000000000, but the file lists 0 studies");
  EXPECT_THROW_MSG(MdmDocument absent(dir.file("absent.mdm")), OpenFileError,
                   "Failed opening for reading: " + dir.file("absent.mdm"));

  // Every truncated prefix of a valid file reads or is refused with its name.
  const std::string valid =
      std::string(kHeader) + "2\n\"C:/a/r1.fmr\" \"C:/a/r1.sdm\"\n\"r2.fmr\" \"r2.sdm\"\n";
  for (std::size_t length = 0; length <= valid.size(); ++length) {
    try {
      const MdmDocument document =
          MdmDocument::parse(std::string_view(valid).substr(0, length), "D:/cut.mdm");
      EXPECT_EQ(document.dataPaths.size(), document.sdmPaths.size());
      EXPECT_FALSE(document.sdmPaths.empty());
    } catch (const IOError& error) {
      EXPECT_NE(std::string(error.what()).find("D:/cut.mdm"), std::string::npos) << error.what();
    }
  }
}

// Study lines as editors leave them: blank lines (also after NrOfStudies, and
// with CRLF ends or a byte-order mark) are no studies; a line that is not a
// study is refused by its line number in the file, and so is a missing study.
TEST_F(MdmFiles, StudyLinesAreReadOrRefusedByNumber) {
  const std::string p = "MDM file " + dir.file("study.mdm") + ": ";
  const std::string studies =
      "\"C:/a/r1.fmr\" \"C:/a/r1.sdm\"\n  \t\n\"C:/a/r2.fmr\" \"C:/a/r2.sdm\"\n";
  const MdmDocument spaced = read(std::string(kHeader) + "2\n\n" + studies);
  EXPECT_EQ(spaced.sdmPaths, (std::vector<std::string>{"C:/a/r1.sdm", "C:/a/r2.sdm"}));
  EXPECT_EQ(spaced.dataPaths, (std::vector<std::string>{"C:/a/r1.fmr", "C:/a/r2.fmr"}));
  const MdmDocument windows = read(
      "\xEF\xBB\xBF\r\nFileVersion: 3\r\nNrOfStudies: 2\r\n\r\n"
      "\"C:/a/r1.fmr\" \"C:/a/r1.sdm\"\r\n \r\n\"C:/a/r2.fmr\" \"C:/a/r2.sdm\"\r\n");
  EXPECT_EQ(windows.FileVersion, 3);
  EXPECT_EQ(windows.sdmPaths, spaced.sdmPaths);

  // NrOfStudies stands on line 11.
  const std::string header = std::string(kHeader) + "3\n";
  EXPECT_THROW_MSG(
      read(header + "\"C:/a/r1.fmr\" \"C:/a/r1.sdm\"\n\n\"C:/a/r2.fmr\"\n\"r3.fmr\" \"r3.sdm\"\n"),
      IOError, p + "line 14 does not name a data file and an SDM file in double quotes");
  EXPECT_THROW_MSG(read(header + "\n\"l.srf\" \"m.mtc\" \"s.sdm\"\n"), IOError,
                   p + "line 13 does not name a data file and an SDM file in double quotes");
  EXPECT_THROW_MSG(read("\xEF\xBB\xBFNrOfStudies: 2\r\n\"d\" \"s\" ;\r\n\"unclosed\" \"s2\r\n"),
                   IOError,
                   p + "line 3 does not name a data file and an SDM file in double quotes");
  EXPECT_THROW_MSG(read(header + studies + "\n\n"), IOError,
                   p + "NrOfStudies is 3, but the file lists 2 studies");
  EXPECT_THROW_MSG(read(header + "\n\"d\" \"s\"\n"), IOError,
                   p + "NrOfStudies is 3, but the file lists 1 study");
  // A study beyond the count is refused as one too few is, even after blank lines.
  EXPECT_THROW_MSG(read(std::string(kHeader) + "2\n" + studies + "\n\"r3.fmr\" \"r3.sdm\"\n"),
                   IOError, p + "NrOfStudies is 2, but the file lists 3 studies");
  EXPECT_THROW_MSG(read(std::string(kHeader) + "1\n" + studies + "notes\n"), IOError,
                   p + "line 15 does not name a data file and an SDM file in double quotes");
}

TEST_F(MdmFiles, StudyPrefixesFollowTheCommonSuffix) {
  MdmDocument document =
      read(std::string(kHeader) +
           "3\n\"C:/old/sub/run1.fmr\" \"C:/old/sub/run1.sdm\"\n"
           "\"C:/old/other/run2.fmr\" \"C:/old/other/run2.sdm\"\n\"C:/o\" \"C:/o\"\n");
  const MdmDocument::StudyMove studyMove =
      document.replaceStudyPrefixes("C:/old/sub/run1.sdm", "D:/new/sub/run1.sdm");
  EXPECT_EQ(studyMove.from, "C:/old");
  EXPECT_EQ(studyMove.to, "D:/new");
  EXPECT_EQ(document.sdmPaths,
            (std::vector<std::string>{"D:/new/sub/run1.sdm", "D:/new/other/run2.sdm", "C:/o"}));
  EXPECT_EQ(document.dataPaths[1], "D:/new/other/run2.fmr");

  // Subjects renamed one by one: the answer for anna tells nothing of bert.
  MdmDocument renamed = read(std::string(kHeader) +
                             "2\n\"old/anna/r.fmr\" \"old/anna/run1_3DMC.sdm\"\n"
                             "\"old\\bert\\r.fmr\" \"old\\bert\\run1_3DMC.sdm\"\n");
  const MdmDocument::StudyMove anna =
      renamed.replaceStudyPrefixes("old/anna/run1_3DMC.sdm", "new/s01/run1_3DMC.sdm");
  EXPECT_EQ(anna.from, "old/anna");
  EXPECT_EQ(anna.to, "new/s01");
  EXPECT_EQ(renamed.sdmPaths,
            (std::vector<std::string>{"new/s01/run1_3DMC.sdm", "old\\bert\\run1_3DMC.sdm"}));
  EXPECT_EQ(renamed.dataPaths, (std::vector<std::string>{"new/s01/r.fmr", "old\\bert\\r.fmr"}));

  // Folders are matched whole: anna became hanna (not "" became "h"), and
  // annabel, whose name begins like anna's, stays where it was.
  MdmDocument named = read(std::string(kHeader) +
                           "2\n\"old/anna/r.fmr\" \"old/anna/run1_3DMC.sdm\"\n"
                           "\"old/annabel/r.fmr\" \"old/annabel/run1_3DMC.sdm\"\n");
  const MdmDocument::StudyMove hanna =
      named.replaceStudyPrefixes("old/anna/run1_3DMC.sdm", "new/hanna/run1_3DMC.sdm");
  EXPECT_EQ(hanna.from, "old/anna");
  EXPECT_EQ(hanna.to, "new/hanna");
  EXPECT_EQ(named.sdmPaths,
            (std::vector<std::string>{"new/hanna/run1_3DMC.sdm", "old/annabel/run1_3DMC.sdm"}));

  // The old folder written in other letter case by a hand-edited MDM.
  MdmDocument cased = read(std::string(kHeader) +
                           "2\n\"C:\\Data\\a\\r1.fmr\" \"C:\\Data\\a\\r1.sdm\"\n"
                           "\"c:\\data\\a\\r2.fmr\" \"c:\\data\\a\\r2.sdm\"\n");
  cased.replaceStudyPrefixes("C:\\Data\\a\\r1.sdm", "E:\\a\\r1.sdm");
  EXPECT_EQ(cased.sdmPaths, (std::vector<std::string>{"E:\\a\\r1.sdm", "E:\\a\\r2.sdm"}));

  // A relative old path gets the selected path's leading part.
  MdmDocument relative =
      read(std::string(kHeader) + "2\n\"run1.fmr\" \"run1.sdm\"\n\"b/run2.fmr\" \"b/run2.sdm\"\n");
  relative.replaceStudyPrefixes("run1.sdm", "D:/data/run1.sdm");
  EXPECT_EQ(relative.sdmPaths,
            (std::vector<std::string>{"D:/data/run1.sdm", "D:/data/b/run2.sdm"}));
  EXPECT_EQ(relative.dataPaths[0], "D:/data/run1.fmr");

  // Backslashes, and the dialog's backslashes against an MDM's forward slashes.
  MdmDocument back = read(std::string(kHeader) +
                          "2\n\"C:\\old\\a\\r1.fmr\" \"C:\\old\\a\\r1.sdm\"\n"
                          "\"C:\\old\\b\\r2.fmr\" \"C:\\old\\b\\r2.sdm\"\n");
  back.replaceStudyPrefixes("C:\\old\\a\\r1.sdm", "E:\\x\\old\\a\\r1.sdm");
  EXPECT_EQ(back.sdmPaths,
            (std::vector<std::string>{"E:\\x\\old\\a\\r1.sdm", "E:\\x\\old\\b\\r2.sdm"}));
  MdmDocument mixed = read(std::string(kHeader) +
                           "2\n\"C:/old/a/r1.fmr\" \"C:/old/a/r1.sdm\"\n"
                           "\"C:/old/b/r2.fmr\" \"C:/old/b/r2.sdm\"\n");
  mixed.replaceStudyPrefixes("C:/old/a/r1.sdm", "D:\\new\\a\\r1.sdm");
  EXPECT_EQ(mixed.sdmPaths, (std::vector<std::string>{"D:\\new\\a\\r1.sdm", "D:\\new\\b\\r2.sdm"}));
  // Moved paths take the answer's separator; a path left where it was keeps its own.
  MdmDocument mounted = read(std::string(kHeader) +
                             "2\n\"C:\\data\\s01\\r1.fmr\" \"C:\\data\\s01\\run1_3DMC.sdm\"\n"
                             "\"E:\\x\\r2.fmr\" \"E:\\x\\run2_3DMC.sdm\"\n");
  mounted.replaceStudyPrefixes("C:\\data\\s01\\run1_3DMC.sdm", "/mnt\\data/s01/run1_3DMC.sdm");
  EXPECT_EQ(mounted.sdmPaths,
            (std::vector<std::string>{"/mnt/data/s01/run1_3DMC.sdm", "E:\\x\\run2_3DMC.sdm"}));
  EXPECT_EQ(mounted.dataPaths[0], "/mnt/data/s01/r1.fmr");
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
  EXPECT_FALSE(MdmDocument(mdmPath).relocateStudyPaths(user));
  EXPECT_FALSE(MdmDocument(mdmPath).relocateStudyPaths(user));
  EXPECT_EQ(readFile(mdmPath), original);
  ASSERT_EQ(dialogCalls.size(), 2u);
  EXPECT_EQ(dialogCalls[0].caption, "SDM not found. Select run1_3DMC.sdm manually.");
  EXPECT_EQ(dialogCalls[0].directory, dir.path().generic_string() + "/");
  EXPECT_EQ(dialogCalls[0].filter, "Single Subject Desgin Matrix (run1_3DMC.sdm)");

  // A cancelled relocation ends loading with the reader's error on the missing SDM.
  dialogAnswers = {""};
  EXPECT_THROW_MSG(loadDesignMatrices(mdmPath, user), OpenFileError,
                   "Failed opening for reading: " + oldRoot + "/sub/run1_3DMC.sdm");

  dialogCalls.clear();
  dialogAnswers = {newRoot + "/sub/run1_3DMC.sdm"};
  const std::vector<SdmDocument> runs = loadDesignMatrices(mdmPath, user);
  EXPECT_EQ(logged, "Tessel>  MDM file " + mdmPath + ": studies moved from \"" + oldRoot +
                        "\" to \"" + newRoot + "\", MDM file saved");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].path, newRoot + "/sub/run2_3DMC.sdm");
  EXPECT_EQ(runs[1].columns[0][3], 1.5f);
  EXPECT_EQ(dialogCalls.size(), 1u);
  const MdmDocument rewritten(mdmPath);
  EXPECT_EQ(rewritten.dataPaths[1], newRoot + "/sub/run2.fmr");
  const std::string relocated = readFile(mdmPath);

  // Found now: no question, the file stays as it is.
  EXPECT_EQ(loadDesignMatrices(mdmPath, user).size(), 2u);
  EXPECT_EQ(dialogCalls.size(), 1u);
  EXPECT_EQ(readFile(mdmPath), relocated);
}

// Subjects moved into renamed folders: an answer for the first tells nothing
// of the others, so the MDM keeps its bytes and names the first study still
// missing. A move of their common folder takes every study in it along and
// leaves studies elsewhere as they are.
TEST_F(MdmFiles, RelocationMovesTheOldFolderOnlyAndNeedsEveryStudy) {
  const std::string root = dir.path().generic_string();
  motionFile("new/s01/run1_3DMC.sdm", 3);
  motionFile("new/s02/run1_3DMC.sdm", 3);
  const std::string mdmPath = dir.file("renamed.mdm");
  writeMdm(mdmPath, {root + "/old/anna/run1_3DMC.sdm", root + "/old/bert/run1_3DMC.sdm"},
           {root + "/old/anna/run1.fmr", root + "/old/bert/run1.fmr"});
  const std::string original = readFile(mdmPath);
  dialogAnswers = {root + "/new/s01/run1_3DMC.sdm"};
  EXPECT_THROW_MSG(loadDesignMatrices(mdmPath, user), IOError,
                   "MDM file " + mdmPath + ": study 2 (" + root +
                       "/old/bert/run1_3DMC.sdm) cannot be found after moving the studies from \"" +
                       root + "/old/anna\" to \"" + root + "/new/s01\"");
  EXPECT_EQ(readFile(mdmPath), original);
  EXPECT_EQ(logged, "");

  const std::string carl = motionFile("keep/carl/run1_3DMC.sdm", 2);
  motionFile("study.v2/anna/run1_3DMC.sdm", 4);
  motionFile("study.v2/bert/run1_3DMC.sdm", 5);
  const std::string moved = dir.file("moved.mdm");
  writeMdm(moved,
           {root + "/study.v1/anna/run1_3DMC.sdm", carl, root + "/study.v1\\bert\\run1_3DMC.sdm"},
           {root + "/study.v1/anna/run1.fmr", root + "/keep/carl/run1.fmr",
            root + "/study.v1\\bert\\run1.fmr"});
  dialogAnswers = {root + "/study.v2/anna/run1_3DMC.sdm"};
  const std::vector<SdmDocument> runs = loadDesignMatrices(moved, user);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].path, carl);
  EXPECT_EQ(runs[2].path, root + "/study.v2/bert/run1_3DMC.sdm");
  EXPECT_EQ(runs[2].NrOfDataPoints.value, 5);
  EXPECT_EQ(logged, "Tessel>  MDM file " + moved + ": studies moved from \"" + root +
                        "/study.v1\" to \"" + root + "/study.v2\", MDM file saved");
  const MdmDocument rewritten(moved);
  EXPECT_EQ(rewritten.dataPaths, (std::vector<std::string>{root + "/study.v2/anna/run1.fmr",
                                                           root + "/keep/carl/run1.fmr",
                                                           root + "/study.v2/bert/run1.fmr"}));
}

// The chosen path may be as short as the file's name, not shorter; when the
// first study opens nothing is asked and the MDM stays, also when a later
// study is missing (its reading then fails).
TEST_F(MdmFiles, RelocationBoundaries) {
  const std::string root = dir.path().generic_string();
  motionFile("run1_3DMC.sdm", 3);
  motionFile("run2_3DMC.sdm", 3);
  const std::string mdmPath = dir.file("bare.mdm");
  writeMdm(mdmPath, {root + "/gone/run1_3DMC.sdm", root + "/gone/run2_3DMC.sdm"},
           {"r1.fmr", "r2.fmr"});
  const std::string original = readFile(mdmPath);
  dialogAnswers = {"un1_3DMC.sdm"};
  EXPECT_FALSE(MdmDocument(mdmPath).relocateStudyPaths(user));
  EXPECT_EQ(readFile(mdmPath), original);
  // The bare name: the studies become relative and are found beside the MDM.
  dialogAnswers = {"run1_3DMC.sdm"};
  const std::vector<SdmDocument> runs = loadDesignMatrices(mdmPath, user);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[1].path, root + "/run2_3DMC.sdm");
  EXPECT_EQ(MdmDocument(mdmPath).sdmPaths,
            (std::vector<std::string>{"run1_3DMC.sdm", "run2_3DMC.sdm"}));

  const std::string partly = dir.file("partly.mdm");
  writeMdm(partly, {root + "/run1_3DMC.sdm", root + "/gone/run2_3DMC.sdm"}, {"r1.fmr", "r2.fmr"});
  const std::string partlyBytes = readFile(partly);
  dialogCalls.clear();
  EXPECT_THROW_MSG(loadDesignMatrices(partly, user), OpenFileError,
                   "Failed opening for reading: " + root + "/gone/run2_3DMC.sdm");
  EXPECT_TRUE(dialogCalls.empty());
  EXPECT_EQ(readFile(partly), partlyBytes);
}

// An MDM that lists its runs relative to its own folder is read from there:
// nothing is asked and the file stays. Relative paths found nowhere are still
// asked for and reported as the MDM lists them.
TEST_F(MdmFiles, RelativeStudiesAreFoundBesideTheMdm) {
  const std::string root = dir.path().generic_string();
  motionFile("my.data/run1_3DMC.sdm", 3);
  motionFile("my.data/sub\\run2_3DMC.sdm", 4);
  const std::string mdmPath = dir.file("my.data/study.mdm");
  writeMdm(mdmPath, {"run1_3DMC.sdm", "sub\\run2_3DMC.sdm"}, {"run1.fmr", "sub\\run2.fmr"});
  const std::string original = readFile(mdmPath);
  const std::vector<SdmDocument> runs = loadDesignMatrices(mdmPath, user);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].path, root + "/my.data/run1_3DMC.sdm");
  EXPECT_EQ(runs[1].path, root + "/my.data/sub\\run2_3DMC.sdm");
  EXPECT_EQ(runs[1].NrOfDataPoints.value, 4);
  EXPECT_TRUE(dialogCalls.empty());
  EXPECT_EQ(readFile(mdmPath), original);

  // The working folder plays no part, even when it holds a file of that name.
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.file("my.data"));
  const std::string elsewhere = dir.file("elsewhere.mdm");
  writeMdm(elsewhere, {"run1_3DMC.sdm"}, {"run1.fmr"});
  EXPECT_THROW_MSG(loadDesignMatrices(elsewhere, user), OpenFileError,
                   "Failed opening for reading: " + root + "/run1_3DMC.sdm");
  std::filesystem::current_path(previous);
  EXPECT_EQ(dialogCalls.size(), 1u);

  // Relocated, relative paths stay relative where the files still lie in the
  // MDM's folder, and take the answer's separator.
  motionFile("my.data/renamed/run3_3DMC.sdm", 2);
  const std::string renamed = dir.file("my.data/renamed.mdm");
  writeMdm(renamed, {"gone\\run3_3DMC.sdm", "sub\\run2_3DMC.sdm"}, {"gone\\run3.fmr", "x.fmr"});
  dialogAnswers = {root + "/my.data/renamed/run3_3DMC.sdm"};
  EXPECT_EQ(loadDesignMatrices(renamed, user).at(0).path, root + "/my.data/renamed/run3_3DMC.sdm");
  const MdmDocument rewritten(renamed);
  EXPECT_EQ(rewritten.sdmPaths,
            (std::vector<std::string>{"renamed/run3_3DMC.sdm", "sub\\run2_3DMC.sdm"}));
  EXPECT_EQ(rewritten.dataPaths, (std::vector<std::string>{"renamed/run3.fmr", "x.fmr"}));
}

TEST_F(MdmFiles, MotionSourceOfEachKindOfPath) {
  const std::string run1 = motionFile("run1_3DMC.sdm", 3);
  const std::string run2 = motionFile("run2_3DMC.sdm", 5);
  const std::string run3 = motionFile("run3_3DMC.sdm", 2);

  const std::vector<SdmDocument> single = loadDesignMatrices(run2, user);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].path, run2);
  EXPECT_EQ(single[0].NrOfDataPoints.value, 5);

  const std::string mdm = dir.file("three.mdm");
  writeFile(mdm, std::string(kHeader) + "3\n\"r3.fmr\" \"" + run3 + "\"\n\"r1.fmr\" \"" + run1 +
                     "\"\n\n\"r2.fmr\" \"" + run2 + "\"\n");
  const std::vector<SdmDocument> three = loadDesignMatrices(mdm, user);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[0].path, run3);
  EXPECT_EQ(three[1].path, run1);
  EXPECT_EQ(three[2].path, run2);
  EXPECT_TRUE(dialogCalls.empty());

  // Windows dialogs offer capitals; other stems, as Windows names ignore case.
  writeFile(dir.file("RUN4_3DMC.SDM"), readFile(run2));
  EXPECT_EQ(loadDesignMatrices(dir.file("RUN4_3DMC.SDM"), user).size(), 1u);
  writeFile(dir.file("CAPS.MDM"), std::string(kHeader) + "1\n\"r.fmr\" \"" + run3 + "\"\n");
  EXPECT_EQ(loadDesignMatrices(dir.file("CAPS.MDM"), user).size(), 1u);
  EXPECT_TRUE(loadDesignMatrices(dir.file("notes.txt"), user).empty());

  // Fewer than six predictors: refused with the file's name.
  SdmDocument five;
  five.NrOfDataPoints.value = 1;
  for (int k = 0; k < 5; ++k) five.addPredictor({0.0f}, "p", 0, 0, 0);
  five.writeToFile(dir.file("five.sdm"));
  EXPECT_THROW_MSG(loadDesignMatrices(dir.file("five.sdm"), user), IOError,
                   "SDM file " + dir.file("five.sdm") +
                       ": holds 5 predictors, the six motion parameters need 6");
  SdmDocument shortColumn = single[0];
  shortColumn.columns[2].pop_back();
  EXPECT_THROW_MSG(requireMotionParameters(shortColumn), IOError,
                   "SDM file " + run2 + ": predictor 3 holds 4 values, NrOfDataPoints is 5");
}

}  // namespace
}  // namespace tsl::testing
