// Helpers for tests that build, damage and inspect ZIP archives, or drive peer tools.
#ifndef QUENVALE_TESTS_DATAFILE_ZIP_TEST_UTIL_H_
#define QUENVALE_TESTS_DATAFILE_ZIP_TEST_UTIL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "datafile/zip_writer.h"

namespace quenvale {
namespace testutil {

// Runs `command` through the shell; true when it exits with status 0. Standard output goes to
// `output` when given.
bool RunCommand(const std::string& command, std::string* output = nullptr);
bool HaveCommand(const std::string& name);
// Quotes `s` as one word for a POSIX shell.
std::string ShellQuote(const std::string& s);

// A fresh folder under the system's temporary folder, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Creates missing parent folders.
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

std::vector<uint8_t> Bytes(const std::string& text);
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);  // incompressible
std::vector<uint8_t> TextBytes(size_t n, uint32_t seed);    // deflates well

// WriteEncryptedZip with a seeded random source, so the same call gives the same bytes.
std::vector<uint8_t> MakeEncryptedZip(const std::vector<ZipWriterEntry>& entries,
                                      const std::string& password, uint32_t seed = 1);
std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data);

// One entry of a hand-made archive. `payload` is written verbatim after the local header, so it
// is already compressed and encrypted; every field can be set to something inconsistent.
struct RawZipEntry {
  std::string name;
  std::vector<uint8_t> payload;
  uint16_t flag = 0;
  uint16_t method = 0;
  uint32_t dos_time_date = 0;
  uint32_t crc32 = 0;
  uint32_t uncompressed_size = 0;
  std::optional<uint32_t> compressed_size;      // default: payload size
  std::optional<uint32_t> local_header_offset;  // default: where the local header really is
  uint16_t version_made_by = 20;  // the maker's host system in the high byte: 0, MS-DOS
  std::string extra;              // the central record's extra field
  uint32_t local_signature = 0x04034b50;
  uint32_t central_signature = 0x02014b50;
};

struct RawEntryOptions {
  bool deflate = false;
  std::optional<std::string> password;  // encrypt with the traditional cipher
  bool data_descriptor = false;         // flag bit 3: the header checks the time, not the CRC
  uint32_t dos_time_date = 0x5A2B7C31;
};

// A consistent entry for `content`, ready to be damaged field by field.
RawZipEntry MakeRawEntry(const std::string& name, const std::vector<uint8_t>& content,
                         const RawEntryOptions& options = {});

struct RawZip {
  std::vector<uint8_t> bytes;
  std::vector<size_t> payload_offsets;  // where each entry's payload starts
  size_t dir_offset = 0;
  size_t end_offset = 0;
};

// Lays out local headers with payloads, the central directory and the end record. The end
// record's fields can be overridden to point anywhere.
struct RawZipBuilder {
  std::vector<RawZipEntry> entries;
  std::string comment;
  std::optional<uint16_t> entry_count;
  std::optional<uint32_t> dir_offset;
  std::optional<uint32_t> dir_size;
  // A ZIP64 end record and its locator before the end record, whose count, size and offset
  // then hold their maxima (unless overridden above), as a ZIP64 writer leaves them.
  bool zip64_end = false;

  RawZip Build() const;
};

}  // namespace testutil
}  // namespace quenvale

#endif  // QUENVALE_TESTS_DATAFILE_ZIP_TEST_UTIL_H_
