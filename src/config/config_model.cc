#include "config/config_model.h"

#include "datafile/zip_file_settings.h"
#include "saver/saver.h"
#include "settings/settings.h"

namespace quenvale {

namespace {

constexpr int32_t kNavy = 0x800000;
constexpr int32_t kHotLight = static_cast<int32_t>(0xFF00001Au);  // the system's hot-link colour

struct RowTemplate {
  const char* name;
  int height;
  std::vector<DialogControl> controls;
};

struct GroupTemplate {
  ControlKind kind;
  const char* name;
  const char* caption;
  int column;
  std::vector<RowTemplate> rows;
};

// The two columns top to bottom. Row heights leave room for the tallest control of the row.
// clang-format off
std::vector<GroupTemplate> GroupTemplates() {
  using K = ControlKind;
  return {
      {K::kPanel, "psGeneral", "", 0, {}},
      {K::kGroupBox, "gbGeneral", "General", 0,
       {{"pBackgroundColor", 33,
         {{K::kButton, "btnSetBackgroundColor", "Set background &Color"},
          {K::kColorSwatch, "pBackColor", ""}}},
        {"pShowBackground", 24, {{K::kCheckBox, "cbShowBackground", "Show &Background"}}}}},
      {K::kGroupBox, "gbFilenameSettings", "Filename Settings", 0,
       {{"pFilename", 64,
         {{K::kRadioGroup, "rgFilenameSettings", ""},
          {K::kButton, "btnSetFilenameFont", "Set Filename &Font"}}},
        {"pFilenameFont", 42,
         {{K::kLabel, "lFilenameShadow", "Filename example"},
          {K::kLabel, "lFilename", "Filename example"}}}}},
      {K::kGroupBox, "gbClockSettings", "Clock Settings", 0,
       {{"pClock", 80,
         {{K::kRadioGroup, "rgClockSettings", ""},
          {K::kButton, "btnSetClockFont", "Set Clock &Font"}}},
        {"pClockFont", 42,
         {{K::kLabel, "lClockShadow", "00:00:00"}, {K::kLabel, "lClock", "00:00:00"}}}}},
      {K::kPanel, "psBounce", "", 0, {}},
      {K::kGroupBox, "gbBounce", "Bounce", 0,
       {{"pSpeed", 30,
         {{K::kLabel, "lBounceSpeed", "Bounce speed:"}, {K::kSpinEdit, "seSpeed", ""}}},
        {"pFixedSpeed", 22, {{K::kCheckBox, "cbFixedSpeed", "Randomized Speed"}}},
        {"pNrImages", 30,
         {{K::kLabel, "lSpeed", "Number of images:"}, {K::kSpinEdit, "spNrImages", ""}}},
        {"pBounceImages", 22, {{K::kCheckBox, "cbBounce", "Bounce images"}}}}},
      {K::kPanel, "pGeneral", "", 1,
       {{"lMoreInfo", 44, {{K::kLabel, "lMoreInfo", ""}}},
        {"lMoreInfoURL", 30, {{K::kLinkLabel, "lMoreInfoURL", ""}}},
        {"lShortcutkeys", 120, {{K::kLabel, "lShortcutkeys", ""}}}}},
      {K::kGroupBox, "gbSets", "Sets", 1,
       {{"pSetTime", 30,
         {{K::kLabel, "lChangeSetsAfter", "Change set after "},
          {K::kSpinEdit, "seSetTime", ""},
          {K::kLabel, "lSeconds", "seconds"}}},
        {"clbSets", 56, {{K::kCheckList, "clbSets", ""}}}}},
  };
}
// clang-format on

// Controls whose caption the "language" section may replace, and their keys.
const struct {
  const char* control;
  const char* key;
} kLanguageCaptions[] = {
    {"gbGeneral", "general"},
    {"btnSetBackgroundColor", "setBackgroundColor"},
    {"cbShowBackground", "showBackground"},
    {"gbBounce", "bounce"},
    {"lBounceSpeed", "bounceSpeed"},
    {"lSpeed", "numberOfImages"},
    {"cbFixedSpeed", "bounceFixedSpeed"},
    {"cbBounce", "bounceImages"},
    {"gbClockSettings", "clockSettings"},
    {"btnSetClockFont", "setClockFont"},
    {"gbFilenameSettings", "FilenameSettings"},
    {"btnSetFilenameFont", "setFilenameFont"},
    {"gbSets", "sets"},
    {"lChangeSetsAfter", "changeSetAfter"},
    {"lSeconds", "seconds"},
    {"btnOk", "ok"},
    {"btnCancel", "cancel"},
};

// Labels filled from "general" as they stand.
// clang-format off
const struct {
  const char* control;
  const char* key;
} kGeneralTexts[] = {
    {"lTitle", "title"},           {"lVersion", "version"},
    {"lMoreInfoURL", "moreInfoDisplayURL"}, {"lDisclaimer", "disclaimer"},
    {"lMoreInfo", "moreInfo"},     {"lCopyrightURL", "copyrighturl"},
    {"lCopyright", "copyright"},
};
// clang-format on

const struct {
  const char* control;
  const char* key;
} kLinks[] = {
    {"lTitle", "url"},
    {"lMoreInfoURL", "moreInfoTargetURL"},
    {"lCopyrightURL", "copyrightTargetURL"},
};

// The sets list keeps its entries sorted as the user reads them: ignoring case first.
bool ListsBefore(const std::string& a, const std::string& b) {
  const std::string la = LowerCase(a), lb = LowerCase(b);
  return la != lb ? la < lb : a < b;
}

}  // namespace

void SpinValue::Set(int32_t value) { value_ = std::min(std::max(value, min_), max_); }

void SpinValue::SetText(const std::string& text) {
  int32_t value = 0;
  Set(TryStrToInt(text, &value) ? value : min_);
}

void RadioChoice::SetItems(StringArray items) {
  items_ = std::move(items);
  Select(index_);
}

void RadioChoice::Select(int32_t index) {
  const int32_t last = static_cast<int32_t>(items_.size()) - 1;
  index_ = std::max<int32_t>(-1, std::min(index, last));
}

std::string StripNamePrefix(const std::string& name) {
  size_t i = 0;
  while (i < name.size() &&
         ((name[i] >= 'a' && name[i] <= 'z') || name[i] == '0' || name[i] == '1')) {
    ++i;
  }
  return name.substr(i);
}

StringArray CaptionLines(const std::string& text) {
  StringArray lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

void FitLabelFont(Font* font, const std::string& text, int width,
                  const std::function<int(const std::string&, const Font&)>& measure) {
  font->Name = "Helvetica";
  while (measure(text, *font) > width && font->Size() > 5) font->SetSize(font->Size() - 1);
}

StringArray ListedSetNames(ZipFileSettings& data_file) {
  StringArray names;
  for (size_t i = 0; i < data_file.Sets().size(); ++i) {
    data_file.SelectSet(static_cast<int>(i));
    if (const ImageSet* set = data_file.CurrentSet()) names.push_back(set->Name);
  }
  return names;
}

ConfigModel::ConfigModel(const SettingsList& text, const StringArray& set_names, Settings& settings)
    : text_(text), settings_(settings), local_time_(LocalTimeText) {
  BuildGroups();
  SetCaptions();
  LoadValues();
  SetTexts();
  ListSets(set_names);
  Layout();
  ClockTick(false);
}

void ConfigModel::BuildGroups() {
  using K = ControlKind;
  fixed_ = {{K::kLinkLabel, "lTitle", ""},        {K::kLabel, "lVersion", ""},
            {K::kLabel, "lDisclaimer", ""},       {K::kButton, "btnOk", "&Ok"},
            {K::kButton, "btnCancel", "&Cancel"}, {K::kLinkLabel, "lCopyrightURL", ""},
            {K::kLabel, "lCopyright", ""}};
  for (const GroupTemplate& t : GroupTemplates()) {
    DialogGroup group;
    group.control = {t.kind, t.name, t.caption};
    group.column = t.column;
    for (const RowTemplate& r : t.rows) {
      DialogRow row;
      row.name = r.name;
      row.height = r.height;
      row.controls = r.controls;
      group.rows.push_back(std::move(row));
    }
    groups_.push_back(std::move(group));
  }
  clock_choice_.SetItems({"No clock", "Current time", "Screensaver running time"});
  clock_choice_.Select(0);
  filename_choice_.SetItems({"Show filename", "Do not show filename"});
  filename_choice_.Select(0);
  bounce_images = true;
  fixed_speed = true;
  BindControls();
}

void ConfigModel::BindControls() {
  MutableControl("cbShowBackground")->flag = &show_background;
  MutableControl("cbFixedSpeed")->flag = &fixed_speed;
  MutableControl("cbBounce")->flag = &bounce_images;
  MutableControl("seSpeed")->spin = &speed_;
  MutableControl("spNrImages")->spin = &nr_images_;
  MutableControl("seSetTime")->spin = &set_time_;
  MutableControl("rgClockSettings")->choice = &clock_choice_;
  MutableControl("rgFilenameSettings")->choice = &filename_choice_;
  MutableControl("btnOk")->action = ControlAction::kOk;
  MutableControl("btnCancel")->action = ControlAction::kCancel;
  MutableControl("btnSetBackgroundColor")->action = ControlAction::kChooseColor;
  for (const char* name : {"btnSetClockFont", "btnSetFilenameFont"}) {
    MutableControl(name)->action = ControlAction::kChooseFont;
  }
  for (const char* name : {"btnSetClockFont", "lClockShadow", "lClock"}) {
    MutableControl(name)->font = PreviewFont::kClock;
  }
  for (const char* name : {"btnSetFilenameFont", "lFilenameShadow", "lFilename"}) {
    MutableControl(name)->font = PreviewFont::kFilename;
  }
  MutableControl("lShortcutkeys")->left_aligned = true;
}

void ConfigModel::SetCaptions() {
  window_caption_ = text_.GetValueDef("Configure", "configure", "language") + " " +
                    text_.GetValue("title", "general");
  for (const auto& entry : kLanguageCaptions) {
    DialogControl* control = MutableControl(entry.control);
    control->caption = text_.GetValueDef(control->caption, entry.key, "language");
  }
  for (auto [choice, key] : {std::make_pair(&clock_choice_, "clockSettingsOptions"),
                             std::make_pair(&filename_choice_, "FilenameSettingsOptions")}) {
    const std::string items =
        text_.GetValueDef(JoinStrings("\r\n", choice->items()), key, "language");
    choice->SetItems(CaptionLines(ReplaceAll(items, ";", "\r\n")));
  }
}

void ConfigModel::LoadValues() {
  // The settings a control edits, through the control; the colour and the fonts are the
  // model's own.
  for (const UserSetting& setting : kUserSettings) {
    if (setting.control == nullptr) continue;
    DialogControl& control = *MutableControl(setting.control);
    if (control.flag != nullptr) *control.flag = settings_.*setting.boolean;
    if (control.spin != nullptr) control.spin->Set(settings_.*setting.integer);
    if (control.choice != nullptr) control.choice->Select(settings_.*setting.integer);
  }
  loaded_clock_ = settings_.Clock;
  background_color_ = settings_.BackgroundColor;
  clock_font_ = settings_.ClockFont.Font;
  filename_font_ = settings_.FilenameFont.Font;
}

void ConfigModel::SetTexts() {
  for (const auto& entry : kGeneralTexts) {
    MutableControl(entry.control)->caption = text_.GetValue(entry.key, "general");
  }
  // The help starts on the label's second line.
  MutableControl("lShortcutkeys")->caption =
      "\r\n" + ReplaceAll(text_.GetValue("shortcutkeys", "general"), ";", "\r\n");
}

void ConfigModel::ListSets(const StringArray& set_names) {
  const int32_t select = text_.GetInteger("select", "sets");
  sets_gate_ = text_.GetBool("setSets", "sets");
  if (!sets_gate_) return;
  const StringArray& selected = settings_.SelectedSets;
  for (const std::string& name : set_names) {
    SetEntry entry{name, false};
    if (select == -1 && !selected.empty()) {
      entry.ticked = InStringArray(selected, name) || selected[0] == "*all*";
    } else if (select == 1) {
      entry.ticked = true;
    }
    auto at = std::upper_bound(
        sets_.begin(), sets_.end(), entry,
        [](const SetEntry& a, const SetEntry& b) { return ListsBefore(a.name, b.name); });
    sets_.insert(at, std::move(entry));
  }
}

void ConfigModel::LayoutGroup(DialogGroup* group) const {
  group->height = 0;
  const std::string section = StripNamePrefix(group->control.name);
  for (DialogRow& row : group->rows) {
    row.visible = text_.GetBool("set" + StripNamePrefix(row.name), section);
    if (!row.visible) continue;
    row.top = kGroupRowsTop + group->height;
    group->height += row.height;
  }
  group->visible = group->height != 0;
  if (group->visible) group->height += kGroupFrame;
}

void ConfigModel::Layout() {
  left_total_ = 0;
  right_total_ = 0;
  for (DialogGroup& group : groups_) {
    LayoutGroup(&group);
    int& total = group.column == 0 ? left_total_ : right_total_;
    const int column_left = group.column == 0 ? 0 : kClientWidth - kRightColumnWidth;
    const int column_width =
        group.column == 0 ? kClientWidth - kRightColumnWidth : kRightColumnWidth;
    group.left = column_left + kColumnBorder;
    group.width = column_width - 2 * kColumnBorder;
    group.top = ColumnsTop() + kColumnBorder + total;
    total += group.height + (group.visible ? kGroupGap : 0);
  }
}

int ConfigModel::ClientHeight() const {
  return kTitleHeight + kDisclaimerHeight + std::max(left_total_, right_total_) + kButtonsHeight +
         kCopyrightUrlHeight + kCopyrightHeight;
}

DialogControl* ConfigModel::MutableControl(const std::string& name) {
  for (DialogControl& control : fixed_) {
    if (control.name == name) return &control;
  }
  for (DialogGroup& group : groups_) {
    if (group.control.name == name) return &group.control;
  }
  for (DialogGroup& group : groups_) {
    for (DialogRow& row : group.rows) {
      for (DialogControl& control : row.controls) {
        if (control.name == name) return &control;
      }
    }
  }
  return nullptr;
}

const DialogControl* ConfigModel::FindControl(const std::string& name) const {
  return const_cast<ConfigModel*>(this)->MutableControl(name);
}

std::string ConfigModel::Caption(const std::string& name) const {
  const DialogControl* control = FindControl(name);
  return control ? control->caption : std::string();
}

const DialogGroup* ConfigModel::FindGroup(const std::string& name) const {
  for (const DialogGroup& group : groups_) {
    if (group.control.name == name) return &group;
  }
  return nullptr;
}

std::string ConfigModel::LinkFor(const std::string& label_name) const {
  for (const auto& link : kLinks) {
    if (label_name == link.control) return LinkAddress(text_.GetValue(link.key, "general"));
  }
  return std::string();
}

Font ConfigModel::TitleFont() {
  Font font;
  font.Height = -33;
  font.Style = fsBold;
  font.Color = kNavy;
  return font;
}

Font ConfigModel::LinkFont(const std::string& label_name) {
  Font font;
  font.Name = "Arial";
  font.Height = label_name == "lCopyrightURL" ? -40 : -21;
  font.Style = fsBold | fsUnderline;
  font.Color = kHotLight;
  return font;
}

Font ConfigModel::ShadowFont(Font font) {
  font.Color = clBlack;
  return font;
}

void ConfigModel::ChooseBackgroundColor(int32_t color) {
  color_chooser_color_ = color;
  background_color_ = color;
}

void ConfigModel::SetTicked(size_t index, bool ticked) {
  if (index < sets_.size()) sets_[index].ticked = ticked;
}

void ConfigModel::ClockTick(bool from_timer) {
  if (from_timer) {
    elapsed_seconds_ = static_cast<int32_t>(static_cast<uint32_t>(elapsed_seconds_) + 1u);
  }
  // The preview follows the clock as loaded; a new choice shows after OK, on the next opening.
  if (loaded_clock_ <= 0) return;
  if (loaded_clock_ == 1) {
    clock_text_ = local_time_ ? local_time_() : std::string();
  } else {
    clock_text_ = RunningTimeText(static_cast<uint32_t>(elapsed_seconds_));
  }
  MutableControl("lClockShadow")->caption = clock_text_;
  MutableControl("lClock")->caption = clock_text_;
}

void ConfigModel::Ok() {
  for (const UserSetting& setting : kUserSettings) {
    if (setting.control == nullptr) continue;
    const DialogControl& control = *FindControl(setting.control);
    if (control.flag != nullptr) settings_.*setting.boolean = *control.flag;
    if (control.spin != nullptr) settings_.*setting.integer = control.spin->value();
    if (control.choice != nullptr) settings_.*setting.integer = control.choice->index();
  }
  settings_.BackgroundColor = background_color_;
  settings_.ClockFont.Font = clock_font_;
  settings_.FilenameFont.Font = filename_font_;
  if (!sets_gate_) return;
  StringArray ticked;
  for (const SetEntry& entry : sets_) {
    if (entry.ticked) ticked.push_back(entry.name);
  }
  if (ticked.empty() && !sets_.empty()) ticked.push_back(sets_.front().name);
  // With no sets to list there is nothing to choose from; the user's selection stays.
  if (!ticked.empty()) settings_.SelectedSets = ticked;
}

}  // namespace quenvale
