// The one Host over the host application's exported functions: the only code
// that knows the zr* names and the layouts of the host's records.
#ifndef TESSEL_PLUGIN_ZORV_HOST_H
#define TESSEL_PLUGIN_ZORV_HOST_H

#include <ostream>
#include <string>

#include "tasks/host.h"

namespace tsl {

class ZorvHost : public Host {
 public:
  // Log lines go to log (the plug-in object's log stream), one flush each.
  explicit ZorvHost(std::ostream& log) : log_(log) {}

  // Every call goes through the host function table and throws
  // std::runtime_error "Host function not available: <name>" when the host
  // lacks the function it needs.
  std::string textParameter(const char* name) override;
  int intParameter(const char* name) override;
  float floatParameter(const char* name) override;
  void setMotionFile(const std::string& path) override;
  std::optional<std::string> chooseFile(const std::string& caption,
                                        const std::string& initialFolder,
                                        const std::string& filter) override;
  void logLine(const std::string& message) override;
  void showMessage(const std::string& text) override;
  CurrentRun currentRun() override;

  // zrCreateMAPForCurrentFMR, zrGetMAPOfCurrentFMR, the values copied slice by
  // slice (voxel (x, y, z) to slice z, element y*DimX + x), then
  // zrSetMAPParametersOfCurrentFMR with map type 1, the range and cluster
  // size 0. Throws std::logic_error "assertion failure (tessel:<line>):
  // <expression>" when the host returns no slice array (52, "slices !=
  // nullptr") or a map whose grid differs from the volume's (53 "dim.z ==
  // header.DimZ", 54 "dim.y == header.DimY", 55 "dim.x == header.DimX",
  // checked in that order); the host's new map then stays empty. Throws
  // std::runtime_error when the host hands out a null slice.
  void addMap(const Volume& volume, float lower, float upper) override;

  // zrSaveMAPsOfCurrentFMR(path), which reports nothing; the file tells:
  // unless a regular file stands at path afterwards that differs from what
  // stood there before (size, last-write time or identity), throws IOError
  // "Failed writing file: " + path. The maps stay in the run either way.
  void saveMaps(const std::string& path) override;

  // Line size 2, legend settings 1 and 3, colour theme 1, 800 x 350 at 50, 50;
  // the vertical range -B..B with B the smallest integer above the largest
  // absolute value (at least 1). A document with no predictors or no data
  // points makes no plot. Throws std::runtime_error naming the path when
  // NrOfPredictors exceeds the stored predictors or a column is shorter than
  // NrOfDataPoints. Not-a-number values do not widen the range; a bound beyond
  // the int range is clamped to the largest int.
  void plot(const SdmDocument& doc, const std::string& titleSuffix) override;

 private:
  std::ostream& log_;
};

}  // namespace tsl

#endif
