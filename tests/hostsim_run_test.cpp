// Runs of Zorvane.exe itself: command line, exit statuses, and the real
// plug-in loaded through it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "plugin/host_api.h"
#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(HostsimRun, LoadsThePlugInAndRecordsItsCalls) {
  const SimulatorRun run =
      runSimulator({"--version", "3.0.0", "--document-type", "1", "--task", ""});
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
  const SimulatorRun run =
      runSimulator({"--version", "2.7.9", "--document-type", "1", "--task", ""});
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
      {"--document-id", "-1"},
      {"--document-id", "2", "--document-id", "3"},
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
  for (const char* option :
       {"--plugin", "--fmr", "--document-type", "--version", "--param", "--choose", "--cancel",
        "--task", "--plots", "--transcript", "--dims", "--voxel-size", "--volumes", "--map-dims",
        "--no-map-slices", "--document-id", "--ignore-refusal", "--help"}) {
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

// Runs the probe plug-in, which calls host functions directly and logs what
// it got back.
SimulatorRun runProbe(std::vector<std::string> args) {
  args.insert(args.begin(), {"--plugin", hostPath(TESSEL_PROBE_PLUGIN_PATH)});
  return runSimulator(args);
}

TEST(HostsimProbe, ParametersAndTextBuffers) {
  const std::string odd = "odd \"task\" \\ with\tblanks \\";
  const std::size_t fits = tsl::host::kHostTextBufferSize - 1;
  const std::string cut = "long " + std::to_string(fits) + " guard kept";
  const SimulatorRun run =
      runProbe({"--param", "long=" + std::string(fits + 90, 'L'), "--param", "n=-3", "--param",
                "f=0.1", "--task", "strings", "--task", odd});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_THAT(run.logTexts(),
              ElementsAre("probe start", cut, "sdmfile C:\\runs\\run 1.sdm", "int -3",
                          "float 0.100000001", "done strings", "done " + odd, "probe end"));
  EXPECT_EQ(run.out, "probe start" + cut +
                         "sdmfile C:\\runs\\run 1.sdmint -3"
                         "float 0.100000001done stringsdone " +
                         odd + "probe end");
  const auto gets = run.calls("zrGetStringParameter");
  ASSERT_GE(gets.size(), 2u);
  EXPECT_EQ(gets[1]->text(0), "long");
  EXPECT_EQ(gets[1]->result->text(), std::string(fits, 'L'));
  const auto sets = run.calls("zrSetStringParameter");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0]->text(0), "sdmfile");
  EXPECT_EQ(sets[0]->text(1), "C:\\runs\\run 1.sdm");
  EXPECT_EQ(run.calls("zrGetIntParameter").at(1)->result->asInt(), -3);  // after initPlugin's
  EXPECT_EQ(run.calls("zrGetFloatParameter").at(0)->result->asFloat(), 0.1f);
  EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST(HostsimProbe, FileDialogsTakeTheAnswersInOrder) {
  const std::string chosen = "C:\\my runs\\run1_3DMC.sdm";
  SimulatorRun run = runProbe({"--choose", chosen, "--cancel", "--task", "dialogs"});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  const std::vector<std::string> logs = run.logTexts();
  ASSERT_GE(logs.size(), 4u) << run.describe();
  EXPECT_THAT(std::vector<std::string>(logs.begin() + 1, logs.begin() + 4),
              ElementsAre("dialog 1 " + chosen, "dialog 0 untouched", "dialog 0 untouched"));
  const auto dialogs = run.calls("zrGetOpenFileName");
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0]->text(0), "Choose");
  EXPECT_EQ(dialogs[0]->text(2), "*.sdm");
  EXPECT_EQ(dialogs[0]->result->text(), chosen);
  EXPECT_TRUE(dialogs[1]->result->isNull());
  EXPECT_TRUE(dialogs[2]->result->isNull());

  const std::size_t fits = tsl::host::kHostTextBufferSize - 1;
  run = runProbe({"--choose", std::string(fits + 90, 'p'), "--task", "dialogs"});
  EXPECT_EQ(run.logTexts().at(1), "dialog 1 " + std::string(fits, 'p'));
}

