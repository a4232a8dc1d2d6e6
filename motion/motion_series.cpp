#include "motion/motion_series.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

#include "designmatrix/motion_parameters.h"
#include "motion/rigid_body.h"

namespace tsl {

namespace {

Matrix4 matrixOfRow(const MotionRow& row) {
  return motionMatrix(ParameterArray(std::vector<float>(row.begin(), row.end())));
}

// The rotation block of motionMatrix for volume t, row by row, in double
// precision.
std::array<double, 9> rotationBlock(const MotionColumns& motion, std::size_t t) {
  const double a = radiansOf(motion[3][t]), b = radiansOf(motion[4][t]);
  const double c = radiansOf(motion[5][t]);
  const double sa = std::sin(a), ca = std::cos(a), sb = std::sin(b), cb = std::cos(b);
  const double sc = std::sin(c), cc = std::cos(c);
  return {cb * cc,
          cb * sc,
          -sb,
          sa * sb * cc - ca * sc,
          sa * sb * sc + ca * cc,
          sa * cb,
          ca * sb * cc + sa * sc,
          ca * sb * sc - sa * cc,
          ca * cb};
}

}  // namespace

std::vector<double> relativeRmsDisplacementInDouble(const MotionColumns& motion) {
  const std::size_t n = motion[0].size();
  constexpr double kRadius = kSphereRadiusMm;
  constexpr double kSphereFactor = 0.2 * kRadius * kRadius;
  std::vector<double> result(n, 0.0);
  for (std::size_t i = 1; i < n; ++i) {
    const std::array<double, 9> earlier = rotationBlock(motion, i - 1);
    const std::array<double, 9> later = rotationBlock(motion, i);
    double rotation = 0.0;
    for (std::size_t k = 0; k < earlier.size(); ++k) {
      rotation += (later[k] - earlier[k]) * (later[k] - earlier[k]);
    }
    double translation = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
      const double change = motion[k][i] - motion[k][i - 1];
      translation += change * change;
    }
    result[i] = std::sqrt(kSphereFactor * rotation + translation);
  }
  return result;
}

std::vector<float> relativeRmsDisplacement(const SdmDocument& motion) {
  return relativeRmsDisplacement(motionParametersOf(motion));
}

std::vector<float> relativeRmsDisplacement(const MotionParameters& motion) {
  const std::size_t n = motion.volumes.size();

  std::vector<float> result(n, 0.0f);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    // Each matrix is built afresh, so a value depends only on its two rows.
    const Matrix4 earlier = matrixOfRow(motion.volumes[i]);
    const Matrix4 later = matrixOfRow(motion.volumes[i + 1]);
    result[i + 1] = rmsDeviation(earlier, later, kSphereRadiusMm);
  }
  return result;
}

}  // namespace tsl
