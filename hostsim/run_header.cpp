#include "hostsim/run_header.h"

#include <cstring>

#include "hostsim/parameters.h"

namespace tsl::hostsim {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Next whitespace-separated token at or after pos; empty at the end.
std::string_view nextToken(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && isBlank(text[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < text.size() && !isBlank(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

}  // namespace

RunHeader runHeaderFromText(const std::string& path, std::string_view text) {
  RunHeader header;
  header.path = path;
  float sliceThickness = 0.0f;
  float sliceGap = 0.0f;
  bool inPositionBlock = false;
  std::size_t pos = 0;
  for (std::string_view key = nextToken(text, pos); !key.empty(); key = nextToken(text, pos)) {
    if (inPositionBlock) {
      if (key == "GapThickness:") {
        nextToken(text, pos);
        inPositionBlock = false;
      }
      continue;
    }
    if (key == "PositionInformationFromImageHeaders") {
      inPositionBlock = true;
    } else if (key == "NrOfVolumes:") {
      header.volumes = textToInt(nextToken(text, pos));
    } else if (key == "ResolutionX:") {
      header.dims[0] = textToInt(nextToken(text, pos));
    } else if (key == "ResolutionY:") {
      header.dims[1] = textToInt(nextToken(text, pos));
    } else if (key == "NrOfSlices:") {
      header.dims[2] = textToInt(nextToken(text, pos));
    } else if (key == "InplaneResolutionX:") {
      header.voxelSize[0] = textToFloat(nextToken(text, pos));
    } else if (key == "InplaneResolutionY:") {
      header.voxelSize[1] = textToFloat(nextToken(text, pos));
    } else if (key == "SliceThickness:") {
      sliceThickness = textToFloat(nextToken(text, pos));
    } else if (key == "SliceGap:") {
      sliceGap = textToFloat(nextToken(text, pos));
    }
  }
  header.voxelSize[2] = sliceThickness + sliceGap;
  return header;
}

HeaderRecord buildHeaderRecord(const RunHeader& header) {
  HeaderRecord record{};
  const std::size_t pathBytes = header.path.size() < host::kFmrRecordPathCapacity
                                    ? header.path.size()
                                    : host::kFmrRecordPathCapacity - 1;
  std::memcpy(record.data() + host::kFmrRecordPathOffset, header.path.data(), pathBytes);
  std::memcpy(record.data() + host::kFmrRecordVolumesOffset, &header.volumes, sizeof(int));
  std::memcpy(record.data() + host::kFmrRecordDimXOffset, header.dims.data(), 3 * sizeof(int));
  std::memcpy(record.data() + host::kFmrRecordVoxelSizeXOffset, header.voxelSize.data(),
              3 * sizeof(float));
  return record;
}

}  // namespace tsl::hostsim
