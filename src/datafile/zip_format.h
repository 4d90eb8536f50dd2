// Record signatures, sizes and flags of the ZIP format, and its little-endian fields.
#ifndef QUENVALE_DATAFILE_ZIP_FORMAT_H_
#define QUENVALE_DATAFILE_ZIP_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenvale {
namespace zipformat {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kLocalSize = 30;
constexpr size_t kCentralSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64LocatorSize = 20;  // stands right before the end record
// A field at its maximum says that the real value is in a ZIP64 record.
constexpr uint16_t kZip64Count = 0xFFFF;
constexpr uint32_t kZip64Value = 0xFFFFFFFF;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagUtf8Name = 0x0800;  // the name (and comment) are UTF-8

// Host systems of the maker, in the high byte of "version made by".
constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostHpfs = 6;
constexpr uint8_t kHostWindowsNtfs = 10;
constexpr uint8_t kHostNtfs = 11;  // Info-ZIP's number for NTFS
constexpr uint8_t kHostOsx = 19;

// The extra field that carries a UTF-8 name beside a name in another code page: version 1, the
// CRC-32 of the header's name, the UTF-8 name.
constexpr uint16_t kUnicodePathTag = 0x7075;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace zipformat
}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_ZIP_FORMAT_H_
