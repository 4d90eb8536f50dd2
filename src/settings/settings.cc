#include "settings/settings.h"

#include <cstdio>

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
  // This order is the order of the stored values.
  LoadInteger(Clock, "clock", "clocksettings");
  LoadInteger(BackgroundColor, "BackgroundColor", "General");
  LoadBoolean(BounceImages, "bounceImages", "bounce");
  LoadInteger(NrImages, "nrImages", "bounce");
  LoadInteger(Speed, "Speed", "bounce");
  LoadBoolean(FixedSpeed, "fixedSpeed", "bounce");
  LoadBoolean(ShowBackground, "showBackground", "General");
  LoadString(SelectedSetsText, "selectedSets", "sets");
  LoadString(ClockFontText, "clockFont", "ClockSettings");
  LoadInteger(SetTime, "SetTime", "sets");
  LoadInteger(Filename, "filename", "FilenameSettings");
  LoadString(FilenameFontText, "filenameFont", "FilenameSettings");
  LoadBoolean(StretchSmallImages, "stretchSmallImages", "backgrounds");

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
