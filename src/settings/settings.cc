#include "settings/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datafile/zip_file_settings.h"

namespace quenvale {

namespace {

// The settings text is line-based, so a font text written there uses ";" for its line breaks;
// text from the store already has real ones.
FontDialog FontFromText(std::string& text) {
  text = ReplaceAll(text, ";", "\r\n");
  return text.empty() ? DefaultFontDialog() : TextToComponent(text);
}

}  // namespace

// The sections are spelt as the settings texts spell them, which the stored names repeat.
const UserSetting kUserSettings[13] = {
    {"clock", "clocksettings", UserSetting::kInteger, &Settings::Clock, nullptr, nullptr, 0, 0,
     false, "rgClockSettings"},
    {"BackgroundColor", "General", UserSetting::kInteger, &Settings::BackgroundColor},
    {"bounceImages", "bounce", UserSetting::kBoolean, nullptr, &Settings::BounceImages, nullptr, 0,
     0, false, "cbBounce"},
    {"nrImages", "bounce", UserSetting::kInteger, &Settings::NrImages, nullptr, nullptr, 1,
     kMaxSprites, true, "spNrImages"},
    {"Speed", "bounce", UserSetting::kInteger, &Settings::Speed, nullptr, nullptr, 1, kMaxSpeed,
     true, "seSpeed"},
    {"fixedSpeed", "bounce", UserSetting::kBoolean, nullptr, &Settings::FixedSpeed, nullptr, 0, 0,
     false, "cbFixedSpeed"},
    {"showBackground", "General", UserSetting::kBoolean, nullptr, &Settings::ShowBackground,
     nullptr, 0, 0, false, "cbShowBackground"},
    {"selectedSets", "sets", UserSetting::kText, nullptr, nullptr, &Settings::SelectedSetsText},
    {"clockFont", "ClockSettings", UserSetting::kText, nullptr, nullptr, &Settings::ClockFontText},
    {"SetTime", "sets", UserSetting::kInteger, &Settings::SetTime, nullptr, nullptr, 0, 86400,
     false, "seSetTime"},
    {"filename", "FilenameSettings", UserSetting::kInteger, &Settings::Filename, nullptr, nullptr,
     0, 0, false, "rgFilenameSettings"},
    {"filenameFont", "FilenameSettings", UserSetting::kText, nullptr, nullptr,
     &Settings::FilenameFontText},
    {"stretchSmallImages", "backgrounds", UserSetting::kBoolean, nullptr,
     &Settings::StretchSmallImages},
};

const UserSetting& UserSettingNamed(const char* key) {
  for (const UserSetting& setting : kUserSettings) {
    if (std::strcmp(setting.key, key) == 0) return setting;
  }
  std::abort();  // a key the program names that the table lacks
}

Settings::Settings(ZipFileSettings& data_file, ValueStore& store)
    : DataFile(&data_file), defaults_(data_file.Settings()) {
  registry_ = std::make_unique<RegistrySettings>(store, defaults_.GetValue("title", "general"));
  LoadOrDiscard();
}

Settings::Settings(const SettingsList& defaults, ValueStore& store) : defaults_(defaults) {
  registry_ = std::make_unique<RegistrySettings>(store, defaults_.GetValue("title", "general"));
  LoadOrDiscard();
}

void Settings::LoadOrDiscard() {
  try {
    Load();
  } catch (...) {
    registry_->Discard();
    throw;
  }
}

void Settings::Load() {
  NoBouncingLogos = StrToBool(defaults_.GetValueDef("false", "noBouncingLogos", "bounce"));
  for (const UserSetting& setting : kUserSettings) {
    switch (setting.kind) {
      case UserSetting::kInteger:
        LoadInteger(this->*setting.integer, setting.key, setting.section);
        break;
      case UserSetting::kBoolean:
        LoadBoolean(this->*setting.boolean, setting.key, setting.section);
        break;
      case UserSetting::kText:
        LoadString(this->*setting.text, setting.key, setting.section);
        break;
    }
  }

  ClockFont = FontFromText(ClockFontText);
  FilenameFont = FontFromText(FilenameFontText);
  SelectedSets = SplitString(";", SelectedSetsText);
}

Settings::~Settings() {
  try {
    Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "settings were not saved: %s\n", e.what());
  }
}

void Settings::Close() {
  if (closed_) return;
  closed_ = true;
  // The texts must be current before the store writes them.
  ClockFontText = ComponentToText(ClockFont);
  FilenameFontText = ComponentToText(FilenameFont);
  SelectedSetsText = JoinStrings(";", SelectedSets);
  registry_->Close();
}

void Settings::LoadInteger(int32_t& field, const std::string& key, const std::string& section) {
  field = defaults_.GetInteger(key, section);
  if (defaults_.GetBool("set" + key, section)) {
    registry_->AddInteger(field, section + " " + key, field);
  }
}

void Settings::LoadBoolean(bool& field, const std::string& key, const std::string& section) {
  field = LowerCase(defaults_.GetValue(key, section)) == "true";
  if (defaults_.GetBool("set" + key, section)) {
    registry_->AddBoolean(field, section + " " + key, field);
  }
}

void Settings::LoadString(std::string& field, const std::string& key, const std::string& section) {
  field = defaults_.GetValue(key, section);
  if (defaults_.GetBool("set" + key, section)) {
    registry_->AddString(field, section + " " + key, field);
  }
}

}  // namespace quenvale
