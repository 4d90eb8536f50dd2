// The two-component vector of sprite positions and velocities. Every operation computes in double
// and rounds each stored component and each result to a 32-bit float, so that motion and
// collisions come out the same on every platform and compiler.
#ifndef QUENVALE_SAVER_VECTOR_H_
#define QUENVALE_SAVER_VECTOR_H_

#include <cmath>

namespace quenvale {

struct Vector {
  float X = 0;
  float Y = 0;

  Vector() = default;
  Vector(float x, float y) : X(x), Y(y) {}
};

inline float RoundToFloat(double value) { return static_cast<float>(value); }

inline Vector Copy(const Vector& v) { return Vector(v.X, v.Y); }

// Length, Dot and Distance round their result; Normalize scales to length 1, or to (0, 0) when
// the length is 0; Distance is symmetric. Subtract and Add work in place, X first; b may be a.
// They are inline because the collision pass calls them in its innermost loop.
inline float Length(const Vector& v) {
  const double x = v.X, y = v.Y;
  return RoundToFloat(std::sqrt(x * x + y * y));
}

// Normalize for a caller that has the vector's Length already.
inline void NormalizeWithLength(Vector& v, float length) {
  if (length == 0) {
    v.X = 0;
    v.Y = 0;
    return;
  }
  v.X = RoundToFloat(static_cast<double>(v.X) / length);
  v.Y = RoundToFloat(static_cast<double>(v.Y) / length);
}

inline void Normalize(Vector& v) { NormalizeWithLength(v, Length(v)); }

inline float Dot(const Vector& a, const Vector& b) {
  return RoundToFloat(static_cast<double>(a.X) * b.X + static_cast<double>(a.Y) * b.Y);
}

inline float Distance(const Vector& a, const Vector& b) {
  const double dx = RoundToFloat(static_cast<double>(a.X) - b.X);
  const double dy = RoundToFloat(static_cast<double>(a.Y) - b.Y);
  return RoundToFloat(std::sqrt(dx * dx + dy * dy));
}

inline void Subtract(Vector& a, const Vector& b) {
  a.X = RoundToFloat(static_cast<double>(a.X) - b.X);
  a.Y = RoundToFloat(static_cast<double>(a.Y) - b.Y);
}

inline void Add(Vector& a, const Vector& b) {
  a.X = RoundToFloat(static_cast<double>(a.X) + b.X);
  a.Y = RoundToFloat(static_cast<double>(a.Y) + b.Y);
}

}  // namespace quenvale

#endif  // QUENVALE_SAVER_VECTOR_H_
