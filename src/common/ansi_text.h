// Text in the system's ANSI code page, the code page of the engine's 8-bit strings. Windows
// converts with its own code pages (the user's ANSI and OEM ones); elsewhere the ANSI code page is
// Windows-1252 and the OEM one 850.
#ifndef QUENVALE_COMMON_ANSI_TEXT_H_
#define QUENVALE_COMMON_ANSI_TEXT_H_

#include <string>

namespace quenvale {

// Text in the OEM code page (MS-DOS file names) in the ANSI one.
std::string AnsiFromOem(const std::string& oem);
// UTF-8 text in the ANSI code page; what the code page cannot hold becomes "?".
std::string AnsiFromUtf8(const std::string& utf8);
// The text with every letter in lower case, as the system's case-insensitive comparison of ANSI
// text sees letters: two texts that differ only in letter case give the same result.
std::string AnsiLowerCase(const std::string& text);
// Whether the byte starts a two-byte character of the ANSI code page (never in Windows-1252).
bool IsAnsiLeadByte(unsigned char byte);

}  // namespace quenvale

#endif  // QUENVALE_COMMON_ANSI_TEXT_H_
