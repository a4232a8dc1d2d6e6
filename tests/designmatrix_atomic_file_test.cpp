#include "designmatrix/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "designmatrix/io_error.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tsl::testing {
namespace {

namespace fs = std::filesystem;

std::size_t entriesIn(const fs::path& folder) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
  return count;
}

TEST(AtomicFile, WritesNewFilesAndReplacesExistingOnesByteForByte) {
  TempDir dir;
  const std::string target = dir.file("out.sdm");
  writeFileAtomically(target, [](std::ostream& out) { out << "first\r\n" << 1.5; });
  EXPECT_EQ(readFile(target), "first\r\n1.5");
  writeFileAtomically(target, [](std::ostream& out) { out << "second\n"; });
  EXPECT_EQ(readFile(target), "second\n");
  EXPECT_EQ(entriesIn(dir.path()), 1u);
}

TEST(AtomicFile, FailuresLeaveTheTargetUntouchedAndNoTemporaryBehind) {
  TempDir dir;
  const std::string target = dir.file("keep.sdm");
  writeFile(target, "original bytes\r\n");

  // The body fails half-way: its exception comes through unchanged.
  const auto throwing = [](std::ostream& out) {
    out << "partial";
    throw std::logic_error("body failed");
  };
  EXPECT_THROW_MSG(writeFileAtomically(target, throwing), std::logic_error, "body failed");
  EXPECT_EQ(readFile(target), "original bytes\r\n");
  EXPECT_EQ(entriesIn(dir.path()), 1u);

  // The stream reports an error (as a full disk would).
  const auto failing = [](std::ostream& out) {
    out << "partial";
    out.setstate(std::ios::badbit);
  };
  EXPECT_THROW_MSG(writeFileAtomically(target, failing), IOError, "Failed writing file: " + target);
  EXPECT_EQ(readFile(target), "original bytes\r\n");
  EXPECT_EQ(entriesIn(dir.path()), 1u);

  // A folder in the way of the target: created beside it, but not renamable.
  const std::string folder = dir.file("folder.sdm");
  fs::create_directory(folder);
  fs::create_directory(folder + "/inside");
  EXPECT_THROW_MSG(writeFileAtomically(folder, [](std::ostream& out) { out << "x"; }),
                   std::runtime_error, "Cannot Create file: " + folder);
  EXPECT_TRUE(fs::is_directory(folder + "/inside"));
  EXPECT_EQ(entriesIn(dir.path()), 2u);

  // A parent that is a regular file: nothing can be created there at all.
  const std::string below = target + "/child.sdm";
  EXPECT_THROW_MSG(writeFileAtomically(below, [](std::ostream& out) { out << "x"; }),
                   std::runtime_error, "Cannot Create file: " + below);
  EXPECT_EQ(readFile(target), "original bytes\r\n");
  EXPECT_EQ(entriesIn(dir.path()), 2u);
}

TEST(FileSet, PutsEveryFileInPlaceOrNone) {
  TempDir dir;
  const std::string first = dir.file("first.sdm"), second = dir.file("second.sdm"),
                    third = dir.file("third.sdm"), stale = dir.file("stale.sdm");
  writeFile(first, "earlier first");
  writeFile(stale, "earlier stale");
  fs::create_directory(third);
  auto text = [](const char* bytes) { return [bytes](std::ostream& out) { out << bytes; }; };

  // A folder where the third file goes: the first two were already in place
  // and are taken back; the file to remove stays.
  {
    FileSet files;
    files.add(first, text("new first"));
    files.add(second, text("new second"));
    files.add(third, text("new third"));
    EXPECT_TRUE(files.remove(stale));
    EXPECT_EQ(readFile(first), "earlier first");  // nothing changes before commit
    EXPECT_THROW_MSG(files.commit(), std::runtime_error, "Cannot Create file: " + third);
  }
  EXPECT_EQ(readFile(first), "earlier first");
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::is_directory(third));
  EXPECT_EQ(readFile(stale), "earlier stale");
  EXPECT_EQ(entriesIn(dir.path()), 3u);

  // Without the folder, everything arrives; a folder or nothing is not a
  // file to remove.
  fs::remove(third);
  fs::create_directory(dir.file("folder.sdm"));
  FileSet files;
  files.add(first, text("new first"));
  files.add(second, text("new second"));
  EXPECT_TRUE(files.remove(stale));
  EXPECT_FALSE(files.remove(dir.file("folder.sdm")));
  EXPECT_FALSE(files.remove(third));
  files.commit();
  EXPECT_EQ(readFile(first), "new first");
  EXPECT_EQ(readFile(second), "new second");
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_EQ(entriesIn(dir.path()), 3u);
}

