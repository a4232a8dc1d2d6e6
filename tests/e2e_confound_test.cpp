// The confound task through the host simulator: spike detection and its log
// lines, the plots, and the spike and model files beside each motion SDM.
//
// The motion file of most tests is built so that every number can be worked
// out by hand: both translation columns are symmetric about the middle of the
// run and sum to 0, so their least-squares line is exactly 0 and detrending
// leaves them as they are; the other four columns are constant and detrend to
// exactly 0. The rotations of the detrended run are therefore 0 and the
// relative RMS displacement is the length of the translation step:
// r(4) = r(12) = sqrt(0.75^2 + 1^2) = 1.25, r(7) = r(9) = 0.5 (equal to the
// threshold 0.5, so no spike), r(6) = r(10) = 0.25, 0 elsewhere.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "designmatrix/sdm_document.h"
#include "examples/motion_file_writer.h"
#include "motion/motion_series.h"
#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;

const std::string kStartLine = "\nTessel>  Running...";
const std::string kClosingLine = "\nTessel>  Plugin finished!\n";

// Outputs in the order they are written, with the switch of each and the
// suffixes its predictor names gain after the motion name.
struct Output {
  const char* suffix;
  const char* parameter;
  const char* nameSuffix;
};
const std::vector<Output> kOutputs = {
    {"_spikes", "create_spikes", ""},
    {"_detr", "create_detrended", " detrended"},
    {"_deriv", "create_derivative", " detrended derivative"},
    {"_sqr", "create_squared", " detrended squared"},
    {"_t1", "create_delayed1", " detrended t-1"},
    {"_t2", "create_delayed2", " detrended t-2"},
    {"_t1sqr", "create_delayed1sq", " detrended t-1 squared"},
    {"_t2sqr", "create_delayed2sq", " detrended t-2 squared"},
};

constexpr std::size_t kVolumes = 16;
const std::vector<double> kTx = {-0.375, -0.375, -0.375, -0.375, 0.375, 0.375, 0.375, 0.375,
                                 0.375,  0.375,  0.375,  0.375,  -0.375, -0.375, -0.375, -0.375};
const std::vector<double> kTy = {-0.5, -0.5, -0.5, -0.5, 0.5,  0.5,  0.75, 0.25,
                                 0.25, 0.75, 0.5,  0.5,  -0.5, -0.5, -0.5, -0.5};
const double kConstants[4] = {0.25, 0.0, -0.5, 0.5};  // tz, rx, ry, rz

std::vector<MotionRow> handRows(float scale = 1.0f) {
  std::vector<MotionRow> rows(kVolumes);
  for (std::size_t t = 0; t < kVolumes; ++t) {
    rows[t] = {scale * static_cast<float>(kTx[t]), scale * static_cast<float>(kTy[t]),
               static_cast<float>(kConstants[0]), static_cast<float>(kConstants[1]),
               static_cast<float>(kConstants[2]), static_cast<float>(kConstants[3])};
  }
  return rows;
}

std::string withSuffix(const std::string& sdm, const std::string& suffix) {
  return sdm.substr(0, sdm.size() - 4) + suffix + ".sdm";
}

std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// The log texts of the task alone: without the plug-in's start and closing
// lines and the empty text its log stream hands over when it is destroyed.
std::vector<std::string> taskLog(const SimulatorRun& run) {
  std::vector<std::string> lines;
  for (const std::string& text : run.logTexts()) {
    if (text != kStartLine && text != kClosingLine && !text.empty()) lines.push_back(text);
  }
  return lines;
}

// The column as the task must have written it, computed here in the precision
// of T: mean and sample standard deviation, divided only when the spread is at
// least 0.0001 (in float, the order of the operations is the task's own).
template <typename T>
std::vector<T> standardized(std::vector<T> v) {
  T sum = 0;
  for (T x : v) sum += x;
  const T mean = sum / static_cast<T>(v.size());
  T ss = 0;
  for (T x : v) ss += (x - mean) * (x - mean);
  const T sd = std::sqrt(ss / static_cast<T>(v.size() - 1));
  for (T& x : v) x = (x - mean) / (sd < static_cast<T>(0.0001) ? T(1) : sd);
  return v;
}

