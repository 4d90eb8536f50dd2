// PNG: every colour type and bit depth, Adam7 interlace, PLTE and tRNS. Chunk CRCs are checked,
// the inflated image data is never allowed to exceed what the header describes, and rows are
// unfiltered one at a time straight into the 32-bit pixels.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;

constexpr uint32_t ChunkType(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24 |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8 | static_cast<uint8_t>(d);
}
constexpr uint32_t kIhdr = ChunkType('I', 'H', 'D', 'R');
constexpr uint32_t kPlte = ChunkType('P', 'L', 'T', 'E');
constexpr uint32_t kTrns = ChunkType('t', 'R', 'N', 'S');
constexpr uint32_t kIdat = ChunkType('I', 'D', 'A', 'T');
constexpr uint32_t kIend = ChunkType('I', 'E', 'N', 'D');

[[noreturn]] void Fail(const char* reason) { throw PictureError(std::string("PNG: ") + reason); }

// 16-bit samples come down to 8 bits the way ImageMagick's `-depth 8` brings them: colour
// truncates (v / 257) and alpha rounds up ((v + 256) / 257), as it keeps opacity inverted.
inline uint32_t Colour16(uint32_t v) { return v / 257; }
inline uint32_t Alpha16(uint32_t v) { return (v + 256) / 257; }

struct Header {
  uint32_t width = 0;
  uint32_t height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  bool interlaced = false;
  int channels = 0;
};

struct Transparency {
  bool present = false;
  uint32_t key[3] = {0, 0, 0};  // grey, or red/green/blue, at the file's bit depth
};

Header ParseHeader(const uint8_t* p, uint32_t length) {
  if (length != 13) Fail("bad IHDR length");
  Header h;
  h.width = Be32(p);
  h.height = Be32(p + 4);
  h.bit_depth = p[8];
  h.colour_type = p[9];
  if (h.width == 0 || h.height == 0 || h.width > kMaxChunkLength || h.height > kMaxChunkLength) {
    Fail("bad picture size");
  }
  const int d = h.bit_depth;
  bool valid_depth = false;
  switch (h.colour_type) {
    case 0:
      valid_depth = d == 1 || d == 2 || d == 4 || d == 8 || d == 16;
      h.channels = 1;
      break;
    case 3:
      valid_depth = d == 1 || d == 2 || d == 4 || d == 8;
      h.channels = 1;
      break;
    case 2:
      valid_depth = d == 8 || d == 16;
      h.channels = 3;
      break;
    case 4:
      valid_depth = d == 8 || d == 16;
      h.channels = 2;
      break;
    case 6:
      valid_depth = d == 8 || d == 16;
      h.channels = 4;
      break;
    default:
      Fail("unknown colour type");
  }
  if (!valid_depth) Fail("bit depth not allowed for the colour type");
  if (p[10] != 0) Fail("unknown compression method");
  if (p[11] != 0) Fail("unknown filter method");
  if (p[12] > 1) Fail("unknown interlace method");
  h.interlaced = p[12] == 1;
  CheckPictureSize(h.width, h.height);
  return h;
}

// Bytes in one filtered row of `pixels` pixels, without the filter-type byte.
size_t RowBytes(const Header& h, uint32_t pixels) {
  return (static_cast<uint64_t>(pixels) * h.channels * h.bit_depth + 7) / 8;
}

inline uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  if (pb <= pc) return static_cast<uint8_t>(b);
  return static_cast<uint8_t>(c);
}

// Undoes the row's filter in place; `prior` is the unfiltered row above (zeros for the first).
void Unfilter(int type, uint8_t* row, const uint8_t* prior, size_t n, size_t bpp) {
  switch (type) {
    case 0:
      break;
    case 1:
      for (size_t i = bpp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      break;
    case 2:
      for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      break;
    case 3:
      for (size_t i = 0; i < bpp && i < n; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
      }
      for (size_t i = bpp; i < n; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + prior[i]) >> 1));
      }
      break;
    case 4:
      for (size_t i = 0; i < bpp && i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      for (size_t i = bpp; i < n; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + Paeth(row[i - bpp], prior[i], prior[i - bpp]));
      }
      break;
    default:
      Fail("unknown row filter");
  }
}

