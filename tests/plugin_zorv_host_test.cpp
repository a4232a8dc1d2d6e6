// ZorvHost inside a stand-in host: this test executable is named Zorvane.exe
// and exports recording fakes of the host functions ZorvHost calls, so the
// host function table is bound exactly as initPlugin binds it. Built twice:
// the second stand-in lacks zrResizePlot
// (TESSEL_TEST_HOST_LACKS_RESIZE_PLOT) and runs only the missing-function case.
#include "plugin/zorv_host.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "designmatrix/io_error.h"
#include "plugin/exports.h"
#include "plugin/host_api.h"
#include "plugin/host_functions.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

namespace {

// What the stand-in host holds, and every call made to it in order.
struct StandIn {
  std::vector<std::string> calls;
  std::map<std::string, std::string> parameters;
  std::optional<std::string> dialogAnswer;  // none: the dialog is cancelled
  std::array<char, tsl::host::kFmrHeaderRecordSize> runRecord{};

  std::int32_t mapGrid[3] = {0, 0, 0};
  bool handsOutSlices = true;
  bool writesMaps = true;
  std::vector<std::vector<float>> slices;  // of the map created last
  std::vector<float*> slicePointers;
  std::vector<char> mapParameters;  // the record zrSetMAPParametersOfCurrentFMR received

  std::vector<std::vector<float>> x, y;  // of every curve of the plot opened last
  float lowerRange = 0.0f, upperRange = 0.0f;
};

StandIn& standIn() {
  static StandIn state;
  return state;
}

// What the stand-in writes for every save of the run's maps.
constexpr const char* kSavedMaps = "the run's maps";

int plotWindow = 0;
const ZrPlot kPlot = &plotWindow;
std::string handleText(ZrPlot plot) { return plot == kPlot ? "h" : "?"; }

void record(std::string call) { standIn().calls.push_back(std::move(call)); }

}  // namespace

