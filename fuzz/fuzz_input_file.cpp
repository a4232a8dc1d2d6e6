#include "fuzz/fuzz_input_file.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tsl::fuzz {
namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device device;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << "tessel-fuzz-" << std::hex << stamp << "-" << device();
    path_ = std::filesystem::temp_directory_path() / name.str();
    std::error_code error;
    std::filesystem::create_directories(path_, error);
    if (error) fail("cannot create scratch folder " + path_.string() + ": " + error.message());
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

const std::filesystem::path& scratchFolder() {
  static const ScratchFolder folder;
  return folder.path();
}

}  // namespace

std::string scratchPath(const std::string& name) { return (scratchFolder() / name).generic_string(); }

std::string writeScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = scratchPath(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (size > 0) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) fail("cannot write scratch file " + path);
  return path;
}

std::string writeScratchFile(const std::string& name, const std::string& bytes) {
  return writeScratchFile(name, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void fail(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void checkRefusal(const std::exception& error, const std::string& fileName) {
  const std::string text = error.what();
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) fail("allocation failed: " + text);
  if (dynamic_cast<const std::length_error*>(&error) != nullptr) fail("length error: " + text);
  if (text.find(fileName) == std::string::npos) fail("error text does not name " + fileName + ": " + text);
}

}  // namespace tsl::fuzz