TEST(HostsimProbe, HeaderRecordOfTheCurrentRun) {
  TempDir dir;
  const std::string fmr = dir.file("run1.fmr");
  writeFile(fmr,
            "FileVersion: 7\r\nNrOfVolumes: 120\r\nNrOfSlices: 25\r\nResolutionX: 64\r\n"
            "ResolutionY: 62\r\nInplaneResolutionX: 3.5\r\nInplaneResolutionY: 3.25\r\n"
            "SliceThickness: 3\r\nSliceGap: 0.5\r\n");
  SimulatorRun run = runProbe({"--fmr", fmr, "--task", "header"});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.logTexts().at(1),
            "document 0 type 1 path " + fmr + " volumes 120 dims 64 62 25 voxel 3.5 3.25 3.5");
  const auto header = run.calls("zrGetHeaderOfCurrentFMR");
  ASSERT_EQ(header.size(), 1u);
  EXPECT_EQ(header[0]->result->at("path").text(), fmr);
  EXPECT_THAT(header[0]->result->at("dims").ints(), ElementsAre(64, 62, 25));
  EXPECT_THAT(header[0]->result->at("voxelSize").floats(), ElementsAre(3.5f, 3.25f, 3.5f));

  run = runProbe({"--fmr", fmr, "--document-type", "2", "--dims", "2,3,4", "--voxel-size",
                  "1,2,2.5", "--volumes", "7", "--task", "header"});
  EXPECT_EQ(run.logTexts().at(1),
            "document 0 type 2 path " + fmr + " volumes 7 dims 2 3 4 voxel 1 2 2.5");

  run = runProbe({"--document-type", "3", "--task", "header"});
  EXPECT_EQ(run.logTexts().at(1), "document 0 type 3 path  volumes 0 dims 0 0 0 voxel 0 0 0");

  run = runProbe({"--task", "header"});
  EXPECT_EQ(run.logTexts().at(1), "document -1 type -1 path  volumes 0 dims 0 0 0 voxel 0 0 0");

  // A header file that cannot be read still makes the current run, with zeros.
  const std::string absent = dir.file("absent.fmr");
  run = runProbe({"--fmr", absent, "--task", "header"});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.logTexts().at(1),
            "document 0 type 1 path " + absent + " volumes 0 dims 0 0 0 voxel 0 0 0");
  EXPECT_THAT(run.err, HasSubstr("cannot read the FMR header " + absent));
}

template <typename T>
T readAt(const std::string& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

TEST(HostsimProbe, MapsAreSavedAsOneNiftiFile) {
  TempDir dir;
  const std::string maps = dir.file("run1_max_abs.map");
  SimulatorRun run =
      runProbe({"--document-type", "1", "--dims", "3,2,2", "--voxel-size", "2,2,3.5", "--param",
                "mappath=" + maps, "--param", "upper=9", "--task", "map", "--task", "map"});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.logTexts().at(1), "map 3 2 2 slices");
  const std::string nii = readFile(maps);
  ASSERT_EQ(nii.size(), 352u + 2u * 12u * 4u);
  EXPECT_EQ(readAt<std::int16_t>(nii, 40 + 8), 2);  // dim[4]: two maps
  EXPECT_EQ(readAt<float>(nii, 88), 3.5f);
  EXPECT_EQ(readAt<float>(nii, 124), 9.0f);
  EXPECT_EQ(readAt<float>(nii, 128), 0.01f);
  for (std::size_t m = 0; m < 2; ++m) {
    for (int z = 0; z < 2; ++z) {
      for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
          const std::size_t element = ((m * 2 + z) * 2 + y) * 3 + x;
          EXPECT_EQ(readAt<float>(nii, 352 + 4 * element),
                    static_cast<float>(100 * z + 10 * y + x));
        }
      }
    }
  }
  const auto settings = run.calls("zrSetMAPParametersOfCurrentFMR");
  ASSERT_EQ(settings.size(), 2u);
  EXPECT_EQ(settings[0]->arg(0).at("type").asInt(), 1);
  EXPECT_EQ(settings[0]->arg(0).at("lower").asFloat(), 0.01f);
  EXPECT_EQ(settings[0]->arg(0).at("upper").asFloat(), 9.0f);
  EXPECT_TRUE(run.calls("zrSaveMAPsOfCurrentFMR").at(1)->result->asBool());
  EXPECT_THAT(run.calls("zrGetMAPOfCurrentFMR").at(0)->result->ints(), ElementsAre(3, 2, 2));
  EXPECT_FALSE(std::filesystem::exists(maps + ".part"));

  // Another grid for maps than the record's; a host that hands out no slices.
  run = runProbe({"--document-type", "1", "--dims", "3,2,2", "--map-dims", "4,1,1", "--param",
                  "mappath=" + dir.file("other.map"), "--task", "map"});
  EXPECT_EQ(run.logTexts().at(1), "map 4 1 1 slices");
  EXPECT_EQ(readFile(dir.file("other.map")).size(), 352u + 16u);
  run = runProbe({"--document-type", "1", "--dims", "3,2,2", "--no-map-slices", "--param",
                  "mappath=" + dir.file("none.map"), "--task", "map"});
  EXPECT_EQ(run.logTexts().at(1), "map 3 2 2 no slices");
  EXPECT_TRUE(run.calls("zrGetMAPOfCurrentFMR").at(0)->result->isNull());
  EXPECT_FALSE(std::filesystem::exists(dir.file("none.map")));

  // No current document: no map; a save into a missing folder fails visibly.
  run = runProbe({"--task", "map"});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.logTexts().at(1), "map 0 0 0 no slices");
  EXPECT_THAT(run.err, HasSubstr("zrCreateMAPForCurrentFMR: no current document"));
  run = runProbe({"--document-type", "1", "--dims", "1,1,1", "--param",
                  "mappath=" + dir.file("missing/a.map"), "--task", "map"});
  EXPECT_FALSE(run.calls("zrSaveMAPsOfCurrentFMR").at(0)->result->asBool());
  EXPECT_THAT(run.err, HasSubstr("zrSaveMAPsOfCurrentFMR(" + dir.file("missing/a.map") + "): "));
}

