#include "examples/run_file_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <stdexcept>

namespace tsl {
namespace {

// The host lines its values up at this column; longer keys get one blank.
constexpr std::size_t kValueColumn = 30;
constexpr int kInt16Min = -32768;
constexpr int kInt16Max = 32767;

class HeaderWriter {
 public:
  explicit HeaderWriter(bool crlf) : eol_(crlf ? "\r\n" : "\n") {
    out_.imbue(std::locale::classic());
    out_.setf(std::ios::fixed);
    out_.precision(6);
  }

  template <typename T>
  void entry(const std::string& key, const T& value) {
    out_ << key;
    const std::size_t keyLength = key.size();
    out_ << std::string(keyLength < kValueColumn ? kValueColumn - keyLength : 1, ' ');
    out_ << value << eol_;
  }

  void text(const std::string& key, const std::string& value, bool quoted) {
    entry(key, quoted ? "\"" + value + "\"" : value);
  }

  void line(const std::string& text = "") { out_ << text << eol_; }

  std::ostringstream& stream() { return out_; }
  std::string str() const { return out_.str(); }

 private:
  std::ostringstream out_;
  std::string eol_;
};

// Writes bytes to a temporary file beside path and renames it over path once
// the stream reported no error, so that a failure leaves no partial file.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& path)
      : path_(path),
        temporary_(path + ".partial"),
        out_(temporary_, std::ios::binary | std::ios::trunc) {
    if (!out_) throw std::runtime_error("Cannot Create file: " + path_);
  }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() {
    if (!committed_) {
      out_.close();
      std::error_code ignored;
      std::filesystem::remove(temporary_, ignored);
    }
  }

  void write(const char* bytes, std::size_t count) {
    out_.write(bytes, static_cast<std::streamsize>(count));
  }

  void commit() {
    out_.close();
    if (!out_) throw std::runtime_error("Failed writing file: " + path_);
    std::error_code error;
    std::filesystem::rename(temporary_, path_, error);
    if (error) throw std::runtime_error("Failed writing file: " + path_ + ": " + error.message());
    committed_ = true;
  }

 private:
  std::string path_;
  std::string temporary_;
  std::ofstream out_;
  bool committed_ = false;
};

std::int16_t toInt16(float value) {
  if (std::isnan(value)) return 0;
  const float clamped =
      std::clamp(value, static_cast<float>(kInt16Min), static_cast<float>(kInt16Max));
  return static_cast<std::int16_t>(std::lround(clamped));
}

}  // namespace