// Declared through the shared header's types, so that a fake with another
// signature than the host's does not compile.
extern "C" {
#define ZR_CALLED(name) TESSEL_EXPORT std::remove_pointer_t<name##_t> name;
#define ZR_UNUSED(name)
#include "plugin/host_function_list.inc"

// Binding needs the version query; ZorvHost never asks it.
TESSEL_EXPORT void zrGetVersionOfZorvane(int* major, int* minor, int* subMinor) {
  *major = 3;
  *minor = 0;
  *subMinor = 0;
}

TESSEL_EXPORT void zrMessageBox(const char* text) { record(std::string("message ") + text); }

TESSEL_EXPORT void zrGetStringParameter(const char* name, char* buffer) {
  record(std::string("text ") + name);
  const std::string& value = standIn().parameters[name];
  std::memcpy(buffer, value.c_str(), value.size() + 1);
}
TESSEL_EXPORT int zrGetIntParameter(const char* name) {
  record(std::string("int ") + name);
  return std::stoi(standIn().parameters[name]);
}
TESSEL_EXPORT float zrGetFloatParameter(const char* name) {
  record(std::string("float ") + name);
  return std::stof(standIn().parameters[name]);
}
TESSEL_EXPORT void zrSetStringParameter(const char* name, const char* value) {
  record(std::string("set ") + name + " " + value);
  standIn().parameters[name] = value;
}

TESSEL_EXPORT int zrGetOpenFileName(const char* caption, const char* initialDirectory,
                                    const char* filter, char* buffer) {
  record(std::string("dialog ") + caption + "|" + initialDirectory + "|" + filter);
  std::strcpy(buffer, "not an answer");
  if (!standIn().dialogAnswer) return 0;
  std::strcpy(buffer, standIn().dialogAnswer->c_str());
  return 1;
}

TESSEL_EXPORT void zrGetHeaderOfCurrentFMR(char* header) {
  record("run record");
  std::memcpy(header, standIn().runRecord.data(), standIn().runRecord.size());
}

TESSEL_EXPORT void zrCreateMAPForCurrentFMR() {
  record("create map");
  StandIn& s = standIn();
  s.slices.assign(static_cast<std::size_t>(s.mapGrid[2]),
                  std::vector<float>(static_cast<std::size_t>(s.mapGrid[0] * s.mapGrid[1]), -1.0f));
}
TESSEL_EXPORT float** zrGetMAPOfCurrentFMR(char* mapHeader) {
  record("get map");
  StandIn& s = standIn();
  // Fields the plug-in does not set must keep what the host wrote.
  std::memset(mapHeader, 0x55, tsl::host::kMapHeaderRecordSize);
  std::memcpy(mapHeader, s.mapGrid, sizeof s.mapGrid);
  s.slicePointers.clear();
  for (std::vector<float>& slice : s.slices) s.slicePointers.push_back(slice.data());
  return s.handsOutSlices ? s.slicePointers.data() : nullptr;
}
TESSEL_EXPORT void zrSetMAPParametersOfCurrentFMR(const char* mapHeader) {
  record("set map");
  standIn().mapParameters.assign(mapHeader, mapHeader + tsl::host::kMapHeaderRecordSize);
}
// Writes in place, as a host that opens the existing file does.
TESSEL_EXPORT void zrSaveMAPsOfCurrentFMR(const char* path) {
  record(std::string("save ") + path);
  if (standIn().writesMaps) tsl::testing::writeFile(path, kSavedMaps);
}

TESSEL_EXPORT ZrPlot zrPlotLine(int count, const float* x, const float* y, const char* name) {
  standIn().x.assign(1, std::vector<float>(x, x + count));
  standIn().y.assign(1, std::vector<float>(y, y + count));
  record("plotLine " + std::to_string(count) + " " + name);
  return kPlot;
}
TESSEL_EXPORT void zrAddLineToPlot(ZrPlot plot, int count, const float* x, const float* y,
                                   const char* name) {
  standIn().x.emplace_back(x, x + count);
  standIn().y.emplace_back(y, y + count);
  record("addLine " + handleText(plot) + " " + std::to_string(count) + " " + name);
}
TESSEL_EXPORT void zrSetPlotColorTheme(ZrPlot plot, int theme) {
  record("theme " + handleText(plot) + " " + std::to_string(theme));
}
TESSEL_EXPORT void zrSetPlotLineSizeAndColor(ZrPlot plot, int curve, int lineSize, int red,
                                             int green, int blue, int style) {
  record("line " + handleText(plot) + " " + std::to_string(curve) + " " + std::to_string(lineSize) +
         " " + std::to_string(red) + " " + std::to_string(green) + " " + std::to_string(blue) +
         " " + std::to_string(style));
}
TESSEL_EXPORT void zrShowPlotLegend(ZrPlot plot, int setting1, int setting2) {
  record("legend " + handleText(plot) + " " + std::to_string(setting1) + " " +
         std::to_string(setting2));
}
TESSEL_EXPORT void zrSetPlotTitle(ZrPlot plot, const char* title) {
  record("title " + handleText(plot) + " " + title);
}
#if !TESSEL_TEST_HOST_LACKS_RESIZE_PLOT
TESSEL_EXPORT void zrResizePlot(ZrPlot plot, int width, int height) {
  record("resize " + handleText(plot) + " " + std::to_string(width) + " " + std::to_string(height));
}
#endif
TESSEL_EXPORT void zrSetPlotYAxisRange(ZrPlot plot, float lower, float upper) {
  standIn().lowerRange = lower;
  standIn().upperRange = upper;
  record("range " + handleText(plot));
}
TESSEL_EXPORT void zrShowPlotAtPosition(ZrPlot plot, int x, int y) {
  record("show " + handleText(plot) + " " + std::to_string(x) + " " + std::to_string(y));
}
}  // extern "C"

namespace tsl::testing {
namespace {

class ZorvHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standIn() = StandIn{};
    ASSERT_TRUE(host::bindHostFunctionTable());
  }

  std::ostringstream log_;
  ZorvHost host_{log_};
};

#if !TESSEL_TEST_HOST_LACKS_RESIZE_PLOT

// The motion file the plot tests draw; its name is the plot's title.
const char* const kRunSdm = "a/run1_3DMC.sdm";

