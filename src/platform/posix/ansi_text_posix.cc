#include "common/ansi_text.h"
#include "common/code_page.h"

namespace quenvale {

// Without the system's code pages, the engine's own: Western Windows' ANSI and OEM ones.
std::string AnsiFromOem(const std::string& oem) { return Cp1252FromCp850(oem); }
std::string AnsiFromUtf8(const std::string& utf8) { return Cp1252FromUtf8(utf8); }
std::string AnsiLowerCase(const std::string& text) { return Cp1252LowerCase(text); }
bool IsAnsiLeadByte(unsigned char) { return false; }

}  // namespace quenvale
