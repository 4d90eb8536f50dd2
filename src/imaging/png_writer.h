// Writes a picture as a PNG, for saving what the decoders produce.
#ifndef QUENVALE_IMAGING_PNG_WRITER_H_
#define QUENVALE_IMAGING_PNG_WRITER_H_

#include <cstdint>
#include <vector>

#include "imaging/picture.h"

namespace quenvale {

// How hard the compressor works: kSmall packs tightest (zlib level 6), kFast for pictures
// written by the hundred, such as rendered frames (level 1).
enum class PngEffort { kSmall, kFast };

// An 8-bit, non-interlaced PNG of `picture`: RGB when every pixel is opaque, else RGBA. Each row
// takes the filter that leaves the smallest sum of absolute byte values. Throws PictureError if
// the picture is empty or its pixel count does not match its size.
std::vector<uint8_t> EncodePng(const Picture& picture, PngEffort effort = PngEffort::kSmall);

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_PNG_WRITER_H_
