// Paint Shop Pro images built here from the published block layout (no installed tool reads or
// writes them) around ImageMagick seeds: the composite-image path in its storage variants.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReferenceDecode;
using testutil::SamePixels;
using testutil::TempDir;
using testutil::WriteSeedPicture;

using Bytes = std::vector<uint8_t>;

Picture Decode(const Bytes& b) { return DecodePsp(b.data(), b.size()); }

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

struct PspOptions {
  int major = 6;
  uint16_t compression = 0;  // 0 none, 1 run-length, 2 deflate
  int depth = 24;            // 24, or 8 with a palette or grey
  bool grey = false;
  bool alpha = false;
  bool padded_rows = false;
  bool thumbnail_first = true;
  bool composite = true;
};

// Version 3 block headers also give the length of the block's own fields (`fields`; the rest of
// the body is sub-blocks or data).
Bytes BlockOf(const PspOptions& o, uint16_t id, const Bytes& body, size_t fields = SIZE_MAX) {
  Bytes b = {'~', 'B', 'K', 0};
  Put16(b, id);
  if (o.major == 3) Put32(b, static_cast<uint32_t>(std::min(fields, body.size())));
  Put32(b, static_cast<uint32_t>(body.size()));
  Append(b, body);
  return b;
}

// Newer versions open each block's fields with the length of those fields.
Bytes ChunkOf(const PspOptions& o, const Bytes& fields) {
  if (o.major == 3) return fields;
  Bytes b;
  Put32(b, static_cast<uint32_t>(fields.size() + 4));
  Append(b, fields);
  return b;
}

Bytes Compress(const PspOptions& o, const Bytes& raw) {
  if (o.compression == 0) return raw;
  if (o.compression == 2) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
    out.resize(size);
    return out;
  }
  Bytes out;
  size_t x = 0;
  while (x < raw.size()) {
    size_t run = 1;
    while (x + run < raw.size() && run < 127 && raw[x + run] == raw[x]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(128 + run));
      out.push_back(raw[x]);
      x += run;
    } else {
      const size_t lit = std::min<size_t>(std::min<size_t>(run, 128), raw.size() - x);
      out.push_back(static_cast<uint8_t>(lit));
      out.insert(out.end(), raw.begin() + x, raw.begin() + x + lit);
      x += lit;
    }
  }
  return out;
}

Bytes ChannelBlock(const PspOptions& o, int w, int h, const Bytes& plane, uint16_t bitmap_type,
                   uint16_t channel_type) {
  Bytes raw;
  const int stride = o.padded_rows ? (w + 3) / 4 * 4 : w;
  for (int y = 0; y < h; ++y) {
    raw.insert(raw.end(), plane.begin() + y * w, plane.begin() + (y + 1) * w);
    raw.resize(static_cast<size_t>((y + 1) * stride), 0);
  }
  const Bytes packed = Compress(o, raw);
  Bytes fields;
  Put32(fields, static_cast<uint32_t>(packed.size()));
  Put32(fields, static_cast<uint32_t>(raw.size()));
  Put16(fields, bitmap_type);
  Put16(fields, channel_type);
  Bytes body = ChunkOf(o, fields);
  const size_t field_size = body.size();
  Append(body, packed);
  return BlockOf(o, 5, body, field_size);
}

Bytes CompositeAttributes(const PspOptions& o, int w, int h, uint16_t type, const Bytes& parts) {
  Bytes fields;
  Put32(fields, w);
  Put32(fields, h);
  Put16(fields, o.depth);
  Put16(fields, o.compression);
  Put16(fields, o.depth == 24 ? 3 : 1);
  Put32(fields, o.depth == 24 ? 1u << 24 : 256);
  Put16(fields, type);
  Bytes body = ChunkOf(o, fields);
  const size_t field_size = body.size();
  Append(body, parts);
  return BlockOf(o, 17, body, field_size);
}

// `seed` (top-down ARGB) as a PSP file; for 8-bit files `indices` and `palette` hold the image.
Bytes BuildPsp(const PspOptions& o, const Picture& seed, const Bytes& indices,
               const std::vector<uint32_t>& palette) {
  const int w = seed.width, h = seed.height;
  Bytes file(32, 0);
  const std::string signature = "Paint Shop Pro Image File\n\x1a";
  std::copy(signature.begin(), signature.end(), file.begin());
  Put16(file, o.major);
  Put16(file, 0);

  Bytes attributes;
  Put32(attributes, w);
  Put32(attributes, h);
  attributes.resize(attributes.size() + 8 + 1, 0);
  Put16(attributes, o.compression);
  Put16(attributes, o.depth);
  Put16(attributes, 1);
  Put32(attributes, 256);
  attributes.push_back(o.grey ? 1 : 0);
  Put32(attributes, 0);
  Put32(attributes, 0);
  Put16(attributes, 1);
  Append(file, BlockOf(o, 0, ChunkOf(o, attributes)));
  Append(file, BlockOf(o, 1, Bytes{1, 2, 3, 4}));  // creator data, skipped

  Bytes parts;
  if (o.depth == 24) {
    for (int c = 0; c < 3; ++c) {
      Bytes plane;
      for (uint32_t p : seed.pixels) plane.push_back(static_cast<uint8_t>(p >> (16 - 8 * c)));
      Append(parts, ChannelBlock(o, w, h, plane, 0, static_cast<uint16_t>(c + 1)));
    }
  } else {
    if (!o.grey) {
      Bytes fields;
      Put32(fields, static_cast<uint32_t>(palette.size()));
      Bytes body = ChunkOf(o, fields);
      const size_t field_size = body.size();
      for (uint32_t p : palette) {
        body.insert(body.end(), {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8),
                                 static_cast<uint8_t>(p >> 16), 0});
      }
      Append(parts, BlockOf(o, 2, body, field_size));
    }
    Append(parts, ChannelBlock(o, w, h, indices, 0, 0));
  }
  if (o.alpha) {
    Bytes plane;
    for (uint32_t p : seed.pixels) plane.push_back(static_cast<uint8_t>(p >> 24));
    Append(parts, ChannelBlock(o, w, h, plane, 1, 0));
  }

  Bytes bank_fields;
  Put32(bank_fields, o.thumbnail_first ? 2 : 1);
  Bytes bank = ChunkOf(o, bank_fields);
  const size_t bank_field_size = bank.size();
  if (o.thumbnail_first) {
    // A 1x1 thumbnail that must not be taken for the image.
    PspOptions t = o;
    t.depth = 24;
    t.alpha = false;
    t.padded_rows = false;
    Bytes tparts;
    for (uint16_t c = 1; c <= 3; ++c) Append(tparts, ChannelBlock(t, 1, 1, Bytes{9}, 0, c));
    Append(bank, CompositeAttributes(t, 1, 1, 1, tparts));
  }
  Append(bank, CompositeAttributes(o, w, h, 0, parts));
  if (o.composite) Append(file, BlockOf(o, 16, bank, bank_field_size));
  return file;
}

