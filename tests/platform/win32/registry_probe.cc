// Writes three values through RegistryValueStore for registry_reg_query_test.sh, which reads
// them back with Wine's own reg tool:
//   registry_probe KEY DWORD LINE1 LINE2 HEXBYTES
// KEY is below HKEY_CURRENT_USER; "Count" gets DWORD (decimal), "Text" the two lines joined
// by CR LF, "Blob" the bytes.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/win32/registry_value_store.h"

int main(int argc, char** argv) {
  using quenvale::RegistryData;
  if (argc != 6) {
    std::fprintf(stderr, "usage: registry_probe KEY DWORD LINE1 LINE2 HEXBYTES\n");
    return 2;
  }
  const std::string hex = argv[5];
  std::string blob;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    blob += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  quenvale::RegistryValueStore store;
  std::unique_ptr<quenvale::ValueKey> key = store.OpenKey(argv[1], true);
  if (key == nullptr) {
    std::fprintf(stderr, "registry_probe: cannot create %s\n", argv[1]);
    return 1;
  }
  const bool written =
      key->WriteValue("Count", RegistryData::Dword(std::strtoul(argv[2], nullptr, 10))) &&
      key->WriteValue("Text", RegistryData::String(std::string(argv[3]) + "\r\n" + argv[4])) &&
      key->WriteValue("Blob", RegistryData::Binary(blob));
  key->Close();
  if (!written) {
    std::fprintf(stderr, "registry_probe: a write was refused\n");
    return 1;
  }
  return 0;
}
