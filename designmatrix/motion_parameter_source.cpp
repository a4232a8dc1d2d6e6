#include "designmatrix/motion_parameter_source.h"

#include <stdexcept>
#include <utility>

#include "designmatrix/mdm_document.h"
#include "designmatrix/path_functions.h"

namespace tsl {

std::vector<MotionRun> loadMotionRuns(const std::string& path, const UserAccess& user) {
  std::vector<MotionRun> runs;
  if (hasExtension(path, "sdm")) {
    runs.push_back({SdmDocument(path), "", "", 0});
  } else if (hasExtension(path, "mdm")) {
    MdmDocument mdm(path);
    // A cancelled relocation is not an error here: reading the missing SDM
    // below reports it with the file's name.
    mdm.relocateStudyPaths(user);
    runs.reserve(mdm.sdmPaths.size());
    for (std::size_t j = 0; j < mdm.sdmPaths.size(); ++j) {
      runs.push_back({SdmDocument(mdm.resolveStudyPath(mdm.sdmPaths[j])),
                      mdm.resolveStudyPath(mdm.dataPaths[j]), path, j + 1});
    }
  }
  for (const MotionRun& run : runs) requireMotionParameters(run.motion);
  return runs;
}

std::vector<SdmDocument> loadDesignMatrices(const std::string& path, const UserAccess& user) {
  std::vector<SdmDocument> documents;
  for (MotionRun& run : loadMotionRuns(path, user)) documents.push_back(std::move(run.motion));
  return documents;
}

std::vector<MotionRun> loadChosenMotionRuns(const std::string& path, const UserAccess& user) {
  std::vector<MotionRun> runs = loadMotionRuns(path, user);
  if (runs.empty()) {
    if (path.empty())
      throw std::runtime_error("No motion file chosen: choose the 3DMC SDM or MDM first");
    throw std::runtime_error("Not an SDM or MDM file (the name must end in .sdm or .mdm): " + path);
  }
  return runs;
}

std::vector<SdmDocument> loadMotionDocuments(const std::string& path, const UserAccess& user) {
  std::vector<SdmDocument> documents;
  for (MotionRun& run : loadChosenMotionRuns(path, user))
    documents.push_back(std::move(run.motion));
  return documents;
}

}  // namespace tsl