// Expected values of output `index` (1..7) from the detrended column d.
std::vector<double> modelOf(std::size_t index, const std::vector<double>& d) {
  const std::size_t n = d.size();
  auto delayed = [&](std::size_t k) {
    std::vector<double> v(n, 0.0);
    for (std::size_t i = k; i < n; ++i) v[i] = d[i - k];
    return v;
  };
  auto squared = [](std::vector<double> v) {
    for (double& x : v) x *= x;
    return v;
  };
  std::vector<double> v;
  switch (index) {
    case 1: v = d; break;
    case 2:
      v.assign(n, 0.0);
      for (std::size_t i = 1; i + 1 < n; ++i) v[i] = (d[i + 1] - d[i - 1]) * 0.5;
      break;
    case 3: v = squared(d); break;
    case 4: v = delayed(1); break;
    case 5: v = delayed(2); break;
    case 6: v = squared(delayed(1)); break;
    default: v = squared(delayed(2)); break;
  }
  return standardized(v);
}

class ConfoundTask : public ::testing::Test {
 protected:
  std::string motionFile(const std::string& relative, const std::vector<MotionRow>& rows) {
    const std::string file = dir.file(relative);
    fs::create_directories(fs::path(file).parent_path());
    writeHostMotionSdm(file, rows);
    return file;
  }

  // Runs the task with the given switches on (every other one off).
  static SimulatorRun confound(const std::string& sdmfile, const std::string& threshold,
                               const std::set<std::string>& on,
                               const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--document-type", "1", "--param",
                                     "spike_threshold=" + threshold, "--param", "sdmfile=" + sdmfile};
    for (const char* name : {"create_detrended", "create_derivative", "create_spikes",
                             "create_squared", "create_delayed1", "create_delayed1sq",
                             "create_delayed2", "create_delayed2sq", "plot_regular",
                             "plot_detrended"}) {
      args.push_back("--param");
      args.push_back(std::string(name) + "=" + (on.count(name) != 0 ? "1" : "0"));
    }
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("--task");
    args.push_back("confound");
    SimulatorRun run = runSimulator(args);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    return run;
  }

  static std::set<std::string> allModels() {
    std::set<std::string> on;
    for (const Output& o : kOutputs) on.insert(o.parameter);
    return on;
  }

  TempDir dir;
};

const char* const kSpikesFile =
    "FileVersion:            1\r\n"
    "\r\n"
    "NrOfPredictors:         2\r\n"
    "NrOfDataPoints:         16\r\n"
    "IncludesConstant:       0\r\n"
    "FirstConfoundPredictor: 1\r\n"
    "\r\n"
    "250 250 250   250 250 250\r\n"
    "\"Spike Volume 4\" \"Spike Volume 12\"\r\n"
    "  0.000000   0.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n  1.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   1.000000\r\n  0.000000   0.000000\r\n  0.000000   0.000000\r\n"
    "  0.000000   0.000000\r\n";

// tx / sd(tx) = +-sqrt(15/16) = +-0.968246; ty / sd(ty) with sd(ty) =
// sqrt(4.25 / 15): 0.5 -> 0.939336, 0.75 -> 1.409005, 0.25 -> 0.469668. The
// four constant columns are 0 after detrending and only centred.
const char* const kDetrendedFile =
    "FileVersion:            1\r\n"
    "\r\n"
    "NrOfPredictors:         6\r\n"
    "NrOfDataPoints:         16\r\n"
    "IncludesConstant:       0\r\n"
    "FirstConfoundPredictor: 1\r\n"
    "\r\n"
    "255 0 0   0 255 0   0 0 255   255 255 0   255 0 255   0 255 255\r\n"
    "\"Translation X [mm] detrended\" \"Translation Y [mm] detrended\" "
    "\"Translation Z [mm] detrended\" \"Rotation X [deg] detrended\" "
    "\"Rotation Y [deg] detrended\" \"Rotation Z [deg] detrended\"\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   1.409005   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.469668   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.469668   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   1.409005   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    "  0.968246   0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n"
    " -0.968246  -0.939336   0.000000   0.000000   0.000000   0.000000\r\n";

