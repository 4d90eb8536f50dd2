// GIF87a and GIF89a: the first image of the file, with its own or the global colour table, its
// interlace and the transparent index of the graphic control extension before it.
//
// The picture is the first image's own rectangle, as ImageMagick gives it for a single frame;
// its offset on the logical screen and the screen's background are not applied.
//
// Short image data: when the data sub-blocks stop (block terminator) before the end code and
// before every pixel has been decoded, what was decoded is kept and the remaining pixels take
// colour index 0, since many GIFs in the wild end that way. Image data cut off by the end of the
// file, or an end code before the last pixel, is an error.
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/strings.h"
#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;

// Skips data sub-blocks up to and including the zero-length terminator.
void SkipSubBlocks(ByteReader& in) {
  for (uint8_t n = in.U8(); n != 0; n = in.U8()) in.Skip(n);
}

// Reads LZW codes, least significant bit first, across the data sub-blocks.
class CodeReader {
 public:
  explicit CodeReader(ByteReader& in) : in_(in) {}

  // False once the sub-blocks have ended (terminator read) before `bits` more bits arrived.
  bool Read(int bits, uint32_t* code) {
    while (have_ < bits) {
      if (block_left_ == 0) {
        if (ended_) return false;
        block_left_ = in_.U8();
        if (block_left_ == 0) {
          ended_ = true;
          return false;
        }
      }
      const uint8_t* p = in_.Take(1);
      --block_left_;
      acc_ |= static_cast<uint32_t>(*p) << have_;
      have_ += 8;
    }
    *code = acc_ & ((1u << bits) - 1);
    acc_ >>= bits;
    have_ -= bits;
    return true;
  }

 private:
  ByteReader& in_;
  uint32_t acc_ = 0;
  int have_ = 0;
  uint32_t block_left_ = 0;
  bool ended_ = false;
};

// The row of the image each successive decoded row lands on.
std::vector<uint32_t> RowOrder(uint32_t height, bool interlaced) {
  std::vector<uint32_t> order;
  order.reserve(height);
  if (!interlaced) {
    for (uint32_t y = 0; y < height; ++y) order.push_back(y);
    return order;
  }
  static constexpr uint32_t kStart[4] = {0, 4, 2, 1};
  static constexpr uint32_t kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (uint32_t y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
  }
  return order;
}

std::vector<uint32_t> ReadColourTable(ByteReader& in, int size_field) {
  const int entries = 2 << size_field;
  const uint8_t* p = in.Take(static_cast<size_t>(entries) * 3);
  std::vector<uint32_t> table(entries);
  for (int i = 0; i < entries; ++i) table[i] = Rgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
  return table;
}

