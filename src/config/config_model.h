// What the configuration dialog shows and does, free of any window system: every control's
// name, kind and caption, which rows the data file lets the user see, where the groups sit and
// how tall the window is, the sets list, the clock preview, and what OK and Cancel leave in the
// settings. The Windows and GTK dialogs only draw this and forward the user's input to it.
#ifndef QUENVALE_CONFIG_CONFIG_MODEL_H_
#define QUENVALE_CONFIG_CONFIG_MODEL_H_

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/font.h"
#include "common/strings.h"
#include "datafile/settings_list.h"
#include "settings/settings.h"

namespace quenvale {

class Settings;
class ZipFileSettings;

enum class ControlKind {
  kLabel,
  kLinkLabel,  // hand cursor; a click opens ConfigModel::LinkFor(name)
  kButton,
  kCheckBox,
  kRadioGroup,
  kSpinEdit,
  kColorSwatch,
  kCheckList,
  kGroupBox,
  kPanel,
};

class SpinValue;
class RadioChoice;

// What a button does when it is pressed.
enum class ControlAction : uint8_t { kNone, kOk, kCancel, kChooseColor, kChooseFont };
// The font a font button chooses and a preview label shows.
enum class PreviewFont : uint8_t { kNone, kClock, kFilename };

struct DialogControl {
  ControlKind kind;
  std::string name;     // names the control for the tests and the probes, nothing else
  std::string caption;  // "&" marks the access key
  // What the control edits or does, filled in by the model: the dialogs build and read every
  // control through these.
  bool* flag = nullptr;           // a check box's value
  SpinValue* spin = nullptr;      // a spin edit's value and range
  RadioChoice* choice = nullptr;  // a radio group's items and selection
  ControlAction action = ControlAction::kNone;
  PreviewFont font = PreviewFont::kNone;
  bool left_aligned = false;  // a text of the right column read from the left (else centred)
};

// One optional row of a group; its gate key is "set" + StripNamePrefix(name).
struct DialogRow {
  std::string name;
  int height = 0;
  bool visible = false;
  int top = 0;                          // from the group's top, meaningful when visible
  std::vector<DialogControl> controls;  // left to right
};

struct DialogGroup {
  DialogControl control;  // a group box, or a panel for the spacers and the texts column
  int column = 0;         // 0 left, 1 right
  bool visible = false;
  int height = 0;
  int left = 0;  // client coordinates
  int top = 0;
  int width = 0;
  std::vector<DialogRow> rows;
};

// A spin box's value, always within its range.
class SpinValue {
 public:
  SpinValue(int32_t min, int32_t max) : min_(min), max_(max), value_(min) {}
  void Set(int32_t value);
  // What the user typed; text that is no number reads as the minimum.
  void SetText(const std::string& text);
  int32_t value() const { return value_; }
  int32_t min() const { return min_; }
  int32_t max() const { return max_; }

 private:
  int32_t min_;
  int32_t max_;
  int32_t value_;
};

// A radio group's items and its selection: -1 (nothing) up to the last item.
class RadioChoice {
 public:
  void SetItems(StringArray items);
  void Select(int32_t index);
  const StringArray& items() const { return items_; }
  int32_t index() const { return index_; }

 private:
  StringArray items_;
  int32_t index_ = -1;
};

struct SetEntry {
  std::string name;
  bool ticked = false;
};

// Removes the leading run of "a".."z", "0" and "1" from a component name: "gbGeneral" gives
// "General", "clbSets" gives "Sets".
std::string StripNamePrefix(const std::string& name);

// A multi-line caption's items: lines end at CR LF, CR or LF, and a final line break adds no
// empty item.
StringArray CaptionLines(const std::string& text);

// Shrinks a link label's font until `text` fits `width`: the face becomes "Helvetica", then the
// size drops a point at a time while the text is too wide and the size is above 5 points.
// `measure` gives the text's width in pixels in a font.
void FitLabelFont(Font* font, const std::string& text, int width,
                  const std::function<int(const std::string&, const Font&)>& measure);

// The set names in the order the data file holds them, as the dialog lists them.
StringArray ListedSetNames(ZipFileSettings& data_file);

class ConfigModel {
 public:
  static constexpr int kClientWidth = 470;
  static constexpr int kRightColumnWidth = 230;
  static constexpr int kColumnBorder = 5;
  static constexpr int kGroupGap = 5;
  static constexpr int kGroupFrame = 25;    // a shown group's frame and caption
  static constexpr int kGroupRowsTop = 16;  // first row below the group's caption
  static constexpr int kTitleHeight = 37;
  static constexpr int kDisclaimerHeight = 26;
  static constexpr int kButtonsHeight = 29;
  static constexpr int kCopyrightUrlHeight = 46;
  static constexpr int kCopyrightHeight = 13;
  static constexpr int kClockTimerMs = 1000;

