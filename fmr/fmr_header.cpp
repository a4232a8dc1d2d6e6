#include "fmr/fmr_header.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <locale>
#include <sstream>
#include <type_traits>

#include "designmatrix/io_error.h"
#include "designmatrix/text_file.h"
#include "fmr/stc_reader.h"

namespace tsl {
namespace {

constexpr const char* kPositionBlockKey = "PositionInformationFromImageHeaders";
constexpr const char* kPositionBlockEnd = "GapThickness:";
constexpr const char* kSliceTimingKey = "SliceTimingTableSize:";

// The file's bytes, unchanged.
std::string readHeaderBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw OpenFileError("Failed opening for reading: " + path);
  std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (file.bad()) throw IOError("Failed reading FMR file: " + path);
  return bytes;
}

// The bytes without a byte-order mark and with every carriage return that
// precedes a line feed removed, so that both line-end conventions give the
// same tokens and texts.
std::string headerText(std::string_view bytes) {
  bytes = withoutByteOrderMark(bytes);
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

template <typename T>
constexpr const char* formName() {
  if constexpr (std::is_same_v<T, bool>) {
    return "0 or 1";
  } else if constexpr (std::is_same_v<T, int>) {
    return "an integer";
  } else {
    return "a number";
  }
}

class HeaderScanner {
 public:
  HeaderScanner(const std::string& text, FmrFileHeader& header)
      : text_(text), header_(header), in_(text) {
    in_.imbue(std::locale::classic());
  }

  bool good() const { return in_.good(); }

  // The next white-space separated token; empty at the end of the text.
  std::string nextToken() {
    std::string token;
    in_ >> token;
    return token;
  }

  // Characters not yet read; 0 once the stream has failed.
  std::size_t remaining() {
    const std::streamoff at = in_.fail() ? -1 : static_cast<std::streamoff>(in_.tellg());
    if (at < 0) return 0;
    return text_.size() - static_cast<std::size_t>(at);
  }

  template <typename T>
  void readIf(const std::string& token, const char* key, HeaderField<T>& field) {
    if (token == key) read(token, field);
  }

  template <typename T>
  void read(const std::string& token, HeaderField<T>& field) {
    startEntry(token, field);
    const std::streamoff at = position();
    // A local that starts at 0 holds what a failed extraction leaves, also
    // when the extraction could not start at all.
    T value{};
    in_ >> value;
    field.value = value;
    field.present = true;
    if (in_.fail()) noteUnread(field.name, "value of " + field.name, formName<T>(), at);
  }

  void read(const std::string& token, HeaderField<std::string>& field) {
    startEntry(token, field);
    std::string line;
    std::getline(in_, line);
    const std::size_t end = line.find_last_not_of(" \t");
    line.erase(end == std::string::npos ? 0 : end + 1);
    field.quoted = !line.empty() && line.front() == '"' && line.back() == '"';
    field.value = field.quoted ? line.substr(1, line.size() >= 2 ? line.size() - 2 : 0) : line;
    field.present = true;
  }

  // Number `index` (from 1) of the slice timing table.
  float readTableValue(int index) {
    const std::streamoff at = position();
    float value = 0.0f;
    in_ >> value;
    if (in_.fail()) {
      noteUnread("slice timing table",
                 "value " + std::to_string(index) + " of the slice timing table", formName<float>(),
                 at);
    }
    return value;
  }

 private:
  // Where the next extraction starts; -1 when the stream can read no more.
  std::streamoff position() { return in_.good() ? static_cast<std::streamoff>(in_.tellg()) : -1; }

  // Keeps what stood where the first failed extraction began, so that a
  // missing entry behind it can be explained. Nothing stands there when the
  // file ended.
  void noteUnread(const std::string& key, const std::string& what, const char* form,
                  std::streamoff at) {
    if (header_.unreadValue || at < 0) return;
    const auto begin = text_.find_first_not_of(" \t\n\r\v\f", static_cast<std::size_t>(at));
    if (begin == std::string::npos) return;
    const auto end = text_.find_first_of(" \t\n\r\v\f", begin);
    const std::string found =
        text_.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    header_.unreadValue = FmrFileHeader::UnreadValue{
        key, what + " cannot be read as " + form + " (found " + quotedExcerpt(found) + ")"};
  }

  // The entry's name is the key without its colon; its width is the column at
  // which the value starts (key length plus the blanks and tabs after it).
  template <typename Field>
  void startEntry(const std::string& token, Field& field) {
    field.name = token.substr(0, token.size() - 1);
    std::size_t width = token.size();
    while (in_.peek() == ' ' || in_.peek() == '\t') {
      in_.get();
      ++width;
    }
    field.width = static_cast<int>(std::min<std::size_t>(width, std::numeric_limits<int>::max()));
  }

  const std::string& text_;
  FmrFileHeader& header_;
  std::istringstream in_;
};

void readPositionBlock(HeaderScanner& scanner, std::string& token, FmrFileHeader& h) {
  while (scanner.good() && token != kPositionBlockEnd) {
    token = scanner.nextToken();
    scanner.readIf(token, "PosInfosVerified:", h.PosInfosVerified);
    scanner.readIf(token, "CoordinateSystem:", h.CoordinateSystem);
    scanner.readIf(token, "Slice1CenterX:", h.Slice1CenterX);
    scanner.readIf(token, "Slice1CenterY:", h.Slice1CenterY);
    scanner.readIf(token, "Slice1CenterZ:", h.Slice1CenterZ);
    scanner.readIf(token, "SliceNCenterX:", h.SliceNCenterX);
    scanner.readIf(token, "SliceNCenterY:", h.SliceNCenterY);
    scanner.readIf(token, "SliceNCenterZ:", h.SliceNCenterZ);
    scanner.readIf(token, "RowDirX:", h.RowDirX);
    scanner.readIf(token, "RowDirY:", h.RowDirY);
    scanner.readIf(token, "RowDirZ:", h.RowDirZ);
    scanner.readIf(token, "ColDirX:", h.ColDirX);
    scanner.readIf(token, "ColDirY:", h.ColDirY);
    scanner.readIf(token, "ColDirZ:", h.ColDirZ);
    scanner.readIf(token, "NRows:", h.NRows);
    scanner.readIf(token, "NCols:", h.NCols);
    scanner.readIf(token, "FoVRows:", h.FoVRows);
    scanner.readIf(token, "FoVCols:", h.FoVCols);
    scanner.readIf(token, "SliceThickness:", h.PositionSliceThickness);
    scanner.readIf(token, kPositionBlockEnd, h.GapThickness);
  }
}

void readSliceTimingTable(HeaderScanner& scanner, FmrFileHeader& h) {
  const int count = h.SliceTimingTableSize.value;
  if (h.SliceTimingTableSize.present && count > 0) {
    // Every number takes at least one character, so a larger count cannot be
    // real; refusing it keeps a damaged count from sizing the table.
    if (static_cast<std::size_t>(count) > scanner.remaining()) {
      throw IOError("FMR file " + h.path + ": SliceTimingTableSize " + std::to_string(count) +
                    " exceeds what the file holds");
    }
    h.sliceTimingTable.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) h.sliceTimingTable.push_back(scanner.readTableValue(i + 1));
  }
  // The host writes one more token after the table; it carries nothing read.
  scanner.nextToken();
}

}  // namespace

