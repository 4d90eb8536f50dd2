// Portable bitmap, grey map and pixmap files, plain (P1-P3) and raw (P4-P6).
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

bool IsSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Steps over white space and comments, which may stand between any two header fields.
void SkipSpace(ByteReader& r) {
  while (r.Remaining() > 0) {
    const uint8_t c = r.Data()[r.Position()];
    if (c == '#') {
      while (r.Remaining() > 0 && r.U8() != '\n') {
      }
    } else if (IsSpace(c)) {
      r.Skip(1);
    } else {
      return;
    }
  }
}

uint32_t ReadNumber(ByteReader& r) {
  SkipSpace(r);
  if (r.Remaining() == 0) r.Truncated();
  if (!IsDigit(r.Data()[r.Position()])) r.Fail("bad number");
  uint64_t value = 0;
  while (r.Remaining() > 0 && IsDigit(r.Data()[r.Position()])) {
    value = value * 10 + (r.U8() - '0');
    if (value > 0x7FFFFFFF) r.Fail("number too large");
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

Picture DecodePpm(const uint8_t* data, size_t size) {
  ByteReader r(data, size, "PNM");
  if (r.U8() != 'P') r.Fail("not a portable any-map");
  const int kind = r.U8() - '0';
  if (kind < 1 || kind > 6) r.Fail("not a portable any-map");
  const bool plain = kind <= 3;
  const bool bitmap = kind == 1 || kind == 4;
  const uint32_t channels = (kind == 3 || kind == 6) ? 3 : 1;

  const uint32_t width = ReadNumber(r);
  const uint32_t height = ReadNumber(r);
  uint32_t maxval = 1;
  if (!bitmap) {
    maxval = ReadNumber(r);
    if (maxval < 1 || maxval > 65535) r.Fail("bad maximum value");
  }
  CheckPictureSize(width, height);
  // Raw data starts after exactly one white-space character.
  if (!plain) {
    if (r.Remaining() == 0) r.Truncated();
    if (!IsSpace(r.U8())) r.Fail("bad header");
  }

  const uint64_t samples = uint64_t{width} * height * channels;
  const uint32_t bytes_per_sample = maxval > 255 ? 2 : 1;
  uint64_t needed;
  if (kind == 4) {
    needed = (uint64_t{width} + 7) / 8 * height;
  } else if (plain) {
    needed = samples;  // at least one character each
  } else {
    needed = samples * bytes_per_sample;
  }
  if (needed > r.Remaining()) r.Truncated();

  // Rounded scaling to 8 bits; samples above the maximum count as the maximum.
  std::vector<uint8_t> scale(maxval + 1);
  for (uint32_t v = 0; v <= maxval; ++v) {
    scale[v] = static_cast<uint8_t>((uint64_t{v} * 255 + maxval / 2) / maxval);
  }
  auto sample = [&]() -> uint32_t {
    uint32_t v;
    if (kind == 1) {
      SkipSpace(r);
      const uint8_t c = r.U8();
      if (c != '0' && c != '1') r.Fail("bad bit");
      v = c == '1' ? 0 : 1;  // 1 is black
    } else if (plain) {
      v = ReadNumber(r);
    } else if (bytes_per_sample == 2) {
      v = r.U16BE();
    } else {
      v = r.U8();
    }
    return scale[v > maxval ? maxval : v];
  };

  Picture pic;
  pic.Allocate(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    uint32_t* out = &pic.pixels[static_cast<size_t>(y) * width];
    if (kind == 4) {
      const uint8_t* row = r.Take((width + 7) / 8);
      for (uint32_t x = 0; x < width; ++x) {
        out[x] = ((row[x / 8] >> (7 - x % 8)) & 1) ? Rgb(0, 0, 0) : Rgb(255, 255, 255);
      }
      continue;
    }
    for (uint32_t x = 0; x < width; ++x) {
      if (channels == 1) {
        const uint32_t v = sample();
        out[x] = Rgb(v, v, v);
      } else {
        const uint32_t red = sample();
        const uint32_t green = sample();
        const uint32_t blue = sample();
        out[x] = Rgb(red, green, blue);
      }
    }
  }
  return pic;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool PpmAcceptsContent(MemoryStream& stream) {
  uint8_t h[2];
  if (!stream.Peek(10, h, sizeof h)) return false;
  return h[0] == 'P' && h[1] >= '1' && h[1] <= '6';
}

}  // namespace quenvale
