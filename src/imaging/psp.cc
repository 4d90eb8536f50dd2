// Paint Shop Pro images: a 32-byte signature and version, then a sequence of "~BK\0" blocks.
// The full composite of the Composite Image Bank is decoded when present (8-bit paletted or grey,
// or 24-bit colour with an optional transparency channel, stored raw, run-length or deflated);
// documents without one (format version 4 onwards) are flattened from their raster layers.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/strings.h"
#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

constexpr char kSignature[] = "Paint Shop Pro Image File\n\x1a";
constexpr size_t kSignatureLength = sizeof(kSignature) - 1;

enum BlockId : uint16_t {
  kImageAttributes = 0,
  kColourPalette = 2,
  kLayerBank = 3,
  kLayer = 4,
  kChannel = 5,
  kCompositeBank = 16,
  kCompositeAttributes = 17,
};

enum Compression : uint16_t { kNone = 0, kRle = 1, kLz77 = 2 };

struct Block {
  uint16_t id;
  size_t start;  // first byte after the block header
  size_t end;
  uint32_t initial_length;  // version 3: the length of the block's own fields
};

struct Channel {
  uint16_t bitmap_type;
  uint16_t channel_type;
  const uint8_t* data;
  uint32_t compressed;
  uint32_t uncompressed;
};

struct Rect {
  int32_t left, top, right, bottom;  // right and bottom exclusive
};

struct Layer {
  Rect image;  // where the layer sits on the canvas
  Rect saved;  // the part of the layer that carries pixel data, relative to `image`
  uint8_t opacity;
  bool visible;
  std::vector<Channel> channels;
};

struct Composite {
  int32_t width = 0, height = 0;
  uint16_t bit_depth = 0, compression = 0, type = 0xFFFF;
  std::vector<uint32_t> palette;
  std::vector<Channel> channels;
};

class PspParser {
 public:
  PspParser(const uint8_t* data, size_t size) : reader_(data, size, "PSP") {}

  Picture Decode() {
    if (reader_.Size() < 36 ||
        std::memcmp(reader_.Take(kSignatureLength), kSignature, kSignatureLength) != 0) {
      reader_.Fail("not a Paint Shop Pro image");
    }
    reader_.Seek(32);
    major_ = reader_.U16LE();
    reader_.U16LE();  // minor version
    if (major_ < 3) reader_.Fail("file format version too old");

    bool have_attributes = false;
    std::vector<Composite> composites;
    std::vector<Block> layer_banks;
    std::vector<uint32_t> palette;
    size_t pos = 36;
    // Each block moves `pos` forward by at least its header, so the walk ends.
    while (pos + 4 <= reader_.Size()) {
      const Block block = ReadBlock(pos, reader_.Size());
      pos = block.end;
      if (block.id == kImageAttributes) {
        ReadImageAttributes(block);
        have_attributes = true;
      } else if (block.id == kCompositeBank) {
        ReadCompositeBank(block, &composites);
      } else if (block.id == kLayerBank) {
        layer_banks.push_back(block);
      } else if (block.id == kColourPalette) {
        Composite holder;
        ReadPart(block, &holder);
        palette = holder.palette;
      }
    }
    if (!have_attributes) reader_.Fail("no image attributes");
    for (const Composite& c : composites) {
      if (c.type == 0) return Render(c, greyscale_);
    }
    // Layers are only read when there is no composite to show.
    std::vector<Layer> layers;
    for (const Block& bank : layer_banks) ReadLayerBank(bank, &layers);
    if (layers.empty()) reader_.Fail("no composite image and no layers");
    return Flatten(layers, palette);
  }