FmrFileHeader parseFmrFileHeader(std::string_view bytes, const std::string& path) {
  FmrFileHeader h;
  h.path = path;
  const std::string text = headerText(bytes);
  HeaderScanner scanner(text, h);
  while (scanner.good()) {
    std::string token = scanner.nextToken();
    scanner.readIf(token, "FileVersion:", h.FileVersion);
    scanner.readIf(token, "NrOfVolumes:", h.NrOfVolumes);
    scanner.readIf(token, "NrOfSlices:", h.NrOfSlices);
    scanner.readIf(token, "NrOfSkippedVolumes:", h.NrOfSkippedVolumes);
    scanner.readIf(token, "Prefix:", h.Prefix);
    scanner.readIf(token, "DataStorageFormat:", h.DataStorageFormat);
    scanner.readIf(token, "DataType:", h.DataType);
    scanner.readIf(token, "TR:", h.TR);
    scanner.readIf(token, "InterSliceTime:", h.InterSliceTime);
    scanner.readIf(token, "TimeResolutionVerified:", h.TimeResolutionVerified);
    scanner.readIf(token, "TE:", h.TE);
    scanner.readIf(token, "SliceAcquisitionOrder:", h.SliceAcquisitionOrder);
    scanner.readIf(token, "SliceAcquisitionOrderVerified:", h.SliceAcquisitionOrderVerified);
    scanner.readIf(token, "ResolutionX:", h.ResolutionX);
    scanner.readIf(token, "ResolutionY:", h.ResolutionY);
    scanner.readIf(token, "LoadAMRFile:", h.LoadAMRFile);
    scanner.readIf(token, "ShowAMRFile:", h.ShowAMRFile);
    scanner.readIf(token, "ImageIndex:", h.ImageIndex);
    scanner.readIf(token, "LayoutNColumns:", h.LayoutNColumns);
    scanner.readIf(token, "LayoutNRows:", h.LayoutNRows);
    scanner.readIf(token, "LayoutZoomLevel:", h.LayoutZoomLevel);
    scanner.readIf(token, "SegmentSize:", h.SegmentSize);
    scanner.readIf(token, "SegmentOffset:", h.SegmentOffset);
    scanner.readIf(token, "NrOfLinkedProtocols:", h.NrOfLinkedProtocols);
    scanner.readIf(token, "ProtocolFile:", h.ProtocolFile);
    scanner.readIf(token, "InplaneResolutionX:", h.InplaneResolutionX);
    scanner.readIf(token, "InplaneResolutionY:", h.InplaneResolutionY);
    scanner.readIf(token, "SliceThickness:", h.SliceThickness);
    scanner.readIf(token, "SliceGap:", h.SliceGap);
    scanner.readIf(token, "VoxelResolutionVerified:", h.VoxelResolutionVerified);
    if (token == kPositionBlockKey && scanner.good()) readPositionBlock(scanner, token, h);
    scanner.readIf(token, "NrOfPastSpatialTransformations:", h.NrOfPastSpatialTransformations);
    scanner.readIf(token, "LeftRightConvention:", h.LeftRightConvention);
    scanner.readIf(token, "FirstDataSourceFile:", h.FirstDataSourceFile);
    scanner.readIf(token, "MultibandSequence:", h.MultibandSequence);
    if (token == kSliceTimingKey) {
      scanner.read(token, h.SliceTimingTableSize);
      readSliceTimingTable(scanner, h);
    }
  }
  return h;
}

FmrFileHeader readFmrFileHeader(const std::string& path, bool readData) {
  FmrFileHeader h = parseFmrFileHeader(readHeaderBytes(path), path);
  if (readData) readStcData(h);
  return h;
}

}  // namespace tsl
