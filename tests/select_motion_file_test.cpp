// The file choice task in-process, through the recording host: the dialogs
// it opens, the warning it shows, the motion file it hands back, the moved
// studies of an MDM it relocates with the user's answer, and its refusals;
// and the refusal of the tasks that use the chosen file when it is none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "designmatrix/mdm_document.h"
#include "examples/motion_file_writer.h"
#include "tasks/tasks.h"
#include "tests/support/recording_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using test::RecordingHost;
using ::testing::ElementsAre;

const char* const kChooseCaption = "Choose the 3DMC SDM you want to use:";
const char* const kChooseFilter = "3D Motion Correction (*_3DMC.sdm *_3DMC.mdm)";
const char* const kMismatch = "FMR and _3DMC.sdm don't have the same number of volumes!";
// What the dialog held before the task ran.
const char* const kEarlier = "earlier_3DMC.sdm";

class SelectMotionFile : public ::testing::Test {
 protected:
  // A motion SDM of the host with `volumes` drifting rows at dir/name; name
  // may hold "/" or "\" (on Linux a backslash is part of a file name, on
  // Windows it separates folders: the same text works on both).
  std::string motionFile(const std::string& name, int volumes) {
    std::vector<MotionRow> rows;
    for (int t = 0; t < volumes; ++t) {
      const float f = static_cast<float>(t);
      rows.push_back({0.01f * f, -0.000387509f * f, 5.806e-05f, -12.5f + f, 0.25f * f, 1.0f});
    }
    // Joined as text: generic_string would turn backslashes into slashes on Windows.
    const std::string file = dir.path().generic_string() + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    writeHostMotionSdm(file, rows);
    return file;
  }

  // A host whose current run has `volumes` volumes and whose file dialogs
  // get answers (nullopt cancels).
  static RecordingHost hostWith(int volumes,
                                const std::vector<std::optional<std::string>>& answers) {
    RecordingHost host;
    host.run.volumes = volumes;
    host.set("sdmfile", kEarlier);
    host.answers.assign(answers.begin(), answers.end());
    return host;
  }

  // A refused choice: the dialog keeps its motion file, the log stays empty.
  static void expectKept(const RecordingHost& host) {
    EXPECT_EQ(host.parameters.at("sdmfile"), kEarlier);
    for (const std::string& call : host.calls) EXPECT_EQ(call.rfind("dialog ", 0), 0u) << call;
  }

  // The MDM at mdm lists oldStudies (with oldData); the SDMs are now at
  // newStudies as the MDM lists them after the move. Choosing the MDM asks
  // once for the first SDM; the answer (newStudies[0] unless given) moves
  // every study from the folder `from` to `to`, the MDM
  // file is rewritten and the log says so. Choosing it again asks nothing
  // and leaves it as it is.
  void expectRelocation(const std::vector<std::string>& oldStudies,
                        const std::vector<std::string>& newStudies,
                        const std::vector<std::string>& oldData,
                        const std::vector<std::string>& newData, const std::string& mdm,
                        const std::string& from, const std::string& to,
                        const std::string& answer = "") {
    writeMdm(mdm, oldStudies, oldData);
    RecordingHost host = hostWith(5, {mdm, answer.empty() ? newStudies[0] : answer});
    selectMotionFile(host);
    const std::string name = oldStudies[0].substr(oldStudies[0].find_last_of("/\\") + 1);
    const std::string relocation = "SDM not found. Select " + name + " manually.";
    EXPECT_THAT(host.calls,
                ElementsAre("dialog " + std::string(kChooseCaption), "dialog " + relocation,
                            "log Tessel>  MDM file " + mdm + ": studies moved from \"" + from +
                                "\" to \"" + to + "\", MDM file saved",
                            "set " + mdm));
    ASSERT_EQ(host.dialogs.size(), 2u);
    EXPECT_EQ(host.dialogs[1].initialFolder, mdm.substr(0, mdm.rfind('/') + 1));
    EXPECT_EQ(host.dialogs[1].filter, "Single Subject Desgin Matrix (" + name + ")");
    const MdmDocument rewritten(mdm);
    EXPECT_EQ(rewritten.sdmPaths, newStudies);
    EXPECT_EQ(rewritten.dataPaths, newData);

    const std::string relocated = readFile(mdm);
    RecordingHost again = hostWith(5, {mdm});
    selectMotionFile(again);
    EXPECT_THAT(again.calls, ElementsAre("dialog " + std::string(kChooseCaption), "set " + mdm));
    EXPECT_EQ(readFile(mdm), relocated);
  }

  TempDir dir;
};

