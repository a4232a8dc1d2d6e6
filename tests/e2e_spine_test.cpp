// The plug-in's life cycle through the host simulator: start-up checks,
// the start and closing log lines, task dispatch under the busy cursor, and
// errors shown as "Error: " message boxes. Every expectation is on what the
// host received, in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using Names = std::vector<std::string>;

const std::string kStartLine = "\nTessel>  Running...";
const std::string kClosingLine = "\nTessel>  Plugin finished!\n";

// What initPlugin calls on a host it accepts.
const Names kAcceptedStart = {"zrGetVersionOfZorvane", "zrShowLogTab", "zrLogText",
                              "zrGetIDOfCurrentDocument", "zrGetDocumentType"};
// What destruction calls: the closing line, then the stream's empty last text.
const Names kDestruction = {"zrLogText", "zrLogText"};

Names concat(std::initializer_list<Names> parts) {
  Names all;
  for (const Names& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> withTasks(std::vector<std::string> args,
                                   const std::vector<std::string>& tasks) {
  for (const std::string& task : tasks) {
    args.push_back("--task");
    args.push_back(task);
  }
  return args;
}

void expectEveryExecuteReturnedTrue(const SimulatorRun& run) {
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_THAT(run.err, Not(HasSubstr("execute returned false"))) << run.describe();
}

TEST(SpineEndToEnd, AcceptsHostVersionsFrom280AndRefusesOlderOnes) {
  for (const char* version : {"2.8.0", "2.10.0", "3.0.0", "2.8.7"}) {
    const SimulatorRun run = runSimulator({"--version", version, "--document-type", "1"});
    EXPECT_EQ(run.exitCode, 0) << version << "\n" << run.describe();
    EXPECT_THAT(run.messages(), IsEmpty()) << version;
    EXPECT_THAT(run.callNames(), ElementsAreArray(concat({kAcceptedStart, kDestruction})))
        << version << "\n"
        << run.describe();
    EXPECT_THAT(run.logTexts(), ElementsAre(kStartLine, kClosingLine, "")) << version;
    EXPECT_EQ(run.out, kStartLine + kClosingLine) << version;
  }
  for (const char* version : {"2.7.9", "1.99.99", "2.7.100", "0.9.0"}) {
    const SimulatorRun run = runSimulator({"--version", version, "--document-type", "1"});
    EXPECT_EQ(run.exitCode, 1) << version << "\n" << run.describe();
    EXPECT_THAT(
        run.messages(),
        ElementsAre("Can not execute this plugin - Zorvane version 2.8 or higher required."))
        << version;
    // Refused before the log tab and the start line; the stream exists, so
    // destruction still writes the closing line.
    EXPECT_THAT(run.callNames(),
                ElementsAre("zrGetVersionOfZorvane", "zrMessageBox", "zrLogText", "zrLogText"))
        << version << "\n"
        << run.describe();
    EXPECT_THAT(run.logTexts(), ElementsAre(kClosingLine, "")) << version;
  }
}

TEST(SpineEndToEnd, RefusesWithoutACurrentFmrDocument) {
  const SimulatorRun none = runSimulator({"--version", "2.8.0"});
  EXPECT_EQ(none.exitCode, 1) << none.describe();
  EXPECT_THAT(none.messages(), ElementsAre("No current document available."));
  EXPECT_THAT(none.callNames(),
              ElementsAre("zrGetVersionOfZorvane", "zrShowLogTab", "zrLogText",
                          "zrGetIDOfCurrentDocument", "zrMessageBox", "zrLogText", "zrLogText"))
      << none.describe();
  EXPECT_THAT(none.logTexts(), ElementsAre(kStartLine, kClosingLine, ""));

  for (const char* type : {"0", "2", "-1"}) {
    const SimulatorRun other = runSimulator({"--document-type", type});
    EXPECT_EQ(other.exitCode, 1) << type << "\n" << other.describe();
    EXPECT_THAT(other.messages(),
                ElementsAre("The currently active document is not a FMR document."))
        << type;
    EXPECT_THAT(other.callNames(),
                ElementsAreArray(concat({kAcceptedStart, {"zrMessageBox"}, kDestruction})))
        << type << "\n"
        << other.describe();
    EXPECT_THAT(other.logTexts(), ElementsAre(kStartLine, kClosingLine, "")) << type;
  }
}

TEST(SpineEndToEnd, TaskNamesAreExactAndOthersRunNothingUnderTheBusyCursor) {
  const std::vector<std::string> tasks = {
      "",           "Displacement",    "displacement ",  "CONFOUND", " confound",
      "confound\t", "select_3dmcsdm ", "Select_3dmcsdm", "unknown"};
  const SimulatorRun run = runSimulator(withTasks({"--document-type", "1"}, tasks));
  expectEveryExecuteReturnedTrue(run);
  EXPECT_THAT(run.messages(), IsEmpty()) << run.describe();
  Names expected = kAcceptedStart;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    expected.insert(expected.end(),
                    {"zrGetStringParameter", "zrShowBusyCursor", "zrStopBusyCursor"});
  }
  expected.insert(expected.end(), kDestruction.begin(), kDestruction.end());
  EXPECT_THAT(run.callNames(), ElementsAreArray(expected)) << run.describe();
  const auto reads = run.calls("zrGetStringParameter");
  ASSERT_EQ(reads.size(), tasks.size());
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    EXPECT_EQ(reads[i]->text(0), "task");
    ASSERT_TRUE(reads[i]->result.has_value());
    EXPECT_EQ(reads[i]->result->text(), tasks[i]);
  }
  EXPECT_THAT(run.logTexts(), ElementsAre(kStartLine, kClosingLine, ""));
}

