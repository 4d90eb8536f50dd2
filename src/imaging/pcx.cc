// ZSoft PCX: 1 to 8 bits of palette index split over planes, or 8-bit RGB(A) planes,
// run-length encoded by scanline.
#include <algorithm>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {

Picture DecodePcx(const uint8_t* data, size_t size) {
  ByteReader r(data, size, "PCX");
  const uint8_t* h = r.Take(128);
  if (h[0] != 0x0A) r.Fail("not a PCX file");
  const uint32_t version = h[1];
  const uint32_t encoding = h[2];
  const uint32_t bpp = h[3];
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(h[at] | h[at + 1] << 8); };
  const uint32_t xmin = u16(4), ymin = u16(6), xmax = u16(8), ymax = u16(10);
  const uint32_t planes = h[65];
  const uint32_t bytes_per_line = u16(66);
  if (encoding > 1) r.Fail("unknown encoding");
  if (xmax < xmin || ymax < ymin) r.Fail("bad picture size");
  const uint32_t width = xmax - xmin + 1;
  const uint32_t height = ymax - ymin + 1;
  CheckPictureSize(width, height);

  const bool direct = bpp == 8 && (planes == 3 || planes == 4);
  const bool indexed =
      (bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8) && planes >= 1 && bpp * planes <= 8;
  if (!direct && !indexed) r.Fail("unsupported bit depth and plane count");
  if (uint64_t{bytes_per_line} * 8 < uint64_t{width} * bpp) r.Fail("lines too short");
  const size_t line_bytes = static_cast<size_t>(bytes_per_line) * planes;
  const uint64_t total = uint64_t{line_bytes} * height;
  // Two bytes of runs give at most 63 bytes of lines, so a file too short for that is refused
  // before the picture is allocated.
  const uint64_t least = encoding == 1 ? (total + 62) / 63 : total;
  if (least > r.Remaining()) r.Truncated();

  std::vector<uint32_t> palette(256, 0xFF000000u);
  const uint32_t index_bits = indexed ? bpp * planes : 0;
  if (index_bits == 8) {
    // The 256-colour table ends the file behind a 0x0C marker; without it, grey levels.
    if (size >= 128 + 769 && data[size - 769] == 0x0C) {
      const uint8_t* p = data + size - 768;
      for (int i = 0; i < 256; ++i) palette[i] = Rgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
    } else {
      for (uint32_t i = 0; i < 256; ++i) palette[i] = Rgb(i, i, i);
    }
  } else if (indexed) {
    for (int i = 0; i < 16; ++i) {
      palette[i] = Rgb(h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]);
    }
    // Monochrome files from old writers leave the table empty: black and white then.
    if (index_bits == 1 && (version < 5 || palette[0] == palette[1])) {
      palette[0] = Rgb(0, 0, 0);
      palette[1] = Rgb(255, 255, 255);
    }
  }

  Picture pic;
  pic.Allocate(width, height);
  pic.has_alpha = direct && planes == 4;
  std::vector<uint8_t> line(line_bytes);
  // Runs may carry on from one line into the next.
  uint32_t run = 0;
  uint8_t run_value = 0;
  for (uint32_t y = 0; y < height; ++y) {
    if (encoding == 0) {
      const uint8_t* p = r.Take(line_bytes);
      line.assign(p, p + line_bytes);
    } else {
      size_t i = 0;
      while (i < line_bytes) {
        if (run == 0) {
          const uint8_t c = r.U8();
          if ((c & 0xC0) == 0xC0) {
            run = c & 0x3F;  // may be zero: a run that writes nothing
            run_value = r.U8();
          } else {
            run = 1;
            run_value = c;
          }
          continue;
        }
        const size_t n = std::min<size_t>(run, line_bytes - i);
        std::fill(line.begin() + i, line.begin() + i + n, run_value);
        i += n;
        run -= static_cast<uint32_t>(n);
      }
    }
    uint32_t* out = &pic.pixels[static_cast<size_t>(y) * width];
    if (direct) {
      const uint8_t* red = line.data();
      const uint8_t* green = red + bytes_per_line;
      const uint8_t* blue = green + bytes_per_line;
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t a = planes == 4 ? blue[bytes_per_line + x] : 0xFF;
        out[x] = Argb(a, red[x], green[x], blue[x]);
      }
      continue;
    }
    const uint32_t per_byte = 8 / bpp;
    const uint32_t mask = (1u << bpp) - 1;
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t index = 0;
      for (uint32_t p = 0; p < planes; ++p) {
        const uint8_t byte = line[p * bytes_per_line + x / per_byte];
        const uint32_t bits = (byte >> (8 - bpp * (1 + x % per_byte))) & mask;
        index |= bits << (p * bpp);
      }
      out[x] = palette[index];
    }
  }
  return pic;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool PcxAcceptsContent(MemoryStream& stream) {
  uint8_t h[3];
  if (!stream.Peek(128, h, sizeof h)) return false;
  const uint8_t version = h[1];
  return (h[0] == 10 || h[0] == 12) &&
         (version == 0 || version == 2 || version == 3 || version == 5) && h[2] < 2;
}

}  // namespace quenvale
