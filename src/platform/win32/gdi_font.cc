#include "platform/win32/gdi_font.h"

#include <cstring>

namespace quenvale {

int ScaleForDpi(int pixels, int dpi) {
  return dpi > 0 ? MulDiv(pixels, dpi, kUnscaledDpi) : pixels;
}

COLORREF ColorRefOf(int32_t color) {
  const uint32_t value = static_cast<uint32_t>(color);
  if ((value & 0xFF000000u) == 0xFF000000u) return GetSysColor(static_cast<int>(value & 0xFF));
  if (color == clNone || color == clDefault) return RGB(0, 0, 0);
  return static_cast<COLORREF>(value & 0xFFFFFFu);
}

LOGFONTA LogFontOf(const Font& font, int dpi) {
  LOGFONTA log_font{};
  log_font.lfHeight = ScaleForDpi(font.Height, dpi);
  log_font.lfWeight = (font.Style & fsBold) != 0 ? FW_BOLD : FW_NORMAL;
  log_font.lfItalic = (font.Style & fsItalic) != 0 ? TRUE : FALSE;
  log_font.lfUnderline = (font.Style & fsUnderline) != 0 ? TRUE : FALSE;
  log_font.lfStrikeOut = (font.Style & fsStrikeOut) != 0 ? TRUE : FALSE;
  log_font.lfCharSet = static_cast<BYTE>(font.Charset);
  log_font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  log_font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  log_font.lfQuality = DEFAULT_QUALITY;
  log_font.lfPitchAndFamily = font.Pitch == fpFixed      ? FIXED_PITCH
                              : font.Pitch == fpVariable ? VARIABLE_PITCH
                                                         : DEFAULT_PITCH;
  std::strncpy(log_font.lfFaceName, font.Name.c_str(), LF_FACESIZE - 1);
  log_font.lfFaceName[LF_FACESIZE - 1] = '\0';
  return log_font;
}

}  // namespace quenvale
