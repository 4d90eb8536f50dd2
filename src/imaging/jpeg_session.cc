#include "imaging/jpeg_session.h"

#include "imaging/picture.h"

namespace quenvale {
namespace {

// A progressive file may legally have any number of scans, each of which costs a pass over the
// whole coefficient buffer; real encoders write about ten. Far above that is a decoding bomb.
constexpr int kMaxScans = 1000;

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

bool Destroy(JpegSession* session) {
  if (setjmp(session->jump)) return false;
  jpeg_destroy_decompress(&session->cinfo);
  return true;
}

}  // namespace

bool CreateJpegDecompressor(JpegSession* session) {
  jpeg_decompress_struct* cinfo = &session->cinfo;
  cinfo->err = jpeg_std_error(&session->error_manager);
  session->error_manager.error_exit = ErrorExit;
  session->error_manager.output_message = OutputMessage;
  // Set before creating too: libjpeg keeps it, and a failure inside creation needs it.
  cinfo->client_data = session;
  if (setjmp(session->jump)) return false;
  jpeg_create_decompress(cinfo);
  session->created = true;
  // Progressive files keep every coefficient in memory; hold that to the decoded-picture limit.
  cinfo->mem->max_memory_to_use = static_cast<long>(kMaxPictureBytes);
  session->progress.progress_monitor = Progress;
  cinfo->progress = &session->progress;
  return true;
}

void JpegSessionDeleter::operator()(JpegSession* session) const {
  if (session->created) Destroy(session);
  delete session;
}

}  // namespace quenvale