struct PspCase {
  const char* name;
  PspOptions options;
};

PspOptions Make(uint16_t compression, int depth = 24, bool grey = false, bool alpha = false,
                bool padded = false, int major = 6) {
  PspOptions o;
  o.compression = compression;
  o.depth = depth;
  o.grey = grey;
  o.alpha = alpha;
  o.padded_rows = padded;
  o.major = major;
  return o;
}

class PspBuiltTest : public ::testing::TestWithParam<PspCase> {};

TEST_P(PspBuiltTest, CompositeMatchesSeed) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PspOptions& o = GetParam().options;
  TempDir dir;
  std::string seed_options = "-depth 8";
  if (o.alpha) seed_options += " -alpha set -channel A -fx 'i/w' +channel";
  if (o.depth == 8) seed_options += o.grey ? " -colorspace Gray" : " -colors 200";
  WriteSeedPicture(dir.File("seed.png"), 51, 23, seed_options);
  Picture seed = ReferenceDecode(dir.File("seed.png"));
  Bytes indices;
  std::vector<uint32_t> palette;
  if (o.depth == 8) {
    std::map<uint32_t, uint8_t> index_of;
    for (uint32_t p : seed.pixels) {
      const uint32_t rgb = p & 0xFFFFFF;
      auto it = index_of.find(rgb);
      if (it == index_of.end()) {
        ASSERT_LT(palette.size(), 256u);
        it = index_of.emplace(rgb, static_cast<uint8_t>(palette.size())).first;
        palette.push_back(rgb);
      }
      indices.push_back(o.grey ? static_cast<uint8_t>(p) : it->second);
    }
  }
  const Bytes file = BuildPsp(o, seed, indices, palette);
  const Picture ours = Decode(file);
  EXPECT_EQ(ours.has_alpha, o.alpha);
  EXPECT_TRUE(SamePixels(ours, seed, 0, o.alpha));

  for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 10) {
    EXPECT_THROW(DecodePsp(file.data(), cut), PictureError) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PspBuiltTest,
    ::testing::Values(PspCase{"Rgb", Make(0)}, PspCase{"RgbRunLength", Make(1)},
                      PspCase{"RgbDeflate", Make(2)},
                      PspCase{"RgbAlphaDeflate", Make(2, 24, false, true)},
                      PspCase{"RgbPaddedRows", Make(1, 24, false, false, true)},
                      PspCase{"Palette", Make(1, 8)}, PspCase{"Grey", Make(2, 8, true)},
                      PspCase{"OldBlockHeaders", Make(1, 24, false, true, false, 3)}),
    [](const ::testing::TestParamInfo<PspCase>& info) { return std::string(info.param.name); });

TEST(PspTest, RefusesLayersOnlyAndDamage) {
  Picture tiny;
  tiny.Allocate(2, 2);
  tiny.At(1, 1) = Rgb(10, 20, 30);
  PspOptions o = Make(1);
  const Bytes good = BuildPsp(o, tiny, {}, {});
  ASSERT_EQ(Decode(good).At(1, 1), Rgb(10, 20, 30));
  o.composite = false;
  EXPECT_THROW(Decode(BuildPsp(o, tiny, {}, {})), PictureError);

  Bytes bad = good;
  bad[0] = 'p';
  EXPECT_THROW(Decode(bad), PictureError) << "signature";
  bad = good;
  bad[32] = 2;
  EXPECT_THROW(Decode(bad), PictureError) << "version 2";
  bad = good;
  bad[36] = '!';
  EXPECT_THROW(Decode(bad), PictureError) << "block marker";
  bad = good;
  bad[42 + 3] = 0x7F;
  EXPECT_THROW(Decode(bad), PictureError) << "block longer than the file";
  // Every byte of the image data region flipped to a run longer than the channel.
  size_t refused = 0;
  for (size_t at = 60; at < good.size(); ++at) {
    bad = good;
    bad[at] = 0xFF;
    try {
      Decode(bad);
    } catch (const PictureError&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0u);
}

}  // namespace
}  // namespace quenvale
