// Feeds arbitrary bytes to the font-dialog object text reader; whatever it accepts must come
// back unchanged through the writer, and any bytes must survive as a font name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/font_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const quenvale::FontDialog dialog = quenvale::TextToComponent(text);
    if (quenvale::TextToComponent(quenvale::ComponentToText(dialog)) != dialog) __builtin_trap();
  } catch (const quenvale::ObjectTextError&) {
  }
  quenvale::FontDialog named;
  named.Font.Name = text;
  if (quenvale::TextToComponent(quenvale::ComponentToText(named)) != named) __builtin_trap();
  return 0;
}
