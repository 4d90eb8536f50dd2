// Windows and OS/2 bitmaps (with or without the file header), and the icons and cursors that
// carry them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/decoders.h"

namespace quenvale {
namespace {

enum Compression : uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitFields = 3,
  kJpeg = 4,
  kPng = 5,
  kAlphaBitFields = 6,
};

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsInfoHeaderSize(uint32_t size) {
  return size == 12 || size == 16 || size == 40 || size == 52 || size == 56 || size == 64 ||
         size == 108 || size == 124;
}

struct DibHeader {
  uint32_t header_size = 0;
  int64_t width = 0;
  int64_t height = 0;  // rows of the picture, always positive
  bool top_down = false;
  uint32_t bpp = 0;
  uint32_t compression = kRgb;
  uint32_t image_size = 0;
  uint32_t colours_used = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool core = false;                 // OS/2 1.x: 16-bit sizes and 3-byte palette entries
  bool os2_v2 = false;
};

// One bit-field channel: its position and width, scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  uint32_t shift = 0;
  uint32_t bits = 0;

  explicit Channel(uint32_t m) : mask(m) {
    if (mask == 0) return;
    while (((mask >> shift) & 1) == 0) ++shift;
    uint32_t rest = mask >> shift;
    while (rest != 0 && bits < 32) {
      ++bits;
      rest >>= 1;
    }
  }

