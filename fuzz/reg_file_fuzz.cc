// Reads any bytes as a settings key file. Whatever parses must survive being written and read
// again: the same values come back, except that 8-bit text which is not UTF-8 in a string kept as
// UTF-16 is converted once, after which a second round changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/reg_file.h"

namespace {

using quenvale::RegFileContents;
using quenvale::RegValueList;

constexpr char kKey[] = "Software\\Fuzz";

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
    if (n == 0 || s.size() - i < n) return false;
    uint32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

// Strings written as UTF-16 hex lists: the types 1, 2 and 7, except a terminated REG_SZ.
bool ConvertsOnWrite(const RegValueList& values) {
  for (const auto& [name, data] : values) {
    const bool text_type = data.type == 1 || data.type == 2 || data.type == 7;
    const bool quoted = data.type == 1 && !data.bytes.empty() && data.bytes.back() == '\0';
    if (text_type && !quoted && !IsUtf8(data.bytes)) return true;
  }
  return false;
}

bool SameValues(const RegValueList& a, const RegValueList& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].first != b[i].first || a[i].second.type != b[i].second.type ||
        a[i].second.bytes != b[i].second.bytes) {
      return false;
    }
  }
  return true;
}

RegFileContents WriteAndRead(const RegFileContents& contents) {
  const std::string text =
      quenvale::FormatRegFile(contents.key.empty() ? kKey : contents.key, contents.values);
  try {
    return quenvale::ParseRegFile(text, "again", kKey);
  } catch (const quenvale::ValueStoreError&) {
    __builtin_trap();  // we wrote something we cannot read
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegFileContents first;
  try {
    first = quenvale::ParseRegFile(std::string(reinterpret_cast<const char*>(data), size), "fuzz",
                                   kKey);
  } catch (const quenvale::ValueStoreError&) {
    return 0;
  }
  const RegFileContents second = WriteAndRead(first);
  if (!ConvertsOnWrite(first.values) && !SameValues(first.values, second.values)) {
    __builtin_trap();
  }
  if (!SameValues(second.values, WriteAndRead(second).values)) __builtin_trap();
  return 0;
}
