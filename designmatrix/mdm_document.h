// A multi-study design matrix (.mdm): a short header and one line per study
// (run) naming, in double quotes, the run's functional data file and its SDM
// file; documents of mesh time courses ("MTC") name a third, leading file
// first.
#ifndef TESSEL_DESIGNMATRIX_MDM_DOCUMENT_H
#define TESSEL_DESIGNMATRIX_MDM_DOCUMENT_H

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tsl {

// Asks the user for a file: (caption, initial folder, filter) -> the chosen
// path, or nothing when the user cancelled.
using FileChooser = std::function<std::optional<std::string>(
    const std::string& caption, const std::string& initialFolder, const std::string& filter)>;

// Receives one line for the log (without the display name and ">  ").
using LogNote = std::function<void(const std::string& message)>;

// How a reader that may need the user reaches the user.
struct UserAccess {
  FileChooser chooseFile;
  LogNote log;
};

class MdmDocument {
 public:
  // Parses the bytes of an MDM file; a UTF-8 byte-order mark at their start
  // is skipped. The header is read from at most seven tokens and ends after
  // "NrOfStudies:" and its value. Every later line is blank or a study line,
  // which must hold exactly four double quotes (or six in an "MTC" document).
  // Absent integer keys read as 0, an absent FileVersion as -1. path names
  // the file: it becomes the document's path (the folder relative study paths
  // are relative to) and stands in every message.
  // Throws IOError "MDM file <path>: <problem>" when a header value cannot be
  // read, "NrOfStudies:" is missing, negative or 0, a line lacks the quoted
  // paths (naming its 1-based line number), or the file lists more or fewer
  // studies than NrOfStudies (naming both counts).
  static MdmDocument parse(std::string_view bytes, const std::string& path);

  // Reads the file at path and parses its bytes (parse). Throws
  // OpenFileError ("Failed opening for reading: " + path) when the file
  // cannot be opened, IOError ("Failed reading file: " + path) when reading
  // fails, and what parse throws.
  explicit MdmDocument(const std::string& path);

  // Writes the document to path, complete or not at all: labels padded to 22
  // characters, CRLF line ends, NrOfStudies as stored. Throws
  // std::runtime_error ("Cannot Create file: " + path) or IOError as
  // writeFileAtomically does; an existing file is then left untouched.
  void writeToFile() const;

  // Writes the document in the file format to an open stream.
  void write(std::ostream& out) const;

  // Where a study file written as written lies: a relative path (no leading
  // "/" or "\", no drive letter) is relative to the MDM's own folder, never
  // to the process's working folder; other paths stay as written.
  std::string resolveStudyPath(const std::string& written) const;

  // resolveStudyPath of study j's SDM path when that file opens for reading;
  // std::nullopt when it does not.
  // REQUIRES: j < sdmPaths.size().
  std::optional<std::string> findStudySdm(std::size_t j) const;

  // Makes sure the studies' SDM files can be found. When the first one is
  // found (findStudySdm), returns true and changes nothing. Otherwise asks
  // the user (user.chooseFile: "SDM not found. Select <name> manually.", the
  // MDM's folder, "Single Subject Desgin Matrix (<name>)") for that file; on a
  // usable answer moves the studies (moveStudies), requires every
  // study's SDM file to be found at its new path, rewrites the MDM file
  // (writeToFile), notes one line (user.log, when set): "MDM file <path>:
  // studies moved from "<from>" to "<to>", MDM file saved", and returns true.
  // Returns false, changing nothing, when the user cancels, picks a path
  // shorter than the missing file's name, or cannot be asked (no chooseFile).
  // Throws IOError "MDM file <path>: study <j> (<sdm path>) cannot be found
  // after moving the studies from "<from>" to "<to>"" for the first study (j
  // counted from 1) still missing after the move; the document and its file
  // are then left as they were. Throws what writeToFile throws.
  bool relocateStudyPaths(const UserAccess& user);

  // The folders a relocation moves between: a study path that begins with
  // from begins with to after the move.
  struct StudyMove {
    std::string from;
    std::string to;
  };

  // The path rewrite of relocateStudyPaths, without asking or checking: n is
  // the length of the common suffix of oldSdmPath and selectedPath (compared
  // from their ends, "/" and "\" counting as the same character), shortened
  // until it starts with a separator or takes a whole path; from is the
  // first oldSdmPath.size() - n characters of oldSdmPath, to the first
  // selectedPath.size() - n characters of selectedPath. Every study path (the
  // data and leading paths too) that begins with the folder from ("/" and "\"
  // again alike, ASCII letters in either case; a separator or the path's end
  // follows it) gets that beginning replaced by to, and every separator in
  // the rest replaced by the one selectedPath uses last (none when it has
  // none); other paths stay as they are. Paths are taken as written. Returns
  // the move.
  StudyMove replaceStudyPrefixes(const std::string& oldSdmPath, const std::string& selectedPath);

  // replaceStudyPrefixes on the studies' files where they lie: relative paths
  // are first resolved (resolveStudyPath), moved with the others, and written
  // relative to the MDM's folder again when they still lie in it (absolute
  // otherwise). oldSdmPath is the resolved path of the missing file.
  StudyMove moveStudies(const std::string& oldSdmPath, const std::string& selectedPath);

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

 private:
  MdmDocument(std::string_view bytes, const std::string& path);
  // Every study path there is: SDM, data and leading paths.
  std::vector<std::string*> studyPaths();
};

}  // namespace tsl

#endif