TEST(HostsimProbe, PlotsAreWrittenAsSvgAndBadHandlesReported) {
  TempDir dir;
  const std::string plots = dir.file("plots");
  const SimulatorRun run = runProbe({"--plots", plots, "--task", "plots"});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.logTexts().at(1), "plots distinct");
  const std::string first = readFile(dir.file("plots/plot-1.svg"));
  EXPECT_THAT(first, HasSubstr(">run1_3DMC.sdm &amp; more</text>"));
  EXPECT_THAT(first, HasSubstr(">Translation &lt;X&gt;</text>"));
  EXPECT_THAT(first, HasSubstr(">relative RMS displacement</text>"));
  EXPECT_THAT(first, HasSubstr("stroke=\"rgb(250,250,250)\""));
  EXPECT_THAT(first, HasSubstr("width=\"800.00\" height=\"350.00\""));
  EXPECT_THAT(first, HasSubstr("legend 1 3"));
  EXPECT_THAT(first, Not(HasSubstr("lost")));
  EXPECT_TRUE(std::filesystem::exists(dir.file("plots/plot-2.svg")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("plots/plot-3.svg")));
  EXPECT_THAT(run.err, HasSubstr("zrSetPlotLineSizeAndColor: plot 1 has no curve 5"));
  EXPECT_THAT(run.err, HasSubstr("zrSetPlotTitle: unknown plot handle"));

  const auto lines = run.calls("zrPlotLine");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]->result->asInt(), 1);
  EXPECT_EQ(lines[1]->result->asInt(), 2);
  EXPECT_THAT(lines[0]->arg(1).floats(), ElementsAre(1.0f, 2.0f, 3.0f));
  EXPECT_THAT(lines[0]->arg(2).floats(), ElementsAre(0.5f, -0.5f, 0.25f));
  EXPECT_EQ(lines[0]->text(3), "Translation <X>");
  const auto titles = run.calls("zrSetPlotTitle");
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0]->arg(0).asInt(), 1);
  EXPECT_TRUE(titles[1]->arg(0).isNull());
  const auto range = run.calls("zrSetPlotYAxisRange");
  ASSERT_EQ(range.size(), 1u);
  EXPECT_EQ(range[0]->number(1), -3.0);
  EXPECT_EQ(range[0]->number(2), 3.0);
}

TEST(HostsimProbe, RefusedStartRunsNoTask) {
  const SimulatorRun run = runProbe({"--param", "refuse=1", "--task", "strings"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.logTexts(), ElementsAre("probe start", "probe end"));
  EXPECT_THAT(run.err, HasSubstr("initPlugin returned false"));
}

}  // namespace
}  // namespace tsl::testing