TEST_F(SelectMotionFile, StoresTheChosenFileAndWarnsAboutOtherVolumeCounts) {
  const std::string sdm = motionFile("run1_3DMC.sdm", 5);
  RecordingHost match = hostWith(5, {sdm});
  selectMotionFile(match);
  ASSERT_EQ(match.dialogs.size(), 1u);
  EXPECT_EQ(match.dialogs[0].caption, kChooseCaption);
  EXPECT_EQ(match.dialogs[0].initialFolder, "");
  EXPECT_EQ(match.dialogs[0].filter, kChooseFilter);
  EXPECT_THAT(match.calls, ElementsAre("dialog " + std::string(kChooseCaption), "set " + sdm));
  EXPECT_EQ(match.parameters.at("sdmfile"), sdm);

  // Fewer or more volumes: a warning first, then the file is stored all the same.
  for (const int volumes : {4, 6}) {
    RecordingHost other = hostWith(volumes, {sdm});
    selectMotionFile(other);
    EXPECT_THAT(other.calls, ElementsAre("dialog " + std::string(kChooseCaption),
                                         "message " + std::string(kMismatch), "set " + sdm))
        << volumes << " volumes";
  }

  // Of an MDM only the first run is compared.
  const std::string mdm = dir.file("study_3DMC.mdm");
  writeMdm(mdm, {motionFile("run2_3DMC.sdm", 3), sdm}, {"run2.fmr", "run1.fmr"});
  RecordingHost first = hostWith(3, {mdm});
  selectMotionFile(first);
  EXPECT_TRUE(first.messages.empty());
  RecordingHost second = hostWith(5, {mdm});
  selectMotionFile(second);
  EXPECT_THAT(second.messages, ElementsAre(kMismatch));
  EXPECT_EQ(second.parameters.at("sdmfile"), mdm);
  EXPECT_TRUE(second.logLines.empty());
}

TEST_F(SelectMotionFile, RefusalsKeepTheMotionFile) {
  RecordingHost cancelled = hostWith(5, {std::nullopt});
  EXPECT_THROW_MSG(selectMotionFile(cancelled), std::runtime_error,
                   "You must choose a valid file!");
  expectKept(cancelled);
  EXPECT_EQ(cancelled.dialogs.size(), 1u);

  const std::string text = dir.file("motion_3DMC.txt");
  writeFile(text, hostMotionSdmText({{}}));
  RecordingHost other = hostWith(5, {text});
  EXPECT_THROW_MSG(selectMotionFile(other), std::runtime_error,
                   "Not an SDM or MDM file (the name must end in .sdm or .mdm): " + text);
  expectKept(other);

  const std::string broken = motionFile("broken_3DMC.sdm", 3);
  std::string bytes = readFile(broken);
  bytes.erase(bytes.rfind("           1"), 12);
  writeFile(broken, bytes);
  RecordingHost malformed = hostWith(3, {broken});
  EXPECT_THROW_MSG(selectMotionFile(malformed), IOError,
                   "SDM file " + broken + ": data row 3 holds 5 values, expected 6");
  expectKept(malformed);

  const std::string missing = dir.file("absent_3DMC.sdm");
  RecordingHost absent = hostWith(5, {missing});
  EXPECT_THROW_MSG(selectMotionFile(absent), OpenFileError,
                   "Failed opening for reading: " + missing);
  expectKept(absent);
}

TEST_F(SelectMotionFile, MovedStudiesAreRelocatedOnceThroughTheHostsDialog) {
  const std::string root = dir.path().generic_string();

  // A folder tree moved: the subfolders both places share stay.
  expectRelocation(
      {root + "/old/sub/run1_3DMC.sdm", root + "/old/other/run2_3DMC.sdm"},
      {motionFile("new/sub/run1_3DMC.sdm", 5), motionFile("new/other/run2_3DMC.sdm", 4)},
      {root + "/old/sub/run1.fmr", root + "/old/other/run2.fmr"},
      {root + "/new/sub/run1.fmr", root + "/new/other/run2.fmr"}, root + "/fwd.mdm", root + "/old",
      root + "/new");

  // The same with backslashes, as the host's own dialog answers on Windows.
  expectRelocation(
      {root + "/old\\sub\\b1_3DMC.sdm", root + "/old\\other\\b2_3DMC.sdm"},
      {motionFile("new\\sub\\b1_3DMC.sdm", 5), motionFile("new\\other\\b2_3DMC.sdm", 4)},
      {root + "/old\\sub\\b1.fmr", root + "/old\\other\\b2.fmr"},
      {root + "/new\\sub\\b1.fmr", root + "/new\\other\\b2.fmr"}, root + "/back.mdm", root + "/old",
      root + "/new");

  // Relative study paths not found beside the MDM move with the files they
  // name, and stay relative to the MDM's folder.
  motionFile("moved/select-rel1_3DMC.sdm", 5);
  motionFile("moved/select-sub/select-rel2_3DMC.sdm", 4);
  expectRelocation({"select-rel1_3DMC.sdm", "select-sub/select-rel2_3DMC.sdm"},
                   {"moved/select-rel1_3DMC.sdm", "moved/select-sub/select-rel2_3DMC.sdm"},
                   {"rel1.fmr", "select-sub/rel2.fmr"},
                   {"moved/rel1.fmr", "moved/select-sub/rel2.fmr"}, root + "/rel.mdm", root,
                   root + "/moved", root + "/moved/select-rel1_3DMC.sdm");
}

