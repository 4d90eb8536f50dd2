// The configuration dialog's mappings between our values and the system's: fonts to and from
// the GDI font the choosers and controls take, colours, DPI scaling, placement on a monitor, and
// the host window that gets the focus back.
#include "platform/win32/config_dialog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

namespace quenvale {
namespace {

Font MakeFont(const char* name, int32_t height, FontStyles style, int32_t color, int32_t charset,
              int32_t pitch) {
  Font font;
  font.Name = name;
  font.Height = height;
  font.Style = style;
  font.Color = color;
  font.Charset = charset;
  font.Pitch = pitch;
  return font;
}

const Font kFonts[] = {
    Font(),  // the dialog's own
    MakeFont("Arial", -32, fsBold, clWhite, kDefaultCharset, fpDefault),
    MakeFont("Times New Roman", -24, fsItalic | fsUnderline | fsStrikeOut, 0x123456, kAnsiCharset,
             fpVariable),
    MakeFont("Courier New", -13, fsBold | fsItalic, clWindowText, 204, fpFixed),
    MakeFont("Tahoma", -9, 0, clBlack, 2, fpDefault),
};

class FontRoundTripTest : public ::testing::TestWithParam<std::tuple<Font, int>> {};

TEST_P(FontRoundTripTest, ComesBackFromTheChooserUnchanged) {
  const auto& [font, dpi] = GetParam();
  const LOGFONTA log_font = LogFontOf(font, dpi);
  EXPECT_STREQ(log_font.lfFaceName, font.Name.c_str());
  EXPECT_EQ(log_font.lfCharSet, font.Charset);
  EXPECT_EQ(FontOfLogFont(log_font, ColorRefOf(font.Color), dpi, font), font);
}

INSTANTIATE_TEST_SUITE_P(FontsAndScales, FontRoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(kFonts),
                                            ::testing::Values(96, 120, 144, 192)));

class GdiHeightTest : public ::testing::TestWithParam<int> {};

// Our heights are character heights (without the internal leading), as GDI reads a negative
// lfHeight; the font GDI makes must have that height at the device's scale.
TEST_P(GdiHeightTest, GdiMakesTheCharacterHeight) {
  const int dpi = GetParam();
  for (const Font& font : kFonts) {
    SCOPED_TRACE(font.Name);
    const LOGFONTA log_font = LogFontOf(font, dpi);
    HFONT handle = CreateFontIndirectA(&log_font);
    ASSERT_NE(handle, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, handle);
    TEXTMETRICA metrics{};
    ASSERT_TRUE(GetTextMetricsA(dc, &metrics));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(handle);
    EXPECT_NEAR(metrics.tmHeight - metrics.tmInternalLeading, -ScaleForDpi(font.Height, dpi), 1);
    EXPECT_EQ(metrics.tmWeight >= FW_BOLD, (font.Style & fsBold) != 0);
    EXPECT_EQ(metrics.tmItalic != 0, (font.Style & fsItalic) != 0);
    EXPECT_EQ(metrics.tmUnderlined != 0, (font.Style & fsUnderline) != 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, GdiHeightTest, ::testing::Values(96, 144));

struct ChosenStyleCase {
  LONG weight;
  BYTE italic, underline, strike_out;
  FontStyles style;
};

class ChosenStyleTest : public ::testing::TestWithParam<ChosenStyleCase> {};

TEST_P(ChosenStyleTest, ReadsTheWeightAndEffects) {
  LOGFONTA log_font = LogFontOf(Font(), 96);
  log_font.lfWeight = GetParam().weight;
  log_font.lfItalic = GetParam().italic;
  log_font.lfUnderline = GetParam().underline;
  log_font.lfStrikeOut = GetParam().strike_out;
  EXPECT_EQ(FontOfLogFont(log_font, 0, 96, Font()).Style, GetParam().style);
}

INSTANTIATE_TEST_SUITE_P(Choices, ChosenStyleTest,
                         ::testing::Values(ChosenStyleCase{FW_NORMAL, 0, 0, 0, 0},
                                           ChosenStyleCase{FW_MEDIUM, 0, 0, 0, 0},
                                           ChosenStyleCase{FW_SEMIBOLD, 0, 0, 0, fsBold},
                                           ChosenStyleCase{FW_HEAVY, 0, 0, 0, fsBold},
                                           ChosenStyleCase{FW_NORMAL, 1, 0, 0, fsItalic},
                                           ChosenStyleCase{FW_NORMAL, 0, 1, 0, fsUnderline},
                                           ChosenStyleCase{FW_NORMAL, 0, 0, 1, fsStrikeOut},
                                           ChosenStyleCase{
                                               FW_BOLD, 1, 1, 1,
                                               fsBold | fsItalic | fsUnderline | fsStrikeOut}));

TEST(FontOfLogFontTest, AChangedColourIsStoredAsItsValue) {
  const Font before = MakeFont("Arial", -20, 0, clWindowText, kDefaultCharset, fpDefault);
  const LOGFONTA log_font = LogFontOf(before, 96);
  // Left as shown: the system colour stays a system colour.
  EXPECT_EQ(FontOfLogFont(log_font, ColorRefOf(clWindowText), 96, before).Color, clWindowText);
  const COLORREF other = ColorRefOf(clWindowText) ^ 0x00FF00;
  EXPECT_EQ(FontOfLogFont(log_font, other, 96, before).Color, static_cast<int32_t>(other));
}

TEST(FontOfLogFontTest, ALongFaceIsCutToWhatGdiHolds) {
  const std::string face(40, 'F');
  const LOGFONTA log_font = LogFontOf(MakeFont(face.c_str(), -11, 0, 0, 1, 0), 96);
  EXPECT_EQ(std::strlen(log_font.lfFaceName), static_cast<size_t>(LF_FACESIZE - 1));
  EXPECT_EQ(FontOfLogFont(log_font, 0, 96, Font()).Name, face.substr(0, LF_FACESIZE - 1));
}

TEST(FontOfLogFontTest, NoFaceFromTheChooserKeepsTheFontsOwn) {
  const Font before = MakeFont("Arial", -20, 0, 0, kDefaultCharset, fpDefault);
  LOGFONTA log_font = LogFontOf(before, 96);
  log_font.lfFaceName[0] = '\0';
  log_font.lfHeight = -30;
  const Font after = FontOfLogFont(log_font, 0, 96, before);
  EXPECT_EQ(after.Name, "Arial");
  EXPECT_EQ(after.Height, -30);
}

TEST(ColorRefOfTest, LooksUpSystemColours) {
  EXPECT_EQ(ColorRefOf(clWindowText), GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(ColorRefOf(static_cast<int32_t>(0xFF000000u | COLOR_HOTLIGHT)),
            GetSysColor(COLOR_HOTLIGHT));
  EXPECT_EQ(ColorRefOf(0x402010), RGB(0x10, 0x20, 0x40));
  EXPECT_EQ(ColorRefOf(clNone), RGB(0, 0, 0));
  EXPECT_EQ(ColorRefOf(clDefault), RGB(0, 0, 0));
}

TEST(ScaleForDpiTest, ScalesFromNinetySixDotsPerInch) {
  for (int pixels : {0, 1, 5, 11, 33, 470, -11}) {
    EXPECT_EQ(ScaleForDpi(pixels, 96), pixels);
    EXPECT_EQ(ScaleForDpi(pixels, 192), 2 * pixels);
  }
  // 150 %: halves round away from zero, so that a font keeps its size both ways.
  for (auto [pixels, scaled] : {std::pair{1, 2}, {5, 8}, {11, 17}, {-11, -17}, {33, 50}}) {
    EXPECT_EQ(ScaleForDpi(pixels, 144), scaled) << pixels;
  }
  EXPECT_EQ(ScaleForDpi(470, 0), 470);  // no DPI known: unscaled
}

struct AreaCase {
  RECT area;
  int width, height;
};

class CenteredInTest : public ::testing::TestWithParam<AreaCase> {};

TEST_P(CenteredInTest, SitsInTheMiddleOfTheArea) {
  const AreaCase& c = GetParam();
  const RECT at = CenteredIn(c.area, c.width, c.height);
  EXPECT_EQ(at.right - at.left, c.width);
  EXPECT_EQ(at.bottom - at.top, c.height);
  if (c.width <= c.area.right - c.area.left) {
    EXPECT_LE(std::abs((at.left - c.area.left) - (c.area.right - at.right)), 1);
  } else {
    EXPECT_EQ(at.left, c.area.left);
  }
  if (c.height <= c.area.bottom - c.area.top) {
    EXPECT_LE(std::abs((at.top - c.area.top) - (c.area.bottom - at.bottom)), 1);
  } else {
    EXPECT_EQ(at.top, c.area.top);
  }
}

INSTANTIATE_TEST_SUITE_P(Monitors, CenteredInTest,
                         ::testing::Values(AreaCase{{0, 0, 1024, 738}, 476, 689},
                                           AreaCase{{0, 0, 1024, 738}, 477, 690},
                                           // A second monitor left of and above the primary one.
                                           AreaCase{{-1920, -200, 0, 880}, 476, 689},
                                           AreaCase{{1024, 0, 2304, 1024}, 1, 1},
                                           // Taller than the area: the caption stays on the screen.
                                           AreaCase{{0, 40, 800, 600}, 476, 689}));

class WindowToRestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    top_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(top_, nullptr);
    child_ = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 50, 50, top_, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    owned_ = CreateWindowExA(0, "STATIC", "owned", WS_POPUP, 0, 0, 50, 50, top_, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(child_, nullptr);
    ASSERT_NE(owned_, nullptr);
  }
  void TearDown() override {
    if (top_ != nullptr) DestroyWindow(top_);
  }
  HWND top_ = nullptr;
  HWND child_ = nullptr;
  HWND owned_ = nullptr;
};

TEST_F(WindowToRestoreTest, IsTheParentOfTheHostOrTheHostItself) {
  // The settings panel hands over a page inside its window: the window is given back.
  EXPECT_EQ(WindowToRestore(child_), top_);
  EXPECT_EQ(WindowToRestore(owned_), top_);
  EXPECT_EQ(WindowToRestore(top_), top_);
  EXPECT_EQ(WindowToRestore(nullptr), nullptr);
}

}  // namespace
}  // namespace quenvale
