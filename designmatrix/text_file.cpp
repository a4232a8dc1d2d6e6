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

constexpr const char kByteOrderMark[] = "\xEF\xBB\xBF";
// Longest piece of a file quoted in an error message.
constexpr std::size_t kMaxQuotedText = 40;

}  // namespace

std::string_view withoutByteOrderMark(std::string_view bytes) {
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(sizeof kByteOrderMark - 1);
  return bytes;
}

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

std::string quotedExcerpt(const std::string& text) {
  if (text.size() <= kMaxQuotedText) return "\"" + text + "\"";
  return "\"" + text.substr(0, kMaxQuotedText) + "...\"";
}

bool canOpenForReading(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in) && !isFolder(path);
}

}  // namespace tsl
