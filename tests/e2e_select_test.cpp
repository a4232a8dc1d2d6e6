// The file choice task through the host simulator: one ordinary run, which
// reaches every host call the task makes. The task's own behaviour is tested
// in-process (select_motion_file_test).
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
  // A motion SDM of the host with `volumes` rows at dir/name.
  std::string motionFile(const std::string& name, int volumes) {
    std::vector<MotionRow> rows(static_cast<std::size_t>(volumes), MotionRow{});
    for (int t = 1; t < volumes; ++t) {
      rows[static_cast<std::size_t>(t)] = {
          0.01f * static_cast<float>(t), -0.000387509f, 5.806e-05f, -12.5f, 0.0f, 1.0f};
    }
    const std::string file = dir.file(name);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    writeHostMotionSdm(file, rows);
    return file;
  }

  // Runs the file choice task on a current run of `volumes` volumes, with the
  // given answers to the file dialogs.
  static SimulatorRun select(const std::vector<std::string>& answers, int volumes) {
    std::vector<std::string> args = {"--document-type", "1", "--volumes", std::to_string(volumes)};
    for (const std::string& answer : answers) {
      args.push_back("--choose");
      args.push_back(answer);
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

  static void expectDialog(const HostCall& call, const std::string& caption,
                           const std::string& directory, const std::string& filter) {
    EXPECT_EQ(call.text(0), caption) << call.line;
    EXPECT_EQ(call.text(1), directory) << call.line;
    EXPECT_EQ(call.text(2), filter) << call.line;
  }

  TempDir dir;
};

// An MDM whose studies moved, chosen on a run with another number of
// volumes than its first study: both dialogs, the log line, the warning, the
// stored path and the rewritten MDM, and no busy cursor.
TEST_F(SelectMotionFile, OrdinaryRun) {
  const std::string root = dir.path().generic_string();
  const std::string mdm = root + "/study_3DMC.mdm";
  writeMdm(mdm, {root + "/old/sub/run1_3DMC.sdm", root + "/old/other/run2_3DMC.sdm"},
           {root + "/old/sub/run1.fmr", root + "/old/other/run2.fmr"});
  const std::string moved = motionFile("new/sub/run1_3DMC.sdm", 5);
  motionFile("new/other/run2_3DMC.sdm", 4);
  const SimulatorRun run = select({mdm, moved}, 6);

  const auto dialogs = run.calls("zrGetOpenFileName");
  ASSERT_EQ(dialogs.size(), 2u) << run.describe();
  expectDialog(*dialogs[0], kChooseCaption, "", kChooseFilter);
  expectDialog(*dialogs[1], "SDM not found. Select run1_3DMC.sdm manually.", root + "/",
               "Single Subject Desgin Matrix (run1_3DMC.sdm)");
  const auto logged = run.logTexts();
  EXPECT_EQ(std::count(logged.begin(), logged.end(),
                       "Tessel>  MDM file " + mdm + ": studies moved from \"" + root +
                           "/old\" to \"" + root + "/new\", MDM file saved"),
            1)
      << run.describe();
  EXPECT_EQ(run.messages(), std::vector<std::string>{kMismatch}) << run.describe();
  EXPECT_EQ(stored(run), std::vector<std::string>{mdm});
  EXPECT_TRUE(run.calls("zrShowBusyCursor").empty());
  EXPECT_EQ(MdmDocument(mdm).sdmPaths,
            (std::vector<std::string>{moved, root + "/new/other/run2_3DMC.sdm"}));
}

}  // namespace
}  // namespace tsl::testing
