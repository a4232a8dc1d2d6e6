#include "motion/rigid_body.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace tsl {

const float PI = 4.0f * std::atan(1.0f);

namespace {

// x reduced to r in about [-pi/4, pi/4] with x = r + quadrant * pi/2 (mod 2 pi).
// pi/2 is split into three parts whose first two have 33 significant bits, so
// their products with any quotient below 2^20 are exact; larger arguments are
// first brought into (-2 pi, 2 pi) by fmod, which is exact.
double reduceToQuadrant(double x, int& quadrant) {
  constexpr double kTwoPi = 6.283185307179586;
  constexpr double kTwoOverPi = 0.6366197723675814;
  constexpr double kHalfPi1 = 1.5707963267341256;
  constexpr double kHalfPi2 = 6.077100506303966e-11;
  constexpr double kHalfPi3 = 2.0222662487959506e-21;
  if (std::fabs(x) > 1.0e6) x = std::fmod(x, kTwoPi);
  const double k = std::floor(x * kTwoOverPi + 0.5);
  const auto q = static_cast<long long>(k);
  quadrant = static_cast<int>(((q % 4) + 4) % 4);
  return ((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3;
}

// Taylor series to the 15th and 16th power: below 1e-16 relative error for
// |r| <= pi/4, far beneath the float rounding that follows.
double sinOfReduced(double r) {
  const double r2 = r * r;
  double p = 1.0 / 1307674368000.0;
  p = r2 * p - 1.0 / 6227020800.0;
  p = r2 * p + 1.0 / 39916800.0;
  p = r2 * p - 1.0 / 362880.0;
  p = r2 * p + 1.0 / 5040.0;
  p = r2 * p - 1.0 / 120.0;
  p = r2 * p + 1.0 / 6.0;
  return r - (r * r2) * p;
}

double cosOfReduced(double r) {
  const double r2 = r * r;
  double p = 1.0 / 20922789888000.0;
  p = r2 * p - 1.0 / 87178291200.0;
  p = r2 * p + 1.0 / 479001600.0;
  p = r2 * p - 1.0 / 3628800.0;
  p = r2 * p + 1.0 / 40320.0;
  p = r2 * p - 1.0 / 720.0;
  p = r2 * p + 1.0 / 24.0;
  p = r2 * p - 0.5;
  return 1.0 + r2 * p;
}

}  // namespace

float sineOf(float angle) {
  if (!std::isfinite(angle)) return angle - angle;
  int quadrant = 0;
  const double r = reduceToQuadrant(static_cast<double>(angle), quadrant);
  // sin(-0) stays -0.
  if (angle == 0.0f) return angle;
  switch (quadrant) {
    case 0:
      return static_cast<float>(sinOfReduced(r));
    case 1:
      return static_cast<float>(cosOfReduced(r));
    case 2:
      return static_cast<float>(-sinOfReduced(r));
    default:
      return static_cast<float>(-cosOfReduced(r));
  }
}

float cosineOf(float angle) {
  if (!std::isfinite(angle)) return angle - angle;
  int quadrant = 0;
  const double r = reduceToQuadrant(static_cast<double>(angle), quadrant);
  switch (quadrant) {
    case 0:
      return static_cast<float>(cosOfReduced(r));
    case 1:
      return static_cast<float>(-sinOfReduced(r));
    case 2:
      return static_cast<float>(-cosOfReduced(r));
    default:
      return static_cast<float>(sinOfReduced(r));
  }
}

ParameterArray::ParameterArray(std::vector<float>&& source) {
  if (source.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::length_error("ParameterArray: too many values");
  }
  count_ = static_cast<std::int32_t>(source.size());
  values_ = std::make_unique<float[]>(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) values_[i] = source[i];
  source.clear();
  source.shrink_to_fit();
}

Matrix4 Matrix4::identity() {
  Matrix4 r;
  for (int i = 0; i < 4; ++i) r(i, i) = 1.0f;
  return r;
}

Matrix4 motionMatrix(const ParameterArray& p) {
  if (p.count() != static_cast<std::int32_t>(kMotionParameterCount)) {
    throw std::invalid_argument("motionMatrix: expected 6 motion parameters, got " +
                                std::to_string(p.count()));
  }
  const float a = (PI * p[3]) / 180.0f;
  const float b = (PI * p[4]) / 180.0f;
  const float c = (PI * p[5]) / 180.0f;
  const float u = -p[0];
  const float v = -p[1];
  const float w = -p[2];
  const float sa = sineOf(a), ca = cosineOf(a);
  const float sb = sineOf(b), cb = cosineOf(b);
  const float sc = sineOf(c), cc = cosineOf(c);

  Matrix4 m;
  m(0, 0) = cb * cc;
  m(0, 1) = cb * sc;
  m(0, 2) = -sb;
  m(0, 3) = u;
  m(1, 0) = sa * sb * cc - ca * sc;
  m(1, 1) = sa * sb * sc + ca * cc;
  m(1, 2) = sa * cb;
  m(1, 3) = v;
  m(2, 0) = ca * sb * cc + sa * sc;
  m(2, 1) = ca * sb * sc - sa * cc;
  m(2, 2) = ca * cb;
  m(2, 3) = w;
  m(3, 3) = 1.0f;
  return m;
}

PointSet transformPoints(const PointSet& points, const Matrix4& m) {
  const std::size_t n = points.size();
  PointSet out(n);
  const float* in = points.data();
  float* res = out.data();
  for (std::size_t k = 0; k < n; ++k) {
    const float x = in[3 * k], y = in[3 * k + 1], z = in[3 * k + 2];
    res[3 * k] = ((x * m(0, 0) + y * m(1, 0)) + z * m(2, 0)) + m(0, 3);
    res[3 * k + 1] = ((x * m(0, 1) + y * m(1, 1)) + z * m(2, 1)) + m(1, 3);
    res[3 * k + 2] = ((x * m(0, 2) + y * m(1, 2)) + z * m(2, 2)) + m(2, 3);
  }
  return out;
}

GridAxis gridAxis(std::int32_t dim, float extent) {
  GridAxis axis;
  axis.step = extent / static_cast<float>(dim);
  axis.origin = (axis.step - extent) * 0.5f;
  return axis;
}

PointSet voxelCentres(std::int32_t dimX, std::int32_t dimY, std::int32_t dimZ, float extentX,
                      float extentY, float extentZ) {
  if (dimX < 0 || dimY < 0 || dimZ < 0) {
    throw std::invalid_argument("voxelCentres: negative grid dimension " + std::to_string(dimX) +
                                " x " + std::to_string(dimY) + " x " + std::to_string(dimZ));
  }
  const auto nx = static_cast<std::size_t>(dimX);
  const auto ny = static_cast<std::size_t>(dimY);
  const auto nz = static_cast<std::size_t>(dimZ);
  // Three floats per point must fit in one allocation.
  const std::size_t limit = std::numeric_limits<std::size_t>::max() / (3 * sizeof(float));
  if (nx != 0 && ny != 0 && nz != 0 && (ny > limit / nx || nz > limit / (nx * ny))) {
    throw std::length_error("voxelCentres: grid " + std::to_string(dimX) + " x " +
                            std::to_string(dimY) + " x " + std::to_string(dimZ) + " is too large");
  }
  const GridAxis ax = gridAxis(dimX, extentX);
  const GridAxis ay = gridAxis(dimY, extentY);
  const GridAxis az = gridAxis(dimZ, extentZ);

  PointSet points(nx * ny * nz);
  float* out = points.data();
  std::size_t k = 0;
  for (std::int32_t z = 0; z < dimZ; ++z) {
    const float pz = az.centre(z);
    for (std::int32_t y = 0; y < dimY; ++y) {
      const float py = ay.centre(y);
      for (std::int32_t x = 0; x < dimX; ++x) {
        out[k++] = ax.centre(x);
        out[k++] = py;
        out[k++] = pz;
      }
    }
  }
  return points;
}

namespace {

// Determinant of the 3x3 matrix left when row r and column c of a are removed.
float minorDeterminant(const Matrix4& a, int r, int c) {
  float e[9];
  int n = 0;
  for (int i = 0; i < 4; ++i) {
    if (i == r) continue;
    for (int j = 0; j < 4; ++j) {
      if (j == c) continue;
      e[n++] = a(i, j);
    }
  }
  return (e[0] * (e[4] * e[8] - e[5] * e[7]) - e[1] * (e[3] * e[8] - e[5] * e[6])) +
         e[2] * (e[3] * e[7] - e[4] * e[6]);
}

}  // namespace

Matrix4 invert(const Matrix4& a) {
  Matrix4 cofactor;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      const float d = minorDeterminant(a, r, c);
      cofactor(r, c) = ((r + c) % 2 == 0) ? d : -d;
    }
  }
  const float det =
      ((a(0, 0) * cofactor(0, 0) + a(0, 1) * cofactor(0, 1)) + a(0, 2) * cofactor(0, 2)) +
      a(0, 3) * cofactor(0, 3);
  // The inverse is the transposed cofactor matrix over the determinant.
  Matrix4 inv;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) inv(r, c) = cofactor(c, r) / det;
  }
  return inv;
}

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
  Matrix4 p;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a(r, k) * b(k, c);
      p(r, c) = sum;
    }
  }
  return p;
}

Matrix4 subtract(const Matrix4& a, const Matrix4& b) {
  Matrix4 d;
  for (std::size_t i = 0; i < d.m.size(); ++i) d.m[i] = a.m[i] - b.m[i];
  return d;
}

float rmsDeviation(const Matrix4& m1, const Matrix4& m2, float radiusMm) {
  const Matrix4 d = subtract(multiply(invert(m1), m2), Matrix4::identity());
  // Diagonal of AᵀA, A the upper-left 3x3 block: the squared column lengths.
  float s[3];
  for (int j = 0; j < 3; ++j) {
    float sum = 0.0f;
    for (int k = 0; k < 3; ++k) sum += d(k, j) * d(k, j);
    s[j] = sum;
  }
  const float q = (s[0] + s[1]) + s[2];
  const float tx = d(0, 3), ty = d(1, 3), tz = d(2, 3);
  return std::sqrt(q * ((radiusMm * 0.2f) * radiusMm) + ((ty * ty + tx * tx) + tz * tz));
}

}  // namespace tsl
