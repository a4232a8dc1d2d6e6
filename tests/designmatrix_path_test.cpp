#include "designmatrix/path_functions.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tsl::testing {
namespace {

TEST(PathFunctions, HasExtensionIsExactAndCaseSensitive) {
  EXPECT_TRUE(hasExtension("C:/data/run1_3DMC.sdm", "sdm"));
  EXPECT_FALSE(hasExtension("C:/data/run1_3DMC.sdm", "SDM"));
  EXPECT_FALSE(hasExtension("C:/data/run1_3DMC.sdm", "mdm"));
  EXPECT_TRUE(hasExtension(".sdm", "sdm"));
  EXPECT_FALSE(hasExtension("sdm", "sdm"));
  EXPECT_FALSE(hasExtension("", "sdm"));
  EXPECT_FALSE(hasExtension("run1_sdm", "sdm"));
}

TEST(PathFunctions, FileNameAndDirectorySplitAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(fileNameOf("C:/data/"), "");
  EXPECT_EQ(fileNameOf("run1.sdm"), "run1.sdm");
  EXPECT_EQ(fileNameOf("C:\\data/sub\\run1.sdm"), "run1.sdm");
  EXPECT_EQ(fileNameOf("C:/data\\sub/run1.sdm"), "run1.sdm");
  EXPECT_EQ(directoryOf("run1.sdm"), "");
  EXPECT_EQ(directoryOf("C:/data/"), "C:/data/");
  EXPECT_EQ(directoryOf("C:\\data/sub\\run1.sdm"), "C:\\data/sub\\");
  EXPECT_EQ(directoryOf("/run1.sdm"), "/");
}

TEST(PathFunctions, ExtensionEditsUseTheLastDotAnywhere) {
  EXPECT_EQ(stripExtension("C:/my.data/run1"), "C:/my");
  EXPECT_EQ(stripExtension("C:/data/run1_3DMC.sdm"), "C:/data/run1_3DMC");
  EXPECT_EQ(stripExtension("run1"), "run1");
  EXPECT_EQ(insertBeforeExtension("C:/data/run_3DMC.sdm", "_spikes"), "C:/data/run_3DMC_spikes.sdm");
  EXPECT_EQ(insertBeforeExtension("C:/data/run.1.sdm", "_t1"), "C:/data/run.1_t1.sdm");
  EXPECT_EQ(insertBeforeExtension("C:/my.data/run1", "_x"), "C:/my_x.data/run1");
  try {
    insertBeforeExtension("C:/data/run1", "_spikes");
    FAIL() << "no exception";
  } catch (const std::out_of_range& error) {
    EXPECT_STREQ(error.what(), "invalid string position");
  }
}

}  // namespace
}  // namespace tsl::testing
