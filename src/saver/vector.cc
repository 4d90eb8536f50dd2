#include "saver/vector.h"

#include <cmath>

namespace quenvale {

float Length(const Vector& v) {
  const double x = v.X, y = v.Y;
  return RoundToFloat(std::sqrt(x * x + y * y));
}

void Normalize(Vector& v) {
  const float length = Length(v);
  if (length == 0) {
    v.X = 0;
    v.Y = 0;
    return;
  }
  v.X = RoundToFloat(static_cast<double>(v.X) / length);
  v.Y = RoundToFloat(static_cast<double>(v.Y) / length);
}

float Dot(const Vector& a, const Vector& b) {
  return RoundToFloat(static_cast<double>(a.X) * b.X + static_cast<double>(a.Y) * b.Y);
}

float Distance(const Vector& a, const Vector& b) {
  const double dx = RoundToFloat(static_cast<double>(a.X) - b.X);
  const double dy = RoundToFloat(static_cast<double>(a.Y) - b.Y);
  return RoundToFloat(std::sqrt(dx * dx + dy * dy));
}

void Subtract(Vector& a, const Vector& b) {
  a.X = RoundToFloat(static_cast<double>(a.X) - b.X);
  a.Y = RoundToFloat(static_cast<double>(a.Y) - b.Y);
}

void Add(Vector& a, const Vector& b) {
  a.X = RoundToFloat(static_cast<double>(a.X) + b.X);
  a.Y = RoundToFloat(static_cast<double>(a.Y) + b.Y);
}

}  // namespace quenvale
