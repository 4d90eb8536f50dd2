#ifndef QUENVALE_DATAFILE_CRC32_H_
#define QUENVALE_DATAFILE_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace quenvale {

// The CRC-32 of ZIP (polynomial 0xEDB88320, reflected). Pass the previous result to continue.
uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0);
// One step of the table-driven update on the raw (not inverted) register, as the cipher uses it.
uint32_t Crc32Byte(uint32_t reg, uint8_t byte);

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_CRC32_H_
