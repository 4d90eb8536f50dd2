#include "config/config_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "settings/memory_value_store.h"
#include "settings/settings.h"

namespace quenvale {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::TestWithParam;
using ::testing::Values;

constexpr char kKey[] = "Software\\Test Saver\\";
// Title, disclaimer, buttons and the two bottom labels: what is left with every gate off.
constexpr int kFixedHeight = 37 + 26 + 29 + 46 + 13;

using Replacements = std::vector<std::pair<std::string, std::string>>;

// A settings text with every key and every gate open; `replace` swaps whole lines, and a line
// replaced by "" is dropped.
std::string SettingsText(const Replacements& replace = {}) {
  std::vector<std::string> lines = {
      "[general]", "title=Test Saver", "version=2.5", "url=www.example.org",
      "disclaimer=Use at your own risk", "moreInfo=Make your own",
      "moreInfoDisplayURL=example.org/make", "moreInfoTargetURL=mirror-http.example.org/make-it",
      "shortcutkeys=Left: previous;Right: next", "copyrighturl=example.org",
      "copyrightTargetURL=x", "copyright=(c) Somebody",
      "BackgroundColor=$FF0000", "setBackgroundColor=true", "showBackground=true",
      "setShowBackground=true", "setMoreInfo=true", "setMoreInfoURL=true",
      "setShortcutkeys=true",
      "[bounce]", "bounceImages=true", "setBounceImages=true", "nrImages=6", "setNrImages=true",
      "Speed=2", "setSpeed=true", "fixedSpeed=false", "setFixedSpeed=true",
      "[sets]", "selectedSets=*all*", "setSelectedSets=true", "SetTime=30", "setSetTime=true",
      "select=-1", "setSets=true",
      "[clocksettings]", "clock=2", "setClock=true", "setClockFont=true",
      "[FilenameSettings]", "filename=1", "setFilename=true", "setFilenameFont=true"};
  std::string text;
  for (std::string line : lines) {
    for (const auto& r : replace) {
      if (line == r.first) line = r.second;
    }
    if (!line.empty()) text += line + "\r\n";
  }
  for (const auto& r : replace) {
    if (r.first.empty()) text += r.second + "\r\n";  // appended lines
  }
  return text;
}

// The dialog's world: the settings text, the user's store, the settings and the model.
struct Dialog {
  explicit Dialog(const std::string& text, StringArray sets = {"winter", "autumn", "spring"},
                  const std::function<void(MemoryValueStore&)>& prepare = nullptr) {
    ParseSettingsText(text, &list);
    if (prepare) prepare(store);
    settings = std::make_unique<Settings>(list, store);
    model = std::make_unique<ConfigModel>(list, sets, *settings);
  }
  // The model and the settings as the windows end them: the settings are written last.
  void Close() {
    model.reset();
    settings->Close();
  }
  uint32_t StoredDword(const std::string& name) const {
    RegistryData data;
    EXPECT_TRUE(store.Get(kKey, name, &data)) << name;
    uint32_t value = 0;
    std::memcpy(&value, data.bytes.data(), std::min<size_t>(4, data.bytes.size()));
    return value;
  }
  std::string StoredText(const std::string& name) const {
    RegistryData data;
    EXPECT_TRUE(store.Get(kKey, name, &data)) << name;
    return data.bytes.substr(0, data.bytes.find('\0'));
  }

  SettingsList list;
  MemoryValueStore store;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<ConfigModel> model;
};

// Every gate that shows a row, in its own line of the text.
const char* const kAllGates[] = {
    "setBackgroundColor", "setShowBackground", "setMoreInfo", "setMoreInfoURL",
    "setShortcutkeys", "setBounceImages", "setNrImages", "setSpeed", "setFixedSpeed",
    "setSetTime", "setSets", "setClock", "setClockFont", "setFilename", "setFilenameFont"};

Replacements Closing(const std::vector<std::string>& gates) {
  Replacements r;
  for (const std::string& gate : gates) r.push_back({gate + "=true", gate + "=false"});
  return r;
}

TEST(StripNamePrefixTest, DropsTheLowerCaseRunAndTheDigitsZeroAndOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"gbGeneral", "General"},   {"pShowBackground", "ShowBackground"},
      {"clbSets", "Sets"},        {"psBounce", "Bounce"},
      {"lMoreInfoURL", "MoreInfoURL"}, {"ab01cd2Ef", "2Ef"},
      {"x9y", "9y"},              {"lowercase", ""},
      {"Upper", "Upper"},         {"", ""}};
  for (const auto& [name, expected] : cases) EXPECT_EQ(StripNamePrefix(name), expected) << name;
}