  uint32_t Get(uint32_t pixel) const {
    if (bits == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    if (bits == 8) return v;
    if (bits < 8) {
      // Repeat the bits downwards so that the full value becomes 255 and zero stays zero.
      uint32_t out = 0;
      for (int pos = 8 - static_cast<int>(bits); pos > -static_cast<int>(bits);
           pos -= static_cast<int>(bits)) {
        out |= pos >= 0 ? v << pos : v >> -pos;
      }
      return out & 0xFF;
    }
    const uint64_t max = (uint64_t{1} << bits) - 1;
    return static_cast<uint32_t>((v * uint64_t{255} + max / 2) / max);
  }
};

// Reads the information header at the reader's position, and the masks that follow a plain
// 40-byte header for the bit-field compressions. Leaves the reader after them.
DibHeader ReadDibHeader(ByteReader& r) {
  DibHeader h;
  const size_t start = r.Position();
  h.header_size = r.U32LE();
  if (h.header_size == 12) {
    h.core = true;
    h.width = r.U16LE();
    h.height = r.U16LE();
    r.U16LE();  // planes
    h.bpp = r.U16LE();
    return h;
  }
  if (h.header_size < 16) r.Fail("unknown header size");
  if (h.header_size > r.Size() - start) r.Truncated();
  // Fields past a shortened header read as zero.
  uint8_t fields[124] = {};
  std::memcpy(fields, r.Data() + start, std::min<size_t>(h.header_size, sizeof fields));
  r.Seek(start + h.header_size);
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(fields[at] | fields[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  h.os2_v2 =
      h.header_size != 40 && h.header_size != 52 && h.header_size != 56 && h.header_size <= 64;
  h.width = static_cast<int32_t>(u32(4));
  const int64_t height = static_cast<int32_t>(u32(8));
  h.top_down = height < 0;
  h.height = height < 0 ? -height : height;
  h.bpp = u16(14);
  h.compression = u32(16);
  h.image_size = u32(20);
  h.colours_used = u32(32);
  if (h.os2_v2) {
    // The OS/2 codes 3 and 4 are Huffman and 24-bit RLE, not bit fields and JPEG.
    if (h.compression == 3 || h.compression == 4) r.Fail("OS/2 compression not supported");
    return h;
  }
  if (h.header_size >= 52) {
    for (int i = 0; i < 3; ++i) h.masks[i] = u32(40 + 4 * i);
  }
  if (h.header_size >= 56) h.masks[3] = u32(52);
  if (h.header_size == 40) {
    if (h.compression == kBitFields) {
      for (int i = 0; i < 3; ++i) h.masks[i] = r.U32LE();
    } else if (h.compression == kAlphaBitFields) {
      for (int i = 0; i < 4; ++i) h.masks[i] = r.U32LE();
    }
  }
  return h;
}

// The colour an index gives: indices past the palette take its first entry.
inline uint32_t PaletteColour(const std::vector<uint32_t>& palette, uint32_t index) {
  if (index < palette.size()) return palette[index];
  return palette.empty() ? 0xFF000000u : palette[0];
}

// Decodes uncompressed rows starting at the reader's position. Returns whether the fourth byte
// of 32-bit BI_RGB pixels held anything, which is then kept in the alpha channel.
bool DecodeRows(ByteReader& r, const DibHeader& h, const std::vector<uint32_t>& palette,
                Picture& pic) {
  const uint64_t stride = (static_cast<uint64_t>(h.width) * h.bpp + 31) / 32 * 4;
  const uint64_t last_row = (static_cast<uint64_t>(h.width) * h.bpp + 7) / 8;
  if (stride * (h.height - 1) + last_row > r.Remaining()) r.Truncated();
  const uint8_t* base = r.Data() + r.Position();
  r.Skip(static_cast<size_t>(std::min<uint64_t>(stride * h.height, r.Remaining())));

  uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
  const bool bit_fields = h.compression == kBitFields || h.compression == kAlphaBitFields;
  if (!bit_fields) {
    if (h.bpp == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else {
      masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
    }
    masks[3] = 0;
  }
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
  const bool use_alpha_mask = bit_fields && masks[3] != 0;
  // Old-style headers leave the fourth byte undefined; many writers put alpha there anyway.
  const bool fourth_byte_alpha =
      h.bpp == 32 && h.compression == kRgb && (h.core || h.os2_v2 || h.header_size == 40);
  bool fourth_byte_seen = false;

  for (int64_t row = 0; row < h.height; ++row) {
    const uint8_t* p = base + stride * row;
    const int32_t y = static_cast<int32_t>(h.top_down ? row : h.height - 1 - row);
    uint32_t* out = &pic.pixels[static_cast<size_t>(y) * pic.width];
    switch (h.bpp) {
      case 1:
      case 2:
      case 4:
      case 8: {
        const uint32_t per_byte = 8 / h.bpp;
        const uint32_t value_mask = (1u << h.bpp) - 1;
        for (int64_t x = 0; x < h.width; ++x) {
          const uint32_t byte = p[x / per_byte];
          const uint32_t shift = 8 - h.bpp * (1 + static_cast<uint32_t>(x % per_byte));
          out[x] = PaletteColour(palette, (byte >> shift) & value_mask);
        }
        break;
      }
      case 16:
      case 32:
        for (int64_t x = 0; x < h.width; ++x) {
          uint32_t v;
          if (h.bpp == 16) {
            v = static_cast<uint32_t>(p[2 * x] | p[2 * x + 1] << 8);
          } else {
            const uint8_t* q = p + 4 * x;
            v = static_cast<uint32_t>(q[0]) | static_cast<uint32_t>(q[1]) << 8 |
                static_cast<uint32_t>(q[2]) << 16 | static_cast<uint32_t>(q[3]) << 24;
          }
          uint32_t a = 0xFF;
          if (use_alpha_mask) {
            a = alpha.Get(v);
          } else if (fourth_byte_alpha) {
            a = v >> 24;
            if (a != 0) fourth_byte_seen = true;
          }
          out[x] = Argb(a, red.Get(v), green.Get(v), blue.Get(v));
        }
        break;
      case 24:
        for (int64_t x = 0; x < h.width; ++x) {
          const uint8_t* q = p + 3 * x;
          out[x] = Rgb(q[2], q[1], q[0]);
        }
        break;
      default:
        r.Fail("unsupported bit depth");
    }
  }
  if (use_alpha_mask) pic.has_alpha = true;
  if (fourth_byte_alpha && !fourth_byte_seen) {
    for (uint32_t& px : pic.pixels) px |= 0xFF000000u;
  }
  return fourth_byte_seen;
}

// Run-length encoded 8-bit or 4-bit indices, bottom-up. Pixels the runs never reach keep the
// first palette colour.
void DecodeRle(ByteReader& r, const DibHeader& h, const std::vector<uint32_t>& palette,
               Picture& pic) {
  const bool four = h.compression == kRle4;
  std::fill(pic.pixels.begin(), pic.pixels.end(), PaletteColour(palette, 0));
  int64_t x = 0, row = 0;
  auto put = [&](uint32_t index) {
    if (x < h.width && row < h.height) {
      pic.pixels[static_cast<size_t>(h.height - 1 - row) * pic.width + x] =
          PaletteColour(palette, index);
    }
    ++x;
  };
  while (row < h.height) {
    const uint32_t count = r.U8();
    const uint32_t value = r.U8();
    if (count > 0) {
      for (uint32_t i = 0; i < count && x < h.width; ++i) {
        put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
      }
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of bitmap
      return;
    } else if (value == 2) {  // move right and up
      x += r.U8();
      row += r.U8();
    } else {  // literal indices, padded to 16 bits
      const uint32_t bytes = four ? (value + 1) / 2 : value;
      const uint8_t* p = r.Take(bytes + (bytes & 1));
      for (uint32_t i = 0; i < value && x < h.width; ++i) {
        put(four ? (i % 2 == 0 ? p[i / 2] >> 4 : p[i / 2] & 0x0F) : p[i]);
      }
    }
  }
}

struct DibResult {
  Picture picture;
  size_t end = 0;          // where the pixel data ended
  bool own_alpha = false;  // 32-bit pixels carried alpha themselves
};

// Decodes a DIB whose information header starts at `header_at`. Pixels start at `pixels_at`
// when the file says so, else right after the palette. `icon` halves the height, which
// counts the transparency mask too.
DibResult DecodeDib(const uint8_t* data, size_t size, const char* format, size_t header_at,
                    size_t pixels_at, bool icon) {
  ByteReader r(data, size, format);
  r.Seek(header_at);
  DibHeader h = ReadDibHeader(r);
  if (icon) {
    h.height /= 2;
    h.top_down = false;
  }
  if (h.width <= 0 || h.height <= 0) r.Fail("bad picture size");
  CheckPictureSize(static_cast<uint64_t>(h.width), static_cast<uint64_t>(h.height));

  const size_t palette_at = r.Position();
  const size_t entry = h.core ? 3 : 4;
  uint64_t entries = 0;
  if (h.bpp <= 8) {
    entries = h.colours_used != 0 ? h.colours_used : uint64_t{1} << h.bpp;
  } else if (!h.core) {
    entries = h.colours_used;  // an optional optimisation palette for deep pictures
  }
  if (pixels_at != 0 && pixels_at >= palette_at) {
    // Some writers count more colours than they store before the pixels.
    entries = std::min<uint64_t>(entries, (pixels_at - palette_at) / entry);
  }
  if (entries * entry > r.Remaining()) r.Truncated();
  std::vector<uint32_t> palette;
  if (h.bpp <= 8) {
    const uint64_t kept = std::min<uint64_t>(entries, uint64_t{1} << h.bpp);
    palette.reserve(static_cast<size_t>(kept));
    for (uint64_t i = 0; i < kept; ++i) {
      const uint8_t* p = data + palette_at + i * entry;
      palette.push_back(Rgb(p[2], p[1], p[0]));
    }
  }
  r.Skip(static_cast<size_t>(entries * entry));
  if (pixels_at == 0 || pixels_at < palette_at || pixels_at > size) pixels_at = r.Position();
  r.Seek(pixels_at);

  DibResult result;
  if (h.compression == kJpeg || h.compression == kPng) {
    if (h.top_down || icon) r.Fail("embedded picture in the wrong place");
    size_t length = r.Remaining();
    if (h.image_size != 0 && h.image_size < length) length = h.image_size;
    const uint8_t* p = r.Take(length);
    result.picture = h.compression == kJpeg ? DecodeJpeg(p, length) : DecodePng(p, length);
    result.end = r.Position();
    return result;
  }

  const bool bpp_ok = h.bpp == 1 || h.bpp == 2 || h.bpp == 4 || h.bpp == 8 || h.bpp == 16 ||
                      h.bpp == 24 || h.bpp == 32;
  if (!bpp_ok) r.Fail("unsupported bit depth");
  switch (h.compression) {
    case kRgb:
      break;
    case kRle8:
    case kRle4:
      if (h.bpp != (h.compression == kRle8 ? 8u : 4u)) r.Fail("RLE with the wrong bit depth");
      if (h.top_down) r.Fail("top-down RLE");
      break;
    case kBitFields:
    case kAlphaBitFields:
      if (h.bpp != 16 && h.bpp != 32) r.Fail("bit fields with the wrong bit depth");
      break;
    default:
      r.Fail("unsupported compression");
  }

  result.picture.Allocate(static_cast<uint32_t>(h.width), static_cast<uint32_t>(h.height));
  if (h.compression == kRle8 || h.compression == kRle4) {
    DecodeRle(r, h, palette, result.picture);
  } else {
    result.own_alpha = DecodeRows(r, h, palette, result.picture);
    if (result.own_alpha) result.picture.has_alpha = true;
  }
  result.end = r.Position();
  return result;
}

}  // namespace

Picture DecodeBmp(const uint8_t* data, size_t size) {
  ByteReader r(data, size, "BMP");
  if (size >= 2 && data[0] == 'B' && data[1] == 'A') {
    // An OS/2 bitmap array: take the first bitmap, whose offsets count from the file start.
    r.Seek(14);
  }
  const size_t file_header_at = r.Position();
  if (r.Remaining() >= 2 && data[file_header_at] == 'B' && data[file_header_at + 1] == 'M') {
    r.Skip(10);
    const uint32_t pixels_at = r.U32LE();
    return DecodeDib(data, size, "BMP", file_header_at + 14, pixels_at, false).picture;
  }
  if (file_header_at == 0 && size >= 4) {
    const uint32_t header_size = r.U32LE();
    if (IsInfoHeaderSize(header_size)) return DecodeDib(data, size, "BMP", 0, 0, false).picture;
  }
  r.Fail("not a bitmap");
}

Picture DecodeIco(const uint8_t* data, size_t size) {
  ByteReader r(data, size, "ICO");
  const uint16_t reserved = r.U16LE();
  const uint16_t type = r.U16LE();
  const uint16_t count = r.U16LE();
  if (reserved != 0 || (type != 1 && type != 2)) r.Fail("not an icon");
  if (count == 0) r.Fail("no images");

  // Rank the images by their real size and depth, read from each payload where possible,
  // since directory entries are often wrong.
  size_t best_offset = 0, best_length = 0;
  uint64_t best_area = 0;
  uint32_t best_bpp = 0;
  bool found = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = r.Take(16);
    uint64_t w = e[0] == 0 ? 256 : e[0];
    uint64_t h = e[1] == 0 ? 256 : e[1];
    uint32_t bpp = type == 1 ? static_cast<uint32_t>(e[6] | e[7] << 8) : 0;
    const uint32_t length =
        static_cast<uint32_t>(e[8] | e[9] << 8 | e[10] << 16) | static_cast<uint32_t>(e[11]) << 24;
    const uint32_t offset = static_cast<uint32_t>(e[12] | e[13] << 8 | e[14] << 16) |
                            static_cast<uint32_t>(e[15]) << 24;
    if (offset >= size || length == 0) continue;
    const size_t available = std::min<size_t>(length, size - offset);
    const uint8_t* p = data + offset;
    if (available >= 26 && std::memcmp(p, kPngSignature, 8) == 0) {
      w = static_cast<uint32_t>(p[16] << 24 | p[17] << 16 | p[18] << 8 | p[19]);
      h = static_cast<uint32_t>(p[20] << 24 | p[21] << 16 | p[22] << 8 | p[23]);
      static const uint32_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
      bpp = p[24] * (p[25] < 7 ? kChannels[p[25]] : 0);
    } else if (available >= 16 && (p[0] | p[1] << 8) == 40) {
      w = static_cast<uint32_t>(p[4] | p[5] << 8 | p[6] << 16 | p[7] << 24);
      h = static_cast<uint32_t>(p[8] | p[9] << 8 | p[10] << 16 | p[11] << 24) / 2;
      bpp = static_cast<uint32_t>(p[14] | p[15] << 8);
    }
    const uint64_t area = w * h;
    if (!found || area > best_area || (area == best_area && bpp > best_bpp)) {
      found = true;
      best_area = area;
      best_bpp = bpp;
      best_offset = offset;
      best_length = available;
    }
  }
  if (!found) r.Fail("no image inside the file");

  const uint8_t* p = data + best_offset;
  if (best_length >= 8 && std::memcmp(p, kPngSignature, 8) == 0) return DecodePng(p, best_length);
  // The payload is a DIB without file header; the transparency mask follows its pixels.
  DibResult dib = DecodeDib(p, best_length, "ICO", 0, 0, true);
  Picture& pic = dib.picture;
  pic.has_alpha = true;
  if (dib.own_alpha) return pic;
  const uint64_t stride = (static_cast<uint64_t>(pic.width) + 31) / 32 * 4;
  if (stride * pic.height > best_length - dib.end) return pic;  // no mask: all opaque
  const uint8_t* mask = p + dib.end;
  for (int32_t row = 0; row < pic.height; ++row) {
    const uint8_t* m = mask + stride * row;
    uint32_t* out = &pic.pixels[static_cast<size_t>(pic.height - 1 - row) * pic.width];
    for (int32_t x = 0; x < pic.width; ++x) {
      if ((m[x / 8] >> (7 - x % 8)) & 1) out[x] &= 0x00FFFFFFu;
    }
  }
  return pic;
}

}  // namespace quenvale
