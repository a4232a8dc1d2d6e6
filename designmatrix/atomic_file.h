// Complete-or-absent file writes: the bytes go to a temporary file beside the
// target, which replaces the target only after the last byte was written and
// the stream reported no error. FileSet does the same for several files that
// belong together: all of them are put in place, or none.
//
// An existing target that this user may not write (Windows: its read-only
// attribute; elsewhere: access(W_OK) fails) is refused before anything is put
// in place, though a rename could replace it: the user protected it.
//
// Temporary files, and files moved aside while a set is put in place, get a
// new name of their own in the target's folder (random letters and digits,
// ".tmp" where it fits), never longer than the target's name, so that their
// paths are never longer than the target's. Each is created exclusively, so
// that two writers never share one.
#ifndef TESSEL_DESIGNMATRIX_ATOMIC_FILE_H
#define TESSEL_DESIGNMATRIX_ATOMIC_FILE_H

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace tsl {

// Calls writeBody with a binary output stream (classic "C" locale) on a new
// temporary file in the folder of path, then renames that file over path,
// replacing an existing file on every platform. writeBody writes the line ends
// it wants; nothing is translated.
//
// On success path holds exactly the bytes written. On failure the temporary
// file is removed, an existing file at path keeps its bytes and permissions,
// and this throws:
// - std::runtime_error "Cannot Create file: " + path when this user may not
//   write the file at path (nothing is written then), or the temporary file
//   cannot be created or cannot be renamed over path (for example path names a
//   folder);
// - IOError "Failed writing file: " + path when the stream reports an error
//   during or after writeBody (disk full, closing failed);
// - whatever writeBody throws, unchanged.
void writeFileAtomically(const std::string& path,
                         const std::function<void(std::ostream&)>& writeBody);

// Throws std::runtime_error "Cannot Create file: " + path when a file at
// path exists that this user may not write, as writeFileAtomically would;
// for a caller that must refuse it before other files are put in place.
void requireWritable(const std::string& path);

// Renames from over to, replacing an existing file. Returns false (and leaves
// both as they were) when that is not possible.
bool replaceFile(const std::string& from, const std::string& to);

// The files of one unit of work (the outputs of one run), written first and
// put in place together by commit():
//
//   FileSet files;
//   files.add(a, writeA);   // a's bytes now lie in a temporary file beside a
//   files.add(b, writeB);
//   files.remove(c);        // c goes when a and b arrive
//   files.commit();         // a, b in place and c gone; or nothing changed
//
// Until commit() returns, no target is touched. A set destroyed without a
// successful commit removes its temporary files, so an exception between add
// and commit leaves every target as it was.
class FileSet {
 public:
  FileSet() = default;
  ~FileSet();
  FileSet(const FileSet&) = delete;
  FileSet& operator=(const FileSet&) = delete;

  // Writes writeBody's bytes to a new temporary file beside path, as
  // writeFileAtomically does, and throws what it throws (the temporary file
  // of this call is then removed; the set keeps its earlier files). Whether
  // path may be written is checked by commit.
  // REQUIRES: path is not already part of the set.
  void add(const std::string& path, const std::function<void(std::ostream&)>& writeBody);

  // Marks the file at path for removal at commit and returns true; returns
  // false, marking nothing, when no file is there (a folder is not one).
  // REQUIRES: path is not already part of the set.
  bool remove(const std::string& path);

  // First checks every target: when this user may not write one, nothing is
  // moved and this throws std::runtime_error "Cannot Create file: " + target
  // (a file to replace) or IOError "Failed removing file: " + target (a file
  // to remove), naming the first such target in the order added.
  // Then moves every existing target (files to replace and files to remove)
  // aside, renames each temporary file over its target in the order added,
  // and deletes what was moved aside. When a step fails, the steps before it
  // are undone: the set's new files are removed and every file moved aside is
  // renamed back, so each target holds the bytes it had (or is absent, as it
  // was); then this throws "Cannot Create file: " + target (a target that
  // cannot be replaced, for example a folder) or "Failed removing file: " +
  // target (a file marked for removal that cannot be moved), as above.
  // Should renaming back fail as well, the file stays under its temporary
  // name beside the target rather than being lost.
  // REQUIRES: commit has not been called before.
  void commit();

 private:
  struct Entry {
    std::string target;
    std::string temporary;  // the new bytes; empty for a removal
    std::string aside;      // where the old target waits during commit
    bool placed = false;
  };
  std::vector<std::string> targets() const;
  void rollBack();

  std::vector<Entry> entries_;
};

}  // namespace tsl

#endif