TEST_F(ZorvHostTest, DialogParametersFileChoiceMessagesAndLogLines) {
  standIn().parameters = {{"task", "confound"}, {"plot_regular", "1"}, {"fmr_threshold", "120.75"}};
  EXPECT_EQ(host_.textParameter("task"), "confound");
  EXPECT_EQ(host_.intParameter("plot_regular"), 1);
  EXPECT_EQ(host_.floatParameter("fmr_threshold"), 120.75f);
  host_.setMotionFile("C:/data/run1_3DMC.sdm");
  EXPECT_EQ(standIn().parameters["sdmfile"], "C:/data/run1_3DMC.sdm");

  standIn().dialogAnswer = "D:/new/study_3DMC.mdm";
  EXPECT_EQ(host_.chooseFile("Choose the motion file", "C:/data", "*.sdm"),
            "D:/new/study_3DMC.mdm");
  standIn().dialogAnswer.reset();
  EXPECT_EQ(host_.chooseFile("Find run1.fmr", "D:/new", "*.fmr"), std::nullopt);
  host_.showMessage("Error: no run");
  EXPECT_EQ(standIn().calls,
            (std::vector<std::string>{
                "text task", "int plot_regular", "float fmr_threshold",
                "set sdmfile C:/data/run1_3DMC.sdm", "dialog Choose the motion file|C:/data|*.sdm",
                "dialog Find run1.fmr|D:/new|*.fmr", "message Error: no run"}));

  host_.logLine("Saving Maps");
  host_.logLine("");
  EXPECT_EQ(log_.str(), "Tessel>  Saving MapsTessel>  ");
}

TEST_F(ZorvHostTest, CurrentRunIsDecodedFromTheHostsRecord) {
  std::array<char, host::kFmrHeaderRecordSize>& r = standIn().runRecord;
  r.fill('\x55');
  const std::string path = "C:/data/sub-01/run1.fmr";
  std::memcpy(r.data() + host::kFmrRecordPathOffset, path.c_str(), path.size() + 1);
  const std::int32_t volumes = 7;
  const std::int32_t dims[3] = {5, 3, 2};
  const float voxelSize[3] = {2.5f, 3.25f, 4.4f};
  std::memcpy(r.data() + host::kFmrRecordVolumesOffset, &volumes, sizeof volumes);
  std::memcpy(r.data() + host::kFmrRecordDimXOffset, dims, sizeof dims);
  std::memcpy(r.data() + host::kFmrRecordVoxelSizeXOffset, voxelSize, sizeof voxelSize);

  CurrentRun run = host_.currentRun();
  EXPECT_EQ(run.path, path);
  EXPECT_EQ(run.volumes, 7);
  EXPECT_EQ(run.dims, (Dim3{5, 3, 2}));
  EXPECT_EQ(run.voxelSize, (std::array<float, 3>{2.5f, 3.25f, 4.4f}));

  // A path that fills its field without a terminator ends at the field's end.
  std::memset(r.data(), 'p', host::kFmrRecordPathCapacity);
  run = host_.currentRun();
  EXPECT_EQ(run.path, std::string(host::kFmrRecordPathCapacity, 'p'));
  EXPECT_EQ(run.volumes, 7);
}

TEST_F(ZorvHostTest, SixPredictorsInOrder) {
  // Five volumes of drift in all six parameters; the widest reaches -2.4.
  const std::vector<std::vector<float>> columns{
      {0.1f, 0.2f, 0.3f, 0.45f, 0.6f},     {-0.1f, -0.25f, -0.3f, -0.5f, -0.7f},
      {0.05f, 0.3f, 0.6f, 0.8f, 1.2f},     {0.2f, -0.4f, 0.7f, -1.1f, 1.6f},
      {-0.3f, -0.9f, -1.5f, -2.2f, -2.4f}, {0.0f, 0.5f, 1.0f, 1.5f, 2.0f}};
  host_.plot(test::sdmOf(columns, kRunSdm), "");
  const std::vector<std::string> expected{"plotLine 5 P0",
                                          "theme h 1",
                                          "line h 0 2 0 0 0 0",
                                          "addLine h 5 P1",
                                          "line h 1 2 1 2 3 0",
                                          "addLine h 5 P2",
                                          "line h 2 2 2 4 6 0",
                                          "addLine h 5 P3",
                                          "line h 3 2 3 6 9 0",
                                          "addLine h 5 P4",
                                          "line h 4 2 4 8 12 0",
                                          "addLine h 5 P5",
                                          "line h 5 2 5 10 15 0",
                                          "legend h 1 3",
                                          "title h run1_3DMC.sdm",
                                          "resize h 800 350",
                                          "range h",
                                          "show h 50 50"};
  EXPECT_EQ(standIn().calls, expected);
  EXPECT_EQ(standIn().lowerRange, -3.0f);
  EXPECT_EQ(standIn().upperRange, 3.0f);
  ASSERT_EQ(standIn().x.size(), 6u);
  for (const auto& x : standIn().x) EXPECT_EQ(x, (std::vector<float>{1, 2, 3, 4, 5}));
  EXPECT_EQ(standIn().y, columns);
}

