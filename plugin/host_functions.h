// The host function table: the host's 190 exported functions, looked up by name
// in the loaded module "Zorvane.exe" at every initPlugin, and typed wrappers
// for the 27 the plug-in calls.
#ifndef TESSEL_PLUGIN_HOST_FUNCTIONS_H
#define TESSEL_PLUGIN_HOST_FUNCTIONS_H

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "plugin/host_api.h"

namespace tsl::host {

// Position of every host function in the table.
enum class Fn : std::size_t {
#define ZR_CALLED(name) name,
#define ZR_UNUSED(name) name,
#include "plugin/host_function_list.inc"
  Count
};

inline constexpr std::size_t kHostFunctionCount = static_cast<std::size_t>(Fn::Count);

// Exported name of table entry i.
const char* functionName(std::size_t index);

// The process-wide table: one untyped pointer per entry, null until bound.
using RawFunction = void (*)();
std::array<RawFunction, kHostFunctionCount>& table();

// Binds the table. Returns false, leaving the table as it was, when no loaded
// module is named "Zorvane.exe"; returns false when it lacks
// zrGetVersionOfZorvane (only the first entry was overwritten). Otherwise looks
// every name up, stores each result (null or not) and returns true.
bool bindHostFunctionTable();

// Platform lookup, kept apart so that the table code is the same everywhere.
// findHostModule returns null when no module named moduleName is loaded.
void* findHostModule(const char* moduleName);
RawFunction lookUpFunction(void* module, const char* name);

// Returns the entry, or throws std::runtime_error
// "Host function not available: <name>" when it is null.
template <typename F>
F require(Fn fn) {
  RawFunction f = table()[static_cast<std::size_t>(fn)];
  if (f == nullptr) {
    throw std::runtime_error(std::string("Host function not available: ") +
                             functionName(static_cast<std::size_t>(fn)));
  }
  return reinterpret_cast<F>(f);
}

}  // namespace tsl::host

// Typed wrappers. Each checks its entry at the call and throws as require does.
namespace tsl::zr {
void getVersionOfZorvane(int& major, int& minor, int& subMinor);
void showLogTab();
void messageBox(const std::string& text);
void showBusyCursor();
void stopBusyCursor();
int getIDOfCurrentDocument();
int getDocumentType(int documentId);
std::string getStringParameter(const char* name);
int getIntParameter(const char* name);
float getFloatParameter(const char* name);
void setStringParameter(const char* name, const std::string& value);
// Returns false when the user cancelled; otherwise the chosen path in result.
bool getOpenFileName(const std::string& caption, const std::string& initialDirectory,
                     const std::string& filter, std::string& result);
// The current run's header record (kFmrHeaderRecordSize bytes).
std::array<char, host::kFmrHeaderRecordSize> getHeaderOfCurrentFMR();
void createMAPForCurrentFMR();
float** getMAPOfCurrentFMR(char* mapHeader);
void setMAPParametersOfCurrentFMR(const char* mapHeader);
void saveMAPsOfCurrentFMR(const std::string& path);
ZrPlot plotLine(int count, const float* x, const float* y, const std::string& name);
void addLineToPlot(ZrPlot plot, int count, const float* x, const float* y, const std::string& name);
void setPlotColorTheme(ZrPlot plot, int theme);
void setPlotLineSizeAndColor(ZrPlot plot, int curve, int lineSize, int red, int green, int blue,
                             int style);
void showPlotLegend(ZrPlot plot, int setting1, int setting2);
void setPlotTitle(ZrPlot plot, const std::string& title);
void resizePlot(ZrPlot plot, int width, int height);
void setPlotYAxisRange(ZrPlot plot, float lower, float upper);
void showPlotAtPosition(ZrPlot plot, int x, int y);
// The raw log function (may be null): the log stream takes it as it is.
zrLogText_t logTextFunction();
}  // namespace tsl::zr

#endif
