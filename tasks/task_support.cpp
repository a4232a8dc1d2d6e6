#include "tasks/task_support.h"

namespace tsl {
namespace {

UserAccess userAccessOf(Host& host) {
  return {[&host](const std::string& caption, const std::string& folder,
                  const std::string& filter) { return host.chooseFile(caption, folder, filter); },
          [&host](const std::string& message) { host.logLine(message); }};
}

}  // namespace

std::vector<SdmDocument> loadRuns(Host& host, const std::string& path) {
  return loadMotionDocuments(path, userAccessOf(host));
}

std::vector<MotionRun> loadStudyRuns(Host& host, const std::string& path) {
  return loadChosenMotionRuns(path, userAccessOf(host));
}

}  // namespace tsl
