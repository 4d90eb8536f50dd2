#include "display/freetype_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "display/software_surface.h"

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::u32string text;
};

class DecodeTextTest : public TestWithParam<DecodeCase> {};

TEST_P(DecodeTextTest, Utf8WhenWellFormedElseWindows1252) {
  EXPECT_EQ(DecodeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DecodeTextTest,
    Values(DecodeCase{"Empty", "", U""}, DecodeCase{"Ascii", "12:05", U"12:05"},
           DecodeCase{"TwoByte", "caf\xC3\xA9", U"caf\u00E9"},
           DecodeCase{"ThreeByte", "\xE2\x82\xAC 5", U"\u20AC 5"},
           DecodeCase{"FourByte", "\xF0\x9F\x98\x80", U"\U0001F600"},
           DecodeCase{"Latin1", "caf\xE9", U"caf\u00E9"},
           // One bad sequence makes the whole string Windows-1252, the good sequences too.
           DecodeCase{"MixedIsLatin1", "\xC3\xA9\xE9", U"\u00C3\u00A9\u00E9"},
           DecodeCase{"Overlong", "\xC0\xAF", U"\u00C0\u00AF"},
           DecodeCase{"Surrogate", "\xED\xA0\x80", U"\u00ED\u00A0\u20AC"},
           // 0x90 is one of the five bytes the code page leaves undefined.
           DecodeCase{"BeyondUnicode", "\xF4\x90\x80\x80", U"\u00F4\u0090\u20AC\u20AC"},
           DecodeCase{"Truncated", "ab\xE2\x82", U"ab\u00E2\u201A"},
           DecodeCase{"LoneContinuation", "\x80x", U"\u20ACx"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ColorCase {
  const char* name;
  int32_t color;
  int32_t resolved;
};

class ResolveTextColorTest : public TestWithParam<ColorCase> {};

TEST_P(ResolveTextColorTest, SystemColoursComeFromTheTable) {
  EXPECT_EQ(ResolveTextColor(GetParam().color), GetParam().resolved);
}

constexpr int32_t System(uint32_t index) { return static_cast<int32_t>(0xFF000000u | index); }

INSTANTIATE_TEST_SUITE_P(
    Colors, ResolveTextColorTest,
    Values(ColorCase{"Plain", 0x123456, 0x123456}, ColorCase{"White", clWhite, 0xFFFFFF},
           ColorCase{"WindowText", clWindowText, 0x000000},
           ColorCase{"Window", System(5), 0xFFFFFF},
           ColorCase{"Highlight", System(13), 0x800000},  // navy as 0x00BBGGRR
           ColorCase{"HighlightText", System(14), 0xFFFFFF},
           ColorCase{"BtnFace", System(15), 0xC0C0C0},
           ColorCase{"InfoBk", System(24), 0xE1FFFF},
           ColorCase{"UnknownIndex", System(200), 0x000000},
           ColorCase{"OtherHighByte", 0x1F00FF00, 0x00FF00}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32

constexpr uint32_t kWhite = 0xFFFFFFu;

struct Box {
  int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
  int64_t count = 0;  // pixels that differ from the background
  int64_t ink = 0;    // summed darkness over a white background
  bool Empty() const { return count == 0; }
  int32_t Height() const { return bottom - top + 1; }
  int32_t Width() const { return right - left + 1; }
};

// Where `surface` differs from `background`.
Box InkBox(const SoftwareSurface& surface, uint32_t background) {
  Box box;
  for (int32_t y = 0; y < surface.Height(); ++y) {
    for (int32_t x = 0; x < surface.Width(); ++x) {
      const uint32_t pixel = surface.Pixel(x, y);
      if (pixel == background) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
      ++box.count;
      box.ink += 255 - (pixel & 0xFF);
    }
  }
  return box;
}

Font MakeFont(const std::string& name, int32_t height, FontStyles style = 0,
              int32_t color = clBlack) {
  Font font;
  font.Name = name;
  font.Height = height;
  font.Style = style;
  font.Color = color;
  return font;
}

// `text` in `font` at (x, y) on a white surface.
SoftwareSurface Render(const Font& font, const std::string& text, int32_t x = 10, int32_t y = 10,
                       int32_t width = 400, int32_t height = 160) {
  SoftwareSurface surface(width, height);
  surface.Fill(kWhite);
  Canvas& canvas = surface.GetCanvas();
  canvas.SetFont(font);
  canvas.TextOut(x, y, text);
  canvas.Release();
  return surface;
}

int32_t Width(const Font& font, const std::string& text) {
  FreeTypeText measure;
  measure.SetFont(font);
  return measure.TextWidth(text);
}

TEST(FreeTypeTextTest, DrawsInTheFontColourWithinTheCellOnly) {
  // clRed (0x00BBGGRR 0x0000FF) is device value 0xFF0000.
  const Font font = MakeFont("DejaVu Sans", -24, 0, 0x0000FF);
  FreeTypeText text;
  text.SetFont(font);
  const int32_t width = text.TextWidth("Hello");
  const int32_t cell = text.Ascent() + text.Descent();
  ASSERT_GT(width, 0);
  ASSERT_GT(text.Ascent(), 0);

  const SoftwareSurface surface = Render(font, "Hello", 10, 10);
  const Box box = InkBox(surface, kWhite);
  ASSERT_FALSE(box.Empty());
  EXPECT_GE(box.left, 10);
  EXPECT_LT(box.right, 10 + width);
  EXPECT_GE(box.top, 10);
  EXPECT_LT(box.bottom, 10 + cell);
  // Most of the advance is covered: the letters are spread across it, not squeezed.
  EXPECT_GT(box.Width(), width * 3 / 4);

  // Every drawn pixel lies between red and white: full red, with green and blue equal.
  int64_t solid = 0;
  for (int32_t y = 0; y < surface.Height(); ++y) {
    for (int32_t x = 0; x < surface.Width(); ++x) {
      const uint32_t pixel = surface.Pixel(x, y);
      if (pixel == kWhite) continue;
      ASSERT_EQ(pixel >> 16, 0xFFu) << x << ", " << y;
      ASSERT_EQ((pixel >> 8) & 0xFF, pixel & 0xFF) << x << ", " << y;
      solid += pixel == 0xFF0000u;
    }
  }
  EXPECT_GT(solid, 20);  // the stems are fully covered
  EXPECT_LT(solid, box.count);  // and the edges anti-aliased
}

TEST(FreeTypeTextTest, BlendsOverWhatIsAlreadyThere) {
  SoftwareSurface surface(100, 50);
  surface.Fill(0x000000FFu);  // blue
  Canvas& canvas = surface.GetCanvas();
  canvas.SetFont(MakeFont("DejaVu Sans", -30, 0, clWhite));
  canvas.TextOut(2, 2, "O");
  bool partial = false;
  for (int32_t y = 0; y < surface.Height(); ++y) {
    for (int32_t x = 0; x < surface.Width(); ++x) {
      const uint32_t pixel = surface.Pixel(x, y);
      // White over blue: blue stays full, red and green rise together.
      ASSERT_EQ(pixel & 0xFF, 0xFFu);
      ASSERT_EQ(pixel >> 16, (pixel >> 8) & 0xFF);
      partial |= (pixel >> 16) > 0 && (pixel >> 16) < 0xFF;
    }
  }
  EXPECT_TRUE(partial);
}

class StyleFamilyTest : public TestWithParam<const char*> {};

TEST_P(StyleFamilyTest, BoldIsWiderOrDarker) {
  const Font regular = MakeFont(GetParam(), -28);
  const Font bold = MakeFont(GetParam(), -28, fsBold);
  const std::string text = "Bold text";
  const Box regular_box = InkBox(Render(regular, text), kWhite);
  const Box bold_box = InkBox(Render(bold, text), kWhite);
  ASSERT_FALSE(regular_box.Empty());
  EXPECT_TRUE(Width(bold, text) > Width(regular, text) || bold_box.ink > regular_box.ink * 11 / 10)
      << "regular width " << Width(regular, text) << " ink " << regular_box.ink << ", bold width "
      << Width(bold, text) << " ink " << bold_box.ink;
  EXPECT_GT(bold_box.ink, regular_box.ink);
}

TEST_P(StyleFamilyTest, ItalicLeansRight) {
  // An upright bar has the same horizontal extent on every row; a slanted one moves right as it
  // goes up.
  const SoftwareSurface upright = Render(MakeFont(GetParam(), -60), "l");
  const SoftwareSurface italic = Render(MakeFont(GetParam(), -60, fsItalic), "l");
  auto row_left = [](const SoftwareSurface& surface, int32_t y) {
    for (int32_t x = 0; x < surface.Width(); ++x) {
      if (surface.Pixel(x, y) != kWhite) return x;
    }
    return -1;
  };
  const Box box = InkBox(italic, kWhite);
  ASSERT_FALSE(box.Empty());
  const int32_t top = box.top + box.Height() / 8, bottom = box.bottom - box.Height() / 8;
  EXPECT_GT(row_left(italic, top), row_left(italic, bottom) + 3);
  const Box straight = InkBox(upright, kWhite);
  EXPECT_LE(row_left(upright, straight.top + straight.Height() / 8),
            row_left(upright, straight.bottom - straight.Height() / 8) + 1);
}

INSTANTIATE_TEST_SUITE_P(Families, StyleFamilyTest,
                         Values("DejaVu Sans", "Liberation Sans", "Liberation Serif",
                                "No Such Face At All"));

TEST(FreeTypeTextTest, UnknownFaceFallsBackAndStillDraws) {
  FreeTypeText text;
  text.SetFont(MakeFont("No Such Face At All", -20));
  EXPECT_EQ(text.FamilyName(), kFallbackFamily);
  EXPECT_GT(text.TextWidth("abc"), 0);
  EXPECT_FALSE(InkBox(Render(MakeFont("No Such Face At All", -20), "abc"), kWhite).Empty());

  // The fallback is not where every unknown name ends up by accident: a known family (or its
  // configured replacement) is kept.
  text.SetFont(MakeFont("Liberation Serif", -20));
  EXPECT_EQ(text.FamilyName(), "Liberation Serif");
  text.SetFont(MakeFont("Arial", -20));
  EXPECT_NE(text.FamilyName(), kFallbackFamily);
  EXPECT_FALSE(text.FamilyName().empty());
  text.SetFont(MakeFont("", -20));
  EXPECT_EQ(text.FamilyName(), kFallbackFamily);
  // Only a weakly bound look-alike (the configuration suggests Liberation Mono for this Courier
  // New clone) is not a match either.
  text.SetFont(MakeFont("Cumberland", -20));
  EXPECT_EQ(text.FamilyName(), kFallbackFamily);
}

// Cap height of "H", from the bitmap.
int32_t CapHeight(const Font& font) { return InkBox(Render(font, "H"), kWhite).Height(); }

TEST(FreeTypeTextTest, NegativeHeightIsTheEmHeight) {
  for (const char* family : {"DejaVu Sans", "Liberation Sans"}) {
    SCOPED_TRACE(family);
    // Latin capitals are 0.65 to 0.8 em high.
    const int32_t cap40 = CapHeight(MakeFont(family, -40));
    EXPECT_GE(cap40, 26);
    EXPECT_LE(cap40, 32);
    const int32_t cap80 = CapHeight(MakeFont(family, -80));
    EXPECT_NEAR(cap80, 2 * cap40, 2);
    // The cell adds the internal leading to the em.
    FreeTypeText text;
    text.SetFont(MakeFont(family, -40));
    EXPECT_GT(text.Ascent() + text.Descent(), 40);
  }
}

TEST(FreeTypeTextTest, PositiveHeightIsTheCellHeight) {
  for (const char* family : {"DejaVu Sans", "Liberation Sans"}) {
    SCOPED_TRACE(family);
    FreeTypeText text;
    text.SetFont(MakeFont(family, 40));
    EXPECT_EQ(text.Ascent() + text.Descent(), 40);
    // Accents above capitals and descenders fill nearly all of the cell and never leave it.
    const Box box = InkBox(Render(MakeFont(family, 40), "\xC3\x89\xC3\x85gjpq|", 10, 10), kWhite);
    ASSERT_FALSE(box.Empty());
    EXPECT_GE(box.top, 10);
    EXPECT_LE(box.bottom, 10 + 40 - 1);
    EXPECT_GE(box.Height(), 32);
    // The em is smaller than the cell, so capitals are lower than with Height -40.
    EXPECT_LT(CapHeight(MakeFont(family, 40)), CapHeight(MakeFont(family, -40)));
  }
}

TEST(FreeTypeTextTest, ZeroHeightIsTheDefaultSize) {
  FreeTypeText zero, by_default;
  zero.SetFont(MakeFont("DejaVu Sans", 0));
  by_default.SetFont(MakeFont("DejaVu Sans", -kDefaultEmPixels));
  EXPECT_GT(zero.TextWidth("Sixteen"), 0);
  EXPECT_EQ(zero.TextWidth("Sixteen"), by_default.TextWidth("Sixteen"));
  EXPECT_EQ(zero.Ascent(), by_default.Ascent());
}

TEST(FreeTypeTextTest, BaselineIsAscentBelowTheTop) {
  FreeTypeText text;
  const Font font = MakeFont("DejaVu Sans", -32);
  text.SetFont(font);
  // "H" stands on the baseline: its last row is the one just above it.
  for (int32_t y : {0, 7, 20}) {
    const Box box = InkBox(Render(font, "H", 5, y), kWhite);
    EXPECT_EQ(box.bottom, y + text.Ascent() - 1) << "at y " << y;
  }
}

TEST(FreeTypeTextTest, UnderlineIsALineBelowTheBaselineAcrossTheText) {
  const Font plain = MakeFont("DejaVu Sans", -30);
  const Font underlined = MakeFont("DejaVu Sans", -30, fsUnderline);
  FreeTypeText text;
  text.SetFont(plain);
  const int32_t baseline = 10 + text.Ascent();
  const int32_t cell_bottom = 10 + text.Ascent() + text.Descent();
  const int32_t width = text.TextWidth("Line");
  text.SetFont(underlined);
  EXPECT_EQ(text.TextWidth("Line"), width);

  const SoftwareSurface a = Render(plain, "Line", 10, 10);
  const SoftwareSurface b = Render(underlined, "Line", 10, 10);
  std::vector<int32_t> rows;
  for (int32_t y = 0; y < a.Height(); ++y) {
    bool changed = false;
    for (int32_t x = 0; x < a.Width(); ++x) changed |= a.Pixel(x, y) != b.Pixel(x, y);
    if (!changed) continue;
    rows.push_back(y);
    // A solid line from the pen's start to the end of the advance, and nothing else.
    for (int32_t x = 0; x < a.Width(); ++x) {
      ASSERT_EQ(b.Pixel(x, y), x >= 10 && x < 10 + width ? 0u : kWhite) << x << ", " << y;
    }
  }
  ASSERT_FALSE(rows.empty());
  EXPECT_GE(rows.front(), baseline);
  EXPECT_LT(rows.back(), cell_bottom);
  EXPECT_EQ(rows.back() - rows.front() + 1, static_cast<int32_t>(rows.size()));  // one band
}

TEST(FreeTypeTextTest, StrikeOutCrossesAboveTheBaseline) {
  const Font plain = MakeFont("DejaVu Sans", -30);
  const Font struck = MakeFont("DejaVu Sans", -30, fsStrikeOut);
  FreeTypeText text;
  text.SetFont(plain);
  const int32_t baseline = 10 + text.Ascent();
  const SoftwareSurface a = Render(plain, "xxxx", 10, 10);
  const SoftwareSurface b = Render(struck, "xxxx", 10, 10);
  const Box glyphs = InkBox(a, kWhite);
  int32_t first = -1, last = -1;
  for (int32_t y = 0; y < a.Height(); ++y) {
    for (int32_t x = 0; x < a.Width(); ++x) {
      if (a.Pixel(x, y) != b.Pixel(x, y)) {
        if (first < 0) first = y;
        last = y;
      }
    }
  }
  ASSERT_GE(first, 0);
  EXPECT_LT(last, baseline);
  EXPECT_GT(first, glyphs.top);  // through the x-height letters, not over them
}

TEST(FreeTypeTextTest, KerningTightensPairs) {
  const Font font = MakeFont("DejaVu Sans", -40);
  EXPECT_LT(Width(font, "AV"), Width(font, "A") + Width(font, "V"));
  EXPECT_EQ(Width(font, "HH"), 2 * Width(font, "H"));
}

TEST(FreeTypeTextTest, Utf8AndLatin1SpellTheSameText) {
  const Font font = MakeFont("DejaVu Sans", -24);
  const SoftwareSurface utf8 = Render(font, "Caf\xC3\xA9 \xC3\xBC");
  const SoftwareSurface latin1 = Render(font, "Caf\xE9 \xFC");
  EXPECT_EQ(Width(font, "Caf\xC3\xA9 \xC3\xBC"), Width(font, "Caf\xE9 \xFC"));
  EXPECT_TRUE(std::equal(utf8.Pixels(), utf8.Pixels() + 400 * 160, latin1.Pixels()));
  // And not the same as the text with the accents dropped.
  const SoftwareSurface plain = Render(font, "Cafe u");
  EXPECT_FALSE(std::equal(utf8.Pixels(), utf8.Pixels() + 400 * 160, plain.Pixels()));
}

TEST(FreeTypeTextTest, ClippedTextIsTheVisiblePartOfTheWholeText) {
  const Font font = MakeFont("DejaVu Sans", -36, fsUnderline);
  const SoftwareSurface whole = Render(font, "Wg", 30, 30, 120, 100);
  // The same text moved 40 left and 45 up on a surface 40 x 45 smaller.
  const SoftwareSurface cut = Render(font, "Wg", -10, -15, 80, 55);
  for (int32_t y = 0; y < cut.Height(); ++y) {
    for (int32_t x = 0; x < cut.Width(); ++x) {
      ASSERT_EQ(cut.Pixel(x, y), whole.Pixel(x + 40, y + 45)) << x << ", " << y;
    }
  }
  EXPECT_FALSE(InkBox(cut, kWhite).Empty());
  // Far outside: nothing, and no crash.
  const SoftwareSurface none = Render(font, "Wg", INT32_MIN, INT32_MAX, 20, 20);
  EXPECT_TRUE(InkBox(none, kWhite).Empty());
}

TEST(FreeTypeTextTest, TwoCanvasesWithDifferentFontsDoNotDisturbEachOther) {
  const Font small = MakeFont("DejaVu Sans", -14);
  const Font large = MakeFont("Liberation Serif", -40, fsBold);
  const SoftwareSurface small_alone = Render(small, "12:34:56");
  const SoftwareSurface large_alone = Render(large, "12:34:56");

  SoftwareSurface a(400, 160), b(400, 160);
  a.Fill(kWhite);
  b.Fill(kWhite);
  Canvas& ca = a.GetCanvas();
  Canvas& cb = b.GetCanvas();
  ca.SetFont(small);
  cb.SetFont(large);
  EXPECT_LT(ca.TextWidth("12:34:56"), cb.TextWidth("12:34:56"));
  cb.TextOut(10, 10, "12:34");
  ca.TextOut(10, 10, "12:34");
  ca.TextOut(10 + ca.TextWidth("12:34"), 10, ":56");
  cb.TextOut(10 + cb.TextWidth("12:34"), 10, ":56");
  EXPECT_TRUE(std::equal(a.Pixels(), a.Pixels() + 400 * 160, small_alone.Pixels()));
  EXPECT_TRUE(std::equal(b.Pixels(), b.Pixels() + 400 * 160, large_alone.Pixels()));
}

TEST(FreeTypeTextTest, EachSetFontTakesEffectOnTheSameCanvas) {
  // The saver draws a shadow and then the text through one canvas, changing only the colour.
  SoftwareSurface surface(200, 60);
  surface.Fill(kWhite);
  Canvas& canvas = surface.GetCanvas();
  // A system colour, resolved to black.
  Font font = MakeFont("DejaVu Sans", -30, 0, clWindowText);
  canvas.SetFont(font);
  canvas.TextOut(2, 2, "T");
  font.Color = 0x0000FF;
  canvas.SetFont(font);
  canvas.TextOut(0, 0, "T");
  bool black = false, red = false;
  for (int32_t y = 0; y < surface.Height(); ++y) {
    for (int32_t x = 0; x < surface.Width(); ++x) {
      black |= surface.Pixel(x, y) == 0;
      red |= surface.Pixel(x, y) == 0xFF0000u;
    }
  }
  EXPECT_TRUE(black);
  EXPECT_TRUE(red);

  const int32_t width = canvas.TextWidth("Size");
  font.Height = -60;
  canvas.SetFont(font);
  EXPECT_GT(canvas.TextWidth("Size"), width * 3 / 2);
  font.Style = fsBold;
  const int32_t regular = canvas.TextWidth("Size");
  canvas.SetFont(font);
  EXPECT_NE(canvas.TextWidth("Size"), regular);
}

#else  // _WIN32

TEST(FreeTypeTextTest, WindowsFallbackMeasuresAndDrawsNothing) {
  SoftwareSurface surface(40, 20);
  surface.Fill(0xFFFFFFu);
  Canvas& canvas = surface.GetCanvas();
  Font font;
  font.Color = clBlack;
  canvas.SetFont(font);
  EXPECT_EQ(canvas.TextWidth("Hello"), 0);
  canvas.TextOut(0, 0, "Hello");
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(surface.Pixel(x, y), 0xFFFFFFu);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace quenvale
