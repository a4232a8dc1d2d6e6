#include "designmatrix/path_functions.h"

#include <gtest/gtest.h>

namespace tsl::testing {
namespace {

TEST(PathFunctions, HasExtensionIgnoresLetterCase) {
  EXPECT_TRUE(hasExtension("C:/data/run1_3DMC.sdm", "sdm"));
  EXPECT_TRUE(hasExtension("C:/DATA/RUN1_3DMC.SDM", "sdm"));
  EXPECT_TRUE(hasExtension("C:/data/run1_3DMC.Mdm", "mdm"));
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

TEST(PathFunctions, ExtensionEditsLookAtTheFileNameOnly) {
  EXPECT_EQ(stripExtension("C:/data/run1_3DMC.sdm"), "C:/data/run1_3DMC");
  EXPECT_EQ(stripExtension("C:/my.data/run1"), "C:/my.data/run1");
  EXPECT_EQ(stripExtension("C:\\my.data\\run1"), "C:\\my.data\\run1");
  EXPECT_EQ(stripExtension("C:/my.data\\run.1.sdm"), "C:/my.data\\run.1");
  EXPECT_EQ(stripExtension("run1"), "run1");
  EXPECT_EQ(insertBeforeExtension("C:/data/run_3DMC.sdm", "_spikes"),
            "C:/data/run_3DMC_spikes.sdm");
  EXPECT_EQ(insertBeforeExtension("C:/data/run.1.sdm", "_t1"), "C:/data/run.1_t1.sdm");
  EXPECT_EQ(insertBeforeExtension("C:/my.data/run1", "_x"), "C:/my.data/run1_x");
  EXPECT_EQ(insertBeforeExtension("C:\\my.data\\RUN1_3DMC.SDM", "_spikes"),
            "C:\\my.data\\RUN1_3DMC_spikes.SDM");
  EXPECT_EQ(insertBeforeExtension("C:/data/run1", "_spikes"), "C:/data/run1_spikes");
}

}  // namespace
}  // namespace tsl::testing
