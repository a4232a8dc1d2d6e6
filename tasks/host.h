// What the tasks need of the host application, in the plug-in's own terms.
// The tasks see nothing else of the host: no function table, no record
// layouts. plugin/ implements it over the host's exported functions; the tests
// implement it with a recording fake.
#ifndef TESSEL_TASKS_HOST_H
#define TESSEL_TASKS_HOST_H

#include <array>
#include <optional>
#include <string>

#include "designmatrix/sdm_document.h"
#include "motion/volume.h"

namespace tsl {

// The host's own record of the current functional run.
struct CurrentRun {
  std::string path;  // the run's FMR header file
  int volumes = 0;
  Dim3 dims;                         // voxels along x, y, z
  std::array<float, 3> voxelSize{};  // millimetres along x, y, z
};

class Host {
 public:
  virtual ~Host() = default;

  // Dialog parameters: the text, integer or float the dialog set under name.
  // An unset parameter reads as the empty text or 0.
  virtual std::string textParameter(const char* name) = 0;
  virtual int intParameter(const char* name) = 0;
  virtual float floatParameter(const char* name) = 0;

  // Hands the chosen motion file back to the dialog ("sdmfile").
  virtual void setMotionFile(const std::string& path) = 0;

  // Asks the user for a file: the chosen path, or nothing when cancelled.
  virtual std::optional<std::string> chooseFile(const std::string& caption,
                                                const std::string& initialFolder,
                                                const std::string& filter) = 0;

  // Writes one line to the log pane: the display name, ">  " and message.
  virtual void logLine(const std::string& message) = 0;

  // Shows a message box; the task goes on.
  virtual void showMessage(const std::string& text) = 0;

  // The host's record of the current functional run.
  virtual CurrentRun currentRun() = 0;

  // Adds volume to the current run as a new map with its display range
  // lower..upper. Throws when the host's new map does not match the volume's
  // grid (an assertion report) or the host hands out no map data.
  virtual void addMap(const Volume& volume, float lower, float upper) = 0;

  // Has the host save the current run's maps to path. Throws IOError
  // "Failed writing file: " + path when the host did not write the file.
  virtual void saveMaps(const std::string& path) = 0;

  // Opens one plot window with every predictor of doc as a curve in its own
  // colour over the volume numbers, titled with the file-name part of
  // doc.path followed by titleSuffix.
  virtual void plot(const SdmDocument& doc, const std::string& titleSuffix) = 0;
};

}  // namespace tsl

#endif
