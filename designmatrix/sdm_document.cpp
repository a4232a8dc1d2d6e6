#include "designmatrix/sdm_document.h"

#include <charconv>
#include <cstdint>
#include <istream>
#include <locale>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "designmatrix/atomic_file.h"
#include "designmatrix/io_error.h"
#include "designmatrix/text_file.h"

namespace tsl {
namespace {

constexpr int kDefaultKeyWidth = 24;
constexpr int kWrittenDecimals = 6;
constexpr const char* kEol = "\r\n";

// Line ends of either platform: getline leaves the carriage return of a CRLF
// file at the end of the line.
void stripCarriageReturn(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isNumberCharacter(char c) {
  return isDigit(c) || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

class SdmReader {
 public:
  SdmReader(SdmDocument& document, std::string_view bytes)
      : doc_(document), fileSize_(bytes.size()), in_(std::string(bytes)) {
    in_.imbue(std::locale::classic());
  }

  void read() {
    readHeader();
    checkCounts();
    const auto predictors = static_cast<std::size_t>(doc_.NrOfPredictors.value);
    doc_.red.assign(predictors, 0);
    doc_.green.assign(predictors, 0);
    doc_.blue.assign(predictors, 0);
    readColours(predictors);
    readNames(predictors);
    readDataRows(predictors);
  }

 private:
  std::string prefix() const { return "SDM file " + doc_.path + ": "; }

  [[noreturn]] void fail(const std::string& what) const { throw IOError(prefix() + what); }

  // The key token has been read; take its name, the column at which the
  // value begins, and the value.
  template <typename T>
  void readEntry(HeaderField<T>& field, const std::string& token, const char* expected) {
    field.name = token.substr(0, token.size() - 1);
    field.width = static_cast<int>(token.size());
    for (int c = in_.peek(); c == ' ' || c == '\t'; c = in_.peek()) {
      in_.get();
      ++field.width;
    }
    T value{};
    if (!(in_ >> value)) fail("value of " + field.name + " cannot be read as " + expected);
    field.value = value;
    field.present = true;
  }

  void readHeader() {
    std::string token;
    for (;;) {
      if (!(in_ >> token)) fail("missing header key FirstConfoundPredictor");
      if (token == "FileVersion:") {
        readEntry(doc_.FileVersion, token, "an integer");
      } else if (token == "NrOfPredictors:") {
        readEntry(doc_.NrOfPredictors, token, "an integer");
      } else if (token == "NrOfDataPoints:") {
        readEntry(doc_.NrOfDataPoints, token, "an integer");
      } else if (token == "IncludesConstant:") {
        readEntry(doc_.IncludesConstant, token, "0 or 1");
      } else if (token == "FirstConfoundPredictor:") {
        readEntry(doc_.FirstConfoundPredictor, token, "an integer");
        return;
      }
    }
  }

  // Counts come from the file: nothing is sized by them before they are known
  // to fit it. Every value of a data row takes at least one byte, and so does
  // every (empty) row of a document without predictors.
  void checkCounts() const {
    if (!doc_.NrOfPredictors.present) fail("missing header key NrOfPredictors");
    if (!doc_.NrOfDataPoints.present) fail("missing header key NrOfDataPoints");
    const int predictors = doc_.NrOfPredictors.value;
    const int points = doc_.NrOfDataPoints.value;
    if (predictors < 0) fail("NrOfPredictors is negative (" + std::to_string(predictors) + ")");
    if (points < 0) fail("NrOfDataPoints is negative (" + std::to_string(points) + ")");
    const std::string inFile = " than a file of " + std::to_string(fileSize_) + " bytes can hold";
    if (static_cast<std::uint64_t>(predictors) > fileSize_) {
      fail("NrOfPredictors " + std::to_string(predictors) + " announces more predictors" + inFile);
    }
    const auto perRow = static_cast<std::uint64_t>(predictors > 0 ? predictors : 1);
    if (perRow * static_cast<std::uint64_t>(points) > fileSize_) {
      fail("NrOfDataPoints " + std::to_string(points) + " announces more data rows" + inFile);
    }
  }

  // The red component of the next triple is read before the count is checked,
  // so one more integer read is tried after the last triple; on a well-formed
  // file it fails at the opening quote of the names line without consuming it.
  void readColours(std::size_t predictors) {
    std::size_t k = 0;
    int component = 0;
    while (in_ >> component) {
      if (k >= predictors) break;
      doc_.red[k] = component;
      if (in_ >> component) doc_.green[k] = component;
      if (in_ >> component) doc_.blue[k] = component;
      ++k;
    }
    in_.clear();
  }

  void readNames(std::size_t predictors) {
    std::string line;
    std::getline(in_, line);
    if (line.find('"') == std::string::npos) std::getline(in_, line);
    stripCarriageReturn(line);
    doc_.names.assign(predictors, "NoName");
    std::size_t from = 0;
    for (std::size_t k = 0; k < predictors; ++k) {
      const auto open = line.find('"', from);
      if (open == std::string::npos) break;
      const auto close = line.find('"', open + 1);
      if (close == std::string::npos) break;
      doc_.names[k] = line.substr(open + 1, close - open - 1);
      from = close + 1;
    }
  }

  void readDataRows(std::size_t predictors) {
    doc_.columns.clear();
    // Without predictors there is no value to read; a written document of
    // that kind holds only empty rows.
    if (predictors == 0) return;
    const auto points = static_cast<std::size_t>(doc_.NrOfDataPoints.value);
    doc_.columns.assign(predictors, std::vector<float>(points, 0.0f));
    std::string line;
    std::size_t row = 0;
    while (row < points) {
      if (!std::getline(in_, line)) {
        fail("holds " + std::to_string(row) + " data rows, the header announces " +
             std::to_string(points));
      }
      if (line.find_first_not_of(" \t\r\n\v\f") == std::string::npos) continue;
      readRow(line, row, predictors);
      ++row;
    }
  }

  // Splits a row into numbers: white space separates them, and so does a sign
  // that follows a digit or a decimal point ("0.0310625-0.000387509"); a sign
  // after an exponent's 'e' belongs to its number.
  void readRow(const std::string& line, std::size_t row, std::size_t predictors) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < line.size()) {
      if (isBlank(line[i])) {
        ++i;
        continue;
      }
      std::size_t end = i + 1;
      while (end < line.size() && !isBlank(line[end])) {
        const char c = line[end];
        const char before = line[end - 1];
        if ((c == '+' || c == '-') && (isDigit(before) || before == '.')) break;
        if (!isNumberCharacter(c) || !isNumberCharacter(before)) {
          // Text that is not a number is quoted whole, up to the next blank.
          while (end < line.size() && !isBlank(line[end])) ++end;
          break;
        }
        ++end;
      }
      const float value = parseNumber(line.substr(i, end - i), row);
      if (count < predictors) doc_.columns[count][row] = value;
      ++count;
      i = end;
    }
    if (count != predictors) {
      fail("data row " + std::to_string(row + 1) + " holds " + std::to_string(count) +
           " values, expected " + std::to_string(predictors));
    }
  }

  float parseNumber(const std::string& text, std::size_t row) const {
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes no plus sign; the text-to-float conversion did.
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+') {
      ++first;
    }
    bool number = first != last;
    for (const char* c = first; c != last; ++c) number = number && isNumberCharacter(*c);
    float value = 0.0f;
    if (number) {
      const auto result = std::from_chars(first, last, value);
      if (result.ec == std::errc::result_out_of_range && result.ptr == last) {
        fail("data row " + std::to_string(row + 1) + " holds " + quotedExcerpt(text) +
             ", which is outside the float range");
      }
      number = result.ec == std::errc() && result.ptr == last;
    }
    if (!number) {
      fail("data row " + std::to_string(row + 1) + " holds " + quotedExcerpt(text) +
           ", which is not a number");
    }
    return value;
  }

