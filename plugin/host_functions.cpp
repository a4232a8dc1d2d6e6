#include "plugin/host_functions.h"

#include <cstring>
#include <stdexcept>

namespace tsl::host {

namespace {
constexpr const char* kNames[] = {
#define ZR_CALLED(name) #name,
#define ZR_UNUSED(name) #name,
#include "plugin/host_function_list.inc"
};
static_assert(std::size(kNames) == 190, "the host exports 190 functions");

constexpr const char* kHostModuleName = "Zorvane.exe";
}  // namespace

const char* functionName(std::size_t index) { return kNames[index]; }

std::array<RawFunction, kHostFunctionCount>& table() {
  static std::array<RawFunction, kHostFunctionCount> entries{};
  return entries;
}

bool bindHostFunctionTable() {
  void* module = findHostModule(kHostModuleName);
  if (module == nullptr) return false;
  auto& entries = table();
  constexpr auto kVersion = static_cast<std::size_t>(Fn::zrGetVersionOfZorvane);
  entries[kVersion] = lookUpFunction(module, kNames[kVersion]);
  if (entries[kVersion] == nullptr) return false;
  for (std::size_t i = 0; i < kHostFunctionCount; ++i) {
    if (i != kVersion) entries[i] = lookUpFunction(module, kNames[i]);
  }
  return true;
}

}  // namespace tsl::host

namespace tsl::zr {

using host::Fn;
using host::require;

void getVersionOfZorvane(int& major, int& minor, int& subMinor) {
  require<zrGetVersionOfZorvane_t>(Fn::zrGetVersionOfZorvane)(&major, &minor, &subMinor);
}
void showLogTab() { require<zrShowLogTab_t>(Fn::zrShowLogTab)(); }
void messageBox(const std::string& text) {
  require<zrMessageBox_t>(Fn::zrMessageBox)(text.c_str());
}
void showBusyCursor() { require<zrShowBusyCursor_t>(Fn::zrShowBusyCursor)(); }
void stopBusyCursor() { require<zrStopBusyCursor_t>(Fn::zrStopBusyCursor)(); }
int getIDOfCurrentDocument() {
  return require<zrGetIDOfCurrentDocument_t>(Fn::zrGetIDOfCurrentDocument)();
}
int getDocumentType(int documentId) {
  return require<zrGetDocumentType_t>(Fn::zrGetDocumentType)(documentId);
}

std::string getStringParameter(const char* name) {
  auto f = require<zrGetStringParameter_t>(Fn::zrGetStringParameter);
  char buffer[host::kHostTextBufferSize] = {};
  f(name, buffer);
  // Never trust the host to terminate the text inside the buffer.
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}
int getIntParameter(const char* name) {
  return require<zrGetIntParameter_t>(Fn::zrGetIntParameter)(name);
}
float getFloatParameter(const char* name) {
  return require<zrGetFloatParameter_t>(Fn::zrGetFloatParameter)(name);
}
void setStringParameter(const char* name, const std::string& value) {
  require<zrSetStringParameter_t>(Fn::zrSetStringParameter)(name, value.c_str());
}

bool getOpenFileName(const std::string& caption, const std::string& initialDirectory,
                     const std::string& filter, std::string& result) {
  auto f = require<zrGetOpenFileName_t>(Fn::zrGetOpenFileName);
  char buffer[host::kHostTextBufferSize] = {};
  if (f(caption.c_str(), initialDirectory.c_str(), filter.c_str(), buffer) == 0) return false;
  result.assign(buffer, strnlen(buffer, sizeof buffer));
  return true;
}

std::array<char, host::kFmrHeaderRecordSize> getHeaderOfCurrentFMR() {
  auto f = require<zrGetHeaderOfCurrentFMR_t>(Fn::zrGetHeaderOfCurrentFMR);
  std::array<char, host::kFmrHeaderRecordSize> record{};
  f(record.data());
  return record;
}
void createMAPForCurrentFMR() {
  require<zrCreateMAPForCurrentFMR_t>(Fn::zrCreateMAPForCurrentFMR)();
}
float** getMAPOfCurrentFMR(char* mapHeader) {
  return require<zrGetMAPOfCurrentFMR_t>(Fn::zrGetMAPOfCurrentFMR)(mapHeader);
}
void setMAPParametersOfCurrentFMR(const char* mapHeader) {
  require<zrSetMAPParametersOfCurrentFMR_t>(Fn::zrSetMAPParametersOfCurrentFMR)(mapHeader);
}
void saveMAPsOfCurrentFMR(const std::string& path) {
  require<zrSaveMAPsOfCurrentFMR_t>(Fn::zrSaveMAPsOfCurrentFMR)(path.c_str());
}

ZrPlot plotLine(int count, const float* x, const float* y, const std::string& name) {
  return require<zrPlotLine_t>(Fn::zrPlotLine)(count, x, y, name.c_str());
}
void addLineToPlot(ZrPlot plot, int count, const float* x, const float* y,
                   const std::string& name) {
  require<zrAddLineToPlot_t>(Fn::zrAddLineToPlot)(plot, count, x, y, name.c_str());
}
void setPlotColorTheme(ZrPlot plot, int theme) {
  require<zrSetPlotColorTheme_t>(Fn::zrSetPlotColorTheme)(plot, theme);
}
void setPlotLineSizeAndColor(ZrPlot plot, int curve, int lineSize, int red, int green, int blue,
                             int style) {
  require<zrSetPlotLineSizeAndColor_t>(Fn::zrSetPlotLineSizeAndColor)(plot, curve, lineSize, red,
                                                                      green, blue, style);
}
void showPlotLegend(ZrPlot plot, int setting1, int setting2) {
  require<zrShowPlotLegend_t>(Fn::zrShowPlotLegend)(plot, setting1, setting2);
}
void setPlotTitle(ZrPlot plot, const std::string& title) {
  require<zrSetPlotTitle_t>(Fn::zrSetPlotTitle)(plot, title.c_str());
}
void resizePlot(ZrPlot plot, int width, int height) {
  require<zrResizePlot_t>(Fn::zrResizePlot)(plot, width, height);
}
void setPlotYAxisRange(ZrPlot plot, float lower, float upper) {
  require<zrSetPlotYAxisRange_t>(Fn::zrSetPlotYAxisRange)(plot, lower, upper);
}
void showPlotAtPosition(ZrPlot plot, int x, int y) {
  require<zrShowPlotAtPosition_t>(Fn::zrShowPlotAtPosition)(plot, x, y);
}
zrLogText_t logTextFunction() {
  return reinterpret_cast<zrLogText_t>(host::table()[static_cast<std::size_t>(Fn::zrLogText)]);
}

}  // namespace tsl::zr
