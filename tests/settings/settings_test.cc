#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "settings/memory_value_store.h"

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

constexpr char kKey[] = "Software\\Test Saver\\";
constexpr char kFontLines[] =
    "object TFontDialog;  Font.Charset = ANSI_CHARSET;  Font.Color = clYellow;"
    "  Font.Height = -24;  Font.Name = 'Tahoma';  Font.Style = [fsItalic];end";

// A settings text with every key and every gate open; `replace` swaps whole lines.
std::string SettingsText(const std::vector<std::pair<std::string, std::string>>& replace = {}) {
  std::vector<std::string> lines = {
      "[general]", "title=Test Saver", "BackgroundColor=$FF0000", "setBackgroundColor=true",
      "showBackground=true", "setShowBackground=true",
      "[bounce]", "noBouncingLogos=false", "bounceImages=true", "setBounceImages=true",
      "nrImages=6", "setNrImages=true", "Speed=2", "setSpeed=true", "fixedSpeed=false",
      "setFixedSpeed=true",
      "[sets]", "selectedSets=*all*", "setSelectedSets=true", "SetTime=30", "setSetTime=true",
      "[clocksettings]", "clock=1", "setClock=true", std::string("clockFont=") + kFontLines,
      "setClockFont=true",
      "[FilenameSettings]", "filename=0", "setFilename=true",
      std::string("filenameFont=") + kFontLines, "setFilenameFont=true",
      "[backgrounds]", "stretchSmallImages=true", "setStretchSmallImages=true"};
  std::string text;
  for (std::string line : lines) {
    for (const auto& r : replace) {
      if (line == r.first) line = r.second;
    }
    text += line + "\r\n";
  }
  return text;
}

SettingsList Parse(const std::string& text) {
  SettingsList list;
  ParseSettingsText(text, &list);
  return list;
}

uint32_t Dword(const MemoryValueStore& store, const std::string& name) {
  RegistryData data;
  EXPECT_TRUE(store.Get(kKey, name, &data)) << name;
  EXPECT_EQ(data.type, kRegDword) << name;
  uint32_t value = 0;
  std::memcpy(&value, data.bytes.data(), std::min<size_t>(4, data.bytes.size()));
  return value;
}

std::string Text(const MemoryValueStore& store, const std::string& name) {
  RegistryData data;
  EXPECT_TRUE(store.Get(kKey, name, &data)) << name;
  EXPECT_EQ(data.type, kRegSz) << name;
  return data.bytes.substr(0, data.bytes.find('\0'));
}

TEST(SettingsTest, LoadsEverySettingFromTheText) {
  MemoryValueStore store;
  const SettingsList list = Parse(SettingsText());
  Settings settings(list, store);
  EXPECT_EQ(settings.BackgroundColor, 0xFF0000) << "$FF0000 is blue in 0x00BBGGRR";
  EXPECT_TRUE(settings.BounceImages);
  EXPECT_EQ(settings.NrImages, 6);
  EXPECT_EQ(settings.Speed, 2);
  EXPECT_FALSE(settings.FixedSpeed);
  EXPECT_FALSE(settings.NoBouncingLogos);
  EXPECT_EQ(settings.Clock, 1);
  EXPECT_EQ(settings.Filename, 0);
  EXPECT_TRUE(settings.ShowBackground);
  EXPECT_TRUE(settings.StretchSmallImages);
  EXPECT_EQ(settings.SetTime, 30);
  EXPECT_EQ(settings.SelectedSets, StringArray{"*all*"});
  EXPECT_EQ(settings.ClockFont.Font.Name, "Tahoma");
  EXPECT_EQ(settings.ClockFont.Font.Height, -24);
  EXPECT_EQ(settings.ClockFont.Font.Style, fsItalic);
  EXPECT_EQ(settings.FilenameFont.Font.Color, 0x00FFFF);
  settings.Close();
}

