// The file choice task ("select_3dmcsdm"): the user picks the motion SDM or
// MDM, every run of it is read, and the path goes back to the dialog.
#include <cstring>
#include <stdexcept>
#include <string>

#include "designmatrix/motion_parameter_source.h"
#include "plugin/host_functions.h"
#include "plugin/tessel.h"

namespace {

int volumesOfCurrentRun() {
  const auto record = tsl::zr::getHeaderOfCurrentFMR();
  int volumes = 0;
  std::memcpy(&volumes, record.data() + tsl::host::kFmrRecordVolumesOffset, sizeof volumes);
  return volumes;
}

}  // namespace

void tessel::selectMotionFile() {
  std::string chosen;
  if (!tsl::zr::getOpenFileName("Choose the 3DMC SDM you want to use:", "",
                                "3D Motion Correction (*_3DMC.sdm *_3DMC.mdm)", chosen)) {
    throw std::runtime_error("You must choose a valid file!");
  }
  const std::vector<tsl::SdmDocument> documents = tsl::loadMotionDocuments(chosen, &log());
  // A warning only: the header's count is compared, for an MDM that of its
  // first run.
  if (volumesOfCurrentRun() != documents.front().NrOfDataPoints.value) {
    tsl::zr::messageBox("FMR and _3DMC.sdm don't have the same number of volumes!");
  }
  tsl::zr::setStringParameter("sdmfile", chosen);
}
