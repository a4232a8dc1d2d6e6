#include "motion/displacement_kernel.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "designmatrix/io_error.h"
#include "designmatrix/motion_parameters.h"
#include "motion/rigid_body.h"

namespace tsl {
namespace {

constexpr auto kParameters = static_cast<std::size_t>(kMotionParameterCount);

Matrix4 matrixOfRow(const SdmDocument& motion, std::size_t row) {
  std::vector<float> values(kParameters);
  for (std::size_t p = 0; p < kParameters; ++p) values[p] = motion.columns[p][row];
  return motionMatrix(ParameterArray(std::move(values)));
}

void checkMask(const std::vector<std::int32_t>& mask, std::size_t voxels) {
  std::int64_t previous = -1;
  for (const std::int32_t index : mask) {
    if (index <= previous || static_cast<std::size_t>(index) >= voxels) {
      throw std::invalid_argument("voxel mask index " + std::to_string(index) +
                                  " is out of order or outside a grid of " +
                                  std::to_string(voxels) + " voxels");
    }
    previous = index;
  }
}

inline void raise(float& stored, float value) {
  if (value >= stored) stored = value;
}

}  // namespace

void checkMotionDocument(const SdmDocument& motion) {
  requireMotionParameters(motion);
  if (motion.NrOfDataPoints.value == 0) {
    // The means are divided by the number of volumes.
    throw IOError("SDM file " + motion.path + ": holds no data points, nothing to measure");
  }
}

DisplacementMaps computeDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                     const float extent[3], const SdmDocument& motion) {
  checkMotionDocument(motion);
  const std::size_t voxels = Volume::elementCount(dims);
  checkMask(mask, voxels);

  DisplacementMaps maps{Volume(dims, 0.0f), Volume(dims, 0.0f), Volume(dims, 0.0f),
                        Volume(dims, 0.0f), Volume(dims, 0.0f), Volume(dims, 0.0f),
                        Volume(dims, 0.0f)};
  // Only the masked centres are moved: each point is transformed on its own,
  // so its result does not depend on which other points are in the set.
  const PointSet grid = voxelCentres(dims.x, dims.y, dims.z, extent[0], extent[1], extent[2]);
  PointSet centres(mask.size());
  for (std::size_t k = 0; k < mask.size(); ++k) centres.set(k, grid[static_cast<std::size_t>(mask[k])]);
  PointSet previous = centres;

  const auto n = static_cast<std::size_t>(motion.NrOfDataPoints.value);
  for (std::size_t j = 0; j < n; ++j) {
    PointSet current = transformPoints(centres, matrixOfRow(motion, j));
    for (std::size_t k = 0; k < mask.size(); ++k) {
      const auto v = static_cast<std::size_t>(mask[k]);
      const Point3 c = current[k];
      const Point3 o = centres[k];
      const Point3 p = previous[k];
      const float dx = c.x - o.x;
      const float dy = c.y - o.y;
      const float dz = c.z - o.z;
      const float rx = c.x - p.x;
      const float ry = c.y - p.y;
      const float rz = c.z - p.z;
      const float a = std::sqrt((dx * dx + dy * dy) + dz * dz);
      const float r = std::sqrt((ry * ry + rx * rx) + rz * rz);
      maps.meanAbsolute[v] += a;
      maps.meanRelative[v] += r;
      raise(maps.maxAbsolute[v], a);
      raise(maps.maxRelative[v], r);
      raise(maps.maxAbsoluteX[v], std::fabs(dx));
      raise(maps.maxAbsoluteY[v], std::fabs(dy));
      raise(maps.maxAbsoluteZ[v], std::fabs(dz));
    }
    previous = std::move(current);
  }
  const float count = static_cast<float>(n);
  maps.meanAbsolute /= count;
  maps.meanRelative /= count;
  return maps;
}

}  // namespace tsl
