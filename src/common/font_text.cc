#include "common/font_text.h"

#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "common/strings.h"

namespace quenvale {

bool operator==(const FontDialog& a, const FontDialog& b) {
  return a.Name == b.Name && a.Tag == b.Tag && a.Ctl3D == b.Ctl3D &&
         a.HelpContext == b.HelpContext && a.Font == b.Font && a.Device == b.Device &&
         a.MinFontSize == b.MinFontSize && a.MaxFontSize == b.MaxFontSize &&
         a.Options == b.Options && a.Left == b.Left && a.Top == b.Top;
}

bool operator!=(const FontDialog& a, const FontDialog& b) { return !(a == b); }

FontDialog DefaultFontDialog() {
  FontDialog dialog;
  dialog.Font.Name = "Arial";
  dialog.Font.SetSize(24);
  dialog.Font.Color = clWhite;
  dialog.Font.Style = fsBold;
  dialog.Font.Charset = kDefaultCharset;
  return dialog;
}

namespace {

struct NamedValue {
  int32_t value;
  const char* name;
};

constexpr int32_t SystemColor(int32_t index) {
  return static_cast<int32_t>(0xFF000000u | static_cast<uint32_t>(index));
}

const NamedValue kColors[] = {
    {0x000000, "clBlack"},
    {0x000080, "clMaroon"},
    {0x008000, "clGreen"},
    {0x008080, "clOlive"},
    {0x800000, "clNavy"},
    {0x800080, "clPurple"},
    {0x808000, "clTeal"},
    {0x808080, "clGray"},
    {0xC0C0C0, "clSilver"},
    {0x0000FF, "clRed"},
    {0x00FF00, "clLime"},
    {0x00FFFF, "clYellow"},
    {0xFF0000, "clBlue"},
    {0xFF00FF, "clFuchsia"},
    {0xFFFF00, "clAqua"},
    {0xFFFFFF, "clWhite"},
    {0xC0DCC0, "clMoneyGreen"},
    {0xF0CAA6, "clSkyBlue"},
    {0xF0FBFF, "clCream"},
    {0xA4A0A0, "clMedGray"},
    {clNone, "clNone"},
    {clDefault, "clDefault"},
    {SystemColor(0), "clScrollBar"},
    {SystemColor(1), "clBackground"},
    {SystemColor(2), "clActiveCaption"},
    {SystemColor(3), "clInactiveCaption"},
    {SystemColor(4), "clMenu"},
    {SystemColor(5), "clWindow"},
    {SystemColor(6), "clWindowFrame"},
    {SystemColor(7), "clMenuText"},
    {SystemColor(8), "clWindowText"},
    {SystemColor(9), "clCaptionText"},
    {SystemColor(10), "clActiveBorder"},
    {SystemColor(11), "clInactiveBorder"},
    {SystemColor(12), "clAppWorkSpace"},
    {SystemColor(13), "clHighlight"},
    {SystemColor(14), "clHighlightText"},
    {SystemColor(15), "clBtnFace"},
    {SystemColor(16), "clBtnShadow"},
    {SystemColor(17), "clGrayText"},
    {SystemColor(18), "clBtnText"},
    {SystemColor(19), "clInactiveCaptionText"},
    {SystemColor(20), "clBtnHighlight"},
    {SystemColor(21), "cl3DDkShadow"},
    {SystemColor(22), "cl3DLight"},
    {SystemColor(23), "clInfoText"},
    {SystemColor(24), "clInfoBk"},
    {SystemColor(26), "clHotLight"},
    {SystemColor(27), "clGradientActiveCaption"},
    {SystemColor(28), "clGradientInactiveCaption"},
    {SystemColor(29), "clMenuHighlight"},
    {SystemColor(30), "clMenuBar"},
};

const NamedValue kCharsets[] = {
    {0, "ANSI_CHARSET"},      {1, "DEFAULT_CHARSET"},    {2, "SYMBOL_CHARSET"},
    {77, "MAC_CHARSET"},      {128, "SHIFTJIS_CHARSET"}, {129, "HANGEUL_CHARSET"},
    {130, "JOHAB_CHARSET"},   {134, "GB2312_CHARSET"},   {136, "CHINESEBIG5_CHARSET"},
    {161, "GREEK_CHARSET"},   {162, "TURKISH_CHARSET"},  {163, "VIETNAMESE_CHARSET"},
    {177, "HEBREW_CHARSET"},  {178, "ARABIC_CHARSET"},   {186, "BALTIC_CHARSET"},
    {204, "RUSSIAN_CHARSET"}, {222, "THAI_CHARSET"},     {238, "EASTEUROPE_CHARSET"},
    {255, "OEM_CHARSET"},
};

// Names of set members and enumeration values, bit i (or value i) first.
const char* const kStyleNames[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
const char* const kPitchNames[] = {"fpDefault", "fpVariable", "fpFixed"};
const char* const kDeviceNames[] = {"fdScreen", "fdPrinter", "fdBoth"};
const char* const kOptionNames[] = {
    "fdAnsiOnly",       "fdTrueTypeOnly", "fdEffects",       "fdFixedPitchOnly",
    "fdForceFontExist", "fdNoFaceSel",    "fdNoOEMFonts",    "fdNoSimulations",
    "fdNoSizeSel",      "fdNoStyleSel",   "fdNoVectorFonts", "fdShowHelp",
    "fdWysiwyg",        "fdLimitSize",    "fdScalableOnly",  "fdApplyButton",
};

template <size_t N>
bool ValueToName(const NamedValue (&table)[N], int32_t value, std::string* name) {
  for (const NamedValue& entry : table) {
    if (entry.value == value) {
      *name = entry.name;
      return true;
    }
  }
  return false;
}

template <size_t N>
bool NameToValue(const NamedValue (&table)[N], const std::string& name, int32_t* value) {
  for (const NamedValue& entry : table) {
    if (SameText(entry.name, name)) {
      *value = entry.value;
      return true;
    }
  }
  return false;
}

// Index of `name` in `names`, ignoring case, or -1.
template <size_t N>
int IndexOfName(const char* const (&names)[N], const std::string& name) {
  for (size_t i = 0; i < N; ++i) {
    if (SameText(names[i], name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool ColorToIdent(int32_t color, std::string* ident) { return ValueToName(kColors, color, ident); }

bool IdentToColor(const std::string& ident, int32_t* color) {
  return NameToValue(kColors, ident, color);
}

bool CharsetToIdent(int32_t charset, std::string* ident) {
  return ValueToName(kCharsets, charset, ident);
}

bool IdentToCharset(const std::string& ident, int32_t* charset) {
  return NameToValue(kCharsets, ident, charset);
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

// Printable ASCII goes in quotes; everything else as #nn, which every reader understands
// whatever its code page.
std::string QuoteString(const std::string& s) {
  if (s.empty()) return "''";
  std::string out;
  bool quoted = false;
  for (char c : s) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 32 && byte < 127) {
      if (!quoted) out += '\'';
      quoted = true;
      out += c;
      if (c == '\'') out += '\'';
    } else {
      if (quoted) out += '\'';
      quoted = false;
      out += '#';
      out += std::to_string(byte);
    }
  }
  if (quoted) out += '\'';
  return out;
}

template <size_t N>
std::string SetText(const char* const (&names)[N], uint32_t bits) {
  std::string out = "[";
  for (size_t i = 0; i < N; ++i) {
    if ((bits & (1u << i)) == 0) continue;
    if (out.size() > 1) out += ", ";
    out += names[i];
  }
  return out + "]";
}

class TextWriter {
 public:
  void Line(const std::string& path, const std::string& value) {
    text_ += "  " + path + " = " + value + "\r\n";
  }
  void Integer(const std::string& path, int32_t value) { Line(path, std::to_string(value)); }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

}  // namespace

std::string ComponentToText(const FontDialog& dialog) {
  const FontDialog defaults;
  TextWriter out;
  out.text() = dialog.Name.empty() ? "object TFontDialog\r\n"
                                   : "object " + dialog.Name + ": TFontDialog\r\n";
  if (dialog.Tag != defaults.Tag) out.Integer("Tag", dialog.Tag);
  if (dialog.Ctl3D != defaults.Ctl3D) out.Line("Ctl3D", dialog.Ctl3D ? "True" : "False");
  if (dialog.HelpContext != defaults.HelpContext) out.Integer("HelpContext", dialog.HelpContext);

  const Font& font = dialog.Font;
  std::string ident;
  out.Line("Font.Charset",
           CharsetToIdent(font.Charset, &ident) ? ident : std::to_string(font.Charset));
  out.Line("Font.Color", ColorToIdent(font.Color, &ident) ? ident : std::to_string(font.Color));
  out.Integer("Font.Height", font.Height);
  out.Line("Font.Name", QuoteString(font.Name));
  if (font.Pitch != fpDefault) {
    out.Line("Font.Pitch", font.Pitch > fpDefault && font.Pitch <= fpFixed
                               ? kPitchNames[font.Pitch]
                               : std::to_string(font.Pitch));
  }
  out.Line("Font.Style", SetText(kStyleNames, font.Style));

  if (dialog.Device != defaults.Device) {
    out.Line("Device",
             dialog.Device <= fdBoth ? kDeviceNames[dialog.Device] : std::to_string(dialog.Device));
  }
  if (dialog.MinFontSize != defaults.MinFontSize) out.Integer("MinFontSize", dialog.MinFontSize);
  if (dialog.MaxFontSize != defaults.MaxFontSize) out.Integer("MaxFontSize", dialog.MaxFontSize);
  if (dialog.Options != defaults.Options) {
    out.Line("Options", SetText(kOptionNames, dialog.Options));
  }
  if (dialog.Left != 0) out.Integer("Left", dialog.Left);
  if (dialog.Top != 0) out.Integer("Top", dialog.Top);
  out.text() += "end\r\n";
  return std::move(out.text());
}

// ---------------------------------------------------------------------------------------------
// Reading, step one: the syntax, into a tree.

namespace {

// Objects, lists and collections may nest this deep; the parser recurses once per level.
constexpr int kMaxDepth = 64;

enum class TokenKind { kEof, kSymbol, kString, kInteger, kFloat, kChar };

struct Token {
  TokenKind kind = TokenKind::kEof;
  std::string text;     // identifier, decoded string, or number as written
  int64_t integer = 0;  // kInteger
  char ch = 0;          // kChar
  int line = 1;
};

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Lexer {
 public:
  explicit Lexer(const std::string& text) : text_(text) {}

  const Token& token() const { return token_; }

  [[noreturn]] void Fail(const std::string& what, int line) const {
    throw ObjectTextError(what + " on line " + std::to_string(line));
  }
  [[noreturn]] void Fail(const std::string& what) const { Fail(what, token_.line); }

  void Next() {
    SkipBlanks();
    token_ = Token();
    token_.line = line_;
    if (pos_ >= text_.size()) return;
    char c = text_[pos_];
    if (IsIdentStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
      token_.kind = TokenKind::kSymbol;
      token_.text = text_.substr(start, pos_ - start);
    } else if (c == '\'' || c == '#') {
      ScanString();
    } else if (StartsNumber(pos_) || (c == '-' && StartsNumber(pos_ + 1))) {
      ScanNumber();
    } else {
      token_.kind = TokenKind::kChar;
      token_.ch = c;
      ++pos_;
    }
  }

  // Called with the '{' token current: reads the hexadecimal bytes up to '}' (blanks and line
  // breaks allowed between digits) and moves to the token after it.
  std::string ScanBinary() {
    std::string bytes;
    int high = -1;
    for (;;) {
      if (pos_ >= text_.size()) Fail("Invalid binary value", line_);
      char c = text_[pos_++];
      if (c == '}') break;
      if (static_cast<unsigned char>(c) <= ' ') {
        if (c == '\n') ++line_;
        continue;
      }
      int digit = HexDigit(c);
      if (digit < 0) Fail("Invalid binary value", line_);
      if (high < 0) {
        high = digit;
      } else {
        bytes += static_cast<char>(high * 16 + digit);
        high = -1;
      }
    }
    if (high >= 0) Fail("Invalid binary value", line_);
    Next();
    return bytes;
  }

 private:
  // A digit, or "$" and a hexadecimal digit; a lone "-" or "$" is a character of its own.
  bool StartsNumber(size_t at) const {
    if (at >= text_.size()) return false;
    if (IsDigit(text_[at])) return true;
    return at + 1 < text_.size() && text_[at] == '$' && HexDigit(text_[at + 1]) >= 0;
  }

  void SkipBlanks() {
    while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= ' ') {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  // Quoted runs ('' for a quote) and #nn / #$hh characters, back to back, make one string.
  void ScanString() {
    token_.kind = TokenKind::kString;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\'') {
        ++pos_;
        for (;;) {
          if (pos_ >= text_.size() || text_[pos_] == '\r' || text_[pos_] == '\n') {
            Fail("Invalid string constant", line_);
          }
          char q = text_[pos_++];
          if (q == '\'') {
            if (pos_ < text_.size() && text_[pos_] == '\'') {
              ++pos_;
            } else {
              break;
            }
          }
          token_.text += q;
        }
      } else if (c == '#') {
        ++pos_;
        bool hex = pos_ < text_.size() && text_[pos_] == '$';
        if (hex) ++pos_;
        uint32_t code = 0;
        size_t digits = 0;
        for (; pos_ < text_.size(); ++pos_, ++digits) {
          char d = text_[pos_];
          int digit = hex ? HexDigit(d) : (IsDigit(d) ? d - '0' : -1);
          if (digit < 0) break;
          code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
          if (code > 0xFFFF) Fail("Invalid string constant", line_);
        }
        if (digits == 0) Fail("Invalid string constant", line_);
        // A wide character has no place in 8-bit text.
        token_.text += code <= 0xFF ? static_cast<char>(code) : '?';
      } else {
        break;
      }
    }
  }

  // Decimal integers, $hexadecimal integers (up to 64 bits) and decimal fractions with an
  // optional exponent and type letter. Integers too large for 64 bits count as fractions.
  void ScanNumber() {
    size_t start = pos_;
    bool negative = text_[pos_] == '-';
    if (negative) ++pos_;
    uint64_t magnitude = 0;
    bool fits = true;
    if (text_[pos_] == '$') {
      ++pos_;
      size_t digits = 0;
      for (; pos_ < text_.size() && HexDigit(text_[pos_]) >= 0; ++pos_, ++digits) {
        magnitude = magnitude * 16 + static_cast<uint64_t>(HexDigit(text_[pos_]));
        if (digits >= 16) fits = false;
      }
      // Hexadecimal gives a bit pattern, so $FFFFFFFFFFFFFFFF is -1.
      token_.integer = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
      token_.kind = fits ? TokenKind::kInteger : TokenKind::kFloat;
      token_.text = text_.substr(start, pos_ - start);
      return;
    }
    const uint64_t limit = negative ? (1ull << 63) : (1ull << 63) - 1;
    for (; pos_ < text_.size() && IsDigit(text_[pos_]); ++pos_) {
      auto digit = static_cast<uint64_t>(text_[pos_] - '0');
      if (magnitude > (limit - digit) / 10) fits = false;
      if (fits) magnitude = magnitude * 10 + digit;
    }
    bool fraction = false;
    if (pos_ + 1 < text_.size() && text_[pos_] == '.' && IsDigit(text_[pos_ + 1])) {
      fraction = true;
      ++pos_;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      size_t exponent = pos_ + 1;
      if (exponent < text_.size() && (text_[exponent] == '+' || text_[exponent] == '-')) {
        ++exponent;
      }
      if (exponent < text_.size() && IsDigit(text_[exponent])) {
        fraction = true;
        pos_ = exponent;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
      }
    }
    if (fraction && pos_ < text_.size()) {
      // Single, currency and date values carry a type letter.
      char c = text_[pos_];
      if (c == 's' || c == 'S' || c == 'c' || c == 'C' || c == 'd' || c == 'D') ++pos_;
    }
    token_.text = text_.substr(start, pos_ - start);
    if (fraction || !fits) {
      token_.kind = TokenKind::kFloat;
    } else {
      token_.kind = TokenKind::kInteger;
      token_.integer = static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
    }
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
  Token token_;
};

enum class ValueKind { kInteger, kFloat, kString, kIdent, kSet, kList, kBinary, kCollection };

struct TextProperty;

struct TextValue {
  ValueKind kind = ValueKind::kInteger;
  int64_t integer = 0;
  std::string text;                // string, identifier, number as written, binary bytes
  std::vector<std::string> names;  // set members
  std::vector<TextValue> list;
  std::vector<std::vector<TextProperty>> items;  // collection items
};

struct TextProperty {
  std::string path;
  TextValue value;
};

struct TextObject {
  std::string name;
  std::string class_name;
  std::vector<TextProperty> properties;
  std::vector<TextObject> children;
};

class Parser {
 public:
  explicit Parser(Lexer* lexer) : lexer_(*lexer) {}

  TextObject ParseRoot() {
    lexer_.Next();
    TextObject root;
    // Whatever follows the root's "end" is not looked at.
    ParseObject(&root, 1);
    return root;
  }

 private:
  const Token& token() const { return lexer_.token(); }

  bool IsChar(char c) const { return token().kind == TokenKind::kChar && token().ch == c; }
  bool IsSymbol(const char* word) const {
    return token().kind == TokenKind::kSymbol && SameText(token().text, word);
  }
  bool IsObjectStart() const {
    return IsSymbol("object") || IsSymbol("inherited") || IsSymbol("inline");
  }

  std::string TakeIdentifier() {
    if (token().kind != TokenKind::kSymbol) lexer_.Fail("Identifier expected");
    std::string ident = token().text;
    lexer_.Next();
    return ident;
  }
  void TakeChar(char c) {
    if (!IsChar(c)) lexer_.Fail(std::string("'") + c + "' expected");
    lexer_.Next();
  }
  void CheckDepth(int depth) const {
    if (depth > kMaxDepth) lexer_.Fail("Object text nested too deeply");
  }

  // "[n]" after an object header or a collection item: the position among inherited ones.
  void SkipIndex() {
    if (!IsChar('[')) return;
    lexer_.Next();
    if (token().kind != TokenKind::kInteger) lexer_.Fail("Number expected");
    lexer_.Next();
    TakeChar(']');
  }

  // Leaves the object's "end" as the current token.
  void ParseObject(TextObject* object, int depth) {
    CheckDepth(depth);
    if (!IsObjectStart()) lexer_.Fail("OBJECT expected");
    lexer_.Next();
    std::string first = TakeIdentifier();
    if (IsChar(':')) {
      lexer_.Next();
      object->name = std::move(first);
      object->class_name = TakeIdentifier();
    } else {
      object->class_name = std::move(first);
    }
    SkipIndex();
    while (!IsSymbol("end") && !IsObjectStart()) {
      object->properties.emplace_back();
      ParseProperty(&object->properties.back(), depth);
    }
    while (!IsSymbol("end")) {
      object->children.emplace_back();
      ParseObject(&object->children.back(), depth + 1);
      lexer_.Next();
    }
  }

  void ParseProperty(TextProperty* property, int depth) {
    property->path = TakeIdentifier();
    while (IsChar('.')) {
      lexer_.Next();
      property->path += '.';
      property->path += TakeIdentifier();
    }
    TakeChar('=');
    ParseValue(&property->value, depth);
  }

  void ParseValue(TextValue* value, int depth) {
    const Token& t = token();
    switch (t.kind) {
      case TokenKind::kInteger:
        value->kind = ValueKind::kInteger;
        value->integer = t.integer;
        value->text = t.text;
        lexer_.Next();
        return;
      case TokenKind::kFloat:
        value->kind = ValueKind::kFloat;
        value->text = t.text;
        lexer_.Next();
        return;
      case TokenKind::kString:
        value->kind = ValueKind::kString;
        value->text = t.text;
        lexer_.Next();
        // 'long' + 'text' continues a string across lines.
        while (IsChar('+')) {
          lexer_.Next();
          if (token().kind != TokenKind::kString) lexer_.Fail("String expected");
          value->text += token().text;
          lexer_.Next();
        }
        return;
      case TokenKind::kSymbol:
        value->kind = ValueKind::kIdent;
        value->text = t.text;
        lexer_.Next();
        return;
      case TokenKind::kEof:
        lexer_.Fail("Invalid property value");
      case TokenKind::kChar:
        break;
    }
    switch (t.ch) {
      case '[':
        value->kind = ValueKind::kSet;
        lexer_.Next();
        if (!IsChar(']')) {
          for (;;) {
            value->names.push_back(TakeIdentifier());
            if (IsChar(']')) break;
            TakeChar(',');
          }
        }
        lexer_.Next();
        return;
      case '(':
        CheckDepth(depth + 1);
        value->kind = ValueKind::kList;
        lexer_.Next();
        while (!IsChar(')')) {
          value->list.emplace_back();
          ParseValue(&value->list.back(), depth + 1);
        }
        lexer_.Next();
        return;
      case '{':
        value->kind = ValueKind::kBinary;
        value->text = lexer_.ScanBinary();
        return;
      case '<':
        CheckDepth(depth + 1);
        value->kind = ValueKind::kCollection;
        lexer_.Next();
        while (!IsChar('>')) {
          if (!IsSymbol("item")) lexer_.Fail("ITEM expected");
          lexer_.Next();
          SkipIndex();
          value->items.emplace_back();
          while (!IsSymbol("end")) {
            value->items.back().emplace_back();
            ParseProperty(&value->items.back().back(), depth + 1);
          }
          lexer_.Next();
        }
        lexer_.Next();
        return;
      case '-':
      case '$':
        lexer_.Fail("Number expected");
      default:
        lexer_.Fail("Invalid property value");
    }
  }

  Lexer& lexer_;
};

// ---------------------------------------------------------------------------------------------
// Reading, step two: applying the tree to a dialog.

struct InvalidValue {};  // the value has the wrong shape for its property
struct MissingProperty {};

int32_t ReadInteger(const TextValue& value) {
  if (value.kind != ValueKind::kInteger || value.integer < std::numeric_limits<int32_t>::min() ||
      value.integer > std::numeric_limits<int32_t>::max()) {
    throw InvalidValue();
  }
  return static_cast<int32_t>(value.integer);
}

bool ReadBoolean(const TextValue& value) {
  if (value.kind == ValueKind::kIdent) {
    if (SameText(value.text, "True")) return true;
    if (SameText(value.text, "False")) return false;
  }
  throw InvalidValue();
}

template <size_t N>
int ReadEnumeration(const char* const (&names)[N], const TextValue& value) {
  int index = value.kind == ValueKind::kIdent ? IndexOfName(names, value.text) : -1;
  if (index < 0) throw InvalidValue();
  return index;
}

template <size_t N>
uint32_t ReadSet(const char* const (&names)[N], const TextValue& value) {
  if (value.kind != ValueKind::kSet) throw InvalidValue();
  uint32_t bits = 0;
  for (const std::string& name : value.names) {
    int index = IndexOfName(names, name);
    if (index < 0) throw InvalidValue();
    bits |= 1u << index;
  }
  return bits;
}

int32_t ReadColor(const TextValue& value) {
  int32_t color;
  if (value.kind == ValueKind::kIdent) {
    if (!IdentToColor(value.text, &color)) throw InvalidValue();
    return color;
  }
  return ReadInteger(value);
}

int32_t ReadCharset(const TextValue& value) {
  int32_t charset;
  if (value.kind == ValueKind::kIdent) {
    if (!IdentToCharset(value.text, &charset)) throw InvalidValue();
    return charset;
  }
  charset = ReadInteger(value);
  if (charset < 0 || charset > 255) throw InvalidValue();
  return charset;
}

std::string ReadString(const TextValue& value) {
  if (value.kind != ValueKind::kString) throw InvalidValue();
  return value.text;
}

void ReadProperty(const TextProperty& property, FontDialog* dialog) {
  const std::string path = LowerCase(property.path);
  const TextValue& value = property.value;
  Font& font = dialog->Font;
  if (path == "tag") {
    dialog->Tag = ReadInteger(value);
  } else if (path == "ctl3d") {
    dialog->Ctl3D = ReadBoolean(value);
  } else if (path == "helpcontext") {
    dialog->HelpContext = ReadInteger(value);
  } else if (path == "font") {
    // The font is an object of its own; only its members take values.
    throw InvalidValue();
  } else if (path == "font.charset") {
    font.Charset = ReadCharset(value);
  } else if (path == "font.color") {
    font.Color = ReadColor(value);
  } else if (path == "font.height") {
    font.Height = ReadInteger(value);
  } else if (path == "font.size") {
    font.SetSize(ReadInteger(value));
  } else if (path == "font.name") {
    font.Name = ReadString(value);
  } else if (path == "font.pitch") {
    font.Pitch = ReadEnumeration(kPitchNames, value);
  } else if (path == "font.style") {
    font.Style = static_cast<FontStyles>(ReadSet(kStyleNames, value));
  } else if (path == "device") {
    dialog->Device = static_cast<FontDialogDevice>(ReadEnumeration(kDeviceNames, value));
  } else if (path == "minfontsize") {
    dialog->MinFontSize = ReadInteger(value);
  } else if (path == "maxfontsize") {
    dialog->MaxFontSize = ReadInteger(value);
  } else if (path == "options") {
    dialog->Options = ReadSet(kOptionNames, value);
  } else if (path == "left") {
    dialog->Left = ReadInteger(value);
  } else if (path == "top") {
    dialog->Top = ReadInteger(value);
  } else {
    throw MissingProperty();
  }
}

constexpr char kDialogClass[] = "TFontDialog";

void ReadObject(const TextObject& object, FontDialog* dialog) {
  if (!SameText(object.class_name, kDialogClass)) {
    throw ObjectTextError("Class " + object.class_name + " not found");
  }
  dialog->Name = object.name;
  const std::string owner = object.name.empty() ? kDialogClass : object.name;
  for (const TextProperty& property : object.properties) {
    try {
      ReadProperty(property, dialog);
    } catch (const InvalidValue&) {
      throw ObjectTextError("Error reading " + owner + "." + property.path +
                            ": Invalid property value");
    } catch (const MissingProperty&) {
      throw ObjectTextError("Error reading " + owner + "." + property.path + ": Property " +
                            property.path + " does not exist");
    }
  }
  // Nested dialogs are read in full, then dropped: nothing here uses them, but their mistakes
  // are still reported.
  for (const TextObject& child : object.children) {
    FontDialog owned;
    ReadObject(child, &owned);
  }
}

}  // namespace

FontDialog TextToComponent(const std::string& text) {
  Lexer lexer(text);
  TextObject root = Parser(&lexer).ParseRoot();
  FontDialog dialog;
  ReadObject(root, &dialog);
  return dialog;
}

}  // namespace quenvale
