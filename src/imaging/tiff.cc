// TIFF: the first image of the file, in strips or tiles, chunky or planar, uncompressed,
// PackBits, LZW or Deflate, 1 to 16 bits per sample, grey, palette, RGB and CMYK, with alpha;
// JPEG (tiff_jpeg.h) for 8-bit grey, RGB, YCbCr and CMYK; CCITT fax (tiff_fax.h) for 1 bit.
// Every offset and count in the file is treated as a lie until checked against the file's size.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"
#include "imaging/tiff_fax.h"
#include "imaging/tiff_jpeg.h"

namespace quenvale {
namespace {

[[noreturn]] void Fail(const std::string& reason) { throw PictureError("TIFF: " + reason); }

enum Tag : uint16_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kFillOrder = 266,
  kStripOffsets = 273,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kPlanarConfiguration = 284,
  kT4Options = 292,
  kT6Options = 293,
  kPredictor = 317,
  kColorMap = 320,
  kTileWidth = 322,
  kTileLength = 323,
  kTileOffsets = 324,
  kTileByteCounts = 325,
  kInkSet = 332,
  kExtraSamples = 338,
  kSampleFormat = 339,
  kJpegTables = 347,
  kJpegInterchangeFormat = 513,
  kJpegInterchangeFormatLength = 514,
};

struct Entry {
  uint16_t type = 0;
  uint32_t count = 0;
  size_t value_offset = 0;  // where the value itself sits in the file
};

class Ifd {
 public:
  Ifd(const uint8_t* data, size_t size, bool big_endian)
      : data_(data), size_(size), big_endian_(big_endian) {}

