#include "designmatrix/mdm_document.h"

#include <algorithm>
#include <locale>
#include <ostream>
#include <sstream>

#include "designmatrix/atomic_file.h"
#include "designmatrix/io_error.h"
#include "designmatrix/path_functions.h"
#include "designmatrix/text_file.h"

namespace tsl {
namespace {

// The header keys exactly cover this many tokens; a header with more tokens
// before "NrOfStudies:" ends early.
constexpr int kMaxHeaderTokens = 7;
constexpr const char* kEol = "\r\n";
// A study line quotes a data file and an SDM file; in an "MTC" document it
// may quote a leading file first.
constexpr std::size_t kStudyQuotes = 4;
constexpr std::size_t kMtcStudyQuotes = 6;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

bool sameCharacter(char a, char b) { return a == b || (isPathSeparator(a) && isPathSeparator(b)); }

// Windows folder names ignore letter case, and MDMs edited by hand mix
// C:\Data and c:\data. A wrong match on a case-sensitive system cannot go
// unnoticed: every moved study must then be found.
bool sameFolderCharacter(char a, char b) { return sameCharacter(lowerAscii(a), lowerAscii(b)); }

// text begins with the folder: its characters as sameFolderCharacter compares
// them, followed by a separator or the end of text (unless folder is empty or
// ends in one itself). "C:/old/anna" does not hold "C:/old/annabel/run1.sdm".
bool beginsWithFolder(const std::string& text, const std::string& folder) {
  if (text.size() < folder.size() ||
      !std::equal(folder.begin(), folder.end(), text.begin(), sameFolderCharacter))
    return false;
  return folder.empty() || isPathSeparator(folder.back()) || text.size() == folder.size() ||
         isPathSeparator(text[folder.size()]);
}

// A path elsewhere stays: the user has shown the new place of this folder
// only. The part a moved path keeps takes the separator of the user's answer,
// so an MDM written on Windows and moved to a Linux mount names files that
// open; the new folder stays as the user's answer wrote it.
void applyMove(std::string& text, const MdmDocument::StudyMove& studyMove, char separator) {
  if (!beginsWithFolder(text, studyMove.from)) return;
  std::string kept = text.substr(studyMove.from.size());
  if (separator != '\0') {
    for (char& c : kept) {
      if (isPathSeparator(c)) c = separator;
    }
  }
  text = studyMove.to + kept;
}

// The separator the path uses last; '\0' when it has none.
char lastSeparatorOf(const std::string& path) {
  const auto at = path.find_last_of("/\\");
  return at == std::string::npos ? '\0' : path[at];
}

class MdmReader {
 public:
  MdmReader(MdmDocument& document, std::string_view bytes)
      : doc_(document), bytes_(bytes), in_(std::string(bytes)) {
    in_.imbue(std::locale::classic());
  }

  void read() {
    const bool haveStudies = readHeader();
    if (!haveStudies) fail("missing header key NrOfStudies");
    if (doc_.NrOfStudies < 0) {
      fail("NrOfStudies is negative (" + std::to_string(doc_.NrOfStudies) + ")");
    }
    if (doc_.NrOfStudies == 0) fail("NrOfStudies is 0, the file lists no studies");
    if (in_.good()) lineNumber_ = lineNumberAt(in_.tellg());
    std::string line;
    std::getline(in_, line);
    // Every line after the count is a study line or blank: a study listed
    // beyond the count would otherwise drop out of every model unseen.
    while (std::getline(in_, line)) {
      ++lineNumber_;
      if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
      if (!readStudyLine(line)) {
        fail("line " + std::to_string(lineNumber_) +
             " does not name a data file and an SDM file in double quotes");
      }
    }
    const auto wanted = static_cast<std::size_t>(doc_.NrOfStudies);
    if (doc_.sdmPaths.size() != wanted) {
      const std::size_t found = doc_.sdmPaths.size();
      fail("NrOfStudies is " + std::to_string(wanted) + ", but the file lists " +
           std::to_string(found) + (found == 1 ? " study" : " studies"));
    }
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw IOError("MDM file " + doc_.path + ": " + what);
  }