TEST(SettingsTest, AfterOneRunEveryBoundValueIsStoredInBindingOrderWithItsType) {
  MemoryValueStore store;
  const SettingsList list = Parse(SettingsText());
  { Settings settings(list, store); }
  EXPECT_EQ(store.ValueNames(kKey),
            (std::vector<std::string>{
                "clocksettings clock", "General BackgroundColor", "bounce bounceImages",
                "bounce nrImages", "bounce Speed", "bounce fixedSpeed", "General showBackground",
                "sets selectedSets", "ClockSettings clockFont", "sets SetTime",
                "FilenameSettings filename", "FilenameSettings filenameFont",
                "backgrounds stretchSmallImages"}));
  EXPECT_EQ(Dword(store, "General BackgroundColor"), 0xFF0000u);
  EXPECT_EQ(Dword(store, "bounce bounceImages"), 1u);
  EXPECT_EQ(Dword(store, "bounce fixedSpeed"), 0u);
  EXPECT_EQ(Text(store, "sets selectedSets"), "*all*");
  // The font is stored with real line breaks, not the settings text's ";".
  const std::string font = Text(store, "ClockSettings clockFont");
  EXPECT_EQ(font.find(';'), std::string::npos);
  EXPECT_EQ(SplitString("\r\n", font).size(), 7u) << font;
  EXPECT_EQ(font.substr(0, 20), "object TFontDialog\r\n");
}

TEST(SettingsTest, StoredValuesWinOverTheTextForBoundSettings) {
  MemoryValueStore store;
  store.Set(kKey, "bounce nrImages", RegistryData::Dword(11));
  store.Set(kKey, "bounce bounceImages", RegistryData::Dword(2));
  store.Set(kKey, "sets selectedSets", RegistryData::String("reef;aurora"));
  const SettingsList list = Parse(SettingsText());
  Settings settings(list, store);
  EXPECT_EQ(settings.NrImages, 11);
  EXPECT_TRUE(settings.BounceImages);
  EXPECT_EQ(settings.SelectedSets, (StringArray{"reef", "aurora"}));
  settings.Close();
  EXPECT_EQ(Dword(store, "bounce bounceImages"), 1u);
}

class GateTest : public TestWithParam<const char*> {};

// Any gate value but "true" (in any case) keeps the setting out of the store entirely.
TEST_P(GateTest, ClosedGateNeitherReadsNorWrites) {
  MemoryValueStore store;
  store.Set(kKey, "bounce nrImages", RegistryData::Dword(11));
  const std::string gate = GetParam();
  const SettingsList list =
      Parse(SettingsText({{"setNrImages=true", gate.empty() ? "" : "setNrImages=" + gate}}));
  {
    Settings settings(list, store);
    EXPECT_EQ(settings.NrImages, 6);
    settings.NrImages = 9;  // a change made with the keyboard
  }
  EXPECT_EQ(Dword(store, "bounce nrImages"), 11u);
  for (const std::string& name : store.WriteLog()) EXPECT_NE(name, "bounce nrImages");
}

INSTANTIATE_TEST_SUITE_P(Values, GateTest, Values("", "false", "yes", "1", " true"));

TEST(SettingsTest, GateInCapitalsIsOpen) {
  MemoryValueStore store;
  const SettingsList list = Parse(SettingsText({{"setNrImages=true", "SETNRIMAGES=TRUE"}}));
  {
    Settings settings(list, store);
    settings.NrImages = 9;
  }
  EXPECT_EQ(Dword(store, "bounce nrImages"), 9u);
}

struct SetsCase {
  const char* text;
  StringArray sets;
};

class SelectedSetsTest : public TestWithParam<SetsCase> {};

TEST_P(SelectedSetsTest, SplitAtSemicolons) {
  MemoryValueStore store;
  const SettingsList list = Parse(
      SettingsText({{"selectedSets=*all*", std::string("selectedSets=") + GetParam().text}}));
  Settings settings(list, store);
  EXPECT_EQ(settings.SelectedSets, GetParam().sets);
  settings.Close();
  EXPECT_EQ(Text(store, "sets selectedSets"), JoinStrings(";", GetParam().sets));
}

INSTANTIATE_TEST_SUITE_P(Values, SelectedSetsTest,
                         Values(SetsCase{"*all*", {"*all*"}}, SetsCase{"", {}},
                                SetsCase{"reef;aurora", {"reef", "aurora"}},
                                SetsCase{"reef;;aurora;", {"reef", "aurora"}}));

struct FailureCase {
  std::string from;
  std::string to;
  std::string message;
};

class ConstructionFailureTest : public TestWithParam<FailureCase> {};

