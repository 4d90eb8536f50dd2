#include "platform/linux/linux_command_line.h"

#include <set>

namespace quenvale {

namespace {

// Options xscreensaver and its settings tool pass to every hack that this engine has no use
// for; without a value, then with one.
const std::set<std::string>& IgnoredFlags() {
  static const std::set<std::string> flags = {
      "-no-fps", "-install", "-noinstall", "-mono",  "-sync",    "-nosync", "-pair",
      "-dbuf",   "-no-dbuf", "-db",        "-no-db", "-verbose", "-quiet"};
  return flags;
}
const std::set<std::string>& IgnoredOptionsWithValue() {
  static const std::set<std::string> options = {"-visual",     "-geometry",   "-display", "-delay",
                                                "-foreground", "-background", "-bg",      "-fg"};
  return options;
}

}  // namespace

bool ParseWindowId(const std::string& text, uint32_t* id) {
  size_t i = 0;
  uint64_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFull) return false;
  }
  if (value == 0) return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

LinuxCommandLine ParseLinuxCommandLine(const std::vector<std::string>& args,
                                       const char* xscreensaver_window) {
  LinuxCommandLine result;
  std::vector<std::string> rest;
  bool hack_option = false;
  bool window = false;
  bool window_id_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-root" || arg == "--root") {
      result.root = true;
      hack_option = true;
    } else if (arg == "-window" || arg == "--window") {
      window = true;
      hack_option = true;
    } else if (arg == "-window-id" || arg == "--window-id") {
      hack_option = true;
      window_id_given = true;
      if (i + 1 >= args.size() || !ParseWindowId(args[i + 1], &result.window_id)) {
        result.bad_window_id = true;
      }
      if (i + 1 < args.size()) ++i;
    } else if (arg == "-fps" || arg == "--fps") {
      result.report_fps = true;
      hack_option = true;
    } else if (IgnoredFlags().count(arg) != 0) {
      hack_option = true;
    } else if (IgnoredOptionsWithValue().count(arg) != 0) {
      hack_option = true;
      if (i + 1 < args.size()) ++i;
    } else {
      rest.push_back(arg);
    }
  }

  // A variable that names no window is somebody else's leftover, not an order: it is passed over.
  uint32_t xscreensaver_id = 0;
  const bool have_xscreensaver_window =
      xscreensaver_window != nullptr && ParseWindowId(xscreensaver_window, &xscreensaver_id);

  result.command = ParseCommandLine(rest);
  // Started by xscreensaver or as a hack by hand: no switch of its own means saving.
  if (rest.empty() && (hack_option || have_xscreensaver_window)) {
    result.command.mode = SaverMode::smSave;
  }

  if (result.command.mode == SaverMode::smPreview) {
    result.target = SaverTarget::kForeign;
    result.window_id = result.command.parent_window;
    result.ends_on_input = false;
    return result;
  }
  if (result.command.mode != SaverMode::smSave) return result;

  // The window to draw into: -window-id first, then the one xscreensaver names, then the root.
  if (!window_id_given && have_xscreensaver_window) {
    result.window_id = xscreensaver_id;
    window_id_given = true;
  }
  if (window_id_given || result.root) {
    result.target = SaverTarget::kForeign;
    result.ends_on_input = false;
  } else if (window) {
    result.target = SaverTarget::kWindow;
    result.ends_on_input = false;
  }
  return result;
}

}  // namespace quenvale
