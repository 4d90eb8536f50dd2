// The 8-bit code pages the engine knows itself, for systems that do not convert text for it:
// Windows-1252 (the ANSI code page of Western Windows) and 850 (its OEM code page, the one
// MS-DOS and Windows' compressed folders write file names in).
#ifndef QUENVALE_COMMON_CODE_PAGE_H_
#define QUENVALE_COMMON_CODE_PAGE_H_

#include <cstdint>
#include <string>

namespace quenvale {

// The character a code-page-850 byte stands for.
uint32_t Cp850CodePoint(unsigned char byte);

// The Windows-1252 byte for a character; false when the code page has none. The exact inverse of
// Cp1252CodePoint, so all 256 bytes survive a way there and back.
bool Cp1252Byte(uint32_t code_point, unsigned char* byte);

// UTF-8 text in Windows-1252. A character the code page cannot hold, and each byte that is not
// part of a well-formed sequence, becomes "?".
std::string Cp1252FromUtf8(const std::string& utf8);
// Windows-1252 text in UTF-8.
std::string Utf8FromCp1252(const std::string& text);
// Code-page-850 text in Windows-1252; what 1252 has no letter for (box drawing) becomes "?".
std::string Cp1252FromCp850(const std::string& text);

// The first character of well-formed UTF-8 text that Windows-1252 cannot hold, 0 when every
// one fits.
uint32_t FirstNonCp1252(const std::string& utf8);

// Windows-1252 text in lower case: the ASCII letters, the accented capitals, and the four
// capitals of the 0x80 block (Š, Œ, Ž, Ÿ).
std::string Cp1252LowerCase(std::string text);

}  // namespace quenvale

#endif  // QUENVALE_COMMON_CODE_PAGE_H_
