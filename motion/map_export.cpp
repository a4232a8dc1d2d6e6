#include "motion/map_export.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "plugin/assertion.h"
#include "plugin/host_api.h"
#include "plugin/host_functions.h"

namespace tsl {
namespace {

// The host reads the value 1 at this place as the kind of map it holds.
constexpr std::int32_t kMapType = 1;
constexpr std::uint32_t kClusterSize = 0;

template <typename T>
T readAt(const std::array<char, host::kMapHeaderRecordSize>& record, std::size_t offset) {
  T value;
  std::memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

template <typename T>
void writeAt(std::array<char, host::kMapHeaderRecordSize>& record, std::size_t offset, T value) {
  std::memcpy(record.data() + offset, &value, sizeof value);
}

// The map's grid as the host reports it, under the names the checks show.
struct MapHeader {
  std::int32_t DimX, DimY, DimZ;
};

}  // namespace

void exportMap(const Volume& volume, float lowerValue, float upperValue, const std::string& path) {
  const Volume copy(volume);
  zr::createMAPForCurrentFMR();
  std::array<char, host::kMapHeaderRecordSize> record{};
  float** const slices = zr::getMAPOfCurrentFMR(record.data());
  const MapHeader header{readAt<std::int32_t>(record, host::kMapDimXOffset),
                         readAt<std::int32_t>(record, host::kMapDimXOffset + 4),
                         readAt<std::int32_t>(record, host::kMapDimXOffset + 8)};
  const Dim3& dim = copy.dim;
  TESSEL_CHECK_AT(slices != nullptr, "tessel", 52, "slices != nullptr");
  TESSEL_CHECK_AT(dim.z == header.DimZ, "tessel", 53, "dim.z == header.DimZ");
  TESSEL_CHECK_AT(dim.y == header.DimY, "tessel", 54, "dim.y == header.DimY");
  TESSEL_CHECK_AT(dim.x == header.DimX, "tessel", 55, "dim.x == header.DimX");

  const std::size_t sliceSize = static_cast<std::size_t>(dim.x) * static_cast<std::size_t>(dim.y);
  for (std::int32_t z = 0; z < dim.z; ++z) {
    float* const slice = slices[z];
    if (slice == nullptr) {
      throw std::runtime_error("The host's new map has no data for slice " + std::to_string(z));
    }
    std::memcpy(slice, copy.data() + static_cast<std::size_t>(z) * sliceSize, sliceSize * sizeof(float));
  }

  writeAt(record, host::kMapTypeOffset, kMapType);
  writeAt(record, host::kMapLowerValueOffset, lowerValue);
  writeAt(record, host::kMapUpperValueOffset, upperValue);
  writeAt(record, host::kMapClusterSizeOffset, kClusterSize);
  zr::setMAPParametersOfCurrentFMR(record.data());
  zr::saveMAPsOfCurrentFMR(path);
}

}  // namespace tsl
