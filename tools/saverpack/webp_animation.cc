#include "saverpack/webp_animation.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <string>

#include "saverpack/saverpack.h"

namespace saverpack {

namespace {

struct AnimEncoderDeleter {
  void operator()(WebPAnimEncoder* encoder) const { WebPAnimEncoderDelete(encoder); }
};

// A picture with pixels of its own, freed with it.
struct OwnedPicture {
  OwnedPicture() { WebPPictureInit(&picture); }
  ~OwnedPicture() { WebPPictureFree(&picture); }
  OwnedPicture(const OwnedPicture&) = delete;
  OwnedPicture& operator=(const OwnedPicture&) = delete;
  WebPPicture picture;
};

// The bytes of an assembled animation, freed with it.
struct OwnedData {
  OwnedData() { WebPDataInit(&data); }
  ~OwnedData() { WebPDataClear(&data); }
  OwnedData(const OwnedData&) = delete;
  OwnedData& operator=(const OwnedData&) = delete;
  WebPData data;
};

std::string EncoderError(WebPAnimEncoder* encoder, const char* fallback) {
  const char* error = WebPAnimEncoderGetError(encoder);
  return error != nullptr && *error != '\0' ? error : fallback;
}

}  // namespace

struct WebPAnimation::Encoder {
  std::unique_ptr<WebPAnimEncoder, AnimEncoderDeleter> encoder;
  WebPConfig lossy;
  WebPConfig lossless;
  OwnedPicture frame;
  std::vector<uint32_t> previous;  // the last frame added
};

WebPAnimation::WebPAnimation(int32_t width, int32_t height, const WebPAnimationOptions& options)
    : encoder_(std::make_unique<Encoder>()), width_(width), height_(height) {
  if (width < 1 || height < 1 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION) {
    throw Failure("WebP pictures are 1 to " + std::to_string(WEBP_MAX_DIMENSION) +
                  " pixels each way, not " + std::to_string(width) + "x" + std::to_string(height));
  }
  WebPAnimEncoderOptions anim;
  if (!WebPAnimEncoderOptionsInit(&anim) || !WebPConfigInit(&encoder_->lossy) ||
      !WebPConfigInit(&encoder_->lossless)) {
    throw Failure("this libwebp does not match the headers saverpack was built with");
  }
  anim.anim_params.loop_count = 0;        // for ever
  anim.anim_params.bgcolor = 0xFF000000;  // opaque black, as the screen starts
  WebPConfig& lossy = encoder_->lossy;
  lossy.quality = options.lossy_quality;
  lossy.method = options.method;
  lossy.use_sharp_yuv = 1;
  WebPConfig& lossless = encoder_->lossless;
  lossless.lossless = 1;
  lossless.quality = options.lossless_effort;
  lossless.method = options.method;
  if (!WebPValidateConfig(&lossy) || !WebPValidateConfig(&lossless)) {
    throw Failure("WebP quality and effort want 0 to 100, method 0 to 6");
  }

  encoder_->encoder.reset(WebPAnimEncoderNew(width, height, &anim));
  if (!encoder_->encoder) throw Failure("out of memory for the WebP encoder");
  WebPPicture& frame = encoder_->frame.picture;
  frame.use_argb = 1;
  frame.width = width;
  frame.height = height;
  if (!WebPPictureAlloc(&frame)) throw Failure("out of memory for a WebP frame");
}

WebPAnimation::~WebPAnimation() = default;

void WebPAnimation::Add(const quenvale::Picture& picture, int timestamp_ms) {
  if (finished_) throw Failure("WebP frame added after the animation was finished");
  if (picture.width != width_ || picture.height != height_ ||
      picture.pixels.size() != static_cast<size_t>(width_) * height_) {
    throw Failure("WebP frame of " + std::to_string(picture.width) + "x" +
                  std::to_string(picture.height) + " in an animation of " + std::to_string(width_) +
                  "x" + std::to_string(height_));
  }
  // Both hold 0xAARRGGBB words, rows top to bottom; only the stride may differ.
  WebPPicture& frame = encoder_->frame.picture;
  for (int32_t y = 0; y < height_; ++y) {
    std::memcpy(frame.argb + static_cast<size_t>(y) * frame.argb_stride,
                picture.pixels.data() + static_cast<size_t>(y) * width_,
                static_cast<size_t>(width_) * sizeof(uint32_t));
  }
  ++frames_;
  // Lossy only when most of the picture changed (the first frame, a new set's background).
  size_t changed = picture.pixels.size();
  if (!encoder_->previous.empty()) {
    changed = 0;
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
      changed += picture.pixels[i] != encoder_->previous[i];
    }
  }
  const bool lossy = changed * 2 > picture.pixels.size();
  encoder_->previous.assign(picture.pixels.begin(), picture.pixels.end());
  if (!WebPAnimEncoderAdd(encoder_->encoder.get(), &frame, timestamp_ms,
                          lossy ? &encoder_->lossy : &encoder_->lossless)) {
    throw Failure("WebP frame " + std::to_string(frames_) + ": " +
                  EncoderError(encoder_->encoder.get(), "the encoder refused it"));
  }
}

std::vector<uint8_t> WebPAnimation::Finish(int end_timestamp_ms) {
  if (finished_) throw Failure("WebP animation finished twice");
  finished_ = true;
  WebPAnimEncoder* encoder = encoder_->encoder.get();
  // A frame of none ends the last one at the given time.
  if (!WebPAnimEncoderAdd(encoder, nullptr, end_timestamp_ms, nullptr)) {
    throw Failure("WebP animation end: " + EncoderError(encoder, "the encoder refused it"));
  }
  OwnedData out;
  if (!WebPAnimEncoderAssemble(encoder, &out.data)) {
    throw Failure("WebP animation: " + EncoderError(encoder, "assembly failed"));
  }
  return std::vector<uint8_t>(out.data.bytes, out.data.bytes + out.data.size);
}

}  // namespace saverpack
