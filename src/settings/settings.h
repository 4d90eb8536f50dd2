// The user's choices for one saver: every setting takes its default from the data file's settings
// text, and the settings the data file lets the user change (their "set..." gate is "true") are
// bound to the per-user store, which loads the user's last value over the default and writes the
// value back when the settings are closed.
#ifndef QUENVALE_SETTINGS_SETTINGS_H_
#define QUENVALE_SETTINGS_SETTINGS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "common/font_text.h"
#include "common/strings.h"
#include "datafile/settings_list.h"
#include "settings/registry_settings.h"

namespace quenvale {

class ZipFileSettings;

// The most sprites and motion steps a saver takes: the settings dialog's limits. A data file or a
// stored value may hold more; the saver brings them down to these and says so, because a frame
// of 2^31 motion steps, or a sprite table of 2^31 entries, is beyond any machine.
constexpr int32_t kMaxSprites = 10000;
constexpr int32_t kMaxSpeed = 10000;

class Settings {
 public:
  // Fills every field; throws ConvertError, ObjectTextError, RegistryError or ValueStoreError
  // with the message the user is shown when the settings text or the stored values are unusable.
  Settings(ZipFileSettings& data_file, ValueStore& store);
  // The same from a settings text alone (the data file's title names the key).
  Settings(const SettingsList& defaults, ValueStore& store);
  // Closes unless Close already ran; errors are dropped there, so windows call Close themselves.
  ~Settings();
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  // Refreshes the font texts and the selected-sets text from the live state, then writes every
  // bound setting. Runs once.
  void Close();

  void LoadInteger(int32_t& field, const std::string& key, const std::string& section);
  void LoadBoolean(bool& field, const std::string& key, const std::string& section);
  void LoadString(std::string& field, const std::string& key, const std::string& section);

  // The windows read and write these directly.
  ZipFileSettings* DataFile = nullptr;  // not owned; null when built from a settings text alone
  int32_t BackgroundColor = 0;          // 0x00BBGGRR
  bool BounceImages = false;
  int32_t NrImages = 0;
  int32_t Speed = 0;
  bool FixedSpeed = false;
  bool NoBouncingLogos = false;
  int32_t Clock = 0;     // 0 none, 1 time of day, 2 running time
  int32_t Filename = 0;  // 0 the set's name is shown, 1 it is not
  bool ShowBackground = false;
  bool StretchSmallImages = false;
  int32_t SetTime = 0;  // seconds between set changes; 0 or less: never
  StringArray SelectedSets;
  std::string SelectedSetsText;
  std::string ClockFontText;
  std::string FilenameFontText;
  // Built from the texts above; a saver that gives no font text gets DefaultFontDialog().
  FontDialog ClockFont;
  FontDialog FilenameFont;

  const RegistrySettings& Registry() const { return *registry_; }

 private:
  void Load();
  void LoadOrDiscard();

  const SettingsList& defaults_;
  std::unique_ptr<RegistrySettings> registry_;
  bool closed_ = false;
};

// One setting the user may change: its default's key and section in the settings text (it is
// stored for the user as "<section> <key>", when its "set<key>" gate is true), the Settings field
// it fills, and the settings dialog's control and range for it.
struct UserSetting {
  enum Kind : uint8_t { kInteger, kBoolean, kText };
  const char* key;
  const char* section;
  Kind kind;
  int32_t Settings::*integer = nullptr;  // the field, by kind
  bool Settings::*boolean = nullptr;
  std::string Settings::*text = nullptr;
  int32_t min = 0;  // the dialog's range, for integers shown in a spin box
  int32_t max = 0;
  bool saver_limits = false;  // the saver, too, brings a value above max down to it
  const char* control = nullptr;  // the settings dialog's control that edits it, if one does
};

// Every user setting, once, in the order of the stored values.
extern const UserSetting kUserSettings[13];
// The row of `key` (exact spelling); there is always one for the keys the program names.
const UserSetting& UserSettingNamed(const char* key);

}  // namespace quenvale

#endif  // QUENVALE_SETTINGS_SETTINGS_H_
