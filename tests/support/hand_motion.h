// An independent model of one volume's head motion for checking the plug-in's
// single-precision geometry: plain double-precision rotations built by hand.
#ifndef TESSEL_TESTS_SUPPORT_HAND_MOTION_H
#define TESSEL_TESTS_SUPPORT_HAND_MOTION_H

#include <cmath>

namespace tsl::testing {

struct Vec3d {
  double x, y, z;
};

// Rotates p about the fixed x, then y, then z axis (right-handed, by
// parameters[3..5] degrees, about the origin), then shifts it by minus the
// translations parameters[0..2].
inline Vec3d moveByHand(Vec3d p, const float* parameters) {
  const double toRadians = 3.14159265358979323846 / 180.0;
  const double a = parameters[3] * toRadians;
  const double b = parameters[4] * toRadians;
  const double c = parameters[5] * toRadians;
  const Vec3d rx{p.x, std::cos(a) * p.y - std::sin(a) * p.z, std::sin(a) * p.y + std::cos(a) * p.z};
  const Vec3d ry{std::cos(b) * rx.x + std::sin(b) * rx.z, rx.y, -std::sin(b) * rx.x + std::cos(b) * rx.z};
  const Vec3d rz{std::cos(c) * ry.x - std::sin(c) * ry.y, std::sin(c) * ry.x + std::cos(c) * ry.y, ry.z};
  return {rz.x - parameters[0], rz.y - parameters[1], rz.z - parameters[2]};
}

inline double distance(Vec3d a, Vec3d b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace tsl::testing

#endif