  uint32_t Read32(size_t at) const {
    if (at > size_ || size_ - at < 4) Fail("truncated data");
    const uint8_t* p = data_ + at;
    return big_endian_ ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                       : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
  }
  uint16_t Read16(size_t at) const {
    if (at > size_ || size_ - at < 2) Fail("truncated data");
    const uint8_t* p = data_ + at;
    return static_cast<uint16_t>(big_endian_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
  }

  void Parse(size_t offset) {
    const uint16_t count = Read16(offset);
    if (count == 0) Fail("empty directory");
    for (uint32_t i = 0; i < count; ++i) {
      const size_t at = offset + 2 + static_cast<size_t>(i) * 12;
      Read32(at + 8);  // the whole entry must be in the file, inline values included
      const uint16_t tag = Read16(at);
      Entry entry;
      entry.type = Read16(at + 2);
      entry.count = Read32(at + 4);
      const uint64_t bytes = uint64_t{TypeSize(entry.type)} * entry.count;
      if (TypeSize(entry.type) == 0) continue;  // a type this reader has no use for
      if (bytes <= 4) {
        entry.value_offset = at + 8;
      } else {
        entry.value_offset = Read32(at + 8);
        // A count the file cannot hold is rejected here, before anything is sized by it.
        if (entry.value_offset > size_ || bytes > size_ - entry.value_offset) {
          Fail("tag data outside the file");
        }
      }
      entries_.push_back({tag, entry});
    }
  }

  const Entry* Find(uint16_t tag) const {
    for (const auto& e : entries_) {
      if (e.first == tag) return &e.second;
    }
    return nullptr;
  }

  // The tag's values as unsigned numbers (BYTE, SHORT or LONG).
  std::vector<uint32_t> Values(uint16_t tag) const {
    std::vector<uint32_t> values;
    const Entry* e = Find(tag);
    if (!e) return values;
    const unsigned width = TypeSize(e->type);
    if (e->type != 1 && e->type != 3 && e->type != 4)
      Fail("unexpected type for tag " + std::to_string(tag));
    values.reserve(e->count);
    for (uint32_t i = 0; i < e->count; ++i) {
      const size_t at = e->value_offset + static_cast<size_t>(i) * width;
      values.push_back(width == 1 ? data_[at] : width == 2 ? Read16(at) : Read32(at));
    }
    return values;
  }

  uint32_t Value(uint16_t tag, uint32_t fallback) const {
    const Entry* e = Find(tag);
    if (!e || e->count == 0) return fallback;
    if (e->type != 1 && e->type != 3 && e->type != 4)
      Fail("unexpected type for tag " + std::to_string(tag));
    return e->type == 1   ? data_[e->value_offset]
           : e->type == 3 ? Read16(e->value_offset)
                          : Read32(e->value_offset);
  }

 private:
  static unsigned TypeSize(uint16_t type) {
    switch (type) {
      case 1:
      case 2:
      case 6:
      case 7:
        return 1;
      case 3:
      case 8:
        return 2;
      case 4:
      case 9:
      case 11:
      case 13:
        return 4;
      case 5:
      case 10:
      case 12:
        return 8;
      default:
        return 0;
    }
  }

  const uint8_t* data_;
  size_t size_;
  bool big_endian_;
  std::vector<std::pair<uint16_t, Entry>> entries_;
};

// ---- Decompression. Each writes at most out->size() bytes and returns how many it wrote. ----

size_t CopyRaw(const uint8_t* in, size_t in_size, std::vector<uint8_t>* out) {
  const size_t n = std::min(in_size, out->size());
  if (n) std::memcpy(out->data(), in, n);
  return n;
}

size_t UnpackBits(const uint8_t* in, size_t in_size, std::vector<uint8_t>* out) {
  size_t i = 0, o = 0;
  const size_t limit = out->size();
  while (i < in_size && o < limit) {
    const int n = static_cast<int8_t>(in[i++]);
    if (n >= 0) {
      const size_t run = std::min<size_t>({static_cast<size_t>(n) + 1, in_size - i, limit - o});
      std::memcpy(out->data() + o, in + i, run);
      i += run;
      o += run;
    } else if (n != -128) {
      if (i >= in_size) break;
      const size_t run = std::min<size_t>(static_cast<size_t>(1 - n), limit - o);
      std::memset(out->data() + o, in[i++], run);
      o += run;
    }
  }
  return o;
}

size_t Lzw(const uint8_t* in, size_t in_size, std::vector<uint8_t>* out) {
  if (in_size >= 2 && in[0] == 0 && (in[1] & 1)) {
    Fail("old-style LZW compression is not supported");
  }
  constexpr int kClear = 256, kEnd = 257, kTableSize = 4096;
  std::vector<uint16_t> prefix(kTableSize);
  std::vector<uint8_t> suffix(kTableSize), first(kTableSize);
  std::vector<uint16_t> length(kTableSize);
  for (int c = 0; c < 256; ++c) {
    suffix[c] = first[c] = static_cast<uint8_t>(c);
    length[c] = 1;
  }
  uint8_t* const dst = out->data();
  const size_t limit = out->size();
  size_t o = 0;
  size_t bitpos = 0;
  const size_t total_bits = in_size * 8;
  int width = 9, next = 258, previous = -1;

  // Writes the string for `code`, cut short at the end of the output.
  auto emit = [&](int code) {
    const size_t len = length[code];
    const size_t room = limit - o;
    int c = code;
    for (size_t k = len; k > 0; --k) {
      if (k - 1 < room) dst[o + k - 1] = suffix[c];
      c = prefix[c];
    }
    o += std::min(len, room);
  };

  while (o < limit && bitpos + width <= total_bits) {
    int code = 0;
    for (int b = 0; b < width; ++b, ++bitpos) {
      code = code << 1 | ((in[bitpos >> 3] >> (7 - (bitpos & 7))) & 1);
    }
    if (code == kEnd) break;
    if (code == kClear) {
      width = 9;
      next = 258;
      previous = -1;
      continue;
    }
    if (previous < 0) {
      if (code >= 256) Fail("corrupt LZW data");
      emit(code);
      previous = code;
      continue;
    }
    int added_first;
    if (code < next) {
      added_first = first[code];
    } else if (code == next) {
      added_first = first[previous];
    } else {
      Fail("corrupt LZW data");
    }
    if (next < kTableSize) {
      prefix[next] = static_cast<uint16_t>(previous);
      suffix[next] = static_cast<uint8_t>(added_first);
      first[next] = first[previous];
      length[next] = static_cast<uint16_t>(length[previous] + 1);
      ++next;
    }
    emit(code);
    previous = code;
    // Code widths grow one code early: the writer switches as the table reaches 2^n - 1.
    if (next + 1 >= (1 << width) && width < 12) ++width;
  }
  return o;
}

size_t Inflate(const uint8_t* in, size_t in_size, std::vector<uint8_t>* out) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) Fail("zlib failed to start");
  size_t in_done = 0, out_done = 0;
  int status = Z_OK;
  // zlib counts in 32-bit units; feed it in slices.
  while (status == Z_OK && out_done < out->size()) {
    const size_t in_slice = std::min<size_t>(in_size - in_done, 1u << 30);
    const size_t out_slice = std::min<size_t>(out->size() - out_done, 1u << 30);
    stream.next_in = const_cast<Bytef*>(in + in_done);
    stream.avail_in = static_cast<uInt>(in_slice);
    stream.next_out = out->data() + out_done;
    stream.avail_out = static_cast<uInt>(out_slice);
    status = inflate(&stream, Z_NO_FLUSH);
    in_done += in_slice - stream.avail_in;
    out_done += out_slice - stream.avail_out;
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;  // the data just stops
  }
  inflateEnd(&stream);
  if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
    Fail("corrupt Deflate data");
  }
  return out_done;
}

