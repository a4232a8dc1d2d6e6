#include "designmatrix/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <locale>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "designmatrix/io_error.h"

// Two questions the standard library cannot answer: whether this user may
// write an existing file (std::filesystem shows the permission bits, not
// whether they stop this user: root writes a file of mode 0444, a member of
// its group one of mode 0664), and creating a file only where none is (an
// std::ofstream opens an existing one). Both use the narrow path, as the
// streams that write the files do.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tsl {
namespace {

#ifdef _WIN32
constexpr int kWriteAccess = 2;  // _access's mode for "may write"

// True when something is at path that this user may not write: on Windows a
// file with the read-only attribute.
bool mayNotWrite(const std::string& path) {
  return _access(path.c_str(), kWriteAccess) != 0 && errno != ENOENT;
}

bool createNew(const std::string& path) {
  const int file =
      _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (file < 0) return false;
  _close(file);
  return true;
}
#else
constexpr mode_t kNewFileMode = 0666;  // what std::ofstream creates, less the umask

// True when something is at path that this user may not write. A dangling
// symbolic link reports no file (ENOENT), and is replaced as before.
bool mayNotWrite(const std::string& path) {
  return ::access(path.c_str(), W_OK) != 0 && errno != ENOENT;
}

bool createNew(const std::string& path) {
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (file < 0) return false;
  ::close(file);
  return true;
}
#endif

// A temporary name is this many random letters and digits, followed by the
// suffix where the target's name leaves room for both, so that a file left
// by a crash shows what it is.
constexpr std::size_t kRandomCharacters = 8;
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::string_view kNameCharacters = "0123456789abcdefghijklmnopqrstuvwxyz";
// Enough to find one of the few free names beside a one-character target.
constexpr int kNameAttempts = 256;

std::size_t fileNameStart(const std::string& path) {
  const bool windowsSeparators = std::filesystem::path::preferred_separator == '\\';
  const std::size_t separator = path.find_last_of(windowsSeparators ? "/\\:" : "/");
  return separator == std::string::npos ? 0 : separator + 1;
}

// The length of name counted so that no encoding counts it shorter: UTF-8
// continuation bytes are not counted, since a name's limit on Windows is in
// UTF-16 units and elsewhere in bytes.
std::size_t shortestLength(std::string_view name) {
  constexpr unsigned char kContinuationMask = 0xC0, kContinuation = 0x80;
  return static_cast<std::size_t>(std::count_if(name.begin(), name.end(), [](char c) {
    return (static_cast<unsigned char>(c) & kContinuationMask) != kContinuation;
  }));
}

// Names that differ in letter case name one file on Windows.
bool sameName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

// Windows opens these names as devices in every folder.
bool isDeviceName(std::string_view name) {
  constexpr std::string_view kDevices[] = {"aux", "con", "nul", "prn"};
  constexpr std::string_view kNumberedDevices[] = {"com", "lpt"};
  if (name.size() == 3)
    return std::find(std::begin(kDevices), std::end(kDevices), name) != std::end(kDevices);
  return name.size() == 4 && name[3] >= '0' && name[3] <= '9' &&
         std::find(std::begin(kNumberedDevices), std::end(kNumberedDevices), name.substr(0, 3)) !=
             std::end(kNumberedDevices);
}

// Random letters and digits that no other writer (another process included)
// is likely to draw at the same moment.
std::string randomCharacters(std::size_t count) {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t processSeed = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  const auto stamp =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::uint64_t bits = processSeed ^ (stamp * 0x9E3779B97F4A7C15ull) ^ counter++;
  // The finaliser of splitmix64, so that neighbouring stamps give unrelated names.
  bits = (bits ^ (bits >> 30)) * 0xBF58476D1CE4E5B9ull;
  bits = (bits ^ (bits >> 27)) * 0x94D049BB133111EBull;
  bits ^= bits >> 31;
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kNameCharacters[bits % kNameCharacters.size()];
    bits /= kNameCharacters.size();
  }
  return text;
}

