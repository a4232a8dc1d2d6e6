// The one part of the MDM document that asks the user, through the host.
#include <string>

#include "designmatrix/io_error.h"
#include "designmatrix/mdm_document.h"
#include "designmatrix/path_functions.h"
#include "designmatrix/text_file.h"
#include "plugin/host_functions.h"

namespace tsl {

bool MdmDocument::relocateStudyPaths() {
  // The reader accepts no document without a study; a document built
  // otherwise has nothing to probe.
  if (sdmPaths.empty()) throw IOError("MDM file " + path + ": no studies to relocate");
  const std::string oldPath = sdmPaths.front();
  if (canOpenForReading(oldPath)) return true;

  const std::string name = fileNameOf(oldPath);
  std::string selected;
  if (!zr::getOpenFileName("SDM not found. Select " + name + " manually.", directoryOf(path),
                           "Single Subject Desgin Matrix (" + name + ")", selected)) {
    return false;
  }
  if (selected.size() < name.size()) return false;
  replaceStudyPrefixes(oldPath, selected);
  writeToFile();
  return true;
}

}  // namespace tsl
