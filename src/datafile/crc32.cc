#include "datafile/crc32.h"

#include <zlib.h>

#include <array>

namespace quenvale {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc) {
  // zlib's routine works on many bytes per step; its length parameter is only 32 bits wide.
  constexpr size_t kMaxChunk = size_t{1} << 30;
  uLong value = crc;
  while (n > 0) {
    const size_t chunk = n < kMaxChunk ? n : kMaxChunk;
    value = crc32(value, data, static_cast<uInt>(chunk));
    data += chunk;
    n -= chunk;
  }
  return static_cast<uint32_t>(value);
}

uint32_t Crc32Byte(uint32_t reg, uint8_t byte) {
  return kCrcTable[(reg ^ byte) & 0xFF] ^ (reg >> 8);
}

}  // namespace quenvale
