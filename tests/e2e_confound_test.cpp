// The confound task through the host simulator: one ordinary run with every
// output and both plots, as the host sees it (the plot calls, the log, the
// message boxes) and as it leaves the motion file's folder. What the task
// decides is tested in-process (confound_task_test.cpp); the faults that need
// real mounts are in e2e_faults_test.cpp.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "tests/support/confound_runs.h"
#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;

const std::string kStartLine = "\nTessel>  Running...";
const std::string kClosingLine = "\nTessel>  Plugin finished!\n";

// The log texts of the task alone: without the plug-in's start and closing
// lines and the empty text its log stream hands over when it is destroyed.
std::vector<std::string> taskLog(const SimulatorRun& run) {
  std::vector<std::string> lines;
  for (const std::string& text : run.logTexts()) {
    if (text != kStartLine && text != kClosingLine && !text.empty()) lines.push_back(text);
  }
  return lines;
}

TEST(ConfoundTaskEndToEnd, WritesEveryOutputLogsAndPlots) {
  TempDir dir;
  fs::create_directories(dir.file("a"));
  const std::string sdm = dir.file("a/run1_3DMC.sdm");
  writeHostMotionSdm(sdm, handRows());
  const std::string plots = dir.file("plots");
  fs::create_directories(plots);
  std::vector<std::string> options = {
      "--document-type",     "1",       "--plots",       plots, "--param",
      "spike_threshold=0.5", "--param", "sdmfile=" + sdm};
  for (const char* name :
       {"create_detrended", "create_derivative", "create_spikes", "create_squared",
        "create_delayed1", "create_delayed1sq", "create_delayed2", "create_delayed2sq",
        "plot_regular", "plot_detrended"}) {
    options.push_back("--param");
    options.push_back(std::string(name) + "=1");
  }
  options.insert(options.end(), {"--task", "confound"});
  const SimulatorRun run = runSimulator(options);
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_TRUE(run.messages().empty()) << run.describe();
  EXPECT_EQ(taskLog(run), (std::vector<std::string>{
                              "Tessel>  Detecting Spikes",
                              "Tessel>  Found spike at position 4 with displacement 1.25 mm",
                              "Tessel>  Found spike at position 12 with displacement 1.25 mm",
                              "Tessel>  Saving SDMs"}));

  std::set<std::string> files = {"run1_3DMC.sdm"};
  for (const ConfoundOutput& o : kConfoundOutputs) {
    files.insert(fs::path(withSuffix(sdm, o.suffix)).filename().string());
  }
  EXPECT_EQ(filesIn(dir.file("a")), files);
  EXPECT_EQ(SdmDocument(withSuffix(sdm, "_spikes")).names,
            (std::vector<std::string>{"Spike Volume 4", "Spike Volume 12"}));

  // The plot calls in order, one plot after the other.
  std::vector<const HostCall*> calls;
  for (const HostCall& call : run.transcript) {
    if (call.call.find("Plot") != std::string::npos) calls.push_back(&call);
  }
  const std::size_t regular = 1 + 1 + 6 + 5 + 5;
  const std::size_t detrended = 1 + 1 + 8 + 7 + 5;
  ASSERT_EQ(calls.size(), regular + detrended) << run.describe();

  std::vector<std::string> names(kMotionPredictorNames.begin(), kMotionPredictorNames.end());
  std::vector<std::array<int, 3>> colours(kMotionPredictorColours.begin(),
                                          kMotionPredictorColours.end());
  auto expectPlot = [&](std::size_t first, double handle, const std::vector<std::string>& curves,
                        const std::vector<std::array<int, 3>>& rgb,
                        const std::vector<std::vector<float>>& values, const std::string& title,
                        float bound) {
    std::size_t c = first;
    const HostCall& line = *calls[c++];
    EXPECT_EQ(line.call, "zrPlotLine");
    ASSERT_TRUE(line.result.has_value());
    EXPECT_EQ(line.result->asNumber(), handle);
    EXPECT_EQ(line.number(0), 16);
    std::vector<float> volumes(16);
    for (std::size_t i = 0; i < 16; ++i) volumes[i] = static_cast<float>(i + 1);
    EXPECT_EQ(line.arg(1).floats(), volumes);
    EXPECT_EQ(line.arg(2).floats(), values[0]);
    EXPECT_EQ(line.text(3), curves[0]);
    EXPECT_EQ(calls[c]->call, "zrSetPlotColorTheme");
    EXPECT_EQ(calls[c]->number(0), handle);
    EXPECT_EQ(calls[c++]->number(1), 1);
    for (std::size_t i = 0; i < curves.size(); ++i) {
      if (i > 0) {
        const HostCall& add = *calls[c++];
        EXPECT_EQ(add.call, "zrAddLineToPlot");
        EXPECT_EQ(add.number(0), handle);
        EXPECT_EQ(add.number(1), 16);
        EXPECT_EQ(add.arg(2).floats(), volumes);
        EXPECT_EQ(add.arg(3).floats(), values[i]) << curves[i];
        EXPECT_EQ(add.text(4), curves[i]);
      }
      const HostCall& colour = *calls[c++];
      EXPECT_EQ(colour.call, "zrSetPlotLineSizeAndColor");
      const std::vector<double> args = {handle,
                                        static_cast<double>(i),
                                        2,
                                        static_cast<double>(rgb[i][0]),
                                        static_cast<double>(rgb[i][1]),
                                        static_cast<double>(rgb[i][2]),
                                        0};
      for (std::size_t a = 0; a < args.size(); ++a) {
        EXPECT_EQ(colour.number(a), args[a]) << colour.line;
      }
    }
    EXPECT_EQ(calls[c]->call, "zrShowPlotLegend");
    EXPECT_EQ(calls[c]->number(1), 1);
    EXPECT_EQ(calls[c++]->number(2), 3);
    EXPECT_EQ(calls[c]->call, "zrSetPlotTitle");
    EXPECT_EQ(calls[c++]->text(1), title);
    EXPECT_EQ(calls[c]->call, "zrResizePlot");
    EXPECT_EQ(calls[c]->number(1), 800);
    EXPECT_EQ(calls[c++]->number(2), 350);
    EXPECT_EQ(calls[c]->call, "zrSetPlotYAxisRange");
    EXPECT_EQ(calls[c]->number(1), -bound);
    EXPECT_EQ(calls[c++]->number(2), bound);
    EXPECT_EQ(calls[c]->call, "zrShowPlotAtPosition");
    EXPECT_EQ(calls[c]->number(0), handle);
    EXPECT_EQ(calls[c]->number(1), 50);
    EXPECT_EQ(calls[c++]->number(2), 50);
  };

  std::vector<std::vector<float>> raw(6);
  for (const MotionRow& row : handRows()) {
    for (std::size_t p = 0; p < 6; ++p) raw[p].push_back(row[p]);
  }
  // Largest absolute value 0.75: range -1..1.
  expectPlot(0, 1, names, colours, raw, "run1_3DMC.sdm", 1.0f);

  std::vector<std::string> detrendedNames;
  for (const std::string& name : names) detrendedNames.push_back(name + " detrended");
  detrendedNames.push_back("relative RMS displacement");
  detrendedNames.push_back("Spike threshold");
  colours.push_back({250, 250, 250});
  colours.push_back({150, 0, 0});
  std::vector<std::vector<float>> values(6, std::vector<float>(16, 0.0f));
  values[0] = raw[0];
  values[1] = raw[1];
  values.push_back({0, 0, 0, 0, 1.25f, 0, 0.25f, 0.5f, 0, 0.5f, 0.25f, 0, 1.25f, 0, 0, 0});
  values.push_back(std::vector<float>(16, 0.5f));
  // The displacement of 1.25 sets the range: -2..2.
  expectPlot(regular, 2, detrendedNames, colours, values,
             "run1_3DMC.sdm + Displacement for Spike Detection", 2.0f);

  // The simulator drew both windows; each names its curves.
  const std::string first = readFile(plots + "/plot-1.svg");
  const std::string second = readFile(plots + "/plot-2.svg");
  for (const std::string& name : names) EXPECT_NE(first.find(name), std::string::npos) << name;
  for (const std::string& name : detrendedNames) {
    EXPECT_NE(second.find(name), std::string::npos) << name;
  }
  EXPECT_NE(second.find("run1_3DMC.sdm + Displacement for Spike Detection"), std::string::npos);
  EXPECT_FALSE(fs::exists(plots + "/plot-3.svg"));
}

}  // namespace
}  // namespace tsl::testing
