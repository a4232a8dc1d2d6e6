// The host's side of the boundary: the C signatures of the host functions the
// plug-in calls, and the layouts of the records the host fills. Shared by the
// plug-in (which looks the functions up by name) and by the host simulator
// (which exports them). Plain C types only: the host is a Microsoft-built
// Windows program, so nothing here may depend on the C++ ABI.
#ifndef TESSEL_PLUGIN_HOST_API_H
#define TESSEL_PLUGIN_HOST_API_H

#include <cstddef>

extern "C" {

// Opaque plot window handle returned by zrPlotLine; owned by the host.
typedef void* ZrPlot;

typedef void (*zrGetVersionOfZorvane_t)(int* major, int* minor, int* subMinor);
typedef void (*zrShowLogTab_t)();
typedef void (*zrLogText_t)(const char* text);
typedef void (*zrMessageBox_t)(const char* text);
typedef void (*zrShowBusyCursor_t)();
typedef void (*zrStopBusyCursor_t)();
typedef int (*zrGetIDOfCurrentDocument_t)();
typedef int (*zrGetDocumentType_t)(int documentId);
// Writes the value, NUL-terminated, into buffer (kHostTextBufferSize bytes).
typedef void (*zrGetStringParameter_t)(const char* name, char* buffer);
typedef int (*zrGetIntParameter_t)(const char* name);
typedef float (*zrGetFloatParameter_t)(const char* name);
typedef void (*zrSetStringParameter_t)(const char* name, const char* value);
// Returns non-zero and the chosen path in buffer (kHostTextBufferSize bytes),
// zero when the user cancelled.
typedef int (*zrGetOpenFileName_t)(const char* caption, const char* initialDirectory,
                                   const char* filter, char* buffer);
// Fills a record of kFmrHeaderRecordSize bytes (layout below).
typedef void (*zrGetHeaderOfCurrentFMR_t)(char* record);
typedef void (*zrCreateMAPForCurrentFMR_t)();
// Fills the map header record (kMapHeaderRecordSize bytes) of the map created
// last and returns its DimZ slice arrays, or null.
typedef float** (*zrGetMAPOfCurrentFMR_t)(char* mapHeader);
typedef void (*zrSetMAPParametersOfCurrentFMR_t)(const char* mapHeader);
typedef void (*zrSaveMAPsOfCurrentFMR_t)(const char* path);
typedef ZrPlot (*zrPlotLine_t)(int count, const float* x, const float* y, const char* name);
typedef void (*zrAddLineToPlot_t)(ZrPlot plot, int count, const float* x, const float* y,
                                  const char* name);
typedef void (*zrSetPlotColorTheme_t)(ZrPlot plot, int theme);
typedef void (*zrSetPlotLineSizeAndColor_t)(ZrPlot plot, int curve, int lineSize, int red,
                                            int green, int blue, int style);
typedef void (*zrShowPlotLegend_t)(ZrPlot plot, int setting1, int setting2);
typedef void (*zrSetPlotTitle_t)(ZrPlot plot, const char* title);
typedef void (*zrResizePlot_t)(ZrPlot plot, int width, int height);
typedef void (*zrSetPlotYAxisRange_t)(ZrPlot plot, float lower, float upper);
typedef void (*zrShowPlotAtPosition_t)(ZrPlot plot, int x, int y);

}  // extern "C"

namespace tsl::host {

// Every text buffer the host fills (string parameters, chosen paths). The
// host is told no size, so there is room for the longest path Linux accepts,
// many times the classic Windows limit of 260.
inline constexpr std::size_t kHostTextBufferSize = 4096;

// Header record of the current functional run (zrGetHeaderOfCurrentFMR).
inline constexpr std::size_t kFmrHeaderRecordSize = 1168;
inline constexpr std::size_t kFmrRecordPathOffset = 0;  // NUL-terminated text
inline constexpr std::size_t kFmrRecordPathCapacity = 304;
inline constexpr std::size_t kFmrRecordVolumesOffset = 304;     // int
inline constexpr std::size_t kFmrRecordDimXOffset = 308;        // int, then DimY, DimZ
inline constexpr std::size_t kFmrRecordVoxelSizeXOffset = 320;  // float, then y, z

// Map header record (zrGetMAPOfCurrentFMR / zrSetMAPParametersOfCurrentFMR).
inline constexpr std::size_t kMapHeaderRecordSize = 64;
inline constexpr std::size_t kMapDimXOffset = 0;          // int, then DimY (4), DimZ (8)
inline constexpr std::size_t kMapTypeOffset = 12;         // int, set to 1
inline constexpr std::size_t kMapLowerValueOffset = 16;   // float
inline constexpr std::size_t kMapUpperValueOffset = 20;   // float
inline constexpr std::size_t kMapClusterSizeOffset = 28;  // 32 bits, set to 0

}  // namespace tsl::host

#endif
