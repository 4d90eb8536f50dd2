// The two-component vector of sprite positions and velocities. Every operation computes in double
// and rounds each stored component and each result to a 32-bit float, so that motion and
// collisions come out the same on every platform and compiler.
#ifndef QUENVALE_SAVER_VECTOR_H_
#define QUENVALE_SAVER_VECTOR_H_

namespace quenvale {

struct Vector {
  float X = 0;
  float Y = 0;

  Vector() = default;
  Vector(float x, float y) : X(x), Y(y) {}
};

inline float RoundToFloat(double value) { return static_cast<float>(value); }

inline Vector Copy(const Vector& v) { return Vector(v.X, v.Y); }
float Length(const Vector& v);
// Scales to length 1, or to (0, 0) when the length is 0.
void Normalize(Vector& v);
float Dot(const Vector& a, const Vector& b);
// Symmetric: Distance(a, b) == Distance(b, a).
float Distance(const Vector& a, const Vector& b);
// a := a - b and a := a + b, X first; b may be a itself.
void Subtract(Vector& a, const Vector& b);
void Add(Vector& a, const Vector& b);

}  // namespace quenvale

#endif  // QUENVALE_SAVER_VECTOR_H_
