// The host functions the simulator exports, under the host's names: each
// reads or changes the simulated host, records the call in the transcript and
// reports misuse (unknown plot handles, maps without a run) on standard error.
//
// Transcript "result" members, for what the host hands back:
//   zrGetVersionOfZorvane [major,minor,sub]; zrGetIDOfCurrentDocument and
//   zrGetDocumentType the int returned (-1: none); zrGetStringParameter the
//   text written into the buffer; zrGetIntParameter, zrGetFloatParameter the
//   value; zrGetOpenFileName the chosen path, null when cancelled;
//   zrGetHeaderOfCurrentFMR {"path","volumes","dims":[x,y,z],"voxelSize":[x,y,z]};
//   zrCreateMAPForCurrentFMR the map's number from 1, null when none was made;
//   zrGetMAPOfCurrentFMR [DimX,DimY,DimZ], null when it returns no slices (with
//   --no-map-slices the record is still filled); zrSaveMAPsOfCurrentFMR true
//   when the file was written; zrPlotLine the plot's number from 1.
// Plot handles in arguments are plot numbers, null for a handle the host never
// gave out; the map record of zrSetMAPParametersOfCurrentFMR is
// {"type","lower","upper","clusterSize"}.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "hostsim/file_output.h"
#include "hostsim/simulated_host.h"
#include "plugin/host_api.h"

#ifdef _WIN32
#define ZR_HOST_EXPORT __declspec(dllexport)
#else
#define ZR_HOST_EXPORT __attribute__((visibility("default")))
#endif

