// Dr. Halo CUT: a 6-byte little-endian header (width, height, reserved), then one run-length
// line per row behind its byte count. The colours live in a separate palette file, so the
// indices are shown as grey levels: index n is grey n, except that a picture using only indices
// 0 and 1 is shown black and white.
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {

Picture DecodeCut(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "CUT");
  const uint16_t width = reader.U16LE();
  const uint16_t height = reader.U16LE();
  reader.Skip(2);
  CheckPictureSize(width, height);
  // Every line takes at least its two-byte count.
  if (static_cast<uint64_t>(height) * 2 > reader.Remaining()) reader.Truncated();

  std::vector<uint8_t> indices(static_cast<size_t>(width) * height, 0);
  for (uint32_t y = 0; y < height; ++y) {
    const uint16_t length = reader.U16LE();
    const uint8_t* line = reader.Take(length);
    uint8_t* out = &indices[static_cast<size_t>(y) * width];
    size_t in = 0;
    size_t x = 0;
    while (in < length) {
      const uint8_t control = line[in++];
      const size_t count = control & 0x7F;
      if (count == 0) break;  // end of line
      if (count > width - x) reader.Fail("run overflows the line");
      if (control & 0x80) {
        if (in >= length) reader.Truncated();
        const uint8_t value = line[in++];
        for (size_t i = 0; i < count; ++i) out[x++] = value;
      } else {
        if (count > length - in) reader.Truncated();
        for (size_t i = 0; i < count; ++i) out[x++] = line[in++];
      }
    }
    // A line that stops early leaves the rest of its row at index 0.
  }

  uint8_t highest = 0;
  for (uint8_t v : indices) highest = v > highest ? v : highest;
  const bool bilevel = highest <= 1;
  Picture picture;
  picture.Allocate(width, height);
  for (size_t i = 0; i < indices.size(); ++i) {
    const uint32_t grey = bilevel ? indices[i] * 255u : indices[i];
    picture.pixels[i] = Rgb(grey, grey, grey);
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool CutAcceptsContent(MemoryStream&) { return false; }

}  // namespace quenvale
