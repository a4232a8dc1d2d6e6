// Runs of Zorvane.exe itself: command line, exit statuses, and the real
// plug-in loaded through it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(HostsimRun, LoadsThePlugInAndRecordsItsCalls) {
  const SimulatorRun run = runSimulator({"--version", "3.0.0", "--document-type", "1", "--task", ""});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  const auto version = run.calls("zrGetVersionOfZorvane");
  ASSERT_EQ(version.size(), 1u) << run.describe();
  ASSERT_TRUE(version[0]->result.has_value());
  EXPECT_THAT(version[0]->result->ints(), ElementsAre(3, 0, 0));
  // initPlugin's start line, then the closing line and the empty text of the
  // destruction: the three calls reach the right slots on every platform.
  EXPECT_EQ(run.logTexts().front(), "\nTessel>  Running...");
  ASSERT_GE(run.logTexts().size(), 2u);
  EXPECT_EQ(run.logTexts().back(), "");
  EXPECT_EQ(run.logTexts()[run.logTexts().size() - 2], "\nTessel>  Plugin finished!\n");
  EXPECT_EQ(run.out, "\nTessel>  Running...\nTessel>  Plugin finished!\n");
  const auto task = run.calls("zrGetStringParameter");
  ASSERT_EQ(task.size(), 1u) << run.describe();
  EXPECT_EQ(task[0]->text(0), "task");
  EXPECT_EQ(task[0]->result->text(), "");
}

TEST(HostsimRun, RefusedStartIsStatusOneAndStillDestroysThePlugIn) {
  const SimulatorRun run = runSimulator({"--version", "2.7.9", "--document-type", "1", "--task", ""});
  EXPECT_EQ(run.exitCode, 1) << run.describe();
  EXPECT_THAT(run.err, HasSubstr("initPlugin returned false\n"));
  EXPECT_EQ(run.messages().size(), 1u) << run.describe();
  EXPECT_THAT(run.err, HasSubstr("message: " + run.messages().at(0) + "\n"));
  // No task ran: the parameter task was never read.
  EXPECT_TRUE(run.calls("zrGetStringParameter").empty()) << run.describe();
  EXPECT_EQ(run.logTexts().back(), "");
}

TEST(HostsimRun, BadCommandLinesAreStatusTwo) {
  const std::vector<std::vector<std::string>> bad{
      {"--bogus"},
      {"--task"},
      {"--version", "3.0"},
      {"--version", "3.x.0"},
      {"--dims", "1,2"},
      {"--dims", "1,2,3,4"},
      {"--voxel-size", "1,b,3"},
      {"--param", "novalue"},
      {"--param", "=1"},
      {"--document-type", "one"},
      {"--volumes", "12x"},
      {"--fmr", "a.fmr", "--fmr", "b.fmr"},
      {"stray"},
  };
  for (const auto& args : bad) {
    const SimulatorRun run = runSimulator(args);
    EXPECT_EQ(run.exitCode, 2) << args.front() << "\n" << run.describe();
    EXPECT_THAT(run.err, HasSubstr("Usage: Zorvane.exe")) << args.front();
    EXPECT_TRUE(run.transcript.empty()) << args.front();
  }
}

TEST(HostsimRun, MissingPlugInIsStatusOne) {
  TempDir dir;
  const SimulatorRun run = runSimulator({"--plugin", dir.file("absent-plugin"), "--task", ""});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("cannot load the plug-in"));
  EXPECT_TRUE(run.transcript.empty());
}

TEST(HostsimRun, HelpListsEveryOption) {
  const SimulatorRun run = runSimulator({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  for (const char* option : {"--plugin", "--fmr", "--document-type", "--version", "--param",
                             "--choose", "--cancel", "--task", "--plots", "--transcript",
                             "--dims", "--voxel-size", "--volumes", "--map-dims",
                             "--no-map-slices", "--help"}) {
    EXPECT_THAT(run.out, HasSubstr(std::string("  ") + option + " ")) << option;
  }
}

TEST(HostsimRun, VariantsLackOneExportEach) {
  // Without the version query the plug-in cannot bind: it refuses silently.
  const SimulatorRun noVersion =
      runSimulator({"--version", "3.0.0", "--document-type", "1", "--task", ""}, "noversion");
  EXPECT_EQ(noVersion.exitCode, 1) << noVersion.describe();
  EXPECT_TRUE(noVersion.calls("zrGetVersionOfZorvane").empty());
  EXPECT_TRUE(noVersion.messages().empty()) << noVersion.describe();

  // Without zrGetStringParameter the start works, and the task cannot be read.
  const SimulatorRun noParams =
      runSimulator({"--version", "3.0.0", "--document-type", "1", "--task", ""}, "noparams");
  EXPECT_EQ(noParams.exitCode, 0) << noParams.describe();
  EXPECT_EQ(noParams.calls("zrGetVersionOfZorvane").size(), 1u);
  EXPECT_TRUE(noParams.calls("zrGetStringParameter").empty());
  EXPECT_THAT(noParams.messages(),
              ElementsAre("Error: Host function not available: zrGetStringParameter"));
}

}  // namespace
}  // namespace tsl::testing
