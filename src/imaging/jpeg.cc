// JPEG through libjpeg, in the steps of a JpegSession (imaging/jpeg_session.h): plain functions
// that set their own jump point, so that a longjmp out of libjpeg skips nothing.
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "imaging/decoders.h"
#include "imaging/jpeg_session.h"

namespace quenvale {
namespace {

// Each step returns false with session->message set when libjpeg gave up.
bool ReadHeader(JpegSession* session, const uint8_t* data, size_t size) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  if (!CreateJpegDecompressor(session)) return false;
  if (setjmp(session->jump)) return false;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(cinfo, TRUE);
  return true;
}

bool StartDecompress(JpegSession* session) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  if (setjmp(session->jump)) return false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo->out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      break;
    default:
#if defined(JCS_EXTENSIONS) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
      // Our pixels are 0xAARRGGBB words, which little-endian memory holds as B, G, R, A: the
      // library can write them itself, straight into the picture.
      cinfo->out_color_space = JCS_EXT_BGRA;
#else
      cinfo->out_color_space = JCS_RGB;
#endif
      break;
  }
  jpeg_start_decompress(cinfo);
  return true;
}

inline uint32_t Scale255(uint32_t a, uint32_t b) { return (a * b + 127) / 255; }

// Decodes every row into `pixels` (output_width x output_height), converting as it goes.
bool ReadRows(JpegSession* session, JSAMPLE* row, uint32_t* pixels) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  if (setjmp(session->jump)) return false;
  const JDIMENSION width = cinfo->output_width;
  // Photoshop, and everything following it, stores Adobe-marked CMYK with the inks inverted.
  const bool inverted_cmyk = cinfo->saw_Adobe_marker;
#ifdef JCS_EXTENSIONS
  if (cinfo->out_color_space == JCS_EXT_BGRA) {
    JSAMPROW direct[8];
    while (cinfo->output_scanline < cinfo->output_height) {
      const JDIMENSION first = cinfo->output_scanline;
      const JDIMENSION n = std::min<JDIMENSION>(8, cinfo->output_height - first);
      for (JDIMENSION i = 0; i < n; ++i) {
        direct[i] = reinterpret_cast<JSAMPROW>(pixels + static_cast<size_t>(first + i) * width);
      }
      if (jpeg_read_scanlines(cinfo, direct, n) == 0) break;
    }
    jpeg_finish_decompress(cinfo);
    return true;
  }
#endif
  JSAMPROW rows[1] = {row};
  while (cinfo->output_scanline < cinfo->output_height) {
    uint32_t* out = pixels + static_cast<size_t>(cinfo->output_scanline) * width;
    if (jpeg_read_scanlines(cinfo, rows, 1) != 1) break;
    switch (cinfo->out_color_space) {
      case JCS_GRAYSCALE:
        for (JDIMENSION x = 0; x < width; ++x) out[x] = Rgb(row[x], row[x], row[x]);
        break;
      case JCS_CMYK:
        for (JDIMENSION x = 0; x < width; ++x) {
          const JSAMPLE* p = row + x * 4;
          uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
          if (!inverted_cmyk) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
          }
          // With inverted inks, each channel is simply (255 - ink) * (255 - black) / 255.
          out[x] = Rgb(Scale255(c, k), Scale255(m, k), Scale255(y, k));
        }
        break;
      default:
        for (JDIMENSION x = 0; x < width; ++x) {
          const JSAMPLE* p = row + x * 3;
          out[x] = Rgb(p[0], p[1], p[2]);
        }
        break;
    }
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

[[noreturn]] void Fail(const JpegSession& session) {
  throw PictureError(std::string("JPEG: ") + session.message);
}

}  // namespace

Picture DecodeJpeg(const uint8_t* data, size_t size) {
  if (size > std::numeric_limits<unsigned long>::max()) throw PictureError("JPEG: file too large");
  JpegSessionPtr session = NewJpegSession();
  if (!ReadHeader(session.get(), data, size)) Fail(*session);
  const jpeg_decompress_struct& cinfo = session->cinfo;
  CheckPictureSize(cinfo.image_width, cinfo.image_height);
  if (!StartDecompress(session.get())) Fail(*session);

  Picture picture;
  // Every row is written, or the decode fails (libjpeg's finish refuses a short read).
  picture.AllocateUnfilled(cinfo.output_width, cinfo.output_height);
  std::unique_ptr<JSAMPLE[]> row(
      new JSAMPLE[static_cast<size_t>(cinfo.output_width) * cinfo.output_components]);
  if (!ReadRows(session.get(), row.get(), picture.pixels.data())) Fail(*session);
  return picture;
}

}  // namespace quenvale
