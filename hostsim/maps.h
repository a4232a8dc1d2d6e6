// The maps of the current run: zero-filled float grids the plug-in writes
// through per-slice pointers, their settings, and their NIfTI-1 image.
#ifndef TESSEL_HOSTSIM_MAPS_H
#define TESSEL_HOSTSIM_MAPS_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tsl::hostsim {

struct Map {
  std::array<int, 3> dims{0, 0, 0};  // DimX, DimY, DimZ as handed out
  // X*Y*Z floats: x fastest, then y, then slice; empty when a dim is <= 0.
  std::vector<float> values;
  // One pointer per slice into values (slice z at z*X*Y), then one null, so
  // that the array is never empty.
  std::vector<float*> slices;
  // Settings of zrSetMAPParametersOfCurrentFMR (record offsets 12, 16, 20, 28).
  int type = 0;
  float lower = 0.0f;
  float upper = 0.0f;
  std::int32_t clusterSize = 0;
};

// Maps larger than this many floats are refused (a wrong grid should not
// exhaust the machine's memory).
inline constexpr std::int64_t kMaxMapElements = std::int64_t{1} << 29;

class MapStore {
 public:
  // Adds a zero-filled map of dims. Returns false and adds nothing when it
  // would exceed kMaxMapElements.
  bool create(const std::array<int, 3>& dims);
  // The map created last, or null when there is none.
  Map* last() { return maps_.empty() ? nullptr : maps_.back().get(); }
  const std::vector<std::unique_ptr<Map>>& all() const { return maps_; }

 private:
  std::vector<std::unique_ptr<Map>> maps_;
};

// Writes DimX, DimY, DimZ of map at offsets 0, 4, 8 of the 64-byte map record;
// the other bytes keep what they held.
void fillMapRecord(const Map& map, char* record);
// Stores the settings of the map record (type, lower, upper, cluster size).
void applyMapRecord(const char* record, Map& map);

// The maps in order as one NIfTI-1 single file (.nii): 348-byte header, 4-byte
// extension flag (0), float32 data from offset 352, dim = [4, X, Y, Z, count,
// 1, 1, 1], pixdim = [1, voxel x, y, z, 1, ...], cal_min/cal_max = lower/upper
// of the last map, magic "n+1", little-endian; data x fastest, then y, then
// slice, then map. Throws std::invalid_argument when maps is empty, the maps'
// grids differ, or a grid does not fit NIfTI-1 (dims 1 to 32767).
std::string niftiImage(const std::vector<std::unique_ptr<Map>>& maps,
                       const std::array<float, 3>& voxelSize);

// The same file in parts, for writing without a copy: the 352 bytes before
// the data (throws as niftiImage does), and each map's floats as they lie in
// memory (this simulator is built for little-endian machines only).
std::string niftiHeader(const std::vector<std::unique_ptr<Map>>& maps,
                        const std::array<float, 3>& voxelSize);
std::vector<std::string_view> niftiData(const std::vector<std::unique_ptr<Map>>& maps);

}  // namespace tsl::hostsim

#endif
