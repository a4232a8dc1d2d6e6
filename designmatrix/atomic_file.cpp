#include "designmatrix/atomic_file.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <locale>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "designmatrix/io_error.h"

namespace tsl {
namespace {

// A name beside path that no other writer (another process included) is
// likely to pick at the same moment; an existing file of that name is never
// reused.
std::string temporaryPathFor(const std::string& path) {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t processSeed = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  for (;;) {
    const auto stamp =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t tag = processSeed ^ (stamp * 0x9E3779B97F4A7C15ull) ^ counter++;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(tag));
    std::string candidate = path + "." + hex + ".tmp";
    std::error_code ignored;
    if (!std::filesystem::exists(candidate, ignored)) return candidate;
  }
}

void removeQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// Writes writeBody's bytes to a new temporary file beside path and returns its
// name; throws as writeFileAtomically does, leaving no temporary file.
std::string writeTemporary(const std::string& path,
                           const std::function<void(std::ostream&)>& writeBody) {
  const std::string temporary = temporaryPathFor(path);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!out) {
    removeQuietly(temporary);
    throw std::runtime_error("Cannot Create file: " + path);
  }
  out.imbue(std::locale::classic());
  try {
    writeBody(out);
  } catch (...) {
    out.close();
    removeQuietly(temporary);
    throw;
  }
  out.flush();
  const bool written = static_cast<bool>(out);
  out.close();
  if (!written || out.fail()) {
    removeQuietly(temporary);
    throw IOError("Failed writing file: " + path);
  }
  return temporary;
}

// Something other than a folder stands at path (a symbolic link counts as
// itself, whatever it points to).
bool occupiedByNonFolder(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

bool replaceFile(const std::string& from, const std::string& to) {
  // std::filesystem::rename replaces an existing target on POSIX (rename) and
  // with MinGW's library on Windows (MoveFileExW with MOVEFILE_REPLACE_EXISTING),
  // unlike std::rename, which fails there when the target exists.
  std::error_code error;
  std::filesystem::rename(from, to, error);
  return !error;
}

void writeFileAtomically(const std::string& path,
                         const std::function<void(std::ostream&)>& writeBody) {
  const std::string temporary = writeTemporary(path, writeBody);
  if (!replaceFile(temporary, path)) {
    removeQuietly(temporary);
    throw std::runtime_error("Cannot Create file: " + path);
  }
}

FileSet::~FileSet() {
  for (const Entry& entry : entries_) {
    if (!entry.temporary.empty()) removeQuietly(entry.temporary);
  }
}

void FileSet::add(const std::string& path, const std::function<void(std::ostream&)>& writeBody) {
  Entry entry;
  entry.target = path;
  entry.temporary = writeTemporary(path, writeBody);
  entries_.push_back(std::move(entry));
}

bool FileSet::remove(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  Entry entry;
  entry.target = path;
  entries_.push_back(std::move(entry));
  return true;
}

void FileSet::commit() {
  // Old files are moved aside rather than replaced in one rename, so that a
  // failure at a later target can still bring back every earlier one.
  for (Entry& entry : entries_) {
    if (!occupiedByNonFolder(entry.target)) continue;
    const std::string aside = temporaryPathFor(entry.target);
    if (!replaceFile(entry.target, aside)) {
      rollBack();
      if (entry.temporary.empty()) throw IOError("Failed removing file: " + entry.target);
      throw std::runtime_error("Cannot Create file: " + entry.target);
    }
    entry.aside = aside;
  }
  for (Entry& entry : entries_) {
    if (entry.temporary.empty()) continue;
    if (!replaceFile(entry.temporary, entry.target)) {
      rollBack();
      throw std::runtime_error("Cannot Create file: " + entry.target);
    }
    entry.temporary.clear();
    entry.placed = true;
  }
  for (Entry& entry : entries_) {
    if (!entry.aside.empty()) removeQuietly(entry.aside);
    entry.aside.clear();
  }
}

void FileSet::rollBack() {
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (entry->placed) removeQuietly(entry->target);
    entry->placed = false;
    if (!entry->aside.empty() && replaceFile(entry->aside, entry->target)) entry->aside.clear();
  }
}

}  // namespace tsl
