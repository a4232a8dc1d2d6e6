// The file choice task through the host simulator: the dialogs it opens, the
// messages it shows, the parameter it stores and the MDM files it rewrites.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "designmatrix/mdm_document.h"
#include "examples/motion_file_writer.h"
#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

const char* const kChooseCaption = "Choose the 3DMC SDM you want to use:";
const char* const kChooseFilter = "3D Motion Correction (*_3DMC.sdm *_3DMC.mdm)";
const char* const kMismatch = "FMR and _3DMC.sdm don't have the same number of volumes!";

class SelectMotionFile : public ::testing::Test {
 protected:
  // A motion SDM of the host with `volumes` rows at dir/name; name may hold
  // "/" or "\" (on Linux a backslash is part of a file name, on Windows it
  // separates folders: the same text works on both).
  std::string motionFile(const std::string& name, int volumes) {
    std::vector<MotionRow> rows(static_cast<std::size_t>(volumes), MotionRow{});
    for (int t = 1; t < volumes; ++t) {
      rows[static_cast<std::size_t>(t)] = {0.01f * static_cast<float>(t), -0.000387509f, 5.806e-05f,
                                           -12.5f, 0.0f, 1.0f};
    }
    // Joined as text: generic_string would turn backslashes into slashes on Windows.
    const std::string file = dir.path().generic_string() + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    writeHostMotionSdm(file, rows);
    return file;
  }

  // Runs the file choice task on a current run of `volumes` volumes, with the
  // given answers to the file dialogs ("" cancels).
  SimulatorRun select(const std::vector<std::string>& answers, int volumes = 5) {
    std::vector<std::string> args = {"--document-type", "1", "--volumes", std::to_string(volumes)};
    for (const std::string& answer : answers) {
      if (answer.empty()) {
        args.push_back("--cancel");
      } else {
        args.push_back("--choose");
        args.push_back(answer);
      }
    }
    args.push_back("--task");
    args.push_back("select_3dmcsdm");
    SimulatorRun run = runSimulator(args);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    return run;
  }

  static std::vector<std::string> stored(const SimulatorRun& run) {
    std::vector<std::string> values;
    for (const HostCall* call : run.calls("zrSetStringParameter")) {
      EXPECT_EQ(call->text(0), "sdmfile");
      values.push_back(call->text(1));
    }
    return values;
  }

  static void expectDialog(const HostCall& call, const std::string& caption, const std::string& directory,
                           const std::string& filter) {
    EXPECT_EQ(call.text(0), caption) << call.line;
    EXPECT_EQ(call.text(1), directory) << call.line;
    EXPECT_EQ(call.text(2), filter) << call.line;
  }

  // The MDM at mdm lists oldStudies (with oldData); the SDMs are now at
  // newStudies. Choosing the MDM asks once for the first SDM; the user's
  // answer newStudies[0] moves every study from the folder `from` to `to`,
  // the MDM file is rewritten and the log says so, and a second choice of the
  // MDM asks nothing and leaves it as it is.
  void expectRelocation(const std::vector<std::string>& oldStudies, const std::vector<std::string>& newStudies,
                        const std::vector<std::string>& oldData, const std::vector<std::string>& newData,
                        const std::string& mdm, const std::string& from, const std::string& to) {
    writeMdm(mdm, oldStudies, oldData);
    const SimulatorRun first = select({mdm, newStudies[0]});
    const auto dialogs = first.calls("zrGetOpenFileName");
    ASSERT_EQ(dialogs.size(), 2u) << first.describe();
    const std::string name = oldStudies[0].substr(oldStudies[0].find_last_of("/\\") + 1);
    expectDialog(*dialogs[1], "SDM not found. Select " + name + " manually.",
                 mdm.substr(0, mdm.find_last_of("/\\") + 1), "Single Subject Desgin Matrix (" + name + ")");
    EXPECT_TRUE(first.messages().empty()) << first.describe();
    EXPECT_EQ(stored(first), std::vector<std::string>{mdm});
    const auto logged = first.logTexts();
    EXPECT_EQ(std::count(logged.begin(), logged.end(),
                         "Tessel>  MDM file " + mdm + ": studies moved from \"" + from + "\" to \"" + to +
                             "\", MDM file saved"),
              1)
        << first.describe();
    const MdmDocument rewritten(mdm);
    EXPECT_EQ(rewritten.sdmPaths, newStudies);
    EXPECT_EQ(rewritten.dataPaths, newData);

    const std::string relocated = readFile(mdm);
    const SimulatorRun second = select({mdm});
    EXPECT_EQ(second.calls("zrGetOpenFileName").size(), 1u) << second.describe();
    EXPECT_TRUE(second.messages().empty()) << second.describe();
    EXPECT_EQ(stored(second), std::vector<std::string>{mdm});
    EXPECT_EQ(readFile(mdm), relocated);
  }

