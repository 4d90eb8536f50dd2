// Runs the saver settings over the registry for settings_reg_query_test.sh:
//   settings_probe TITLE SETTINGS_FILE [bump]
// Loads the settings text with its title replaced by TITLE, prints the loaded "nrImages" and
// "bounceImages", adds one picture when asked (as the numpad + key does) and closes, which
// stores every gated setting under HKEY_CURRENT_USER\Software\TITLE.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/win32/registry_value_store.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: settings_probe TITLE SETTINGS_FILE [bump]\n");
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && text.empty()) {
    std::fprintf(stderr, "settings_probe: cannot read %s\n", argv[2]);
    return 2;
  }
  try {
    quenvale::SettingsList list;
    quenvale::ParseSettingsText(text, &list);
    list.SetValue("title", argv[1], "general");
    quenvale::RegistryValueStore store;
    quenvale::Settings settings(list, store);
    std::printf("nrImages=%d bounceImages=%d\n", settings.NrImages, settings.BounceImages ? 1 : 0);
    if (argc == 4) ++settings.NrImages;
    settings.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "settings_probe: %s\n", e.what());
    return 1;
  }
  return 0;
}
