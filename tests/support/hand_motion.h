// An independent model of one volume's head motion for checking the plug-in's
// single-precision geometry: plain double-precision rotations built by hand,
// and the two volume-to-volume displacement measures worked out with them.
#ifndef TESSEL_TESTS_SUPPORT_HAND_MOTION_H
#define TESSEL_TESTS_SUPPORT_HAND_MOTION_H

#include <cmath>
#include <numbers>

namespace tsl::testing {

struct Vec3d {
  double x, y, z;
};

// Rotates p about the fixed x, then y, then z axis (right-handed, by
// parameters[3..5] degrees, about the origin), then shifts it by minus the
// translations parameters[0..2]. Number is float or double.
template <typename Number>
Vec3d moveByHand(Vec3d p, const Number* parameters) {
  const double toRadians = 3.14159265358979323846 / 180.0;
  const double a = parameters[3] * toRadians;
  const double b = parameters[4] * toRadians;
  const double c = parameters[5] * toRadians;
  const Vec3d rx{p.x, std::cos(a) * p.y - std::sin(a) * p.z, std::sin(a) * p.y + std::cos(a) * p.z};
  const Vec3d ry{std::cos(b) * rx.x + std::sin(b) * rx.z, rx.y,
                 -std::sin(b) * rx.x + std::cos(b) * rx.z};
  const Vec3d rz{std::cos(c) * ry.x - std::sin(c) * ry.y, std::sin(c) * ry.x + std::cos(c) * ry.y,
                 ry.z};
  return {rz.x - parameters[0], rz.y - parameters[1], rz.z - parameters[2]};
}

inline double distance(Vec3d a, Vec3d b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

// Relative RMS displacement from volume parameters a to b, from the closed
// form: 0.2 r^2 (r = 65 mm) times the squared change of the rotation block
// plus the squared change of the translation, the rotations made by moving
// the unit vectors by hand.
template <typename Number>
double rmsChangeByHand(const Number* a, const Number* b) {
  const Vec3d origin{0, 0, 0};
  const Vec3d units[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const Vec3d ta = moveByHand(origin, a), tb = moveByHand(origin, b);
  double rotation = 0.0;
  for (const Vec3d& u : units) {
    const Vec3d ua = moveByHand(u, a), ub = moveByHand(u, b);
    const Vec3d ra{ua.x - ta.x, ua.y - ta.y, ua.z - ta.z};
    const Vec3d rb{ub.x - tb.x, ub.y - tb.y, ub.z - tb.z};
    rotation += distance(ra, rb) * distance(ra, rb);
  }
  return std::sqrt(0.2 * 65.0 * 65.0 * rotation + distance(ta, tb) * distance(ta, tb));
}

// Framewise displacement from a to b in double, the angle changes taken in
// degrees and turned into arcs on a 50 mm sphere.
template <typename Number>
double framewiseChangeByHand(const Number* a, const Number* b) {
  double fd = 0.0;
  for (int p = 0; p < 3; ++p) fd += std::fabs(double{b[p]} - a[p]);
  for (int p = 3; p < 6; ++p)
    fd += 50.0 * std::fabs(double{b[p]} - a[p]) * std::numbers::pi / 180.0;
  return fd;
}

}  // namespace tsl::testing

#endif
