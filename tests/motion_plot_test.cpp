// plotPredictors against a recording fake of the host's plot calls, installed
// directly in the host function table.
#include "plugin/motion_plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/host_functions.h"

namespace tsl::testing {
namespace {

std::vector<std::string> calls;
int plotsOpened = 0;
std::vector<std::vector<float>> xValues, yValues;
float lowerRange = 0.0f, upperRange = 0.0f;

ZrPlot handle() {
  return reinterpret_cast<ZrPlot>(static_cast<std::uintptr_t>(0x1000 + plotsOpened));
}
std::string of(ZrPlot plot) { return plot == handle() ? "h" : "?"; }

ZrPlot fakePlotLine(int count, const float* x, const float* y, const char* name) {
  ++plotsOpened;
  xValues.assign(1, std::vector<float>(x, x + count));
  yValues.assign(1, std::vector<float>(y, y + count));
  calls.push_back("plotLine " + std::to_string(count) + " " + name);
  return handle();
}
void fakeAddLineToPlot(ZrPlot plot, int count, const float* x, const float* y, const char* name) {
  xValues.emplace_back(x, x + count);
  yValues.emplace_back(y, y + count);
  calls.push_back("addLine " + of(plot) + " " + std::to_string(count) + " " + name);
}
void fakeSetPlotColorTheme(ZrPlot plot, int theme) {
  calls.push_back("theme " + of(plot) + " " + std::to_string(theme));
}
void fakeSetPlotLineSizeAndColor(ZrPlot plot, int curve, int size, int r, int g, int b, int s) {
  calls.push_back("line " + of(plot) + " " + std::to_string(curve) + " " + std::to_string(size) +
                  " " + std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) +
                  " " + std::to_string(s));
}
void fakeShowPlotLegend(ZrPlot plot, int a, int b) {
  calls.push_back("legend " + of(plot) + " " + std::to_string(a) + " " + std::to_string(b));
}
void fakeSetPlotTitle(ZrPlot plot, const char* title) {
  calls.push_back("title " + of(plot) + " " + title);
}
void fakeResizePlot(ZrPlot plot, int w, int h) {
  calls.push_back("resize " + of(plot) + " " + std::to_string(w) + " " + std::to_string(h));
}
void fakeSetPlotYAxisRange(ZrPlot plot, float lower, float upper) {
  lowerRange = lower;
  upperRange = upper;
  calls.push_back("range " + of(plot));
}
void fakeShowPlotAtPosition(ZrPlot plot, int x, int y) {
  calls.push_back("show " + of(plot) + " " + std::to_string(x) + " " + std::to_string(y));
}

template <typename F>
void install(host::Fn fn, F f) {
  host::table()[static_cast<std::size_t>(fn)] = reinterpret_cast<host::RawFunction>(f);
}

class MotionPlot : public ::testing::Test {
 protected:
  void SetUp() override {
    host::table().fill(nullptr);
    install(host::Fn::zrPlotLine, &fakePlotLine);
    install(host::Fn::zrAddLineToPlot, &fakeAddLineToPlot);
    install(host::Fn::zrSetPlotColorTheme, &fakeSetPlotColorTheme);
    install(host::Fn::zrSetPlotLineSizeAndColor, &fakeSetPlotLineSizeAndColor);
    install(host::Fn::zrShowPlotLegend, &fakeShowPlotLegend);
    install(host::Fn::zrSetPlotTitle, &fakeSetPlotTitle);
    install(host::Fn::zrResizePlot, &fakeResizePlot);
    install(host::Fn::zrSetPlotYAxisRange, &fakeSetPlotYAxisRange);
    install(host::Fn::zrShowPlotAtPosition, &fakeShowPlotAtPosition);
    calls.clear();
  }
  void TearDown() override { host::table().fill(nullptr); }
};

SdmDocument documentOf(const std::vector<std::vector<float>>& columns,
                       const std::string& path = "a/run1_3DMC.sdm") {
  SdmDocument doc;
  doc.path = path;
  doc.NrOfPredictors.value = static_cast<int>(columns.size());
  doc.NrOfDataPoints.value = columns.empty() ? 0 : static_cast<int>(columns[0].size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const int c = static_cast<int>(i);
    doc.columns.push_back(columns[i]);
    doc.names.push_back(std::string("P").append(std::to_string(i)));
    doc.red.push_back(10 + c);
    doc.green.push_back(20 + c);
    doc.blue.push_back(30 + c);
  }
  return doc;
}

TEST_F(MotionPlot, SixPredictorsInOrder) {
  const std::vector<float> small{0.7f, -0.4f, 0.1f};
  plotPredictors(documentOf({small, small, small, small, small, small}), 2, 1, 3);
  const std::vector<std::string> expected{
      "plotLine 3 P0",   "theme h 1",          "line h 0 2 10 20 30 0",
      "addLine h 3 P1",  "line h 1 2 11 21 31 0", "addLine h 3 P2", "line h 2 2 12 22 32 0",
      "addLine h 3 P3",  "line h 3 2 13 23 33 0", "addLine h 3 P4", "line h 4 2 14 24 34 0",
      "addLine h 3 P5",  "line h 5 2 15 25 35 0", "legend h 1 3",   "title h run1_3DMC.sdm",
      "resize h 800 350", "range h",          "show h 50 50"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(lowerRange, -1.0f);
  EXPECT_EQ(upperRange, 1.0f);
  ASSERT_EQ(xValues.size(), 6u);
  for (const auto& x : xValues) EXPECT_EQ(x, (std::vector<float>{1, 2, 3}));
  EXPECT_EQ(yValues[5], small);
}

TEST_F(MotionPlot, SymmetricRangeFitsEveryCurve) {
  auto rangeOf = [](const std::vector<std::vector<float>>& columns) {
    plotPredictors(documentOf(columns), 2, 1, 3);
    EXPECT_EQ(lowerRange, -upperRange);
    return upperRange;
  };
  EXPECT_EQ(rangeOf({{-2.2f, -2.2f}}), 3.0f);
  EXPECT_EQ(rangeOf({{0.5f, 2.5f}}), 3.0f);
  EXPECT_EQ(rangeOf({{3.0f, 0.0f}, {0.1f, 0.2f}}), 4.0f);
  EXPECT_EQ(rangeOf({{0.0f, 0.0f}}), 1.0f);
  EXPECT_EQ(rangeOf({{0.5f, -0.5f}, {-7.9f, 1.0f}, {2.0f, 2.0f}}), 8.0f);
  // Not-a-number never reaches the integer conversion and adds nothing.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(rangeOf({{nan, 1.5f}, {nan, nan}}), 2.0f);
  EXPECT_EQ(rangeOf({{nan}}), 0.0f);
  EXPECT_EQ(rangeOf({{3e9f, 0.0f}}), static_cast<float>(std::numeric_limits<int>::max()));
}

TEST_F(MotionPlot, TitleIsTheFileName) {
  auto titleOf = [](const std::string& path) {
    calls.clear();
    plotPredictors(documentOf({{1.0f}}, path), 2, 1, 3);
    for (const std::string& call : calls) {
      if (call.rfind("title h ", 0) == 0) return call.substr(8);
    }
    return std::string("no title");
  };
  EXPECT_EQ(titleOf("C:\\data\\sub1\\run1_3DMC.sdm"), "run1_3DMC.sdm");
  EXPECT_EQ(titleOf("C:\\data/sub1\\run2.sdm"), "run2.sdm");
  EXPECT_EQ(titleOf("C:/data\\sub1/run3.sdm"), "run3.sdm");
  EXPECT_EQ(titleOf("run4.sdm"), "run4.sdm");
  EXPECT_EQ(titleOf("/x/run5_3DMC.sdm + Displacement for Spike Detection"),
            "run5_3DMC.sdm + Displacement for Spike Detection");
}

TEST_F(MotionPlot, NothingToPlotMakesNoCall) {
  plotPredictors(documentOf({}), 2, 1, 3);
  SdmDocument noPoints = documentOf({{}, {}});
  plotPredictors(noPoints, 2, 1, 3);
  EXPECT_TRUE(calls.empty());
}

TEST_F(MotionPlot, InconsistentDocumentIsRefusedBeforeAnyCall) {
  SdmDocument doc = documentOf({{1, 2}, {3, 4}});
  doc.NrOfPredictors.value = 3;
  try {
    plotPredictors(doc, 2, 1, 3);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "SDM document a/run1_3DMC.sdm: NrOfPredictors is 3 but it holds 2 "
                           "predictors");
  }
  doc = documentOf({{1, 2}, {3, 4}});
  doc.columns[1].pop_back();
  try {
    plotPredictors(doc, 2, 1, 3);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "SDM document a/run1_3DMC.sdm: predictor 2 holds 1 values, expected 2");
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(MotionPlot, MissingHostFunctionIsNamed) {
  host::table()[static_cast<std::size_t>(host::Fn::zrResizePlot)] = nullptr;
  try {
    plotPredictors(documentOf({{1.0f}}), 2, 1, 3);
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Host function not available: zrResizePlot");
  }
}

}  // namespace
}  // namespace tsl::testing
