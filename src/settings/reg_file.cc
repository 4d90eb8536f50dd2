#include "settings/reg_file.h"

#include <cstddef>

#include "common/strings.h"

namespace quenvale {
namespace {

constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
constexpr char kHeader4[] = "REGEDIT4";
constexpr char kRoot[] = "HKEY_CURRENT_USER";
// The registry editor breaks a hex list after the comma that passes this column.
constexpr size_t kWrapColumn = 76;

// ---- Text conversion ------------------------------------------------------------------------

void AppendUnit(uint32_t unit, std::string* out) {
  *out += static_cast<char>(unit & 0xFF);
  *out += static_cast<char>(unit >> 8);
}

// Our 8-bit text is UTF-8; bytes that are not (older Latin-1 text) keep their value as U+00xx.
std::string Utf8ToUtf16Le(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t n = Utf8SequenceAt(text, i, &cp);
    if (n == 0) {
      cp = static_cast<unsigned char>(text[i]);
      n = 1;
    }
    i += n;
    if (cp >= 0x10000) {
      AppendUnit(0xD800 + ((cp - 0x10000) >> 10), &out);
      AppendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF), &out);
    } else {
      AppendUnit(cp, &out);
    }
  }
  return out;
}

// An unpaired surrogate has no UTF-8 form and becomes U+FFFD; an odd last byte counts as a unit.
std::string Utf16LeToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  auto unit_at = [&bytes](size_t i) -> uint32_t {
    const uint32_t low = static_cast<unsigned char>(bytes[i]);
    if (i + 1 == bytes.size()) return low;
    return low | static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (size_t i = 0; i < bytes.size(); i += 2) {
    const uint32_t unit = unit_at(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t next = unit_at(i + 2);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &out);
        i += 2;
        continue;
      }
    }
    AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit, &out);
  }
  return out;
}

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// ---- Parsing --------------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string TrimRight(std::string s) {
  while (!s.empty() && IsBlank(s.back())) s.pop_back();
  return s;
}

bool SameKey(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameText(a[i], b[i])) return false;
  }
  return true;
}

void RemoveValue(RegValueList* values, const std::string& name) {
  for (auto it = values->begin(); it != values->end(); ++it) {
    if (SameText(it->first, name)) {
      values->erase(it);
      return;
    }
  }
}

class RegParser {
 public:
  RegParser(const std::string& where, const std::string& expected_key)
      : where_(where), expected_(SplitKeyPath(expected_key)) {}

  RegFileContents Parse(const std::string& bytes) {
    std::string text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
      // Saved as UTF-16LE, as the registry editor on Windows does.
      text = Utf16LeToUtf8(bytes.substr(2));
      SplitLines(text);
      if (bytes.size() % 2 != 0) Fail(lines_.size(), "truncated UTF-16 text");
    } else {
      text = StartsWith(bytes, "\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
      SplitLines(text);
    }
    const std::string header = lines_.empty() ? std::string() : TrimRight(lines_[0]);
    if (header == kHeader5) {
      utf16_strings_ = true;
    } else if (header == kHeader4) {
      utf16_strings_ = false;  // REGEDIT4 kept hex(1), hex(2) and hex(7) text 8-bit
    } else {
      Fail(1, "not a registry file (bad header)");
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) ParseLine();
    return std::move(contents_);
  }

