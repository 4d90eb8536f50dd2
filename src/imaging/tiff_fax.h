// CCITT bi-level decoding for TIFF strips and tiles: modified Huffman (TIFF compression 2),
// ITU-T T.4 one- and two-dimensional coding (compression 3) and T.6 (compression 4), as the
// TIFF 6.0 document's sections 10 and 11 describe them.
#ifndef QUENVALE_IMAGING_TIFF_FAX_H_
#define QUENVALE_IMAGING_TIFF_FAX_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenvale {

enum class FaxMode {
  kModifiedHuffman,  // compression 2: 1-D rows, each starting on a byte, no EOL codes
  kGroup3,           // compression 3: rows after EOL codes, 2-D rows when T4Options bit 0
  kGroup4,           // compression 4: 2-D rows only, the first against an all-white row
};

// T4Options bit 0: two-dimensional coding may be used.
constexpr uint32_t kT4TwoDimensional = 1;
// T4Options and T6Options bit 1: uncompressed mode may be used, which this decoder does not
// do; the caller refuses such files.
constexpr uint32_t kFaxUncompressedMode = 2;

// Decodes `rows` rows of `width` pixels into `out`: 1-bit samples, most significant bit first,
// each row padded to a whole byte, white runs as 0 bits and black runs as 1 bits. `options` is
// T4Options for kGroup3 and unused otherwise. Writes at most out->size() bytes, whole rows only,
// and returns how many it wrote. Data that ends early or holds a code that cannot be decoded
// ends the rows there (the row in progress keeps what it had), except that in T.4 data the
// decoder looks for the next EOL code and carries on from it.
size_t DecodeFax(FaxMode mode, uint32_t options, const uint8_t* in, size_t size, uint32_t width,
                 uint32_t rows, std::vector<uint8_t>* out);

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_TIFF_FAX_H_
