#include <windows.h>

#include <string>

#include "common/ansi_text.h"

namespace quenvale {
namespace {

// Through UTF-16 from one code page to the user's ANSI one, as Windows converts (characters the
// ANSI page lacks get its best fit, else "?").
std::string ToAnsi(UINT from, const std::string& text) {
  if (text.empty()) return text;
  const int size = static_cast<int>(text.size());
  const int wide_size = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
  if (wide_size <= 0) return text;
  std::wstring wide(static_cast<size_t>(wide_size), L'\0');
  MultiByteToWideChar(from, 0, text.data(), size, &wide[0], wide_size);
  const int ansi_size =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (ansi_size <= 0) return text;
  std::string ansi(static_cast<size_t>(ansi_size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_size, &ansi[0], ansi_size, nullptr, nullptr);
  return ansi;
}

}  // namespace

std::string AnsiFromOem(const std::string& oem) { return ToAnsi(CP_OEMCP, oem); }
std::string AnsiFromUtf8(const std::string& utf8) { return ToAnsi(CP_UTF8, utf8); }

std::string AnsiLowerCase(const std::string& text) {
  std::string lower = text;
  if (!lower.empty()) CharLowerBuffA(&lower[0], static_cast<DWORD>(lower.size()));
  return lower;
}

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

}  // namespace quenvale