TEST_P(ConstructionFailureTest, FailsWithTheConversionMessageAndWritesNothing) {
  MemoryValueStore store;
  store.Set(kKey, "clocksettings clock", RegistryData::Dword(2));
  const SettingsList list = Parse(SettingsText({{GetParam().from, GetParam().to}}));
  try {
    Settings settings(list, store);
    FAIL() << "constructed";
  } catch (const std::exception& e) {
    EXPECT_EQ(e.what(), GetParam().message);
  }
  EXPECT_TRUE(store.WriteLog().empty()) << "a failed load must not overwrite stored values";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConstructionFailureTest,
    Values(FailureCase{"nrImages=6", "", "bounce nrImages: '' is not a valid integer value"},
           FailureCase{"Speed=2", "Speed=fast",
                       "bounce Speed: 'fast' is not a valid integer value"},
           FailureCase{"SetTime=30", "SetTime=", "sets SetTime: '' is not a valid integer value"},
           FailureCase{"noBouncingLogos=false", "noBouncingLogos=maybe",
                       "'maybe' is not a valid boolean value"},
           FailureCase{std::string("clockFont=") + kFontLines, "clockFont=object TLabel;end",
                       "Class TLabel not found"}));

TEST(SettingsTest, StoredValueOfTheWrongTypeEndsConstruction) {
  MemoryValueStore store;
  store.Set(kKey, "bounce Speed", RegistryData::String("x"));
  const SettingsList list = Parse(SettingsText());
  try {
    Settings settings(list, store);
    FAIL() << "constructed";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'bounce Speed'");
  }
  EXPECT_TRUE(store.WriteLog().empty());
}

struct BooleanCase {
  const char* value;
  bool no_bouncing_logos;
};

class NoBouncingLogosTest : public TestWithParam<BooleanCase> {};

TEST_P(NoBouncingLogosTest, TakesBooleanWordsAndNumbers) {
  MemoryValueStore store;
  const std::string line = GetParam().value == nullptr
                               ? std::string()
                               : std::string("noBouncingLogos=") + GetParam().value;
  const SettingsList list = Parse(SettingsText({{"noBouncingLogos=false", line}}));
  Settings settings(list, store);
  EXPECT_EQ(settings.NoBouncingLogos, GetParam().no_bouncing_logos);
  settings.Close();
  for (const std::string& name : store.WriteLog()) EXPECT_NE(name, "bounce noBouncingLogos");
}

INSTANTIATE_TEST_SUITE_P(Values, NoBouncingLogosTest,
                         Values(BooleanCase{nullptr, false}, BooleanCase{"TRUE", true},
                                BooleanCase{"False", false}, BooleanCase{"0", false},
                                BooleanCase{"-3", true}));

TEST(SettingsTest, FontWithSemicolonsAndStoredFontWithLineBreaksAreTheSame) {
  MemoryValueStore store;
  const SettingsList list = Parse(SettingsText());
  std::string stored;
  FontDialog from_text;
  {
    Settings settings(list, store);
    from_text = settings.ClockFont;
    settings.Close();
    stored = Text(store, "ClockSettings clockFont");
  }
  EXPECT_NE(stored.find("\r\n"), std::string::npos);
  Settings again(list, store);
  EXPECT_EQ(again.ClockFontText, stored);
  EXPECT_EQ(again.ClockFont.Font.Name, from_text.Font.Name);
  EXPECT_EQ(again.ClockFont.Font.Height, from_text.Font.Height);
  EXPECT_EQ(again.ClockFont.Font.Color, from_text.Font.Color);
  EXPECT_EQ(again.ClockFont.Font.Charset, from_text.Font.Charset);
  EXPECT_EQ(again.ClockFont.Font.Style, from_text.Font.Style);
  again.Close();
}

TEST(SettingsTest, ClosingStoresTheLiveFontsAndSetsNotTheLoadedTexts) {
  MemoryValueStore store;
  const SettingsList list = Parse(SettingsText());
  {
    Settings settings(list, store);
    settings.ClockFont.Font.SetSize(30);  // the keyboard's font size change
    settings.SelectedSets = {"lantern", "reef"};
  }
  Settings again(list, store);
  EXPECT_EQ(again.ClockFont.Font.Size(), 30);
  EXPECT_EQ(again.FilenameFont.Font.Height, -24);
  EXPECT_EQ(again.SelectedSets, (StringArray{"lantern", "reef"}));
  again.Close();
}

TEST(SettingsTest, MissingFontTextGivesTheDefaultFont) {
  MemoryValueStore store;
  const SettingsList list =
      Parse(SettingsText({{std::string("clockFont=") + kFontLines, ""}}));
  {
    Settings settings(list, store);
    EXPECT_EQ(settings.ClockFont.Font.Name, DefaultFontDialog().Font.Name);
    EXPECT_EQ(settings.ClockFont.Font.Height, DefaultFontDialog().Font.Height);
  }
  EXPECT_EQ(Text(store, "ClockSettings clockFont"), ComponentToText(DefaultFontDialog()));
}

}  // namespace
}  // namespace quenvale