// The calls of one execute: from its read of "task" up to the next one (or
// the destruction's two log texts).
std::vector<Names> callsPerExecute(const SimulatorRun& run) {
  const Names names = run.callNames();
  std::vector<Names> executes;
  for (std::size_t i = 0; i + kDestruction.size() < names.size(); ++i) {
    if (names[i] == "zrGetStringParameter" && run.transcript[i].text(0) == "task") {
      executes.emplace_back();
    }
    if (!executes.empty()) executes.back().push_back(names[i]);
  }
  return executes;
}

TEST(SpineEndToEnd, TaskErrorsAreShownAfterTheBusyCursorStopsAndTheNextTaskRuns) {
  TempDir dir;
  const std::string missing = dir.file("missing_3DMC.sdm");
  const SimulatorRun run =
      runSimulator(withTasks({"--document-type", "1", "--param", "sdmfile=" + missing, "--cancel"},
                             {"displacement", "", "select_3dmcsdm", ""}));
  expectEveryExecuteReturnedTrue(run);
  const auto messages = run.messages();
  ASSERT_EQ(messages.size(), 2u) << run.describe();
  EXPECT_EQ(messages[0].rfind("Error: ", 0), 0u) << messages[0];
  EXPECT_EQ(messages[1], "Error: You must choose a valid file!");

  const std::vector<Names> executes = callsPerExecute(run);
  ASSERT_EQ(executes.size(), 4u) << run.describe();
  // The failing task under the busy cursor: shown first, stopped, and only
  // then the one message box, which ends that execute.
  const Names& failed = executes[0];
  ASSERT_GE(failed.size(), 4u) << run.describe();
  EXPECT_EQ(failed[1], "zrShowBusyCursor");
  EXPECT_THAT(Names(failed.end() - 2, failed.end()),
              ElementsAre("zrStopBusyCursor", "zrMessageBox"))
      << run.describe();
  EXPECT_EQ(std::count(failed.begin(), failed.end(), "zrShowBusyCursor"), 1);
  EXPECT_EQ(std::count(failed.begin(), failed.end(), "zrStopBusyCursor"), 1);
  const Names normal = {"zrGetStringParameter", "zrShowBusyCursor", "zrStopBusyCursor"};
  EXPECT_EQ(executes[1], normal) << run.describe();
  // The file choice never touches the busy cursor, also when it fails.
  EXPECT_THAT(executes[2], ElementsAre("zrGetStringParameter", "zrGetOpenFileName", "zrMessageBox"))
      << run.describe();
  EXPECT_EQ(executes[3], normal) << run.describe();
  const Names names = run.callNames();
  EXPECT_THAT(Names(names.end() - 2, names.end()), ElementsAreArray(kDestruction));
  EXPECT_EQ(run.logTexts().back(), "");
  EXPECT_EQ(run.logTexts()[run.logTexts().size() - 2], kClosingLine);
}

TEST(SpineEndToEnd, HostWithoutTheParameterReadShowsTheMissingFunctionEachTime) {
  // Reading "task" throws before any task or busy cursor; execute still
  // returns true, and the next execute runs (and reports) again.
  const SimulatorRun run =
      runSimulator(withTasks({"--document-type", "1"}, {"confound", "displacement"}), "noparams");
  expectEveryExecuteReturnedTrue(run);
  const std::string error = "Error: Host function not available: zrGetStringParameter";
  EXPECT_THAT(run.messages(), ElementsAre(error, error));
  EXPECT_THAT(
      run.callNames(),
      ElementsAreArray(concat({kAcceptedStart, {"zrMessageBox", "zrMessageBox"}, kDestruction})))
      << run.describe();
  EXPECT_THAT(run.logTexts(), ElementsAre(kStartLine, kClosingLine, ""));
}