TEST_F(ConfoundTask, AllModelsAndTwoSpikes) {
  const std::string sdm = motionFile("a/b/run1_3DMC.sdm", handRows());
  const SimulatorRun run = confound(sdm, "0.5", allModels());
  EXPECT_TRUE(run.messages().empty()) << run.describe();
  EXPECT_EQ(taskLog(run), (std::vector<std::string>{
                              "Tessel>  Detecting Spikes",
                              "Tessel>  Found spike at position 4 with displacement 1.25 mm",
                              "Tessel>  Found spike at position 12 with displacement 1.25 mm",
                              "Tessel>  Saving SDMs"}));

  std::set<std::string> expectedFiles = {"run1_3DMC.sdm"};
  for (const Output& o : kOutputs) expectedFiles.insert(std::string("run1_3DMC") + o.suffix + ".sdm");
  EXPECT_EQ(filesIn(dir.file("a/b")), expectedFiles);

  // Byte for byte, so that every build writes the same files.
  EXPECT_EQ(readFile(withSuffix(sdm, "_spikes")), kSpikesFile);
  EXPECT_EQ(readFile(withSuffix(sdm, "_detr")), kDetrendedFile);

  const std::vector<double> detrended[6] = {kTx, kTy, std::vector<double>(kVolumes, 0.0),
                                            std::vector<double>(kVolumes, 0.0),
                                            std::vector<double>(kVolumes, 0.0),
                                            std::vector<double>(kVolumes, 0.0)};
  for (std::size_t m = 1; m < kOutputs.size(); ++m) {
    const std::string file = withSuffix(sdm, kOutputs[m].suffix);
    SCOPED_TRACE(file);
    const SdmDocument model(file);
    EXPECT_EQ(model.FileVersion.value, 1);
    EXPECT_EQ(model.NrOfPredictors.value, 6);
    EXPECT_EQ(model.NrOfDataPoints.value, 16);
    EXPECT_FALSE(model.IncludesConstant.value);
    EXPECT_EQ(model.FirstConfoundPredictor.value, 1);
    ASSERT_EQ(model.columns.size(), 6u);
    for (std::size_t p = 0; p < 6; ++p) {
      EXPECT_EQ(model.names[p], kMotionPredictorNames[p] + kOutputs[m].nameSuffix);
      EXPECT_EQ(model.red[p], kMotionPredictorColours[p][0]);
      EXPECT_EQ(model.green[p], kMotionPredictorColours[p][1]);
      EXPECT_EQ(model.blue[p], kMotionPredictorColours[p][2]);
      const std::vector<double> expected = modelOf(m, detrended[p]);
      double sum = 0, ss = 0;
      for (std::size_t i = 0; i < kVolumes; ++i) {
        EXPECT_NEAR(model.columns[p][i], expected[i], 2e-6) << "predictor " << p << " row " << i;
        sum += model.columns[p][i];
      }
      const double mean = sum / kVolumes;
      for (float v : model.columns[p]) ss += (v - mean) * (v - mean);
      const double sd = std::sqrt(ss / (kVolumes - 1));
      EXPECT_NEAR(mean, 0.0, 1e-5) << "predictor " << p;
      // Columns without spread (the constant ones, and the squares of +-0.375)
      // are only centred.
      bool flat = true;
      for (double v : expected) flat = flat && v == 0.0;
      if (flat) {
        EXPECT_EQ(sd, 0.0) << "predictor " << p;
      } else {
        EXPECT_NEAR(sd, 1.0, 1e-5) << "predictor " << p;
      }
    }
  }
  // The delayed model starts at 0 before standardisation: its first value is
  // -mean/sd of the delayed column.
  const SdmDocument t1(withSuffix(sdm, "_t1"));
  EXPECT_NEAR(t1.columns[0][0], modelOf(4, kTx)[0], 2e-6);
  EXPECT_LT(t1.columns[0][0], -0.05);
}

