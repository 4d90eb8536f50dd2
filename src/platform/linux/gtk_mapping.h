// Conversions between the core's dialog values and GTK's: "&" captions and GTK mnemonics, the
// 8-bit texts of a data file and UTF-8, fonts and Pango descriptions, 0x00BBGGRR colours and
// GdkRGBA. None of them needs a display.
#ifndef QUENVALE_PLATFORM_LINUX_GTK_MAPPING_H_
#define QUENVALE_PLATFORM_LINUX_GTK_MAPPING_H_

#include <gdk/gdk.h>
#include <pango/pango.h>

#include <cstdint>
#include <string>

#include "common/font.h"

namespace quenvale {

// A data file's text as UTF-8: text that already is UTF-8 stays as it is, anything else is read
// as Windows-1252. CR LF and lone CRs become LF.
std::string DialogText(const std::string& text);

// A caption with "&" access keys as a GTK mnemonic label: "&x" becomes "_x", "&&" a literal
// "&", "_" a literal "_" ("__"); a trailing lone "&" marks nothing and is dropped.
std::string MnemonicLabel(const std::string& caption);

// The caption as it reads, for places that show no access key (window titles, group boxes):
// "&x" becomes "x" and "&&" "&".
std::string PlainCaption(const std::string& caption);

// A colour 0x00BBGGRR, or a system colour 0xFF0000xx (the usual Windows defaults), as GdkRGBA.
GdkRGBA ColorToRgba(int32_t color);
// Back to 0x00BBGGRR, each channel rounded to the nearest of 0..255.
int32_t RgbaToColor(const GdkRGBA& rgba);

// A new Pango description of `font`: family, size in points, bold and italic. Free it with
// pango_font_description_free.
PangoFontDescription* FontToPango(const Font& font);
// `base` with the face, size, bold and italic of `description`; the colour, character set,
// underline and strike-out (which the font chooser does not offer) stay as in `base`.
Font FontFromPango(const PangoFontDescription* description, const Font& base);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_GTK_MAPPING_H_
