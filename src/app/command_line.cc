#include "app/command_line.h"

#include "common/strings.h"

namespace quenvale {

namespace {

// A handle text that starts with a digit is taken whole, decimal or 0x-hexadecimal; anything
// that does not convert to a non-negative 32-bit signed value gives no handle.
uint32_t HandleFromText(const std::string& text) {
  uint64_t value = 0;
  size_t i = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return 0;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return 0;
  }
  // Hexadecimal fills all 32 bits of the signed value, so 0x80000000 and above are negative.
  if (value > 0x7FFFFFFFull) return 0;
  return static_cast<uint32_t>(value);
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  if (args.empty()) return result;

  std::string first = LowerCase(args[0]);
  if (first.size() > 1 && first[0] == '/') first.erase(0, 1);
  if (first.size() > 1 && first[0] == '-') first.erase(0, 1);

  switch (first.empty() ? '\0' : first[0]) {
    case 'a': result.mode = SaverMode::smChangePassword; break;
    case 'c': result.mode = SaverMode::smConfigure; break;
    case 'p':
    case 'l': result.mode = SaverMode::smPreview; break;
    case 's': result.mode = SaverMode::smSave; break;
    default: break;
  }

  std::string handle_text;
  if (first.size() > 2 && first[1] == ':') {
    handle_text = first.substr(2);
  } else if (args.size() > 1) {
    handle_text = args[1];
  } else {
    handle_text = first;
  }
  if (!handle_text.empty() && handle_text[0] >= '0' && handle_text[0] <= '9') {
    result.parent_window = HandleFromText(handle_text);
  }
  return result;
}

const char* SaverModeName(SaverMode mode) {
  switch (mode) {
    case SaverMode::smChangePassword: return "change-password";
    case SaverMode::smPreview: return "preview";
    case SaverMode::smConfigure: return "configure";
    case SaverMode::smSave: return "save";
  }
  return "?";
}

}  // namespace quenvale