TEST(CaptionLinesTest, SplitsAtLineBreaksWithoutATrailingEmptyItem) {
  EXPECT_THAT(CaptionLines("a\r\nb\r\n"), ElementsAre("a", "b"));
  EXPECT_THAT(CaptionLines("a\r\n\r\nb"), ElementsAre("a", "", "b"));
  EXPECT_THAT(CaptionLines("a\nb\rc"), ElementsAre("a", "b", "c"));
  EXPECT_THAT(CaptionLines("one"), ElementsAre("one"));
  EXPECT_THAT(CaptionLines(""), IsEmpty());
}

// Which groups stay and how tall the window is, as the gates decide.
struct GateCase {
  const char* group;
  std::vector<std::string> gates;
};

class GroupGateTest : public TestWithParam<GateCase> {};

TEST_P(GroupGateTest, ClosedGatesHideTheGroupAndShortenItsColumn) {
  Dialog open(SettingsText());
  Dialog closed(SettingsText(Closing(GetParam().gates)));
  const DialogGroup* before = open.model->FindGroup(GetParam().group);
  const DialogGroup* after = closed.model->FindGroup(GetParam().group);
  ASSERT_NE(before, nullptr);
  ASSERT_NE(after, nullptr);
  EXPECT_TRUE(before->visible);
  EXPECT_FALSE(after->visible);
  EXPECT_EQ(after->height, 0);
  const bool left = before->column == 0;
  const int total_before = left ? open.model->LeftTotal() : open.model->RightTotal();
  const int total_after = left ? closed.model->LeftTotal() : closed.model->RightTotal();
  EXPECT_EQ(total_before - total_after, before->height + 5);
  // The window follows the taller column.
  EXPECT_EQ(closed.model->ClientHeight(),
            kFixedHeight + std::max(closed.model->LeftTotal(), closed.model->RightTotal()));
  if (left && open.model->LeftTotal() > open.model->RightTotal() &&
      closed.model->LeftTotal() >= closed.model->RightTotal()) {
    EXPECT_EQ(open.model->ClientHeight() - closed.model->ClientHeight(), before->height + 5);
  }
  // The other groups keep their height.
  for (const DialogGroup& group : open.model->Groups()) {
    if (group.control.name == GetParam().group) continue;
    EXPECT_EQ(closed.model->FindGroup(group.control.name)->height, group.height)
        << group.control.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Groups, GroupGateTest,
    Values(GateCase{"gbGeneral", {"setBackgroundColor", "setShowBackground"}},
           GateCase{"gbFilenameSettings", {"setFilename", "setFilenameFont"}},
           GateCase{"gbClockSettings", {"setClock", "setClockFont"}},
           GateCase{"gbBounce", {"setSpeed", "setFixedSpeed", "setNrImages", "setBounceImages"}},
           GateCase{"gbSets", {"setSetTime", "setSets"}},
           GateCase{"pGeneral", {"setMoreInfo", "setMoreInfoURL", "setShortcutkeys"}}));

TEST(ConfigModelLayoutTest, EveryGateOffLeavesTitleDisclaimerButtonsAndBottomLabels) {
  Dialog dialog(SettingsText(Closing({std::begin(kAllGates), std::end(kAllGates)})));
  for (const DialogGroup& group : dialog.model->Groups()) {
    EXPECT_FALSE(group.visible) << group.control.name;
  }
  EXPECT_EQ(dialog.model->LeftTotal(), 0);
  EXPECT_EQ(dialog.model->RightTotal(), 0);
  EXPECT_EQ(dialog.model->ClientHeight(), kFixedHeight);
  EXPECT_EQ(dialog.model->ButtonsTop(), 37 + 26);
}

TEST(ConfigModelLayoutTest, SpacersAreAlwaysHidden) {
  Dialog dialog(SettingsText());
  for (const char* name : {"psGeneral", "psBounce"}) {
    ASSERT_NE(dialog.model->FindGroup(name), nullptr);
    EXPECT_FALSE(dialog.model->FindGroup(name)->visible) << name;
  }
}

// A gate in any letter case, in a section header in any letter case, shows its row alone.
class GateCaseTest : public TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(GateCaseTest, GateKeysIgnoreLetterCase) {
  Dialog dialog(SettingsText({{"[clocksettings]", GetParam().first},
                              {"setClock=true", GetParam().second},
                              {"setClockFont=true", ""}}));
  const DialogGroup* group = dialog.model->FindGroup("gbClockSettings");
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->rows.size(), 2u);
  EXPECT_TRUE(group->rows[0].visible);
  EXPECT_FALSE(group->rows[1].visible);
  EXPECT_EQ(group->height, group->rows[0].height + 25);
}

