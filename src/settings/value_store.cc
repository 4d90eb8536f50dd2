#include "settings/value_store.h"

namespace quenvale {

RegistryData RegistryData::Dword(uint32_t value) {
  RegistryData data;
  data.type = kRegDword;
  for (int i = 0; i < 4; ++i) data.bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  return data;
}

RegistryData RegistryData::String(const std::string& text) {
  RegistryData data;
  data.type = kRegSz;
  data.bytes = text;
  data.bytes += '\0';
  return data;
}

RegistryData RegistryData::Binary(const std::string& bytes) {
  RegistryData data;
  data.type = kRegBinary;
  data.bytes = bytes;
  return data;
}

}  // namespace quenvale
