#include "examples/motion_file_writer.h"

#include <charconv>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include "designmatrix/atomic_file.h"

namespace tsl {
namespace {

constexpr const char* kEol = "\r\n";
constexpr int kSignificantDigits = 6;
constexpr std::size_t kFieldWidth = 12;
constexpr int kMdmFileVersion = 3;

void writeText(const std::string& path, const std::string& text) {
  writeFileAtomically(path, [&](std::ostream& out) { out << text; });
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

const std::array<std::string, 6> kMotionPredictorNames = {
    "Translation X [mm]", "Translation Y [mm]", "Translation Z [mm]",
    "Rotation X [deg]",   "Rotation Y [deg]",   "Rotation Z [deg]"};

const std::array<std::array<int, 3>, 6> kMotionPredictorColours = {
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}}};

std::string hostNumber(float value) {
  // to_chars with the general format and a precision is defined as printf's
  // "%.6g" and never looks at the locale.
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value,
                                    std::chars_format::general, kSignificantDigits);
  if (result.ec != std::errc()) throw std::logic_error("hostNumber: no room for the digits");
  const std::string text(digits, result.ptr);
  return text.size() < kFieldWidth ? std::string(kFieldWidth - text.size(), ' ') + text : text;
}

std::string hostMotionSdmText(const std::vector<MotionRow>& rows) {
  std::string text;
  text += std::string("FileVersion:            1") + kEol + kEol;
  text += std::string("NrOfPredictors:         6") + kEol;
  text += "NrOfDataPoints:         " + std::to_string(rows.size()) + kEol;
  text += std::string("IncludesConstant:       0") + kEol;
  text += std::string("FirstConfoundPredictor: 1") + kEol + kEol;
  for (std::size_t k = 0; k < kMotionPredictorColours.size(); ++k) {
    if (k > 0) text += "   ";
    const auto& c = kMotionPredictorColours[k];
    text += std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
  }
  text += kEol;
  for (std::size_t k = 0; k < kMotionPredictorNames.size(); ++k) {
    if (k > 0) text += " ";
    text += quoted(kMotionPredictorNames[k]);
  }
  text += kEol;
  for (const MotionRow& row : rows) {
    for (float value : row) text += hostNumber(value);
    text += kEol;
  }
  return text;
}

void writeHostMotionSdm(const std::string& path, const std::vector<MotionRow>& rows) {
  writeText(path, hostMotionSdmText(rows));
}

std::string mdmText(const std::string& typeOfFunctionalData,
                    const std::vector<std::string>& leadingPaths,
                    const std::vector<std::string>& sdmPaths,
                    const std::vector<std::string>& dataPaths) {
  if (sdmPaths.size() != dataPaths.size() ||
      (!leadingPaths.empty() && leadingPaths.size() != sdmPaths.size())) {
    throw std::invalid_argument("mdmText: path lists of different lengths");
  }
  std::string text = kEol;
  text += "FileVersion:          " + std::to_string(kMdmFileVersion) + kEol;
  text += "TypeOfFunctionalData: " + typeOfFunctionalData + kEol + kEol;
  text += std::string("RFX-GLM:              0") + kEol + kEol;
  text += std::string("PSCTransformation:    0") + kEol;
  text += std::string("zTransformation:      0") + kEol;
  text += std::string("SeparatePredictors:   0") + kEol + kEol;
  text += "NrOfStudies:          " + std::to_string(sdmPaths.size()) + kEol;
  for (std::size_t j = 0; j < sdmPaths.size(); ++j) {
    if (!leadingPaths.empty()) text += quoted(leadingPaths[j]) + " ";
    text += quoted(dataPaths[j]) + " " + quoted(sdmPaths[j]) + kEol;
  }
  return text;
}

void writeMdm(const std::string& path, const std::vector<std::string>& sdmPaths,
              const std::vector<std::string>& dataPaths) {
  writeText(path, mdmText("FMR", {}, sdmPaths, dataPaths));
}

void writeMtcMdm(const std::string& path, const std::vector<std::string>& leadingPaths,
                 const std::vector<std::string>& sdmPaths,
                 const std::vector<std::string>& dataPaths) {
  if (leadingPaths.size() != sdmPaths.size()) {
    throw std::invalid_argument("writeMtcMdm: path lists of different lengths");
  }
  writeText(path, mdmText("MTC", leadingPaths, sdmPaths, dataPaths));
}

}  // namespace tsl
