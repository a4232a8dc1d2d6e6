#include "hostsim/maps.h"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "plugin/host_api.h"

namespace tsl::hostsim {

namespace {

constexpr std::size_t kNiftiHeaderSize = 348;
constexpr std::size_t kNiftiDataOffset = 352;  // header + 4-byte extension flag
constexpr std::int16_t kNiftiFloat32 = 16;
constexpr std::int16_t kNiftiMaxDim = 32767;
constexpr char kNiftiUnitsMm = 2;
constexpr std::int16_t kNiftiScannerAnatomical = 1;

// Byte offsets of the NIfTI-1 header fields written here.
constexpr std::size_t kSizeofHdr = 0;
constexpr std::size_t kRegular = 38;
constexpr std::size_t kDim = 40;       // 8 x int16
constexpr std::size_t kDatatype = 70;  // int16
constexpr std::size_t kBitpix = 72;    // int16
constexpr std::size_t kPixdim = 76;    // 8 x float
constexpr std::size_t kVoxOffset = 108;
constexpr std::size_t kSclSlope = 112;
constexpr std::size_t kXyztUnits = 123;
constexpr std::size_t kCalMax = 124;
constexpr std::size_t kCalMin = 128;
constexpr std::size_t kDescrip = 148;  // 80 chars
constexpr std::size_t kQformCode = 252;
constexpr std::size_t kMagic = 344;

void putU16(std::string& bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<char>(value & 0xffu);
  bytes[offset + 1] = static_cast<char>(value >> 8);
}

void putU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xffu);
  }
}

void putI16(std::string& bytes, std::size_t offset, std::int16_t value) {
  putU16(bytes, offset, static_cast<std::uint16_t>(value));
}

void putFloat(std::string& bytes, std::size_t offset, float value) {
  putU32(bytes, offset, std::bit_cast<std::uint32_t>(value));
}

}  // namespace

bool MapStore::create(const std::array<int, 3>& dims) {
  std::int64_t count = 1;
  for (const int d : dims) count *= d > 0 ? d : 0;
  if (count > kMaxMapElements) return false;
  auto map = std::make_unique<Map>();
  map->dims = dims;
  map->values.assign(static_cast<std::size_t>(count), 0.0f);
  const std::size_t sliceSize = dims[0] > 0 && dims[1] > 0 ? static_cast<std::size_t>(dims[0]) *
                                                                 static_cast<std::size_t>(dims[1])
                                                           : 0;
  const std::size_t sliceCount = dims[2] > 0 ? static_cast<std::size_t>(dims[2]) : 0;
  for (std::size_t z = 0; z < sliceCount; ++z) {
    map->slices.push_back(sliceSize == 0 ? nullptr : map->values.data() + z * sliceSize);
  }
  map->slices.push_back(nullptr);
  maps_.push_back(std::move(map));
  return true;
}

void fillMapRecord(const Map& map, char* record) {
  std::memcpy(record + host::kMapDimXOffset, map.dims.data(), 3 * sizeof(int));
}

void applyMapRecord(const char* record, Map& map) {
  std::memcpy(&map.type, record + host::kMapTypeOffset, sizeof map.type);
  std::memcpy(&map.lower, record + host::kMapLowerValueOffset, sizeof map.lower);
  std::memcpy(&map.upper, record + host::kMapUpperValueOffset, sizeof map.upper);
  std::memcpy(&map.clusterSize, record + host::kMapClusterSizeOffset, sizeof map.clusterSize);
}

std::string niftiHeader(const std::vector<std::unique_ptr<Map>>& maps,
                        const std::array<float, 3>& voxelSize) {
  if (maps.empty()) throw std::invalid_argument("the run has no maps");
  const std::array<int, 3> dims = maps.front()->dims;
  for (const auto& map : maps) {
    if (map->dims != dims) throw std::invalid_argument("the run's maps differ in their grids");
  }
  for (const int d : dims) {
    if (d < 1 || d > kNiftiMaxDim) {
      throw std::invalid_argument("map grid " + std::to_string(dims[0]) + " x " +
                                  std::to_string(dims[1]) + " x " + std::to_string(dims[2]) +
                                  " does not fit NIfTI-1");
    }
  }
  if (maps.size() > static_cast<std::size_t>(kNiftiMaxDim)) {
    throw std::invalid_argument("too many maps for NIfTI-1");
  }

  std::string bytes(kNiftiDataOffset, '\0');
  putU32(bytes, kSizeofHdr, static_cast<std::uint32_t>(kNiftiHeaderSize));
  bytes[kRegular] = 'r';
  const std::array<std::int16_t, 8> dim{4,
                                        static_cast<std::int16_t>(dims[0]),
                                        static_cast<std::int16_t>(dims[1]),
                                        static_cast<std::int16_t>(dims[2]),
                                        static_cast<std::int16_t>(maps.size()),
                                        1,
                                        1,
                                        1};
  for (std::size_t i = 0; i < dim.size(); ++i) putI16(bytes, kDim + 2 * i, dim[i]);
  putI16(bytes, kDatatype, kNiftiFloat32);
  putI16(bytes, kBitpix, 32);
  const std::array<float, 8> pixdim{1.0f, voxelSize[0], voxelSize[1], voxelSize[2],
                                    1.0f, 1.0f,         1.0f,         1.0f};
  for (std::size_t i = 0; i < pixdim.size(); ++i) putFloat(bytes, kPixdim + 4 * i, pixdim[i]);
  putFloat(bytes, kVoxOffset, static_cast<float>(kNiftiDataOffset));
  putFloat(bytes, kSclSlope, 1.0f);
  bytes[kXyztUnits] = kNiftiUnitsMm;
  putFloat(bytes, kCalMax, maps.back()->upper);
  putFloat(bytes, kCalMin, maps.back()->lower);
  const char descrip[] = "maps of the current run";
  std::memcpy(&bytes[kDescrip], descrip, sizeof descrip - 1);
  // qform with the identity rotation (quaternion b = c = d = 0, offsets 0):
  // voxel indices scaled by pixdim give millimetres.
  putI16(bytes, kQformCode, kNiftiScannerAnatomical);
  std::memcpy(&bytes[kMagic], "n+1", 4);
  return bytes;
}

std::vector<std::string_view> niftiData(const std::vector<std::unique_ptr<Map>>& maps) {
  static_assert(std::endian::native == std::endian::little,
                "NIfTI data are written as they are in memory");
  std::vector<std::string_view> chunks;
  for (const auto& map : maps) {
    chunks.emplace_back(reinterpret_cast<const char*>(map->values.data()), 4 * map->values.size());
  }
  return chunks;
}

std::string niftiImage(const std::vector<std::unique_ptr<Map>>& maps,
                       const std::array<float, 3>& voxelSize) {
  std::string bytes = niftiHeader(maps, voxelSize);
  for (const std::string_view chunk : niftiData(maps)) bytes += chunk;
  return bytes;
}

}  // namespace tsl::hostsim