// Turns unfiltered rows into pixels. Samples of 8 bits or fewer go through a 256-entry table
// (palette, or grey levels with the tRNS key folded in); the rest are converted directly.
class RowConverter {
 public:
  RowConverter(const Header& h, const std::vector<uint32_t>& palette, const Transparency& trns)
      : h_(h), trns_(trns) {
    if (h.colour_type == 3) {
      table_.assign(256, 0xFF000000u);  // indices past the palette come out opaque black
      std::copy(palette.begin(), palette.end(), table_.begin());
    } else if (h.colour_type == 0 && h.bit_depth <= 8) {
      const uint32_t max = (1u << h.bit_depth) - 1;
      table_.resize(max + 1);
      for (uint32_t v = 0; v <= max; ++v) {
        const uint32_t g = v * 255 / max;
        const uint32_t a = trns.present && trns.key[0] == v ? 0 : 0xFF;
        table_[v] = Argb(a, g, g, g);
      }
    }
  }

  // Writes `count` pixels from `row` to out[0], out[step], out[2 * step], ...
  void Convert(const uint8_t* row, uint32_t count, uint32_t* out, size_t step) const {
    const int depth = h_.bit_depth;
    if (!table_.empty()) {
      if (depth == 8) {
        for (uint32_t i = 0; i < count; ++i) out[i * step] = table_[row[i]];
      } else {
        const int per_byte = 8 / depth;
        const uint32_t mask = (1u << depth) - 1;
        for (uint32_t i = 0; i < count; ++i) {
          const int shift = 8 - depth * (static_cast<int>(i % per_byte) + 1);
          out[i * step] = table_[(row[i / per_byte] >> shift) & mask];
        }
      }
      return;
    }
    const bool key = trns_.present;
    switch (h_.colour_type * 100 + depth) {
      case 16: {  // grey, 16 bits
        for (uint32_t i = 0; i < count; ++i) {
          const uint32_t v = Be16(row + 2 * i);
          const uint32_t g = Colour16(v);
          out[i * step] = Argb(key && v == trns_.key[0] ? 0 : 0xFF, g, g, g);
        }
        break;
      }
      case 208: {  // RGB
        if (key) {
          for (uint32_t i = 0; i < count; ++i, row += 3) {
            const bool clear =
                row[0] == trns_.key[0] && row[1] == trns_.key[1] && row[2] == trns_.key[2];
            out[i * step] = Argb(clear ? 0 : 0xFF, row[0], row[1], row[2]);
          }
        } else {
          for (uint32_t i = 0; i < count; ++i, row += 3) {
            out[i * step] = 0xFF000000u | static_cast<uint32_t>(row[0]) << 16 |
                            static_cast<uint32_t>(row[1]) << 8 | row[2];
          }
        }
        break;
      }
      case 216: {
        for (uint32_t i = 0; i < count; ++i, row += 6) {
          const uint32_t r = Be16(row), g = Be16(row + 2), b = Be16(row + 4);
          const bool clear = key && r == trns_.key[0] && g == trns_.key[1] && b == trns_.key[2];
          out[i * step] = Argb(clear ? 0 : 0xFF, Colour16(r), Colour16(g), Colour16(b));
        }
        break;
      }
      case 408: {  // grey and alpha
        for (uint32_t i = 0; i < count; ++i, row += 2) {
          out[i * step] = Argb(row[1], row[0], row[0], row[0]);
        }
        break;
      }
      case 416: {
        for (uint32_t i = 0; i < count; ++i, row += 4) {
          const uint32_t g = Colour16(Be16(row));
          out[i * step] = Argb(Alpha16(Be16(row + 2)), g, g, g);
        }
        break;
      }
      case 608: {  // RGBA
        for (uint32_t i = 0; i < count; ++i, row += 4) {
          out[i * step] = static_cast<uint32_t>(row[3]) << 24 |
                          static_cast<uint32_t>(row[0]) << 16 | static_cast<uint32_t>(row[1]) << 8 |
                          row[2];
        }
        break;
      }
      case 616: {
        for (uint32_t i = 0; i < count; ++i, row += 8) {
          out[i * step] = Argb(Alpha16(Be16(row + 6)), Colour16(Be16(row)), Colour16(Be16(row + 2)),
                               Colour16(Be16(row + 4)));
        }
        break;
      }
      default:
        Fail("unsupported sample layout");
    }
  }

