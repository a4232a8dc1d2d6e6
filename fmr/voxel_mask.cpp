#include "fmr/voxel_mask.h"

namespace tsl {

std::vector<std::int32_t> voxelMask(const Volume& volume, float threshold) {
  std::vector<std::int32_t> mask;
  // A volume's element count fits in 32 bits (Volume checks it), so do its indices.
  for (std::size_t i = 0; i < volume.size(); ++i) {
    if (volume[i] > threshold) mask.push_back(static_cast<std::int32_t>(i));
  }
  return mask;
}

}  // namespace tsl
