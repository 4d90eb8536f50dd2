// Our fonts and colours as GDI takes them, for the drawing layer's text and the settings dialog.
#ifndef QUENVALE_PLATFORM_WIN32_GDI_FONT_H_
#define QUENVALE_PLATFORM_WIN32_GDI_FONT_H_

#include <windows.h>

#include <cstdint>

#include "common/font.h"

namespace quenvale {

// Font heights and the dialog's layout are given for this many pixels per inch.
constexpr int kUnscaledDpi = 96;

// 96-dpi pixels at `dpi`.
int ScaleForDpi(int pixels, int dpi);

// A colour as GDI takes it: system colours (0xFF0000xx) looked up, clNone and clDefault black.
COLORREF ColorRefOf(int32_t color);

// The GDI font for `font` on a device with `dpi` pixels per inch (kUnscaledDpi keeps the font's
// own height); the face is cut to fit.
LOGFONTA LogFontOf(const Font& font, int dpi);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_GDI_FONT_H_
