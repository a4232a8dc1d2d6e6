// The displacement task through the host simulator, on runs and motion files
// the test writes in the host's layouts: the maps the host saves (read back
// from the NIfTI files the simulator writes), their names and order, the log
// lines, the plots, and every refusal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"
#include "tests/support/simulator.h"
#include "tests/support/hand_motion.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const char* const kSizeLine = "Tessel>  FMR size voxels: 4 x 3 x 2";
const char* const kSavingLine = "Tessel>  Saving Maps";
const std::vector<std::string> kAllMaps = {"map_max_abs",   "map_mean_abs",  "map_max_rel",  "map_mean_rel",
                                           "map_max_abs_x", "map_max_abs_y", "map_max_abs_z"};
// The suffixes in the order of the exports.
const std::vector<std::string> kSuffixes = {"_MaxAbsolute.map",  "_MeanAbsolute.map",  "_MeanRelative.map",
                                            "_MaxRelative.map",  "_MaxAbsoluteX.map",  "_MaxAbsoluteY.map",
                                            "_MaxAbsoluteZ.map"};
enum Measure { kMaxAbs, kMeanAbs, kMeanRel, kMaxRel, kMaxX, kMaxY, kMaxZ };

constexpr int kX = 4, kY = 3, kZ = 2, kVoxels = kX * kY * kZ;
constexpr float kVoxelMm = 2.0f;
constexpr float kThreshold = 50.0f;

// First-volume intensity of voxel (x, y, z): above the threshold on a
// checkerboard, the threshold itself at (1, 0, 0); later volumes differ, so a
// mask taken from another time point would show.
float intensity(int x, int y, int z, int t) {
  if (t > 0) return static_cast<float>(200 - 10 * t);
  if (x == 1 && y == 0 && z == 0) return kThreshold;
  return (x + y + z) % 2 == 0 ? 100.0f : 10.0f;
}
bool masked(int v) {
  const int x = v % kX, y = (v / kX) % kY, z = v / (kX * kY);
  return intensity(x, y, z, 0) > kThreshold;
}

struct Nifti {
  std::int16_t dim[8] = {};
  float pixdim[8] = {};
  float calMin = 0, calMax = 0;
  std::vector<float> data;  // every map, one after another

  std::vector<float> map(int index) const {
    const auto size = static_cast<std::size_t>(dim[1] * dim[2] * dim[3]);
    const auto first = data.begin() + static_cast<std::ptrdiff_t>(size * static_cast<std::size_t>(index));
    return {first, first + static_cast<std::ptrdiff_t>(size)};
  }
  std::vector<float> lastMap() const { return map(dim[4] - 1); }
};

template <typename T>
T littleEndianAt(const std::string& bytes, std::size_t offset) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bits |= std::uint64_t{static_cast<unsigned char>(bytes.at(offset + i))} << (8 * i);
  }
  if constexpr (std::is_same_v<T, float>) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
  } else {
    return static_cast<T>(bits);
  }
}

// A NIfTI-1 single file of float32 maps.
Nifti readNifti(const std::string& path) {
  const std::string bytes = readFile(path);
  Nifti n;
  EXPECT_EQ(littleEndianAt<std::int32_t>(bytes, 0), 348) << path;
  for (std::size_t i = 0; i < 8; ++i) {
    n.dim[i] = littleEndianAt<std::int16_t>(bytes, 40 + 2 * i);
    n.pixdim[i] = littleEndianAt<float>(bytes, 76 + 4 * i);
  }
  EXPECT_EQ(littleEndianAt<std::int16_t>(bytes, 70), 16) << "float32 data";
  const auto offset = static_cast<std::size_t>(littleEndianAt<float>(bytes, 108));
  n.calMax = littleEndianAt<float>(bytes, 124);
  n.calMin = littleEndianAt<float>(bytes, 128);
  const auto count = static_cast<std::size_t>(n.dim[1] * n.dim[2] * n.dim[3] * n.dim[4]);
  EXPECT_EQ(bytes.size(), offset + 4 * count) << path;
  for (std::size_t i = 0; i < count && offset + 4 * i + 4 <= bytes.size(); ++i) {
    n.data.push_back(littleEndianAt<float>(bytes, offset + 4 * i));
  }
  return n;
}

