#include "designmatrix/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>

#include "designmatrix/io_error.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_helpers.h"

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

}  // namespace
}  // namespace tsl::testing