TEST(SpineEndToEnd, AsksTheTypeOfTheCurrentDocumentByItsId) {
  const SimulatorRun fmr = runSimulator({"--document-id", "7", "--document-type", "1"});
  EXPECT_EQ(fmr.exitCode, 0) << fmr.describe();
  EXPECT_THAT(fmr.messages(), IsEmpty());
  const auto asked = fmr.calls("zrGetDocumentType");
  ASSERT_EQ(asked.size(), 1u) << fmr.describe();
  EXPECT_EQ(asked[0]->arg(0).asInt(), 7);

  const SimulatorRun other = runSimulator({"--document-id", "7", "--document-type", "2"});
  EXPECT_EQ(other.exitCode, 1) << other.describe();
  EXPECT_THAT(other.messages(),
              ElementsAre("The currently active document is not a FMR document."));
}

TEST(SpineEndToEnd, HostWithoutTheDocumentQueryIsRefusedWithTheReason) {
  // The missing function throws inside initPlugin; nothing may reach the host
  // but the message, and the refusal is an ordinary one.
  const SimulatorRun run =
      runSimulator(withTasks({"--document-type", "1"}, {"confound"}), "nodocumentid");
  EXPECT_EQ(run.exitCode, 1) << run.describe();
  EXPECT_THAT(run.err, HasSubstr("initPlugin returned false"));
  EXPECT_THAT(run.messages(),
              ElementsAre("Error: Host function not available: zrGetIDOfCurrentDocument"));
  EXPECT_THAT(
      run.callNames(),
      ElementsAreArray(concat(
          {{"zrGetVersionOfZorvane", "zrShowLogTab", "zrLogText", "zrMessageBox"}, kDestruction})))
      << run.describe();
  EXPECT_THAT(run.logTexts(), ElementsAre(kStartLine, kClosingLine, ""));
}

TEST(SpineEndToEnd, AfterARefusedStartExecuteRunsNothing) {
  TempDir dir;
  const std::vector<std::string> tasks = {"confound", "displacement", "select_3dmcsdm"};
  const std::vector<std::pair<std::string, std::vector<std::string>>> refusals = {
      {"", {"--version", "2.7.9", "--document-type", "1"}},
      {"", {"--document-type", "2"}},
      {"", {}},
      {"nodocumentid", {"--document-type", "1"}},
      {"noversion", {"--document-type", "1"}},
  };
  for (const auto& [variant, refusal] : refusals) {
    std::vector<std::string> args = refusal;
    args.insert(args.end(), {"--ignore-refusal", "--param", "sdmfile=" + dir.file("run1_3DMC.sdm"),
                             "--choose", dir.file("run1_3DMC.sdm")});
    const SimulatorRun run = runSimulator(withTasks(args, tasks), variant);
    const std::string what = variant + " " + ::testing::PrintToString(refusal);
    EXPECT_EQ(run.exitCode, 1) << what << "\n" << run.describe();
    // The refusal's own message at most; no task, no cursor, no error.
    EXPECT_LE(run.messages().size(), 1u) << what << "\n" << run.describe();
    for (const char* call : {"zrGetStringParameter", "zrShowBusyCursor", "zrGetOpenFileName"}) {
      EXPECT_THAT(run.calls(call), IsEmpty()) << what << ": " << call;
    }
    EXPECT_THAT(run.err, Not(HasSubstr("execute returned false"))) << what;
  }
}

TEST(SpineEndToEnd, LongPathsArriveWholeFromTheParameterAndTheFileDialog) {
  TempDir dir;
  // A path of 3000 characters in folders of ordinary length, as the platform
  // writes it.
  constexpr std::size_t kLength = 3000;
  const std::string name = "run1_3DMC.sdm";
  std::string path = hostPath(dir.file(name));
  path.resize(path.size() - name.size());
  const std::string folder = "a_folder_of_a_long_study_path" + path.substr(path.size() - 1);
  while (path.size() + folder.size() + name.size() < kLength) path += folder;
  path += std::string(kLength - path.size() - name.size(), 'r') + name;
  ASSERT_EQ(path.size(), kLength);
  const SimulatorRun run = runSimulator(
      withTasks({"--document-type", "1", "--param", "sdmfile=" + path, "--choose", path},
                {"confound", "select_3dmcsdm"}));
  expectEveryExecuteReturnedTrue(run);
  const std::string error = "Error: Failed opening for reading: " + path;
  EXPECT_THAT(run.messages(), ElementsAre(error, error)) << run.describe();
}

TEST(SpineEndToEnd, HostWithoutTheVersionQueryGetsNoCallAtAll) {
  const SimulatorRun run =
      runSimulator(withTasks({"--version", "3.0.0", "--document-type", "1"}, {""}), "noversion");
  EXPECT_EQ(run.exitCode, 1) << run.describe();
  EXPECT_THAT(run.err, HasSubstr("initPlugin returned false"));
  // No message, no log stream (so no closing line at destruction), no call.
  EXPECT_THAT(run.callNames(), IsEmpty()) << run.describe();
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace tsl::testing
