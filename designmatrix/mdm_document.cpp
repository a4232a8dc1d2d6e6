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

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

bool sameCharacter(char a, char b) { return a == b || (isSeparator(a) && isSeparator(b)); }

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows folder names ignore letter case, and MDMs edited by hand mix
// C:\Data and c:\data. A wrong match on a case-sensitive system cannot go
// unnoticed: every moved study must then be found.
bool sameFolderCharacter(char a, char b) { return sameCharacter(asciiLower(a), asciiLower(b)); }

// A path elsewhere stays: the user has shown the new place of this folder
// only. The folder is matched whole: "C:/old/anna" does not hold
// "C:/old/annabel/run1.sdm".
void applyMove(std::string& text, const MdmDocument::StudyMove& studyMove) {
  const std::string& from = studyMove.from;
  if (text.size() < from.size() ||
      !std::equal(from.begin(), from.end(), text.begin(), sameFolderCharacter))
    return;
  const bool wholeFolder = from.empty() || isSeparator(from.back()) || text.size() == from.size() ||
                           isSeparator(text[from.size()]);
  if (wholeFolder) text = studyMove.to + text.substr(from.size());
}

// A rooted path ("/x", "\\server\x") or one on a drive ("C:x", "C:\x") names
// no place inside the MDM's folder.
bool isRelative(const std::string& text) {
  const bool drive = text.size() >= 2 && text[1] == ':' &&
                     ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  return !text.empty() && !isSeparator(text[0]) && !drive;
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
    // An exhausted file yields no more study lines; no need to go on counting
    // up to a large NrOfStudies.
    const auto wanted = static_cast<std::size_t>(doc_.NrOfStudies);
    while (doc_.sdmPaths.size() < wanted && std::getline(in_, line)) {
      ++lineNumber_;
      if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
      if (!readStudyLine(line)) {
        fail("line " + std::to_string(lineNumber_) +
             " does not name a data file and an SDM file in double quotes");
      }
    }
    if (doc_.sdmPaths.size() < wanted) {
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

std::optional<std::string> MdmDocument::findStudySdm(std::size_t j) const {
  const std::string& written = sdmPaths.at(j);
  if (canOpenForReading(written)) return written;
  if (!isRelative(written)) return std::nullopt;
  const std::string besideMdm = directoryOf(path) + written;
  if (canOpenForReading(besideMdm)) return besideMdm;
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
         !isSeparator(oldSdmPath[oldLength - common])) {
    --common;
  }
  const StudyMove studyMove{oldSdmPath.substr(0, oldLength - common),
                            selectedPath.substr(0, selectedLength - common)};
  for (std::size_t j = 0; j < sdmPaths.size(); ++j) {
    applyMove(sdmPaths[j], studyMove);
    if (j < dataPaths.size()) applyMove(dataPaths[j], studyMove);
    if (isMtc() && j < leadingPaths.size() && leadingPaths[j])
      applyMove(*leadingPaths[j], studyMove);
  }
  return studyMove;
}

}  // namespace tsl
