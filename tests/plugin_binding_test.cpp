// Binding the host function table inside a process whose executable is named
// Zorvane.exe and exports the host's names itself (a generated list: every
// name but TESSEL_WITHHELD_HOST_FUNCTION), and the typed wrappers on that
// table.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugin/host_functions.h"
#include "tests/support/test_helpers.h"

namespace tsl::testing {
// The exported address of every name in table order; null for the withheld one.
extern const host::RawFunction kExportedHostFunctions[host::kHostFunctionCount];

namespace {

using host::Fn;
using host::RawFunction;
using host::table;

constexpr std::size_t indexOf(Fn fn) { return static_cast<std::size_t>(fn); }
constexpr std::size_t kWithheld = indexOf(Fn::TESSEL_WITHHELD_HOST_FUNCTION);
constexpr std::size_t kVersion = indexOf(Fn::zrGetVersionOfZorvane);

void sentinel() {}
const RawFunction kSentinel = &sentinel;

template <typename F>
RawFunction raw(F f) {
  return reinterpret_cast<RawFunction>(f);
}

#if TESSEL_TEST_HOST_HAS_VERSION

TEST(HostFunctionTable, BindsEveryExportedNameLeavingOnlyTheMissingOneNull) {
  table().fill(kSentinel);
  ASSERT_TRUE(host::bindHostFunctionTable());
  for (std::size_t i = 0; i < host::kHostFunctionCount; ++i) {
    EXPECT_EQ(table()[i], kExportedHostFunctions[i]) << host::functionName(i);
    if (i != kWithheld) {
      EXPECT_NE(table()[i], nullptr) << host::functionName(i);
    }
  }
  EXPECT_EQ(table()[kWithheld], nullptr);

  // A second binding overwrites every entry with the current look-up result.
  table().fill(kSentinel);
  ASSERT_TRUE(host::bindHostFunctionTable());
  for (std::size_t i = 0; i < host::kHostFunctionCount; ++i) {
    EXPECT_EQ(table()[i], kExportedHostFunctions[i]) << host::functionName(i);
  }

  EXPECT_STREQ(host::functionName(0), "zrGetVersionOfZorvane");
  EXPECT_STREQ(host::functionName(189), "zrLaunchICADialog");
  EXPECT_THROW_MSG(host::require<RawFunction>(Fn::TESSEL_WITHHELD_HOST_FUNCTION),
                   std::runtime_error,
                   std::string("Host function not available: ") + host::functionName(kWithheld));
}

#else

TEST(HostFunctionTable, HostWithoutVersionQueryFailsTouchingOnlyTheVersionEntry) {
  table().fill(kSentinel);
  EXPECT_FALSE(host::bindHostFunctionTable());
  EXPECT_EQ(table()[kVersion], nullptr);
  for (std::size_t i = 0; i < host::kHostFunctionCount; ++i) {
    if (i != kVersion) {
      EXPECT_EQ(table()[i], kSentinel) << host::functionName(i);
    }
  }
}

#endif

// Every typed wrapper, called on a table without entries, names its own function.
TEST(HostFunctionTable, EveryWrapperReportsItsOwnMissingEntry) {
  const auto saved = table();
  table().fill(nullptr);
  char record[host::kMapHeaderRecordSize] = {};
  std::string path;
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"zrGetVersionOfZorvane",
       [] {
         int a, b, c;
         zr::getVersionOfZorvane(a, b, c);
       }},
      {"zrShowLogTab", [] { zr::showLogTab(); }},
      {"zrMessageBox", [] { zr::messageBox("x"); }},
      {"zrShowBusyCursor", [] { zr::showBusyCursor(); }},
      {"zrStopBusyCursor", [] { zr::stopBusyCursor(); }},
      {"zrGetIDOfCurrentDocument", [] { zr::getIDOfCurrentDocument(); }},
      {"zrGetDocumentType", [] { zr::getDocumentType(0); }},
      {"zrGetStringParameter", [] { zr::getStringParameter("task"); }},
      {"zrGetIntParameter", [] { zr::getIntParameter("plot_regular"); }},
      {"zrGetFloatParameter", [] { zr::getFloatParameter("fmr_threshold"); }},
      {"zrSetStringParameter", [] { zr::setStringParameter("sdmfile", "a"); }},
      {"zrGetOpenFileName", [&] { zr::getOpenFileName("c", "d", "f", path); }},
      {"zrGetHeaderOfCurrentFMR", [] { zr::getHeaderOfCurrentFMR(); }},
      {"zrCreateMAPForCurrentFMR", [] { zr::createMAPForCurrentFMR(); }},
      {"zrGetMAPOfCurrentFMR", [&] { zr::getMAPOfCurrentFMR(record); }},
      {"zrSetMAPParametersOfCurrentFMR", [&] { zr::setMAPParametersOfCurrentFMR(record); }},
      {"zrSaveMAPsOfCurrentFMR", [] { zr::saveMAPsOfCurrentFMR("m"); }},
      {"zrPlotLine", [] { zr::plotLine(0, nullptr, nullptr, "n"); }},
      {"zrAddLineToPlot", [] { zr::addLineToPlot(nullptr, 0, nullptr, nullptr, "n"); }},
      {"zrSetPlotColorTheme", [] { zr::setPlotColorTheme(nullptr, 1); }},
      {"zrSetPlotLineSizeAndColor", [] { zr::setPlotLineSizeAndColor(nullptr, 0, 1, 2, 3, 4, 5); }},
      {"zrShowPlotLegend", [] { zr::showPlotLegend(nullptr, 1, 1); }},
      {"zrSetPlotTitle", [] { zr::setPlotTitle(nullptr, "t"); }},
      {"zrResizePlot", [] { zr::resizePlot(nullptr, 1, 1); }},
      {"zrSetPlotYAxisRange", [] { zr::setPlotYAxisRange(nullptr, 0.0f, 1.0f); }},
      {"zrShowPlotAtPosition", [] { zr::showPlotAtPosition(nullptr, 1, 1); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    EXPECT_THROW_MSG(call(), std::runtime_error,
                     std::string("Host function not available: ") + name);
  }
  // The log stream takes the raw entry as it is, null included.
  EXPECT_EQ(zr::logTextFunction(), nullptr);
  table() = saved;
}

// Host stand-ins with the real signatures, installed into the table by hand.
std::string lastName;
void fillWithoutTerminator(const char* name, char* buffer) {
  lastName = name;
  std::memset(buffer, 'v', host::kHostTextBufferSize);
}
void shortValue(const char* name, char* buffer) {
  lastName = name;
  std::strcpy(buffer, "confound");
}
int cancelDialog(const char*, const char*, const char*, char* buffer) {
  std::strcpy(buffer, "ignored because cancelled");
  return 0;
}
std::string dialogArguments;
int chooseFile(const char* caption, const char* directory, const char* filter, char* buffer) {
  dialogArguments = std::string(caption) + "|" + directory + "|" + filter;
  std::strcpy(buffer, "C:/data/run1_3DMC.sdm");
  return 1;
}
void version(int* major, int* minor, int* subMinor) {
  *major = 2;
  *minor = 10;
  *subMinor = 3;
}

TEST(HostFunctionTable, WrappersPassArgumentsAndNeverReadPastTheHostsBuffer) {
  const auto saved = table();
  table()[indexOf(Fn::zrGetStringParameter)] = raw(&fillWithoutTerminator);
  EXPECT_EQ(zr::getStringParameter("task"), std::string(host::kHostTextBufferSize, 'v'));
  EXPECT_EQ(lastName, "task");
  table()[indexOf(Fn::zrGetStringParameter)] = raw(&shortValue);
  EXPECT_EQ(zr::getStringParameter("sdmfile"), "confound");
  EXPECT_EQ(lastName, "sdmfile");

  std::string chosen = "unchanged";
  table()[indexOf(Fn::zrGetOpenFileName)] = raw(&cancelDialog);
  EXPECT_FALSE(zr::getOpenFileName("Choose", "C:/data", "*.sdm", chosen));
  EXPECT_EQ(chosen, "unchanged");
  table()[indexOf(Fn::zrGetOpenFileName)] = raw(&chooseFile);
  EXPECT_TRUE(zr::getOpenFileName("Choose", "C:/data", "*.sdm", chosen));
  EXPECT_EQ(chosen, "C:/data/run1_3DMC.sdm");
  EXPECT_EQ(dialogArguments, "Choose|C:/data|*.sdm");

  table()[kVersion] = raw(&version);
  int major = 0, minor = 0, subMinor = 0;
  zr::getVersionOfZorvane(major, minor, subMinor);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 10);
  EXPECT_EQ(subMinor, 3);
  table() = saved;
}

}  // namespace
}  // namespace tsl::testing
