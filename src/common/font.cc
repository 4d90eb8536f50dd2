#include "common/font.h"

#include <limits>

namespace quenvale {

int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  // |product| <= 2^62, so neither magnitude below overflows.
  int64_t product = static_cast<int64_t>(number) * numerator;
  bool negative = (product < 0) != (denominator < 0);
  auto abs_product = static_cast<uint64_t>(product < 0 ? -product : product);
  int64_t wide_denominator = denominator;
  auto abs_denominator =
      static_cast<uint64_t>(wide_denominator < 0 ? -wide_denominator : wide_denominator);
  uint64_t quotient = (abs_product + abs_denominator / 2) / abs_denominator;
  int64_t result = negative ? -static_cast<int64_t>(quotient) : static_cast<int64_t>(quotient);
  if (result < std::numeric_limits<int32_t>::min() ||
      result > std::numeric_limits<int32_t>::max()) {
    return -1;
  }
  return static_cast<int32_t>(result);
}

namespace {

// Negation that wraps (two's complement) instead of overflowing.
int32_t Negate(int32_t value) { return static_cast<int32_t>(0u - static_cast<uint32_t>(value)); }

}  // namespace

int32_t Font::Size() const { return Negate(MulDiv(Height, 72, 96)); }

void Font::SetSize(int32_t points) { Height = Negate(MulDiv(points, 96, 72)); }

bool operator==(const Font& a, const Font& b) {
  return a.Name == b.Name && a.Height == b.Height && a.Color == b.Color && a.Charset == b.Charset &&
         a.Style == b.Style && a.Pitch == b.Pitch;
}

bool operator!=(const Font& a, const Font& b) { return !(a == b); }

}  // namespace quenvale