std::string fmrHeaderText(const FmrLayout& run) {
  HeaderWriter w(run.crlf);
  const int interSliceTime = run.interSliceTime != 0
                                 ? run.interSliceTime
                                 : (run.slices > 0 ? run.tr / run.slices : run.tr);
  const float sliceDistance = run.sliceThickness + run.sliceGap;
  const float halfStack =
      run.slices > 0 ? static_cast<float>(run.slices - 1) * sliceDistance * 0.5f : 0.0f;

  w.line();
  w.entry("FileVersion:", run.fileVersion);
  w.line();
  w.entry("NrOfVolumes:", run.volumes);
  w.entry("NrOfSlices:", run.slices);
  w.entry("NrOfSkippedVolumes:", 0);
  w.text("Prefix:", run.prefix, run.quotedPrefix);
  w.entry("DataStorageFormat:", run.dataStorageFormat);
  w.entry("DataType:", run.dataType);
  w.entry("TR:", run.tr);
  w.entry("InterSliceTime:", interSliceTime);
  w.entry("TimeResolutionVerified:", 1);
  w.entry("TE:", run.te);
  w.entry("SliceAcquisitionOrder:", run.sliceAcquisitionOrder);
  w.entry("SliceAcquisitionOrderVerified:", 1);
  w.entry("ResolutionX:", run.resolutionX);
  w.entry("ResolutionY:", run.resolutionY);
  w.text("LoadAMRFile:", run.prefix + "_firstvol.amr", true);
  w.entry("ShowAMRFile:", 1);
  w.entry("ImageIndex:", 0);
  w.entry("LayoutNColumns:", 5);
  w.entry("LayoutNRows:", 5);
  w.entry("LayoutZoomLevel:", 1);
  w.entry("SegmentSize:", 10);
  w.entry("SegmentOffset:", 0);
  w.entry("NrOfLinkedProtocols:", 1);
  w.text("ProtocolFile:", run.prefix + ".prt", true);
  w.entry("InplaneResolutionX:", run.inplaneResolutionX);
  w.entry("InplaneResolutionY:", run.inplaneResolutionY);
  w.entry("SliceThickness:", run.sliceThickness);
  w.entry("SliceGap:", run.sliceGap);
  w.entry("VoxelResolutionVerified:", 1);
  w.line();
  w.line();
  w.line("PositionInformationFromImageHeaders");
  w.line();
  w.entry("PosInfosVerified:", 1);
  w.entry("CoordinateSystem:", 1);
  w.entry("Slice1CenterX:", 0.0f);
  w.entry("Slice1CenterY:", 0.0f);
  w.entry("Slice1CenterZ:", -halfStack);
  w.entry("SliceNCenterX:", 0.0f);
  w.entry("SliceNCenterY:", 0.0f);
  w.entry("SliceNCenterZ:", halfStack);
  w.entry("RowDirX:", 1.0f);
  w.entry("RowDirY:", 0.0f);
  w.entry("RowDirZ:", 0.0f);
  w.entry("ColDirX:", 0.0f);
  w.entry("ColDirY:", -1.0f);
  w.entry("ColDirZ:", 0.0f);
  w.entry("NRows:", run.resolutionY);
  w.entry("NCols:", run.resolutionX);
  w.entry("FoVRows:", static_cast<float>(run.resolutionY) * run.inplaneResolutionY);
  w.entry("FoVCols:", static_cast<float>(run.resolutionX) * run.inplaneResolutionX);
  w.entry("SliceThickness:", run.sliceThickness);
  w.entry("GapThickness:", run.sliceGap);
  w.line();
  w.line();
  w.entry("NrOfPastSpatialTransformations:", run.pastTransformation ? 1 : 0);
  if (run.pastTransformation) {
    w.line();
    w.entry("NameOfSpatialTransformation:", "3D motion correction");
    w.entry("TypeOfSpatialTransformation:", 1);
    w.text("AppliedToFileName:", run.prefix + ".fmr", true);
    w.entry("NrOfTransformationValues:", 16);
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) w.stream() << (c == 0 ? "" : "  ") << (r == c ? 1.0f : 0.0f);
      w.line();
    }
  }
  w.line();
  w.entry("LeftRightConvention:", 1);
  w.text("FirstDataSourceFile:", run.prefix + "-0001-0001.dcm", true);
  w.line();
  w.entry("MultibandSequence:", 0);
  std::vector<float> timing = run.sliceTiming;
  if (timing.empty()) {
    for (int z = 0; z < run.slices; ++z) timing.push_back(static_cast<float>(z * interSliceTime));
  }
  w.entry("SliceTimingTableSize:", timing.size());
  for (float t : timing) {
    w.stream() << t;
    w.line();
  }
  w.entry("AcquisitionTime:", 0);
  w.line();
  return w.str();
}

void writeFmrHeader(const std::string& path, const FmrLayout& run) {
  const std::string text = fmrHeaderText(run);
  AtomicFile file(path);
  file.write(text.data(), text.size());
  file.commit();
}

void writeStc(const std::string& path, int dimX, int dimY, int slices, int volumes,
              const std::function<float(int x, int y, int z, int t)>& value, bool float32) {
  if (dimX < 0 || dimY < 0 || slices < 0 || volumes < 0) {
    throw std::invalid_argument("writeStc: negative size for " + path);
  }
  const std::size_t bytesPerValue = float32 ? 4 : 2;
  std::vector<char> image(static_cast<std::size_t>(dimX) * static_cast<std::size_t>(dimY) *
                          bytesPerValue);
  AtomicFile file(path);
  for (int z = 0; z < slices; ++z) {
    for (int t = 0; t < volumes; ++t) {
      std::size_t at = 0;
      for (int y = 0; y < dimY; ++y) {
        for (int x = 0; x < dimX; ++x) {
          const float v = value(x, y, z, t);
          // Byte by byte, so the file is little-endian whatever this machine is.
          const std::uint32_t bits =
              float32 ? std::bit_cast<std::uint32_t>(v) : static_cast<std::uint16_t>(toInt16(v));
          for (std::size_t b = 0; b < bytesPerValue; ++b) {
            image[at++] = static_cast<char>((bits >> (8 * b)) & 0xFFu);
          }
        }
      }
      file.write(image.data(), image.size());
    }
  }
  file.commit();
}

}  // namespace tsl