Picture DecodeImage(ByteReader& in, const std::vector<uint32_t>& global_table,
                    int transparent_index) {
  in.Skip(4);  // offset on the logical screen, not applied
  const uint32_t width = in.U16LE();
  const uint32_t height = in.U16LE();
  const uint8_t flags = in.U8();
  std::vector<uint32_t> local_table;
  if (flags & 0x80) local_table = ReadColourTable(in, flags & 0x07);
  const std::vector<uint32_t>& table = (flags & 0x80) ? local_table : global_table;
  if (table.empty()) in.Fail("no colour table");

  uint32_t colours[256];
  for (int i = 0; i < 256; ++i) {
    colours[i] = i < static_cast<int>(table.size()) ? table[i] : 0xFF000000u;
  }
  if (transparent_index >= 0) colours[transparent_index] &= 0x00FFFFFFu;

  const int min_code_size = in.U8();
  if (min_code_size < 1 || min_code_size > 8) in.Fail("bad LZW code size");

  Picture picture;
  picture.Allocate(width, height);
  picture.has_alpha = transparent_index >= 0;
  const std::vector<uint32_t> rows = RowOrder(height, (flags & 0x40) != 0);

  const uint64_t total = static_cast<uint64_t>(width) * height;
  uint64_t written = 0;
  uint32_t x = 0;
  uint32_t* row = picture.pixels.data() + static_cast<size_t>(rows[0]) * width;
  auto put = [&](uint8_t index) {
    row[x] = colours[index];
    ++written;
    if (++x == width) {
      x = 0;
      const uint64_t r = written / width;
      if (r < height) row = picture.pixels.data() + static_cast<size_t>(rows[r]) * width;
    }
  };
  auto done = [&]() { return written >= total; };

  const uint32_t clear = 1u << min_code_size;
  const uint32_t end = clear + 1;
  std::vector<uint16_t> prefix(kTableSize);
  std::vector<uint8_t> suffix(kTableSize), first(kTableSize);
  std::vector<uint8_t> stack(kTableSize);
  for (uint32_t i = 0; i < clear; ++i) {
    suffix[i] = first[i] = static_cast<uint8_t>(i);
  }
  int bits = min_code_size + 1;
  uint32_t next = clear + 2;
  int32_t previous = -1;
  CodeReader codes(in);
  bool data_ran_out = false;
  while (!done()) {
    uint32_t code;
    if (!codes.Read(bits, &code)) {
      data_ran_out = true;
      break;
    }
    if (code == clear) {
      bits = min_code_size + 1;
      next = clear + 2;
      previous = -1;
      continue;
    }
    if (code == end) in.Fail("image data ends early");
    if (previous < 0) {
      if (code > clear) in.Fail("LZW code beyond the table");
      put(static_cast<uint8_t>(code));
      previous = static_cast<int32_t>(code);
      continue;
    }
    uint32_t top = 0;
    uint32_t walk = code;
    if (code == next && next < kTableSize) {
      stack[top++] = first[previous];
      walk = static_cast<uint32_t>(previous);
    } else if (code >= next) {
      in.Fail("LZW code beyond the table");
    }
    while (walk >= clear) {
      stack[top++] = suffix[walk];
      walk = prefix[walk];
    }
    stack[top++] = static_cast<uint8_t>(walk);
    if (next < kTableSize) {
      prefix[next] = static_cast<uint16_t>(previous);
      suffix[next] = static_cast<uint8_t>(walk);
      first[next] = first[previous];
      ++next;
      if (next == (1u << bits) && bits < kMaxCodeBits) ++bits;
    }
    while (top > 0 && !done()) put(stack[--top]);
    previous = static_cast<int32_t>(code);
  }
  if (data_ran_out && !done()) {
    // The rest takes colour 0, row by row: a few bytes may claim a picture of millions of
    // pixels, which must not cost a call a pixel.
    const uint32_t fill = colours[0];
    uint64_t r = written / width;  // the row under way, x pixels of it written
    std::fill(row + x, row + width, fill);
    for (++r; r < height; ++r) {
      uint32_t* p = picture.pixels.data() + static_cast<size_t>(rows[r]) * width;
      std::fill(p, p + width, fill);
    }
  }
  return picture;
}

}  // namespace

Picture DecodeGif(const uint8_t* data, size_t size) {
  ByteReader in(data, size, "GIF");
  const uint8_t* magic = in.Take(6);
  if (std::memcmp(magic, "GIF87a", 6) != 0 && std::memcmp(magic, "GIF89a", 6) != 0) {
    in.Fail("not a GIF file");
  }
  in.Skip(4);  // logical screen size
  const uint8_t screen_flags = in.U8();
  in.Skip(2);  // background colour index, pixel aspect ratio
  std::vector<uint32_t> global_table;
  if (screen_flags & 0x80) global_table = ReadColourTable(in, screen_flags & 0x07);

  int transparent_index = -1;
  for (;;) {
    const uint8_t block = in.U8();
    if (block == 0x2C) return DecodeImage(in, global_table, transparent_index);
    if (block == 0x3B) in.Fail("no image");
    if (block != 0x21) in.Fail("unknown block");
    const uint8_t label = in.U8();
    if (label == 0xF9) {
      const uint8_t length = in.U8();
      const uint8_t* body = in.Take(length);
      if (length >= 4) transparent_index = (body[0] & 0x01) ? body[3] : -1;
    }
    SkipSubBlocks(in);
  }
}

// The content test: whether the bytes from the stream's position on look like this format.
bool GifAcceptsContent(MemoryStream& stream) {
  uint8_t h[3];
  if (!stream.Peek(22, h, sizeof h)) return false;
  return UpperCase(std::string(reinterpret_cast<const char*>(h), 3)) == "GIF";
}

}  // namespace quenvale