TEST_F(ConfoundTask, ARunsFilesArriveTogetherOrNotAtAll) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  // A folder in the place of output j makes it fail: the outputs before it
  // keep what an earlier run left there, none after it appears, and no
  // temporary file is left behind.
  for (std::size_t j = 0; j < kOutputs.size(); ++j) {
    const std::string blocked = withSuffix(sdm, kOutputs[j].suffix);
    SCOPED_TRACE(blocked);
    std::set<std::string> expected = {"run1_3DMC.sdm", fs::path(blocked).filename().string()};
    for (std::size_t k = 0; k < j; ++k) {
      writeFile(withSuffix(sdm, kOutputs[k].suffix), std::string("earlier ") + kOutputs[k].suffix);
      expected.insert(fs::path(withSuffix(sdm, kOutputs[k].suffix)).filename().string());
    }
    fs::create_directory(blocked);
    const SimulatorRun run = confound(sdm, "0.5", allModels());
    EXPECT_EQ(run.messages(), std::vector<std::string>{"Error: Cannot Create file: " + blocked});
    EXPECT_EQ(filesIn(dir.path().string()), expected);
    for (std::size_t k = 0; k < j; ++k) {
      EXPECT_EQ(readFile(withSuffix(sdm, kOutputs[k].suffix)), std::string("earlier ") + kOutputs[k].suffix);
    }
    fs::remove(blocked);
    for (const Output& o : kOutputs) fs::remove(withSuffix(sdm, o.suffix));
  }

  // In a study list, the runs before the failing one keep their complete
  // outputs; the failing run and those after it add nothing.
  const std::vector<std::string> sdms = {motionFile("s1/run1_3DMC.sdm", handRows()),
                                         motionFile("s2/run2_3DMC.sdm", handRows(2.0f)),
                                         motionFile("s3/run3_3DMC.sdm", handRows(0.25f))};
  const std::string mdm = dir.file("study_3DMC.mdm");
  writeMdm(mdm, sdms, {dir.file("s1/run1.fmr"), dir.file("s2/run2.fmr"), dir.file("s3/run3.fmr")});
  fs::create_directory(withSuffix(sdms[1], "_t1"));
  const SimulatorRun run = confound(mdm, "0.5", allModels());
  EXPECT_EQ(run.messages(),
            std::vector<std::string>{"Error: Cannot Create file: " + withSuffix(sdms[1], "_t1")});
  EXPECT_EQ(filesIn(dir.file("s1")).size(), 1 + kOutputs.size());
  EXPECT_EQ(readFile(withSuffix(sdms[0], "_spikes")), kSpikesFile);
  EXPECT_EQ(readFile(withSuffix(sdms[0], "_detr")), kDetrendedFile);
  EXPECT_EQ(filesIn(dir.file("s2")), (std::set<std::string>{"run2_3DMC.sdm", "run2_3DMC_t1.sdm"}));
  EXPECT_EQ(filesIn(dir.file("s3")), std::set<std::string>{"run3_3DMC.sdm"});
}

