// Text for the software surface: faces found through fontconfig, glyphs rasterised by FreeType
// and blended into 32-bit X8R8G8B8 pixels.
//
// Fonts are read the way GDI reads a logical font:
//  - Height < 0 is the character (em) height in pixels, Height > 0 the cell height (ascent +
//    descent) in pixels, and 0 asks for kDefaultEmPixels. Ascent and descent are the face's
//    Windows metrics (OS/2 usWinAscent / usWinDescent) where it has them.
//  - The face is the one fontconfig picks for Font::Name with the weight and slant fsBold and
//    fsItalic ask for. It counts as a match only if its family is the name itself or a family
//    the font configuration binds strongly to the name (metric-compatible replacements, such as
//    Liberation Sans for Arial); otherwise kFallbackFamily is used. Should even that be missing,
//    whatever fontconfig offers is taken, so text never silently disappears.
//  - Bold and italic are synthesised (outline emboldening, a 0.2 shear) when the chosen face has
//    no such style. Underline and strike-out are drawn as solid lines across the text's advance.
//  - The colour is 0x00BBGGRR, or a system colour 0xFF0000xx looked up in a fixed table.
//
// On Windows the software canvas is only a test aid and GDI is not used there: the build has no
// FreeType, so TextWidth is 0 and nothing is drawn (the DirectDraw layer draws its own text).
//
// Every FreeTypeText owns its FreeType library, faces and glyph cache; two of them never share
// state, so two canvases may draw at once with different fonts.
#ifndef QUENVALE_DISPLAY_FREETYPE_TEXT_H_
#define QUENVALE_DISPLAY_FREETYPE_TEXT_H_

#include <cstdint>
#include <memory>
#include <string>

#include "common/font.h"

namespace quenvale {

constexpr int32_t kDefaultEmPixels = 16;  // Height 0: 12 points at 96 dpi
constexpr const char kFallbackFamily[] = "DejaVu Sans";

// The text's characters: UTF-8 when the whole string is well-formed UTF-8 (no overlong forms,
// surrogates or values past U+10FFFF), otherwise one Windows-1252 character per byte.
std::u32string DecodeText(const std::string& text);

// A font colour as 0x00BBGGRR: system colours 0xFF0000xx from a fixed table of the classic
// Windows scheme (clWindowText black, clWindow white, clHighlight navy...; unknown indexes
// black), anything else its low 24 bits.
int32_t ResolveTextColor(int32_t color);

class FreeTypeText {
 public:
  FreeTypeText();
  ~FreeTypeText();
  FreeTypeText(const FreeTypeText&) = delete;
  FreeTypeText& operator=(const FreeTypeText&) = delete;

  // Taken as it is; the face is looked up (and cached) when text is next measured or drawn.
  void SetFont(const Font& font);
  // The sum of the glyph advances, kerning included, in pixels.
  int32_t TextWidth(const std::string& text);
  // The cell of the current font: pixels above and below the baseline.
  int32_t Ascent();
  int32_t Descent();
  // The family of the face in use, empty when there is none (no fonts, or Windows).
  std::string FamilyName();
  // Draws `text` with the top of its cell at y and its first pen position at x into a
  // width x height buffer of 0x00RRGGBB pixels; everything outside the buffer is cut off.
  void Draw(uint32_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y,
            const std::string& text);
  // The smallest box [left, right) x [top, bottom) holding every pixel Draw has changed since
  // the last call; false, and nothing set, when it changed none.
  bool TakeChanged(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom);

 private:
  void Changed(int64_t x, int64_t y);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  int64_t changed_left_ = INT64_MAX, changed_top_ = INT64_MAX;
  int64_t changed_right_ = INT64_MIN, changed_bottom_ = INT64_MIN;
};

}  // namespace quenvale

#endif  // QUENVALE_DISPLAY_FREETYPE_TEXT_H_
