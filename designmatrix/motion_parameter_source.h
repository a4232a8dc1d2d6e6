// The motion-parameter source: the chosen SDM or MDM path turned into one
// motion document per run.
#ifndef TESSEL_DESIGNMATRIX_MOTION_PARAMETER_SOURCE_H
#define TESSEL_DESIGNMATRIX_MOTION_PARAMETER_SOURCE_H

#include <string>
#include <vector>

#include "designmatrix/mdm_document.h"
#include "designmatrix/motion_parameters.h"
#include "designmatrix/sdm_document.h"

namespace tsl {

// For a path ending in ".sdm" (in any letter case): the document read from
// it. For ".mdm": the MDM is read, its studies relocated with the user's help
// when its first SDM cannot be found (relocateStudyPaths; when the user
// cancels, the missing SDM is reported as it is read), and one document is
// read per study, in the order of its lines, from resolveStudyPath of its SDM
// path (a relative path lies in the MDM's folder; the document's path is that
// place). Any other path: an empty list. Every document read is checked with
// requireMotionParameters. Throws what the SDM and MDM readers, the
// relocation and that check throw; a study that is not there ends the call
// with the SDM reader's OpenFileError for that place. No partial list is
// returned.
std::vector<SdmDocument> loadDesignMatrices(const std::string& path, const UserAccess& user);

// A run of the chosen motion file as loadDesignMatrices reads it, with what
// the MDM says of it besides.
struct MotionRun {
  SdmDocument motion;
  std::string dataFile;   // the study's data file where it lies; empty for an SDM
  std::string mdmFile;    // the MDM that lists the run; empty for an SDM
  std::size_t study = 0;  // its study in the MDM, counted from 1; 0 for an SDM
};

// loadDesignMatrices, each document with its study's data file (resolved as
// its SDM is, resolveStudyPath). Throws what loadDesignMatrices throws.
std::vector<MotionRun> loadMotionRuns(const std::string& path, const UserAccess& user);

// loadDesignMatrices for a task that needs at least one document: throws
// std::runtime_error "No motion file chosen: choose the 3DMC SDM or MDM
// first" for an empty path, and "Not an SDM or MDM file (the name must end
// in .sdm or .mdm): " + path for any other path that yields no document, so
// that a task never ends as if it had done its work.
std::vector<SdmDocument> loadMotionDocuments(const std::string& path, const UserAccess& user);

// loadMotionRuns for a task that needs at least one run, refusing as
// loadMotionDocuments does.
std::vector<MotionRun> loadChosenMotionRuns(const std::string& path, const UserAccess& user);

}  // namespace tsl

#endif
