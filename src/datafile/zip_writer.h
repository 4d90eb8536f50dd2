// Writes a ZIP archive whose entries are all protected with the traditional PKWARE cipher.
// Used by saverpack to build data files; the engine never writes archives.
#ifndef QUENVALE_DATAFILE_ZIP_WRITER_H_
#define QUENVALE_DATAFILE_ZIP_WRITER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quenvale {

struct ZipWriterEntry {
  std::string name;             // UTF-8, relative, "/" separated, as stored in the archive
  std::vector<uint8_t> data;    // uncompressed content
  uint32_t dos_time_date = 0;   // MS-DOS time in the low, date in the high 16 bits
};

struct ZipWriterStats {
  std::string name;
  uint32_t size = 0;
  uint32_t compressed_size = 0;  // including the 12-byte encryption header
  uint16_t method = 0;           // 0 stored, 8 deflated
};

// Builds the whole archive in memory: each entry deflated (raw deflate, level 9) or stored when
// deflating does not make it smaller, then encrypted with `password`. `random_byte` supplies the
// encryption headers' random bytes. Throws std::runtime_error for an entry too large for the
// format (4 GiB) or a name longer than 259 bytes.
std::vector<uint8_t> WriteEncryptedZip(const std::vector<ZipWriterEntry>& entries,
                                       const std::string& password,
                                       const std::function<uint8_t()>& random_byte,
                                       std::vector<ZipWriterStats>* stats = nullptr);

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_ZIP_WRITER_H_