// ---- Layout of the image ----

enum class Colour { kWhiteIsZero, kBlackIsZero, kRgb, kPalette, kCmyk };

struct Layout {
  uint32_t width = 0, height = 0;
  uint32_t bits = 8;
  uint32_t samples = 1;  // samples per pixel
  uint32_t colour_samples = 1;
  bool planar = false;
  uint32_t compression = 1;
  uint32_t predictor = 1;
  uint32_t fax_options = 0;  // T4Options or T6Options
  bool big_endian = false;
  bool reversed_bits = false;  // FillOrder 2
  Colour colour = Colour::kBlackIsZero;
  bool ycbcr = false;     // Photometric 6: stored as YCbCr, which libjpeg turns into kRgb
  int alpha_sample = -1;  // index of the alpha sample, if any
  bool associated_alpha = false;
  // Chunks are strips or tiles; each covers chunk_width x chunk_height pixels at its place.
  bool tiled = false;
  uint32_t chunk_width = 0, chunk_height = 0;
  uint32_t chunks_across = 0, chunks_down = 0;
  std::vector<uint32_t> offsets, byte_counts;
  std::vector<uint32_t> palette;  // ARGB, 2^bits entries
};

uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

// Samples of other sizes to 8 bits, truncating as ImageMagick's "-depth 8" does (65535 / 257).
inline uint32_t To8(uint32_t v, uint32_t max) {
  if (max == 255) return v;
  return v * 255 / max;
}
// Alpha rounds the other way: that reference keeps transparency, not opacity, and truncates it.
inline uint32_t AlphaTo8(uint32_t v, uint32_t max) { return (v * 255 + max - 1) / max; }

