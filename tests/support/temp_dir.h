// Test helpers: a temporary folder removed at the end of the test, and whole
// file reads and writes.
#ifndef TESSEL_TESTS_SUPPORT_TEMP_DIR_H
#define TESSEL_TESTS_SUPPORT_TEMP_DIR_H

#include <filesystem>
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

}  // namespace tsl::testing

#endif
