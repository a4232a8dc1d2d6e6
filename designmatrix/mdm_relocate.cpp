// The one part of the MDM document that asks the user.
#include <string>
#include <utility>

#include "designmatrix/io_error.h"
#include "designmatrix/mdm_document.h"
#include "designmatrix/path_functions.h"

namespace tsl {

bool MdmDocument::relocateStudyPaths(const UserAccess& user) {
  // The reader accepts no document without a study; a document built
  // otherwise has nothing to probe.
  if (sdmPaths.empty()) throw IOError("MDM file " + path + ": no studies to relocate");
  if (findStudySdm(0)) return true;

  const std::string oldPath = resolveStudyPath(sdmPaths.front());
  const std::string name = fileNameOf(oldPath);
  if (!user.chooseFile) return false;
  const std::optional<std::string> answer =
      user.chooseFile("SDM not found. Select " + name + " manually.", directoryOf(path),
                      "Single Subject Desgin Matrix (" + name + ")");
  if (!answer) return false;
  const std::string& selected = *answer;
  if (selected.size() < name.size()) return false;

  // The user's file is rewritten only with studies that are all there, so a
  // move that fits some studies only cannot lose the paths of the others.
  MdmDocument moved = *this;
  const StudyMove studyMove = moved.moveStudies(oldPath, selected);
  for (std::size_t j = 0; j < moved.sdmPaths.size(); ++j) {
    if (!moved.findStudySdm(j)) {
      throw IOError("MDM file " + path + ": study " + std::to_string(j + 1) + " (" +
                    moved.sdmPaths[j] + ") cannot be found after moving the studies from \"" +
                    studyMove.from + "\" to \"" + studyMove.to + "\"");
    }
  }
  moved.writeToFile();
  *this = std::move(moved);
  if (user.log) {
    user.log("MDM file " + path + ": studies moved from \"" + studyMove.from + "\" to \"" +
             studyMove.to + "\", MDM file saved");
  }
  return true;
}

}  // namespace tsl
