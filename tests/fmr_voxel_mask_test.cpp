#include "fmr/voxel_mask.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace tsl::testing {
namespace {

TEST(VoxelMaskTest, KeepsVoxelsStrictlyAboveTheThresholdInIndexOrder) {
  constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  // 3 x 2 x 2: index (z * 2 + y) * 3 + x.
  Volume volume(Dim3{3, 2, 2});
  const float values[] = {400.5f, 400.0f, 399.9f, kNan,   1200.0f, -kInf,
                          kInf,   0.0f,   401.0f, 400.0f, -500.0f, 400.0001f};
  for (std::size_t i = 0; i < volume.size(); ++i) volume[i] = values[i];
  EXPECT_EQ(voxelMask(volume, 400.0f), (std::vector<std::int32_t>{0, 4, 6, 8, 11}));
  // Below every finite value: only not-a-number and minus infinity stay out.
  EXPECT_EQ(voxelMask(volume, -1000.0f),
            (std::vector<std::int32_t>{0, 1, 2, 4, 6, 7, 8, 9, 10, 11}));
  EXPECT_TRUE(voxelMask(volume, kInf).empty());
  EXPECT_TRUE(voxelMask(Volume(), 0.0f).empty());
}

}  // namespace
}  // namespace tsl::testing
