// A plug-in for the simulator's own tests: it calls host functions directly,
// one scenario per task, and logs what it got back, so that the tests see the
// host side of each call as a plug-in does (buffers, records, slice arrays).
#include <cstdio>
#include <cstring>
#include <string>

#include "plugin/exports.h"
#include "plugin/host_api.h"
#include "plugin/zorv_plugin_interface.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

template <typename F>
F host(const char* name) {
#ifdef _WIN32
  HMODULE module = GetModuleHandleA("Zorvane.exe");
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
#else
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
#endif
}

#define HOST(name) host<name##_t>(#name)

void log(const std::string& text) { HOST(zrLogText)(text.c_str()); }

std::string parameter(const char* name) {
  char buffer[tsl::host::kHostTextBufferSize];
  HOST(zrGetStringParameter)(name, buffer);
  return buffer;
}

template <typename T>
T at(const char* bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

template <typename T>
void put(char* bytes, std::size_t offset, T value) {
  std::memcpy(bytes + offset, &value, sizeof value);
}

void strings() {
  // A guard byte pattern past the bytes the host may write.
  char buffer[tsl::host::kHostTextBufferSize + 16];
  std::memset(buffer, 'G', sizeof buffer);
  HOST(zrGetStringParameter)("long", buffer);
  bool guardKept = true;
  for (std::size_t i = tsl::host::kHostTextBufferSize; i < sizeof buffer; ++i) {
    guardKept = guardKept && buffer[i] == 'G';
  }
  log("long " + std::to_string(std::strlen(buffer)) + (guardKept ? " guard kept" : " guard hit"));
  HOST(zrSetStringParameter)("sdmfile", "C:\\runs\\run 1.sdm");
  log("sdmfile " + parameter("sdmfile"));
  log("int " + std::to_string(HOST(zrGetIntParameter)("n")));
  char number[32];
  std::snprintf(number, sizeof number, "%.9g", static_cast<double>(HOST(zrGetFloatParameter)("f")));
  log(std::string("float ") + number);
}

void dialogs() {
  for (int i = 0; i < 3; ++i) {
    char buffer[tsl::host::kHostTextBufferSize];
    std::strcpy(buffer, "untouched");
    const int chosen = HOST(zrGetOpenFileName)("Choose", "C:\\", "*.sdm", buffer);
    log("dialog " + std::to_string(chosen) + " " + buffer);
  }
}

void header() {
  char record[tsl::host::kFmrHeaderRecordSize];
  std::memset(record, 0x7f, sizeof record);
  HOST(zrGetHeaderOfCurrentFMR)(record);
  char text[2048];
  std::snprintf(
      text, sizeof text, "document %d type %d path %.303s volumes %d dims %d %d %d voxel %g %g %g",
      HOST(zrGetIDOfCurrentDocument)(), HOST(zrGetDocumentType)(0), record, at<int>(record, 304),
      at<int>(record, 308), at<int>(record, 312), at<int>(record, 316),
      static_cast<double>(at<float>(record, 320)), static_cast<double>(at<float>(record, 324)),
      static_cast<double>(at<float>(record, 328)));
  log(text);
}

// A map whose voxel (x, y, z) holds 100 z + 10 y + x, saved to mappath.
void map() {
  HOST(zrCreateMAPForCurrentFMR)();
  char record[tsl::host::kMapHeaderRecordSize] = {};
  float** slices = HOST(zrGetMAPOfCurrentFMR)(record);
  const int dimX = at<int>(record, 0), dimY = at<int>(record, 4), dimZ = at<int>(record, 8);
  log("map " + std::to_string(dimX) + " " + std::to_string(dimY) + " " + std::to_string(dimZ) +
      (slices == nullptr ? " no slices" : " slices"));
  if (slices == nullptr) return;
  for (int z = 0; z < dimZ; ++z) {
    for (int y = 0; y < dimY; ++y) {
      for (int x = 0; x < dimX; ++x)
        slices[z][y * dimX + x] = static_cast<float>(100 * z + 10 * y + x);
    }
  }
  put<int>(record, 12, 1);
  put<float>(record, 16, 0.01f);
  put<float>(record, 20, HOST(zrGetFloatParameter)("upper"));
  put<int>(record, 28, 0);
  HOST(zrSetMAPParametersOfCurrentFMR)(record);
  HOST(zrSaveMAPsOfCurrentFMR)(parameter("mappath").c_str());
}

void plots() {
  const float x[] = {1, 2, 3};
  const float a[] = {0.5f, -0.5f, 0.25f};
  const float b[] = {1.5f, 0.0f, -2.0f};
  ZrPlot plot = HOST(zrPlotLine)(3, x, a, "Translation <X>");
  HOST(zrSetPlotColorTheme)(plot, 1);
  HOST(zrSetPlotLineSizeAndColor)(plot, 0, 2, 255, 0, 0, 0);
  HOST(zrAddLineToPlot)(plot, 3, x, b, "relative RMS displacement");
  HOST(zrSetPlotLineSizeAndColor)(plot, 1, 2, 250, 250, 250, 0);
  HOST(zrShowPlotLegend)(plot, 1, 3);
  HOST(zrSetPlotTitle)(plot, "run1_3DMC.sdm & more");
  HOST(zrResizePlot)(plot, 800, 350);
  HOST(zrSetPlotYAxisRange)(plot, -3.0f, 3.0f);
  HOST(zrShowPlotAtPosition)(plot, 50, 50);
  // Misuse the host must survive: a curve that does not exist, a handle it never gave out.
  HOST(zrSetPlotLineSizeAndColor)(plot, 5, 2, 0, 0, 0, 0);
  static int notAPlot = 0;
  HOST(zrSetPlotTitle)(&notAPlot, "lost");
  ZrPlot second = HOST(zrPlotLine)(0, nullptr, nullptr, "empty");
  log(std::string("plots ") +
      (plot != nullptr && second != nullptr && plot != second ? "distinct" : "bad"));
}

class Probe : public ZorvPluginInterface {
 public:
  TESSEL_DELETING_DESTRUCTOR_OVERRIDE(Probe)
  ~Probe() { log("probe end"); }

  bool initPlugin() override {
    log("probe start");
    return HOST(zrGetIntParameter)("refuse") == 0;
  }

  bool execute() override {
    const std::string task = parameter("task");
    if (task == "strings") strings();
    if (task == "dialogs") dialogs();
    if (task == "header") header();
    if (task == "map") map();
    if (task == "plots") plots();
    log("done " + task);
    return true;
  }
};

}  // namespace

extern "C" TESSEL_EXPORT ZorvPluginInterface* createPlugin() { return new Probe(); }