Layout ReadLayout(const Ifd& ifd, size_t size) {
  Layout l;
  l.width = ifd.Value(kImageWidth, 0);
  l.height = ifd.Value(kImageLength, 0);
  CheckPictureSize(l.width, l.height);

  l.samples = ifd.Value(kSamplesPerPixel, 1);
  if (l.samples == 0 || l.samples > 64) Fail("unsupported number of samples per pixel");
  const std::vector<uint32_t> bits = ifd.Values(kBitsPerSample);
  l.bits = bits.empty() ? 1 : bits[0];
  for (uint32_t b : bits) {
    if (b != l.bits) Fail("samples of different sizes are not supported");
  }
  if (l.bits != 1 && l.bits != 2 && l.bits != 4 && l.bits != 8 && l.bits != 16) {
    Fail("unsupported " + std::to_string(l.bits) + "-bit samples");
  }
  const uint32_t format = ifd.Value(kSampleFormat, 1);
  if (format != 1) Fail("only unsigned integer samples are supported");

  l.compression = ifd.Value(kCompression, 1);
  switch (l.compression) {
    case 1:
    case 5:
    case 7:
    case 8:
    case 32773:
    case 32946:
      break;
    case 2:
    case 3:
    case 4:
      if (l.bits != 1 || l.samples != 1) Fail("fax compression of other than 1-bit samples");
      l.fax_options = ifd.Value(l.compression == 4 ? kT6Options : kT4Options, 0);
      if (l.fax_options & kFaxUncompressedMode) Fail("fax uncompressed mode is not supported");
      break;
    default:
      Fail("unsupported compression " + std::to_string(l.compression));
  }
  l.predictor = ifd.Value(kPredictor, 1);
  if (l.predictor != 1 && l.predictor != 2) Fail("unsupported predictor");
  if (l.predictor == 2 && l.bits < 8) Fail("predictor with samples under 8 bits");
  l.reversed_bits = ifd.Value(kFillOrder, 1) == 2;
  l.planar = ifd.Value(kPlanarConfiguration, 1) == 2 && l.samples > 1;

  const uint32_t photometric = ifd.Value(kPhotometric, l.samples >= 3 ? 2 : 1);
  switch (photometric) {
    case 0:
      l.colour = Colour::kWhiteIsZero;
      l.colour_samples = 1;
      break;
    case 1:
      l.colour = Colour::kBlackIsZero;
      l.colour_samples = 1;
      break;
    case 2:
      l.colour = Colour::kRgb;
      l.colour_samples = 3;
      break;
    case 3:
      l.colour = Colour::kPalette;
      l.colour_samples = 1;
      break;
    case 5:
      if (ifd.Value(kInkSet, 1) != 1) Fail("only CMYK separations are supported");
      l.colour = Colour::kCmyk;
      l.colour_samples = 4;
      break;
    case 6:
      if (l.compression != 7) Fail("YCbCr is only supported with JPEG compression");
      if (l.planar) Fail("planar YCbCr is not supported");
      l.colour = Colour::kRgb;
      l.colour_samples = 3;
      l.ycbcr = true;
      break;
    default:
      Fail("unsupported photometric interpretation " + std::to_string(photometric));
  }
  if (l.samples < l.colour_samples) Fail("too few samples per pixel");
  const std::vector<uint32_t> extra = ifd.Values(kExtraSamples);
  if (l.samples > l.colour_samples && !extra.empty() && (extra[0] == 1 || extra[0] == 2)) {
    l.alpha_sample = static_cast<int>(l.colour_samples);
    l.associated_alpha = extra[0] == 1;
  }
  // Extra samples without the tag that must describe them: netpbm's pamtotiff writes grey and
  // RGB pictures with alpha so, and every reader we know takes the first one as unassociated
  // alpha; an explicit "unspecified" (0) stays what it says.
  if (l.samples > l.colour_samples && ifd.Find(kExtraSamples) == nullptr &&
      l.colour != Colour::kPalette) {
    l.alpha_sample = static_cast<int>(l.colour_samples);
  }

  if (l.colour == Colour::kPalette) {
    if (l.bits > 8) Fail("palette with more than 8 bits per index");
    const std::vector<uint32_t> map = ifd.Values(kColorMap);
    const size_t entries = size_t{1} << l.bits;
    if (map.size() < 3 * entries) Fail("missing or short colour map");
    for (size_t i = 0; i < entries; ++i) {
      l.palette.push_back(
          Rgb(To8(map[i], 65535), To8(map[entries + i], 65535), To8(map[2 * entries + i], 65535)));
    }
  }

  l.tiled = ifd.Find(kTileWidth) != nullptr;
  if (l.tiled) {
    l.chunk_width = ifd.Value(kTileWidth, 0);
    l.chunk_height = ifd.Value(kTileLength, 0);
    if (l.chunk_width == 0 || l.chunk_height == 0) Fail("zero tile size");
    l.offsets = ifd.Values(kTileOffsets);
    l.byte_counts = ifd.Values(kTileByteCounts);
  } else {
    l.chunk_width = l.width;
    l.chunk_height = std::min(std::max<uint32_t>(ifd.Value(kRowsPerStrip, l.height), 1), l.height);
    l.offsets = ifd.Values(kStripOffsets);
    l.byte_counts = ifd.Values(kStripByteCounts);
  }
  l.chunks_across = static_cast<uint32_t>((uint64_t{l.width} + l.chunk_width - 1) / l.chunk_width);
  l.chunks_down = static_cast<uint32_t>((uint64_t{l.height} + l.chunk_height - 1) / l.chunk_height);
  const uint64_t chunks = uint64_t{l.chunks_across} * l.chunks_down * (l.planar ? l.samples : 1);
  if (l.offsets.size() < chunks) Fail("missing strip or tile offsets");
  if (l.byte_counts.empty() && l.compression == 1) {
    // Some writers leave the counts out of uncompressed files: the rest of the file will do.
    for (uint32_t offset : l.offsets) {
      l.byte_counts.push_back(static_cast<uint32_t>(offset < size ? size - offset : 0));
    }
  }
  if (l.byte_counts.size() < chunks) Fail("missing strip or tile byte counts");
  return l;
}

