// Text operations on file paths in the host's convention: "/" and "\" both
// separate folders, "." marks the extension, comparisons are byte for byte and
// case-sensitive. Nothing here touches the file system or normalises a path.
#ifndef TESSEL_DESIGNMATRIX_PATH_FUNCTIONS_H
#define TESSEL_DESIGNMATRIX_PATH_FUNCTIONS_H

#include <string>

namespace tsl {

// True when path ends with "." + extension (extension given without the dot).
bool hasExtension(const std::string& path, const std::string& extension);

// The text after the last "/" or "\"; the whole path when it holds neither.
std::string fileNameOf(const std::string& path);

// The text up to and including the last "/" or "\"; empty when it holds neither.
std::string directoryOf(const std::string& path);

// The text before the last "." (also one in a folder name); the whole path
// when it holds no ".".
std::string stripExtension(const std::string& path);

// The text before the last ".", then suffix, then the rest from that "." on.
// Throws std::out_of_range "invalid string position" when path holds no ".".
std::string insertBeforeExtension(const std::string& path, const std::string& suffix);

}  // namespace tsl

#endif