TEST_F(ZorvHostTest, SymmetricRangeFitsEveryCurve) {
  auto rangeOf = [this](const std::vector<std::vector<float>>& columns) {
    host_.plot(test::sdmOf(columns, kRunSdm), "");
    EXPECT_EQ(standIn().lowerRange, -standIn().upperRange);
    return standIn().upperRange;
  };
  EXPECT_EQ(rangeOf({{-2.2f, -2.2f}}), 3.0f);
  EXPECT_EQ(rangeOf({{0.5f, 2.5f}}), 3.0f);
  EXPECT_EQ(rangeOf({{3.0f, 0.0f}, {0.1f, 0.2f}}), 4.0f);
  EXPECT_EQ(rangeOf({{0.7f, -0.4f, 0.0f}}), 1.0f);
  EXPECT_EQ(rangeOf({{0.5f, -0.5f}, {-7.9f, 1.0f}, {2.0f, 2.0f}}), 8.0f);
  // Not-a-number never reaches the integer conversion and adds nothing.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(rangeOf({{nan, 1.5f}, {nan, nan}}), 2.0f);
  EXPECT_EQ(rangeOf({{nan}}), 0.0f);
  EXPECT_EQ(rangeOf({{3e9f, 0.0f}}), static_cast<float>(std::numeric_limits<int>::max()));
}

TEST_F(ZorvHostTest, TitleIsTheFileNameAndTheSuffix) {
  auto titleOf = [this](const std::string& path, const std::string& suffix = "") {
    standIn().calls.clear();
    host_.plot(test::sdmOf({{1.0f}}, path), suffix);
    for (const std::string& call : standIn().calls) {
      if (call.rfind("title h ", 0) == 0) return call.substr(8);
    }
    return std::string("no title");
  };
  EXPECT_EQ(titleOf("C:\\data\\sub1\\run1_3DMC.sdm"), "run1_3DMC.sdm");
  EXPECT_EQ(titleOf("C:\\data/sub1\\run2.sdm"), "run2.sdm");
  EXPECT_EQ(titleOf("C:/data\\sub1/run3.sdm"), "run3.sdm");
  EXPECT_EQ(titleOf("run4.sdm"), "run4.sdm");
  EXPECT_EQ(titleOf("/x/run5_3DMC.sdm", " + Displacement for Spike Detection"),
            "run5_3DMC.sdm + Displacement for Spike Detection");
}

TEST_F(ZorvHostTest, NothingToPlotMakesNoCall) {
  host_.plot(test::sdmOf({}), "");
  host_.plot(test::sdmOf({{}, {}}), " detrended");
  EXPECT_TRUE(standIn().calls.empty());
}

TEST_F(ZorvHostTest, InconsistentDocumentIsRefusedBeforeAnyCall) {
  SdmDocument doc = test::sdmOf({{1, 2}, {3, 4}}, kRunSdm);
  doc.NrOfPredictors.value = 3;
  EXPECT_THROW_MSG(host_.plot(doc, ""), std::runtime_error,
                   "SDM document a/run1_3DMC.sdm: NrOfPredictors is 3 but it holds 2 predictors");
  doc = test::sdmOf({{1, 2}, {3, 4}}, kRunSdm);
  doc.columns[1].pop_back();
  EXPECT_THROW_MSG(host_.plot(doc, ""), std::runtime_error,
                   "SDM document a/run1_3DMC.sdm: predictor 2 holds 1 values, expected 2");
  EXPECT_TRUE(standIn().calls.empty());
}

template <typename T>
T mapParameterAt(std::size_t offset) {
  T value;
  std::memcpy(&value, standIn().mapParameters.data() + offset, sizeof value);
  return value;
}

