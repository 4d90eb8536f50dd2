#include "saver/vector.h"

#include <gtest/gtest.h>

namespace quenvale {
namespace {

TEST(VectorTest, NormalizeScalesToUnitLengthOrZero) {
  Vector v(3, 4);
  Normalize(v);
  EXPECT_EQ(v.X, 0.6f);
  EXPECT_EQ(v.Y, 0.8f);
  Vector left(-0.5f, 0);
  Normalize(left);
  EXPECT_EQ(left.X, -1.0f);
  EXPECT_EQ(left.Y, 0.0f);
  Vector zero(0, 0);
  Normalize(zero);
  EXPECT_EQ(zero.X, 0.0f);
  EXPECT_EQ(zero.Y, 0.0f);
}

TEST(VectorTest, LengthDotAndDistance) {
  EXPECT_EQ(Length(Vector(3, 4)), 5.0f);
  EXPECT_EQ(Dot(Vector(1, 2), Vector(3, -4)), -5.0f);
  EXPECT_EQ(Distance(Vector(0, 0), Vector(3, 4)), 5.0f);
  const Vector a(1.25f, -7.5f);
  EXPECT_EQ(Distance(a, a), 0.0f);
  const Vector b(1e-3f, 123.456f), c(-77.7f, 0.1f);
  EXPECT_EQ(Distance(b, c), Distance(c, b));
}

TEST(VectorTest, ResultsAreRoundedToFloatAtEachStep) {
  // 0.1f + 0.2f is added in double and rounded once: the float sum, not a double one.
  Vector a(0.1f, 1e8f);
  Add(a, Vector(0.2f, 1.0f));
  EXPECT_EQ(a.X, 0.1f + 0.2f);
  EXPECT_EQ(a.Y, 1e8f) << "1e8 + 1 is not representable as a float";
  // The distance rounds each difference before squaring: 16777217 - 0 becomes 16777216.
  EXPECT_EQ(Distance(Vector(16777216.0f, 0), Vector(-1.0f, 0)), 16777216.0f);
}

TEST(VectorTest, CopyIsIndependentAndSelfArithmeticWorks) {
  Vector source(2, -3);
  Vector copy = Copy(source);
  copy.X = 10;
  EXPECT_EQ(source.X, 2.0f);
  EXPECT_EQ(copy.Y, -3.0f);
  Vector v(2, -3);
  Subtract(v, v);
  EXPECT_EQ(v.X, 0.0f);
  EXPECT_EQ(v.Y, 0.0f);
  Vector w(2, -3);
  Add(w, w);
  EXPECT_EQ(w.X, 4.0f);
  EXPECT_EQ(w.Y, -6.0f);
}

}  // namespace
}  // namespace quenvale
