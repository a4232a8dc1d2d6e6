// The header record of the current functional run, as the host hands it out
// (zrGetHeaderOfCurrentFMR), and the few keys of an FMR header file it is
// filled from. The simulator reads those keys itself, independently of the
// plug-in's reader.
#ifndef TESSEL_HOSTSIM_RUN_HEADER_H
#define TESSEL_HOSTSIM_RUN_HEADER_H

#include <array>
#include <string>
#include <string_view>

#include "plugin/host_api.h"

namespace tsl::hostsim {

struct RunHeader {
  std::string path;
  int volumes = 0;
  std::array<int, 3> dims{0, 0, 0};               // DimX, DimY, DimZ
  std::array<float, 3> voxelSize{0.f, 0.f, 0.f};  // millimetres
};

// Fields of a header file's text: NrOfVolumes, ResolutionX -> DimX,
// ResolutionY -> DimY, NrOfSlices -> DimZ, InplaneResolutionX/Y -> voxel x/y,
// SliceThickness + SliceGap -> voxel z. Keys are whitespace-separated tokens
// (CR counts as white space), matched whole; the value is the next token's
// leading number; a missing key leaves 0; the last occurrence wins. Keys inside
// the position block (from PositionInformationFromImageHeaders to the value of
// GapThickness:) are not the run's own and are skipped. path is set to path.
RunHeader runHeaderFromText(const std::string& path, std::string_view text);

using HeaderRecord = std::array<char, host::kFmrHeaderRecordSize>;

// The 1168-byte record: all zero except the path (at most
// kFmrRecordPathCapacity - 1 bytes, then NUL), volumes, dims and voxel sizes at
// their offsets, in the machine's byte order.
HeaderRecord buildHeaderRecord(const RunHeader& header);

}  // namespace tsl::hostsim

#endif
