// One "Key:   value" entry of a text header (SDM and FMR files).
#ifndef TESSEL_DESIGNMATRIX_HEADER_FIELD_H
#define TESSEL_DESIGNMATRIX_HEADER_FIELD_H

#include <string>

namespace tsl {

// name: the key without its colon. width: the column at which the value
// starts, i.e. key token length plus the blanks/tabs that followed it; the
// writer pads the key with blanks to this width. present: the entry was read
// from the file (or set by a default constructor); only present entries are
// written and only present entries may be used.
template <typename T>
struct HeaderField {
  std::string name;
  T value{};
  int width = 0;
  bool present = false;
};

// The text form also remembers whether the value stood in double quotes.
template <>
struct HeaderField<std::string> {
  std::string name;
  std::string value;
  int width = 0;
  bool present = false;
  bool quoted = false;
};

}  // namespace tsl

#endif
