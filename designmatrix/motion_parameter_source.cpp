#include "designmatrix/motion_parameter_source.h"

#include <stdexcept>

#include "designmatrix/mdm_document.h"
#include "designmatrix/path_functions.h"

namespace tsl {

std::vector<SdmDocument> loadDesignMatrices(const std::string& path, const UserAccess& user) {
  std::vector<SdmDocument> documents;
  if (hasExtension(path, "sdm")) {
    documents.emplace_back(path);
  } else if (hasExtension(path, "mdm")) {
    MdmDocument mdm(path);
    // A cancelled relocation is not an error here: reading the missing SDM
    // below reports it with the file's name.
    mdm.relocateStudyPaths(user);
    documents.reserve(mdm.sdmPaths.size());
    for (std::size_t j = 0; j < mdm.sdmPaths.size(); ++j) {
      documents.emplace_back(mdm.resolveStudyPath(mdm.sdmPaths[j]));
    }
  }
  for (const SdmDocument& document : documents) requireMotionParameters(document);
  return documents;
}

std::vector<SdmDocument> loadMotionDocuments(const std::string& path, const UserAccess& user) {
  std::vector<SdmDocument> documents = loadDesignMatrices(path, user);
  if (documents.empty()) {
    if (path.empty())
      throw std::runtime_error("No motion file chosen: choose the 3DMC SDM or MDM first");
    throw std::runtime_error("Not an SDM or MDM file (the name must end in .sdm or .mdm): " + path);
  }
  return documents;
}

}  // namespace tsl
