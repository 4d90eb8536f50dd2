// The Linux engine's error box, drawn by GTK: its text comes from fontconfig's fonts, so it shows
// on displays that have no core X fonts at all.
#ifndef QUENVALE_PLATFORM_LINUX_GTK_MESSAGE_BOX_H_
#define QUENVALE_PLATFORM_LINUX_GTK_MESSAGE_BOX_H_

#include <string>

namespace quenvale {

// Shows `message` in a modal box with the error icon and one OK button, titled `title`, above
// every other window, and returns when it is answered (or a stop signal came). Both texts are a
// data file's (UTF-8, or Windows-1252; CR LF line ends). False, with nothing shown, when GTK
// cannot open the display.
bool ShowGtkErrorBox(const std::string& title, const std::string& message);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_GTK_MESSAGE_BOX_H_