TEST_F(ConfoundTask, NoSpikeRemovesTheSpikeFileOfAnEarlierRun) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  const std::string spikes = withSuffix(sdm, "_spikes");
  confound(sdm, "0.5", {"create_spikes"});
  ASSERT_EQ(readFile(spikes), kSpikesFile);

  // Without detection the earlier file is not this run's business.
  confound(sdm, "2", {"create_detrended"});
  EXPECT_EQ(readFile(spikes), kSpikesFile);

  // A run that fails removes nothing.
  fs::remove(withSuffix(sdm, "_detr"));
  fs::create_directory(withSuffix(sdm, "_detr"));
  SimulatorRun run = confound(sdm, "2", {"create_spikes", "create_detrended"});
  EXPECT_EQ(run.messages(),
            std::vector<std::string>{"Error: Cannot Create file: " + withSuffix(sdm, "_detr")});
  EXPECT_EQ(readFile(spikes), kSpikesFile);
  fs::remove(withSuffix(sdm, "_detr"));

  run = confound(sdm, "2", {"create_spikes", "create_detrended"});
  EXPECT_TRUE(run.messages().empty()) << run.describe();
  EXPECT_EQ(taskLog(run), (std::vector<std::string>{
                              "Tessel>  Detecting Spikes",
                              "Tessel>  No spikes found with displacement greater than 2 mm",
                              "Tessel>  Saving SDMs",
                              "Tessel>  Removed the spike file of an earlier run: " + spikes}));
  EXPECT_EQ(filesIn(dir.path().string()), (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC_detr.sdm"}));
}

TEST_F(ConfoundTask, RunsTooShortToDetrendAreRefusedBeforeAnythingIsDone) {
  const std::string single = motionFile("s2/single_3DMC.sdm", {MotionRow{0.5f, -0.25f, 0.125f, 1, -2, 3}});
  const std::string refusal =
      "Error: SDM file " + single + ": holds 1 data point, a detrended series needs at least 2";
  std::set<std::string> everything = allModels();
  everything.insert("plot_regular");
  everything.insert("plot_detrended");
  SimulatorRun run = confound(single, "0.5", everything);
  EXPECT_EQ(run.messages(), std::vector<std::string>{refusal});
  EXPECT_TRUE(taskLog(run).empty()) << run.describe();
  EXPECT_TRUE(run.calls("zrPlotLine").empty());
  for (const Output& o : kOutputs) {
    run = confound(single, "0.5", {o.parameter});
    EXPECT_EQ(run.messages(), std::vector<std::string>{refusal}) << o.parameter;
  }
  run = confound(single, "0.5", {"plot_detrended"});
  EXPECT_EQ(run.messages(), std::vector<std::string>{refusal});

  // Every run of a study list is checked before the first one is processed.
  const std::string first = motionFile("s1/run1_3DMC.sdm", handRows());
  const std::string mdm = dir.file("study_3DMC.mdm");
  writeMdm(mdm, {first, single}, {dir.file("s1/run1.fmr"), dir.file("s2/single.fmr")});
  run = confound(mdm, "0.5", everything);
  EXPECT_EQ(run.messages(), std::vector<std::string>{refusal});
  EXPECT_TRUE(run.calls("zrPlotLine").empty());
  EXPECT_EQ(filesIn(dir.file("s1")), std::set<std::string>{"run1_3DMC.sdm"});
  EXPECT_EQ(filesIn(dir.file("s2")), std::set<std::string>{"single_3DMC.sdm"});

  // The plain plot needs no detrending.
  run = confound(single, "0.5", {"plot_regular"});
  EXPECT_TRUE(run.messages().empty()) << run.describe();
  EXPECT_EQ(run.calls("zrPlotLine").size(), 1u);
  EXPECT_EQ(taskLog(run), std::vector<std::string>{"Tessel>  Saving SDMs"});
}

TEST_F(ConfoundTask, SpikeSwitchAndThresholds) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  const std::string spikes = withSuffix(sdm, "_spikes");

  // Off: no detection, no spike lines, no spike file, whatever the threshold.
  SimulatorRun run = confound(sdm, "-1", {"create_detrended"});
  EXPECT_EQ(taskLog(run), std::vector<std::string>{"Tessel>  Saving SDMs"});
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC_detr.sdm"}));
  fs::remove(withSuffix(sdm, "_detr"));

  // Strictly greater: the largest displacement itself is no spike.
  run = confound(sdm, "1.25", {"create_spikes"});
  EXPECT_EQ(taskLog(run), (std::vector<std::string>{
                              "Tessel>  Detecting Spikes",
                              "Tessel>  No spikes found with displacement greater than 1.25 mm",
                              "Tessel>  Saving SDMs"}));
  EXPECT_EQ(filesIn(dir.path().string()), std::set<std::string>{"run1_3DMC.sdm"});
  run = confound(sdm, "2", {"create_spikes"});
  EXPECT_EQ(taskLog(run)[1], "Tessel>  No spikes found with displacement greater than 2 mm");

  // Below every value: each volume is a spike, volume 0 included.
  run = confound(sdm, "-0.125", {"create_spikes"});
  const std::vector<std::string> lines = taskLog(run);
  ASSERT_EQ(lines.size(), kVolumes + 2) << run.describe();
  EXPECT_EQ(lines[1], "Tessel>  Found spike at position 0 with displacement 0 mm");
  EXPECT_EQ(lines[5], "Tessel>  Found spike at position 4 with displacement 1.25 mm");
  EXPECT_EQ(lines[7], "Tessel>  Found spike at position 6 with displacement 0.25 mm");
  EXPECT_EQ(lines[8], "Tessel>  Found spike at position 7 with displacement 0.5 mm");
  EXPECT_EQ(lines[16], "Tessel>  Found spike at position 15 with displacement 0 mm");
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC_spikes.sdm"}));
  const SdmDocument all(spikes);
  ASSERT_EQ(all.NrOfPredictors.value, 16);
  EXPECT_EQ(all.FirstConfoundPredictor.value, 1);
  for (std::size_t k = 0; k < kVolumes; ++k) {
    EXPECT_EQ(all.names[k], "Spike Volume " + std::to_string(k));
    for (std::size_t i = 0; i < kVolumes; ++i) EXPECT_EQ(all.columns[k][i], i == k ? 1.0f : 0.0f);
  }
}