// Bytes one chunk row holds for one plane (planar) or for all samples (chunky).
uint64_t ChunkRowBytes(const Layout& l) {
  const uint64_t per_pixel = l.planar ? 1 : l.samples;
  return (uint64_t{l.chunk_width} * per_pixel * l.bits + 7) / 8;
}

// Decompresses one chunk, undoes the predictor, and returns the bytes (possibly fewer than a
// full chunk when the data ends early; the reader treats missing bytes as zero).
std::vector<uint8_t> ReadChunk(const Layout& l, size_t index, const uint8_t* data, size_t size) {
  const uint64_t row_bytes = ChunkRowBytes(l);
  const uint64_t expected = row_bytes * l.chunk_height;
  const uint64_t offset = l.offsets[index];
  uint64_t count = l.byte_counts[index];
  if (offset > size) Fail("strip or tile outside the file");
  count = std::min<uint64_t>(count, size - offset);
  // The most each method can expand its input: keeps buffers to what the file can hold.
  uint64_t ratio = 1;
  if (l.compression == 32773) ratio = 64;
  if (l.compression == 5) ratio = 4096;
  if (l.compression == 8 || l.compression == 32946) ratio = 1032;
  uint64_t capacity = std::min(expected, count * ratio + 4096);
  // Fax rows take at least a bit each, however wide they are.
  if (l.compression >= 2 && l.compression <= 4) {
    capacity = std::min(expected, row_bytes * std::min<uint64_t>(l.chunk_height, count * 8));
  }
  if (capacity > kMaxPictureBytes) Fail("strip or tile too large");

  const uint8_t* in = data + offset;
  std::vector<uint8_t> reversed;
  if (l.reversed_bits) {
    reversed.assign(in, in + count);
    for (uint8_t& b : reversed) b = ReverseBits(b);
    in = reversed.data();
  }
  std::vector<uint8_t> out(static_cast<size_t>(capacity));
  size_t produced = 0;
  switch (l.compression) {
    case 1:
      produced = CopyRaw(in, count, &out);
      break;
    case 32773:
      produced = UnpackBits(in, count, &out);
      break;
    case 5:
      produced = Lzw(in, count, &out);
      break;
    case 2:
    case 3:
    case 4: {
      const FaxMode mode = l.compression == 2   ? FaxMode::kModifiedHuffman
                           : l.compression == 3 ? FaxMode::kGroup3
                                                : FaxMode::kGroup4;
      produced = DecodeFax(mode, l.fax_options, in, count, l.chunk_width, l.chunk_height, &out);
      break;
    }
    default:
      produced = Inflate(in, count, &out);
      break;
  }
  out.resize(produced);

  if (l.predictor == 2) {
    const size_t stride = l.planar ? 1 : l.samples;
    const size_t bytes_per_sample = l.bits / 8;
    for (size_t row = 0; row * row_bytes < out.size(); ++row) {
      uint8_t* p = out.data() + row * row_bytes;
      const size_t n = std::min<size_t>(row_bytes, out.size() - row * row_bytes) / bytes_per_sample;
      if (bytes_per_sample == 1) {
        for (size_t i = stride; i < n; ++i) p[i] = static_cast<uint8_t>(p[i] + p[i - stride]);
      } else {
        const bool be = l.big_endian;
        for (size_t i = stride; i < n; ++i) {
          uint8_t* s = p + 2 * i;
          const uint8_t* t = p + 2 * (i - stride);
          const unsigned a = be ? (s[0] << 8 | s[1]) : (s[1] << 8 | s[0]);
          const unsigned b = be ? (t[0] << 8 | t[1]) : (t[1] << 8 | t[0]);
          const unsigned sum = (a + b) & 0xFFFF;
          s[be ? 0 : 1] = static_cast<uint8_t>(sum >> 8);
          s[be ? 1 : 0] = static_cast<uint8_t>(sum);
        }
      }
    }
  }
  return out;
}

