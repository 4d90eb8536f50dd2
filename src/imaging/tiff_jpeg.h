// JPEG inside TIFF: compression 7 as TIFF Technical Note #2 describes it (each strip or tile its
// own JPEG stream, tables possibly shared through the JPEGTables tag), and the common case of
// old-style compression 6, where the file points at one complete JPEG stream for the image.
#ifndef QUENVALE_IMAGING_TIFF_JPEG_H_
#define QUENVALE_IMAGING_TIFF_JPEG_H_

#include <cstddef>
#include <cstdint>

#include "imaging/picture.h"

namespace quenvale {

// One JPEG-compressed strip or tile as the TIFF describes it.
struct TiffJpegChunk {
  uint32_t width = 0, height = 0;  // the chunk's full size; a strip's stream may hold fewer rows
  uint32_t samples = 1;            // samples per pixel in this chunk (1 per plane when planar)
  uint32_t bits = 8;
  bool ycbcr = false;  // Photometric 6: converted to RGB; anything else is passed through
  const uint8_t* tables = nullptr;  // the JPEGTables stream, if the file has one
  size_t tables_size = 0;
};

// Decodes one chunk's stream into `out`: rows of width x samples bytes, `row_bytes` apart, at
// most `out_size` bytes. Returns the bytes of the rows decoded; throws PictureError ("TIFF:
// ...") when the stream is unusable or does not fit the chunk.
size_t DecodeTiffJpegChunk(const TiffJpegChunk& chunk, const uint8_t* in, size_t in_size,
                           uint8_t* out, size_t row_bytes, size_t out_size);

// Old-style JPEG: the stream JPEGInterchangeFormat (`offset`) and JPEGInterchangeFormatLength
// (`length`) point at, which must be a whole width x height picture. A file without one
// (offset 0) is refused.
Picture DecodeOldStyleTiffJpeg(const uint8_t* data, size_t size, uint32_t offset, uint32_t length,
                               uint32_t width, uint32_t height);

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_TIFF_JPEG_H_
