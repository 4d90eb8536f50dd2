// The font value every drawing device and dialog works with: name, height, colour, charset,
// style and pitch, in the old framework's terms.
#ifndef QUENVALE_COMMON_FONT_H_
#define QUENVALE_COMMON_FONT_H_

#include <cstdint>
#include <string>

namespace quenvale {

enum FontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using FontStyles = uint8_t;

enum FontPitch : int32_t { fpDefault = 0, fpVariable = 1, fpFixed = 2 };

// Colours are 0x00BBGGRR, or 0xFF0000xx for the system colour with index xx.
constexpr int32_t clBlack = 0x000000;
constexpr int32_t clWhite = 0xFFFFFF;
constexpr int32_t clWindowText = static_cast<int32_t>(0xFF000008u);
constexpr int32_t clNone = 0x1FFFFFFF;
constexpr int32_t clDefault = 0x20000000;

// (The Windows header spells these as macros, so they get our own names.)
constexpr int32_t kAnsiCharset = 0;
constexpr int32_t kDefaultCharset = 1;

// number * numerator / denominator with a 64-bit product, rounded half away from zero; -1 when
// the denominator is 0 or the result does not fit 32 bits (the Windows rule).
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Default-constructed, this is the framework's own default font.
struct Font {
  std::string Name = "MS Sans Serif";
  int32_t Height = -11;  // negative: character height in pixels at 96 dpi
  int32_t Color = clWindowText;
  int32_t Charset = kDefaultCharset;  // 0..255
  FontStyles Style = 0;
  int32_t Pitch = fpDefault;

  // Points, from and to Height.
  int32_t Size() const;
  void SetSize(int32_t points);
};
bool operator==(const Font& a, const Font& b);
bool operator!=(const Font& a, const Font& b);

}  // namespace quenvale

#endif  // QUENVALE_COMMON_FONT_H_
