#include "tests/support/reference_displacement.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "motion/rigid_body.h"

namespace tsl::testing {

DisplacementMaps referenceDisplacement(const std::vector<std::int32_t>& mask, Dim3 dims,
                                       const float extent[3], const SdmDocument& motion) {
  checkMotionDocument(motion);
  DisplacementMaps maps{Volume(dims, 0.0f), Volume(dims, 0.0f), Volume(dims, 0.0f),
                        Volume(dims, 0.0f), Volume(dims, 0.0f), Volume(dims, 0.0f),
                        Volume(dims, 0.0f)};
  const PointSet centres = voxelCentres(dims.x, dims.y, dims.z, extent[0], extent[1], extent[2]);
  PointSet previous = centres;
  const auto n = static_cast<std::size_t>(motion.NrOfDataPoints.value);
  for (std::size_t j = 0; j < n; ++j) {
    std::vector<float> values;
    for (std::size_t p = 0; p < 6; ++p) values.push_back(motion.columns[p][j]);
    const PointSet current =
        transformPoints(centres, motionMatrix(ParameterArray(std::move(values))));
    for (const std::int32_t index : mask) {
      const auto v = static_cast<std::size_t>(index);
      const Point3 c = current[v];
      const Point3 o = centres[v];
      const Point3 p = previous[v];
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
      if (a >= maps.maxAbsolute[v]) maps.maxAbsolute[v] = a;
      if (r >= maps.maxRelative[v]) maps.maxRelative[v] = r;
      if (std::fabs(dx) >= maps.maxAbsoluteX[v]) maps.maxAbsoluteX[v] = std::fabs(dx);
      if (std::fabs(dy) >= maps.maxAbsoluteY[v]) maps.maxAbsoluteY[v] = std::fabs(dy);
      if (std::fabs(dz) >= maps.maxAbsoluteZ[v]) maps.maxAbsoluteZ[v] = std::fabs(dz);
    }
    previous = current;
  }
  maps.meanAbsolute /= static_cast<float>(n);
  maps.meanRelative /= static_cast<float>(n);
  return maps;
}

std::vector<const Volume*> mapsInOrder(const DisplacementMaps& maps) {
  return {&maps.meanAbsolute, &maps.maxAbsolute,  &maps.meanRelative, &maps.maxRelative,
          &maps.maxAbsoluteX, &maps.maxAbsoluteY, &maps.maxAbsoluteZ};
}

namespace {

// Same bits, or both not-a-number: a NaN's sign and payload depend on which
// operand of a commutative operation the compiler puts first, and carry no
// meaning.
bool sameValues(const Volume& a, const Volume& b) {
  if (std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::memcmp(a.data() + i, b.data() + i, sizeof(float)) != 0 &&
        !(std::isnan(a[i]) && std::isnan(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

int firstDifferentMap(const DisplacementMaps& a, const DisplacementMaps& b) {
  const auto ma = mapsInOrder(a);
  const auto mb = mapsInOrder(b);
  for (std::size_t i = 0; i < ma.size(); ++i) {
    if (!(ma[i]->dim == mb[i]->dim) || ma[i]->size() != mb[i]->size() ||
        !sameValues(*ma[i], *mb[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace tsl::testing
