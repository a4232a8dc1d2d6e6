// The displacement task through the host simulator: what only a process
// shows. One ordinary run (the transcript of map and plot calls, the map files
// the host writes, read back from its NIfTI files, and the log), and the host
// boundary: a host record whose grid differs from the data, maps the host
// hands out that do not fit, and a map file the host did not write. The
// task's own behaviour is tested in-process (displacement_task_test).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "examples/motion_file_writer.h"
#include "examples/run_file_writer.h"
#include "tests/support/reference_displacement.h"
#include "tests/support/simulator.h"
#include "tests/support/temp_dir.h"

namespace tsl::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const char* const kSizeLine = "Tessel>  FMR size voxels: 4 x 3 x 2";
const char* const kSavingLine = "Tessel>  Saving Maps";
const std::vector<std::string> kAllMaps = {"map_max_abs",  "map_mean_abs",  "map_max_rel",
                                           "map_mean_rel", "map_max_abs_x", "map_max_abs_y",
                                           "map_max_abs_z"};
// The suffixes in the order of the exports.
const std::vector<std::string> kSuffixes = {
    "_MaxAbsolute.map",  "_MeanAbsolute.map", "_MeanRelative.map", "_MaxRelative.map",
    "_MaxAbsoluteX.map", "_MaxAbsoluteY.map", "_MaxAbsoluteZ.map"};

constexpr int kX = 4, kY = 3, kZ = 2;
constexpr float kVoxelMm = 2.0f;
constexpr float kThreshold = 50.0f;

// First-volume intensity of voxel (x, y, z): above the threshold on a
// checkerboard; later volumes differ.
float intensity(int x, int y, int z, int t) {
  if (t > 0) return static_cast<float>(200 - 10 * t);
  return (x + y + z) % 2 == 0 ? 100.0f : 10.0f;
}
std::vector<std::int32_t> checkerboardMask() {
  std::vector<std::int32_t> mask;
  for (int v = 0; v < kX * kY * kZ; ++v) {
    if ((v % kX + (v / kX) % kY + v / (kX * kY)) % 2 == 0) mask.push_back(v);
  }
  return mask;
}

struct Nifti {
  std::int16_t dim[8] = {};
  float pixdim[8] = {};
  float calMin = 0, calMax = 0;
  std::vector<float> data;  // every map, one after another

  std::vector<float> map(int index) const {
    const auto size = static_cast<std::size_t>(dim[1] * dim[2] * dim[3]);
    const auto first =
        data.begin() + static_cast<std::ptrdiff_t>(size * static_cast<std::size_t>(index));
    return {first, first + static_cast<std::ptrdiff_t>(size)};
  }
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
    std::vector<std::string> args = {"--fmr",   fmr,
                                     "--param", "sdmfile=" + motion,
                                     "--param", "fmr_threshold=" + std::to_string(threshold)};
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
      if (text.rfind("Tessel>  ", 0) == 0 && text.find('\n') == std::string::npos)
        lines.push_back(text);
    }
    return lines;
  }

  static std::string startLine(int volumes) {
    return "Tessel>  Start calculating voxel specific motion in " + std::to_string(volumes) +
           " volumes";
  }

  TempDir dir;
};