  void readInt(int& member, const std::string& key) {
    if (!(in_ >> member)) fail("value of " + key + " cannot be read as an integer");
  }

  // The 1-based number of the line that holds byte offset at.
  std::size_t lineNumberAt(std::streamoff at) const {
    const auto end = bytes_.begin() + static_cast<std::ptrdiff_t>(at);
    return 1 + static_cast<std::size_t>(std::count(bytes_.begin(), end, '\n'));
  }

  // Returns true when "NrOfStudies:" and its value were read.
  bool readHeader() {
    std::string token;
    for (int tokens = 0; tokens < kMaxHeaderTokens && in_ >> token; ++tokens) {
      if (token == "FileVersion:") {
        readInt(doc_.FileVersion, "FileVersion");
      } else if (token == "TypeOfFunctionalData:") {
        if (!(in_ >> doc_.TypeOfFunctionalData)) fail("value of TypeOfFunctionalData is missing");
      } else if (token == "RFX-GLM:") {
        readInt(doc_.RFX_GLM, "RFX-GLM");
      } else if (token == "PSCTransformation:") {
        readInt(doc_.PSCTransformation, "PSCTransformation");
      } else if (token == "zTransformation:") {
        readInt(doc_.zTransformation, "zTransformation");
      } else if (token == "SeparatePredictors:") {
        readInt(doc_.SeparatePredictors, "SeparatePredictors");
      } else if (token == "NrOfStudies:") {
        readInt(doc_.NrOfStudies, "NrOfStudies");
        return true;
      }
    }
    return false;
  }

  // Returns false, adding nothing, when the line does not hold the quoted
  // paths of a study.
  bool readStudyLine(const std::string& line) {
    std::vector<std::size_t> quotes;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quotes.push_back(i);
    }
    auto between = [&](std::size_t pair) {
      return line.substr(quotes[2 * pair] + 1, quotes[2 * pair + 1] - quotes[2 * pair] - 1);
    };
    if (doc_.isMtc() && quotes.size() == kMtcStudyQuotes) {
      doc_.leadingPaths.emplace_back(between(0));
      doc_.dataPaths.push_back(between(1));
      doc_.sdmPaths.push_back(between(2));
      return true;
    }
    if (quotes.size() != kStudyQuotes) return false;
    if (doc_.isMtc()) doc_.leadingPaths.emplace_back(std::nullopt);
    doc_.dataPaths.push_back(between(0));
    doc_.sdmPaths.push_back(between(1));
    return true;
  }

  MdmDocument& doc_;
  std::string_view bytes_;
  std::istringstream in_;
  // The number of the line getline read last.
  std::size_t lineNumber_ = 0;
};

std::string label(const char* text) {
  constexpr std::size_t kLabelWidth = 22;
  std::string padded = text;
  if (padded.size() < kLabelWidth) padded.append(kLabelWidth - padded.size(), ' ');
  return padded;
}

}  // namespace

MdmDocument::MdmDocument(std::string_view bytes, const std::string& filePath) : path(filePath) {
  MdmReader(*this, withoutByteOrderMark(bytes)).read();
}

MdmDocument MdmDocument::parse(std::string_view bytes, const std::string& filePath) {
  return MdmDocument(bytes, filePath);
}

MdmDocument::MdmDocument(const std::string& filePath)
    : MdmDocument(readWholeFile(filePath), filePath) {}

void MdmDocument::writeToFile() const {
  writeFileAtomically(path, [this](std::ostream& out) { write(out); });
}

