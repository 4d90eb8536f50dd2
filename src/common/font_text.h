// The object text of the font-chooser dialog.
//
// The user settings keep the clock's and the file name's font as the object text the old
// framework streams a TFontDialog component to, for example (every line ends in CR LF):
//
//   object TFontDialog
//     Font.Charset = DEFAULT_CHARSET
//     Font.Color = clWindowText
//     Font.Height = -11
//     Font.Name = 'MS Sans Serif'
//     Font.Style = []
//   end
//
// TextToComponent reads the whole object-text language (nested objects, collections, lists,
// binary values...), so that any text a user's stored settings may hold is understood, but only
// the TFontDialog class is known. Reading happens in two steps: the text is
// first checked for syntax (errors "<what> on line <n>"), then its properties are applied
// (errors "Error reading <name>.<path>: <what>", "Class <name> not found").
#ifndef QUENVALE_COMMON_FONT_TEXT_H_
#define QUENVALE_COMMON_FONT_TEXT_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/font.h"

namespace quenvale {

// A failure to read object text; the message is exactly what the user is shown.
class ObjectTextError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum FontDialogDevice : uint8_t { fdScreen, fdPrinter, fdBoth };

enum FontDialogOption : uint32_t {
  fdAnsiOnly = 1u << 0,
  fdTrueTypeOnly = 1u << 1,
  fdEffects = 1u << 2,
  fdFixedPitchOnly = 1u << 3,
  fdForceFontExist = 1u << 4,
  fdNoFaceSel = 1u << 5,
  fdNoOEMFonts = 1u << 6,
  fdNoSimulations = 1u << 7,
  fdNoSizeSel = 1u << 8,
  fdNoStyleSel = 1u << 9,
  fdNoVectorFonts = 1u << 10,
  fdShowHelp = 1u << 11,
  fdWysiwyg = 1u << 12,
  fdLimitSize = 1u << 13,
  fdScalableOnly = 1u << 14,
  fdApplyButton = 1u << 15,
};
using FontDialogOptions = uint32_t;

// The streamable state of a font-chooser dialog, members in streaming order; default-constructed
// every property holds its default.
struct FontDialog {
  std::string Name;  // empty when unnamed
  int32_t Tag = 0;
  bool Ctl3D = true;
  int32_t HelpContext = 0;
  quenvale::Font Font;
  FontDialogDevice Device = fdScreen;
  int32_t MinFontSize = 0;
  int32_t MaxFontSize = 0;
  FontDialogOptions Options = fdEffects;
  int32_t Left = 0;  // design-time position
  int32_t Top = 0;
};
bool operator==(const FontDialog& a, const FontDialog& b);
bool operator!=(const FontDialog& a, const FontDialog& b);

// The font a saver gets when its settings give no font text: bold white 24-point Arial
// (Height -32), DEFAULT_CHARSET, every other property at its default.
FontDialog DefaultFontDialog();

// The object text of `dialog`: the header line, one "  path = value" line for every property
// that differs from its default (the font's always, except Font.Pitch at fpDefault), then "end";
// every line ends in CR LF.
std::string ComponentToText(const FontDialog& dialog);

// Reads object text with CR LF or LF line breaks. Throws ObjectTextError.
FontDialog TextToComponent(const std::string& text);

// The framework's colour and character-set names; identifiers compare ignoring ASCII case.
bool ColorToIdent(int32_t color, std::string* ident);
bool IdentToColor(const std::string& ident, int32_t* color);
bool CharsetToIdent(int32_t charset, std::string* ident);
bool IdentToCharset(const std::string& ident, int32_t* charset);

}  // namespace quenvale

#endif  // QUENVALE_COMMON_FONT_TEXT_H_
