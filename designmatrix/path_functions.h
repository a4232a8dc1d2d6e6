// Text operations on file paths in the host's convention: "/" and "\" both
// separate folders, "." marks the extension. Nothing here touches the file
// system or normalises a path.
#ifndef TESSEL_DESIGNMATRIX_PATH_FUNCTIONS_H
#define TESSEL_DESIGNMATRIX_PATH_FUNCTIONS_H

#include <string>

namespace tsl {

// "/" or "\".
bool isPathSeparator(char c);

// c with an ASCII capital turned into its small letter; every other byte as it is.
char lowerAscii(char c);

// True when path names a place relative to some folder: not empty, no leading
// "/" or "\" (a rooted path, "\\server\share" included), no drive letter
// ("C:x", "C:\x").
bool isRelativePath(const std::string& path);

// True when path ends with "." + extension (extension given without the dot),
// ignoring the case of ASCII letters: Windows dialogs offer "RUN1_3DMC.SDM".
bool hasExtension(const std::string& path, const std::string& extension);

// The text after the last "/" or "\"; the whole path when it holds neither.
std::string fileNameOf(const std::string& path);

// The text up to and including the last "/" or "\"; empty when it holds neither.
std::string directoryOf(const std::string& path);

// The text before the last "." of the file name (a "." in a folder name is no
// extension mark); the whole path when the file name holds no ".".
std::string stripExtension(const std::string& path);

// The text before the last "." of the file name, then suffix, then the rest
// from that "." on; path + suffix when the file name holds no ".".
std::string insertBeforeExtension(const std::string& path, const std::string& suffix);

}  // namespace tsl

#endif
