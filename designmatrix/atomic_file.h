// Complete-or-absent file writes: the bytes go to a temporary file beside the
// target, which replaces the target only after the last byte was written and
// the stream reported no error.
#ifndef TESSEL_DESIGNMATRIX_ATOMIC_FILE_H
#define TESSEL_DESIGNMATRIX_ATOMIC_FILE_H

#include <functional>
#include <iosfwd>
#include <string>

namespace tsl {

// Calls writeBody with a binary output stream (classic "C" locale) on a new
// temporary file in the folder of path, then renames that file over path,
// replacing an existing file on every platform. writeBody writes the line ends
// it wants; nothing is translated.
//
// On success path holds exactly the bytes written. On failure the temporary
// file is removed, an existing file at path is left as it was, and this throws:
// - std::runtime_error "Cannot Create file: " + path when the temporary file
//   cannot be created or cannot be renamed over path (for example path names a
//   folder);
// - IOError "Failed writing file: " + path when the stream reports an error
//   during or after writeBody (disk full, closing failed);
// - whatever writeBody throws, unchanged.
void writeFileAtomically(const std::string& path,
                         const std::function<void(std::ostream&)>& writeBody);

// Renames from over to, replacing an existing file. Returns false (and leaves
// both as they were) when that is not possible.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace tsl

#endif
