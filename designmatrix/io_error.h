// Exceptions of failed file access. IOError carries a message that names the
// file and what is wrong with it; OpenFileError is the special case of a file
// that could not be opened at all.
#ifndef TESSEL_DESIGNMATRIX_IO_ERROR_H
#define TESSEL_DESIGNMATRIX_IO_ERROR_H

#include <stdexcept>
#include <string>

namespace tsl {

class IOError : public std::runtime_error {
 public:
  explicit IOError(const std::string& message) : std::runtime_error(message) {}
};

class OpenFileError : public IOError {
 public:
  explicit OpenFileError(const std::string& message) : IOError(message) {}
};

}  // namespace tsl

#endif