 private:
  const Header& h_;
  const Transparency& trns_;
  std::vector<uint32_t> table_;
};

// Hands out the concatenated IDAT payloads to zlib as one stream, a chunk at a time.
class ImageDataStream {
 public:
  explicit ImageDataStream(const std::vector<std::pair<const uint8_t*, uint32_t>>& parts)
      : parts_(parts) {
    std::memset(&z_, 0, sizeof z_);
    if (inflateInit(&z_) != Z_OK) Fail("cannot start inflating");
  }
  ~ImageDataStream() { inflateEnd(&z_); }
  ImageDataStream(const ImageDataStream&) = delete;
  ImageDataStream& operator=(const ImageDataStream&) = delete;

  // Fills exactly n bytes, or throws: the stream may neither end early nor be corrupt.
  void Read(uint8_t* out, size_t n) {
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(n);
    while (z_.avail_out > 0) {
      if (z_.avail_in == 0) {
        if (next_part_ == parts_.size()) Fail("image data ends early");
        z_.next_in = const_cast<Bytef*>(parts_[next_part_].first);
        z_.avail_in = parts_[next_part_].second;
        ++next_part_;
        continue;
      }
      const int rc = inflate(&z_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        if (z_.avail_out > 0) Fail("image data ends early");
        break;
      }
      if (rc != Z_OK && rc != Z_BUF_ERROR) Fail("corrupt compressed image data");
    }
  }

 private:
  const std::vector<std::pair<const uint8_t*, uint32_t>>& parts_;
  size_t next_part_ = 0;
  z_stream z_;
};

struct Pass {
  uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass kWhole = {0, 0, 1, 1};

}  // namespace