INSTANTIATE_TEST_SUITE_P(Spellings, GateCaseTest,
                         Values(std::make_pair("[clocksettings]", "setclock=true"),
                                std::make_pair("[CLOCKSETTINGS]", "SETCLOCK=TRUE"),
                                std::make_pair("[ClockSettings]", "SetClock=tRuE")));

// The dialogs build every control from what it carries, so no control that edits or does
// something may come without it.
TEST(ConfigModelControlsTest, EveryEditingControlCarriesWhatItEdits) {
  Dialog dialog(SettingsText());
  int editing = 0;
  for (const DialogGroup& group : dialog.model->Groups()) {
    for (const DialogRow& row : group.rows) {
      for (const DialogControl& c : row.controls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.kind == ControlKind::kCheckBox, c.flag != nullptr);
        EXPECT_EQ(c.kind == ControlKind::kSpinEdit, c.spin != nullptr);
        EXPECT_EQ(c.kind == ControlKind::kRadioGroup, c.choice != nullptr);
        if (c.kind == ControlKind::kButton) {
          EXPECT_NE(c.action, ControlAction::kNone);
        }
        if (c.action == ControlAction::kChooseFont) {
          EXPECT_NE(c.font, PreviewFont::kNone);
        }
        editing += c.flag != nullptr || c.spin != nullptr || c.choice != nullptr;
      }
    }
  }
  EXPECT_EQ(editing, 8);  // three check boxes, three spin edits, two radio groups
  for (const char* name : {"btnOk", "btnCancel"}) {
    EXPECT_NE(dialog.model->FindControl(name)->action, ControlAction::kNone) << name;
  }
}

TEST(ConfigModelLayoutTest, ShownRowsAndGroupsStackWithoutGaps) {
  // A hidden row in the middle of a group and a hidden group in the middle of a column.
  Dialog dialog(SettingsText(
      Closing({"setFixedSpeed", "setFilename", "setFilenameFont", "setMoreInfoURL"})));
  int column_bottom[2] = {37 + 26 + 5, 37 + 26 + 5};
  for (const DialogGroup& group : dialog.model->Groups()) {
    SCOPED_TRACE(group.control.name);
    if (!group.visible) continue;
    EXPECT_EQ(group.top, column_bottom[group.column]);
    EXPECT_EQ(group.left, group.column == 0 ? 5 : 245);
    EXPECT_EQ(group.width, group.column == 0 ? 230 : 220);
    int next_row = ConfigModel::kGroupRowsTop;
    int rows_height = 0;
    for (const DialogRow& row : group.rows) {
      if (!row.visible) continue;
      EXPECT_EQ(row.top, next_row) << row.name;
      next_row += row.height;
      rows_height += row.height;
    }
    EXPECT_EQ(group.height, rows_height + 25);
    column_bottom[group.column] += group.height + 5;
  }
  EXPECT_EQ(dialog.model->LeftTotal(), column_bottom[0] - (37 + 26 + 5));
  EXPECT_EQ(dialog.model->RightTotal(), column_bottom[1] - (37 + 26 + 5));
  EXPECT_EQ(dialog.model->ButtonsTop(),
            std::max(column_bottom[0], column_bottom[1]) - 5);
  const DialogGroup* bounce = dialog.model->FindGroup("gbBounce");
  EXPECT_FALSE(bounce->rows[1].visible) << "pFixedSpeed";
  EXPECT_FALSE(dialog.model->FindGroup("gbFilenameSettings")->visible);
}

