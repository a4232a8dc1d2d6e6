// Single-precision rigid-body geometry: the matrix of one volume's six motion
// parameters, point sets moved by such a matrix, the voxel-centre grid of a
// run, and the RMS deviation between two transformations.
//
// Lengths are millimetres and angles degrees at every interface. Every result
// is computed in float, in a fixed order of operations, so that it is the same
// bit for bit on every compiler and CPU built with -ffp-contract=off.
#ifndef TESSEL_MOTION_RIGID_BODY_H
#define TESSEL_MOTION_RIGID_BODY_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "designmatrix/motion_parameters.h"  // kMotionParameterCount

namespace tsl {

// 4 * atan(1) in float, computed once when the library starts. Degrees become
// radians as (PI * angle) / 180.
extern const float PI;

// Sine and cosine of an angle in radians, rounded to float. The platform's
// sinf and cosf differ in the last bit between C libraries (the MinGW and
// glibc ones disagree for about one argument in forty), so these are built
// from IEEE double additions and multiplications only and give the same bits
// everywhere. Up to |angle| = 1e6 they are within one unit in the last place
// of the exact value; beyond, the angle is first reduced by fmod with the
// double nearest 2 pi. Not-a-number and infinities give not-a-number.
float sineOf(float angle);
float cosineOf(float angle);

// A count and an owned heap array of that many floats.
class ParameterArray {
 public:
  // Takes over the values of source, which is left empty. Throws
  // std::length_error when there are more values than a 32-bit count holds.
  explicit ParameterArray(std::vector<float>&& source);

  ParameterArray(ParameterArray&&) noexcept = default;
  ParameterArray& operator=(ParameterArray&&) noexcept = default;
  ParameterArray(const ParameterArray&) = delete;
  ParameterArray& operator=(const ParameterArray&) = delete;

  std::int32_t count() const { return count_; }
  // REQUIRES: 0 <= i < count().
  float operator[](std::size_t i) const { return values_[i]; }

 private:
  std::int32_t count_ = 0;
  std::unique_ptr<float[]> values_;
};

struct Point3 {
  float x = 0.0f, y = 0.0f, z = 0.0f;
};

// A set of points held as one contiguous float array: point k is the floats
// 3k, 3k+1 and 3k+2 (x, y, z).
class PointSet {
 public:
  PointSet() = default;
  // count points at the origin.
  explicit PointSet(std::size_t count) : coords_(3 * count, 0.0f) {}

  std::size_t size() const { return coords_.size() / 3; }
  float* data() { return coords_.data(); }
  const float* data() const { return coords_.data(); }

  // REQUIRES: k < size().
  Point3 operator[](std::size_t k) const {
    return {coords_[3 * k], coords_[3 * k + 1], coords_[3 * k + 2]};
  }
  void set(std::size_t k, Point3 p) {
    coords_[3 * k] = p.x;
    coords_[3 * k + 1] = p.y;
    coords_[3 * k + 2] = p.z;
  }

 private:
  std::vector<float> coords_;
};

// Sixteen floats stored row by row: element [r][c] is float 4r + c.
struct Matrix4 {
  std::array<float, 16> m{};

  float& operator()(int r, int c) { return m[static_cast<std::size_t>(4 * r + c)]; }
  float operator()(int r, int c) const { return m[static_cast<std::size_t>(4 * r + c)]; }

  static Matrix4 identity();
};

// The motion matrix of one volume: rows 0-2 hold the transpose of
// Rz(c)·Ry(b)·Rx(a) in columns 0-2 and the negated translations in column 3;
// row 3 is (0, 0, 0, 1). All-zero parameters give the identity.
// Throws std::invalid_argument unless parameters holds exactly six values.
Matrix4 motionMatrix(const ParameterArray& parameters);

// Each point taken as a row vector times the matrix's 3x3 block, plus the
// translation in column 3; a new set of the same length.
PointSet transformPoints(const PointSet& points, const Matrix4& matrix);

// One axis of a voxel grid of dim voxels spanning extent millimetres, centred
// on the origin: voxel i has its centre at float(i) * step + origin, where
// step = extent / float(dim) and origin = (step - extent) * 0.5.
struct GridAxis {
  float step = 0.0f;
  float origin = 0.0f;

  float centre(std::int32_t i) const { return static_cast<float>(i) * step + origin; }
};
GridAxis gridAxis(std::int32_t dim, float extent);

// The centres of a dimX x dimY x dimZ voxel grid that spans extent millimetres
// per axis, centred on the origin; point (z*dimY + y)*dimX + x is voxel
// (x, y, z), its coordinates those of gridAxis. Throws std::invalid_argument when a dimension is
// negative and std::length_error when the grid is too large to hold.
PointSet voxelCentres(std::int32_t dimX, std::int32_t dimY, std::int32_t dimZ, float extentX,
                      float extentY, float extentZ);

// General inverse (cofactors divided by the determinant). A singular matrix
// gives non-finite values; motion matrices have determinant 1.
Matrix4 invert(const Matrix4& a);
Matrix4 multiply(const Matrix4& a, const Matrix4& b);  // a·b
Matrix4 subtract(const Matrix4& a, const Matrix4& b);  // element-wise a - b

// The RMS distance, over a sphere of radius radiusMm about the origin, between
// the points moved by m1 and by m2 (millimetres).
float rmsDeviation(const Matrix4& m1, const Matrix4& m2, float radiusMm);

}  // namespace tsl

#endif
