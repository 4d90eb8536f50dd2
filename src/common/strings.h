// String helpers shared by the settings parser, the data-file object and the tools.
// Strings hold 8-bit text; the rules that count positions from 1 are kept at this edge
// (LastPos returns 1-based positions, 0 for "not found").
#ifndef QUENVALE_COMMON_STRINGS_H_
#define QUENVALE_COMMON_STRINGS_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quenvale {

using StringArray = std::vector<std::string>;

// A failure that carries exactly the message the user is shown.
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Splits at every occurrence of `delimiter`; runs of delimiters count as one, a leading run gives
// one empty first piece, a trailing run gives nothing, an empty text gives no pieces.
StringArray SplitString(const std::string& delimiter, const std::string& text);
std::string JoinStrings(const std::string& delimiter, const StringArray& items);
bool InStringArray(const StringArray& items, const std::string& s);
// 1-based position of the last occurrence of `sub` in `s`, 0 when there is none.
int32_t LastPos(const std::string& sub, const std::string& s);

// Case mapping touches only the ASCII letters.
std::string LowerCase(std::string s);
std::string UpperCase(std::string s);
bool SameText(const std::string& a, const std::string& b);  // ASCII case-insensitive equality
// Position (0-based) of `needle` in `hay` ignoring ASCII case, or npos.
size_t FindNoCase(const std::string& hay, const std::string& needle);
bool StartsWith(const std::string& s, const std::string& prefix);
bool EndsWith(const std::string& s, const std::string& suffix);
std::string ReplaceAll(std::string s, const std::string& from, const std::string& to);

// Strict text-to-number conversion: optional leading blanks and sign, then decimal digits, or
// hexadecimal digits after "$", "x", "X", "0x" or "0X"; the value must fit 32 bits (hexadecimal
// may use all 32 bits). Throws ConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& text);
bool TryStrToInt(const std::string& text, int32_t* value);
// "true"/"false" in any case, or a number (0 false, anything else true): an integer as
// StrToInt reads it, or a decimal one with a fraction or an exponent ("1.5", "0.0", "2e-3").
// Throws ConvertError "'%s' is not a valid boolean value".
bool StrToBool(const std::string& text);

// The address that a link label opens: empty when the address is too short to open, otherwise
// the address with "http://" in front unless it already holds "http" somewhere.
std::string LinkAddress(const std::string& address);

// Length of the well-formed UTF-8 sequence at s[i] (its code point in *code_point), 0 when there
// is none (a stray byte, an overlong form, a surrogate, a cut-off sequence).
size_t Utf8SequenceAt(const std::string& s, size_t i, uint32_t* code_point);

// Whether the whole string is well-formed UTF-8 (every sequence as Utf8SequenceAt accepts it).
bool IsUtf8(const std::string& text);

// Whether every byte is ASCII (below 0x80): the same text in every code page the engine reads.
bool IsAscii(const std::string& text);

// Appends a code point up to U+10FFFF as UTF-8.
void AppendUtf8(uint32_t code_point, std::string* out);

// The value of a hexadecimal digit (either case), -1 for any other character.
int HexDigit(char c);

// The character a Windows-1252 byte stands for. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control character of the same number, as Windows
// itself converts them.
uint32_t Cp1252CodePoint(unsigned char byte);

// Formats like printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quenvale

#endif  // QUENVALE_COMMON_STRINGS_H_
