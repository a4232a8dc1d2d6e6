#include "designmatrix/path_functions.h"

#include <stdexcept>

namespace tsl {

bool hasExtension(const std::string& path, const std::string& extension) {
  const std::string ending = "." + extension;
  if (path.size() < ending.size()) return false;
  return path.compare(path.size() - ending.size(), ending.size(), ending) == 0;
}

std::string fileNameOf(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string directoryOf(const std::string& path) {
  const auto separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string stripExtension(const std::string& path) {
  return path.substr(0, path.rfind('.'));
}

std::string insertBeforeExtension(const std::string& path, const std::string& suffix) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) throw std::out_of_range("invalid string position");
  return path.substr(0, dot) + suffix + path.substr(dot);
}

}  // namespace tsl
