#include "common/strings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "common/code_page.h"

namespace quenvale {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct SplitCase {
  const char* delimiter;
  const char* text;
  StringArray pieces;
};

class SplitStringTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitStringTest, Pieces) {
  EXPECT_EQ(SplitString(GetParam().delimiter, GetParam().text), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitStringTest,
    ::testing::Values(SplitCase{";", "a;;b", {"a", "b"}}, SplitCase{";", "a;", {"a"}},
                      SplitCase{";", "a;;", {"a"}}, SplitCase{";", ";a", {"", "a"}},
                      SplitCase{";", ";;a", {"", "a"}}, SplitCase{";", "", {}},
                      SplitCase{";", "abc", {"abc"}}, SplitCase{";", "a;b;c", {"a", "b", "c"}},
                      SplitCase{"\r\n", "one\r\n\r\ntwo\r\n", {"one", "two"}},
                      SplitCase{"\r\n", "\r\n\r\nx", {"", "x"}},
                      // A lone CR or LF is ordinary text.
                      SplitCase{"\r\n", "a\nb\rc\r\nd", {"a\nb\rc", "d"}},
                      // Overlapping delimiter starts are not matched twice.
                      SplitCase{"\r\n", "a\r\r\nb", {"a\r", "b"}}));

TEST(JoinStringsTest, DelimitersOnlyBetweenItems) {
  EXPECT_EQ(JoinStrings(";", {"a", "b", "c"}), "a;b;c");
  EXPECT_EQ(JoinStrings(";", {"a"}), "a");
  EXPECT_EQ(JoinStrings(";", {}), "");
  EXPECT_EQ(JoinStrings(";", {"", ""}), ";");
}

TEST(InStringArrayTest, ExactCaseSensitiveMatch) {
  EXPECT_TRUE(InStringArray({"Reef", "aurora"}, "aurora"));
  EXPECT_FALSE(InStringArray({"Reef", "aurora"}, "reef"));
  EXPECT_FALSE(InStringArray({}, ""));
}

TEST(LastPosTest, OneBasedLastOccurrence) {
  EXPECT_EQ(LastPos("\\", "C:\\Windows\\Demo.scr"), 11);
  EXPECT_EQ(LastPos("\\", "Demo.scr"), 0);
  EXPECT_EQ(LastPos("\\", "a\\"), 2);
  EXPECT_EQ(LastPos("ab", "abxab"), 4);
  EXPECT_EQ(LastPos("abc", "ab"), 0);
}

TEST(CaseTest, OnlyAsciiLettersChange) {
  EXPECT_EQ(LowerCase("AbC\xC4\xE4[Z]"), "abc\xC4\xE4[z]");
  EXPECT_EQ(UpperCase("abc\xE4{z}"), "ABC\xE4{Z}");
  EXPECT_TRUE(SameText("Settings.TXT", "settings.txt"));
  EXPECT_FALSE(SameText("\xC4", "\xE4"));
  EXPECT_EQ(FindNoCase("C:\\Demo.SCR", ".scr"), 7u);
}

struct IntCase {
  const char* text;
  int32_t value;
};

class StrToIntValidTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntValidTest, Converts) { EXPECT_EQ(StrToInt(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(Cases, StrToIntValidTest,
                         ::testing::Values(IntCase{"0", 0}, IntCase{"42", 42}, IntCase{"  7", 7},
                                           IntCase{"-5", -5}, IntCase{"+5", 5},
                                           IntCase{"$FF0000", 0xFF0000}, IntCase{"x1f", 31},
                                           IntCase{"X1F", 31}, IntCase{"0x10", 16},
                                           IntCase{"0X10", 16}, IntCase{"$FFFFFFFF", -1},
                                           IntCase{"2147483647", 2147483647},
                                           IntCase{"-2147483648", INT32_MIN},
                                           IntCase{"007", 7}));

class StrToIntInvalidTest : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntInvalidTest, FailsWithTheFrameworkMessage) {
  try {
    StrToInt(GetParam());
    FAIL() << "converted " << GetParam();
  } catch (const ConvertError& e) {
    EXPECT_EQ(std::string(e.what()), std::string("'") + GetParam() + "' is not a valid integer value");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StrToIntInvalidTest,
                         ::testing::Values("", " ", "12 ", "1.5", "abc", "$", "0x", "-",
                                           "2147483648", "-2147483649", "$100000000", "12ab",
                                           "$G1"));

TEST(StrToBoolTest, WordsAndNumbers) {
  EXPECT_TRUE(StrToBool("TRUE"));
  EXPECT_TRUE(StrToBool("true"));
  EXPECT_FALSE(StrToBool("False"));
  EXPECT_FALSE(StrToBool("0"));
  EXPECT_TRUE(StrToBool("2"));
  EXPECT_TRUE(StrToBool("-1"));
  // Any number: zero exactly when every digit is, whatever the exponent.
  for (const char* yes : {"1.5", ".5", "5.", "-0.01", " +2.5E-3", "1e-400", "$1"}) {
    EXPECT_TRUE(StrToBool(yes)) << yes;
  }
  for (const char* no : {"0.0", "-0.0", "0e5", " .000", "00.0E+12"}) EXPECT_FALSE(StrToBool(no)) << no;
  for (const char* bad :
       {"", "yes", " true", "true ", ".", "1e", "e5", "1.2.3", "1.5 ", "--1", "1,5", "0x1.8"}) {
    try {
      StrToBool(bad);
      FAIL() << "converted '" << bad << "'";
    } catch (const ConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid boolean value");
    }
  }
}

TEST(LinkAddressTest, SchemeRule) {
  EXPECT_EQ(LinkAddress("x"), "");
  EXPECT_EQ(LinkAddress(""), "");
  EXPECT_EQ(LinkAddress("www.quenvale.org"), "http://www.quenvale.org");
  EXPECT_EQ(LinkAddress("https://a.b"), "https://a.b");
  EXPECT_EQ(LinkAddress("a.b/?q=http"), "a.b/?q=http");
  // The test is case-sensitive, so an upper-case scheme gets another in front.
  EXPECT_EQ(LinkAddress("HTTP://A.B"), "http://HTTP://A.B");
}

}  // namespace
}  // namespace quenvale

namespace quenvale {
namespace {

TEST(Utf8Test, EveryCodePointWrittenReadsBackAsOneSequence) {
  for (uint32_t cp : {0x0u, 0x41u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu,
                      0xFFFFu, 0x10000u, 0x1F600u, 0x10FFFFu}) {
    std::string text;
    AppendUtf8(cp, &text);
    uint32_t back = 0;
    ASSERT_EQ(Utf8SequenceAt(text, 0, &back), text.size()) << std::hex << cp;
    EXPECT_EQ(back, cp);
    EXPECT_TRUE(IsUtf8(text + "x" + text));
  }
}

TEST(Utf8Test, IsUtf8RefusesStrayAndCutOffBytes) {
  EXPECT_TRUE(IsUtf8(""));
  EXPECT_FALSE(IsUtf8("caf\xE9"));        // Windows-1252 é
  EXPECT_FALSE(IsUtf8("\xE2\x82"));       // a euro sign cut short
  EXPECT_FALSE(IsUtf8("\xC0\xAF"));       // an overlong "/"
  EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));   // a surrogate
  EXPECT_TRUE(IsUtf8("caf\xC3\xA9 \xE2\x82\xAC"));
}

TEST(Cp1252Test, TheHighControlsRangeHoldsTypographyAndWindowsOwnUndefinedBytes) {
  EXPECT_EQ(Cp1252CodePoint(0x41), 0x41u);
  EXPECT_EQ(Cp1252CodePoint(0x80), 0x20ACu);  // euro sign
  EXPECT_EQ(Cp1252CodePoint(0x93), 0x201Cu);  // left double quotation mark
  EXPECT_EQ(Cp1252CodePoint(0x9F), 0x0178u);  // Y with diaeresis
  EXPECT_EQ(Cp1252CodePoint(0xA0), 0xA0u);
  EXPECT_EQ(Cp1252CodePoint(0xE9), 0xE9u);
  EXPECT_EQ(Cp1252CodePoint(0xFF), 0xFFu);
  for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    EXPECT_EQ(Cp1252CodePoint(undefined), undefined);
  }
}