namespace tsl::hostsim {

SimulatedHost& simulatedHost() {
  static SimulatedHost state;
  return state;
}

void report(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace tsl::hostsim

namespace {

using namespace tsl::hostsim;

SimulatedHost& host() { return simulatedHost(); }

void record(std::string_view call, const JsonArray& args) {
  host().transcript.write(transcriptLine(call, args));
}

void record(std::string_view call, const JsonArray& args, const std::string& result) {
  host().transcript.write(transcriptLine(call, args, result));
}

std::string orEmpty(const char* text) { return text == nullptr ? std::string() : text; }

// Copies text into a host text buffer: at most kHostTextBufferSize - 1 bytes,
// then NUL. Returns what was written.
std::string fillTextBuffer(char* buffer, const std::string& text) {
  const std::size_t n = std::min(text.size(), tsl::host::kHostTextBufferSize - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return text.substr(0, n);
}

std::string intTriple(const std::array<int, 3>& values) {
  return JsonArray().integer(values[0]).integer(values[1]).integer(values[2]).json();
}

// Index of the plot a handle names, or -1 when it names none.
long plotIndex(ZrPlot handle) {
  auto& plots = host().plots;
  for (std::size_t i = 0; i < plots.size(); ++i) {
    if (handle == static_cast<void*>(&plots[i])) return static_cast<long>(i);
  }
  return -1;
}

// The handle in the transcript: the plot's number from 1, or null.
std::string plotJson(ZrPlot handle) {
  const long index = plotIndex(handle);
  return index < 0 ? "null" : std::to_string(index + 1);
}

Plot* findPlot(const char* call, ZrPlot handle) {
  const long index = plotIndex(handle);
  if (index < 0) {
    std::ostringstream text;
    text << call << ": unknown plot handle " << handle;
    report(text.str());
    return nullptr;
  }
  return &host().plots[static_cast<std::size_t>(index)];
}

void recordUnused(const char* name) {
  report(std::string("note: the plug-in called ") + name +
         ", which the simulator does not provide");
  record(name, JsonArray());
}

}  // namespace

// Every function the plug-in calls, declared through its type in the shared
// header, so that a definition with another signature does not compile.
extern "C" {
#define ZR_CALLED(name) ZR_HOST_EXPORT std::remove_pointer_t<name##_t> name;
#define ZR_UNUSED(name)
#include "plugin/host_function_list.inc"

// The names the plug-in binds but never calls: present, doing nothing.
#define ZR_CALLED(name)
#define ZR_UNUSED(name) \
  ZR_HOST_EXPORT void name() { recordUnused(#name); }
#include "plugin/host_function_list.inc"

// The binding tests' variants lack one export each.
#ifndef HOSTSIM_WITHOUT_VERSION_QUERY
ZR_HOST_EXPORT void zrGetVersionOfZorvane(int* major, int* minor, int* subMinor) {
  const auto& version = host().options.version;
  if (major != nullptr) *major = version[0];
  if (minor != nullptr) *minor = version[1];
  if (subMinor != nullptr) *subMinor = version[2];
  record("zrGetVersionOfZorvane", JsonArray(), intTriple(version));
}
#endif

ZR_HOST_EXPORT void zrShowLogTab() { record("zrShowLogTab", JsonArray()); }

ZR_HOST_EXPORT void zrLogText(const char* text) {
  if (text != nullptr) {
    std::fwrite(text, 1, std::strlen(text), stdout);
    std::fflush(stdout);
  }
  record("zrLogText", JsonArray().text(text));
}

ZR_HOST_EXPORT void zrMessageBox(const char* text) {
  report("message: " + orEmpty(text));
  record("zrMessageBox", JsonArray().text(text));
}

ZR_HOST_EXPORT void zrShowBusyCursor() { record("zrShowBusyCursor", JsonArray()); }

ZR_HOST_EXPORT void zrStopBusyCursor() { record("zrStopBusyCursor", JsonArray()); }

#ifndef HOSTSIM_WITHOUT_DOCUMENT_ID
ZR_HOST_EXPORT int zrGetIDOfCurrentDocument() {
  const int id = host().hasDocument ? host().options.documentId : -1;
  record("zrGetIDOfCurrentDocument", JsonArray(), std::to_string(id));
  return id;
}
#endif

ZR_HOST_EXPORT int zrGetDocumentType(int documentId) {
  const SimulatedHost& h = host();
  const int type = h.hasDocument && documentId == h.options.documentId ? h.documentType : -1;
  record("zrGetDocumentType", JsonArray().integer(documentId), std::to_string(type));
  return type;
}

#ifndef HOSTSIM_WITHOUT_STRING_PARAMETER
ZR_HOST_EXPORT void zrGetStringParameter(const char* name, char* buffer) {
  const std::string value = host().parameters.text(orEmpty(name));
  if (buffer == nullptr) {
    report("zrGetStringParameter: null buffer");
    record("zrGetStringParameter", JsonArray().text(name), "null");
    return;
  }
  record("zrGetStringParameter", JsonArray().text(name), jsonString(fillTextBuffer(buffer, value)));
}
#endif

ZR_HOST_EXPORT int zrGetIntParameter(const char* name) {
  const int value = host().parameters.integer(orEmpty(name));
  record("zrGetIntParameter", JsonArray().text(name), std::to_string(value));
  return value;
}

ZR_HOST_EXPORT float zrGetFloatParameter(const char* name) {
  const float value = host().parameters.real(orEmpty(name));
  record("zrGetFloatParameter", JsonArray().text(name), jsonFloat(value));
  return value;
}

ZR_HOST_EXPORT void zrSetStringParameter(const char* name, const char* value) {
  host().parameters.set(orEmpty(name), orEmpty(value));
  record("zrSetStringParameter", JsonArray().text(name).text(value));
}

ZR_HOST_EXPORT int zrGetOpenFileName(const char* caption, const char* initialDirectory,
                                     const char* filter, char* buffer) {
  SimulatedHost& h = host();
  const auto args = JsonArray().text(caption).text(initialDirectory).text(filter);
  const bool answered =
      h.answersUsed < h.options.answers.size() && h.options.answers[h.answersUsed].has_value();
  const std::string chosen = answered ? *h.options.answers[h.answersUsed] : std::string();
  if (h.answersUsed < h.options.answers.size()) ++h.answersUsed;
  if (!answered || buffer == nullptr) {
    if (answered) report("zrGetOpenFileName: null buffer");
    record("zrGetOpenFileName", args, "null");
    return 0;
  }
  record("zrGetOpenFileName", args, jsonString(fillTextBuffer(buffer, chosen)));
  return 1;
}

ZR_HOST_EXPORT void zrGetHeaderOfCurrentFMR(char* header) {
  const SimulatedHost& h = host();
  if (header != nullptr) std::memcpy(header, h.record.data(), h.record.size());
  const auto& v = h.run.voxelSize;
  record("zrGetHeaderOfCurrentFMR", JsonArray(),
         JsonObject()
             .member("path", jsonString(h.record.data()))
             .member("volumes", std::to_string(h.run.volumes))
             .member("dims", intTriple(h.run.dims))
             .member("voxelSize", JsonArray().real(v[0]).real(v[1]).real(v[2]).json())
             .json());
}

ZR_HOST_EXPORT void zrCreateMAPForCurrentFMR() {
  SimulatedHost& h = host();
  if (!h.hasDocument) {
    report("zrCreateMAPForCurrentFMR: no current document");
    record("zrCreateMAPForCurrentFMR", JsonArray(), "null");
    return;
  }
  if (!h.maps.create(h.mapDims)) {
    report("zrCreateMAPForCurrentFMR: a map of " + std::to_string(h.mapDims[0]) + " x " +
           std::to_string(h.mapDims[1]) + " x " + std::to_string(h.mapDims[2]) +
           " floats is too large");
    record("zrCreateMAPForCurrentFMR", JsonArray(), "null");
    return;
  }
  record("zrCreateMAPForCurrentFMR", JsonArray(), std::to_string(h.maps.all().size()));
}

ZR_HOST_EXPORT float** zrGetMAPOfCurrentFMR(char* mapHeader) {
  SimulatedHost& h = host();
  Map* map = h.maps.last();
  if (map == nullptr) {
    report("zrGetMAPOfCurrentFMR: the run has no map");
    record("zrGetMAPOfCurrentFMR", JsonArray(), "null");
    return nullptr;
  }
  if (mapHeader != nullptr) fillMapRecord(*map, mapHeader);
  if (h.options.noMapSlices) {
    record("zrGetMAPOfCurrentFMR", JsonArray(), "null");
    return nullptr;
  }
  record("zrGetMAPOfCurrentFMR", JsonArray(), intTriple(map->dims));
  return map->slices.data();
}

ZR_HOST_EXPORT void zrSetMAPParametersOfCurrentFMR(const char* mapHeader) {
  if (mapHeader == nullptr) {
    report("zrSetMAPParametersOfCurrentFMR: null record");
    record("zrSetMAPParametersOfCurrentFMR", JsonArray().null());
    return;
  }
  Map settings;
  applyMapRecord(mapHeader, settings);
  record("zrSetMAPParametersOfCurrentFMR",
         JsonArray().raw(JsonObject()
                             .member("type", std::to_string(settings.type))
                             .member("lower", jsonFloat(settings.lower))
                             .member("upper", jsonFloat(settings.upper))
                             .member("clusterSize", std::to_string(settings.clusterSize))
                             .json()));
  Map* map = host().maps.last();
  if (map == nullptr) {
    report("zrSetMAPParametersOfCurrentFMR: the run has no map");
    return;
  }
  applyMapRecord(mapHeader, *map);
}

ZR_HOST_EXPORT void zrSaveMAPsOfCurrentFMR(const char* path) {
  const SimulatedHost& h = host();
  std::string problem;
  if (path == nullptr || *path == '\0') {
    problem = "no file name";
  } else {
    try {
      const std::string header = niftiHeader(h.maps.all(), h.run.voxelSize);
      std::vector<std::string_view> parts{header};
      for (const std::string_view data : niftiData(h.maps.all())) parts.push_back(data);
      problem = writeFileAtomically(path, parts);
    } catch (const std::exception& error) {
      problem = error.what();
    }
  }
  if (!problem.empty()) report("zrSaveMAPsOfCurrentFMR(" + orEmpty(path) + "): " + problem);
  record("zrSaveMAPsOfCurrentFMR", JsonArray().text(path), problem.empty() ? "true" : "false");
}

ZR_HOST_EXPORT ZrPlot zrPlotLine(int count, const float* x, const float* y, const char* name) {
  SimulatedHost& h = host();
  Plot& plot = h.plots.emplace_back();
  plot.curves.push_back(makeCurve(count, x, y, name));
  record("zrPlotLine", JsonArray().integer(count).reals(x, count).reals(y, count).text(name),
         std::to_string(h.plots.size()));
  return &plot;
}

ZR_HOST_EXPORT void zrAddLineToPlot(ZrPlot handle, int count, const float* x, const float* y,
                                    const char* name) {
  record(
      "zrAddLineToPlot",
      JsonArray().raw(plotJson(handle)).integer(count).reals(x, count).reals(y, count).text(name));
  if (Plot* plot = findPlot("zrAddLineToPlot", handle)) {
    plot->curves.push_back(makeCurve(count, x, y, name));
  }
}

ZR_HOST_EXPORT void zrSetPlotColorTheme(ZrPlot handle, int theme) {
  record("zrSetPlotColorTheme", JsonArray().raw(plotJson(handle)).integer(theme));
  if (Plot* plot = findPlot("zrSetPlotColorTheme", handle)) plot->colourTheme = theme;
}

ZR_HOST_EXPORT void zrSetPlotLineSizeAndColor(ZrPlot handle, int curve, int lineSize, int red,
                                              int green, int blue, int style) {
  record("zrSetPlotLineSizeAndColor", JsonArray()
                                          .raw(plotJson(handle))
                                          .integer(curve)
                                          .integer(lineSize)
                                          .integer(red)
                                          .integer(green)
                                          .integer(blue)
                                          .integer(style));
  Plot* plot = findPlot("zrSetPlotLineSizeAndColor", handle);
  if (plot == nullptr) return;
  if (curve < 0 || static_cast<std::size_t>(curve) >= plot->curves.size()) {
    report("zrSetPlotLineSizeAndColor: plot " + plotJson(handle) + " has no curve " +
           std::to_string(curve));
    return;
  }
  Curve& c = plot->curves[static_cast<std::size_t>(curve)];
  c.lineSize = lineSize;
  c.colourSet = true;
  c.red = red;
  c.green = green;
  c.blue = blue;
  c.style = style;
}

ZR_HOST_EXPORT void zrShowPlotLegend(ZrPlot handle, int setting1, int setting2) {
  record("zrShowPlotLegend", JsonArray().raw(plotJson(handle)).integer(setting1).integer(setting2));
  if (Plot* plot = findPlot("zrShowPlotLegend", handle)) {
    plot->legendShown = true;
    plot->legendSetting1 = setting1;
    plot->legendSetting2 = setting2;
  }
}

ZR_HOST_EXPORT void zrSetPlotTitle(ZrPlot handle, const char* title) {
  record("zrSetPlotTitle", JsonArray().raw(plotJson(handle)).text(title));
  if (Plot* plot = findPlot("zrSetPlotTitle", handle)) plot->title = orEmpty(title);
}

ZR_HOST_EXPORT void zrResizePlot(ZrPlot handle, int width, int height) {
  record("zrResizePlot", JsonArray().raw(plotJson(handle)).integer(width).integer(height));
  if (Plot* plot = findPlot("zrResizePlot", handle)) {
    plot->width = width;
    plot->height = height;
  }
}

ZR_HOST_EXPORT void zrSetPlotYAxisRange(ZrPlot handle, float lower, float upper) {
  record("zrSetPlotYAxisRange", JsonArray().raw(plotJson(handle)).real(lower).real(upper));
  if (Plot* plot = findPlot("zrSetPlotYAxisRange", handle)) {
    plot->yRangeSet = true;
    plot->yLower = lower;
    plot->yUpper = upper;
  }
}

ZR_HOST_EXPORT void zrShowPlotAtPosition(ZrPlot handle, int x, int y) {
  record("zrShowPlotAtPosition", JsonArray().raw(plotJson(handle)).integer(x).integer(y));
  if (Plot* plot = findPlot("zrShowPlotAtPosition", handle)) {
    plot->positioned = true;
    plot->positionX = x;
    plot->positionY = y;
  }
}

}  // extern "C"
