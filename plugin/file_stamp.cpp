#include "plugin/file_stamp.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace tsl {

#ifdef _WIN32

// GetFileInformationByHandle keeps the write time in 100 ns steps (the
// standard library's stat, in whole seconds, would miss a quick rewrite).
FileStamp stampOf(const std::string& path) {
  FileStamp stamp;
  // No access asked for: only the attributes are read, so no other program's
  // sharing mode can refuse this.
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    stamp.exists = true;
    stamp.regularFile = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.lastWrite =
        static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
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

}  // namespace tsl
