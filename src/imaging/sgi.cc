// SGI (IRIS) images: a 512-byte big-endian header, then either planes of verbatim rows or
// run-length rows located through offset and length tables. Rows are stored bottom-up.
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

constexpr size_t kHeaderSize = 512;

// 16-bit samples reduced to 8 bits by truncating division by 257, which is what a -depth 8
// conversion of a 16-bit picture gives.
// Alpha rounds the other way: the reference keeps opacity (65535 - alpha) and truncates that.
inline uint8_t Reduce16(uint32_t v) { return static_cast<uint8_t>(v / 257); }
inline uint8_t Reduce16Alpha(uint32_t v) { return static_cast<uint8_t>((v + 256) / 257); }

// Expands one run-length row of `bpc`-byte samples into `out` (xsize samples, already sized).
// Runs that would overflow the row or the stored length are errors, not clipped.
void ExpandRow(ByteReader& reader, const uint8_t* src, size_t length, int bpc,
               std::vector<uint16_t>& out) {
  size_t pos = 0;
  size_t produced = 0;
  auto next = [&]() -> uint32_t {
    if (pos + bpc > length) reader.Truncated();
    uint32_t v = bpc == 1 ? src[pos] : static_cast<uint32_t>(src[pos] << 8 | src[pos + 1]);
    pos += bpc;
    return v;
  };
  while (pos + bpc <= length) {
    const uint32_t control = next();
    const uint32_t count = control & 0x7F;
    if (count == 0) break;
    if (count > out.size() - produced) reader.Fail("run overflows the row");
    if (control & 0x80) {
      for (uint32_t i = 0; i < count; ++i) out[produced++] = static_cast<uint16_t>(next());
    } else {
      const uint16_t value = static_cast<uint16_t>(next());
      for (uint32_t i = 0; i < count; ++i) out[produced++] = value;
    }
  }
  if (produced != out.size()) reader.Fail("short run-length row");
}

}  // namespace

Picture DecodeSgi(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "SGI");
  if (reader.U16BE() != 474) reader.Fail("not an SGI image");
  const uint8_t storage = reader.U8();
  const uint8_t bpc = reader.U8();
  const uint16_t dimension = reader.U16BE();
  uint32_t xsize = reader.U16BE();
  uint32_t ysize = reader.U16BE();
  uint32_t zsize = reader.U16BE();
  reader.Skip(4 + 4 + 4 + 80);  // pixmin, pixmax, dummy, name
  const uint32_t colormap = reader.U32BE();
  if (storage > 1) reader.Fail("unknown storage type");
  if (bpc != 1 && bpc != 2) reader.Fail("unsupported bytes per channel");
  if (colormap != 0) reader.Fail("colour-mapped SGI images are not supported");
  switch (dimension) {
    case 1:
      ysize = 1;
      zsize = 1;
      break;
    case 2:
      zsize = 1;
      break;
    case 3:
      break;
    default:
      reader.Fail("bad dimension");
  }
  if (zsize < 1 || zsize > 4) reader.Fail("unsupported channel count");
  CheckPictureSize(xsize, ysize);

  const uint64_t plane_rows = static_cast<uint64_t>(ysize) * zsize;
  // Every channel of every row must be backed by input before anything row-sized is allocated.
  if (storage == 0) {
    if (kHeaderSize + plane_rows * xsize * bpc > size) reader.Truncated();
  } else {
    if (kHeaderSize + plane_rows * 8 > size) reader.Truncated();
  }

  Picture picture;
  picture.Allocate(xsize, ysize);
  picture.has_alpha = zsize == 2 || zsize == 4;

  std::vector<uint16_t> row(xsize);
  std::vector<uint8_t> samples(static_cast<size_t>(xsize) * zsize);
  const size_t table_start = kHeaderSize;
  const size_t lengths_start = table_start + static_cast<size_t>(plane_rows) * 4;
  for (uint32_t y = 0; y < ysize; ++y) {
    for (uint32_t z = 0; z < zsize; ++z) {
      const size_t index = static_cast<size_t>(z) * ysize + y;
      if (storage == 0) {
        const uint8_t* src = data + kHeaderSize + index * xsize * bpc;
        for (uint32_t x = 0; x < xsize; ++x) {
          row[x] = bpc == 1 ? src[x] : static_cast<uint16_t>(src[2 * x] << 8 | src[2 * x + 1]);
        }
      } else {
        reader.Seek(table_start + index * 4);
        const uint32_t offset = reader.U32BE();
        reader.Seek(lengths_start + index * 4);
        const uint32_t length = reader.U32BE();
        if (offset > size || length > size - offset) reader.Truncated();
        ExpandRow(reader, data + offset, length, bpc, row);
      }
      const bool is_alpha = picture.has_alpha && z == zsize - 1;
      for (uint32_t x = 0; x < xsize; ++x) {
        samples[static_cast<size_t>(x) * zsize + z] = bpc == 1   ? static_cast<uint8_t>(row[x])
                                                      : is_alpha ? Reduce16Alpha(row[x])
                                                                 : Reduce16(row[x]);
      }
    }
    const int32_t out_y = static_cast<int32_t>(ysize - 1 - y);
    for (uint32_t x = 0; x < xsize; ++x) {
      const uint8_t* s = &samples[static_cast<size_t>(x) * zsize];
      uint32_t pixel;
      switch (zsize) {
        case 1:
          pixel = Rgb(s[0], s[0], s[0]);
          break;
        case 2:
          pixel = Argb(s[1], s[0], s[0], s[0]);
          break;
        case 3:
          pixel = Rgb(s[0], s[1], s[2]);
          break;
        default:
          pixel = Argb(s[3], s[0], s[1], s[2]);
          break;
      }
      picture.At(static_cast<int32_t>(x), out_y) = pixel;
    }
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool SgiAcceptsContent(MemoryStream& stream) {
  uint8_t h[6];
  if (!stream.Peek(512, h, sizeof h)) return false;
  const uint16_t dimension = Be16(h + 4);
  return h[0] == 0x01 && h[1] == 0xDA && (h[3] == 1 || h[3] == 2) && dimension >= 1 &&
         dimension <= 3;
}

}  // namespace quenvale
