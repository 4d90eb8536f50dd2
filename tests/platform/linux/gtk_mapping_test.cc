#include "platform/linux/gtk_mapping.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace quenvale {
namespace {

// A case's text as it may stand in a test's name: its ASCII letters and digits.
std::string Letters(const std::string& text) {
  std::string name;
  for (unsigned char c : text) {
    if (c < 0x80 && std::isalnum(c)) name.push_back(static_cast<char>(c));
  }
  return name;
}

std::string CaseName(const std::string& text, size_t index) {
  return Letters(text) + "_" + std::to_string(index);
}

struct MnemonicCase {
  const char* caption;
  const char* shown;  // as GTK shows the label
  gunichar key;       // GTK's access key, 0 for none
};
void PrintTo(const MnemonicCase& c, std::ostream* os) { *os << Letters(c.caption); }

class MnemonicLabelTest : public testing::TestWithParam<MnemonicCase> {};

// What GTK makes of the converted label: its text and access key, parsed by Pango the way a
// mnemonic label parses its text.
TEST_P(MnemonicLabelTest, GtkShowsTheCaptionWithItsAccessKey) {
  const MnemonicCase& c = GetParam();
  const std::string label = MnemonicLabel(c.caption);
  gchar* escaped = g_markup_escape_text(label.c_str(), -1);
  gchar* text = nullptr;
  gunichar key = 0;
  ASSERT_TRUE(pango_parse_markup(escaped, -1, '_', nullptr, &text, &key, nullptr)) << label;
  EXPECT_STREQ(text, c.shown) << label;
  EXPECT_EQ(key, c.key) << label;
  g_free(text);
  g_free(escaped);
}

// Where no access key is shown, the caption reads as GTK shows the mnemonic label.
TEST_P(MnemonicLabelTest, PlainCaptionReadsTheSame) {
  EXPECT_EQ(PlainCaption(GetParam().caption), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Captions, MnemonicLabelTest,
    testing::Values(
        MnemonicCase{"Set background &Color", "Set background Color", 'C'},
        MnemonicCase{"&Ok", "Ok", 'O'}, MnemonicCase{"Bounce images", "Bounce images", 0},
        MnemonicCase{"Fish && &Chips", "Fish & Chips", 'C'}, MnemonicCase{"&&Save", "&Save", 0},
        MnemonicCase{"snake_case &Name", "snake_case Name", 'N'}, MnemonicCase{"a__b", "a__b", 0},
        MnemonicCase{"&_under", "_under", 0}, MnemonicCase{"Dangling&", "Dangling", 0},
        MnemonicCase{"Gr\xFC\xDF"
                     "e &\xDC"
                     "ber",
                     "Gr\xC3\xBC\xC3\x9F"
                     "e \xC3\x9C"
                     "ber",
                     0xDC}),
    [](const testing::TestParamInfo<MnemonicCase>& info) {
      return CaseName(info.param.caption, info.index);
    });

struct TextCase {
  const char* in;
  const char* out;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << Letters(c.in); }

class DialogTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(DialogTextTest, GivesValidUtf8WithLineFeeds) {
  const std::string out = DialogText(GetParam().in);
  EXPECT_EQ(out, GetParam().out);
  EXPECT_TRUE(g_utf8_validate(out.c_str(), static_cast<gssize>(out.size()), nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DialogTextTest,
    testing::Values(TextCase{"plain", "plain"},
                    // UTF-8 already: untouched.
                    TextCase{"Gr\xC3\xBC\xC3\x9F"
                             "e",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e"},
                    // Windows-1252: Latin-1 letters and the 0x80..0x9F block.
                    TextCase{"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
                    TextCase{"\x80 5 \x93q\x94", "\xE2\x82\xAC 5 \xE2\x80\x9Cq\xE2\x80\x9D"},
                    TextCase{"\x81", "?"},
                    TextCase{"\r\nkeys\r\nmore\rlast\n", "\nkeys\nmore\nlast\n"}, TextCase{"", ""}),
    [](const testing::TestParamInfo<TextCase>& info) {
      return CaseName(info.param.in, info.index);
    });

struct ColorCase {
  int32_t color;
  const char* gdk;  // gdk_rgba_to_string of the colour
};
void PrintTo(const ColorCase& c, std::ostream* os) { *os << Letters(c.gdk); }

class ColorTest : public testing::TestWithParam<ColorCase> {};

TEST_P(ColorTest, MapsToGdkAndBack) {
  const GdkRGBA rgba = ColorToRgba(GetParam().color);
  gchar* text = gdk_rgba_to_string(&rgba);
  EXPECT_STREQ(text, GetParam().gdk);
  g_free(text);
  GdkRGBA parsed;
  ASSERT_TRUE(gdk_rgba_parse(&parsed, GetParam().gdk));
  if ((static_cast<uint32_t>(GetParam().color) >> 24) == 0) {
    EXPECT_EQ(RgbaToColor(parsed), GetParam().color);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Colors, ColorTest,
    testing::Values(ColorCase{0x000000, "rgb(0,0,0)"}, ColorCase{0xFFFFFF, "rgb(255,255,255)"},
                    // Red is the low byte.
                    ColorCase{0x0000FF, "rgb(255,0,0)"}, ColorCase{0xFF0000, "rgb(0,0,255)"},
                    ColorCase{0x402010, "rgb(16,32,64)"}, ColorCase{0x00FFFF, "rgb(255,255,0)"},
                    // System colours: window text, the hot-link colour.
                    ColorCase{clWindowText, "rgb(0,0,0)"},
                    ColorCase{static_cast<int32_t>(0xFF00001Au), "rgb(0,102,204)"}),
    [](const testing::TestParamInfo<ColorCase>& info) {
      return CaseName(info.param.gdk, info.index);
    });

TEST(ColorTest, ChannelsRoundToTheNearestByte) {
  GdkRGBA rgba{0.5, 0.999, 0.001, 1.0};
  EXPECT_EQ(RgbaToColor(rgba), 0x00FF80);
  GdkRGBA beyond{-0.5, 1.5, 0.0, 1.0};
  EXPECT_EQ(RgbaToColor(beyond), 0x00FF00);
}

struct FontCase {
  const char* name;
  int32_t height;
  FontStyles style;
  const char* pango;  // pango_font_description_to_string
};
void PrintTo(const FontCase& c, std::ostream* os) { *os << Letters(c.pango); }

class FontToPangoTest : public testing::TestWithParam<FontCase> {};

TEST_P(FontToPangoTest, DescribesFaceSizeAndStyle) {
  Font font;
  font.Name = GetParam().name;
  font.Height = GetParam().height;
  font.Style = GetParam().style;
  PangoFontDescription* description = FontToPango(font);
  gchar* text = pango_font_description_to_string(description);
  EXPECT_STREQ(text, GetParam().pango);
  g_free(text);
  // And back: the same font, whatever Pango made of it.
  EXPECT_EQ(FontFromPango(description, font), font);
  pango_font_description_free(description);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, FontToPangoTest,
    testing::Values(FontCase{"Arial", -32, fsBold, "Arial Bold 24"},
                    FontCase{"Arial", -24, fsItalic, "Arial Italic 18"},
                    FontCase{"MS Sans Serif", -11, 0, "MS Sans Serif 8"},
                    FontCase{"DejaVu Serif", -16, fsBold | fsItalic, "DejaVu Serif Bold Italic 12"},
                    // Underline and strike-out are no part of a Pango description.
                    FontCase{"Arial", -40, fsBold | fsUnderline, "Arial Bold 30"}),
    [](const testing::TestParamInfo<FontCase>& info) {
      return CaseName(info.param.pango, info.index);
    });

struct ChosenCase {
  const char* chosen;  // as the font chooser gives it
  const char* name;
  int32_t height;
  FontStyles style;
};
void PrintTo(const ChosenCase& c, std::ostream* os) { *os << Letters(c.chosen); }

class FontFromPangoTest : public testing::TestWithParam<ChosenCase> {};

TEST_P(FontFromPangoTest, TakesTheChoiceAndKeepsWhatTheChooserLacks) {
  Font base;
  base.Name = "Arial";
  base.Height = -32;
  base.Color = 0x00FFFF;
  base.Charset = 0;
  base.Style = fsBold | fsUnderline | fsStrikeOut;
  PangoFontDescription* description = pango_font_description_from_string(GetParam().chosen);
  const Font font = FontFromPango(description, base);
  pango_font_description_free(description);
  EXPECT_EQ(font.Name, GetParam().name);
  EXPECT_EQ(font.Height, GetParam().height);
  EXPECT_EQ(font.Style, GetParam().style | fsUnderline | fsStrikeOut);
  EXPECT_EQ(font.Color, 0x00FFFF);
  EXPECT_EQ(font.Charset, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, FontFromPangoTest,
    testing::Values(ChosenCase{"Liberation Serif 12", "Liberation Serif", -16, 0},
                    ChosenCase{"DejaVu Sans Bold Oblique 9", "DejaVu Sans", -12, fsBold | fsItalic},
                    ChosenCase{"Sans Semi-Bold 10", "Sans", -13, fsBold},
                    ChosenCase{"Sans Light 10", "Sans", -13, 0},
                    ChosenCase{"Sans 10.6", "Sans", -15, 0},
                    // Sizes in pixels stay pixels.
                    ChosenCase{"Monospace 20px", "Monospace", -20, 0},
                    // No family or size chosen: the old ones stay.
                    ChosenCase{"Italic", "Arial", -32, fsItalic}),
    [](const testing::TestParamInfo<ChosenCase>& info) {
      return CaseName(info.param.chosen, info.index);
    });

}  // namespace
}  // namespace quenvale