TEST_F(ZorvHostTest, MapSlicesAndParameters) {
  standIn().mapGrid[0] = 2;
  standIn().mapGrid[1] = 3;
  standIn().mapGrid[2] = 4;
  Volume volume(Dim3{2, 3, 4});
  for (std::size_t i = 0; i < volume.size(); ++i) volume[i] = 0.5f * static_cast<float>(i);
  host_.addMap(volume, 0.01f, 11.5f);
  EXPECT_EQ(standIn().calls, (std::vector<std::string>{"create map", "get map", "set map"}));
  // Rows of two in each slice of three rows: x runs fastest, then y.
  EXPECT_EQ(standIn().slices,
            (std::vector<std::vector<float>>{{0.0f, 0.5f, 1.0f, 1.5f, 2.0f, 2.5f},
                                             {3.0f, 3.5f, 4.0f, 4.5f, 5.0f, 5.5f},
                                             {6.0f, 6.5f, 7.0f, 7.5f, 8.0f, 8.5f},
                                             {9.0f, 9.5f, 10.0f, 10.5f, 11.0f, 11.5f}}));
  EXPECT_EQ(mapParameterAt<std::int32_t>(0), 2);  // the host's grid stays
  EXPECT_EQ(mapParameterAt<std::int32_t>(4), 3);
  EXPECT_EQ(mapParameterAt<std::int32_t>(8), 4);
  EXPECT_EQ(mapParameterAt<std::int32_t>(12), 1);
  EXPECT_EQ(mapParameterAt<float>(16), 0.01f);
  EXPECT_EQ(mapParameterAt<float>(20), 11.5f);
  EXPECT_EQ(mapParameterAt<std::uint32_t>(24), 0x55555555u);  // the host's own field stays
  EXPECT_EQ(mapParameterAt<std::uint32_t>(28), 0u);
  for (std::size_t offset = 32; offset < host::kMapHeaderRecordSize; offset += 4) {
    EXPECT_EQ(mapParameterAt<std::uint32_t>(offset), 0x55555555u) << offset;
  }

  // An all-zero map with the upper value 0 is still filled and set.
  host_.addMap(Volume(Dim3{2, 3, 4}, 0.0f), 0.01f, 0.0f);
  EXPECT_EQ(standIn().slices, std::vector<std::vector<float>>(4, std::vector<float>(6, 0.0f)));
  EXPECT_EQ(mapParameterAt<float>(20), 0.0f);
}

TEST_F(ZorvHostTest, MapMismatchesAreReportedInOrderAndNothingIsCopiedOrSet) {
  standIn().mapGrid[0] = 3;
  standIn().mapGrid[1] = 2;
  standIn().mapGrid[2] = 1;
  auto addMapOf = [this](Dim3 dims) {
    standIn().calls.clear();
    host_.addMap(Volume(dims, 7.0f), 0.01f, 7.0f);
  };
  EXPECT_THROW_MSG(addMapOf(Dim3{2, 3, 1}), std::logic_error,
                   "assertion failure (tessel:54): dim.y == header.DimY");
  EXPECT_EQ(standIn().calls, (std::vector<std::string>{"create map", "get map"}));
  EXPECT_EQ(standIn().slices[0], std::vector<float>(6, -1.0f));
  EXPECT_THROW_MSG(addMapOf(Dim3{3, 2, 2}), std::logic_error,
                   "assertion failure (tessel:53): dim.z == header.DimZ");
  EXPECT_THROW_MSG(addMapOf(Dim3{2, 2, 2}), std::logic_error,
                   "assertion failure (tessel:53): dim.z == header.DimZ");
  EXPECT_THROW_MSG(addMapOf(Dim3{4, 2, 1}), std::logic_error,
                   "assertion failure (tessel:55): dim.x == header.DimX");
  standIn().handsOutSlices = false;
  EXPECT_THROW_MSG(addMapOf(Dim3{3, 2, 1}), std::logic_error,
                   "assertion failure (tessel:52): slices != nullptr");
  EXPECT_EQ(standIn().calls, (std::vector<std::string>{"create map", "get map"}));
  EXPECT_TRUE(standIn().mapParameters.empty());
}

TEST_F(ZorvHostTest, ASaveTheHostDidNotMakeIsAnError) {
  TempDir dir;
  const std::string path = dir.file("run1_3DMC_MaxAbsolute.map");
  standIn().writesMaps = false;
  const std::string failure = "Failed writing file: " + path;
  EXPECT_THROW_MSG(host_.saveMaps(path), IOError, failure);
  writeFile(path, "an earlier map");
  EXPECT_THROW_MSG(host_.saveMaps(path), IOError, failure);
  EXPECT_EQ(standIn().calls, (std::vector<std::string>{"save " + path, "save " + path}));

  // Rewritten in place with as many bytes as before, by a later task.
  standIn().writesMaps = true;
  writeFile(path, std::string(std::strlen(kSavedMaps), 'x'));
  namespace fs = std::filesystem;
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
  EXPECT_NO_THROW(host_.saveMaps(path));
  EXPECT_EQ(readFile(path), kSavedMaps);
}

#else

TEST_F(ZorvHostTest, MissingHostFunctionIsNamed) {
  EXPECT_THROW_MSG(host_.plot(test::sdmOf({{1.0f}}), ""), std::runtime_error,
                   "Host function not available: zrResizePlot");
}

#endif

}  // namespace
}  // namespace tsl::testing
