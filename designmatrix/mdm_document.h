// A multi-study design matrix (.mdm): a short header and one line per study
// (run) naming, in double quotes, the run's functional data file and its SDM
// file; documents of mesh time courses ("MTC") name a third, leading file
// first.
#ifndef TESSEL_DESIGNMATRIX_MDM_DOCUMENT_H
#define TESSEL_DESIGNMATRIX_MDM_DOCUMENT_H

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tsl {

class MdmDocument {
 public:
  // Reads the file at path. The header is read from at most seven tokens and
  // ends after "NrOfStudies:" and its value; then NrOfStudies lines are read,
  // and a line is accepted when it holds exactly four double quotes (or six in
  // an "MTC" document); other lines are ignored. Absent integer keys read as 0,
  // an absent FileVersion as -1.
  // Throws OpenFileError ("Failed opening for reading: " + path) when the file
  // cannot be opened, and IOError naming the file when a header value cannot
  // be read, "NrOfStudies:" is missing or negative, or no study line is
  // accepted.
  explicit MdmDocument(const std::string& path);

  // Writes the document to path, complete or not at all: labels padded to 22
  // characters, CRLF line ends, NrOfStudies as stored. Throws
  // std::runtime_error ("Cannot Create file: " + path) or IOError as
  // writeFileAtomically does; an existing file is then left untouched.
  void writeToFile() const;

  // Writes the document in the file format to an open stream.
  void write(std::ostream& out) const;

  // Makes sure the first study's SDM file opens. If it does, returns true and
  // changes nothing. Otherwise asks the user through the host's file dialog
  // for that file; on a usable answer moves every study path from the old
  // prefix to the new one (replaceStudyPrefixes), rewrites the MDM file
  // (writeToFile) and returns true. Returns false, changing nothing, when the
  // user cancels or picks a path shorter than the missing file's name. Throws
  // what writeToFile throws. Calls the host (it lives in tessel_host).
  bool relocateStudyPaths();

  // The path rewrite of relocateStudyPaths, without asking: n is the length of
  // the common suffix of oldSdmPath and selectedPath (compared from their
  // ends, "/" and "\" counting as the same character); the first
  // oldSdmPath.size() - n characters of every study path (the leading path
  // too) are replaced by the first selectedPath.size() - n characters of
  // selectedPath. Paths shorter than that prefix are replaced whole.
  void replaceStudyPrefixes(const std::string& oldSdmPath, const std::string& selectedPath);

  std::string path;
  int FileVersion = -1;
  std::string TypeOfFunctionalData;
  int RFX_GLM = 0;
  int PSCTransformation = 0;
  int zTransformation = 0;
  int SeparatePredictors = 0;
  int NrOfStudies = 0;
  // Study j is entry j of dataPaths and sdmPaths (always equally long). In an
  // "MTC" document leadingPaths has an entry per study too, empty when that
  // study's line carried only two paths; otherwise leadingPaths is empty.
  std::vector<std::optional<std::string>> leadingPaths;
  std::vector<std::string> dataPaths;
  std::vector<std::string> sdmPaths;

  bool isMtc() const { return TypeOfFunctionalData == "MTC"; }
};

}  // namespace tsl

#endif