 private:
  // Reads the block header at `pos`; the block must end within `limit`.
  Block ReadBlock(size_t pos, size_t limit) {
    reader_.Seek(pos);
    if (std::memcmp(reader_.Take(4), "~BK\0", 4) != 0) reader_.Fail("bad block marker");
    Block block;
    block.id = reader_.U16LE();
    block.initial_length = major_ == 3 ? reader_.U32LE() : 0;
    const uint32_t length = reader_.U32LE();
    block.start = reader_.Position();
    if (block.start > limit || length > limit - block.start) reader_.Truncated();
    block.end = block.start + length;
    return block;
  }

  // Positions the reader at the block's fields, past the chunk length newer versions put first;
  // returns where the fields end (version 3 gives that length in the block header).
  size_t EnterChunk(const Block& block) {
    reader_.Seek(block.start);
    if (major_ == 3) {
      if (block.initial_length > block.end - block.start) reader_.Fail("bad chunk length");
      return block.start + block.initial_length;
    }
    const uint32_t length = reader_.U32LE();
    if (length < 4 || length > block.end - block.start) reader_.Fail("bad chunk length");
    return block.start + length;
  }

  void ReadImageAttributes(const Block& block) {
    EnterChunk(block);
    width_ = static_cast<int32_t>(reader_.U32LE());
    height_ = static_cast<int32_t>(reader_.U32LE());
    reader_.Skip(8 + 1);  // resolution, metric
    compression_ = reader_.U16LE();
    bit_depth_ = reader_.U16LE();
    reader_.Skip(2 + 4);  // planes, colour count
    greyscale_ = reader_.U8() != 0;
  }

  Rect ReadRect() {
    Rect r;
    r.left = static_cast<int32_t>(reader_.U32LE());
    r.top = static_cast<int32_t>(reader_.U32LE());
    r.right = static_cast<int32_t>(reader_.U32LE());
    r.bottom = static_cast<int32_t>(reader_.U32LE());
    if (r.right < r.left || r.bottom < r.top) reader_.Fail("bad layer rectangle");
    return r;
  }

  // The bank holds one Layer block per layer, bottom layer first. Each opens with the layer's
  // information chunk and its bitmap chunk (bitmap and channel counts), then its channels.
  void ReadLayerBank(const Block& bank, std::vector<Layer>* layers) {
    if (major_ < 4) reader_.Fail("layers of version 3 files are not supported");
    size_t pos = bank.start;
    while (pos + 4 <= bank.end) {
      const Block child = ReadBlock(pos, bank.end);
      pos = child.end;
      if (child.id != kLayer) continue;
      Layer layer;
      size_t chunk_end = EnterChunk(child);
      reader_.Skip(reader_.U16LE());  // name
      reader_.U8();                   // layer type; raster or not, the channels tell
      layer.image = ReadRect();
      layer.saved = ReadRect();
      layer.opacity = reader_.U8();
      reader_.U8();  // blend mode: every mode is composited as normal
      layer.visible = (reader_.U8() & 1) != 0;
      if (reader_.Position() > chunk_end) reader_.Fail("bad chunk length");
      reader_.Seek(chunk_end);
      const uint32_t bitmap_chunk = reader_.U32LE();
      if (bitmap_chunk < 8 || bitmap_chunk > child.end - chunk_end) {
        reader_.Fail("bad chunk length");
      }
      reader_.U16LE();  // bitmap count
      const uint16_t channel_count = reader_.U16LE();
      if (channel_count == 0) reader_.Fail("layer without channels");
      size_t part_pos = chunk_end + bitmap_chunk;
      while (part_pos + 4 <= child.end) {
        const Block part = ReadBlock(part_pos, child.end);
        part_pos = part.end;
        if (part.id != kChannel) continue;
        Composite holder;
        ReadPart(part, &holder);
        layer.channels.push_back(holder.channels.back());
      }
      if (layer.channels.size() != channel_count) reader_.Fail("channel count does not match");
      layers->push_back(layer);
    }
  }

