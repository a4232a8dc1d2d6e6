// The file choice task ("select_3dmcsdm"): the user picks the motion SDM or
// MDM, every run of it is read, and the path goes back to the dialog.
#include <stdexcept>
#include <string>
#include <vector>

#include "tasks/task_support.h"
#include "tasks/tasks.h"

namespace tsl {

void selectMotionFile(Host& host) {
  const std::optional<std::string> chosen = host.chooseFile(
      "Choose the 3DMC SDM you want to use:", "", "3D Motion Correction (*_3DMC.sdm *_3DMC.mdm)");
  if (!chosen) throw std::runtime_error("You must choose a valid file!");
  const std::vector<SdmDocument> documents = loadRuns(host, *chosen);
  // A warning only: the header's count is compared, for an MDM that of its
  // first run.
  if (host.currentRun().volumes != documents.front().NrOfDataPoints.value) {
    host.showMessage("FMR and _3DMC.sdm don't have the same number of volumes!");
  }
  host.setMotionFile(*chosen);
}

}  // namespace tsl