TEST(Cp1252Test, EveryByteSurvivesTheWayToUnicodeAndBack) {
  std::string all;
  for (int b = 0; b < 256; ++b) {
    unsigned char back = 0;
    ASSERT_TRUE(Cp1252Byte(Cp1252CodePoint(static_cast<unsigned char>(b)), &back)) << b;
    EXPECT_EQ(back, b);
    all += static_cast<char>(b);
  }
  EXPECT_EQ(Cp1252FromUtf8(Utf8FromCp1252(all)), all);
  unsigned char none = 0;
  EXPECT_FALSE(Cp1252Byte(0x0151, &none));  // o with double acute: Central European only
}

TEST(Cp1252Test, ConvertsFromUtf8AndOem850) {
  // What the code page lacks, and each byte of a broken sequence, is one "?".
  EXPECT_EQ(Cp1252FromUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xC5\x91 \xE6\x97\xA5 \xE2\x82"),
            "Caf\xE9 \x80 ? ? ??");
  EXPECT_EQ(FirstNonCp1252("na\xC3\xAFve \xE2\x82\xAC"), 0u);
  EXPECT_EQ(FirstNonCp1252("a\xC5\x91\xE6\x97\xA5"), 0x0151u);
  // Accented letters of 850 come through; box drawing has no place in 1252.
  EXPECT_EQ(Cp1252FromCp850("Caf\x82 Cr\x8Ame \x99lbild na\x8Bve \xB5\xE0\xED \xC4\xDB"),
            "Caf\xE9 Cr\xE8me \xD6lbild na\xEFve \xC1\xD3\xDD ??");
  std::set<uint32_t> distinct;
  for (int b = 0; b < 256; ++b) distinct.insert(Cp850CodePoint(static_cast<unsigned char>(b)));
  EXPECT_EQ(distinct.size(), 256u);
}

TEST(Cp1252Test, LowerCaseTakesEveryCapitalToItsSmallLetterOnly) {
  EXPECT_EQ(Cp1252LowerCase("AZ \xC0\xC9\xD6\xDE \x8A\x8C\x8E\x9F \xD7\xDF\xF7 az\xE9"),
            "az \xE0\xE9\xF6\xFE \x9A\x9C\x9E\xFF \xD7\xDF\xF7 az\xE9");
  // Lower case is lower case: no byte is changed twice.
  for (int b = 0; b < 256; ++b) {
    const std::string once = Cp1252LowerCase(std::string(1, static_cast<char>(b)));
    EXPECT_EQ(Cp1252LowerCase(once), once) << b;
  }
}

}  // namespace
}  // namespace quenvale
