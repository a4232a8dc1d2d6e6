#include "motion/volume.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

TEST(Volume, ElementCountIsCheckedInAWideType) {
  EXPECT_EQ(Volume::elementCount(Dim3{46340, 46340, 1}), 2147395600u);
  // 46341^2 wraps a 32-bit product to a negative number.
  EXPECT_THROW_MSG(Volume v(Dim3{46341, 46341, 1}), std::length_error,
                   "Volume grid 46341 x 46341 x 1 is not a valid voxel grid");
  EXPECT_THROW_MSG(Volume v(Dim3{65536, 65536, 65536}), std::length_error,
                   "Volume grid 65536 x 65536 x 65536 is not a valid voxel grid");
  EXPECT_THROW_MSG(Volume v(Dim3{-1, 2, 3}), std::length_error,
                   "Volume grid -1 x 2 x 3 is not a valid voxel grid");
  EXPECT_THROW_MSG(Volume v(Dim3{2, 2, -2}), std::length_error,
                   "Volume grid 2 x 2 x -2 is not a valid voxel grid");
  const Volume empty(Dim3{0, 5, 5});
  EXPECT_EQ(empty.size(), 0u);
}

TEST(Volume, CopiesAreDeepAndDivisionIsInPlace) {
  Volume a(Dim3{2, 3, 1}, 3.0f);
  a[5] = 6.0f;
  Volume b(a);
  b[0] = 9.0f;
  EXPECT_EQ(a[0], 3.0f);
  EXPECT_EQ(b.dim, (Dim3{2, 3, 1}));
  EXPECT_EQ(b[5], 6.0f);
  Volume c;
  EXPECT_EQ(c.size(), 0u);
  c = a;
  c /= 3.0f;
  EXPECT_EQ(c[0], 1.0f);
  EXPECT_EQ(c[5], 2.0f);
  EXPECT_EQ(a[5], 6.0f);
}

}  // namespace
}  // namespace tsl::testing
