// Paint Shop Pro images: a 32-byte signature and version, then a sequence of "~BK\0" blocks.
// Only the full composite of the Composite Image Bank is decoded (8-bit paletted or grey, or
// 24-bit colour with an optional transparency channel, stored raw, run-length or deflated);
// documents that carry only layers are refused.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "imaging/decoders.h"

namespace quenvale {
namespace {

constexpr char kSignature[] = "Paint Shop Pro Image File\n\x1a";
constexpr size_t kSignatureLength = sizeof(kSignature) - 1;

enum BlockId : uint16_t {
  kImageAttributes = 0,
  kColourPalette = 2,
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
    bool greyscale = false;
    std::vector<Composite> composites;
    size_t pos = 36;
    // Each block moves `pos` forward by at least its header, so the walk ends.
    while (pos + 4 <= reader_.Size()) {
      const Block block = ReadBlock(pos, reader_.Size());
      pos = block.end;
      if (block.id == kImageAttributes) {
        greyscale = ReadImageAttributes(block);
        have_attributes = true;
      } else if (block.id == kCompositeBank) {
        ReadCompositeBank(block, &composites);
      }
    }
    if (!have_attributes) reader_.Fail("no image attributes");
    for (const Composite& c : composites) {
      if (c.type == 0) return Render(c, greyscale);
    }
    reader_.Fail("no composite image (layer flattening is not supported)");
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

  bool ReadImageAttributes(const Block& block) {
    EnterChunk(block);
    reader_.Skip(4 + 4 + 8 + 1);  // width, height, resolution, metric
    reader_.Skip(2 + 2 + 2 + 4);  // compression, bit depth, planes, colour count
    return reader_.U8() != 0;
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

  // One channel expanded to exactly `size` bytes.
  std::vector<uint8_t> Expand(const Channel& ch, uint16_t compression, size_t size) {
    // No more output than the input can possibly produce is allocated: a run packet of two
    // bytes gives at most 127, and deflate expands at most about 1032 times.
    const uint64_t most = static_cast<uint64_t>(ch.compressed) * (compression == kRle    ? 64
                                                                  : compression == kLz77 ? 1032
                                                                                         : 1);
    if (most < size) reader_.Truncated();
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
    if (c.bit_depth != 8 && c.bit_depth != 24) reader_.Fail("unsupported bit depth");
    const size_t w = static_cast<size_t>(c.width), h = static_cast<size_t>(c.height);
    const size_t padded_w = (w + 3) & ~static_cast<size_t>(3);
    // Colour channels by type (0 index or grey, 1 red, 2 green, 3 blue) and the transparency.
    const Channel* colour[4] = {};
    const Channel* alpha = nullptr;
    for (const Channel& ch : c.channels) {
      if (ch.bitmap_type == 0 && ch.channel_type < 4) colour[ch.channel_type] = &ch;
      if (ch.bitmap_type == 1 && alpha == nullptr) alpha = &ch;
    }
    auto plane = [&](const Channel* ch) {
      if (ch == nullptr) reader_.Fail("missing channel");
      // Rows are either packed or padded to four bytes; the stated size tells which.
      const bool padded = padded_w != w && ch->uncompressed == padded_w * h;
      if (!padded && ch->uncompressed != w * h) reader_.Fail("channel size does not match");
      std::vector<uint8_t> data = Expand(*ch, c.compression, ch->uncompressed);
      if (padded) {
        for (size_t y = 1; y < h; ++y) std::memmove(&data[y * w], &data[y * padded_w], w);
        data.resize(w * h);
      }
      return data;
    };
    Picture picture;
    picture.Allocate(static_cast<uint32_t>(w), static_cast<uint32_t>(h));
    std::vector<uint8_t> planes[3];
    if (c.bit_depth == 24) {
      for (int i = 0; i < 3; ++i) planes[i] = plane(colour[i + 1]);
      for (size_t i = 0; i < w * h; ++i)
        picture.pixels[i] = Rgb(planes[0][i], planes[1][i], planes[2][i]);
    } else {
      planes[0] = plane(colour[0]);
      const bool use_palette = !greyscale && !c.palette.empty();
      for (size_t i = 0; i < w * h; ++i) {
        const uint8_t v = planes[0][i];
        if (use_palette) {
          if (v >= c.palette.size()) reader_.Fail("index outside the palette");
          picture.pixels[i] = c.palette[v];
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
    return picture;
  }

  ByteReader reader_;
  uint16_t major_ = 0;
};

}  // namespace

Picture DecodePsp(const uint8_t* data, size_t size) { return PspParser(data, size).Decode(); }

}  // namespace quenvale