TEST_F(ConfoundTask, ThreeRunsOfAnMdmEachBesideItsOwnSdm) {
  const std::vector<std::string> sdms = {motionFile("s1/run1_3DMC.sdm", handRows()),
                                         motionFile("s2/run2_3DMC.sdm", handRows(2.0f)),
                                         motionFile("s3/run3_3DMC.sdm", handRows(0.25f))};
  const std::string mdm = dir.file("study_3DMC.mdm");
  writeMdm(mdm, sdms, {dir.file("s1/run1.fmr"), dir.file("s2/run2.fmr"), dir.file("s3/run3.fmr")});
  const std::string mdmBytes = readFile(mdm);

  const SimulatorRun run = confound(mdm, "0.5", allModels());
  EXPECT_TRUE(run.messages().empty()) << run.describe();
  // Steps of 1.25 mm, 2.5 mm (the second run moves twice as far; its 0.5 mm
  // steps become 1 mm) and 0.3125 mm.
  EXPECT_EQ(taskLog(run), (std::vector<std::string>{
                              "Tessel>  Detecting Spikes",
                              "Tessel>  Found spike at position 4 with displacement 1.25 mm",
                              "Tessel>  Found spike at position 12 with displacement 1.25 mm",
                              "Tessel>  Saving SDMs",
                              "Tessel>  Detecting Spikes",
                              "Tessel>  Found spike at position 4 with displacement 2.5 mm",
                              "Tessel>  Found spike at position 7 with displacement 1 mm",
                              "Tessel>  Found spike at position 9 with displacement 1 mm",
                              "Tessel>  Found spike at position 12 with displacement 2.5 mm",
                              "Tessel>  Saving SDMs",
                              "Tessel>  Detecting Spikes",
                              "Tessel>  No spikes found with displacement greater than 0.5 mm",
                              "Tessel>  Saving SDMs"}));
  for (std::size_t r = 0; r < sdms.size(); ++r) {
    const std::string number = std::to_string(r + 1);
    const std::string stem = std::string("run").append(number).append("_3DMC");
    std::set<std::string> expected = {stem + ".sdm"};
    for (const Output& o : kOutputs) {
      if (r < 2 || std::string(o.suffix) != "_spikes") expected.insert(stem + o.suffix + ".sdm");
    }
    EXPECT_EQ(filesIn(dir.file(std::string("s").append(number))), expected);
  }
  EXPECT_EQ(readFile(withSuffix(sdms[0], "_spikes")), kSpikesFile);
  // Scaling a column does not change its z-scores.
  EXPECT_EQ(readFile(withSuffix(sdms[1], "_detr")), kDetrendedFile);
  // No MDM is written or rewritten.
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"s1", "s2", "s3", "study_3DMC.mdm"}));
  EXPECT_EQ(readFile(mdm), mdmBytes);
}

