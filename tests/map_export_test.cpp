#include "motion/map_export.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "designmatrix/io_error.h"
#include "plugin/host_api.h"
#include "plugin/host_functions.h"

namespace tsl::testing {
namespace {

// A host with one current run whose new maps have the grid `grid`.
struct FakeHost {
  std::int32_t grid[3] = {0, 0, 0};
  bool returnSlices = true;
  std::vector<std::vector<float>> slices;
  std::vector<float*> slicePointers;
  std::vector<std::string> calls;
  std::vector<char> parameters;  // the record handed to zrSetMAPParametersOfCurrentFMR
  std::string savedPath;
  bool writes = true;  // whether the save writes the file
};
FakeHost* host = nullptr;

void fakeCreate() {
  host->calls.push_back("create");
  host->slices.assign(static_cast<std::size_t>(host->grid[2]),
                      std::vector<float>(static_cast<std::size_t>(host->grid[0] * host->grid[1]), -1.0f));
}
float** fakeGet(char* record) {
  host->calls.push_back("get");
  std::memset(record, 0x55, tsl::host::kMapHeaderRecordSize);  // fields the plug-in must keep
  std::memcpy(record, host->grid, sizeof host->grid);
  host->slicePointers.clear();
  for (auto& s : host->slices) host->slicePointers.push_back(s.data());
  return host->returnSlices ? host->slicePointers.data() : nullptr;
}
void fakeSet(const char* record) {
  host->calls.push_back("set");
  host->parameters.assign(record, record + tsl::host::kMapHeaderRecordSize);
}
void fakeSave(const char* path) {
  host->calls.push_back("save");
  host->savedPath = path;
  if (host->writes) std::ofstream(path, std::ios::binary) << "maps of save " << host->calls.size();
}

class MapExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host = &fake_;
    auto& t = tsl::host::table();
    saved_ = t;
    t[index(tsl::host::Fn::zrCreateMAPForCurrentFMR)] = reinterpret_cast<tsl::host::RawFunction>(&fakeCreate);
    t[index(tsl::host::Fn::zrGetMAPOfCurrentFMR)] = reinterpret_cast<tsl::host::RawFunction>(&fakeGet);
    t[index(tsl::host::Fn::zrSetMAPParametersOfCurrentFMR)] =
        reinterpret_cast<tsl::host::RawFunction>(&fakeSet);
    t[index(tsl::host::Fn::zrSaveMAPsOfCurrentFMR)] = reinterpret_cast<tsl::host::RawFunction>(&fakeSave);
  }
  void TearDown() override {
    tsl::host::table() = saved_;
    host = nullptr;
    std::filesystem::remove_all(folder_);
  }

  // A path in a folder of this test's own.
  std::string file(const std::string& name) {
    std::filesystem::create_directories(folder_);
    return (folder_ / name).generic_string();
  }
  static std::size_t index(tsl::host::Fn fn) { return static_cast<std::size_t>(fn); }

  template <typename T>
  T parameterAt(std::size_t offset) const {
    T value;
    std::memcpy(&value, fake_.parameters.data() + offset, sizeof value);
    return value;
  }

  std::string failureOf(const Volume& volume) {
    fake_.calls.clear();
    try {
      exportMap(volume, 0.01f, 1.0f, "out.map");
    } catch (const std::logic_error& e) {
      return e.what();
    }
    return "no error";
  }

  FakeHost fake_;
  const std::filesystem::path folder_ =
      std::filesystem::path(::testing::TempDir()) /
      ("map_export_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  std::array<tsl::host::RawFunction, tsl::host::kHostFunctionCount> saved_{};
};

TEST_F(MapExportTest, CopiesSlicesSetsParametersAndSaves) {
  Volume volume(Dim3{2, 3, 2});
  for (std::size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<float>(i);
  fake_.grid[0] = 2;
  fake_.grid[1] = 3;
  fake_.grid[2] = 2;
  exportMap(volume, 0.01f, 11.0f, file("run1_3DMC_MaxAbsolute.map"));
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{"create", "get", "set", "save"}));
  // Rows (0, 1), (2, 3), (4, 5) in slice 0; the next six in slice 1.
  EXPECT_EQ(fake_.slices[0], (std::vector<float>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(fake_.slices[1], (std::vector<float>{6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(parameterAt<std::int32_t>(0), 2);
  EXPECT_EQ(parameterAt<std::int32_t>(8), 2);
  EXPECT_EQ(parameterAt<std::int32_t>(12), 1);
  EXPECT_EQ(parameterAt<float>(16), 0.01f);
  EXPECT_EQ(parameterAt<float>(20), 11.0f);
  EXPECT_EQ(parameterAt<std::uint32_t>(24), 0x55555555u);  // the host's own field stays
  EXPECT_EQ(parameterAt<std::uint32_t>(28), 0u);
  EXPECT_EQ(parameterAt<std::uint32_t>(60), 0x55555555u);
  EXPECT_EQ(fake_.savedPath, file("run1_3DMC_MaxAbsolute.map"));

  // An all-zero map with the upper value 0 is still filled and saved.
  const Volume zeros(Dim3{2, 3, 2}, 0.0f);
  exportMap(zeros, 0.01f, 0.0f, file("zero.map"));
  EXPECT_EQ(fake_.slices[1], std::vector<float>(6, 0.0f));
  EXPECT_EQ(parameterAt<float>(20), 0.0f);
  EXPECT_EQ(fake_.savedPath, file("zero.map"));
}

TEST_F(MapExportTest, MismatchesAreReportedInOrderAndNothingIsSaved) {
  fake_.grid[0] = 3;
  fake_.grid[1] = 2;
  fake_.grid[2] = 1;
  EXPECT_EQ(failureOf(Volume(Dim3{2, 3, 1})), "assertion failure (tessel:54): dim.y == header.DimY");
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{"create", "get"}));
  EXPECT_EQ(fake_.slices[0], std::vector<float>(6, -1.0f));  // nothing copied
  EXPECT_EQ(failureOf(Volume(Dim3{3, 2, 2})), "assertion failure (tessel:53): dim.z == header.DimZ");
  EXPECT_EQ(failureOf(Volume(Dim3{2, 2, 2})), "assertion failure (tessel:53): dim.z == header.DimZ");
  EXPECT_EQ(failureOf(Volume(Dim3{4, 2, 1})), "assertion failure (tessel:55): dim.x == header.DimX");
  fake_.returnSlices = false;
  EXPECT_EQ(failureOf(Volume(Dim3{9, 9, 9})), "assertion failure (tessel:52): slices != nullptr");
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{"create", "get"}));
  EXPECT_TRUE(fake_.savedPath.empty());
}

TEST_F(MapExportTest, ASaveTheHostDidNotMakeIsAnError) {
  fake_.grid[0] = fake_.grid[1] = fake_.grid[2] = 1;
  const Volume volume(Dim3{1, 1, 1}, 2.0f);
  const std::string path = file("run1_3DMC_MaxAbsolute.map");
  fake_.writes = false;
  for (const char* before : {"no file", "an earlier file"}) {
    SCOPED_TRACE(before);
    try {
      exportMap(volume, 0.01f, 2.0f, path);
      ADD_FAILURE() << "no exception";
    } catch (const IOError& error) {
      EXPECT_EQ(std::string(error.what()), "Failed writing file: " + path);
    }
    EXPECT_EQ(fake_.savedPath, path);
    std::ofstream(path) << "an earlier file";
  }
}

}  // namespace
}  // namespace tsl::testing
