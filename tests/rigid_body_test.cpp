#include "motion/rigid_body.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "tests/support/test_helpers.h"

namespace tsl::testing {
namespace {

Matrix4 matrixOf(std::vector<float> parameters) {
  return motionMatrix(ParameterArray(std::move(parameters)));
}

Point3 moved(Point3 p, const Matrix4& m) {
  PointSet set(1);
  set.set(0, p);
  return transformPoints(set, m)[0];
}

void expectNear(Point3 actual, Point3 expected, float tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(RigidBody, PiIsTheFloatNearestPi) { EXPECT_EQ(PI, 3.14159265358979f); }

TEST(RigidBody, SineAndCosineAreRoundedFromDouble) {
  EXPECT_EQ(sineOf(0.0f), 0.0f);
  EXPECT_TRUE(std::signbit(sineOf(-0.0f)));
  EXPECT_EQ(cosineOf(0.0f), 1.0f);
  EXPECT_EQ(sineOf(PI / 2.0f), 1.0f);
  EXPECT_EQ(cosineOf(PI), -1.0f);
  EXPECT_TRUE(std::isnan(sineOf(INFINITY)));
  EXPECT_TRUE(std::isnan(cosineOf(-INFINITY)));
  EXPECT_TRUE(std::isnan(cosineOf(NAN)));
  // Every quadrant, both signs, and the largest motion angles.
  int mismatches = 0;
  for (int i = -200000; i <= 200000; ++i) {
    const float angle = static_cast<float>(i) * 0.0007f;
    const auto sine = static_cast<float>(std::sin(static_cast<double>(angle)));
    const auto cosine = static_cast<float>(std::cos(static_cast<double>(angle)));
    if (std::fabs(sineOf(angle) - sine) > std::fabs(std::nextafter(sine, 2.0f) - sine) ||
        std::fabs(cosineOf(angle) - cosine) > std::fabs(std::nextafter(cosine, 2.0f) - cosine)) {
      ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The float nearest the exact value, from a long double reference, or NaN
// when the reference lies too close to the midpoint of two floats to decide.
float correctlyRounded(long double reference) {
  constexpr long double kReferenceError = 0x1p-58L;
  const auto below = static_cast<float>(reference - std::fabs(reference) * kReferenceError);
  const auto above = static_cast<float>(reference + std::fabs(reference) * kReferenceError);
  return below == above ? below : NAN;
}

// Every sine and cosine the motion matrix uses, over rotations of -30 to 30
// degrees, must be the correctly rounded float: a value one unit in the last
// place off (as C libraries' sinf give for some arguments) moves maps and
// spikes by a bit. Each rotation alone leaves its sine and cosine bare in the
// matrix.
TEST(RigidBody, MotionMatrixSinesAndCosinesAreCorrectlyRounded) {
  constexpr int kSteps = 300000;  // 0.0001 degree apart
  int checked = 0;
  int wrong = 0;
  for (int i = -kSteps; i <= kSteps; ++i) {
    const auto degrees = static_cast<float>(i * 1e-4);
    const long double radians = (PI * degrees) / 180.0f;
    const float sine = correctlyRounded(std::sin(radians));
    const float cosine = correctlyRounded(std::cos(radians));
    if (std::isnan(sine) || std::isnan(cosine)) continue;
    ++checked;
    const Matrix4 x = matrixOf({0, 0, 0, degrees, 0, 0});
    const Matrix4 y = matrixOf({0, 0, 0, 0, degrees, 0});
    const Matrix4 z = matrixOf({0, 0, 0, 0, 0, degrees});
    const bool exact = x(1, 2) == sine && x(2, 2) == cosine && -y(0, 2) == sine &&
                       y(0, 0) == cosine && z(0, 1) == sine && z(0, 0) == cosine;
    if (!exact && ++wrong <= 5) {
      ADD_FAILURE() << degrees << " degrees: sin " << sine << " cos " << cosine << " rounded";
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(checked, 2 * kSteps - 10);
}

TEST(RigidBody, ParameterArrayTakesOverItsSource) {
  std::vector<float> source{1.5f, -2.0f, 3.0f};
  ParameterArray values(std::move(source));
  EXPECT_TRUE(source.empty());  // emptied by contract
  ASSERT_EQ(values.count(), 3);
  EXPECT_EQ(values[0], 1.5f);
  EXPECT_EQ(values[2], 3.0f);
  ParameterArray moved(std::move(values));
  ASSERT_EQ(moved.count(), 3);
  EXPECT_EQ(moved[1], -2.0f);
}

TEST(RigidBody, ZeroParametersGiveTheIdentity) {
  const Matrix4 m = matrixOf({0, 0, 0, 0, 0, 0});
  const Matrix4 id = Matrix4::identity();
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], id.m[i]) << "element " << i;
  const Point3 p = moved({1.25f, -2.5f, 7.0f}, m);
  EXPECT_EQ(p.x, 1.25f);
  EXPECT_EQ(p.y, -2.5f);
  EXPECT_EQ(p.z, 7.0f);
}

TEST(RigidBody, TranslationsMoveAgainstTheirSign) {
  const Point3 p = moved({2.0f, 3.0f, 4.0f}, matrixOf({1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(p.x, 1.0f);
  EXPECT_EQ(p.y, 3.0f);
  EXPECT_EQ(p.z, 4.0f);
  const Point3 q = moved({0.0f, 0.0f, 0.0f}, matrixOf({0.5f, -2, 3, 0, 0, 0}));
  EXPECT_EQ(q.x, -0.5f);
  EXPECT_EQ(q.y, 2.0f);
  EXPECT_EQ(q.z, -3.0f);
}

TEST(RigidBody, PositiveRotationsAreRightHanded) {
  expectNear(moved({1, 0, 0}, matrixOf({0, 0, 0, 0, 0, 90})), {0, 1, 0}, 1e-6f);
  expectNear(moved({0, 1, 0}, matrixOf({0, 0, 0, 90, 0, 0})), {0, 0, 1}, 1e-6f);
  expectNear(moved({0, 0, 1}, matrixOf({0, 0, 0, 0, 90, 0})), {1, 0, 0}, 1e-6f);
  // x first, then y: (0,1,0) -> (0,0,1) -> (1,0,0). The other order would
  // leave it at (0,0,1).
  expectNear(moved({0, 1, 0}, matrixOf({0, 0, 0, 90, 90, 0})), {1, 0, 0}, 1e-6f);
  // The shift comes after the rotation about the origin.
  expectNear(moved({1, 0, 0}, matrixOf({5, 0, 0, 0, 0, 90})), {-5, 1, 0}, 1e-6f);
}

TEST(RigidBody, MotionMatrixNeedsSixParameters) {
  EXPECT_THROW_MSG(matrixOf({0, 0, 0, 0, 0}), std::invalid_argument,
                   "motionMatrix: expected 6 motion parameters, got 5");
  EXPECT_THROW_MSG(matrixOf({0, 0, 0, 0, 0, 0, 0}), std::invalid_argument,
                   "motionMatrix: expected 6 motion parameters, got 7");
}

TEST(RigidBody, TransformPointsKeepsLengthAndOrder) {
  EXPECT_EQ(transformPoints(PointSet(), Matrix4::identity()).size(), 0u);
  PointSet points(3);
  points.set(0, {1, 0, 0});
  points.set(1, {0, 2, 0});
  points.set(2, {0, 0, 3});
  const PointSet out = transformPoints(points, matrixOf({1, 1, 1, 0, 0, 0}));
  ASSERT_EQ(out.size(), 3u);
  const float expected[9] = {0, -1, -1, -1, 1, -1, -1, -1, 2};
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(out.data()[i], expected[i]) << "float " << i;
}

TEST(RigidBody, VoxelCentresSurroundTheOrigin) {
  const PointSet two = voxelCentres(2, 1, 1, 4.0f, 1.0f, 1.0f);
  ASSERT_EQ(two.size(), 2u);
  const float expected[6] = {-1, 0, 0, 1, 0, 0};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(two.data()[i], expected[i]) << "float " << i;

  // x fastest, then y, then z; voxel size 2 x 3 x 1 mm.
  const PointSet grid = voxelCentres(2, 3, 4, 4.0f, 9.0f, 4.0f);
  ASSERT_EQ(grid.size(), 24u);
  const Point3 p = grid[(3 * 3 + 1) * 2 + 1];  // voxel (1, 1, 3)
  EXPECT_EQ(p.x, 1.0f);
  EXPECT_EQ(p.y, 0.0f);
  EXPECT_EQ(p.z, 1.5f);
  const Point3 first = grid[0];
  EXPECT_EQ(first.x, -1.0f);
  EXPECT_EQ(first.y, -3.0f);
  EXPECT_EQ(first.z, -1.5f);

  EXPECT_EQ(voxelCentres(0, 5, 5, 1, 1, 1).size(), 0u);
  EXPECT_THROW_MSG(voxelCentres(2, -1, 1, 1, 1, 1), std::invalid_argument,
                   "voxelCentres: negative grid dimension 2 x -1 x 1");
}

TEST(RigidBody, InvertMultiplySubtract) {
  Matrix4 a = Matrix4::identity();
  a(0, 0) = 2;
  a(1, 1) = 4;
  a(2, 2) = 0.5f;
  a(0, 3) = 1;
  a(1, 3) = 2;
  a(2, 3) = 3;
  const Matrix4 inv = invert(a);
  const float expected[16] = {0.5f, 0, 0, -0.5f, 0, 0.25f, 0, -0.5f, 0, 0, 2, -6, 0, 0, 0, 1};
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(inv.m[i], expected[i]) << "element " << i;

  Matrix4 p = Matrix4::identity();
  p(0, 1) = 2;
  Matrix4 q = Matrix4::identity();
  q(1, 0) = 3;
  const Matrix4 pq = multiply(p, q);
  EXPECT_EQ(pq(0, 0), 7.0f);
  EXPECT_EQ(pq(0, 1), 2.0f);
  EXPECT_EQ(pq(1, 0), 3.0f);
  EXPECT_EQ(pq(1, 1), 1.0f);
  const Matrix4 qp = multiply(q, p);
  EXPECT_EQ(qp(0, 0), 1.0f);
  EXPECT_EQ(qp(1, 1), 7.0f);

  const Matrix4 d = subtract(pq, Matrix4::identity());
  EXPECT_EQ(d(0, 0), 6.0f);
  EXPECT_EQ(d(3, 3), 0.0f);

  // A rotation times its inverse is the identity up to rounding.
  const Matrix4 r = matrixOf({1, -2, 3, 10, -20, 30});
  const Matrix4 back = multiply(invert(r), r);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(back(i, j), i == j ? 1.0f : 0.0f, 1e-5f);
  }
}

TEST(RigidBody, RmsDeviation) {
  const Matrix4 still = matrixOf({0, 0, 0, 0, 0, 0});
  const Matrix4 some = matrixOf({1, -2, 3, 4, -5, 6});
  EXPECT_EQ(rmsDeviation(still, still, 65.0f), 0.0f);
  // Only rounding of the inverse remains.
  EXPECT_NEAR(rmsDeviation(some, some, 65.0f), 0.0f, 1e-4f);
  const Matrix4 shifted = matrixOf({3, 4, 0, 0, 0, 0});
  EXPECT_EQ(rmsDeviation(still, shifted, 65.0f), 5.0f);
  EXPECT_EQ(rmsDeviation(still, shifted, 10.0f), 5.0f);
  // sqrt(845 * 4 * (1 - cos 1 deg)) = 0.717489..., and 1.434923... for 2 deg.
  for (int axis = 3; axis < 6; ++axis) {
    std::vector<float> one(6, 0.0f), two(6, 0.0f);
    one[static_cast<std::size_t>(axis)] = 1.0f;
    two[static_cast<std::size_t>(axis)] = 2.0f;
    EXPECT_NEAR(rmsDeviation(still, matrixOf(one), 65.0f), 0.717489f, 3e-4f) << "axis " << axis;
    EXPECT_NEAR(rmsDeviation(still, matrixOf(two), 65.0f), 1.434923f, 3e-4f) << "axis " << axis;
  }
}

}  // namespace
}  // namespace tsl::testing
