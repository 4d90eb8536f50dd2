// Feeds arbitrary bytes to the settings-text parser and the checks that saverpack runs on it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/strings.h"
#include "datafile/settings_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  quenvale::SettingsList list;
  quenvale::ParseSettingsText(text, &list);
  for (const quenvale::SettingsEntry& entry : list.Entries()) {
    // Every stored entry must be found again under its own key and section.
    if (list.IndexOf(entry.Key, entry.Section) < 0) __builtin_trap();
    list.GetBool(entry.Key, entry.Section);
    int32_t number;
    quenvale::TryStrToInt(entry.Value, &number);
    quenvale::SplitString(";", entry.Value);
  }
  quenvale::InspectSettingsText(text);
  return 0;
}