// Voxel sizes of a run: in-plane x and y, slice thickness and gap (mm).
struct VoxelSizes {
  float x = kVoxelMm, y = kVoxelMm, thickness = kVoxelMm, gap = 0.0f;
};

class DisplacementTask : public ::testing::Test {
 protected:
  // The current run: a header file and its STC in the host's layout.
  std::string writeRun(const std::string& name, int volumes, bool float32,
                       const std::function<float(int, int, int, int)>& value = intensity,
                       VoxelSizes voxel = {}) {
    FmrLayout run;
    run.volumes = volumes;
    run.slices = kZ;
    run.resolutionX = kX;
    run.resolutionY = kY;
    run.prefix = name;
    run.dataType = float32 ? 2 : 1;
    run.inplaneResolutionX = voxel.x;
    run.inplaneResolutionY = voxel.y;
    run.sliceThickness = voxel.thickness;
    run.sliceGap = voxel.gap;
    writeFmrHeader(dir.file(name + ".fmr"), run);
    writeStc(dir.file(name + ".stc"), kX, kY, kZ, volumes, value, float32);
    return dir.file(name + ".fmr");
  }

  std::string writeMotion(const std::string& name, const std::vector<MotionRow>& rows) {
    writeHostMotionSdm(dir.file(name), rows);
    return dir.file(name);
  }

  SimulatorRun runTask(const std::string& fmr, const std::string& motion,
                       const std::vector<std::string>& maps, float threshold = kThreshold,
                       std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--fmr", fmr, "--param", "sdmfile=" + motion, "--param",
                                     "fmr_threshold=" + std::to_string(threshold)};
    for (const std::string& map : maps) {
      args.push_back("--param");
      args.push_back(map + "=1");
    }
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("--task");
    args.push_back("displacement");
    SimulatorRun run = runSimulator(args);
    EXPECT_EQ(run.exitCode, 0) << run.describe();
    return run;
  }

  static std::vector<std::string> savedPaths(const SimulatorRun& run) {
    std::vector<std::string> paths;
    for (const HostCall* call : run.calls("zrSaveMAPsOfCurrentFMR")) paths.push_back(call->text(0));
    return paths;
  }

  // The log texts without the plug-in's start and closing lines.
  static std::vector<std::string> taskLines(const SimulatorRun& run) {
    std::vector<std::string> lines;
    for (const std::string& text : run.logTexts()) {
      if (text.rfind("Tessel>  ", 0) == 0 && text.find('\n') == std::string::npos) lines.push_back(text);
    }
    return lines;
  }

  static std::string startLine(int volumes) {
    return "Tessel>  Start calculating voxel specific motion in " + std::to_string(volumes) + " volumes";
  }

  // The map saved as the index-th export (files keep every map made so far;
  // the newest is the last).
  std::vector<float> exported(const std::string& base, Measure measure) const {
    return readNifti(base + kSuffixes[measure]).lastMap();
  }

  TempDir dir;
};