  TempDir dir;
};

TEST_F(SelectMotionFile, StoresTheChosenSdmAndWarnsAboutOtherVolumeCounts) {
  const std::string sdm = motionFile("run1_3DMC.sdm", 5);
  const SimulatorRun match = select({sdm}, 5);
  const auto dialogs = match.calls("zrGetOpenFileName");
  ASSERT_EQ(dialogs.size(), 1u) << match.describe();
  expectDialog(*dialogs[0], kChooseCaption, "", kChooseFilter);
  EXPECT_EQ(stored(match), std::vector<std::string>{sdm}) << match.describe();
  EXPECT_TRUE(match.messages().empty()) << match.describe();
  EXPECT_TRUE(match.calls("zrShowBusyCursor").empty());

  const SimulatorRun fewer = select({sdm}, 4);
  EXPECT_EQ(fewer.messages(), std::vector<std::string>{kMismatch}) << fewer.describe();
  EXPECT_EQ(stored(fewer), std::vector<std::string>{sdm});
  const SimulatorRun mismatch = select({sdm}, 6);
  EXPECT_EQ(mismatch.messages(), std::vector<std::string>{kMismatch}) << mismatch.describe();
  EXPECT_EQ(stored(mismatch), std::vector<std::string>{sdm});
  // The warning comes before the path is stored.
  const auto names = mismatch.callNames();
  const auto box = std::find(names.begin(), names.end(), "zrMessageBox");
  EXPECT_LT(box, std::find(names.begin(), names.end(), "zrSetStringParameter"));
}

TEST_F(SelectMotionFile, RefusalsStoreNothing) {
  const SimulatorRun cancelled = select({""});
  EXPECT_EQ(cancelled.messages(), std::vector<std::string>{"Error: You must choose a valid file!"});
  EXPECT_TRUE(stored(cancelled).empty());

  const std::string text = dir.file("motion_3DMC.txt");
  writeFile(text, hostMotionSdmText({{}}));
  const SimulatorRun other = select({text});
  EXPECT_EQ(other.messages(),
            std::vector<std::string>{"Error: Not an SDM or MDM file (the name must end in .sdm or .mdm): " + text});
  EXPECT_TRUE(stored(other).empty());

  const std::string broken = motionFile("broken_3DMC.sdm", 3);
  std::string bytes = readFile(broken);
  bytes.erase(bytes.rfind("           0"), 12);
  writeFile(broken, bytes);
  const SimulatorRun malformed = select({broken}, 3);
  EXPECT_EQ(malformed.messages(),
            std::vector<std::string>{"Error: SDM file " + broken + ": data row 3 holds 5 values, expected 6"});
  EXPECT_TRUE(stored(malformed).empty());

  const std::string missing = dir.file("absent_3DMC.sdm");
  const SimulatorRun absent = select({missing});
  EXPECT_EQ(absent.messages(), std::vector<std::string>{"Error: Failed opening for reading: " + missing});
  EXPECT_TRUE(stored(absent).empty());
}