TEST(ConfigModelLayoutTest, LayoutGroupFollowsTheGatesOfTheGroupsSection) {
  Dialog dialog(SettingsText());
  // A group of our own: the section is "Sets", the rows' gates are setSets and setNothing.
  DialogGroup group;
  group.control = {ControlKind::kGroupBox, "gbSets", "Sets"};
  group.rows.resize(2);
  group.rows[0].name = "pNothing";
  group.rows[0].height = 40;
  group.rows[1].name = "clbSets";
  group.rows[1].height = 17;
  group.height = 999;
  dialog.model->LayoutGroup(&group);
  EXPECT_FALSE(group.rows[0].visible);
  EXPECT_TRUE(group.rows[1].visible);
  EXPECT_EQ(group.rows[1].top, ConfigModel::kGroupRowsTop);
  EXPECT_EQ(group.height, 17 + 25);
  EXPECT_TRUE(group.visible);

  group.control.name = "gbBounce";  // no "setSets" in "Bounce"
  dialog.model->LayoutGroup(&group);
  EXPECT_FALSE(group.visible);
  EXPECT_EQ(group.height, 0);
}

// "select" and the user's selected sets decide the ticks; the list is sorted.
struct SelectCase {
  const char* select;
  const char* selected;
  std::vector<bool> ticked;  // for autumn, spring, summer, winter
};

class SelectTest : public TestWithParam<SelectCase> {};

