#include "designmatrix/mdm_document.h"

#include <algorithm>
#include <locale>
#include <ostream>
#include <sstream>

#include "designmatrix/atomic_file.h"
#include "designmatrix/io_error.h"
#include "designmatrix/text_file.h"

namespace tsl {
namespace {

// The header keys exactly cover this many tokens; a header with more tokens
// before "NrOfStudies:" ends early.
constexpr int kMaxHeaderTokens = 7;
constexpr const char* kEol = "\r\n";

bool isSeparator(char c) { return c == '/' || c == '\\'; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// Replaces the first prefixLength characters of text (all of it when shorter).
void replacePrefix(std::string& text, std::size_t prefixLength, const std::string& prefix) {
  text = prefix + (text.size() > prefixLength ? text.substr(prefixLength) : std::string());
}

class MdmReader {
 public:
  MdmReader(MdmDocument& document, std::string bytes) : doc_(document), in_(std::move(bytes)) {
    in_.imbue(std::locale::classic());
  }

  void read() {
    const bool haveStudies = readHeader();
    if (!haveStudies) fail("missing header key NrOfStudies");
    if (doc_.NrOfStudies < 0) {
      fail("NrOfStudies is negative (" + std::to_string(doc_.NrOfStudies) + ")");
    }
    if (doc_.NrOfStudies == 0) fail("NrOfStudies is 0, the file lists no studies");
    std::string line;
    std::getline(in_, line);
    // An exhausted file yields no more study lines; no need to go on counting
    // up to a large NrOfStudies.
    for (int j = 0; j < doc_.NrOfStudies && std::getline(in_, line); ++j) readStudyLine(line);
    if (doc_.sdmPaths.empty()) {
      fail("none of its study lines names a data file and an SDM file in double quotes");
    }
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw IOError("MDM file " + doc_.path + ": " + what);
  }

  void readInt(int& member, const std::string& key) {
    if (!(in_ >> member)) fail("value of " + key + " cannot be read as an integer");
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

  void readStudyLine(const std::string& line) {
    std::vector<std::size_t> quotes;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '"') quotes.push_back(i);
    }
    auto between = [&](std::size_t pair) {
      return line.substr(quotes[2 * pair] + 1, quotes[2 * pair + 1] - quotes[2 * pair] - 1);
    };
    if (doc_.isMtc() && quotes.size() == 6) {
      doc_.leadingPaths.emplace_back(between(0));
      doc_.dataPaths.push_back(between(1));
      doc_.sdmPaths.push_back(between(2));
    } else if (quotes.size() == 4) {
      if (doc_.isMtc()) doc_.leadingPaths.emplace_back(std::nullopt);
      doc_.dataPaths.push_back(between(0));
      doc_.sdmPaths.push_back(between(1));
    }
  }

  MdmDocument& doc_;
  std::istringstream in_;
};

std::string label(const char* text) {
  constexpr std::size_t kLabelWidth = 22;
  std::string padded = text;
  if (padded.size() < kLabelWidth) padded.append(kLabelWidth - padded.size(), ' ');
  return padded;
}

}  // namespace

MdmDocument::MdmDocument(const std::string& filePath) : path(filePath) {
  MdmReader(*this, readWholeFile(filePath)).read();
}

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

void MdmDocument::replaceStudyPrefixes(const std::string& oldSdmPath,
                                       const std::string& selectedPath) {
  const std::size_t oldLength = oldSdmPath.size();
  const std::size_t selectedLength = selectedPath.size();
  std::size_t common = 0;
  while (common < std::min(oldLength, selectedLength)) {
    const char a = oldSdmPath[oldLength - 1 - common];
    const char b = selectedPath[selectedLength - 1 - common];
    // The host's dialog answers with its own separators, the MDM may hold the
    // other kind; both name the same folders.
    if (a != b && !(isSeparator(a) && isSeparator(b))) break;
    ++common;
  }
  const std::string newPrefix = selectedPath.substr(0, selectedLength - common);
  const std::size_t oldPrefixLength = oldLength - common;
  for (std::size_t j = 0; j < sdmPaths.size(); ++j) {
    replacePrefix(sdmPaths[j], oldPrefixLength, newPrefix);
    if (j < dataPaths.size()) replacePrefix(dataPaths[j], oldPrefixLength, newPrefix);
    if (isMtc() && j < leadingPaths.size() && leadingPaths[j]) {
      replacePrefix(*leadingPaths[j], oldPrefixLength, newPrefix);
    }
  }
}

}  // namespace tsl