// Reads sample `index` (counted in samples from the start of the chunk row) of one row.
inline uint32_t Sample(const std::vector<uint8_t>& chunk, uint64_t row_start, uint64_t index,
                       uint32_t bits, bool big_endian) {
  if (bits == 8) {
    const uint64_t at = row_start + index;
    return at < chunk.size() ? chunk[at] : 0;
  }
  if (bits == 16) {
    const uint64_t at = row_start + index * 2;
    if (at + 1 >= chunk.size()) return 0;
    return big_endian ? (chunk[at] << 8 | chunk[at + 1]) : (chunk[at + 1] << 8 | chunk[at]);
  }
  const uint64_t bit = index * bits;
  const uint64_t at = row_start + bit / 8;
  if (at >= chunk.size()) return 0;
  const unsigned shift = 8 - bits - static_cast<unsigned>(bit % 8);
  return (chunk[at] >> shift) & ((1u << bits) - 1);
}

// Colour is worked out at 16 bits and then truncated to 8, as the 16-bit reference does, so
// that converted and premultiplied pixels round alike.
uint32_t ToPixel(const Layout& l, const uint32_t* s) {
  constexpr uint32_t kMax = 65535;
  const uint32_t max = (1u << l.bits) - 1;
  const uint32_t scale = kMax / max;  // exact for 1, 2, 4, 8 and 16 bits
  const uint32_t alpha = l.alpha_sample >= 0 ? s[l.alpha_sample] * scale : kMax;
  uint32_t c[3] = {0, 0, 0};
  switch (l.colour) {
    case Colour::kWhiteIsZero:
      c[0] = c[1] = c[2] = (max - s[0]) * scale;
      break;
    case Colour::kBlackIsZero:
      c[0] = c[1] = c[2] = s[0] * scale;
      break;
    case Colour::kRgb:
      for (int i = 0; i < 3; ++i) c[i] = s[i] * scale;
      break;
    case Colour::kPalette: {
      const uint32_t p = l.palette[s[0]];
      return l.alpha_sample >= 0 ? (p & 0xFFFFFF) | AlphaTo8(alpha, kMax) << 24 : p;
    }
    case Colour::kCmyk: {
      // Inks are cut to 8 bits first, then combined with rounding, matching the reference.
      const uint32_t k = 255 - To8(s[3], max);
      for (int i = 0; i < 3; ++i) c[i] = ((255 - To8(s[i], max)) * k + 127) / 255 * 257;
      break;
    }
  }
  // Premultiplied colour back to straight, rounded; under zero alpha any colour saturates.
  if (l.associated_alpha) {
    for (int i = 0; i < 3; ++i) {
      if (alpha == 0) {
        c[i] = c[i] ? kMax : 0;
      } else {
        c[i] = static_cast<uint32_t>(
            std::min<uint64_t>(kMax, (uint64_t{c[i]} * kMax + alpha / 2) / alpha));
      }
    }
  }
  return Argb(AlphaTo8(alpha, kMax), To8(c[0], kMax), To8(c[1], kMax), To8(c[2], kMax));
}

// A JPEG strip or tile (compression 7), decoded into a whole chunk's buffer.
std::vector<uint8_t> ReadJpegChunk(const Layout& l, size_t index, const uint8_t* data, size_t size,
                                   const Entry* tables) {
  const uint64_t offset = l.offsets[index];
  if (offset > size) Fail("strip or tile outside the file");
  const uint64_t count = std::min<uint64_t>(l.byte_counts[index], size - offset);
  TiffJpegChunk chunk;
  chunk.width = l.chunk_width;
  chunk.height = l.chunk_height;
  chunk.samples = l.planar ? 1 : l.samples;
  chunk.bits = l.bits;
  chunk.ycbcr = l.ycbcr;
  if (tables && tables->count > 0) {  // an empty JPEGTables holds nothing to load
    if (tables->type != 1 && tables->type != 7) Fail("unexpected type for tag 347");
    chunk.tables = data + tables->value_offset;
    chunk.tables_size = tables->count;
  }
  const uint64_t row_bytes = ChunkRowBytes(l);
  // Tiles may be declared far larger than the image: the buffer is held to the picture limit.
  if (row_bytes > kMaxPictureBytes / l.chunk_height) Fail("strip or tile too large");
  std::vector<uint8_t> out(static_cast<size_t>(row_bytes * l.chunk_height));
  out.resize(DecodeTiffJpegChunk(chunk, data + offset, static_cast<size_t>(count), out.data(),
                                 static_cast<size_t>(row_bytes), out.size()));
  return out;
}

}  // namespace

