// The brain mask of a functional run: the voxels bright enough in its first
// volume to be measured.
#ifndef TESSEL_FMR_VOXEL_MASK_H
#define TESSEL_FMR_VOXEL_MASK_H

#include <cstdint>
#include <vector>

#include "motion/volume.h"

namespace tsl {

// The indices, in increasing order, of the voxels of volume whose value is
// strictly above threshold; a voxel equal to it, or not a number, is left out.
// An index is (z * dim.y + y) * dim.x + x.
std::vector<std::int32_t> voxelMask(const Volume& volume, float threshold);

}  // namespace tsl

#endif
