// JPEG strips and tiles of a TIFF through libjpeg, in the steps of a JpegSession.
#include "imaging/tiff_jpeg.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/jpeg_session.h"

namespace quenvale {
namespace {

[[noreturn]] void Fail(const std::string& reason) { throw PictureError("TIFF: " + reason); }

[[noreturn]] void Fail(const JpegSession& session) {
  Fail(std::string("JPEG data: ") + session.message);
}

// Loads the shared tables (a tables-only stream, SOI to EOI) first, then reads the chunk's own
// header. Each step returns false with session->message set when libjpeg gave up.
bool ReadHeaders(JpegSession* session, const TiffJpegChunk& chunk, const uint8_t* in,
                 size_t in_size) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  if (!CreateJpegDecompressor(session)) return false;
  if (setjmp(session->jump)) return false;
  if (chunk.tables) {
    jpeg_mem_src(cinfo, chunk.tables, static_cast<unsigned long>(chunk.tables_size));
    if (jpeg_read_header(cinfo, FALSE) != JPEG_HEADER_TABLES_ONLY) {
      std::snprintf(session->message, sizeof session->message, "JPEGTables holds an image");
      return false;
    }
  }
  jpeg_mem_src(cinfo, in, static_cast<unsigned long>(in_size));
  jpeg_read_header(cinfo, TRUE);
  return true;
}

bool StartDecompress(JpegSession* session, J_COLOR_SPACE stored, J_COLOR_SPACE wanted) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  if (setjmp(session->jump)) return false;
  // The TIFF, not libjpeg's guess from markers, says what the components are.
  cinfo->jpeg_color_space = stored;
  cinfo->out_color_space = wanted;
  jpeg_start_decompress(cinfo);
  return true;
}

// Decodes the rows through `row` (output_width x output_components) into `out`, each cut to
// `copy` bytes; `rows` counts the rows done.
bool ReadRows(JpegSession* session, JSAMPLE* row, uint8_t* out, size_t row_bytes, size_t copy,
              JDIMENSION* rows) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  if (setjmp(session->jump)) return false;
  JSAMPROW rows_in[1] = {row};
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION y = cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, rows_in, 1) != 1) break;
    std::memcpy(out + y * row_bytes, row, copy);
    *rows = y + 1;
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

// How the stream's components are stored and wanted: YCbCr is converted, the rest passed on.
void ColourSpaces(const TiffJpegChunk& chunk, J_COLOR_SPACE* stored, J_COLOR_SPACE* wanted) {
  if (chunk.ycbcr) {
    *stored = JCS_YCbCr;
    *wanted = JCS_RGB;
    return;
  }
  switch (chunk.samples) {
    case 1:
      *stored = JCS_GRAYSCALE;
      break;
    case 3:
      *stored = JCS_RGB;
      break;
    case 4:
      *stored = JCS_CMYK;  // TIFF's inks (or RGB and alpha) as stored: no Adobe-style inversion
      break;
    default:
      *stored = JCS_UNKNOWN;
      break;
  }
  *wanted = *stored;
}

}  // namespace

size_t DecodeTiffJpegChunk(const TiffJpegChunk& chunk, const uint8_t* in, size_t in_size,
                           uint8_t* out, size_t row_bytes, size_t out_size) {
  if (chunk.bits != 8) Fail("JPEG compression with " + std::to_string(chunk.bits) + "-bit samples");
  if (chunk.ycbcr && chunk.samples != 3) Fail("YCbCr JPEG needs three samples per pixel");
  if (in_size > std::numeric_limits<unsigned long>::max() ||
      chunk.tables_size > std::numeric_limits<unsigned long>::max()) {
    Fail("JPEG data too large");
  }
  const uint64_t row_samples = uint64_t{chunk.width} * chunk.samples;
  if (row_samples > row_bytes || uint64_t{row_bytes} * chunk.height > out_size) {
    Fail("JPEG strip or tile larger than its buffer");
  }
  JpegSessionPtr session = NewJpegSession();
  if (!ReadHeaders(session.get(), chunk, in, in_size)) Fail(*session);
  const jpeg_decompress_struct& cinfo = session->cinfo;
  // A strip at the bottom of the image may hold fewer rows than RowsPerStrip, never more.
  if (cinfo.image_width != chunk.width || cinfo.image_height > chunk.height ||
      cinfo.image_height == 0) {
    Fail("JPEG data is " + std::to_string(cinfo.image_width) + " x " +
         std::to_string(cinfo.image_height) + " for a " + std::to_string(chunk.width) + " x " +
         std::to_string(chunk.height) + " strip or tile");
  }
  if (static_cast<uint32_t>(cinfo.num_components) != chunk.samples) {
    Fail("JPEG data has " + std::to_string(cinfo.num_components) + " components for " +
         std::to_string(chunk.samples) + " samples");
  }
  J_COLOR_SPACE stored, wanted;
  ColourSpaces(chunk, &stored, &wanted);
  if (!StartDecompress(session.get(), stored, wanted)) Fail(*session);
  if (cinfo.output_width != chunk.width ||
      static_cast<uint32_t>(cinfo.output_components) != chunk.samples) {
    Fail("JPEG data decodes to an unexpected size");
  }
  std::vector<JSAMPLE> row(static_cast<size_t>(row_samples));
  JDIMENSION rows = 0;
  if (!ReadRows(session.get(), row.data(), out, row_bytes, row.size(), &rows)) Fail(*session);
  return static_cast<size_t>(rows) * row_bytes;
}

Picture DecodeOldStyleTiffJpeg(const uint8_t* data, size_t size, uint32_t offset, uint32_t length,
                               uint32_t width, uint32_t height) {
  if (offset == 0) Fail("old-style JPEG without an interchange stream is not supported");
  if (offset >= size) Fail("old-style JPEG stream outside the file");
  // Some writers get the length wrong; the stream ends at its EOI marker in any case.
  const size_t available = size - offset;
  const size_t stream_size = length == 0 ? available : std::min<size_t>(length, available);
  Picture picture;
  try {
    picture = DecodeJpeg(data + offset, stream_size);
  } catch (const PictureError& e) {
    Fail(std::string("old-style ") + e.what());
  }
  if (static_cast<uint32_t>(picture.width) != width ||
      static_cast<uint32_t>(picture.height) != height) {
    Fail("old-style JPEG stream is " + std::to_string(picture.width) + " x " +
         std::to_string(picture.height) + " for a " + std::to_string(width) + " x " +
         std::to_string(height) + " image");
  }
  return picture;
}

}  // namespace quenvale
