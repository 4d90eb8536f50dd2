// The configuration dialog of the /c mode (and of a start without arguments) with native
// controls: it draws what ConfigModel holds and hands the user's input back to it. OK copies the
// controls into the settings; either way the settings are written when the dialog goes.
#ifndef QUENVALE_PLATFORM_WIN32_CONFIG_DIALOG_H_
#define QUENVALE_PLATFORM_WIN32_CONFIG_DIALOG_H_

#include <windows.h>

#include <cstdint>

#include "app/command_line.h"
#include "common/font.h"
#include "platform/win32/gdi_font.h"

namespace quenvale {

// What the font chooser returned, as a font: `log_font` on a device of `dpi` pixels per inch
// and the chosen colour. The colour keeps `before`'s own value (a system colour, say) when the
// user left it as it was shown, and the pitch always stays `before`'s.
Font FontOfLogFont(const LOGFONTA& log_font, COLORREF color, int dpi, const Font& before);

// The window that gets the focus back when the dialog goes: the parent of the host's window,
// or the host's window itself when it has none. Null for a null host.
HWND WindowToRestore(HWND host);

// A window of `width` x `height` centred in `area`; one larger than the area starts at its
// top-left corner.
RECT CenteredIn(const RECT& area, int width, int height);

// Runs the dialog until it closes; returns the process's exit code. A data-file error ends the
// process through the same host as the saver window. A second instance reads the data file and
// the settings as the dialog would, then ends without showing it.
int RunConfigDialog(const CommandLine& command_line, HWND app_window, bool second_instance);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_CONFIG_DIALOG_H_