  void ReadCompositeBank(const Block& bank, std::vector<Composite>* composites) {
    size_t pos = EnterChunk(bank);
    while (pos + 4 <= bank.end) {
      const Block child = ReadBlock(pos, bank.end);
      pos = child.end;
      if (child.id == kCompositeAttributes) {
        composites->emplace_back();
        const size_t chunk_end = EnterChunk(child);
        Composite& c = composites->back();
        c.width = static_cast<int32_t>(reader_.U32LE());
        c.height = static_cast<int32_t>(reader_.U32LE());
        c.bit_depth = reader_.U16LE();
        c.compression = reader_.U16LE();
        reader_.Skip(2 + 4);  // planes, colour count
        c.type = reader_.U16LE();
        // The composite's palette and channels may sit inside its attributes block.
        ReadCompositeParts(chunk_end, child.end, &c);
      } else if (!composites->empty()) {
        ReadPart(child, &composites->back());
      }
    }
  }

  void ReadCompositeParts(size_t pos, size_t end, Composite* c) {
    while (pos + 4 <= end) {
      const Block part = ReadBlock(pos, end);
      pos = part.end;
      ReadPart(part, c);
    }
  }

  void ReadPart(const Block& part, Composite* c) {
    if (part.id == kColourPalette) {
      const size_t chunk_end = EnterChunk(part);
      const uint32_t count = reader_.U32LE();
      if (count > 256) reader_.Fail("palette too large");
      reader_.Seek(chunk_end);
      c->palette.clear();
      for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* q = reader_.Take(4);  // blue, green, red, reserved
        c->palette.push_back(Rgb(q[2], q[1], q[0]));
      }
      if (reader_.Position() > part.end) reader_.Truncated();
    } else if (part.id == kChannel) {
      const size_t chunk_end = EnterChunk(part);
      Channel ch;
      ch.compressed = reader_.U32LE();
      ch.uncompressed = reader_.U32LE();
      ch.bitmap_type = reader_.U16LE();
      ch.channel_type = reader_.U16LE();
      reader_.Seek(chunk_end);
      if (reader_.Position() > part.end || ch.compressed > part.end - reader_.Position()) {
        reader_.Truncated();
      }
      ch.data = reader_.Take(ch.compressed);
      c->channels.push_back(ch);
    }
  }

  // No more output than the input can possibly produce is allocated: a run packet of two bytes
  // gives at most 127, and deflate expands at most about 1032 times.
  static uint64_t MostExpanded(const Channel& ch, uint16_t compression) {
    return static_cast<uint64_t>(ch.compressed) * (compression == kRle    ? 64
                                                   : compression == kLz77 ? 1032
                                                                          : 1);
  }

  // One channel expanded to exactly `size` bytes.
  std::vector<uint8_t> Expand(const Channel& ch, uint16_t compression, size_t size) {
    if (MostExpanded(ch, compression) < size) reader_.Truncated();
    std::vector<uint8_t> out(size);
    if (compression == kNone) {
      if (ch.compressed < size) reader_.Truncated();
      std::memcpy(out.data(), ch.data, size);
    } else if (compression == kRle) {
      size_t in = 0, produced = 0;
      while (produced < size) {
        if (in >= ch.compressed) reader_.Truncated();
        const uint8_t n = ch.data[in++];
        if (n == 0) reader_.Fail("bad run-length data");
        if (n > 128) {
          const size_t count = n - 128u;
          if (in >= ch.compressed || count > size - produced) reader_.Fail("bad run-length data");
          std::memset(&out[produced], ch.data[in++], count);
          produced += count;
        } else {
          if (n > ch.compressed - in || n > size - produced) reader_.Fail("bad run-length data");
          std::memcpy(&out[produced], ch.data + in, n);
          in += n;
          produced += n;
        }
      }
    } else if (compression == kLz77) {
      uLongf out_size = static_cast<uLongf>(size);
      const int status = uncompress(out.data(), &out_size, ch.data, ch.compressed);
      if (status != Z_OK || out_size != size) reader_.Fail("bad deflated data");
    } else {
      reader_.Fail("unsupported compression");
    }
    return out;
  }

  Picture Render(const Composite& c, bool greyscale) {
    if (c.width <= 0 || c.height <= 0) reader_.Fail("bad composite size");
    CheckPictureSize(static_cast<uint32_t>(c.width), static_cast<uint32_t>(c.height));
    const size_t w = static_cast<size_t>(c.width), h = static_cast<size_t>(c.height);
    Picture picture;
    picture.Allocate(static_cast<uint32_t>(w), static_cast<uint32_t>(h));
    Paint(c.channels, c.bit_depth, c.compression, greyscale, c.palette, &picture);
    return picture;
  }

  // A `w` x `h` plane of one channel, without row padding.
  std::vector<uint8_t> Plane(const Channel* ch, uint16_t compression, size_t w, size_t h) {
    if (ch == nullptr) reader_.Fail("missing channel");
    const size_t padded_w = (w + 3) & ~static_cast<size_t>(3);
    // Rows are either packed or padded to four bytes; the stated size tells which.
    const bool padded = padded_w != w && ch->uncompressed == padded_w * h;
    if (!padded && ch->uncompressed != w * h) reader_.Fail("channel size does not match");
    std::vector<uint8_t> data = Expand(*ch, compression, ch->uncompressed);
    if (padded) {
      for (size_t y = 1; y < h; ++y) std::memmove(&data[y * w], &data[y * padded_w], w);
      data.resize(w * h);
    }
    return data;
  }

  // Fills the allocated `picture` from its channels.
  void Paint(const std::vector<Channel>& channels, uint16_t bit_depth, uint16_t compression,
             bool greyscale, const std::vector<uint32_t>& palette, Picture* out) {
    if (bit_depth != 8 && bit_depth != 24) reader_.Fail("unsupported bit depth");
    Picture& picture = *out;
    const size_t w = static_cast<size_t>(picture.width), h = static_cast<size_t>(picture.height);
    // Colour channels by type (0 index or grey, 1 red, 2 green, 3 blue) and the transparency.
    const Channel* colour[4] = {};
    const Channel* alpha = nullptr;
    for (const Channel& ch : channels) {
      if (ch.bitmap_type == 0 && ch.channel_type < 4) colour[ch.channel_type] = &ch;
      if (ch.bitmap_type == 1 && alpha == nullptr) alpha = &ch;
    }
    auto plane = [&](const Channel* ch) { return Plane(ch, compression, w, h); };
    std::vector<uint8_t> planes[3];
    if (bit_depth == 24) {
      for (int i = 0; i < 3; ++i) planes[i] = plane(colour[i + 1]);
      for (size_t i = 0; i < w * h; ++i)
        picture.pixels[i] = Rgb(planes[0][i], planes[1][i], planes[2][i]);
    } else {
      planes[0] = plane(colour[0]);
      const bool use_palette = !greyscale && !palette.empty();
      for (size_t i = 0; i < w * h; ++i) {
        const uint8_t v = planes[0][i];
        if (use_palette) {
          if (v >= palette.size()) reader_.Fail("index outside the palette");
          picture.pixels[i] = palette[v];
        } else {
          picture.pixels[i] = Rgb(v, v, v);
        }
      }
    }
    if (alpha != nullptr) {
      const std::vector<uint8_t> a = plane(alpha);
      for (size_t i = 0; i < w * h; ++i) {
        picture.pixels[i] = (picture.pixels[i] & 0xFFFFFF) | static_cast<uint32_t>(a[i]) << 24;
      }
      picture.has_alpha = true;
    }
  }

  // Composites the visible layers bottom to top over a transparent canvas: a document whose
  // bottom layer is a background is opaque anyway, and one without keeps its transparency as
  // Paint Shop Pro's own composite does. Straight alpha, normal blending.
  Picture Flatten(const std::vector<Layer>& layers, const std::vector<uint32_t>& palette) {
    if (width_ <= 0 || height_ <= 0) reader_.Fail("bad image size");
    const uint32_t cw = static_cast<uint32_t>(width_), ch = static_cast<uint32_t>(height_);
    CheckPictureSize(cw, ch);
    Picture canvas;
    canvas.Allocate(cw, ch);
    std::fill(canvas.pixels.begin(), canvas.pixels.end(), 0u);
    for (const Layer& layer : layers) {
      if (!layer.visible || layer.opacity == 0) continue;
      const int64_t layer_w = int64_t{layer.image.right} - layer.image.left;
      const int64_t layer_h = int64_t{layer.image.bottom} - layer.image.top;
      const Rect& s = layer.saved;
      if (s.left < 0 || s.top < 0 || s.right > layer_w || s.bottom > layer_h) {
        reader_.Fail("saved rectangle outside the layer");
      }
      const int64_t w = int64_t{s.right} - s.left, h = int64_t{s.bottom} - s.top;
      if (w == 0 || h == 0) continue;
      CheckPictureSize(static_cast<uint64_t>(w), static_cast<uint64_t>(h));
      // Image and transparency channels cover the saved rectangle; masks have their own.
      for (const Channel& c : layer.channels) {
        if (c.bitmap_type <= 1 && MostExpanded(c, compression_) < static_cast<uint64_t>(w * h)) {
          reader_.Truncated();
        }
      }
      Picture pixels;
      pixels.Allocate(static_cast<uint32_t>(w), static_cast<uint32_t>(h));
      Paint(layer.channels, bit_depth_, compression_, greyscale_, palette, &pixels);
      const int64_t x0 = int64_t{layer.image.left} + s.left;
      const int64_t y0 = int64_t{layer.image.top} + s.top;
      const int64_t from_x = std::max<int64_t>(0, -x0), to_x = std::min<int64_t>(w, cw - x0);
      const int64_t from_y = std::max<int64_t>(0, -y0), to_y = std::min<int64_t>(h, ch - y0);
      for (int64_t y = from_y; y < to_y; ++y) {
        for (int64_t x = from_x; x < to_x; ++x) {
          uint32_t& d = canvas.At(static_cast<int32_t>(x0 + x), static_cast<int32_t>(y0 + y));
          d = Over(pixels.At(static_cast<int32_t>(x), static_cast<int32_t>(y)), layer.opacity, d);
        }
      }
    }
    canvas.has_alpha = false;
    for (uint32_t p : canvas.pixels) canvas.has_alpha |= (p >> 24) != 0xFF;
    return canvas;
  }

  // `src` with its alpha scaled by `opacity`, over `dst`.
  static uint32_t Over(uint32_t src, uint8_t opacity, uint32_t dst) {
    const double sa = (src >> 24) * opacity / (255.0 * 255.0);
    const double da = (dst >> 24) / 255.0;
    const double oa = sa + da * (1 - sa);
    if (oa <= 0) return 0;
    uint32_t out = static_cast<uint32_t>(oa * 255 + 0.5) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
      const double s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
      out |= static_cast<uint32_t>((s * sa + d * da * (1 - sa)) / oa + 0.5) << shift;
    }
    return out;
  }

  ByteReader reader_;
  uint16_t major_ = 0;
  int32_t width_ = 0, height_ = 0;
  uint16_t compression_ = 0, bit_depth_ = 0;
  bool greyscale_ = false;
};

}  // namespace

Picture DecodePsp(const uint8_t* data, size_t size) { return PspParser(data, size).Decode(); }

// The content test: whether the bytes from the stream's position on look like this format.
bool PspAcceptsContent(MemoryStream& stream) {
  uint8_t h[34];
  if (!stream.Peek(36, h, sizeof h)) return false;
  return SameText(std::string(reinterpret_cast<const char*>(h), 25), "Paint Shop Pro Image File") &&
         Le16(h + 32) >= 3;
}

}  // namespace quenvale
