// An animated WebP made frame by frame with libwebp's animation encoder, for renders small
// enough to post on a web page.
#ifndef QUENVALE_TOOLS_SAVERPACK_WEBP_ANIMATION_H_
#define QUENVALE_TOOLS_SAVERPACK_WEBP_ANIMATION_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/picture.h"

namespace saverpack {

// A frame that changes most of the picture (the first, a new set's background) is a photograph
// and goes lossy. Every other frame goes lossless, as the pixels that changed since the frame
// before, the rest left transparent: sprites that move a little change few pixels, which lossless
// holds exactly and in fewer bytes than lossy at any quality worth seeing (the demo at 640x480,
// 60 frames a second: 5.5 KB a frame lossless, 7.7 KB lossy at quality 30, 12.5 KB at 70). The
// lossy frame stays on show behind the sprites, so it gets a high quality and the sharper colour
// conversion, for a few percent of the file (33 KB of the demo's 1.2 MB at 640x480).
//
// Measured on the demo at 640x480, 600 frames of which 200 kept (1.5 MB): method 6 saves nothing
// and takes a quarter longer, method 0 doubles the size; lossless effort 100 saves 0.7% in 2.4
// times the time. Key frames are left to libwebp, which makes none after the first; one every 60
// frames would add 11%. libwebp's own mixed mode (allow_mixed) stays off: it tries lossless only
// on frames of fewer than 194 colours, so these frames would all go lossy, 87% larger.
struct WebPAnimationOptions {
  float lossy_quality = 90;    // 0 (smallest) to 100
  float lossless_effort = 75;  // 0 (fastest) to 100 (smallest)
  int method = 4;              // 0 (fastest) to 6 (smallest), both kinds
};

class WebPAnimation {
 public:
  // Throws Failure if libwebp refuses the size or the options.
  WebPAnimation(int32_t width, int32_t height, const WebPAnimationOptions& options);
  ~WebPAnimation();
  WebPAnimation(const WebPAnimation&) = delete;
  WebPAnimation& operator=(const WebPAnimation&) = delete;

  // The next frame, shown from `timestamp_ms` (not earlier than the frame before) until the next
  // one starts. The picture must have the animation's size; its alpha is kept. Throws Failure
  // with libwebp's reason.
  void Add(const quenvale::Picture& frame, int timestamp_ms);
  // The WebP file, its last frame shown until `end_timestamp_ms`. Nothing may be added after.
  std::vector<uint8_t> Finish(int end_timestamp_ms);

  int FramesAdded() const { return frames_; }

 private:
  struct Encoder;
  std::unique_ptr<Encoder> encoder_;
  int32_t width_;
  int32_t height_;
  int frames_ = 0;
  bool finished_ = false;
};

}  // namespace saverpack

#endif  // QUENVALE_TOOLS_SAVERPACK_WEBP_ANIMATION_H_
