#include "designmatrix/text_file.h"

#include <filesystem>
#include <fstream>

#include "designmatrix/io_error.h"

namespace tsl {
namespace {

// glibc opens a folder for reading and fails only at the first read; treat a
// folder like any other file that does not open.
bool isFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in || isFolder(path)) throw OpenFileError("Failed opening for reading: " + path);
  std::string bytes;
  char chunk[1 << 16];
  for (;;) {
    in.read(chunk, sizeof chunk);
    bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (!in) break;
  }
  // A read error inside the stream buffer is reported as badbit, unlike the
  // end of the file, which only sets eofbit and failbit.
  if (in.bad()) throw IOError("Failed reading file: " + path);
  return bytes;
}

bool canOpenForReading(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in) && !isFolder(path);
}

}  // namespace tsl