// Runs task as a user whom a file without write permission stops, and returns
// its text; nullopt when this process cannot become one. Root writes every
// file, so as root the task runs in a child process as the user nobody.
std::optional<std::string> asUserWithoutOverride(const std::function<std::string()>& task) {
#ifdef _WIN32
  return task();  // the read-only attribute stops every user
#else
  constexpr id_t kNobody = 65534;
  constexpr int kCannotDrop = 3;
  if (::geteuid() != 0) return task();
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(kCannotDrop);
    }
    const std::string text = task();
    const bool sent =
        ::write(pipeEnds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(pipeEnds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeEnds[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return std::nullopt;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotDrop) return std::nullopt;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + text;
  return text;
#endif
}

// What a call threw ("IOError: ..." or "runtime_error: ..."), one line each.
std::string thrown(const std::function<void()>& call) {
  try {
    call();
  } catch (const IOError& error) {
    return std::string("IOError: ") + error.what() + "\n";
  } catch (const std::runtime_error& error) {
    return std::string("runtime_error: ") + error.what() + "\n";
  }
  return "nothing\n";
}

TEST(AtomicFile, FilesTheUserMayNotWriteAreRefusedAndKeepBytesAndPermissions) {
  TempDir dir;
  const std::string writable = dir.file("writable.sdm"), kept = dir.file("kept.sdm"),
                    stale = dir.file("stale.sdm");
  writeFile(writable, "old writable");
  writeFile(kept, "protected\r\n");
  writeFile(stale, "protected stale");
  // The folder, and writable, are open to anyone: only kept and stale are not.
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(writable, fs::perms::all);
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(kept, readOnly);
  fs::permissions(stale, readOnly);
  auto text = [](const char* bytes) { return [bytes](std::ostream& out) { out << bytes; }; };

  const std::optional<std::string> outcome = asUserWithoutOverride([&] {
    std::string report = thrown([&] { writeFileAtomically(kept, text("new")); });
    report += thrown([&] {
      FileSet files;
      files.add(writable, text("new writable"));
      files.add(kept, text("new kept"));
      files.commit();
    });
    report += thrown([&] {
      FileSet files;
      files.add(writable, text("new writable"));
      files.remove(stale);
      files.commit();
    });
    return report;
  });
  if (!outcome) GTEST_SKIP() << "cannot run as a user whom file permissions stop";
  EXPECT_EQ(*outcome, "runtime_error: Cannot Create file: " + kept + "\n" +
                          "runtime_error: Cannot Create file: " + kept + "\n" +
                          "IOError: Failed removing file: " + stale + "\n");
  EXPECT_EQ(folderContents(dir.path()),
            (std::map<std::string, std::string>{{"kept.sdm", "protected\r\n"},
                                                {"stale.sdm", "protected stale"},
                                                {"writable.sdm", "old writable"}}));
  EXPECT_EQ(fs::status(kept).permissions(), readOnly);
  EXPECT_EQ(fs::status(stale).permissions(), readOnly);
}

TEST(AtomicFile, TemporaryNamesAreNoLongerThanTheTargetsName) {
  TempDir dir;
  // The longest name Linux allows, replaced through a temporary and aside.
  const std::string longName = dir.file(std::string(255, 'm'));
  writeFileAtomically(longName, [](std::ostream& out) { out << "first"; });
  FileSet replacing;
  replacing.add(longName, [](std::ostream& out) { out << "second"; });
  replacing.commit();
  EXPECT_EQ(readFile(longName), "second");
  fs::remove(longName);

  // One-character targets, half of them there: the few free names must serve
  // every temporary file and every file moved aside, and none may be a target.
  const std::string names = "0123456789ab";
  for (std::size_t i = 0; i < names.size(); i += 2) writeFile(dir.file(names.substr(i, 1)), "old");
  FileSet files;
  for (std::size_t i = 0; i < names.size(); ++i) {
    files.add(dir.file(names.substr(i, 1)), [&, i](std::ostream& out) {
      for (const auto& entry : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename().string().size(), 1u);
      }
      out << "new " << names[i];
    });
  }
  files.commit();
  for (const char name : names) EXPECT_EQ(readFile(dir.file({name})), std::string("new ") + name);
  EXPECT_EQ(entriesIn(dir.path()), names.size());
}

}  // namespace
}  // namespace tsl::testing
