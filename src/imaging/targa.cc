// Truevision Targa: colour-mapped, true-colour and grey pictures, raw or run-length encoded.
#include <algorithm>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

// 5-bit channels repeat their top bits below, so 31 becomes 255.
inline uint32_t Expand5(uint32_t v) { return (v << 3) | (v >> 2); }

// One 15- or 16-bit pixel: x RRRRR GGGGG BBBBB, the top bit an attribute (alpha) bit.
inline uint32_t From16(uint32_t v, bool attribute_alpha) {
  const uint32_t a = attribute_alpha ? ((v & 0x8000) ? 0xFF : 0) : 0xFF;
  return Argb(a, Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
}

}  // namespace

Picture DecodeTarga(const uint8_t* data, size_t size) {
  ByteReader r(data, size, "Targa");
  const uint32_t id_length = r.U8();
  const uint32_t map_type = r.U8();
  const uint32_t image_type = r.U8();
  const uint32_t map_first = r.U16LE();
  const uint32_t map_length = r.U16LE();
  const uint32_t map_entry_bits = r.U8();
  r.U16LE();  // x origin
  r.U16LE();  // y origin
  const uint32_t width = r.U16LE();
  const uint32_t height = r.U16LE();
  const uint32_t depth = r.U8();
  const uint32_t descriptor = r.U8();
  const uint32_t alpha_bits = descriptor & 0x0F;
  const bool right_to_left = (descriptor & 0x10) != 0;
  const bool top_down = (descriptor & 0x20) != 0;

  if (map_type > 1) r.Fail("unknown colour map type");
  const bool rle = image_type >= 9 && image_type <= 11;
  const uint32_t base_type = rle ? image_type - 8 : image_type;
  if (base_type < 1 || base_type > 3) r.Fail("unsupported image type");
  switch (base_type) {
    case 1:
      if (map_type != 1) r.Fail("colour-mapped picture without a colour map");
      if (depth != 8 && depth != 16) r.Fail("unsupported index depth");
      break;
    case 2:
      if (depth != 15 && depth != 16 && depth != 24 && depth != 32) {
        r.Fail("unsupported pixel depth");
      }
      break;
    default:
      if (depth != 8 && depth != 16) r.Fail("unsupported grey depth");
      break;
  }
  CheckPictureSize(width, height);
  r.Skip(id_length);

  std::vector<uint32_t> map;
  bool map_alpha = false;
  if (map_type == 1) {
    if (map_entry_bits != 15 && map_entry_bits != 16 && map_entry_bits != 24 &&
        map_entry_bits != 32) {
      r.Fail("unsupported colour map entry size");
    }
    const uint32_t entry_bytes = (map_entry_bits + 7) / 8;
    const uint8_t* p = r.Take(static_cast<size_t>(map_length) * entry_bytes);
    // A colour map that is present but unused by a true-colour picture is skipped.
    if (base_type == 1) {
      map.reserve(map_length);
      for (uint32_t i = 0; i < map_length; ++i, p += entry_bytes) {
        switch (map_entry_bits) {
          case 15:
          case 16:
            map.push_back(From16(static_cast<uint32_t>(p[0] | p[1] << 8),
                                 map_entry_bits == 16 && alpha_bits > 0));
            break;
          case 24:
            map.push_back(Rgb(p[2], p[1], p[0]));
            break;
          default:
            map.push_back(Argb(p[3], p[2], p[1], p[0]));
            break;
        }
      }
      map_alpha = map_entry_bits == 32 || (map_entry_bits == 16 && alpha_bits > 0);
    }
  }

  const uint32_t pixel_bytes = (depth + 7) / 8;
  const uint64_t count = uint64_t{width} * height;
  // Refuse pictures the data cannot possibly fill before allocating them: a run packet gives
  // at most 128 pixels.
  const uint64_t least = rle ? (count + 127) / 128 * (1 + pixel_bytes) : count * pixel_bytes;
  if (least > r.Remaining()) r.Truncated();

  const bool attribute_alpha = depth == 16 && alpha_bits > 0;
  auto convert = [&](const uint8_t* p) -> uint32_t {
    switch (base_type) {
      case 1: {
        uint32_t index = depth == 8 ? p[0] : static_cast<uint32_t>(p[0] | p[1] << 8);
        if (index < map_first || index - map_first >= map.size()) return 0xFF000000u;
        return map[index - map_first];
      }
      case 2:
        if (depth == 24) return Rgb(p[2], p[1], p[0]);
        if (depth == 32) return Argb(p[3], p[2], p[1], p[0]);
        return From16(static_cast<uint32_t>(p[0] | p[1] << 8), attribute_alpha);
      default:
        if (depth == 8) return Rgb(p[0], p[0], p[0]);
        return Argb(p[1], p[0], p[0], p[0]);  // grey with alpha
    }
  };

  Picture pic;
  pic.Allocate(width, height);
  // Pixels arrive in storage order; place them by the origin the descriptor gives.
  uint64_t produced = 0;
  auto put = [&](uint32_t colour) {
    const uint32_t row = static_cast<uint32_t>(produced / width);
    const uint32_t col = static_cast<uint32_t>(produced % width);
    const uint32_t y = top_down ? row : height - 1 - row;
    const uint32_t x = right_to_left ? width - 1 - col : col;
    pic.pixels[static_cast<size_t>(y) * width + x] = colour;
    ++produced;
  };
  if (!rle) {
    const uint8_t* p = r.Take(static_cast<size_t>(count * pixel_bytes));
    for (uint64_t i = 0; i < count; ++i) put(convert(p + i * pixel_bytes));
  } else {
    // Packets may run on from one row into the next; a packet past the last pixel is cut off.
    while (produced < count) {
      const uint32_t header = r.U8();
      const uint64_t n = std::min<uint64_t>((header & 0x7F) + 1, count - produced);
      if (header & 0x80) {
        const uint32_t colour = convert(r.Take(pixel_bytes));
        for (uint64_t i = 0; i < n; ++i) put(colour);
      } else {
        const uint8_t* p = r.Take(static_cast<size_t>(n * pixel_bytes));
        for (uint64_t i = 0; i < n; ++i) put(convert(p + i * pixel_bytes));
      }
    }
  }

  const bool alpha = (base_type == 2 && (depth == 32 || attribute_alpha)) ||
                     (base_type == 1 && map_alpha) || (base_type == 3 && depth == 16);
  if (alpha) {
    pic.has_alpha = true;
    // 32-bit pixels whose descriptor declares no alpha and whose fourth byte is always zero
    // never meant it as alpha.
    if (alpha_bits == 0 && base_type == 2 && depth == 32) {
      bool any = false;
      for (uint32_t px : pic.pixels) any = any || (px >> 24) != 0;
      if (!any) {
        for (uint32_t& px : pic.pixels) px |= 0xFF000000u;
        pic.has_alpha = false;
      }
    }
  }
  return pic;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool TargaAcceptsContent(MemoryStream& stream) {
  uint8_t h[18];
  if (!stream.Peek(18, h, sizeof h)) return false;
  const uint8_t image_type = h[2];
  const bool type_ok = image_type <= 3 || (image_type >= 9 && image_type <= 11);
  const uint8_t map_entry = h[7];
  const bool map_ok = map_entry == 15 || map_entry == 16 || map_entry == 24 || map_entry == 32;
  const uint8_t depth = h[16];
  const bool depth_ok = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
  return h[1] < 2 && type_ok && map_ok && depth_ok;
}

}  // namespace quenvale
