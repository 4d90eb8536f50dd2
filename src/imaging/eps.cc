// EPS: only the TIFF preview that a DOS EPS binary header points to; the PostScript itself is
// not rendered.
#include <cstring>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {

Picture DecodeEps(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "EPS");
  // Plain PostScript carries no preview at all.
  if (size >= 2 && data[0] == '%' && data[1] == '!') reader.Fail("no TIFF preview");
  if (reader.U32LE() != 0xC6D3D0C5u) reader.Fail("no DOS EPS binary header");
  reader.Skip(16);  // PostScript and WMF offset and length
  const uint32_t tiff_offset = reader.U32LE();
  const uint32_t tiff_length = reader.U32LE();
  if (tiff_offset == 0 || tiff_length == 0) reader.Fail("no TIFF preview");
  if (tiff_offset > size || tiff_length > size - tiff_offset) {
    reader.Fail("TIFF preview outside the file");
  }
  return DecodeTiff(data + tiff_offset, tiff_length);
}

// The content test: whether the bytes from the stream's position on look like this format.
bool EpsAcceptsContent(MemoryStream& stream) {
  uint8_t h[28];
  if (!stream.Peek(30, h, sizeof h)) return false;
  static const uint8_t kMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
  return std::memcmp(h, kMagic, 4) == 0 && Le32(h + 24) != 0;
}

}  // namespace quenvale
