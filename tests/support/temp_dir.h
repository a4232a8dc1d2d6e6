// Test helpers: a temporary folder removed at the end of the test, whole file
// reads and writes, and a folder's contents for before-and-after comparisons.
#ifndef TESSEL_TESTS_SUPPORT_TEMP_DIR_H
#define TESSEL_TESTS_SUPPORT_TEMP_DIR_H

#include <filesystem>
#include <map>
#include <string>

namespace tsl::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name as a generic (forward-slash) string.
  std::string file(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::string& path);  // binary; throws when unreadable
void writeFile(const std::string& path, const std::string& bytes);  // binary

// Everything below folder: each entry's path relative to folder (generic
// form) -> its bytes, or "<folder>" for a folder.
std::map<std::string, std::string> folderContents(const std::filesystem::path& folder);

}  // namespace tsl::testing

#endif