// A relocation that cannot be done leaves the MDM's bytes and the dialog's
// motion file as they were, and logs nothing.
TEST_F(SelectMotionFile, RelocationRefusalsLeaveTheMdmAlone) {
  const std::string root = dir.path().generic_string();
  const std::string mdm = root + "/study.mdm";
  const std::string gone = root + "/gone/run1_3DMC.sdm";
  writeMdm(mdm, {gone}, {root + "/gone/run1.fmr"});
  const std::string original = readFile(mdm);
  // Cancelled, or a chosen path shorter than the missing file's name (a file
  // of that name lies beside the MDM): the missing SDM is reported.
  motionFile("un1_3DMC.sdm", 5);
  for (const std::optional<std::string>& answer :
       {std::optional<std::string>(), std::optional<std::string>("un1_3DMC.sdm")}) {
    RecordingHost host = hostWith(5, {mdm, answer});
    EXPECT_THROW_MSG(selectMotionFile(host), OpenFileError, "Failed opening for reading: " + gone);
    EXPECT_EQ(host.dialogs.size(), 2u);
    expectKept(host);
    EXPECT_EQ(readFile(mdm), original);
  }

  // Subjects moved into renamed folders one by one: the answer for the first
  // cannot move the second.
  const std::string subjects = root + "/subjects.mdm";
  writeMdm(subjects, {root + "/old/anna/run1_3DMC.sdm", root + "/old/bert/run1_3DMC.sdm"},
           {root + "/old/anna/run1.fmr", root + "/old/bert/run1.fmr"});
  const std::string subjectBytes = readFile(subjects);
  const std::string anna = motionFile("new/s01/run1_3DMC.sdm", 5);
  motionFile("new/s02/run1_3DMC.sdm", 5);
  RecordingHost renamed = hostWith(5, {subjects, anna});
  EXPECT_THROW_MSG(selectMotionFile(renamed), IOError,
                   "MDM file " + subjects + ": study 2 (" + root +
                       "/old/bert/run1_3DMC.sdm) cannot be found after moving the studies from \"" +
                       root + "/old/anna\" to \"" + root + "/new/s01\"");
  expectKept(renamed);
  EXPECT_EQ(readFile(subjects), subjectBytes);
}

// An MDM that lists its runs relative to its own folder is read from there:
// nothing is asked and the file stays as it is.
TEST_F(SelectMotionFile, RelativeStudiesAreFoundBesideTheMdm) {
  motionFile("my.data/run1_3DMC.sdm", 4);
  motionFile("my.data/sub\\run2_3DMC.sdm", 6);
  const std::string mdm = dir.file("my.data/study.mdm");
  writeMdm(mdm, {"run1_3DMC.sdm", "sub\\run2_3DMC.sdm"}, {"run1.fmr", "sub\\run2.fmr"});
  const std::string original = readFile(mdm);
  for (const int volumes : {4, 6}) {
    RecordingHost host = hostWith(volumes, {mdm});
    selectMotionFile(host);
    // The first run, found beside the MDM, has 4 volumes.
    EXPECT_EQ(host.messages.size(), volumes == 4 ? 0u : 1u);
    EXPECT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.parameters.at("sdmfile"), mdm);
  }
  EXPECT_EQ(readFile(mdm), original);
}

// The tasks that use the chosen file refuse a path that yields no motion
// document instead of finishing as if they had done their work.
TEST_F(SelectMotionFile, TasksRefuseAPathThatIsNoMotionFile) {
  const std::string text = dir.file("motion_3DMC.txt");
  writeFile(text, hostMotionSdmText({{}}));
  const std::vector<std::pair<const char*, std::function<void(Host&)>>> tasks = {
      {"displacement", computeDisplacementMaps}, {"confound", createConfoundModels}};
  for (const auto& [name, task] : tasks) {
    SCOPED_TRACE(name);
    for (const std::string& path : {text, std::string()}) {
      RecordingHost host;
      host.set("sdmfile", path);
      host.set("map_max_abs", 1);
      host.set("create_spikes", 1);
      EXPECT_THROW_MSG(task(host), std::runtime_error,
                       path.empty()
                           ? "No motion file chosen: choose the 3DMC SDM or MDM first"
                           : "Not an SDM or MDM file (the name must end in .sdm or .mdm): " + path);
      EXPECT_TRUE(host.calls.empty());
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace tsl::testing
