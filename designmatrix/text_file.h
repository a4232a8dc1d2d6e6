// Whole-file reads for the text readers of this folder.
#ifndef TESSEL_DESIGNMATRIX_TEXT_FILE_H
#define TESSEL_DESIGNMATRIX_TEXT_FILE_H

#include <string>

namespace tsl {

// The bytes of the file at path, unchanged (line ends included). Throws
// OpenFileError "Failed opening for reading: " + path when it cannot be opened
// (a folder cannot), IOError "Failed reading file: " + path when reading fails.
std::string readWholeFile(const std::string& path);

// True when the file at path opens for reading (a folder does not).
bool canOpenForReading(const std::string& path);

}  // namespace tsl

#endif
