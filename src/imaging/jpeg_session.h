// libjpeg decompression with its errors caught, shared by the JPEG and TIFF decoders.
//
// libjpeg reports a fatal error by calling error_exit, which here longjmps back to the jump point
// of the step that called it. Every step is a plain function that sets its own jump point first
// and holds no object with a destructor, so that the longjmp skips nothing; the C++ side owns
// the session (JpegSessionPtr) and turns a failed step into PictureError.
#ifndef QUENVALE_IMAGING_JPEG_SESSION_H_
#define QUENVALE_IMAGING_JPEG_SESSION_H_

#include <csetjmp>
#include <memory>

// clang-format off
#include <cstddef>  // jpeglib.h needs size_t and FILE declared first
#include <cstdio>
#include <jpeglib.h>
// clang-format on

namespace quenvale {

struct JpegSession {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr error_manager;
  jpeg_progress_mgr progress;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool created = false;
};

// Creates the decompressor with the error handling above, memory held to the decoded-picture
// limit and the number of scans limited. Returns false with session->message set on failure.
bool CreateJpegDecompressor(JpegSession* session);

struct JpegSessionDeleter {
  void operator()(JpegSession* session) const;
};
using JpegSessionPtr = std::unique_ptr<JpegSession, JpegSessionDeleter>;

inline JpegSessionPtr NewJpegSession() { return JpegSessionPtr(new JpegSession()); }

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_JPEG_SESSION_H_
