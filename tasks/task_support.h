// What the tasks share: the way to the user for readers that may ask, log
// text formatted as the log stream formats it, and the displacement curve of
// the detrended plots.
#ifndef TESSEL_TASKS_TASK_SUPPORT_H
#define TESSEL_TASKS_TASK_SUPPORT_H

#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "designmatrix/motion_parameter_source.h"
#include "tasks/host.h"

namespace tsl {

// The per-volume relative RMS displacement curve added to detrended plots.
inline constexpr const char* kRmsSeriesName = "relative RMS displacement";
inline constexpr int kRmsSeriesGrey = 250;  // red, green and blue

// The runs of the dialog's motion file path, read with the user's help
// through host's file dialogs and log (loadMotionDocuments).
std::vector<SdmDocument> loadRuns(Host& host, const std::string& path);

// The same runs with their studies' data files (loadChosenMotionRuns).
std::vector<MotionRun> loadStudyRuns(Host& host, const std::string& path);

// The parts written one after the other as the log stream writes them:
// numbers in the default notation with six significant digits, classic
// locale.
template <typename... Parts>
std::string logText(const Parts&... parts) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  (text << ... << parts);
  return text.str();
}

}  // namespace tsl

#endif
