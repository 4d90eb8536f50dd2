// Writes a picture as a PNG, for saving what the decoders produce.
#ifndef QUENVALE_IMAGING_PNG_WRITER_H_
#define QUENVALE_IMAGING_PNG_WRITER_H_

#include <cstdint>
#include <vector>

#include "imaging/picture.h"

namespace quenvale {

// An 8-bit RGBA, non-interlaced PNG of `picture`. Each row takes the filter that leaves the
// smallest sum of absolute byte values; the data is deflated at level 6. Throws PictureError if
// the picture is empty or its pixel count does not match its size.
std::vector<uint8_t> EncodePng(const Picture& picture);

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_PNG_WRITER_H_