  // `text` is the data file's settings text; `set_names` the sets as ListedSetNames gives them;
  // `settings` the user settings built from the same text, which OK writes into. Throws
  // ConvertError when "select" in "sets" is not an integer.
  ConfigModel(const SettingsList& text, const StringArray& set_names, Settings& settings);
  ConfigModel(const ConfigModel&) = delete;
  ConfigModel& operator=(const ConfigModel&) = delete;

  const std::string& WindowCaption() const { return window_caption_; }
  // Every control outside the rows (title, version, disclaimer, buttons, bottom labels), then
  // the groups' own controls, then the rows' controls. Null for an unknown name.
  const DialogControl* FindControl(const std::string& name) const;
  // The caption of a named control; empty for an unknown name.
  std::string Caption(const std::string& name) const;
  // The address a link label opens (with "http://" put in front when it has no "http"); empty
  // when the label opens nothing.
  std::string LinkFor(const std::string& label_name) const;

  // Label fonts before FitLabelFont.
  static Font TitleFont();
  static Font LinkFont(const std::string& label_name);

  // Layout, in client pixels.
  const std::vector<DialogGroup>& Groups() const { return groups_; }
  const DialogGroup* FindGroup(const std::string& name) const;
  int LeftTotal() const { return left_total_; }
  int RightTotal() const { return right_total_; }
  int ColumnsTop() const { return kTitleHeight + kDisclaimerHeight; }
  int ButtonsTop() const { return ColumnsTop() + std::max(left_total_, right_total_); }
  int ClientHeight() const;
  // Lays one group out from the gates: rows shown or hidden, the group's height, shown or not.
  void LayoutGroup(DialogGroup* group) const;

  // The values the controls hold; the dialog changes them as the user works.
  int32_t BackgroundColor() const { return background_color_; }
  // The colour chooser opens with the colour it last returned (black the first time).
  int32_t ColorChooserColor() const { return color_chooser_color_; }
  void ChooseBackgroundColor(int32_t color);
  RadioChoice& ClockChoice() { return clock_choice_; }
  RadioChoice& FilenameChoice() { return filename_choice_; }
  SpinValue& SpeedValue() { return speed_; }
  SpinValue& NrImagesValue() { return nr_images_; }
  SpinValue& SetTimeValue() { return set_time_; }
  bool bounce_images = false;
  bool fixed_speed = false;
  bool show_background = false;

  // The preview fonts; the font chooser starts from these. Shadows are the same font in black.
  const Font& ClockFont() const { return clock_font_; }
  const Font& FilenameFont() const { return filename_font_; }
  void SetClockFont(const Font& font) { clock_font_ = font; }
  void SetFilenameFont(const Font& font) { filename_font_ = font; }
  static Font ShadowFont(Font font);

  // The sets list, sorted by name ignoring case, and the ticks.
  const std::vector<SetEntry>& Sets() const { return sets_; }
  void SetTicked(size_t index, bool ticked);
  bool SetsShown() const { return sets_gate_; }

  // The clock preview. ClockTick(true) is one tick of the timer; ClockTick(false) refreshes the
  // text without counting (done once at creation).
  void ClockTick(bool from_timer);
  const std::string& ClockText() const { return clock_text_; }
  int32_t ElapsedSeconds() const { return elapsed_seconds_; }
  // The time of day in the system's long time format, for a loaded "clock" of 1.
  void SetLocalTimeSource(std::function<std::string()> source) { local_time_ = std::move(source); }

  // OK: copies every control into the settings (hidden rows too). The owner closes the settings
  // afterwards, which writes them. Cancel and the close box copy nothing, so closing the
  // settings writes back the values as loaded.
  void Ok();

 private:
  DialogControl* MutableControl(const std::string& name);
  void BuildGroups();
  void BindControls();
  void SetCaptions();
  void LoadValues();
  void SetTexts();
  void ListSets(const StringArray& set_names);
  void Layout();

  const SettingsList& text_;
  Settings& settings_;
  std::string window_caption_;
  std::vector<DialogControl> fixed_;  // outside the columns
  std::vector<DialogGroup> groups_;
  int left_total_ = 0;
  int right_total_ = 0;

  int32_t background_color_ = 0;
  int32_t color_chooser_color_ = clBlack;
  RadioChoice clock_choice_;
  RadioChoice filename_choice_;
  SpinValue speed_{UserSettingNamed("Speed").min, UserSettingNamed("Speed").max};
  SpinValue nr_images_{UserSettingNamed("nrImages").min, UserSettingNamed("nrImages").max};
  SpinValue set_time_{UserSettingNamed("SetTime").min, UserSettingNamed("SetTime").max};
  Font clock_font_;
  Font filename_font_;

  bool sets_gate_ = false;
  std::vector<SetEntry> sets_;

  int32_t loaded_clock_ = 0;
  int32_t elapsed_seconds_ = 0;
  std::string clock_text_ = "00:00:00";
  std::function<std::string()> local_time_;
};

}  // namespace quenvale

#endif  // QUENVALE_CONFIG_CONFIG_MODEL_H_