  SdmDocument& doc_;
  std::uint64_t fileSize_;
  std::istringstream in_;
};

template <typename T>
HeaderField<T> defaultEntry(const char* name, T value) {
  HeaderField<T> field;
  field.name = name;
  field.value = value;
  field.width = kDefaultKeyWidth;
  field.present = true;
  return field;
}

// The key padded to its width. A value written right after the colon would
// become part of the key's token and the key would not be found again, so at
// least one blank always follows.
std::string keyText(const std::string& name, int width) {
  std::string key = name + ":";
  const std::size_t padded = width > 0 ? static_cast<std::size_t>(width) : 0;
  key.append(padded > key.size() ? padded - key.size() : 1, ' ');
  return key;
}

void writeEntry(std::ostream& out, const HeaderField<int>& field, int lineEnds) {
  if (!field.present) return;
  out << keyText(field.name, field.width) << std::to_string(field.value);
  for (int i = 0; i < lineEnds; ++i) out << kEol;
}

void writeEntry(std::ostream& out, const HeaderField<bool>& field, int lineEnds) {
  if (!field.present) return;
  out << keyText(field.name, field.width) << (field.value ? "1" : "0");
  for (int i = 0; i < lineEnds; ++i) out << kEol;
}

// Fixed point with six decimals, as printf's "%.6f" of the value, without
// looking at any locale.
void appendFixed(std::string& text, float value) {
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed,
                                    kWrittenDecimals);
  text.append(digits, result.ptr);
}

}  // namespace

