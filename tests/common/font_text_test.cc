#include "common/font_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "common/strings.h"

namespace quenvale {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The message TextToComponent fails with, or "" when it reads the text.
std::string ReadError(const std::string& text) {
  try {
    TextToComponent(text);
  } catch (const ObjectTextError& e) {
    return e.what();
  }
  return "";
}

std::string WithCrLf(const std::string& lf_text) { return ReplaceAll(lf_text, "\n", "\r\n"); }

// Reads one dialog whose body is `lines` (LF-separated, without header and "end").
FontDialog ReadBody(const std::string& lines) {
  return TextToComponent("object TFontDialog\n" + lines + "\nend\n");
}

TEST(FontTextTest, DefaultDialogWritesTheFrameworkExample) {
  EXPECT_EQ(ComponentToText(FontDialog()),
            "object TFontDialog\r\n"
            "  Font.Charset = DEFAULT_CHARSET\r\n"
            "  Font.Color = clWindowText\r\n"
            "  Font.Height = -11\r\n"
            "  Font.Name = 'MS Sans Serif'\r\n"
            "  Font.Style = []\r\n"
            "end\r\n");
}

TEST(FontTextTest, SaverDefaultFont) {
  const FontDialog dialog = DefaultFontDialog();
  EXPECT_EQ(dialog.Font.Size(), 24);
  EXPECT_EQ(ComponentToText(dialog),
            "object TFontDialog\r\n"
            "  Font.Charset = DEFAULT_CHARSET\r\n"
            "  Font.Color = clWhite\r\n"
            "  Font.Height = -32\r\n"
            "  Font.Name = 'Arial'\r\n"
            "  Font.Style = [fsBold]\r\n"
            "end\r\n");
}

FontDialog EveryPropertyChanged() {
  FontDialog dialog;
  dialog.Name = "ClockFont";
  dialog.Tag = -7;
  dialog.Ctl3D = false;
  dialog.HelpContext = 12;
  dialog.Font.Name = "Courier New";
  dialog.Font.Height = -20;
  dialog.Font.Color = 0x00336699;
  dialog.Font.Charset = 238;
  dialog.Font.Style = fsItalic | fsStrikeOut;
  dialog.Font.Pitch = fpFixed;
  dialog.Device = fdBoth;
  dialog.MinFontSize = 6;
  dialog.MaxFontSize = 72;
  dialog.Options = fdApplyButton | fdAnsiOnly | fdLimitSize;
  dialog.Left = 8;
  dialog.Top = -3;
  return dialog;
}

TEST(FontTextTest, NonDefaultPropertiesWrittenInStreamingOrder) {
  EXPECT_EQ(ComponentToText(EveryPropertyChanged()),
            "object ClockFont: TFontDialog\r\n"
            "  Tag = -7\r\n"
            "  Ctl3D = False\r\n"
            "  HelpContext = 12\r\n"
            "  Font.Charset = EASTEUROPE_CHARSET\r\n"
            "  Font.Color = 3368601\r\n"
            "  Font.Height = -20\r\n"
            "  Font.Name = 'Courier New'\r\n"
            "  Font.Pitch = fpFixed\r\n"
            "  Font.Style = [fsItalic, fsStrikeOut]\r\n"
            "  Device = fdBoth\r\n"
            "  MinFontSize = 6\r\n"
            "  MaxFontSize = 72\r\n"
            "  Options = [fdAnsiOnly, fdLimitSize, fdApplyButton]\r\n"
            "  Left = 8\r\n"
            "  Top = -3\r\n"
            "end\r\n");
  EXPECT_EQ(TextToComponent(ComponentToText(EveryPropertyChanged())), EveryPropertyChanged());
}

TEST(FontTextTest, EmptyOptionsDifferFromTheDefault) {
  FontDialog dialog;
  dialog.Options = 0;
  EXPECT_THAT(ComponentToText(dialog), HasSubstr("\r\n  Options = []\r\n"));
  EXPECT_EQ(TextToComponent(ComponentToText(dialog)).Options, 0u);
}

class StyleRoundTripTest : public ::testing::TestWithParam<int> {};

TEST_P(StyleRoundTripTest, EveryCombination) {
  FontDialog dialog;
  dialog.Font.Style = static_cast<FontStyles>(GetParam());
  const std::string text = ComponentToText(dialog);
  EXPECT_EQ(TextToComponent(text), dialog) << text;
  // Members appear in declaration order, absent ones not at all.
  const char* const names[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
  size_t last = 0;
  for (int bit = 0; bit < 4; ++bit) {
    size_t at = text.find(names[bit]);
    if (GetParam() & (1 << bit)) {
      ASSERT_NE(at, std::string::npos) << text;
      EXPECT_GT(at, last) << text;
      last = at;
    } else {
      EXPECT_EQ(at, std::string::npos) << text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllSixteen, StyleRoundTripTest, ::testing::Range(0, 16));

struct ColorCase {
  int32_t color;
  const char* written;
};

class ColorTest : public ::testing::TestWithParam<ColorCase> {};

TEST_P(ColorTest, WrittenAndReadBack) {
  FontDialog dialog;
  dialog.Font.Color = GetParam().color;
  const std::string text = ComponentToText(dialog);
  EXPECT_THAT(text, HasSubstr(std::string("\r\n  Font.Color = ") + GetParam().written + "\r\n"));
  EXPECT_EQ(TextToComponent(text).Font.Color, GetParam().color);
}

INSTANTIATE_TEST_SUITE_P(
    IdentifiersAndNumbers, ColorTest,
    ::testing::Values(ColorCase{0x000000, "clBlack"}, ColorCase{0x0000FF, "clRed"},
                      ColorCase{0xFF0000, "clBlue"}, ColorCase{0xF0CAA6, "clSkyBlue"},
                      ColorCase{0xA4A0A0, "clMedGray"}, ColorCase{0x1FFFFFFF, "clNone"},
                      ColorCase{0x20000000, "clDefault"},
                      ColorCase{static_cast<int32_t>(0xFF000000u), "clScrollBar"},
                      ColorCase{static_cast<int32_t>(0xFF000008u), "clWindowText"},
                      ColorCase{static_cast<int32_t>(0xFF00001Au), "clHotLight"},
                      ColorCase{static_cast<int32_t>(0xFF00001Eu), "clMenuBar"},
                      ColorCase{0x123456, "1193046"},
                      // System colour 25 has no name; system colours are negative numbers.
                      ColorCase{static_cast<int32_t>(0xFF000019u), "-16777191"},
                      ColorCase{-1, "-1"}, ColorCase{INT32_MIN, "-2147483648"}));

TEST(FontTextTest, ColorTablesIgnoreCaseAndRejectStrangers) {
  int32_t color = 0;
  EXPECT_TRUE(IdentToColor("CLWINDOWTEXT", &color));
  EXPECT_EQ(color, static_cast<int32_t>(0xFF000008u));
  EXPECT_TRUE(IdentToColor("cl3ddkshadow", &color));
  EXPECT_EQ(color, static_cast<int32_t>(0xFF000015u));
  EXPECT_FALSE(IdentToColor("clPink", &color));
  EXPECT_FALSE(IdentToColor("", &color));
  std::string ident;
  EXPECT_TRUE(ColorToIdent(0xC0DCC0, &ident));
  EXPECT_EQ(ident, "clMoneyGreen");
  EXPECT_FALSE(ColorToIdent(0x010203, &ident));
}

TEST(FontTextTest, ColorReadFromEveryNumberForm) {
  EXPECT_EQ(ReadBody("Font.Color = -16777208").Font.Color, clWindowText);
  EXPECT_EQ(ReadBody("Font.Color = $0000FF").Font.Color, 0xFF);
  EXPECT_EQ(ReadBody("Font.Color = clred").Font.Color, 0xFF);
  EXPECT_EQ(ReadBody("Font.Color = 16777215").Font.Color, clWhite);
}

struct CharsetCase {
  int32_t charset;
  const char* written;
};

class CharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetTest, WrittenAndReadBack) {
  FontDialog dialog;
  dialog.Font.Charset = GetParam().charset;
  const std::string text = ComponentToText(dialog);
  EXPECT_THAT(text, HasSubstr(std::string("\r\n  Font.Charset = ") + GetParam().written + "\r\n"));
  EXPECT_EQ(TextToComponent(text).Font.Charset, GetParam().charset);
  // The number is accepted wherever the identifier is.
  EXPECT_EQ(ReadBody("Font.Charset = " + std::to_string(GetParam().charset)).Font.Charset,
            GetParam().charset);
}

INSTANTIATE_TEST_SUITE_P(
    IdentifiersAndNumbers, CharsetTest,
    ::testing::Values(CharsetCase{0, "ANSI_CHARSET"}, CharsetCase{1, "DEFAULT_CHARSET"},
                      CharsetCase{2, "SYMBOL_CHARSET"}, CharsetCase{77, "MAC_CHARSET"},
                      CharsetCase{128, "SHIFTJIS_CHARSET"}, CharsetCase{136, "CHINESEBIG5_CHARSET"},
                      CharsetCase{163, "VIETNAMESE_CHARSET"}, CharsetCase{204, "RUSSIAN_CHARSET"},
                      CharsetCase{238, "EASTEUROPE_CHARSET"}, CharsetCase{255, "OEM_CHARSET"},
                      CharsetCase{3, "3"}, CharsetCase{200, "200"}));

TEST(FontTextTest, CharsetIdentifiersIgnoreCase) {
  int32_t charset = -1;
  EXPECT_TRUE(IdentToCharset("russian_charset", &charset));
  EXPECT_EQ(charset, 204);
  EXPECT_FALSE(IdentToCharset("LATIN_CHARSET", &charset));
  std::string ident;
  EXPECT_FALSE(CharsetToIdent(256, &ident));
  EXPECT_EQ(ReadBody("Font.Charset = Hebrew_Charset").Font.Charset, 177);
}

TEST(FontTextTest, LineBreaksAndLayoutDoNotMatter) {
  const std::string lf =
      "object Clock: TFontDialog\n"
      "  Ctl3D = False\n"
      "  Font.Charset = ANSI_CHARSET\n"
      "  Font.Color = clRed\n"
      "  Font.Height = -19\n"
      "  Font.Name = 'Times New Roman'\n"
      "  Font.Style = [fsBold, fsUnderline]\n"
      "  Options = [fdEffects, fdNoSizeSel]\n"
      "end\n";
  const FontDialog from_lf = TextToComponent(lf);
  EXPECT_EQ(from_lf.Name, "Clock");
  EXPECT_FALSE(from_lf.Ctl3D);
  EXPECT_EQ(from_lf.Font.Charset, 0);
  EXPECT_EQ(from_lf.Font.Color, 0xFF);
  EXPECT_EQ(from_lf.Font.Height, -19);
  EXPECT_EQ(from_lf.Font.Name, "Times New Roman");
  EXPECT_EQ(from_lf.Font.Style, fsBold | fsUnderline);
  EXPECT_EQ(from_lf.Options, fdEffects | fdNoSizeSel);
  EXPECT_EQ(TextToComponent(WithCrLf(lf)), from_lf);
  // Keywords, names and identifiers ignore case; blanks and tabs are free; so is the tail.
  EXPECT_EQ(TextToComponent("OBJECT Clock :tfontdialog\tctl3d=FALSE font . charset=0\n"
                            "FONT.COLOR = CLRED Font.Height=-19 Font.Name='Times New Roman'\n"
                            "Font.Style=[fsunderline,FSBOLD] options=[fdNoSizeSel,fdEffects]"
                            " End garbage 'unterminated"),
            from_lf);
}

TEST(FontTextTest, EveryPropertyReads) {
  const FontDialog dialog = ReadBody(
      "Tag = 2147483647\nHelpContext = -2147483648\nDevice = fdPrinter\nMinFontSize = $10\n"
      "MaxFontSize = 99\nFont.Pitch = fpVariable\nLeft = 100\nTop = 200");
  EXPECT_EQ(dialog.Tag, INT32_MAX);
  EXPECT_EQ(dialog.HelpContext, INT32_MIN);
  EXPECT_EQ(dialog.Device, fdPrinter);
  EXPECT_EQ(dialog.MinFontSize, 16);
  EXPECT_EQ(dialog.MaxFontSize, 99);
  EXPECT_EQ(dialog.Font.Pitch, fpVariable);
  EXPECT_EQ(dialog.Left, 100);
  EXPECT_EQ(dialog.Top, 200);
  Font untouched;
  untouched.Pitch = fpVariable;
  EXPECT_EQ(dialog.Font, untouched);
}

struct StringCase {
  const char* value;
  const char* written;
};

class QuotedStringTest : public ::testing::TestWithParam<StringCase> {};

TEST_P(QuotedStringTest, WrittenAndReadBack) {
  FontDialog dialog;
  dialog.Font.Name = GetParam().value;
  const std::string text = ComponentToText(dialog);
  EXPECT_THAT(text, HasSubstr(std::string("\r\n  Font.Name = ") + GetParam().written + "\r\n"));
  EXPECT_EQ(TextToComponent(text).Font.Name, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, QuotedStringTest,
    ::testing::Values(StringCase{"Arial", "'Arial'"}, StringCase{"", "''"},
                      StringCase{"O'Neil", "'O''Neil'"}, StringCase{"'", "''''"},
                      StringCase{"a\r\nb", "'a'#13#10'b'"}, StringCase{"\tTab", "#9'Tab'"},
                      StringCase{"Caf\xE9", "'Caf'#233"}, StringCase{"\x7F\x80", "#127#128"},
                      StringCase{"end", "'end'"}));

TEST(FontTextTest, StringFormsOnlyReadersSee) {
  EXPECT_EQ(ReadBody("Font.Name = #$41#66'c'").Font.Name, "ABc");
  EXPECT_EQ(ReadBody("Font.Name = 'x'#39").Font.Name, "x'");
  EXPECT_EQ(ReadBody("Font.Name = 'Courier' +\n    ' New' + #33").Font.Name, "Courier New!");
  EXPECT_EQ(ReadBody("Font.Name = #0#255").Font.Name, std::string("\0\xFF", 2));
  // A wide character cannot be held in 8-bit text.
  EXPECT_EQ(ReadBody("Font.Name = 'a'#8364").Font.Name, "a?");
}

struct SizeCase {
  int32_t points;
  int32_t height;
};

class SetSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SetSizeTest, HeightFromPoints) {
  Font font;
  font.SetSize(GetParam().points);
  EXPECT_EQ(font.Height, GetParam().height);
  // Font.Size in the text goes through the same conversion.
  EXPECT_EQ(ReadBody("Font.Size = " + std::to_string(GetParam().points)).Font.Height,
            GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Rounding, SetSizeTest,
                         ::testing::Values(SizeCase{12, -16}, SizeCase{24, -32}, SizeCase{8, -11},
                                           SizeCase{9, -12}, SizeCase{10, -13}, SizeCase{11, -15},
                                           SizeCase{1, -1}, SizeCase{0, 0}, SizeCase{-12, 16}));

class SizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeTest, PointsFromHeight) {
  Font font;
  font.Height = GetParam().height;
  EXPECT_EQ(font.Size(), GetParam().points);
}

// Exact halves (-2, -6, -10, -14 pixels) round away from zero.
INSTANTIATE_TEST_SUITE_P(Rounding, SizeTest,
                         ::testing::Values(SizeCase{8, -11}, SizeCase{10, -13}, SizeCase{11, -14},
                                           SizeCase{2, -2}, SizeCase{5, -6}, SizeCase{8, -10},
                                           SizeCase{12, -16}, SizeCase{-8, 11}, SizeCase{0, 0}));

TEST(FontTextTest, MulDivRoundsAwayFromZeroAndFlagsOverflow) {
  EXPECT_EQ(MulDiv(5, 1, 2), 3);
  EXPECT_EQ(MulDiv(-5, 1, 2), -3);
  EXPECT_EQ(MulDiv(5, -1, 2), -3);
  EXPECT_EQ(MulDiv(5, 1, -2), -3);
  EXPECT_EQ(MulDiv(-5, 1, -2), 3);
  EXPECT_EQ(MulDiv(7, 1, 3), 2);
  EXPECT_EQ(MulDiv(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);
  EXPECT_EQ(MulDiv(INT32_MIN, 1, 1), INT32_MIN);
  EXPECT_EQ(MulDiv(INT32_MIN, -1, 1), -1);
  EXPECT_EQ(MulDiv(INT32_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(FontTextTest, LaterPropertiesWin) {
  EXPECT_EQ(ReadBody("Font.Size = 12\nFont.Height = -40").Font.Height, -40);
  EXPECT_EQ(ReadBody("Font.Height = -40\nFont.Size = 12").Font.Height, -16);
}

struct ErrorCase {
  const char* text;  // LF line breaks; also tried with CR LF
  const char* message;
};

class ParserErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ParserErrorTest, MessageWithLine) {
  EXPECT_EQ(ReadError(GetParam().text), GetParam().message);
  EXPECT_EQ(ReadError(WithCrLf(GetParam().text)), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    BrokenTexts, ParserErrorTest,
    ::testing::Values(
        ErrorCase{"", "OBJECT expected on line 1"},
        ErrorCase{"objekt TFontDialog\nend\n", "OBJECT expected on line 1"},
        ErrorCase{"object\n\n", "Identifier expected on line 3"},
        ErrorCase{"object A: 5\nend\n", "Identifier expected on line 1"},
        ErrorCase{"object TFontDialog [x]\nend\n", "Number expected on line 1"},
        ErrorCase{"object TFontDialog [1\nend\n", "']' expected on line 2"},
        ErrorCase{"object TFontDialog\n  Tag = 1\n  = 5\nend\n", "Identifier expected on line 3"},
        ErrorCase{"object TFontDialog\n  Font.Height -11\nend\n", "'=' expected on line 2"},
        ErrorCase{"object TFontDialog\n  Font.\n  = 1\nend\n", "Identifier expected on line 3"},
        ErrorCase{"object TFontDialog\n  Font.Name = 'Arial\nend\n",
                  "Invalid string constant on line 2"},
        ErrorCase{"object TFontDialog\n  Font.Name = #\nend\n",
                  "Invalid string constant on line 2"},
        ErrorCase{"object TFontDialog\n  Font.Name = #$\nend\n",
                  "Invalid string constant on line 2"},
        ErrorCase{"object TFontDialog\n  Font.Name = #65536\nend\n",
                  "Invalid string constant on line 2"},
        ErrorCase{"object TFontDialog\n  Font.Name = 'a' +\n  5\nend\n",
                  "String expected on line 3"},
        ErrorCase{"object TFontDialog\n  Tag = -x\nend\n", "Number expected on line 2"},
        ErrorCase{"object TFontDialog\n  Tag = $\nend\n", "Number expected on line 2"},
        ErrorCase{"object TFontDialog\n  Tag = ;\nend\n", "Invalid property value on line 2"},
        ErrorCase{"object TFontDialog\n  Tag =\n", "Invalid property value on line 3"},
        ErrorCase{"object TFontDialog\n  Tag = {0A\n  1}\nend\n", "Invalid binary value on line 3"},
        ErrorCase{"object TFontDialog\n  Tag = {0G}\nend\n", "Invalid binary value on line 2"},
        ErrorCase{"object TFontDialog\n  Tag = {00\n", "Invalid binary value on line 3"},
        ErrorCase{"object TFontDialog\n  Font.Style = [fsBold fsItalic]\nend\n",
                  "',' expected on line 2"},
        ErrorCase{"object TFontDialog\n  Font.Style = [fsBold,]\nend\n",
                  "Identifier expected on line 2"},
        // "end" is just an identifier inside a list.
        ErrorCase{"object TFontDialog\n  Tag = (1 2\nend\n", "Invalid property value on line 4"},
        ErrorCase{"object TFontDialog\n  Tag = <\n    foo\n  >\nend\n", "ITEM expected on line 3"},
        ErrorCase{"object TFontDialog\n  Tag = <item\n    A = 1\n",
                  "Identifier expected on line 4"},
        ErrorCase{"object TFontDialog\n  Tag = 1\n", "Identifier expected on line 3"},
        // Properties come before owned objects.
        ErrorCase{"object TFontDialog\n  object B: TFontDialog\n  end\n  Tag = 1\nend\n",
                  "OBJECT expected on line 4"},
        ErrorCase{"object TFontDialog\n  object B: TFontDialog\n  end\n",
                  "OBJECT expected on line 4"},
        // The whole text is checked before any property is looked at.
        ErrorCase{"object TNothing\n  Bogus = 1\n  Tag = 'x\nend\n",
                  "Invalid string constant on line 3"}));

struct ReadErrorCase {
  const char* text;
  const char* message;
};

class ReaderErrorTest : public ::testing::TestWithParam<ReadErrorCase> {};

TEST_P(ReaderErrorTest, Message) { EXPECT_EQ(ReadError(GetParam().text), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(
    Properties, ReaderErrorTest,
    ::testing::Values(
        ReadErrorCase{"object TFont\nend\n", "Class TFont not found"},
        ReadErrorCase{"object Clock: TForm\n  Tag = 1\nend\n", "Class TForm not found"},
        ReadErrorCase{"object Clock: TFontDialog\n  Font.Colour = clRed\nend\n",
                      "Error reading Clock.Font.Colour: Property Font.Colour does not exist"},
        ReadErrorCase{"object TFontDialog\n  Bogus = 1\nend\n",
                      "Error reading TFontDialog.Bogus: Property Bogus does not exist"},
        ReadErrorCase{"object TFontDialog\n  Tag.Low = 1\nend\n",
                      "Error reading TFontDialog.Tag.Low: Property Tag.Low does not exist"},
        ReadErrorCase{"object TFontDialog\n  Font.Height = 'x'\nend\n",
                      "Error reading TFontDialog.Font.Height: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Color = clPink\nend\n",
                      "Error reading D.Font.Color: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Charset = FOO_CHARSET\nend\n",
                      "Error reading D.Font.Charset: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Charset = 256\nend\n",
                      "Error reading D.Font.Charset: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Style = [fsBold, fsBlink]\nend\n",
                      "Error reading D.Font.Style: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Style = fsBold\nend\n",
                      "Error reading D.Font.Style: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Height = 1.5\nend\n",
                      "Error reading D.Font.Height: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Tag = 2147483648\nend\n",
                      "Error reading D.Tag: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Tag = $FFFFFFFF\nend\n",
                      "Error reading D.Tag: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Tag = 99999999999999999999\nend\n",
                      "Error reading D.Tag: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Ctl3D = 1\nend\n",
                      "Error reading D.Ctl3D: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Name = Arial\nend\n",
                      "Error reading D.Font.Name: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font.Pitch = 2\nend\n",
                      "Error reading D.Font.Pitch: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Device = fdPlotter\nend\n",
                      "Error reading D.Device: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Options = [fdEffects, fsBold]\nend\n",
                      "Error reading D.Options: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Font = 5\nend\n",
                      "Error reading D.Font: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Tag = (1 2)\nend\n",
                      "Error reading D.Tag: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Tag = {0001}\nend\n",
                      "Error reading D.Tag: Invalid property value"},
        ReadErrorCase{"object D: TFontDialog\n  Tag = <>\nend\n",
                      "Error reading D.Tag: Invalid property value"},
        // The first bad property is the one reported.
        ReadErrorCase{"object D: TFontDialog\n  Tag = x\n  Bogus = 1\nend\n",
                      "Error reading D.Tag: Invalid property value"}));

TEST(FontTextTest, NestedObjectsCollectionsAndListsAreParsed) {
  const std::string text =
      "inherited Clock: TFontDialog [0]\n"
      "  Font.Name = 'Verdana'\n"
      "  object Inner: TFontDialog\n"
      "    Font.Height = -8\n"
      "    inline Deeper: TFontDialog [3]\n"
      "      Font.Style = [fsItalic]\n"
      "    end\n"
      "  end\n"
      "  object TFontDialog\n"
      "  end\n"
      "end\n";
  const FontDialog dialog = TextToComponent(text);
  EXPECT_EQ(dialog.Name, "Clock");
  EXPECT_EQ(dialog.Font.Name, "Verdana");
  // Owned dialogs do not leak into their owner.
  EXPECT_EQ(dialog.Font.Height, Font().Height);
  EXPECT_EQ(dialog.Font.Style, 0);

  // Values of every shape pass the syntax check; only a property able to hold one may take it.
  const std::string shapes =
      "object TFontDialog\n"
      "  object Child: TFontDialog\n"
      "  end\n"
      "  object Other: TFontDialog\n"
      "    Items = <\n"
      "      item\n"
      "        Caption = 'one'\n"
      "        Width = 1.5e3\n"
      "      end\n"
      "      item [1]\n"
      "        Data = {00 FF\n"
      "          ab}\n"
      "        Strings.Strings = (\n"
      "          'a'\n"
      "          b\n"
      "          (1 -2 $3)\n"
      "          [x, y])\n"
      "      end>\n"
      "  end\n"
      "end\n";
  EXPECT_EQ(ReadError(shapes), "Error reading Other.Items: Property Items does not exist");
  EXPECT_EQ(ReadError(ReplaceAll(shapes, "Items = <", "Tag = <")),
            "Error reading Other.Tag: Invalid property value");
}

TEST(FontTextTest, OwnedObjectsOfUnknownClassesFail) {
  EXPECT_EQ(ReadError("object TFontDialog\n"
                      "  object Child: TFontDialog\n"
                      "    object Button1: TButton\n"
                      "    end\n"
                      "  end\n"
                      "end\n"),
            "Class TButton not found");
  EXPECT_EQ(ReadError("object Outer: TFontDialog\n"
                      "  object Child: TFontDialog\n"
                      "    Font.Height = 'big'\n"
                      "  end\n"
                      "end\n"),
            "Error reading Child.Font.Height: Invalid property value");
}

TEST(FontTextTest, NestingIsCapped) {
  std::string lists = "object TFontDialog\n  Tag = " + std::string(10000, '(');
  EXPECT_EQ(ReadError(lists), "Object text nested too deeply on line 2");
  std::string objects;
  for (int i = 0; i < 10000; ++i) objects += "object TFontDialog\n";
  EXPECT_THAT(ReadError(objects), HasSubstr("Object text nested too deeply on line "));
  // A modest depth is fine.
  std::string fine = "object TFontDialog\n";
  for (int i = 0; i < 20; ++i) fine += "object TFontDialog\n";
  for (int i = 0; i < 21; ++i) fine += "end\n";
  EXPECT_EQ(ReadError(fine), "");
}

TEST(FontTextTest, RandomDialogsRoundTrip) {
  std::mt19937 random(20240611);
  auto any = [&random](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random);
  };
  for (int i = 0; i < 500; ++i) {
    FontDialog dialog;
    if (any(0, 1)) dialog.Name = "Dialog" + std::to_string(i);
    dialog.Tag = any(INT32_MIN, INT32_MAX);
    dialog.Ctl3D = any(0, 1) != 0;
    dialog.HelpContext = any(-5, 5);
    std::string name;
    for (int n = any(0, 12); n > 0; --n) name += static_cast<char>(any(0, 255));
    dialog.Font.Name = name;
    dialog.Font.Height = any(INT32_MIN, INT32_MAX);
    dialog.Font.Color =
        any(0, 3) == 0 ? any(INT32_MIN, INT32_MAX) : static_cast<int32_t>(0xFF000000u | any(0, 31));
    dialog.Font.Charset = any(0, 255);
    dialog.Font.Style = static_cast<FontStyles>(any(0, 15));
    dialog.Font.Pitch = any(fpDefault, fpFixed);
    dialog.Device = static_cast<FontDialogDevice>(any(fdScreen, fdBoth));
    dialog.MinFontSize = any(0, 100);
    dialog.MaxFontSize = any(0, 100);
    dialog.Options = static_cast<FontDialogOptions>(any(0, 0xFFFF));
    dialog.Left = any(-1, 1);
    dialog.Top = any(-1, 1);
    const std::string text = ComponentToText(dialog);
    ASSERT_EQ(TextToComponent(text), dialog) << text;
    EXPECT_THAT(text, Not(HasSubstr("\n\n")));
  }
}

}  // namespace
}  // namespace quenvale