Picture DecodePng(const uint8_t* data, size_t size) {
  if (size < 8 || std::memcmp(data, kSignature, 8) != 0) Fail("not a PNG file");
  ByteReader in(data, size, "PNG");
  in.Skip(8);

  Header h;
  bool have_header = false;
  bool seen_idat = false;
  bool after_idat = false;
  std::vector<uint32_t> palette;
  Transparency trns;
  std::vector<uint8_t> palette_alpha;
  std::vector<std::pair<const uint8_t*, uint32_t>> idat;
  for (;;) {
    const uint32_t length = in.U32BE();
    if (length > kMaxChunkLength) Fail("chunk too long");
    const uint8_t* typed = in.Take(4 + static_cast<size_t>(length));
    const uint32_t stored_crc = in.U32BE();
    if (crc32(crc32(0, nullptr, 0), typed, static_cast<uInt>(length) + 4) != stored_crc) {
      Fail("chunk CRC mismatch");
    }
    const uint32_t type = Be32(typed);
    const uint8_t* body = typed + 4;
    if (!have_header) {
      if (type != kIhdr) Fail("IHDR is not the first chunk");
      h = ParseHeader(body, length);
      have_header = true;
      continue;
    }
    if (seen_idat && type != kIdat) after_idat = true;
    if (type == kIend) break;
    if (type == kIdat) {
      if (after_idat) Fail("IDAT chunks are not consecutive");
      seen_idat = true;
      if (length > 0) idat.emplace_back(body, length);
    } else if (type == kPlte) {
      if (seen_idat) Fail("PLTE after the image data");
      if (!palette.empty()) Fail("more than one PLTE");
      if (length == 0 || length % 3 != 0 || length / 3 > 256) Fail("bad PLTE length");
      if (h.colour_type == 3 && length / 3 > (1u << h.bit_depth)) Fail("PLTE too long");
      for (uint32_t i = 0; i < length; i += 3)
        palette.push_back(Rgb(body[i], body[i + 1], body[i + 2]));
    } else if (type == kTrns) {
      if (seen_idat) Fail("tRNS after the image data");
      if (h.colour_type == 0) {
        if (length != 2) Fail("bad tRNS length");
        trns.present = true;
        trns.key[0] = Be16(body);
      } else if (h.colour_type == 2) {
        if (length != 6) Fail("bad tRNS length");
        trns.present = true;
        for (int c = 0; c < 3; ++c) trns.key[c] = Be16(body + 2 * c);
      } else if (h.colour_type == 3) {
        if (palette.empty()) Fail("tRNS before PLTE");
        if (length > palette.size()) Fail("tRNS longer than the palette");
        trns.present = true;
        palette_alpha.assign(body, body + length);
      }
      // Types with an alpha channel may not carry tRNS; it is ignored there.
    } else if (type == kIhdr) {
      Fail("more than one IHDR");
    } else if ((typed[0] & 0x20) == 0) {
      Fail("unknown critical chunk");
    }
  }
  if (!seen_idat) Fail("no image data");
  if (h.colour_type == 3 && palette.empty()) Fail("palette image without PLTE");
  for (size_t i = 0; i < palette_alpha.size(); ++i) {
    palette[i] = (palette[i] & 0x00FFFFFFu) | static_cast<uint32_t>(palette_alpha[i]) << 24;
  }

  // Deflate expands at most 1032-fold, so image data that cannot possibly fill the picture is
  // refused before the picture is allocated.
  uint64_t compressed = 0;
  for (const auto& part : idat) compressed += part.second;
  const Pass* passes = h.interlaced ? kAdam7 : &kWhole;
  const int pass_count = h.interlaced ? 7 : 1;
  uint64_t needed = 0;
  for (int p = 0; p < pass_count; ++p) {
    const Pass& pass = passes[p];
    if (pass.x0 >= h.width || pass.y0 >= h.height) continue;
    const uint32_t pass_width = (h.width - pass.x0 + pass.dx - 1) / pass.dx;
    const uint64_t pass_height = (h.height - pass.y0 + pass.dy - 1) / pass.dy;
    needed += pass_height * (RowBytes(h, pass_width) + 1);
  }
  if (compressed * 1032 + 1024 < needed) Fail("image data ends early");

  Picture picture;
  picture.Allocate(h.width, h.height);
  picture.has_alpha = h.colour_type == 4 || h.colour_type == 6 || trns.present;

  const size_t full_row = RowBytes(h, h.width);
  const size_t bpp = std::max(1, h.channels * h.bit_depth / 8);
  // The row being unfiltered and the one above it, each with its filter-type byte.
  std::vector<uint8_t> buffer(2 * (full_row + 1), 0);
  uint8_t* current = buffer.data();
  uint8_t* prior = buffer.data() + full_row + 1;
  RowConverter converter(h, palette, trns);
  ImageDataStream stream(idat);

  for (int p = 0; p < pass_count; ++p) {
    const Pass& pass = passes[p];
    if (pass.x0 >= h.width || pass.y0 >= h.height) continue;
    const uint32_t pass_width = (h.width - pass.x0 + pass.dx - 1) / pass.dx;
    const uint32_t pass_height = (h.height - pass.y0 + pass.dy - 1) / pass.dy;
    const size_t row_bytes = RowBytes(h, pass_width);
    std::memset(prior, 0, row_bytes + 1);
    for (uint32_t r = 0; r < pass_height; ++r) {
      stream.Read(current, row_bytes + 1);
      Unfilter(current[0], current + 1, prior + 1, row_bytes, bpp);
      const uint32_t y = pass.y0 + r * pass.dy;
      uint32_t* out = picture.pixels.data() + static_cast<size_t>(y) * h.width + pass.x0;
      converter.Convert(current + 1, pass_width, out, pass.dx);
      std::swap(current, prior);
    }
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool PngAcceptsContent(MemoryStream& stream) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t h[8];
  if (!stream.Peek(8, h, sizeof h)) return false;
  return std::memcmp(h, kSignature, 8) == 0;
}

}  // namespace quenvale
