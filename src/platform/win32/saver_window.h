// The saver windows of the save (/s) and preview (/p) modes: the data file, the user's settings
// and the portable saver behind a borderless window on every monitor (one in the preview), each
// drawn through DirectDraw by a session of its own, with frames run from the idle state of one
// message loop.
#ifndef QUENVALE_PLATFORM_WIN32_SAVER_WINDOW_H_
#define QUENVALE_PLATFORM_WIN32_SAVER_WINDOW_H_

#include <windows.h>

#include <cstdint>

#include "app/command_line.h"

namespace quenvale {

struct PreviewSize {
  int32_t width;
  int32_t height;
};

// The window's size before it fills its host: the screen scaled by 152 / screen width.
PreviewSize ScaledPreviewSize(int32_t screen_width, int32_t screen_height);

// Runs the window until it closes; returns the process's exit code. A second instance starts up
// as far as the window's creation (so a missing data file is still reported), then ends
// without showing it.
int RunSaverWindow(const CommandLine& command_line, HWND app_window, bool second_instance);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_SAVER_WINDOW_H_
