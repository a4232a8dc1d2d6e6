// A stamp of the file at a path, fine enough to tell whether a program
// wrote the file between two looks.
#ifndef TESSEL_PLUGIN_FILE_STAMP_H
#define TESSEL_PLUGIN_FILE_STAMP_H

#include <cstdint>
#include <string>

namespace tsl {

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

// The stamp of the file at path; exists is false when there is none (or it
// cannot be looked at).
FileStamp stampOf(const std::string& path);

}  // namespace tsl

#endif
