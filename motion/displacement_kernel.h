// The per-voxel displacement measures of one run's motion, accumulated over
// the voxels of a mask. Pure computation: no host calls, no files.
#ifndef TESSEL_MOTION_DISPLACEMENT_KERNEL_H
#define TESSEL_MOTION_DISPLACEMENT_KERNEL_H

#include <cstdint>
#include <memory>
#include <vector>

#include "designmatrix/cpu_features.h"
#include "designmatrix/motion_parameters.h"
#include "designmatrix/sdm_document.h"
#include "motion/volume.h"

namespace tsl {

// Seven volumes of the run's grid, in millimetres. Voxels outside the mask
// hold 0.
struct DisplacementMaps {
  Volume meanAbsolute;  // mean over the volumes of the absolute displacement
  Volume maxAbsolute;
  Volume meanRelative;  // mean of the displacement against the previous volume
  Volume maxRelative;
  Volume maxAbsoluteX;  // largest |x| component of the absolute displacement
  Volume maxAbsoluteY;
  Volume maxAbsoluteZ;
};

// Throws IOError naming motion.path when the document cannot drive the
// computation: what requireMotionParameters refuses (fewer than six predictor
// columns, a motion column shorter than NrOfDataPoints), or no data points.
void checkMotionDocument(const SdmDocument& motion);

struct KernelOptions {
  // automatic: AVX2 where this CPU has it.
  KernelInstructions instructions = KernelInstructions::automatic;
  // Threads sharing the voxels, the calling one included; 0 means one per
  // hardware thread. Each voxel is computed by one thread alone, so the result
  // does not depend on this number.
  unsigned threads = 0;
};

// For every volume j of motion (row j of its first six columns): moves the
// centres of the dims grid spanning extent millimetres by motionMatrix of
// that row, and per masked voxel takes
//   (dx, dy, dz) = moved - centre,    a = sqrt((dx*dx + dy*dy) + dz*dz)
//   (rx, ry, rz) = moved - previous,  r = sqrt((ry*ry + rx*rx) + rz*rz)
// (previous: the positions of volume j-1, the centres for volume 0); adds a
// and r to the sums and raises each maximum (a, r, |dx|, |dy|, |dz|) where the
// new value is not smaller than the stored one, volume by volume in order.
// The sums are then divided by float(N). Single precision throughout, in
// exactly this order, so every implementation of this contract gives the same
// bits as transforming the whole grid with transformPoints volume by volume.
//
// Throws what checkMotionDocument throws; std::invalid_argument when the mask
// is not strictly increasing or holds an index outside the grid, or when AVX2
// is asked for on a CPU without it.
DisplacementMaps computeDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                     const float extent[3], const SdmDocument& motion,
                                     KernelOptions options = {});

// The same measures over the mask alone: element k of each list belongs to
// voxel mask[k]. Less memory than seven whole volumes; a volume is made of
// one list when it is needed (expandToVolume).
struct MaskedMeasures {
  std::size_t count = 0;  // mask.size()
  std::unique_ptr<float[]> meanAbsolute, maxAbsolute, meanRelative, maxRelative;
  std::unique_ptr<float[]> maxAbsoluteX, maxAbsoluteY, maxAbsoluteZ;
};
MaskedMeasures computeMaskedDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                         const float extent[3], const SdmDocument& motion,
                                         KernelOptions options = {});
// The same of parameters already taken out of their document (IOError when
// it holds no volume).
MaskedMeasures computeMaskedDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                         const float extent[3], const MotionParameters& motion,
                                         KernelOptions options = {});

// Sets every element of volume to 0, then element mask[k] to values[k].
// REQUIRES: values holds mask.size() floats, every index of mask inside volume.
void expandToVolume(const float* values, const std::vector<std::int32_t>& mask, Volume& volume);

}  // namespace tsl

#endif