TEST_P(SelectTest, TicksFollowSelectAndTheSelectedSets) {
  Dialog dialog(SettingsText({{"select=-1", std::string("select=") + GetParam().select},
                              {"selectedSets=*all*",
                               std::string("selectedSets=") + GetParam().selected}}),
                {"winter", "autumn", "summer", "spring"});
  const std::vector<SetEntry>& sets = dialog.model->Sets();
  ASSERT_EQ(sets.size(), 4u);
  const char* const names[] = {"autumn", "spring", "summer", "winter"};
  for (size_t i = 0; i < sets.size(); ++i) {
    EXPECT_EQ(sets[i].name, names[i]);
    EXPECT_EQ(sets[i].ticked, GetParam().ticked[i]) << names[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectTest,
    Values(SelectCase{"-1", "*all*", {true, true, true, true}},
           SelectCase{"-1", "winter;spring", {false, true, false, true}},
           SelectCase{"-1", "spring;atlantis", {false, true, false, false}},
           SelectCase{"-1", "Spring", {false, false, false, false}},  // names match exactly
           SelectCase{"-1", "", {false, false, false, false}},
           SelectCase{"1", "", {true, true, true, true}},
           SelectCase{"0", "*all*", {false, false, false, false}},
           SelectCase{"2", "*all*", {false, false, false, false}}));

TEST(ConfigModelSetsTest, ListSortsIgnoringCase) {
  Dialog dialog(SettingsText(), {"beta", "Gamma", "alpha", "Alpha"});
  std::vector<std::string> names;
  for (const SetEntry& entry : dialog.model->Sets()) names.push_back(entry.name);
  EXPECT_THAT(names, ElementsAre("Alpha", "alpha", "beta", "Gamma"));
}

TEST(ConfigModelSetsTest, ClosedSetsGateListsNothingAndOkKeepsTheSelection) {
  Dialog dialog(SettingsText(Closing({"setSets"})));
  EXPECT_FALSE(dialog.model->SetsShown());
  EXPECT_THAT(dialog.model->Sets(), IsEmpty());
  dialog.model->Ok();
  EXPECT_THAT(dialog.settings->SelectedSets, ElementsAre("*all*"));
}

TEST(ConfigModelSetsTest, SelectMustBeAnInteger) {
  for (const char* line : {"", "select=some"}) {
    SettingsList list;
    ParseSettingsText(SettingsText({{"select=-1", line}}), &list);
    MemoryValueStore store;
    Settings settings(list, store);
    EXPECT_THROW({ ConfigModel model(list, StringArray{"a"}, settings); }, ConvertError)
        << line;
  }
}

TEST(ConfigModelOkTest, NothingTickedStoresTheAlphabeticallyFirstSet) {
  Dialog dialog(SettingsText({{"select=-1", "select=0"}}), {"winter", "autumn", "spring"});
  dialog.model->Ok();
  EXPECT_THAT(dialog.settings->SelectedSets, ElementsAre("autumn"));
  dialog.Close();
  EXPECT_EQ(dialog.StoredText("sets selectedSets"), "autumn");
}

TEST(ConfigModelOkTest, TickedSetsAreStoredInListOrder) {
  Dialog dialog(SettingsText({{"select=-1", "select=0"}}), {"winter", "autumn", "spring"});
  dialog.model->SetTicked(2, true);  // winter
  dialog.model->SetTicked(0, true);  // autumn
  dialog.model->SetTicked(7, true);  // beyond the list: ignored
  dialog.model->Ok();
  EXPECT_THAT(dialog.settings->SelectedSets, ElementsAre("autumn", "winter"));
}

TEST(ConfigModelOkTest, EmptySetsListKeepsTheUsersSelection) {
  Dialog dialog(SettingsText(), {});
  dialog.model->Ok();
  EXPECT_THAT(dialog.settings->SelectedSets, ElementsAre("*all*"));
}

TEST(ConfigModelOkTest, OkCopiesEveryControlIntoTheSettings) {
  Dialog dialog(SettingsText());
  ConfigModel& model = *dialog.model;
  model.ChooseBackgroundColor(0x00FF00);
  model.ClockChoice().Select(1);
  model.FilenameChoice().Select(0);
  model.SpeedValue().Set(17);
  model.NrImagesValue().SetText("9");
  model.SetTimeValue().Set(300);
  model.bounce_images = false;
  model.fixed_speed = true;
  model.show_background = false;
  Font clock_font;
  clock_font.Name = "Courier New";
  clock_font.Height = -20;
  model.SetClockFont(clock_font);
  Font filename_font;
  filename_font.Name = "Verdana";
  filename_font.Style = fsItalic;
  model.SetFilenameFont(filename_font);
  model.Ok();

  const Settings& s = *dialog.settings;
  EXPECT_EQ(s.BackgroundColor, 0x00FF00);
  EXPECT_EQ(s.Clock, 1);
  EXPECT_EQ(s.Filename, 0);
  EXPECT_EQ(s.Speed, 17);
  EXPECT_EQ(s.NrImages, 9);
  EXPECT_EQ(s.SetTime, 300);
  EXPECT_FALSE(s.BounceImages);
  EXPECT_TRUE(s.FixedSpeed);
  EXPECT_FALSE(s.ShowBackground);
  EXPECT_EQ(s.ClockFont.Font, clock_font);
  EXPECT_EQ(s.FilenameFont.Font, filename_font);
  dialog.Close();
  EXPECT_EQ(dialog.StoredDword("General BackgroundColor"), 0x00FF00u);
  EXPECT_EQ(dialog.StoredDword("bounce Speed"), 17u);
}

TEST(ConfigModelOkTest, HiddenRowsCopyTheirLoadedValuesClamped) {
  Dialog dialog(SettingsText({{"Speed=2", "Speed=0"}, {"setSpeed=true", "setSpeed=false"}}));
  EXPECT_FALSE(dialog.model->FindGroup("gbBounce")->rows[0].visible);
  dialog.model->Ok();
  EXPECT_EQ(dialog.settings->Speed, 1);
  EXPECT_EQ(dialog.settings->NrImages, 6);
}

TEST(ConfigModelCancelTest, CancelAfterChangingTheColourStoresTheLoadedColour) {
  for (bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    // The user's own colour, over the text's default, is the one loaded.
    Dialog dialog(SettingsText(), {"a"}, [](MemoryValueStore& store) {
      store.Set(kKey, "General BackgroundColor", RegistryData::Dword(0x123456));
    });
    EXPECT_EQ(dialog.model->BackgroundColor(), 0x123456);
    dialog.model->ChooseBackgroundColor(0x00FF00);
    if (ok) dialog.model->Ok();
    dialog.Close();
    EXPECT_EQ(dialog.StoredDword("General BackgroundColor"), ok ? 0x00FF00u : 0x123456u);
  }
}

TEST(ConfigModelValuesTest, ColourChooserOpensWithItsOwnLastColour) {
  Dialog dialog(SettingsText());
  EXPECT_EQ(dialog.model->BackgroundColor(), 0xFF0000);
  EXPECT_EQ(dialog.model->ColorChooserColor(), clBlack);
  dialog.model->ChooseBackgroundColor(0x0000FF);
  EXPECT_EQ(dialog.model->ColorChooserColor(), 0x0000FF);
  EXPECT_EQ(dialog.model->BackgroundColor(), 0x0000FF);
}

TEST(ConfigModelValuesTest, LoadedValuesAreClampedToTheControlsRanges) {
  Dialog dialog(SettingsText({{"Speed=2", "Speed=0"},
                              {"nrImages=6", "nrImages=20000"},
                              {"SetTime=30", "SetTime=-5"},
                              {"clock=2", "clock=7"},
                              {"filename=1", "filename=-4"}}));
  EXPECT_EQ(dialog.model->SpeedValue().value(), 1);
  EXPECT_EQ(dialog.model->NrImagesValue().value(), 10000);
  EXPECT_EQ(dialog.model->SetTimeValue().value(), 0);
  EXPECT_EQ(dialog.model->ClockChoice().index(), 2);
  EXPECT_EQ(dialog.model->FilenameChoice().index(), -1);
}

TEST(SpinValueTest, TypedTextIsClampedAndNonNumbersReadAsTheMinimum) {
  SpinValue spin(1, 10000);
  const std::pair<const char*, int32_t> cases[] = {
      {"250", 250}, {"abc", 1}, {"", 1}, {"0", 1}, {"10001", 10000}, {"-3", 1}, {"$10", 16}};
  for (const auto& [text, expected] : cases) {
    spin.Set(77);
    spin.SetText(text);
    EXPECT_EQ(spin.value(), expected) << text;
  }
}

TEST(ConfigModelValuesTest, ShadowsAreTheFontInBlack) {
  Dialog dialog(SettingsText());
  const Font shadow = ConfigModel::ShadowFont(dialog.model->ClockFont());
  Font expected = dialog.model->ClockFont();
  EXPECT_NE(expected.Color, clBlack) << "the default clock font is white";
  expected.Color = clBlack;
  EXPECT_EQ(shadow, expected);
}

// The clock preview with "clock" 2: ticks counted into hours, minutes and seconds.
class RunningClockTest : public TestWithParam<std::pair<int, const char*>> {};

TEST_P(RunningClockTest, CountsTicksAndWrapsTheHoursAfterADay) {
  Dialog dialog(SettingsText());
  EXPECT_EQ(dialog.model->ClockText(), "00:00:00");
  for (int i = 0; i < GetParam().first; ++i) dialog.model->ClockTick(true);
  dialog.model->ClockTick(false);  // a refresh counts nothing
  EXPECT_EQ(dialog.model->ElapsedSeconds(), GetParam().first);
  EXPECT_EQ(dialog.model->ClockText(), GetParam().second);
  EXPECT_EQ(dialog.model->Caption("lClock"), GetParam().second);
  EXPECT_EQ(dialog.model->Caption("lClockShadow"), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Ticks, RunningClockTest,
                         Values(std::make_pair(0, "00:00:00"), std::make_pair(59, "00:00:59"),
                                std::make_pair(60, "00:01:00"), std::make_pair(3599, "00:59:59"),
                                std::make_pair(86399, "23:59:59"),
                                std::make_pair(86400, "00:00:00"),
                                std::make_pair(90061, "01:01:01")));

TEST(ConfigModelClockTest, TimeOfDayComesFromTheSourceAndFollowsTheLoadedClock) {
  Dialog dialog(SettingsText({{"clock=2", "clock=1"}}));
  dialog.model->SetLocalTimeSource([] { return std::string("12:34:56"); });
  dialog.model->ClockChoice().Select(2);  // a new choice shows only after the next opening
  dialog.model->ClockTick(true);
  EXPECT_EQ(dialog.model->ClockText(), "12:34:56");
  EXPECT_EQ(dialog.model->Caption("lClock"), "12:34:56");
  EXPECT_EQ(dialog.model->ElapsedSeconds(), 1);
}

TEST(ConfigModelClockTest, NoClockKeepsThePreviewText) {
  Dialog dialog(SettingsText({{"clock=2", "clock=0"}}));
  dialog.model->SetLocalTimeSource([] { return std::string("12:34:56"); });
  dialog.model->ClockChoice().Select(2);  // the loaded choice still rules the preview
  for (int i = 0; i < 5; ++i) dialog.model->ClockTick(true);
  EXPECT_EQ(dialog.model->ElapsedSeconds(), 5);
  EXPECT_EQ(dialog.model->ClockText(), "00:00:00");
  EXPECT_EQ(dialog.model->Caption("lClock"), "00:00:00");
}

TEST(ConfigModelCaptionsTest, BuiltInCaptionsWithoutALanguageSection) {
  Dialog dialog(SettingsText());
  EXPECT_EQ(dialog.model->WindowCaption(), "Configure Test Saver");
  EXPECT_EQ(dialog.model->Caption("cbFixedSpeed"), "Randomized Speed");
  EXPECT_EQ(dialog.model->Caption("gbFilenameSettings"), "Filename Settings");
  EXPECT_EQ(dialog.model->Caption("btnOk"), "&Ok");
  EXPECT_EQ(dialog.model->Caption("lChangeSetsAfter"), "Change set after ");
  EXPECT_THAT(dialog.model->ClockChoice().items(),
              ElementsAre("No clock", "Current time", "Screensaver running time"));
  EXPECT_THAT(dialog.model->FilenameChoice().items(),
              ElementsAre("Show filename", "Do not show filename"));
  EXPECT_EQ(dialog.model->ClockChoice().index(), 2);
  EXPECT_EQ(dialog.model->FilenameChoice().index(), 1);
}

TEST(ConfigModelCaptionsTest, LanguageReplacesCaptionsAndSplitsRadioItems) {
  Dialog dialog(SettingsText({{"", "[language]"},
                              {"", "configure=Einstellungen"},
                              {"", "BOUNCEFIXEDSPEED=Zufallstempo"},
                              {"", "general=Allgemein"},
                              {"", "ok=&Gut"},
                              {"", "seconds="},
                              {"", "clockSettingsOptions=Aus;Uhrzeit;Laufzeit"},
                              {"", "FilenameSettingsOptions=Nur eins"}}));
  EXPECT_EQ(dialog.model->WindowCaption(), "Einstellungen Test Saver");
  EXPECT_EQ(dialog.model->Caption("cbFixedSpeed"), "Zufallstempo");
  EXPECT_EQ(dialog.model->Caption("gbGeneral"), "Allgemein");
  EXPECT_EQ(dialog.model->Caption("btnOk"), "&Gut");
  EXPECT_EQ(dialog.model->Caption("lSeconds"), "seconds") << "an empty value keeps the caption";
  EXPECT_EQ(dialog.model->Caption("btnCancel"), "&Cancel");
  EXPECT_THAT(dialog.model->ClockChoice().items(), ElementsAre("Aus", "Uhrzeit", "Laufzeit"));
  EXPECT_THAT(dialog.model->FilenameChoice().items(), ElementsAre("Nur eins"));
  // "filename" 1 is beyond the single item left.
  EXPECT_EQ(dialog.model->FilenameChoice().index(), 0);
}

TEST(ConfigModelTextsTest, TextsAndLinksComeFromGeneral) {
  Dialog dialog(SettingsText());
  const ConfigModel& m = *dialog.model;
  EXPECT_EQ(m.Caption("lTitle"), "Test Saver");
  EXPECT_EQ(m.Caption("lVersion"), "2.5");
  EXPECT_EQ(m.Caption("lDisclaimer"), "Use at your own risk");
  EXPECT_EQ(m.Caption("lMoreInfo"), "Make your own");
  EXPECT_EQ(m.Caption("lMoreInfoURL"), "example.org/make");
  EXPECT_EQ(m.Caption("lCopyrightURL"), "example.org");
  EXPECT_EQ(m.Caption("lCopyright"), "(c) Somebody");
  EXPECT_EQ(m.Caption("lShortcutkeys"), "\r\nLeft: previous\r\nRight: next");
  EXPECT_EQ(m.LinkFor("lTitle"), "http://www.example.org");
  EXPECT_EQ(m.LinkFor("lMoreInfoURL"), "mirror-http.example.org/make-it");
  EXPECT_EQ(m.LinkFor("lCopyrightURL"), "") << "a one-character address opens nothing";
  EXPECT_EQ(m.LinkFor("lVersion"), "");
  EXPECT_EQ(m.FindControl("lMoreInfoURL")->kind, ControlKind::kLinkLabel);
  EXPECT_EQ(m.FindControl("nothing"), nullptr);
}

TEST(ConfigModelTextsTest, MissingTextsGiveEmptyLabelsAndTheHelpStillStartsOnLineTwo) {
  Dialog dialog(SettingsText({{"shortcutkeys=Left: previous;Right: next", ""},
                              {"version=2.5", ""},
                              {"url=www.example.org", ""}}));
  EXPECT_EQ(dialog.model->Caption("lShortcutkeys"), "\r\n");
  EXPECT_EQ(dialog.model->Caption("lVersion"), "");
  EXPECT_EQ(dialog.model->LinkFor("lTitle"), "");
}

// Text width proportional to the character height: 3/5 of it per character.
int Measure(const std::string& text, const Font& font) {
  return static_cast<int>(text.size()) * -font.Height * 3 / 5;
}

class FitLabelFontTest : public TestWithParam<std::pair<const char*, int>> {};

TEST_P(FitLabelFontTest, ShrinksToTheLargestFittingSizeButNotBelowFive) {
  const std::string text = GetParam().first;
  const int width = GetParam().second;
  Font font = ConfigModel::TitleFont();
  const Font before = font;
  FitLabelFont(&font, text, width, Measure);
  EXPECT_EQ(font.Name, "Helvetica");
  EXPECT_EQ(font.Style, before.Style);
  EXPECT_EQ(font.Color, before.Color);
  EXPECT_LE(font.Size(), before.Size());
  if (font.Size() > 5) {
    EXPECT_LE(Measure(text, font), width);
  }
  if (font.Size() < before.Size()) {
    Font larger = font;
    larger.SetSize(font.Size() + 1);
    EXPECT_GT(Measure(text, larger), width) << "shrunk one point too far";
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, FitLabelFontTest,
                         Values(std::make_pair("Short", 470),
                                std::make_pair("A title far too long for one line of the dialog",
                                               470),
                                std::make_pair("Anything at all", 3)));

TEST(FitLabelFontTest, StopsAtFivePoints) {
  Font font = ConfigModel::LinkFont("lCopyrightURL");
  FitLabelFont(&font, "wide", 0, Measure);
  EXPECT_EQ(font.Size(), 5);
}

}  // namespace
}  // namespace quenvale