// Drifting motion in all six parameters on voxels of 3.5 x 3 x 4 mm (slices
// 3.5 mm thick with a gap of 0.5 mm), over an odd number of volumes, every
// map and both plots.
TEST_F(DisplacementTask, OrdinaryRun) {
  const std::vector<MotionRow> rows = {
      {0.125f, -0.25f, 0.0625f, 0.5f, -0.75f, 0.25f}, {0.375f, -0.5f, 0.25f, 1.25f, -1.5f, 0.75f},
      {0.5f, -0.875f, 0.375f, 2.0f, -2.25f, 1.5f},    {0.875f, -1.0f, 0.625f, 2.5f, -3.0f, 2.0f},
      {1.0f, -1.375f, 0.75f, 3.25f, -3.5f, 2.75f},
  };
  const std::string fmr = writeRun("run1", 3, true, intensity, {3.5f, 3.0f, 3.5f, 0.5f});
  const std::string motion = writeMotion("run1_3DMC.sdm", rows);
  const SimulatorRun run = runTask(fmr, motion, kAllMaps, kThreshold,
                                   {"--param", "plot_regular=1", "--param", "plot_detrended=1"});
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();
  EXPECT_THAT(taskLines(run), ElementsAre(kSizeLine, startLine(5), kSavingLine));

  std::vector<std::string> titles;
  for (const HostCall* call : run.calls("zrSetPlotTitle")) titles.push_back(call->text(1));
  EXPECT_THAT(titles,
              ElementsAre("run1_3DMC.sdm", "run1_3DMC.sdm detrended  + relative RMS displacement"));
  // The detrended plot has the six parameters and the displacement series.
  EXPECT_EQ(run.calls("zrAddLineToPlot").size(), 5u + 6u);

  const std::string base = dir.file("run1_3DMC");
  std::vector<std::string> expectedPaths;
  for (const std::string& suffix : kSuffixes) expectedPaths.push_back(base + suffix);
  EXPECT_THAT(savedPaths(run), ElementsAreArray(expectedPaths));
  EXPECT_EQ(run.calls("zrCreateMAPForCurrentFMR").size(), 7u);

  const float extent[3] = {kX * 3.5f, kY * 3.0f, kZ * 4.0f};
  const DisplacementMaps expected =
      referenceDisplacement(checkerboardMask(), Dim3{kX, kY, kZ}, extent, SdmDocument(motion));
  const std::vector<const Volume*> inExportOrder = {
      &expected.maxAbsolute,  &expected.meanAbsolute, &expected.meanRelative, &expected.maxRelative,
      &expected.maxAbsoluteX, &expected.maxAbsoluteY, &expected.maxAbsoluteZ};
  const auto records = run.calls("zrSetMAPParametersOfCurrentFMR");
  ASSERT_EQ(records.size(), 7u) << run.describe();
  // The last file holds all seven maps, in export order, with the run's voxel sizes.
  const Nifti all = readNifti(base + "_MaxAbsoluteZ.map");
  EXPECT_THAT(std::vector<int>(all.dim, all.dim + 5), ElementsAre(4, kX, kY, kZ, 7));
  EXPECT_THAT(std::vector<float>(all.pixdim + 1, all.pixdim + 4), ElementsAre(3.5f, 3.0f, 4.0f));
  EXPECT_EQ(all.calMin, 0.01f);
  const std::vector<float> last = all.map(6);
  EXPECT_EQ(all.calMax, *std::max_element(last.begin(), last.end()));
  for (std::size_t m = 0; m < inExportOrder.size(); ++m) {
    SCOPED_TRACE(kSuffixes[m]);
    const Volume& want = *inExportOrder[m];
    const std::vector<float> values(want.data(), want.data() + want.size());
    EXPECT_EQ(all.map(static_cast<int>(m)), values);
    const JsonValue& record = records[m]->arg(0);
    EXPECT_EQ(record.at("type").asInt(), 1);
    EXPECT_EQ(record.at("lower").asFloat(), 0.01f);
    EXPECT_EQ(record.at("upper").asFloat(), *std::max_element(values.begin(), values.end()));
    EXPECT_EQ(record.at("clusterSize").asInt(), 0);
  }
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
    const SimulatorRun run =
        runTask(fmr, motion, {"map_mean_abs", "map_max_rel"}, kThreshold, c.args);
    EXPECT_THAT(run.messages(), ElementsAre("Error: " + c.report)) << run.describe();
    // The first export stops after the host made its map.
    EXPECT_EQ(run.calls("zrCreateMAPForCurrentFMR").size(), 1u);
    EXPECT_TRUE(run.calls("zrSetMAPParametersOfCurrentFMR").empty());
    EXPECT_TRUE(savedPaths(run).empty());
  }
}

TEST_F(DisplacementTask, HostRecordWithAnotherGridThanTheDataIsRefused) {
  const std::string fmr = writeRun("run1", 2, false);
  const std::string motion = writeMotion("run1_3DMC.sdm", std::vector<MotionRow>(2, MotionRow{}));
  const SimulatorRun run = runTask(fmr, motion, {"map_max_abs"}, kThreshold, {"--dims", "3,4,2"});
  EXPECT_THAT(run.messages(),
              ElementsAre("Error: FMR file " + fmr +
                          ": its voxel data have a grid of 4 x 3 x 2 voxels, but the host's "
                          "record of the run has 3 x 4 x 2"))
      << run.describe();
  EXPECT_TRUE(run.calls("zrCreateMAPForCurrentFMR").empty());
}

TEST_F(DisplacementTask, AMapFileTheHostDidNotWriteIsAnError) {
  const std::string fmr = writeRun("run1", 3, false);
  const std::string motion =
      writeMotion("run1_3DMC.sdm", {MotionRow{0.1f, -0.2f, 0.3f, 0.4f, -0.5f, 0.6f},
                                    MotionRow{0.2f, -0.3f, 0.5f, 0.7f, -0.9f, 1.1f},
                                    MotionRow{0.4f, -0.5f, 0.6f, 0.9f, -1.2f, 1.5f}});
  const std::string maxAbsolute = dir.file("run1_3DMC_MaxAbsolute.map");
  const std::string meanAbsolute = dir.file("run1_3DMC_MeanAbsolute.map");

  // A folder in the place of the second map: the first stays saved, the
  // task stops there.
  std::filesystem::create_directory(meanAbsolute);
  SimulatorRun run = runTask(fmr, motion, {"map_max_abs", "map_mean_abs", "map_max_rel"});
  EXPECT_THAT(run.messages(), ElementsAre("Error: Failed writing file: " + meanAbsolute))
      << run.describe();
  EXPECT_THAT(savedPaths(run), ElementsAre(maxAbsolute, meanAbsolute));
  EXPECT_EQ(readNifti(maxAbsolute).dim[4], 1);

  // Saved again, a file of the same size is written anew.
  run = runTask(fmr, motion, {"map_max_abs"});
  EXPECT_THAT(run.messages(), ElementsAre()) << run.describe();

  // A read-only file is not the host's to replace: it keeps its bytes.
  writeFile(maxAbsolute, "an earlier map");
  namespace fs = std::filesystem;
  fs::permissions(maxAbsolute,
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  run = runTask(fmr, motion, {"map_max_abs"});
  fs::permissions(maxAbsolute, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_THAT(run.messages(), ElementsAre("Error: Failed writing file: " + maxAbsolute))
      << run.describe();
  EXPECT_EQ(readFile(maxAbsolute), "an earlier map");
}

}  // namespace
}  // namespace tsl::testing