TEST_F(ConfoundTask, OtherExtensionsAndBadFiles) {
  const std::string sdm = motionFile("run1_3DMC.sdm", handRows());
  const std::string text = readFile(sdm);
  for (const char* name : {"run1_3DMC.txt", "run1_3DMC.sdm.bak"}) {
    writeFile(dir.file(name), text);
    const SimulatorRun run = confound(dir.file(name), "0.5", allModels());
    EXPECT_TRUE(taskLog(run).empty()) << run.describe();
    // Refused rather than finished with nothing done.
    EXPECT_EQ(run.messages(), std::vector<std::string>{
                                  "Error: Not an SDM or MDM file (the name must end in .sdm or .mdm): " +
                                  dir.file(name)})
        << run.describe();
  }
  EXPECT_EQ(filesIn(dir.path().string()),
            (std::set<std::string>{"run1_3DMC.sdm", "run1_3DMC.txt", "run1_3DMC.sdm.bak"}));

  const std::string missing = dir.file("missing_3DMC.sdm");
  SimulatorRun run = confound(missing, "0.5", allModels());
  EXPECT_EQ(run.messages(), std::vector<std::string>{"Error: Failed opening for reading: " + missing});

  // Five predictors cannot be motion parameters: refused, naming the file,
  // before anything is logged or written.
  SdmDocument five(sdm);
  five.columns.pop_back();
  five.names.pop_back();
  five.red.pop_back();
  five.green.pop_back();
  five.blue.pop_back();
  five.NrOfPredictors.value = 5;
  const std::string fivePath = dir.file("five_3DMC.sdm");
  five.writeToFile(fivePath);
  run = confound(fivePath, "0.5", allModels());
  EXPECT_EQ(run.messages(),
            std::vector<std::string>{"Error: SDM file " + fivePath +
                                     ": holds 5 predictors, the six motion parameters need 6"});
  EXPECT_TRUE(taskLog(run).empty()) << run.describe();
  EXPECT_EQ(filesIn(dir.path().string()).size(), 4u);
}

TEST_F(ConfoundTask, TinySpreadIsOnlyCentred) {
  // Translation Z wobbles by 0.00005 mm: after detrending its sample standard
  // deviation is below 0.0001, so it is centred and not scaled up.
  std::vector<MotionRow> rows = handRows();
  for (std::size_t t = 0; t < kVolumes; ++t) rows[t][2] = (t % 2 == 0) ? 0.00005f : -0.00005f;
  const std::string sdm = motionFile("run1_3DMC.sdm", rows);
  confound(sdm, "0.5", {"create_detrended"});
  const SdmDocument detrended(withSuffix(sdm, "_detr"));
  double sum = 0;
  for (float v : detrended.columns[2]) {
    EXPECT_LT(std::fabs(v), 0.0001f);
    EXPECT_GT(std::fabs(v), 0.00003f);
    sum += v;
  }
  EXPECT_NEAR(sum, 0.0, 1e-5);
  EXPECT_EQ(detrended.columns[0][0], -0.968246f);
}

// Detrending in single precision, in the order the sums and formulas are
// defined, written here from those definitions.
std::vector<float> detrendedByHand(const std::vector<float>& y) {
  const float n = static_cast<float>(y.size());
  float sx = 0, sy = 0, sxy = 0, sxx = 0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    const float x = static_cast<float>(i);
    sx += x;
    sy += y[i];
    sxy += y[i] * x;
    sxx += static_cast<float>(static_cast<int>(i * i));
  }
  const float b = (sxy * n - sy * sx) / (sxx * n - sx * sx);
  const float c = (sy - b * sx) / n;
  std::vector<float> d(y.size());
  for (std::size_t i = 0; i < y.size(); ++i) d[i] = y[i] - (static_cast<float>(i) * b + c);
  return d;
}

