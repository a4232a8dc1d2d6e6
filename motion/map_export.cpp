#include "motion/map_export.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "designmatrix/io_error.h"
#include "plugin/assertion.h"
#include "plugin/host_api.h"
#include "plugin/host_functions.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

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

// What tells one version of a file at a path from another: a save that
// writes the file in place changes its size or last-write time, one that
// renames a new file over it changes its identity too.
struct FileStamp {
  bool exists = false;
  bool regularFile = false;
  std::uint64_t size = 0;
  std::int64_t lastWrite = 0;  // in the file system's finest unit
  std::uint64_t volume = 0, identity = 0;

  bool operator==(const FileStamp&) const = default;
};

#ifdef _WIN32

// GetFileInformationByHandle keeps the write time in 100 ns steps (the
// standard library's stat, in whole seconds, would miss a quick rewrite).
FileStamp stampOf(const std::string& path) {
  FileStamp stamp;
  // No access asked for: only the attributes are read, so no other program's
  // sharing mode can refuse this.
  const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    stamp.exists = true;
    stamp.regularFile = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.lastWrite = static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                                info.ftLastWriteTime.dwLowDateTime);
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.identity = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  }
  CloseHandle(file);
  return stamp;
}

#else

FileStamp stampOf(const std::string& path) {
  FileStamp stamp;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return stamp;
  constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
  stamp.exists = true;
  stamp.regularFile = S_ISREG(info.st_mode);
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.lastWrite =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * kNanosecondsPerSecond + info.st_mtim.tv_nsec;
  stamp.volume = static_cast<std::uint64_t>(info.st_dev);
  stamp.identity = static_cast<std::uint64_t>(info.st_ino);
  return stamp;
}

#endif

// The host's save call reports nothing; the file itself tells whether the
// host wrote it.
void saveMaps(const std::string& path) {
  const FileStamp before = stampOf(path);
  zr::saveMAPsOfCurrentFMR(path);
  const FileStamp after = stampOf(path);
  if (!after.regularFile || after == before) throw IOError("Failed writing file: " + path);
}

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
  saveMaps(path);
}

}  // namespace tsl
