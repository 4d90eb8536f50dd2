// Autodesk Animator PIC and CEL: a 32-byte little-endian header, a 256-entry palette of 6-bit
// components, then one index byte per pixel, left to right, top to bottom. Only the headed form
// is read; the header-less screen dumps of the earliest versions are refused.
#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

// 0..63 spread over 0..255 so that 63 is white: the top bits repeat into the bottom ones.
inline uint32_t Expand6(uint8_t v) {
  const uint32_t c = v > 63 ? 63 : v;
  return (c << 2) | (c >> 4);
}

}  // namespace

Picture DecodeAutodesk(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "Autodesk");
  if (reader.U16LE() != 0x9119) reader.Fail("not an Animator picture");
  const uint16_t width = reader.U16LE();
  const uint16_t height = reader.U16LE();
  reader.Skip(4);  // placement on the screen
  const uint8_t depth = reader.U8();
  const uint8_t compression = reader.U8();
  reader.Skip(4 + 16);  // data size (recomputed from the dimensions), reserved
  if (depth != 8) reader.Fail("unsupported depth");
  if (compression != 0) reader.Fail("unsupported compression");
  CheckPictureSize(width, height);

  const uint8_t* p = reader.Take(768);
  uint32_t palette[256];
  for (int i = 0; i < 256; ++i) {
    palette[i] = Rgb(Expand6(p[3 * i]), Expand6(p[3 * i + 1]), Expand6(p[3 * i + 2]));
  }
  const size_t count = static_cast<size_t>(width) * height;
  const uint8_t* pixels = reader.Take(count);
  Picture picture;
  picture.Allocate(width, height);
  for (size_t i = 0; i < count; ++i) picture.pixels[i] = palette[pixels[i]];
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool AutodeskAcceptsContent(MemoryStream& stream) {
  uint8_t h[12];
  if (!stream.Peek(32, h, sizeof h)) return false;
  return h[0] == 0x19 && h[1] == 0x91 && h[10] == 8 && h[11] == 0;
}

}  // namespace quenvale
