// The Linux engine's command line: the Windows switches (/s, /p ID, /c, /a) as ParseCommandLine
// reads them, plus the conventions of xscreensaver hacks: -root, -window-id ID, -window and the
// XSCREENSAVER_WINDOW variable. The hack options are taken out first, so that what is left reads
// exactly as on Windows.
#ifndef QUENVALE_PLATFORM_LINUX_LINUX_COMMAND_LINE_H_
#define QUENVALE_PLATFORM_LINUX_LINUX_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace quenvale {

// Where the saver draws.
enum class SaverTarget {
  kFullScreen,  // a window of its own over the whole screen (/s)
  kWindow,      // a normal, resizable window (-window)
  kForeign,     // a window someone else made: the preview host's, or xscreensaver's
};

struct LinuxCommandLine {
  CommandLine command;
  SaverTarget target = SaverTarget::kFullScreen;
  // The X window to draw into for kForeign; 0 with -root means the screen's root window.
  uint32_t window_id = 0;
  bool root = false;
  // The saver ends on keys, clicks and mouse movement. Not when xscreensaver runs it (it owns
  // the input and ends its hacks itself), nor in a normal window.
  bool ends_on_input = true;
  // -fps: the frame rate on standard error once a second (xscreensaver draws it on the screen).
  bool report_fps = false;
  // -window-id came without a usable window id: nothing to draw into.
  bool bad_window_id = false;
};

// An X window id: decimal, or hexadecimal after 0x or 0X. False for anything else, for 0 and
// for values beyond 32 bits.
bool ParseWindowId(const std::string& text, uint32_t* id);

// `args` are the arguments after the program name; `xscreensaver_window` is the value of
// XSCREENSAVER_WINDOW, or null when it is not set.
LinuxCommandLine ParseLinuxCommandLine(const std::vector<std::string>& args,
                                       const char* xscreensaver_window);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_LINUX_COMMAND_LINE_H_
