#include "platform/linux/gtk_mapping.h"

#include <cmath>

#include "common/strings.h"

namespace quenvale {

namespace {

// The colours Windows gives its system colour indexes by default.
int32_t SystemColor(int index) {
  switch (index) {
    case 5:   // window
    case 14:  // highlighted text
      return 0xFFFFFF;
    case 13:  // highlight
      return 0xD77800;
    case 15:  // button face
      return 0xF0F0F0;
    case 16:  // button shadow
      return 0xA0A0A0;
    case 17:  // grey text
      return 0x6D6D6D;
    case 26:  // hot-tracked link
      return 0xCC6600;
    default:  // window text, button text and the rest
      return 0x000000;
  }
}

uint8_t Channel(double value) {
  const double scaled = std::round(value * 255.0);
  return static_cast<uint8_t>(scaled < 0 ? 0 : scaled > 255 ? 255 : scaled);
}

}  // namespace

std::string DialogText(const std::string& text) {
  std::string utf8;
  if (IsUtf8(text)) {
    utf8 = text;
  } else {
    for (unsigned char c : text) {
      // The code page's undefined bytes show as a question mark, not as a control character.
      uint32_t code_point = Cp1252CodePoint(c);
      if (code_point >= 0x80 && code_point < 0xA0) code_point = '?';
      AppendUtf8(code_point, &utf8);
    }
  }
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] != '\r') {
      out.push_back(utf8[i]);
    } else if (i + 1 >= utf8.size() || utf8[i + 1] != '\n') {
      out.push_back('\n');
    }
  }
  return out;
}

std::string MnemonicLabel(const std::string& caption) {
  const std::string text = DialogText(caption);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += "__";
    } else if (text[i] != '&') {
      out.push_back(text[i]);
    } else if (i + 1 < text.size()) {
      ++i;
      if (text[i] == '&') {
        out.push_back('&');
      } else if (text[i] == '_') {
        out += "__";  // GTK cannot make "_" an access key: it stays a plain character
      } else {
        out.push_back('_');
        out.push_back(text[i]);
      }
    }
  }
  return out;
}

std::string PlainCaption(const std::string& caption) {
  const std::string text = DialogText(caption);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out.push_back(text[i]);
    } else if (i + 1 < text.size()) {
      out.push_back(text[++i]);
    }
  }
  return out;
}

GdkRGBA ColorToRgba(int32_t color) {
  const uint32_t value = static_cast<uint32_t>(color);
  const uint32_t rgb = (value & 0xFF000000u) == 0xFF000000u
                           ? static_cast<uint32_t>(SystemColor(static_cast<int>(value & 0xFF)))
                           : value;
  GdkRGBA rgba;
  rgba.red = (rgb & 0xFF) / 255.0;
  rgba.green = ((rgb >> 8) & 0xFF) / 255.0;
  rgba.blue = ((rgb >> 16) & 0xFF) / 255.0;
  rgba.alpha = 1.0;
  return rgba;
}

int32_t RgbaToColor(const GdkRGBA& rgba) {
  return static_cast<int32_t>(Channel(rgba.red) | (Channel(rgba.green) << 8) |
                              (Channel(rgba.blue) << 16));
}

PangoFontDescription* FontToPango(const Font& font) {
  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, DialogText(font.Name).c_str());
  const int32_t points = font.Size();
  pango_font_description_set_size(description, (points > 0 ? points : 1) * PANGO_SCALE);
  pango_font_description_set_weight(
      description, (font.Style & fsBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(
      description, (font.Style & fsItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  return description;
}

Font FontFromPango(const PangoFontDescription* description, const Font& base) {
  Font font = base;
  const PangoFontMask mask = pango_font_description_get_set_fields(description);
  if ((mask & PANGO_FONT_MASK_FAMILY) && pango_font_description_get_family(description)) {
    font.Name = pango_font_description_get_family(description);
  }
  if (mask & PANGO_FONT_MASK_SIZE) {
    const int size = pango_font_description_get_size(description);
    const int rounded = (size + PANGO_SCALE / 2) / PANGO_SCALE;
    if (pango_font_description_get_size_is_absolute(description)) {
      font.Height = -(rounded > 0 ? rounded : 1);  // pixels
    } else {
      font.SetSize(rounded > 0 ? rounded : 1);
    }
  }
  FontStyles style = base.Style & (fsUnderline | fsStrikeOut);
  if (pango_font_description_get_weight(description) >= PANGO_WEIGHT_SEMIBOLD) style |= fsBold;
  if (pango_font_description_get_style(description) != PANGO_STYLE_NORMAL) style |= fsItalic;
  font.Style = style;
  return font;
}

}  // namespace quenvale