// Creates a new empty file in the folder of target, under a name of its own no
// longer than target's, and returns its path (so the path is never longer
// than target's). The name is none of avoid, nor a file that exists; creating
// it exclusively keeps two writers from picking the same one. Returns an
// empty text when no such file can be created.
std::string reserveBeside(const std::string& target, const std::vector<std::string>& avoid) {
  const std::size_t nameStart = fileNameStart(target);
  const std::size_t limit = shortestLength(std::string_view(target).substr(nameStart));
  if (limit == 0) return {};
  const bool suffixed = limit >= kRandomCharacters + kTemporarySuffix.size();
  const std::size_t randomCount = std::min(limit, kRandomCharacters);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = randomCharacters(randomCount);
    if (isDeviceName(name)) continue;
    if (suffixed) name += kTemporarySuffix;
    std::string candidate = target.substr(0, nameStart) + name;
    if (std::any_of(avoid.begin(), avoid.end(),
                    [&](const std::string& other) { return sameName(other, candidate); })) {
      continue;
    }
    if (createNew(candidate)) return candidate;
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, error))) return {};
  }
  return {};
}

void removeQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// Writes writeBody's bytes to a new temporary file beside path and returns its
// name; throws as writeFileAtomically does, leaving no temporary file.
std::string writeTemporary(const std::string& path,
                           const std::function<void(std::ostream&)>& writeBody,
                           const std::vector<std::string>& avoid) {
  const std::string temporary = reserveBeside(path, avoid);
  if (temporary.empty()) throw std::runtime_error("Cannot Create file: " + path);
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

void requireWritable(const std::string& path) {
  if (mayNotWrite(path)) throw std::runtime_error("Cannot Create file: " + path);
}

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
  // Renaming over a file ignores whether the file may be written; the user
  // who made it read-only meant it to stay as it is.
  if (mayNotWrite(path)) throw std::runtime_error("Cannot Create file: " + path);
  const std::string temporary = writeTemporary(path, writeBody, {path});
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

std::vector<std::string> FileSet::targets() const {
  std::vector<std::string> paths;
  for (const Entry& entry : entries_) paths.push_back(entry.target);
  return paths;
}

void FileSet::add(const std::string& path, const std::function<void(std::ostream&)>& writeBody) {
  // An earlier temporary file may have drawn this target's name.
  for (Entry& other : entries_) {
    if (other.temporary.empty() || !sameName(other.temporary, path)) continue;
    std::vector<std::string> avoid = targets();
    avoid.push_back(path);
    const std::string moved = reserveBeside(other.target, avoid);
    if (moved.empty() || !replaceFile(other.temporary, moved)) {
      if (!moved.empty()) removeQuietly(moved);
      throw std::runtime_error("Cannot Create file: " + path);
    }
    other.temporary = moved;
  }
  Entry entry;
  entry.target = path;
  std::vector<std::string> avoid = targets();
  avoid.push_back(path);
  entry.temporary = writeTemporary(path, writeBody, avoid);
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
  // Every target is checked before the first is moved, so that a protected
  // file is not moved aside even for a moment.
  for (const Entry& entry : entries_) {
    if (!mayNotWrite(entry.target)) continue;
    if (entry.temporary.empty()) throw IOError("Failed removing file: " + entry.target);
    throw std::runtime_error("Cannot Create file: " + entry.target);
  }
  // Old files are moved aside rather than replaced in one rename, so that a
  // failure at a later target can still bring back every earlier one.
  const std::vector<std::string> avoid = targets();
  for (Entry& entry : entries_) {
    if (!occupiedByNonFolder(entry.target)) continue;
    const std::string aside = reserveBeside(entry.target, avoid);
    if (aside.empty() || !replaceFile(entry.target, aside)) {
      if (!aside.empty()) removeQuietly(aside);
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