TEST_F(ConfoundTask, SpikesAndModelsOfADriftingRunComeFromItsSinglePrecisionDetrending) {
  // All six parameters drift (about 2 mm and 1 degree over the run) and
  // wobble; the head jumps at volume 40 and stays, and volume 101 is an
  // outlier of its own. The drift alone would make every volume move more
  // than the threshold.
  constexpr std::size_t kDrifting = 157;
  const float drift[6] = {0.0125f, -0.0105f, 0.009f, 0.0075f, -0.006f, 0.0065f};
  std::vector<MotionRow> rows(kDrifting);
  for (std::size_t t = 0; t < kDrifting; ++t) {
    const float f = static_cast<float>(t);
    for (std::size_t p = 0; p < 6; ++p) {
      rows[t][p] = drift[p] * f + 0.004f * std::sin(0.7f * f + static_cast<float>(p));
    }
    if (t >= 40) rows[t][0] += 0.75f;
    if (t == 101) rows[t][4] += 0.9f;
  }
  const std::string sdm = motionFile("run1_3DMC.sdm", rows);
  const float threshold = 0.02f;
  const SimulatorRun run =
      confound(sdm, "0.02", {"create_spikes", "create_detrended", "plot_detrended"});
  EXPECT_TRUE(run.messages().empty()) << run.describe();

  SdmDocument expected(sdm);  // the parameters as the task reads them
  for (std::size_t p = 0; p < 6; ++p) {
    expected.columns[p] = detrendedByHand(expected.columns[p]);
    expected.names[p] += " detrended";
  }
  const std::vector<float> r = relativeRmsDisplacement(expected);

  std::vector<std::string> log = {"Tessel>  Detecting Spikes"};
  for (std::size_t k = 0; k < kDrifting; ++k) {
    if (!(r[k] > threshold)) continue;
    std::ostringstream line;
    line << "Tessel>  Found spike at position " << k << " with displacement " << r[k] << " mm";
    log.push_back(line.str());
  }
  ASSERT_EQ(log.size(), 4u) << "spikes at 40, 101 and 102 alone";
  log.push_back("Tessel>  Saving SDMs");
  EXPECT_EQ(taskLog(run), log);

  // The plot shows the detrended parameters and the series, to the last bit.
  const std::vector<const HostCall*> added = run.calls("zrAddLineToPlot");
  ASSERT_EQ(added.size(), 7u) << run.describe();
  EXPECT_EQ(run.calls("zrPlotLine").at(0)->arg(2).floats(), expected.columns[0]);
  for (std::size_t p = 1; p < 6; ++p) EXPECT_EQ(added[p - 1]->arg(3).floats(), expected.columns[p]) << p;
  EXPECT_EQ(added[5]->arg(3).floats(), r);

  for (std::size_t p = 0; p < 6; ++p) expected.columns[p] = standardized(expected.columns[p]);
  std::ostringstream file;
  expected.write(file);
  EXPECT_EQ(readFile(withSuffix(sdm, "_detr")), file.str());
  EXPECT_EQ(SdmDocument(withSuffix(sdm, "_spikes")).names,
            (std::vector<std::string>{"Spike Volume 40", "Spike Volume 101", "Spike Volume 102"}));
}

TEST_F(ConfoundTask, PlotsOfTheMotionAndOfTheDetrendedRun) {
  const std::string sdm = motionFile("a/run1_3DMC.sdm", handRows());
  const std::string plots = dir.file("plots");
  fs::create_directories(plots);
  const SimulatorRun run =
      confound(sdm, "0.5", {"plot_regular", "plot_detrended"}, {"--plots", plots});
  EXPECT_TRUE(run.messages().empty()) << run.describe();

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
      const std::vector<double> args = {handle, static_cast<double>(i), 2,
                                        static_cast<double>(rgb[i][0]),
                                        static_cast<double>(rgb[i][1]),
                                        static_cast<double>(rgb[i][2]), 0};
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
  // Plots alone write no file.
  EXPECT_EQ(filesIn(dir.file("a")), std::set<std::string>{"run1_3DMC.sdm"});
}

}  // namespace
}  // namespace tsl::testing