SdmDocument::SdmDocument()
    : FileVersion(defaultEntry("FileVersion", 1)),
      NrOfPredictors(defaultEntry("NrOfPredictors", 0)),
      NrOfDataPoints(defaultEntry("NrOfDataPoints", 0)),
      IncludesConstant(defaultEntry("IncludesConstant", false)),
      FirstConfoundPredictor(defaultEntry("FirstConfoundPredictor", 0)) {}

SdmDocument::SdmDocument(std::string_view bytes, const std::string& filePath) : path(filePath) {
  FileVersion.value = -1;
  SdmReader(*this, withoutByteOrderMark(bytes)).read();
}

SdmDocument SdmDocument::parse(std::string_view bytes, const std::string& filePath) {
  return SdmDocument(bytes, filePath);
}

SdmDocument::SdmDocument(const std::string& filePath)
    : SdmDocument(readWholeFile(filePath), filePath) {}

void SdmDocument::addPredictor(std::vector<float> column, std::string name, int r, int g, int b) {
  if (NrOfDataPoints.value < 0 || column.size() != static_cast<std::size_t>(NrOfDataPoints.value)) {
    return;
  }
  columns.push_back(std::move(column));
  names.push_back(std::move(name));
  red.push_back(r);
  green.push_back(g);
  blue.push_back(b);
  NrOfPredictors.value = static_cast<int>(columns.size());
}

void SdmDocument::clearPredictors() {
  columns.clear();
  names.clear();
  red.clear();
  green.clear();
  blue.clear();
  NrOfPredictors.value = 0;
  FirstConfoundPredictor.value = 1;
  IncludesConstant.value = false;
}

void SdmDocument::writeToFile(const std::string& filePath) {
  path = filePath;
  writeFileAtomically(filePath, [this](std::ostream& out) { write(out); });
}

void SdmDocument::write(std::ostream& out) const {
  // The writer loops over the header counts; a document that breaks the
  // invariant is a programming error, not something to write half of.
  const int predictors = NrOfPredictors.value;
  const int points = NrOfDataPoints.value;
  bool sound = predictors >= 0 && points >= 0;
  if (sound) {
    const auto n = static_cast<std::size_t>(predictors);
    sound = columns.size() == n && names.size() == n && red.size() == n && green.size() == n &&
            blue.size() == n;
    for (const auto& column : columns)
      sound = sound && column.size() == static_cast<std::size_t>(points);
  }
  if (!sound) {
    throw std::logic_error("SDM document " + path +
                           ": predictor lists do not match the header counts");
  }

  writeEntry(out, FileVersion, 2);
  writeEntry(out, NrOfPredictors, 1);
  writeEntry(out, NrOfDataPoints, 1);
  writeEntry(out, IncludesConstant, 1);
  writeEntry(out, FirstConfoundPredictor, 2);

  std::string line;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (k > 0) line += "   ";
    line += std::to_string(red[k]) + " " + std::to_string(green[k]) + " " + std::to_string(blue[k]);
  }
  out << line << kEol;

  line.clear();
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) line += " ";
    line += "\"" + names[k] + "\"";
  }
  out << line << kEol;

  for (std::size_t i = 0; i < static_cast<std::size_t>(points); ++i) {
    line.clear();
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const float value = columns[k][i];
      line += k == 0 ? " " : "  ";
      // The extra blank follows the comparison, not the printed sign: -0.0
      // gets it, a tiny negative value that prints as "-0.000000" does not.
      if (value >= 0.0f) line += " ";
      appendFixed(line, value);
    }
    out << line << kEol;
  }
}

}  // namespace tsl
