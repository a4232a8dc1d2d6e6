// Whole-file reads and message helpers for the text readers.
#ifndef TESSEL_DESIGNMATRIX_TEXT_FILE_H
#define TESSEL_DESIGNMATRIX_TEXT_FILE_H

#include <string>
#include <string_view>

namespace tsl {

// bytes without a UTF-8 byte-order mark (EF BB BF) at their start, as Windows
// editors write one before the text; other bytes stay as they are.
std::string_view withoutByteOrderMark(std::string_view bytes);

// The bytes of the file at path, unchanged (line ends included). Throws
// OpenFileError "Failed opening for reading: " + path when it cannot be opened
// (a folder cannot), IOError "Failed reading file: " + path when reading fails.
std::string readWholeFile(const std::string& path);

// text in double quotes for an error message; text longer than 40
// characters is cut there and ends in "...".
std::string quotedExcerpt(const std::string& text);

// True when the file at path opens for reading (a folder does not).
bool canOpenForReading(const std::string& path);

}  // namespace tsl

#endif