 private:
  [[noreturn]] void Fail(size_t line, const std::string& what) const {
    throw ValueStoreError(where_ + ":" + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void Fail(const std::string& what) const { Fail(index_ + 1, what); }

  void SplitLines(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(std::move(line));
      start = end + 1;
    }
  }

  void ParseLine() {
    const std::string line = TrimRight(TrimLeft(lines_[index_]));
    if (line.empty() || line[0] == ';') return;
    if (line[0] == '[') return ParseKeyLine(line);
    if (line[0] == '"' || line[0] == '@') return ParseValueLine(line);
    Fail("malformed line");
  }

  void ParseKeyLine(const std::string& line) {
    if (line.size() < 2 || line.back() != ']') Fail("malformed key line");
    if (seen_key_) Fail("more than one key line");
    seen_key_ = true;
    const std::string inner = line.substr(1, line.size() - 2);
    if (StartsWith(inner, "-")) Fail("key deletion line");
    // The root comes first; what follows it is kept as written for the file's next version.
    const size_t root_end = sizeof(kRoot) - 1;
    const bool rooted = SameText(inner.substr(0, root_end), kRoot) &&
                        (inner.size() == root_end || inner[root_end] == '\\');
    const std::string key = inner.size() > root_end ? inner.substr(root_end + 1) : "";
    if (!rooted || !SameKey(SplitKeyPath(key), expected_)) Fail("key line names another key");
    contents_.key = key;
  }

  // A quoted string starting at line[*pos]; leaves *pos after the closing quote.
  std::string ParseQuoted(const std::string& line, size_t* pos) const {
    std::string out;
    size_t i = *pos + 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        out += line[i];
        continue;
      }
      if (++i == line.size()) break;
      switch (line[i]) {
        case '\\':
          out += '\\';
          break;
        case '"':
          out += '"';
          break;
        case 'r':
          out += '\r';
          break;
        case 'n':
          out += '\n';
          break;
        case '0':
          out += '\0';
          break;
        default:
          Fail("bad escape in string");
      }
    }
    if (i >= line.size()) Fail("unterminated string");
    *pos = i + 1;
    return out;
  }

  void ParseValueLine(const std::string& line) {
    if (!seen_key_) Fail("value line before the key line");
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else {
      name = ParseQuoted(line, &pos);
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size() || line[pos] != '=') Fail("malformed value line");
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::string rest = line.substr(pos);

    RegistryData data;
    if (rest == "-") {
      RemoveValue(&contents_.values, name);
      return;
    } else if (StartsWith(rest, "\"")) {
      size_t end = 0;
      data = RegistryData::String(ParseQuoted(rest, &end));
      if (end != rest.size()) Fail("malformed string value");
    } else if (SameText(rest.substr(0, 6), "dword:")) {
      data = ParseDword(rest.substr(6));
    } else if (SameText(rest.substr(0, 3), "hex")) {
      data = ParseHex(rest.substr(3));
    } else {
      Fail("malformed value line");
    }
    SetRegValue(&contents_.values, name, data);
  }

  RegistryData ParseDword(const std::string& digits) const {
    if (digits.size() != 8) Fail("malformed dword value");
    uint32_t value = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) Fail("malformed dword value");
      value = value << 4 | static_cast<uint32_t>(d);
    }
    return RegistryData::Dword(value);
  }

  // After "hex": an optional "(type)", a colon and the byte list, which may go on over lines
  // that the one before ends with a backslash.
  RegistryData ParseHex(const std::string& after_hex) {
    RegistryData data;
    data.type = kRegBinary;
    size_t pos = 0;
    if (StartsWith(after_hex, "(")) {
      const size_t close = after_hex.find(')');
      if (close == std::string::npos || close < 2 || close > 9) Fail("malformed hex type");
      data.type = 0;
      for (size_t i = 1; i < close; ++i) {
        const int d = HexDigit(after_hex[i]);
        if (d < 0) Fail("malformed hex type");
        data.type = data.type << 4 | static_cast<uint32_t>(d);
      }
      pos = close + 1;
    }
    if (pos >= after_hex.size() || after_hex[pos] != ':') Fail("malformed value line");
    std::string segment = after_hex.substr(pos + 1);
    while (ParseHexSegment(segment, &data.bytes)) {
      if (++index_ == lines_.size()) Fail(index_, "hex value continues past the end of the file");
      segment = TrimRight(TrimLeft(lines_[index_]));
    }
    if (utf16_strings_ && IsStringType(data.type)) data.bytes = Utf16LeToUtf8(data.bytes);
    return data;
  }

  // One line's share of a hex list; true when the list goes on on the next line.
  bool ParseHexSegment(std::string segment, std::string* bytes) const {
    segment = TrimRight(segment);
    const bool more = !segment.empty() && segment.back() == '\\';
    if (more) segment = TrimRight(segment.substr(0, segment.size() - 1));
    if (segment.empty()) return more;
    size_t start = 0;
    while (true) {
      size_t comma = segment.find(',', start);
      const bool last = comma == std::string::npos;
      if (last) comma = segment.size();
      const std::string token = TrimRight(TrimLeft(segment.substr(start, comma - start)));
      if (token.empty()) {
        // Only a trailing comma may leave nothing behind it.
        if (!last || start == 0) Fail("bad hex value");
        break;
      }
      if (token.size() > 2) Fail("bad hex value");
      int value = 0;
      for (char c : token) {
        const int d = HexDigit(c);
        if (d < 0) Fail("bad hex value");
        value = value << 4 | d;
      }
      *bytes += static_cast<char>(value);
      if (last) break;
      start = comma + 1;
    }
    return more;
  }

  std::string where_;
  std::vector<std::string> expected_;
  std::vector<std::string> lines_;
  size_t index_ = 0;
  bool utf16_strings_ = true;
  bool seen_key_ = false;
  RegFileContents contents_;
};

// ---- Formatting -----------------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string FormatValue(const std::string& name, const RegistryData& data) {
  std::string line = (name.empty() ? std::string("@") : Quote(name)) + "=";
  if (data.type == kRegSz && !data.bytes.empty() && data.bytes.back() == '\0') {
    return line + Quote(data.bytes.substr(0, data.bytes.size() - 1));
  }
  if (data.type == kRegDword && data.bytes.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data.bytes[i]);
    return line + Format("dword:%08x", value);
  }
  // Everything else, including a string without its terminating zero, as a byte list.
  line += data.type == kRegBinary ? std::string("hex:") : Format("hex(%x):", data.type);
  const std::string bytes = IsStringType(data.type) ? Utf8ToUtf16Le(data.bytes) : data.bytes;
  size_t column = line.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    line += Format("%02x", static_cast<unsigned char>(bytes[i]));
    if (i + 1 == bytes.size()) break;
    line += ',';
    column += 3;
    if (column > kWrapColumn) {
      line += "\\\n  ";
      column = 2;
    }
  }
  return line;
}

}  // namespace

std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

void SetRegValue(RegValueList* values, const std::string& name, const RegistryData& data) {
  for (auto& entry : *values) {
    if (SameText(entry.first, name)) {
      entry.second = data;  // the stored spelling of the name stays
      return;
    }
  }
  values->emplace_back(name, data);
}

RegFileContents ParseRegFile(const std::string& bytes, const std::string& where,
                             const std::string& expected_key) {
  return RegParser(where, expected_key).Parse(bytes);
}

std::string FormatRegFile(const std::string& key, const RegValueList& values) {
  std::string text = std::string(kHeader5) + "\n\n[" + kRoot + "\\" + key + "]\n";
  for (const auto& value : values) text += FormatValue(value.first, value.second) + "\n";
  return text + "\n";
}

}  // namespace quenvale