// The tasks that use the chosen file refuse a path that yields no motion
// document instead of finishing as if they had done their work.
TEST_F(SelectMotionFile, TasksRefuseAPathThatIsNoMotionFile) {
  const std::string text = dir.file("motion_3DMC.txt");
  writeFile(text, hostMotionSdmText({{}}));
  for (const std::string task : {"displacement", "confound"}) {
    for (const std::string& path : {text, std::string()}) {
      const SimulatorRun run = runSimulator({"--document-type", "1", "--param", "sdmfile=" + path, "--task", task});
      EXPECT_EQ(run.exitCode, 0) << run.describe();
      EXPECT_EQ(run.messages(),
                std::vector<std::string>{path.empty()
                                             ? "Error: No motion file chosen: choose the 3DMC SDM or MDM first"
                                             : "Error: Not an SDM or MDM file (the name must end in .sdm or .mdm): " +
                                                   path})
          << task << "\n" << run.describe();
      EXPECT_TRUE(run.calls("zrCreateMAPForCurrentFMR").empty()) << task;
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

TEST_F(SelectMotionFile, MdmStudiesThatMovedAreRelocatedOnce) {
  const std::string root = dir.path().generic_string();

  // A folder tree moved (C:/old -> D:/new): the shared subfolders stay.
  expectRelocation({root + "/old/sub/run1_3DMC.sdm", root + "/old/other/run2_3DMC.sdm"},
                   {motionFile("new/sub/run1_3DMC.sdm", 5), motionFile("new/other/run2_3DMC.sdm", 4)},
                   {root + "/old/sub/run1.fmr", root + "/old/other/run2.fmr"},
                   {root + "/new/sub/run1.fmr", root + "/new/other/run2.fmr"}, root + "/fwd.mdm", root + "/old",
                   root + "/new");

  // The same with backslashes, as the host's own dialog answers on Windows.
  expectRelocation({root + "/old\\sub\\b1_3DMC.sdm", root + "/old\\other\\b2_3DMC.sdm"},
                   {motionFile("new\\sub\\b1_3DMC.sdm", 5), motionFile("new\\other\\b2_3DMC.sdm", 4)},
                   {root + "/old\\sub\\b1.fmr", root + "/old\\other\\b2.fmr"},
                   {root + "/new\\sub\\b1.fmr", root + "/new\\other\\b2.fmr"}, root + "/back.mdm", root + "/old",
                   root + "/new");

  // Relative study paths found neither as given nor beside the MDM get the
  // leading part of the chosen path.
  expectRelocation({"e2e-rel1_3DMC.sdm", "e2e-sub/e2e-rel2_3DMC.sdm"},
                   {motionFile("moved/e2e-rel1_3DMC.sdm", 5), motionFile("moved/e2e-sub/e2e-rel2_3DMC.sdm", 4)},
                   {"rel1.fmr", "e2e-sub/rel2.fmr"}, {root + "/moved/rel1.fmr", root + "/moved/e2e-sub/rel2.fmr"},
                   root + "/rel.mdm", "", root + "/moved/");
}

// Subjects moved into renamed folders one by one: the answer for the first
// cannot move the second, so nothing is stored and the MDM keeps its bytes.
TEST_F(SelectMotionFile, SubjectsInRenamedFoldersAreRefused) {
  const std::string root = dir.path().generic_string();
  const std::string mdm = root + "/subjects.mdm";
  writeMdm(mdm, {root + "/old/anna/run1_3DMC.sdm", root + "/old/bert/run1_3DMC.sdm"},
           {root + "/old/anna/run1.fmr", root + "/old/bert/run1.fmr"});
  const std::string original = readFile(mdm);
  const std::string anna = motionFile("new/s01/run1_3DMC.sdm", 5);
  motionFile("new/s02/run1_3DMC.sdm", 5);
  const SimulatorRun renamed = select({mdm, anna});
  EXPECT_EQ(renamed.messages(), std::vector<std::string>{"Error: MDM file " + mdm + ": study 2 (" + root +
                                                         "/old/bert/run1_3DMC.sdm) cannot be found after moving "
                                                         "the studies from \"" + root + "/old/anna\" to \"" + root +
                                                         "/new/s01\""})
      << renamed.describe();
  EXPECT_TRUE(stored(renamed).empty());
  EXPECT_EQ(readFile(mdm), original);
}

TEST_F(SelectMotionFile, CancelledRelocationLeavesTheMdmAlone) {
  const std::string mdm = dir.file("study.mdm");
  const std::string gone = dir.file("gone/run1_3DMC.sdm");
  writeMdm(mdm, {gone}, {dir.file("gone/run1.fmr")});
  const std::string original = readFile(mdm);
  const SimulatorRun run = select({mdm, ""});
  EXPECT_EQ(run.calls("zrGetOpenFileName").size(), 2u) << run.describe();
  EXPECT_EQ(run.messages(), std::vector<std::string>{"Error: Failed opening for reading: " + gone});
  EXPECT_TRUE(stored(run).empty());
  EXPECT_EQ(readFile(mdm), original);
}

}  // namespace
}  // namespace tsl::testing
