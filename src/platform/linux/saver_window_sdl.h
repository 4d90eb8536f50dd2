// The saver's run on Linux, in full screen (/s), in a normal window (-window) or in a window
// somebody else made (/p ID, -window-id ID, -root, XSCREENSAVER_WINDOW): the data file, the
// user's settings in their file, the portable saver, its timers and input, drawn through SDL.
#ifndef QUENVALE_PLATFORM_LINUX_SAVER_WINDOW_SDL_H_
#define QUENVALE_PLATFORM_LINUX_SAVER_WINDOW_SDL_H_

#include "platform/linux/data_file_host_linux.h"
#include "platform/linux/linux_command_line.h"
#include "settings/value_store.h"

namespace quenvale {

// Runs the saver until it ends; returns the process's exit code.
int RunSaverWindow(const LinuxCommandLine& command_line, LinuxDataFileHost& host,
                   ValueStore& store);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_SAVER_WINDOW_SDL_H_
