// JPEG through libjpeg. The libjpeg calls live in plain functions that set their own jump point
// and hold no objects with destructors, so that a longjmp out of libjpeg skips nothing; the C++
// side owns the decompressor and turns a failed step into PictureError.
#include <csetjmp>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

// clang-format off
#include <cstddef>  // jpeglib.h needs size_t and FILE declared first
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/decoders.h"

namespace quenvale {
namespace {

// A progressive file may legally have any number of scans, each of which costs a pass over the
// whole coefficient buffer; real encoders write about ten. Far above that is a decoding bomb.
constexpr int kMaxScans = 1000;

struct JpegSession {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr error_manager;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool created = false;
};

void ErrorExit(j_common_ptr cinfo) {
  auto* session = static_cast<JpegSession*>(cinfo->client_data);
  (*cinfo->err->format_message)(cinfo, session->message);
  std::longjmp(session->jump, 1);
}

// Warnings (a missing end marker, a short final scan) leave a usable picture: stay silent.
void OutputMessage(j_common_ptr) {}

void Progress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    auto* session = static_cast<JpegSession*>(cinfo->client_data);
    std::snprintf(session->message, sizeof session->message, "more than %d scans", kMaxScans);
    std::longjmp(session->jump, 1);
  }
}

// Each step returns false with session->message set when libjpeg gave up.
bool ReadHeader(JpegSession* session, const uint8_t* data, size_t size) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  cinfo->err = jpeg_std_error(&session->error_manager);
  session->error_manager.error_exit = ErrorExit;
  session->error_manager.output_message = OutputMessage;
  if (setjmp(session->jump)) return false;
  jpeg_create_decompress(cinfo);
  session->created = true;
  cinfo->client_data = session;
  // Progressive files keep every coefficient in memory; hold that to the decoded-picture limit.
  cinfo->mem->max_memory_to_use = static_cast<long>(kMaxPictureBytes);
  session->progress.progress_monitor = Progress;
  cinfo->progress = &session->progress;
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
      cinfo->out_color_space = JCS_RGB;
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

bool Destroy(JpegSession* session) {
  if (setjmp(session->jump)) return false;
  jpeg_destroy_decompress(&session->cinfo);
  return true;
}

struct SessionDeleter {
  void operator()(JpegSession* session) const {
    if (session->created) Destroy(session);
    delete session;
  }
};

[[noreturn]] void Fail(const JpegSession& session) {
  throw PictureError(std::string("JPEG: ") + session.message);
}

}  // namespace

Picture DecodeJpeg(const uint8_t* data, size_t size) {
  if (size > std::numeric_limits<unsigned long>::max()) throw PictureError("JPEG: file too large");
  std::unique_ptr<JpegSession, SessionDeleter> session(new JpegSession());
  if (!ReadHeader(session.get(), data, size)) Fail(*session);
  const jpeg_decompress_struct& cinfo = session->cinfo;
  CheckPictureSize(cinfo.image_width, cinfo.image_height);
  if (!StartDecompress(session.get())) Fail(*session);

  Picture picture;
  picture.Allocate(cinfo.output_width, cinfo.output_height);
  std::unique_ptr<JSAMPLE[]> row(
      new JSAMPLE[static_cast<size_t>(cinfo.output_width) * cinfo.output_components]);
  if (!ReadRows(session.get(), row.get(), picture.pixels.data())) Fail(*session);
  return picture;
}

}  // namespace quenvale
