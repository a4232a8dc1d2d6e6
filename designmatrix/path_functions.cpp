#include "designmatrix/path_functions.h"

namespace tsl {
namespace {

constexpr const char* kSeparators = "/\\";

// The position of the extension's dot in the file name part; npos when the
// file name has none.
std::size_t extensionDot(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) return dot;
  const auto separator = path.find_last_of(kSeparators);
  return separator != std::string::npos && separator > dot ? std::string::npos : dot;
}

}  // namespace

bool isPathSeparator(char c) { return c == '/' || c == '\\'; }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isRelativePath(const std::string& path) {
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return !path.empty() && !isPathSeparator(path[0]) && !drive;
}

bool hasExtension(const std::string& path, const std::string& extension) {
  const std::string ending = "." + extension;
  if (path.size() < ending.size()) return false;
  const std::size_t start = path.size() - ending.size();
  for (std::size_t i = 0; i < ending.size(); ++i) {
    if (lowerAscii(path[start + i]) != lowerAscii(ending[i])) return false;
  }
  return true;
}

std::string fileNameOf(const std::string& path) {
  const auto separator = path.find_last_of(kSeparators);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string directoryOf(const std::string& path) {
  const auto separator = path.find_last_of(kSeparators);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string stripExtension(const std::string& path) { return path.substr(0, extensionDot(path)); }

std::string insertBeforeExtension(const std::string& path, const std::string& suffix) {
  const auto dot = extensionDot(path);
  if (dot == std::string::npos) return path + suffix;
  return path.substr(0, dot) + suffix + path.substr(dot);
}

}  // namespace tsl
