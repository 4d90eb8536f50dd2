// Reads any bytes as an archive and extracts every entry with the right password, a wrong one,
// and a handler that offers one more; nothing may crash, leak or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "datafile/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quenvale::ZipArchive archive;
  archive.OnMessage = [](const std::string&) {};
  archive.OnPasswordError = [](bool, std::string& new_password, const std::string&,
                               uint32_t& repeat_count, quenvale::MessageAction&) {
    if (repeat_count == 0) new_password = "fuzz";
  };
  archive.OpenMemory(std::vector<uint8_t>(data, data + size), "fuzz.zip");
  // "fuzz" opens the Info-ZIP seeds, "quenvalSEED." the one saverpack packed for "Seed.scr".
  for (const char* password : {"fuzz", "quenvalSEED.", "not the password"}) {
    archive.SetPassword(password);
    for (int i = 0; i < archive.EntryCount(); ++i) {
      const std::string name = archive.EntryAt(i).FileName;
      archive.ExtractEntryToMemory(name);
    }
  }
  return 0;
}
