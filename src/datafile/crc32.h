#ifndef QUENVALE_DATAFILE_CRC32_H_
#define QUENVALE_DATAFILE_CRC32_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace quenvale {

// The CRC-32 of ZIP (polynomial 0xEDB88320, reflected). Pass the previous result to continue.
uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0);
namespace crc32_detail {
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> kTable = MakeTable();
}  // namespace crc32_detail

// One step of the table-driven update on the raw (not inverted) register, as the cipher uses it
// twice a byte; inline, so that the cipher's loop keeps everything in registers.
inline uint32_t Crc32Byte(uint32_t reg, uint8_t byte) {
  return crc32_detail::kTable[(reg ^ byte) & 0xFF] ^ (reg >> 8);
}

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_CRC32_H_