TEST_F(DisplacementTask, ZeroMotionGivesAllZeroMapsInTheFixedOrder) {
  const std::string fmr = writeRun("run1", 5, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", std::vector<MotionRow>(5, MotionRow{}));
  const SimulatorRun run = runTask(fmr, motion, kAllMaps);
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();
  EXPECT_THAT(taskLines(run), ElementsAre(kSizeLine, startLine(5), kSavingLine));

  const std::string base = dir.file("run1_3DMC");
  std::vector<std::string> expected;
  for (const std::string& suffix : kSuffixes) expected.push_back(base + suffix);
  EXPECT_THAT(savedPaths(run), ElementsAreArray(expected));
  EXPECT_EQ(run.calls("zrCreateMAPForCurrentFMR").size(), 7u);
  for (const HostCall* set : run.calls("zrSetMAPParametersOfCurrentFMR")) {
    const JsonValue& record = set->arg(0);
    EXPECT_EQ(record.at("type").asInt(), 1);
    EXPECT_EQ(record.at("lower").asFloat(), 0.01f);
    EXPECT_EQ(record.at("upper").asFloat(), 0.0f);
    EXPECT_EQ(record.at("clusterSize").asInt(), 0);
  }
  // The last file holds all seven maps, in export order, all zero.
  const Nifti all = readNifti(base + "_MaxAbsoluteZ.map");
  EXPECT_THAT(std::vector<int>(all.dim, all.dim + 5), ElementsAre(4, kX, kY, kZ, 7));
  EXPECT_EQ(all.pixdim[1], kVoxelMm);
  EXPECT_EQ(all.pixdim[3], kVoxelMm);
  EXPECT_EQ(all.data, std::vector<float>(7 * kVoxels, 0.0f));
}

TEST_F(DisplacementTask, ConstantTranslationOnMaskedVoxelsOfBothEncodings) {
  constexpr int kVolumes = 4;
  for (const bool float32 : {false, true}) {
    SCOPED_TRACE(float32 ? "float32" : "int16");
    // In the float run one voxel of the checkerboard is not a number.
    const std::string fmr = writeRun(float32 ? "runf" : "runi", kVolumes, float32, [&](int x, int y, int z, int t) {
      if (float32 && x == 0 && y == 0 && z == 0 && t == 0) return std::numeric_limits<float>::quiet_NaN();
      return intensity(x, y, z, t);
    });
    const std::string motion =
        writeMotion(float32 ? "runf_3DMC.sdm" : "runi_3DMC.sdm",
                    std::vector<MotionRow>(kVolumes, MotionRow{2.0f, 0, 0, 0, 0, 0}));
    const SimulatorRun run = runTask(fmr, motion, kAllMaps);
    EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();
    const std::string base = dir.file(float32 ? "runf_3DMC" : "runi_3DMC");
    const float expected[7] = {2.0f, 2.0f, 2.0f / kVolumes, 2.0f, 2.0f, 0.0f, 0.0f};
    for (int m = 0; m < 7; ++m) {
      const std::vector<float> values = exported(base, static_cast<Measure>(m));
      ASSERT_EQ(values.size(), static_cast<std::size_t>(kVoxels));
      for (int v = 0; v < kVoxels; ++v) {
        const bool in = masked(v) && !(float32 && v == 0);
        EXPECT_EQ(values[static_cast<std::size_t>(v)], in ? expected[m] : 0.0f) << kSuffixes[m] << " voxel " << v;
      }
      const Nifti file = readNifti(base + kSuffixes[m]);
      EXPECT_EQ(file.calMin, 0.01f);
      EXPECT_EQ(file.calMax, expected[m]) << kSuffixes[m];
    }
  }
}

TEST_F(DisplacementTask, ThresholdAboveEveryIntensityExportsZeroMaps) {
  const std::string fmr = writeRun("run1", 3, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", std::vector<MotionRow>(3, MotionRow{1, 2, 3, 4, 5, 6}));
  const SimulatorRun run = runTask(fmr, motion, {"map_max_rel"}, 1000.0f);
  EXPECT_THAT(savedPaths(run), ElementsAre(dir.file("run1_3DMC_MaxRelative.map")));
  const Nifti file = readNifti(dir.file("run1_3DMC_MaxRelative.map"));
  EXPECT_EQ(file.data, std::vector<float>(kVoxels, 0.0f));
  EXPECT_EQ(file.calMin, 0.01f);
  EXPECT_EQ(file.calMax, 0.0f);
}

TEST_F(DisplacementTask, OnlySelectedMapsAndPlotsOnRequest) {
  const std::string fmr = writeRun("run1", 3, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", {MotionRow{}, MotionRow{0, 1, 0, 0, 0, 0}, MotionRow{}});
  SimulatorRun run = runTask(fmr, motion, {"map_max_abs_y", "map_mean_rel"});
  EXPECT_THAT(savedPaths(run), ElementsAre(dir.file("run1_3DMC_MeanRelative.map"),
                                           dir.file("run1_3DMC_MaxAbsoluteY.map")));
  EXPECT_TRUE(run.calls("zrPlotLine").empty());
  // Mean relative: 0, then 1 mm, then 1 mm back, over 3 volumes.
  const std::vector<float> meanRelative = readNifti(dir.file("run1_3DMC_MaxAbsoluteY.map")).map(0);
  EXPECT_EQ(meanRelative[2], 2.0f / 3.0f);
  EXPECT_EQ(exported(dir.file("run1_3DMC"), kMaxY)[2], 1.0f);

  // Nothing selected: the lines are logged, nothing is created.
  run = runTask(fmr, motion, {}, kThreshold, {"--param", "plot_regular=1", "--param", "plot_detrended=1"});
  EXPECT_THAT(taskLines(run), ElementsAre(kSizeLine, startLine(3), kSavingLine));
  EXPECT_TRUE(run.calls("zrCreateMAPForCurrentFMR").empty());
  std::vector<std::string> titles;
  for (const HostCall* call : run.calls("zrSetPlotTitle")) titles.push_back(call->text(1));
  EXPECT_THAT(titles, ElementsAre("run1_3DMC.sdm", "run1_3DMC.sdm detrended  + relative RMS displacement"));
  // The detrended plot has the six parameters and the series.
  EXPECT_EQ(run.calls("zrAddLineToPlot").size(), 5u + 6u);
}

TEST_F(DisplacementTask, MultiStudyFileMeasuresEveryRunOnTheCurrentRun) {
  const std::string fmr = writeRun("run1", 2, false);
  std::vector<std::string> sdms, data;
  for (int r = 1; r <= 3; ++r) {
    std::string name = "s";  // built in steps: "s" + ... trips a false -Wrestrict of g++ 12
    name += std::to_string(r);
    name += "_3DMC";
    sdms.push_back(writeMotion(name + ".sdm", {MotionRow{}, MotionRow{static_cast<float>(r), 0, 0, 0, 0, 0}}));
    data.push_back(fmr);
  }
  writeMdm(dir.file("study_3DMC.mdm"), sdms, data);
  const SimulatorRun run = runTask(fmr, dir.file("study_3DMC.mdm"), {"map_max_abs"});
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();
  EXPECT_THAT(taskLines(run), ElementsAre(kSizeLine, startLine(2), kSavingLine, startLine(2), kSavingLine,
                                          startLine(2), kSavingLine));
  EXPECT_THAT(savedPaths(run), ElementsAre(dir.file("s1_3DMC_MaxAbsolute.map"), dir.file("s2_3DMC_MaxAbsolute.map"),
                                           dir.file("s3_3DMC_MaxAbsolute.map")));
  // The third file holds the three runs' maps: maximum absolute 1, 2 and 3.
  const Nifti all = readNifti(dir.file("s3_3DMC_MaxAbsolute.map"));
  ASSERT_EQ(all.dim[4], 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(all.map(r)[2], static_cast<float>(r + 1));
}

TEST_F(DisplacementTask, HostMapsThatDoNotFitAreAssertionFailures) {
  const std::string fmr = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", std::vector<MotionRow>(2, MotionRow{}));
  struct Case {
    std::vector<std::string> args;
    std::string report;
  };
  const std::vector<Case> cases = {
      {{"--no-map-slices"}, "assertion failure (tessel:52): slices != nullptr"},
      {{"--map-dims", "4,3,3"}, "assertion failure (tessel:53): dim.z == header.DimZ"},
      {{"--map-dims", "3,4,2"}, "assertion failure (tessel:54): dim.y == header.DimY"},
      {{"--map-dims", "5,3,2"}, "assertion failure (tessel:55): dim.x == header.DimX"},
  };
  for (const Case& c : cases) {
    const SimulatorRun run = runTask(fmr, motion, {"map_mean_abs", "map_max_rel"}, kThreshold, c.args);
    EXPECT_THAT(run.messages(), ElementsAre("Error: " + c.report)) << run.describe();
    // The first export stops after the host made its map.
    EXPECT_EQ(run.calls("zrCreateMAPForCurrentFMR").size(), 1u);
    EXPECT_TRUE(run.calls("zrSetMAPParametersOfCurrentFMR").empty());
    EXPECT_TRUE(savedPaths(run).empty());
  }
}

TEST_F(DisplacementTask, RefusesRunsAndMotionFilesItCannotMeasure) {
  const std::string fmr = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", std::vector<MotionRow>(2, MotionRow{}));
  auto messageOf = [&](const std::string& runFile, const std::string& motionFile,
                       const std::vector<std::string>& extra = {}) {
    const SimulatorRun run = runTask(runFile, motionFile, {"map_max_abs"}, kThreshold, extra);
    EXPECT_TRUE(savedPaths(run).empty());
    const std::vector<std::string> messages = run.messages();
    return messages.size() == 1 ? messages[0] : run.describe();
  };
  EXPECT_EQ(messageOf(fmr, motion, {"--dims", "3,4,2"}),
            "Error: FMR file " + fmr + ": its voxel data have a grid of 4 x 3 x 2 voxels, but the host's "
            "record of the run has 3 x 4 x 2");

  const std::string empty = writeRun("run0", 0, false);
  EXPECT_EQ(messageOf(empty, motion),
            "Error: FMR file " + empty + ": NrOfVolumes is 0, the run has no first volume");

  writeFile(dir.file("run1.stc"), std::string(10, '\0'));
  EXPECT_EQ(messageOf(fmr, motion),
            "Error: STC file " + dir.file("run1.stc") + " holds 10 bytes, but its header " + fmr +
                " announces 96 bytes (2 slices x 2 volumes x 3 rows x 4 columns x 2 bytes)");
  writeRun("run1", 2, false);

  const std::string noPoints = writeMotion("none_3DMC.sdm", {});
  EXPECT_EQ(messageOf(fmr, noPoints),
            "Error: SDM file " + noPoints + ": holds no data points, nothing to measure");

  std::string five = hostMotionSdmText(std::vector<MotionRow>(2, MotionRow{}));
  five.replace(five.find("NrOfPredictors:         6"), 25, "NrOfPredictors:         5");
  writeFile(dir.file("five_3DMC.sdm"), five);
  const std::string fiveMessage = messageOf(fmr, dir.file("five_3DMC.sdm"));
  EXPECT_NE(fiveMessage.find("Error: SDM file " + dir.file("five_3DMC.sdm") + ": "), std::string::npos)
      << fiveMessage;
}

TEST_F(DisplacementTask, AMapFileTheHostDidNotWriteIsAnError) {
  const std::string fmr = writeRun("run1", 3, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", {MotionRow{0.1f, -0.2f, 0.3f, 0.4f, -0.5f, 0.6f},
                                                          MotionRow{0.2f, -0.3f, 0.5f, 0.7f, -0.9f, 1.1f},
                                                          MotionRow{0.4f, -0.5f, 0.6f, 0.9f, -1.2f, 1.5f}});
  const std::string maxAbsolute = dir.file("run1_3DMC_MaxAbsolute.map");
  const std::string meanAbsolute = dir.file("run1_3DMC_MeanAbsolute.map");

  // A folder in the place of the second map: the first stays saved, the
  // task stops there.
  std::filesystem::create_directory(meanAbsolute);
  SimulatorRun run = runTask(fmr, motion, {"map_max_abs", "map_mean_abs", "map_max_rel"});
  EXPECT_THAT(run.messages(), ElementsAre("Error: Failed writing file: " + meanAbsolute)) << run.describe();
  EXPECT_THAT(savedPaths(run), ElementsAre(maxAbsolute, meanAbsolute));
  EXPECT_EQ(readNifti(maxAbsolute).dim[4], 1);

  // Saved again, a file of the same size is written anew.
  run = runTask(fmr, motion, {"map_max_abs"});
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();

  // A read-only file is not the host's to replace: it keeps its bytes.
  writeFile(maxAbsolute, "an earlier map");
  namespace fs = std::filesystem;
  fs::permissions(maxAbsolute, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  run = runTask(fmr, motion, {"map_max_abs"});
  fs::permissions(maxAbsolute, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_THAT(run.messages(), ElementsAre("Error: Failed writing file: " + maxAbsolute)) << run.describe();
  EXPECT_EQ(readFile(maxAbsolute), "an earlier map");
}

TEST_F(DisplacementTask, ASingleVolumeIsMeasuredButNotDetrended) {
  const std::string fmr = writeRun("run1", 3, false);
  const std::string single = writeMotion("one_3DMC.sdm", {MotionRow{1.5f, 0, 0, 0, 0, 0}});
  const std::string refusal =
      "Error: SDM file " + single + ": holds 1 data point, a detrended series needs at least 2";
  SimulatorRun run = runTask(fmr, single, {"map_max_abs"}, kThreshold, {"--param", "plot_detrended=1"});
  EXPECT_THAT(run.messages(), ElementsAre(refusal)) << run.describe();
  EXPECT_THAT(taskLines(run), ElementsAre());
  EXPECT_TRUE(run.calls("zrPlotLine").empty());
  EXPECT_TRUE(run.calls("zrCreateMAPForCurrentFMR").empty());

  // Every run of a study list is checked before the first is plotted.
  const std::string two = writeMotion("two_3DMC.sdm", std::vector<MotionRow>(2, MotionRow{1, 2, 3, 4, 5, 6}));
  writeMdm(dir.file("study_3DMC.mdm"), {two, single}, {fmr, fmr});
  run = runTask(fmr, dir.file("study_3DMC.mdm"), {"map_max_abs"}, kThreshold,
                {"--param", "plot_regular=1", "--param", "plot_detrended=1"});
  EXPECT_THAT(run.messages(), ElementsAre(refusal)) << run.describe();
  EXPECT_TRUE(run.calls("zrPlotLine").empty());

  // The maps and the plain plot need no detrending.
  run = runTask(fmr, single, {"map_max_abs"}, kThreshold, {"--param", "plot_regular=1"});
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();
  EXPECT_THAT(taskLines(run), ElementsAre(kSizeLine, startLine(1), kSavingLine));
  EXPECT_EQ(run.calls("zrPlotLine").size(), 1u);
  EXPECT_EQ(exported(dir.file("one_3DMC"), kMaxAbs)[2], 1.5f);
}

TEST_F(DisplacementTask, DriftingMotionOnAnisotropicVoxelsMatchesAnIndependentComputation) {
  // Voxels of 3.5 x 3 x 4 mm (slices 3.5 mm thick with a gap of 0.5 mm), so
  // that each axis has its own voxel size; all six parameters drift over an
  // odd number of volumes.
  const VoxelSizes voxel{3.5f, 3.0f, 3.5f, 0.5f};
  const double size[3] = {3.5, 3.0, 4.0};
  const std::vector<MotionRow> rows = {
      {0.125f, -0.25f, 0.0625f, 0.5f, -0.75f, 0.25f},
      {0.375f, -0.5f, 0.25f, 1.25f, -1.5f, 0.75f},
      {0.5f, -0.875f, 0.375f, 2.0f, -2.25f, 1.5f},
      {0.875f, -1.0f, 0.625f, 2.5f, -3.0f, 2.0f},
      {1.0f, -1.375f, 0.75f, 3.25f, -3.5f, 2.75f},
  };
  const int volumes = static_cast<int>(rows.size());
  const std::string fmr = writeRun("run1", volumes, true, intensity, voxel);
  const std::string motion = writeMotion("run1_3DMC.sdm", rows);
  const SimulatorRun run = runTask(fmr, motion, kAllMaps);
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();
  std::vector<std::vector<float>> maps;
  for (int m = 0; m < 7; ++m) maps.push_back(exported(dir.file("run1_3DMC"), static_cast<Measure>(m)));

  for (int v = 0; v < kVoxels; ++v) {
    const auto i = static_cast<std::size_t>(v);
    const int x = v % kX, y = (v / kX) % kY, z = v / (kX * kY);
    double expected[7] = {0, 0, 0, 0, 0, 0, 0};
    if (masked(v)) {
      const Vec3d centre{(x + 0.5 - kX / 2.0) * size[0], (y + 0.5 - kY / 2.0) * size[1],
                         (z + 0.5 - kZ / 2.0) * size[2]};
      Vec3d previous = centre;
      for (const MotionRow& row : rows) {
        const Vec3d moved = moveByHand(centre, row.data());
        const double a = distance(moved, centre), r = distance(moved, previous);
        expected[kMaxAbs] = std::max(expected[kMaxAbs], a);
        expected[kMeanAbs] += a / volumes;
        expected[kMeanRel] += r / volumes;
        expected[kMaxRel] = std::max(expected[kMaxRel], r);
        expected[kMaxX] = std::max(expected[kMaxX], std::fabs(moved.x - centre.x));
        expected[kMaxY] = std::max(expected[kMaxY], std::fabs(moved.y - centre.y));
        expected[kMaxZ] = std::max(expected[kMaxZ], std::fabs(moved.z - centre.z));
        previous = moved;
      }
    }
    for (int m = 0; m < 7; ++m) {
      // The motion file holds six significant digits; the rows above are exact in it.
      EXPECT_NEAR(maps[static_cast<std::size_t>(m)][i], expected[m], 1e-5) << kSuffixes[m] << " voxel " << v;
    }
  }
}

}  // namespace
}  // namespace tsl::testing
