#include "datafile/zip_writer.h"

#include <zlib.h>

#include <stdexcept>

#include "common/strings.h"
#include "datafile/crc32.h"
#include "datafile/pkware_cipher.h"
#include "datafile/zip_format.h"

namespace quenvale {
namespace {

using namespace zipformat;

constexpr uint16_t kVersion = 20;  // 2.0: deflate and the traditional cipher
constexpr uint32_t kAttributeArchive = 0x20;
constexpr size_t kMaxNameLength = 259;
constexpr size_t kMaxEntries = 0xFFFF;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;

// Raw deflate at level 9; empty when the result would not be smaller than the input.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  if (data.empty()) return out;
  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("cannot start the deflate compressor");
  }
  out.resize(deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  const uLong produced = zs.total_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  if (produced >= data.size())
    out.clear();
  else
    out.resize(produced);
  return out;
}

struct CentralRecord {
  const ZipWriterEntry* entry;
  uint16_t method;
  uint32_t crc;
  uint32_t compressed_size;
  uint32_t offset;
  uint16_t flags;
};

// Every entry is encrypted; a name beyond ASCII is flagged as UTF-8, which readers convert to
// their own code page (plain ASCII needs no flag).
uint16_t NameFlags(const std::string& name) {
  return IsAscii(name) ? kFlagEncrypted : kFlagEncrypted | kFlagUtf8Name;
}

// Made by 2.0 on MS-DOS, or for a UTF-8 name on Windows NTFS: Info-ZIP's unzip takes an MS-DOS
// name for the OEM code page even when the flag says UTF-8.
uint16_t VersionMadeBy(const std::string& name) {
  return IsAscii(name) ? kVersion : static_cast<uint16_t>(kHostWindowsNtfs << 8 | kVersion);
}

}  // namespace

std::vector<uint8_t> WriteEncryptedZip(const std::vector<ZipWriterEntry>& entries,
                                       const std::string& password,
                                       const std::function<uint8_t()>& random_byte,
                                       std::vector<ZipWriterStats>* stats) {
  if (entries.size() > kMaxEntries) {
    throw std::runtime_error("too many entries for a ZIP archive: " +
                             std::to_string(entries.size()));
  }
  for (const ZipWriterEntry& e : entries) {
    if (e.name.size() > kMaxNameLength) {
      throw std::runtime_error("name longer than 259 bytes: " + e.name);
    }
    if (e.data.size() > kMax32) throw std::runtime_error("entry larger than 4 GiB: " + e.name);
  }
  if (stats != nullptr) stats->clear();

  std::vector<uint8_t> out;
  std::vector<CentralRecord> records;
  records.reserve(entries.size());
  for (const ZipWriterEntry& e : entries) {
    const uint32_t crc = Crc32(e.data.data(), e.data.size());
    std::vector<uint8_t> deflated = Deflate(e.data);
    const bool stored = deflated.empty();
    const std::vector<uint8_t>& payload = stored ? e.data : deflated;
    const uint64_t compressed = PkwareCipher::kHeaderSize + uint64_t{payload.size()};
    if (compressed > kMax32 || out.size() + kLocalSize + e.name.size() + compressed > kMax32) {
      throw std::runtime_error("archive larger than 4 GiB at entry " + e.name);
    }

    CentralRecord rec{&e,
                      stored ? kMethodStored : kMethodDeflated,
                      crc,
                      static_cast<uint32_t>(compressed),
                      static_cast<uint32_t>(out.size()),
                      NameFlags(e.name)};
    Put32(out, kLocalSignature);
    Put16(out, kVersion);
    Put16(out, rec.flags);
    Put16(out, rec.method);
    Put32(out, e.dos_time_date);
    Put32(out, crc);
    Put32(out, rec.compressed_size);
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, 0);
    out.insert(out.end(), e.name.begin(), e.name.end());

    // The CRC is known up front, so its high byte is the header's check byte.
    const size_t start = out.size();
    for (size_t i = 0; i + 1 < PkwareCipher::kHeaderSize; ++i) out.push_back(random_byte());
    out.push_back(static_cast<uint8_t>(crc >> 24));
    out.insert(out.end(), payload.begin(), payload.end());
    PkwareCipher(password).Encrypt(out.data() + start, out.size() - start);

    records.push_back(rec);
    if (stats != nullptr) {
      stats->push_back(
          {e.name, static_cast<uint32_t>(e.data.size()), rec.compressed_size, rec.method});
    }
  }

  const uint64_t dir_offset = out.size();
  for (const CentralRecord& rec : records) {
    const ZipWriterEntry& e = *rec.entry;
    Put32(out, kCentralSignature);
    Put16(out, VersionMadeBy(e.name));
    Put16(out, kVersion);
    Put16(out, rec.flags);
    Put16(out, rec.method);
    Put32(out, e.dos_time_date);
    Put32(out, rec.crc);
    Put32(out, rec.compressed_size);
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, 0);  // extra field
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk number
    Put16(out, 0);  // internal attributes
    Put32(out, kAttributeArchive);
    Put32(out, rec.offset);
    out.insert(out.end(), e.name.begin(), e.name.end());
  }
  const uint64_t dir_size = out.size() - dir_offset;
  if (out.size() + kEndSize > kMax32) throw std::runtime_error("archive larger than 4 GiB");

  Put32(out, kEndSignature);
  Put16(out, 0);  // this disk
  Put16(out, 0);  // disk with the directory
  Put16(out, static_cast<uint32_t>(records.size()));
  Put16(out, static_cast<uint32_t>(records.size()));
  Put32(out, static_cast<uint32_t>(dir_size));
  Put32(out, static_cast<uint32_t>(dir_offset));
  Put16(out, 0);  // comment
  return out;
}

}  // namespace quenvale
