#include "datafile/crc32.h"

#include <zlib.h>

namespace quenvale {

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

}  // namespace quenvale
