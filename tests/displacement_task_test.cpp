// The displacement task in-process, through the recording host, on runs and
// motion files the test writes in the host's layouts: the parameters it reads,
// the mask, the maps it adds and saves (values against the whole-grid
// computation, names, order, display range), its log lines, plots and
// refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"
#include "motion/motion_series.h"
#include "tasks/tasks.h"
#include "tests/support/hand_motion.h"
#include "tests/support/recording_host.h"
#include "tests/support/reference_displacement.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

using test::RecordingHost;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Odd sizes on every axis, and voxels of 3.5 x 3 x 4 mm (slices 3.5 mm thick
// with a gap of 0.5 mm), so that a swapped axis or voxel size shows.
constexpr Dim3 kGrid{5, 3, 3};
constexpr std::array<float, 3> kVoxelMm{3.5f, 3.0f, 4.0f};
constexpr float kThreshold = 50.0f;
const char* const kSizeLine = "Tessel>  FMR size voxels: 5 x 3 x 3";
const char* const kSavingLine = "Tessel>  Saving Maps";

std::string startLine(int volumes) {
  return "Tessel>  Start calculating voxel specific motion in " + std::to_string(volumes) +
         " volumes";
}

// A measure: the switch that selects it, its file suffix and where the
// whole-grid computation keeps it; in the fixed order of the exports.
struct MapKind {
  const char* parameter;
  const char* suffix;
  Volume DisplacementMaps::*volume;
};
const std::array<MapKind, 7> kExportOrder = {{
    {"map_max_abs", "_MaxAbsolute.map", &DisplacementMaps::maxAbsolute},
    {"map_mean_abs", "_MeanAbsolute.map", &DisplacementMaps::meanAbsolute},
    {"map_mean_rel", "_MeanRelative.map", &DisplacementMaps::meanRelative},
    {"map_max_rel", "_MaxRelative.map", &DisplacementMaps::maxRelative},
    {"map_max_abs_x", "_MaxAbsoluteX.map", &DisplacementMaps::maxAbsoluteX},
    {"map_max_abs_y", "_MaxAbsoluteY.map", &DisplacementMaps::maxAbsoluteY},
    {"map_max_abs_z", "_MaxAbsoluteZ.map", &DisplacementMaps::maxAbsoluteZ},
}};
const std::vector<std::string> kAllMaps = {"map_max_abs",  "map_mean_abs",  "map_max_rel",
                                           "map_mean_rel", "map_max_abs_x", "map_max_abs_y",
                                           "map_max_abs_z"};

int indexOf(int x, int y, int z) { return (z * kGrid.y + y) * kGrid.x + x; }

// First-volume intensity: a checkerboard above and below the threshold, one
// voxel of the bright squares at the threshold itself and, in float runs, one
// not a number. Later volumes are bright everywhere, so a mask taken from
// another time point would show.
float intensity(int x, int y, int z, int t, bool float32) {
  if (t > 0) return 200.0f - 10.0f * static_cast<float>(t);
  if (x == 1 && y == 1 && z == 0) return kThreshold;
  if (float32 && x == 3 && y == 1 && z == 0) return std::numeric_limits<float>::quiet_NaN();
  return (x + y + z) % 2 == 0 ? 100.0f : 10.0f;
}

// The voxels intensity puts strictly above the threshold, in index order.
std::vector<std::int32_t> expectedMask(bool float32) {
  std::vector<std::int32_t> mask;
  for (int z = 0; z < kGrid.z; ++z) {
    for (int y = 0; y < kGrid.y; ++y) {
      for (int x = 0; x < kGrid.x; ++x) {
        const bool atThreshold = x == 1 && y == 1 && z == 0;
        const bool notANumber = float32 && x == 3 && y == 1 && z == 0;
        if ((x + y + z) % 2 == 0 && !atThreshold && !notANumber) mask.push_back(indexOf(x, y, z));
      }
    }
  }
  return mask;
}

// All six parameters drift at their own rates, with a jump in the middle;
// scale tells runs apart.
std::vector<MotionRow> driftingMotion(int volumes, float scale = 1.0f) {
  std::vector<MotionRow> rows;
  for (int t = 0; t < volumes; ++t) {
    const float f = static_cast<float>(t) * scale;
    const float jump = t >= volumes / 2 ? 0.75f * scale : 0.0f;
    rows.push_back({0.125f * f + jump, -0.0625f * f, 0.03125f * f, 0.25f * f, -0.1875f * f - jump,
                    0.15625f * f});
  }
  return rows;
}

std::vector<float> valuesOf(const Volume& volume) {
  return {volume.data(), volume.data() + volume.size()};
}

std::vector<std::string> savedPaths(const RecordingHost& host) {
  std::vector<std::string> paths;
  for (const RecordingHost::Save& save : host.saves) paths.push_back(save.path);
  return paths;
}

class DisplacementTask : public ::testing::Test {
 protected:
  // The current run: a header file and its STC data, and the host's record.
  CurrentRun writeRun(const std::string& name, int volumes, bool float32) {
    FmrLayout layout;
    layout.volumes = volumes;
    layout.slices = kGrid.z;
    layout.resolutionX = kGrid.x;
    layout.resolutionY = kGrid.y;
    layout.prefix = name;
    layout.dataType = float32 ? 2 : 1;
    layout.inplaneResolutionX = kVoxelMm[0];
    layout.inplaneResolutionY = kVoxelMm[1];
    layout.sliceThickness = 3.5f;
    layout.sliceGap = 0.5f;
    writeFmrHeader(dir.file(name + ".fmr"), layout);
    writeStc(
        dir.file(name + ".stc"), kGrid.x, kGrid.y, kGrid.z, volumes,
        [float32](int x, int y, int z, int t) { return intensity(x, y, z, t, float32); }, float32);
    return {dir.file(name + ".fmr"), volumes, kGrid, kVoxelMm};
  }

  std::string writeMotion(const std::string& name, const std::vector<MotionRow>& rows) {
    writeHostMotionSdm(dir.file(name), rows);
    return dir.file(name);
  }

  // A host whose current run is run, whose dialog chose motion and sets the
  // threshold and the given switches.
  static RecordingHost hostFor(const CurrentRun& run, const std::string& motion,
                               const std::vector<std::string>& switches) {
    RecordingHost host;
    host.run = run;
    host.set("sdmfile", motion);
    host.set("fmr_threshold", kThreshold);
    for (const std::string& name : switches) host.set(name, 1);
    return host;
  }

  // The seven measures of the motion file on the current run's grid.
  static DisplacementMaps expectedMaps(const std::string& motion,
                                       const std::vector<std::int32_t>& mask) {
    const float extent[3] = {static_cast<float>(kGrid.x) * kVoxelMm[0],
                             static_cast<float>(kGrid.y) * kVoxelMm[1],
                             static_cast<float>(kGrid.z) * kVoxelMm[2]};
    return referenceDisplacement(mask, kGrid, extent, SdmDocument(motion));
  }

  TempDir dir;
};

TEST_F(DisplacementTask, DriftingMotionGivesTheWholeGridMapsInTheFixedOrder) {
  constexpr int kVolumes = 7;
  const std::string motion = writeMotion("run1_3DMC.sdm", driftingMotion(kVolumes));
  const std::string base = dir.file("run1_3DMC");
  for (const bool float32 : {false, true}) {
    SCOPED_TRACE(float32 ? "float32 run" : "int16 run");
    const DisplacementMaps expected = expectedMaps(motion, expectedMask(float32));
    RecordingHost host = hostFor(writeRun(float32 ? "runf" : "runi", 3, float32), motion, kAllMaps);
    computeDisplacementMaps(host);

    EXPECT_THAT(host.parametersRead,
                ElementsAre("fmr_threshold", "map_max_abs", "map_mean_abs", "map_max_rel",
                            "map_mean_rel", "map_max_abs_x", "map_max_abs_y", "map_max_abs_z",
                            "plot_regular", "plot_detrended", "sdmfile"));
    std::vector<std::string> calls = {"log " + std::string(kSizeLine), "log " + startLine(kVolumes),
                                      "log " + std::string(kSavingLine)};
    for (std::size_t m = 0; m < kExportOrder.size(); ++m) {
      calls.push_back("map " + std::to_string(m + 1));
      calls.push_back("save " + base + kExportOrder[m].suffix);
    }
    EXPECT_THAT(host.calls, ElementsAreArray(calls));

    ASSERT_EQ(host.maps.size(), kExportOrder.size());
    for (std::size_t m = 0; m < kExportOrder.size(); ++m) {
      SCOPED_TRACE(kExportOrder[m].suffix);
      const Volume& want = expected.*kExportOrder[m].volume;
      const RecordingHost::Map& got = host.maps[m];
      EXPECT_EQ(got.volume.dim, kGrid);
      EXPECT_EQ(valuesOf(got.volume), valuesOf(want));
      EXPECT_EQ(got.lower, 0.01f);
      EXPECT_EQ(got.upper, *std::max_element(want.data(), want.data() + want.size()));
    }
    // The voxel at the threshold and the one not a number stay 0, their
    // bright neighbours do not.
    const Volume& maxAbsolute = host.maps[0].volume;
    EXPECT_EQ(maxAbsolute[indexOf(1, 1, 0)], 0.0f);
    EXPECT_GT(maxAbsolute[indexOf(0, 0, 0)], 0.0f);
    EXPECT_EQ(maxAbsolute[indexOf(3, 1, 0)] == 0.0f, float32);
    EXPECT_TRUE(host.messages.empty());
  }
}

TEST_F(DisplacementTask, EachSwitchAddsItsOwnMapAlone) {
  const CurrentRun run = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", driftingMotion(5));
  const DisplacementMaps expected = expectedMaps(motion, expectedMask(false));
  for (const MapKind& kind : kExportOrder) {
    SCOPED_TRACE(kind.parameter);
    // Any value but 0 sets a switch.
    RecordingHost host = hostFor(run, motion, {});
    host.set(kind.parameter, -3);
    computeDisplacementMaps(host);
    EXPECT_THAT(savedPaths(host), ElementsAre(dir.file("run1_3DMC") + kind.suffix));
    ASSERT_EQ(host.maps.size(), 1u);
    EXPECT_EQ(valuesOf(host.maps[0].volume), valuesOf(expected.*kind.volume));
  }

  // Nothing selected: measured and logged, nothing added.
  RecordingHost none = hostFor(run, motion, {});
  computeDisplacementMaps(none);
  EXPECT_THAT(none.logLines, ElementsAre(kSizeLine, startLine(5), kSavingLine));
  EXPECT_TRUE(none.maps.empty());
  EXPECT_TRUE(none.saves.empty());

  // A threshold above every intensity: every map still added, all zero,
  // with the upper value 0.
  RecordingHost dark = hostFor(run, motion, kAllMaps);
  dark.set("fmr_threshold", 1000.0f);
  computeDisplacementMaps(dark);
  ASSERT_EQ(dark.saves.size(), kExportOrder.size());
  for (const RecordingHost::Map& map : dark.maps) {
    EXPECT_THAT(valuesOf(map.volume), Each(0.0f));
    EXPECT_EQ(map.lower, 0.01f);
    EXPECT_EQ(map.upper, 0.0f);
  }
}

TEST_F(DisplacementTask, PlotsOnRequest) {
  const CurrentRun run = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", driftingMotion(5));
  const SdmDocument document(motion);
  const std::string plain = motion;
  const std::string detrendedTitle = motion + " detrended  + relative RMS displacement";

  RecordingHost both = hostFor(run, motion, {"map_max_abs"});
  both.set("plot_regular", 1);
  both.set("plot_detrended", 1);
  computeDisplacementMaps(both);
  EXPECT_THAT(both.calls, ElementsAre("log " + std::string(kSizeLine), "plot " + plain,
                                      "plot " + detrendedTitle, "log " + startLine(5),
                                      "log " + std::string(kSavingLine), "map 1",
                                      "save " + dir.file("run1_3DMC_MaxAbsolute.map")));
  ASSERT_EQ(both.plots.size(), 2u);
  const RecordingHost::Plot& regular = both.plots[0];
  EXPECT_EQ(regular.names, document.names);
  EXPECT_EQ(regular.columns, document.columns);
  ASSERT_EQ(regular.colours.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(regular.colours[i],
              (std::array<int, 3>{document.red[i], document.green[i], document.blue[i]}));
  }

  // The six parameters detrended, and the displacement series as it is.
  const RecordingHost::Plot& detrended = both.plots[1];
  EXPECT_THAT(detrended.names,
              ElementsAre("Translation X [mm] detrended", "Translation Y [mm] detrended",
                          "Translation Z [mm] detrended", "Rotation X [deg] detrended",
                          "Rotation Y [deg] detrended", "Rotation Z [deg] detrended",
                          "relative RMS displacement"));
  // Worked out in double here: each column less its least-squares line, and
  // the displacement of the parameters as in the file.
  ASSERT_EQ(detrended.columns.size(), 7u);
  const std::size_t n = document.columns[0].size();
  for (std::size_t p = 0; p < 6; ++p) {
    const std::vector<float>& y = document.columns[p];
    double sy = 0, sty = 0;
    for (std::size_t t = 0; t < n; ++t) {
      sy += y[t];
      sty += static_cast<double>(t) * y[t];
    }
    const double tMean = (static_cast<double>(n) - 1) / 2, yMean = sy / static_cast<double>(n);
    double stt = 0;
    for (std::size_t t = 0; t < n; ++t)
      stt += (static_cast<double>(t) - tMean) * (static_cast<double>(t) - tMean);
    const double slope = (sty - static_cast<double>(n) * tMean * yMean) / stt;
    for (std::size_t t = 0; t < n; ++t) {
      EXPECT_NEAR(detrended.columns[p][t],
                  y[t] - (yMean + slope * (static_cast<double>(t) - tMean)), 1e-5);
    }
  }
  EXPECT_EQ(detrended.columns[6][0], 0.0f);
  for (std::size_t t = 1; t < n; ++t) {
    float earlier[6], later[6];
    for (std::size_t p = 0; p < 6; ++p) {
      earlier[p] = document.columns[p][t - 1];
      later[p] = document.columns[p][t];
    }
    EXPECT_NEAR(detrended.columns[6][t], rmsChangeByHand(earlier, later), 1e-5) << t;
  }
  ASSERT_EQ(detrended.colours.size(), 7u);
  EXPECT_EQ(detrended.colours[6], (std::array<int, 3>{250, 250, 250}));
  EXPECT_EQ(detrended.colours[1], regular.colours[1]);

  for (const char* alone : {"plot_regular", "plot_detrended"}) {
    RecordingHost host = hostFor(run, motion, {alone});
    computeDisplacementMaps(host);
    ASSERT_EQ(host.plots.size(), 1u) << alone;
    EXPECT_EQ(host.plots[0].path + host.plots[0].titleSuffix,
              std::string(alone) == "plot_regular" ? plain : detrendedTitle);
  }
}

// With an MDM every run is measured on the current run's grid and mask and
// its maps are added to the current run under the run's own base name: the
// motion file's path without the extension of its file name.
TEST_F(DisplacementTask, MultiStudyFileMeasuresEveryRunOnTheCurrentRun) {
  const CurrentRun run = writeRun("run1", 2, false);
  std::filesystem::create_directory(dir.path() / "my.data");
  const std::vector<std::string> motions = {writeMotion("s1_3DMC.sdm", driftingMotion(3, 1.0f)),
                                            writeMotion("my.data/s2_3DMC", driftingMotion(1, 2.0f)),
                                            writeMotion("s3.v2_3DMC.SDM", driftingMotion(6, 0.5f))};
  const std::vector<std::string> bases = {dir.file("s1_3DMC"), dir.file("my.data/s2_3DMC"),
                                          dir.file("s3.v2_3DMC")};
  writeMdm(dir.file("study_3DMC.mdm"), motions, {run.path, run.path, run.path});
  RecordingHost host = hostFor(run, dir.file("study_3DMC.mdm"), {"map_mean_rel", "map_max_abs"});
  host.set("plot_regular", 1);
  computeDisplacementMaps(host);

  const int volumes[] = {3, 1, 6};
  std::vector<std::string> calls = {"log " + std::string(kSizeLine)};
  for (std::size_t r = 0; r < 3; ++r) {
    calls.push_back("plot " + motions[r]);
    calls.push_back("log " + startLine(volumes[r]));
    calls.push_back("log " + std::string(kSavingLine));
    calls.push_back("map " + std::to_string(2 * r + 1));
    calls.push_back("save " + bases[r] + "_MaxAbsolute.map");
    calls.push_back("map " + std::to_string(2 * r + 2));
    calls.push_back("save " + bases[r] + "_MeanRelative.map");
  }
  EXPECT_THAT(host.calls, ElementsAreArray(calls));

  ASSERT_EQ(host.maps.size(), 6u);
  for (std::size_t r = 0; r < 3; ++r) {
    SCOPED_TRACE(motions[r]);
    const DisplacementMaps expected = expectedMaps(motions[r], expectedMask(false));
    EXPECT_EQ(valuesOf(host.maps[2 * r].volume), valuesOf(expected.maxAbsolute));
    EXPECT_EQ(valuesOf(host.maps[2 * r + 1].volume), valuesOf(expected.meanRelative));
  }
  // One volume: its relative displacement is its absolute one, and the mean
  // of one value is that value.
  EXPECT_EQ(valuesOf(host.maps[3].volume), valuesOf(host.maps[2].volume));
  EXPECT_GT(host.maps[2].upper, 0.0f);
}

TEST_F(DisplacementTask, RefusalsNameTheFileAndAddNothing) {
  const CurrentRun run = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", driftingMotion(3));
  // Each refusal ends the task before the host gets a map or a plot; lines
  // logged before it stay.
  auto expectNothingAdded = [](const RecordingHost& host, const std::vector<std::string>& logged) {
    EXPECT_THAT(host.logLines, ElementsAreArray(logged));
    EXPECT_TRUE(host.maps.empty());
    EXPECT_TRUE(host.saves.empty());
    EXPECT_TRUE(host.plots.empty());
  };
  const std::vector<std::string> all = {"map_max_abs", "map_mean_rel", "plot_regular",
                                        "plot_detrended"};

  // The host's record of the run has another grid than its data.
  CurrentRun swapped = run;
  swapped.dims = Dim3{3, 5, 3};
  RecordingHost host = hostFor(swapped, motion, all);
  EXPECT_THROW_MSG(
      computeDisplacementMaps(host), IOError,
      "FMR file " + run.path +
          ": its voxel data have a grid of 5 x 3 x 3 voxels, but the host's record of the run has "
          "3 x 5 x 3");
  expectNothingAdded(host, {"Tessel>  FMR size voxels: 3 x 5 x 3"});

  const CurrentRun empty = writeRun("run0", 0, false);
  host = hostFor(empty, motion, all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), IOError,
                   "FMR file " + empty.path + ": NrOfVolumes is 0, the run has no first volume");
  expectNothingAdded(host, {kSizeLine});

  const std::string stc = dir.file("run1.stc");
  writeFile(stc, std::string(10, '\0'));
  host = hostFor(run, motion, all);
  EXPECT_THROW_MSG(
      computeDisplacementMaps(host), IOError,
      "STC file " + stc + " holds 10 bytes, but its header " + run.path +
          " announces 180 bytes (3 slices x 2 volumes x 3 rows x 5 columns x 2 bytes)");
  expectNothingAdded(host, {kSizeLine});
  std::filesystem::remove(stc);
  host = hostFor(run, motion, all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), OpenFileError,
                   "Failed opening STC for reading: " + stc);
  expectNothingAdded(host, {kSizeLine});
  writeRun("run1", 2, false);

  // Motion files that cannot drive the measures, refused before the run is read.
  const std::string missing = dir.file("gone_3DMC.sdm");
  host = hostFor(run, missing, all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), OpenFileError,
                   "Failed opening for reading: " + missing);
  expectNothingAdded(host, {});

  const std::string noPoints = writeMotion("none_3DMC.sdm", {});
  host = hostFor(run, noPoints, all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), IOError,
                   "SDM file " + noPoints + ": holds no data points, nothing to measure");
  expectNothingAdded(host, {});

  SdmDocument five(motion);
  for (auto* list : {&five.red, &five.green, &five.blue}) list->pop_back();
  five.names.pop_back();
  five.columns.pop_back();
  five.NrOfPredictors.value = 5;
  five.writeToFile(dir.file("five_3DMC.sdm"));
  host = hostFor(run, dir.file("five_3DMC.sdm"), all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), IOError,
                   "SDM file " + dir.file("five_3DMC.sdm") +
                       ": holds 5 predictors, the six motion parameters need 6");
  expectNothingAdded(host, {});

  // One volume cannot be detrended: refused for the detrended plot only, and
  // for every run of a study list before the first is plotted.
  const std::string single = writeMotion("one_3DMC.sdm", driftingMotion(1));
  const std::string tooShort =
      "SDM file " + single + ": holds 1 data point, a detrended series needs at least 2";
  host = hostFor(run, single, all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), IOError, tooShort);
  expectNothingAdded(host, {});
  writeMdm(dir.file("study_3DMC.mdm"), {motion, single}, {run.path, run.path});
  host = hostFor(run, dir.file("study_3DMC.mdm"), all);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), IOError, tooShort);
  expectNothingAdded(host, {});
  host = hostFor(run, single, {"map_max_abs", "plot_regular"});
  computeDisplacementMaps(host);
  EXPECT_EQ(host.maps.size(), 1u);
  EXPECT_EQ(host.plots.size(), 1u);
}

// What was added and saved before a save the host did not make stays; the
// task ends there.
TEST_F(DisplacementTask, ASaveTheHostDidNotMakeEndsTheTask) {
  const CurrentRun run = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", driftingMotion(3));
  RecordingHost host = hostFor(run, motion, {"map_max_abs", "map_mean_abs", "map_max_rel"});
  const std::string meanAbsolute = dir.file("run1_3DMC_MeanAbsolute.map");
  host.unwritable.insert(meanAbsolute);
  EXPECT_THROW_MSG(computeDisplacementMaps(host), IOError, "Failed writing file: " + meanAbsolute);
  EXPECT_THAT(std::vector<std::string>(host.calls.end() - 3, host.calls.end()),
              ElementsAre("map 1", "save " + dir.file("run1_3DMC_MaxAbsolute.map"), "map 2"));
  EXPECT_EQ(host.saves.size(), 1u);
}

}  // namespace
}  // namespace tsl::testing
