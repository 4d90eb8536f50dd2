// Decodes arbitrary bytes through the format registry: by content, and under every registered
// extension, so that each decoder sees the input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/format_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the extension, so the fuzzer can steer inputs to any decoder.
  const auto& extensions = quenvale::FileFormats().Extensions();
  const std::string name = "picture." + extensions[data[0] % extensions.size()].extension;
  quenvale::Picture picture;
  try {
    quenvale::DecodePicture(data + 1, size - 1, name, &picture);
  } catch (const quenvale::PictureError&) {
  }
  return 0;
}
