#include "common/strings.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace quenvale {

StringArray SplitString(const std::string& delimiter, const std::string& text) {
  StringArray pieces;
  if (delimiter.empty()) {
    if (!text.empty()) pieces.push_back(text);
    return pieces;
  }
  size_t start = 0;
  size_t found = text.find(delimiter, start);
  while (found != std::string::npos) {
    pieces.push_back(text.substr(start, found - start));
    start = found + delimiter.size();
    // A run of delimiters separates just like one.
    while (start < text.size() && text.compare(start, delimiter.size(), delimiter) == 0) {
      start += delimiter.size();
    }
    found = text.find(delimiter, start);
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

std::string JoinStrings(const std::string& delimiter, const StringArray& items) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += delimiter;
    joined += items[i];
  }
  return joined;
}

bool InStringArray(const StringArray& items, const std::string& s) {
  for (const std::string& item : items) {
    if (item == s) return true;
  }
  return false;
}

int32_t LastPos(const std::string& sub, const std::string& s) {
  if (sub.empty() || sub.size() > s.size()) return 0;
  size_t found = s.rfind(sub);
  return found == std::string::npos ? 0 : static_cast<int32_t>(found + 1);
}

namespace {
char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string LowerCase(std::string s) {
  for (char& c : s) c = LowerChar(c);
  return s;
}

std::string UpperCase(std::string s) {
  for (char& c : s) c = UpperChar(c);
  return s;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

size_t FindNoCase(const std::string& hay, const std::string& needle) {
  return LowerCase(hay).find(LowerCase(needle));
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  if (from.empty()) return s;
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

bool TryStrToInt(const std::string& text, int32_t* value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (magnitude > 0xFFFFFFFFull) return false;
  }
  int64_t result;
  if (hex) {
    // Hexadecimal may use all 32 bits, so $FFFFFFFF reads as -1.
    result = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    if (negative) result = -result;
    if (result > std::numeric_limits<int32_t>::max()) return false;
  } else {
    result = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (result < std::numeric_limits<int32_t>::min() ||
        result > std::numeric_limits<int32_t>::max()) {
      return false;
    }
  }
  *value = static_cast<int32_t>(result);
  return true;
}

int32_t StrToInt(const std::string& text) {
  int32_t value = 0;
  if (!TryStrToInt(text, &value)) {
    throw ConvertError(Format("'%s' is not a valid integer value", text.c_str()));
  }
  return value;
}

namespace {

// A decimal number with a fraction or an exponent ("1.5", "-0.0", ".5", "2e-3"), after optional
// blanks and a sign; *nonzero tells whether any digit of it is not 0, which is whether the
// number is not zero whatever the exponent.
bool IsDecimalNumber(const std::string& text, bool* nonzero) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t digits = 0;
  bool any = false;
  auto digit_run = [&] {
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      any = any || text[i] != '0';
    }
  };
  digit_run();
  if (i < text.size() && text[i] == '.') {
    ++i;
    digit_run();
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == start) return false;
  }
  *nonzero = any;
  return i == text.size();
}

}  // namespace

bool StrToBool(const std::string& text) {
  if (SameText(text, "true")) return true;
  if (SameText(text, "false")) return false;
  int32_t number = 0;
  if (TryStrToInt(text, &number)) return number != 0;
  bool nonzero = false;
  if (IsDecimalNumber(text, &nonzero)) return nonzero;
  throw ConvertError(Format("'%s' is not a valid boolean value", text.c_str()));
}

std::string LinkAddress(const std::string& address) {
  if (address.size() <= 1) return std::string();
  if (address.find("http") == std::string::npos) return "http://" + address;
  return address;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

size_t Utf8SequenceAt(const std::string& s, size_t i, uint32_t* cp) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  size_t n;
  uint32_t value;
  uint32_t least;
  if ((lead & 0xE0) == 0xC0) {
    n = 2, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    n = 3, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    n = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char trail = static_cast<unsigned char>(s[i + k]);
    if ((trail & 0xC0) != 0x80) return 0;
    value = (value << 6) | (trail & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return n;
}

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if ((c & 0x80) != 0) return false;
  }
  return true;
}

bool IsUtf8(const std::string& text) {
  uint32_t code_point = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceAt(text, i, &code_point);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t Cp1252CodePoint(unsigned char byte) {
  static constexpr uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

}  // namespace quenvale
