#include "common/code_page.h"

#include "common/strings.h"

namespace quenvale {

uint32_t Cp850CodePoint(unsigned char byte) {
  // clang-format off
  static constexpr uint16_t kHigh[128] = {
      0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
      0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
      0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
      0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
      0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
      0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
      0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
      0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
      0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
      0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
      0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
      0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
      0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
      0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
      0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
      0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};
  // clang-format on
  return byte >= 0x80 ? kHigh[byte - 0x80] : byte;
}

bool Cp1252Byte(uint32_t code_point, unsigned char* byte) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
    *byte = static_cast<unsigned char>(code_point);
    return true;
  }
  for (unsigned b = 0x80; b < 0xA0; ++b) {
    if (Cp1252CodePoint(static_cast<unsigned char>(b)) == code_point) {
      *byte = static_cast<unsigned char>(b);
      return true;
    }
  }
  return false;
}

std::string Cp1252FromUtf8(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceAt(utf8, i, &code_point);
    unsigned char byte = 0;
    if (length == 0 || !Cp1252Byte(code_point, &byte)) byte = '?';
    out.push_back(static_cast<char>(byte));
    i += length == 0 ? 1 : length;
  }
  return out;
}

std::string Utf8FromCp1252(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) AppendUtf8(Cp1252CodePoint(c), &out);
  return out;
}

std::string Cp1252FromCp850(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    unsigned char byte = 0;
    if (!Cp1252Byte(Cp850CodePoint(static_cast<unsigned char>(c)), &byte)) byte = '?';
    c = static_cast<char>(byte);
  }
  return out;
}

uint32_t FirstNonCp1252(const std::string& utf8) {
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceAt(utf8, i, &code_point);
    if (length == 0) return 0xFFFD;
    unsigned char byte = 0;
    if (!Cp1252Byte(code_point, &byte)) return code_point;
    i += length;
  }
  return 0;
}

std::string Cp1252LowerCase(std::string text) {
  for (char& c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) {
      c = static_cast<char>(b + 0x20);
    } else if (b == 0x8A || b == 0x8C || b == 0x8E) {
      c = static_cast<char>(b + 0x10);  // Š Œ Ž
    } else if (b == 0x9F) {
      c = static_cast<char>(0xFF);  // Ÿ
    }
  }
  return text;
}

}  // namespace quenvale