Picture DecodeTiff(const uint8_t* data, size_t size) {
  if (size < 8) Fail("truncated data");
  bool big_endian;
  if (data[0] == 'I' && data[1] == 'I') {
    big_endian = false;
  } else if (data[0] == 'M' && data[1] == 'M') {
    big_endian = true;
  } else {
    Fail("not a TIFF file");
  }
  Ifd ifd(data, size, big_endian);
  const uint16_t magic = ifd.Read16(2);
  if (magic == 43) Fail("BigTIFF is not supported");
  if (magic != 42) Fail("not a TIFF file");
  ifd.Parse(ifd.Read32(4));
  if (ifd.Value(kCompression, 1) == 6) {
    return DecodeOldStyleTiffJpeg(data, size, ifd.Value(kJpegInterchangeFormat, 0),
                                  ifd.Value(kJpegInterchangeFormatLength, 0),
                                  ifd.Value(kImageWidth, 0), ifd.Value(kImageLength, 0));
  }

  Layout l = ReadLayout(ifd, size);
  l.big_endian = big_endian;
  Picture picture;
  picture.Allocate(l.width, l.height);
  picture.has_alpha = l.alpha_sample >= 0;

  const uint32_t planes = l.planar ? l.samples : 1;
  const uint64_t row_bytes = ChunkRowBytes(l);
  const size_t chunks_per_plane = size_t{l.chunks_across} * l.chunks_down;
  if (uint64_t{row_bytes} * l.chunk_height * planes > kMaxPictureBytes) {
    Fail("strip or tile too large");
  }
  std::vector<std::vector<uint8_t>> buffers(planes);
  uint32_t samples[64];
  for (size_t chunk = 0; chunk < chunks_per_plane; ++chunk) {
    for (uint32_t p = 0; p < planes; ++p) {
      const size_t index = p * chunks_per_plane + chunk;
      buffers[p] = l.compression == 7 ? ReadJpegChunk(l, index, data, size, ifd.Find(kJpegTables))
                                      : ReadChunk(l, index, data, size);
    }
    const uint32_t x0 = static_cast<uint32_t>(chunk % l.chunks_across) * l.chunk_width;
    const uint32_t y0 = static_cast<uint32_t>(chunk / l.chunks_across) * l.chunk_height;
    const uint32_t x1 =
        static_cast<uint32_t>(std::min<uint64_t>(l.width, uint64_t{x0} + l.chunk_width));
    const uint32_t y1 =
        static_cast<uint32_t>(std::min<uint64_t>(l.height, uint64_t{y0} + l.chunk_height));
    for (uint32_t y = y0; y < y1; ++y) {
      const uint64_t row_start = (y - y0) * row_bytes;
      for (uint32_t x = x0; x < x1; ++x) {
        const uint64_t column = x - x0;
        if (l.planar) {
          for (uint32_t s = 0; s < l.samples; ++s) {
            samples[s] = Sample(buffers[s], row_start, column, l.bits, big_endian);
          }
        } else {
          for (uint32_t s = 0; s < l.samples; ++s) {
            samples[s] = Sample(buffers[0], row_start, column * l.samples + s, l.bits, big_endian);
          }
        }
        picture.At(static_cast<int32_t>(x), static_cast<int32_t>(y)) = ToPixel(l, samples);
      }
    }
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool TiffAcceptsContent(MemoryStream& stream) {
  uint8_t h[8];
  if (!stream.Peek(8, h, sizeof h)) return false;
  const bool intel = h[0] == 'I' && h[1] == 'I';
  const bool motorola = h[0] == 'M' && h[1] == 'M';
  if (!intel && !motorola) return false;
  const uint16_t version = intel ? Le16(h + 2) : Be16(h + 2);
  const uint32_t first_ifd = intel ? Le32(h + 4) : Be32(h + 4);
  return version == 42 && first_ifd < stream.Remaining();
}

}  // namespace quenvale