void MdmDocument::write(std::ostream& out) const {
  out << kEol;
  out << label("FileVersion:") << std::to_string(FileVersion) << kEol;
  out << label("TypeOfFunctionalData:") << TypeOfFunctionalData << kEol << kEol;
  out << label("RFX-GLM:") << std::to_string(RFX_GLM) << kEol << kEol;
  out << label("PSCTransformation:") << std::to_string(PSCTransformation) << kEol;
  out << label("zTransformation:") << std::to_string(zTransformation) << kEol;
  out << label("SeparatePredictors:") << std::to_string(SeparatePredictors) << kEol << kEol;
  out << label("NrOfStudies:") << std::to_string(NrOfStudies) << kEol;
  const std::size_t studies = std::min(dataPaths.size(), sdmPaths.size());
  for (std::size_t j = 0; j < studies; ++j) {
    if (isMtc() && j < leadingPaths.size() && leadingPaths[j]) {
      out << quoted(*leadingPaths[j]) << "  ";
    }
    out << quoted(dataPaths[j]) << "  " << quoted(sdmPaths[j]) << kEol;
  }
}

std::string MdmDocument::resolveStudyPath(const std::string& written) const {
  return isRelativePath(written) ? directoryOf(path) + written : written;
}

std::optional<std::string> MdmDocument::findStudySdm(std::size_t j) const {
  std::string sdm = resolveStudyPath(sdmPaths.at(j));
  if (canOpenForReading(sdm)) return sdm;
  return std::nullopt;
}

MdmDocument::StudyMove MdmDocument::replaceStudyPrefixes(const std::string& oldSdmPath,
                                                         const std::string& selectedPath) {
  const std::size_t oldLength = oldSdmPath.size();
  const std::size_t selectedLength = selectedPath.size();
  std::size_t common = 0;
  // The host's dialog answers with its own separators, the MDM may hold the
  // other kind; both name the same folders.
  while (common < std::min(oldLength, selectedLength) &&
         sameCharacter(oldSdmPath[oldLength - 1 - common],
                       selectedPath[selectedLength - 1 - common])) {
    ++common;
  }
  // The shared part starts at a folder boundary: with anna/run1.sdm moved to
  // hanna/run1.sdm the folder anna became hanna, not "" became "h".
  while (common > 0 && common < oldLength && common < selectedLength &&
         !isPathSeparator(oldSdmPath[oldLength - common])) {
    --common;
  }
  const StudyMove studyMove{oldSdmPath.substr(0, oldLength - common),
                            selectedPath.substr(0, selectedLength - common)};
  const char separator = lastSeparatorOf(selectedPath);
  for (std::string* studyPath : studyPaths()) applyMove(*studyPath, studyMove, separator);
  return studyMove;
}

MdmDocument::StudyMove MdmDocument::moveStudies(const std::string& oldSdmPath,
                                                const std::string& selectedPath) {
  // Relative paths move as the files they name, then go back to being
  // relative to the MDM's folder when they still lie in it.
  const std::string folder = directoryOf(path);
  std::vector<std::string*> relative;
  for (std::string* studyPath : studyPaths()) {
    if (!isRelativePath(*studyPath)) continue;
    *studyPath = folder + *studyPath;
    relative.push_back(studyPath);
  }
  const StudyMove studyMove = replaceStudyPrefixes(oldSdmPath, selectedPath);
  for (std::string* studyPath : relative) {
    if (beginsWithFolder(*studyPath, folder)) *studyPath = studyPath->substr(folder.size());
  }
  return studyMove;
}

std::vector<std::string*> MdmDocument::studyPaths() {
  std::vector<std::string*> paths;
  for (std::size_t j = 0; j < sdmPaths.size(); ++j) {
    paths.push_back(&sdmPaths[j]);
    if (j < dataPaths.size()) paths.push_back(&dataPaths[j]);
    if (isMtc() && j < leadingPaths.size() && leadingPaths[j]) paths.push_back(&*leadingPaths[j]);
  }
  return paths;
}

}  // namespace tsl
