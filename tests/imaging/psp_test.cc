// Paint Shop Pro images built here from the published block layout (no installed tool reads or
// writes them) around ImageMagick seeds: the composite-image path in its storage variants, and
// documents without a composite that are flattened from their layers.
//
// Layer layout as written here and not confirmed against a file saved by Paint Shop Pro: the
// Layer Bank block has no fields of its own and holds the layers bottom first; the layer
// information chunk reads name length and name, layer type (1 byte), image rectangle, saved
// rectangle (left, top, right, bottom as 32-bit values, right and bottom exclusive; the saved
// rectangle relative to the image rectangle), opacity, blend mode, flags (bit 0 visible), and
// then mask fields that the decoder skips by the chunk length; a bitmap chunk (bitmap count,
// channel count) follows before the channel blocks. Version 3 layers (fixed-size names) are not
// covered.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
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

Picture Decode(const Bytes& b) {
  testutil::KeepFuzzSeed("psp", b);
  return DecodePsp(b.data(), b.size());
}

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

// The signature, version and General Image Attributes block of a w x h file.
Bytes FileStart(const PspOptions& o, int w, int h) {
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
  return file;
}

// `seed` (top-down ARGB) as a PSP file; for 8-bit files `indices` and `palette` hold the image.
Bytes BuildPsp(const PspOptions& o, const Picture& seed, const Bytes& indices,
               const std::vector<uint32_t>& palette) {
  const int w = seed.width, h = seed.height;
  Bytes file = FileStart(o, w, h);
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

TEST(PspTest, RefusesNoImageAndDamage) {
  Picture tiny;
  tiny.Allocate(2, 2);
  tiny.At(1, 1) = Rgb(10, 20, 30);
  PspOptions o = Make(1);
  const Bytes good = BuildPsp(o, tiny, {}, {});
  ASSERT_EQ(Decode(good).At(1, 1), Rgb(10, 20, 30));
  o.composite = false;
  EXPECT_THROW(Decode(BuildPsp(o, tiny, {}, {})), PictureError) << "neither composite nor layers";

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

// One layer of a built document: `pixels` fill the saved rectangle, which sits at (`saved_x`,
// `saved_y`) inside the layer's rectangle at (`x`, `y`) on the canvas.
struct TestLayer {
  Picture pixels;
  int x = 0, y = 0;
  int width = 0, height = 0;  // of the layer's rectangle; 0 means the size of `pixels`
  int saved_x = 0, saved_y = 0;
  uint8_t opacity = 255;
  bool visible = true;
  bool alpha = false;          // store a transparency channel
  uint16_t channel_count = 0;  // as declared; 0 means the true count
};

Bytes Rectangle(int left, int top, int right, int bottom) {
  Bytes b;
  for (int v : {left, top, right, bottom}) Put32(b, static_cast<uint32_t>(v));
  return b;
}

Bytes LayerBlock(const PspOptions& o, const TestLayer& l) {
  const int pw = l.pixels.width, ph = l.pixels.height;
  const int lw = l.width ? l.width : pw, lh = l.height ? l.height : ph;
  Bytes info;
  const std::string name = "Layer";
  Put16(info, static_cast<uint32_t>(name.size()));
  info.insert(info.end(), name.begin(), name.end());
  info.push_back(1);  // raster
  Append(info, Rectangle(l.x, l.y, l.x + lw, l.y + lh));
  Append(info, Rectangle(l.saved_x, l.saved_y, l.saved_x + pw, l.saved_y + ph));
  info.push_back(l.opacity);
  info.push_back(0);  // normal blending
  info.push_back(l.visible ? 1 : 0);
  info.push_back(0);                         // transparency protected
  info.push_back(0);                         // link group
  Append(info, Rectangle(0, 0, 0, 0));       // mask rectangle
  Append(info, Rectangle(0, 0, 0, 0));       // saved mask rectangle
  info.insert(info.end(), {0, 0, 0, 0, 0});  // mask linked, disabled, inverted, no blend ranges

  Bytes channels;
  uint16_t count = 0;
  for (int c = 0; c < 3; ++c, ++count) {
    Bytes plane;
    for (uint32_t p : l.pixels.pixels) plane.push_back(static_cast<uint8_t>(p >> (16 - 8 * c)));
    Append(channels, ChannelBlock(o, pw, ph, plane, 0, static_cast<uint16_t>(c + 1)));
  }
  if (l.alpha) {
    Bytes plane;
    for (uint32_t p : l.pixels.pixels) plane.push_back(static_cast<uint8_t>(p >> 24));
    Append(channels, ChannelBlock(o, pw, ph, plane, 1, 0));
    ++count;
  }
  Bytes counts;
  Put16(counts, l.alpha ? 2 : 1);
  Put16(counts, l.channel_count ? l.channel_count : count);
  Bytes body = ChunkOf(o, info);
  Append(body, ChunkOf(o, counts));
  Append(body, channels);
  return BlockOf(o, 4, body);
}

Bytes BuildLayered(const PspOptions& o, int w, int h, const std::vector<TestLayer>& layers) {
  Bytes file = FileStart(o, w, h);
  Bytes bank;
  for (const TestLayer& l : layers) Append(bank, LayerBlock(o, l));
  Append(file, BlockOf(o, 3, bank));
  return file;
}

// The flattened document worked out here: straight-alpha "over", each layer's alpha being its
// transparency (or 255) times its opacity, on a transparent canvas:
//   a = As * opacity / 255^2,  Ao = a + Ad (1 - a),  Co = (Cs a + Cd Ad (1 - a)) / Ao.
Picture ExpectedFlattening(int w, int h, const std::vector<TestLayer>& layers) {
  std::vector<double> r(w * h, 0), g(w * h, 0), b(w * h, 0), a(w * h, 0);
  for (const TestLayer& l : layers) {
    if (!l.visible) continue;
    for (int y = 0; y < l.pixels.height; ++y) {
      for (int x = 0; x < l.pixels.width; ++x) {
        const int cx = l.x + l.saved_x + x, cy = l.y + l.saved_y + y;
        if (cx < 0 || cy < 0 || cx >= w || cy >= h) continue;
        const uint32_t p = l.pixels.At(x, y);
        const double as = (l.alpha ? (p >> 24) : 255) / 255.0 * l.opacity / 255.0;
        const size_t i = static_cast<size_t>(cy) * w + cx;
        const double ao = as + a[i] * (1 - as);
        if (ao == 0) continue;
        r[i] = (((p >> 16) & 0xFF) * as + r[i] * a[i] * (1 - as)) / ao;
        g[i] = (((p >> 8) & 0xFF) * as + g[i] * a[i] * (1 - as)) / ao;
        b[i] = ((p & 0xFF) * as + b[i] * a[i] * (1 - as)) / ao;
        a[i] = ao;
      }
    }
  }
  Picture out;
  out.Allocate(w, h);
  for (size_t i = 0; i < out.pixels.size(); ++i) {
    auto q = [](double v) { return static_cast<uint32_t>(std::lround(v)); };
    out.pixels[i] = a[i] == 0 ? 0 : Argb(q(a[i] * 255), q(r[i]), q(g[i]), q(b[i]));
  }
  out.has_alpha = true;
  return out;
}

struct LayeredCase {
  const char* name;
  uint16_t compression;
  bool padded_rows;
};

class PspLayeredTest : public ::testing::TestWithParam<LayeredCase> {
 protected:
  void SetUp() override {
    if (!testutil::HaveCommand("convert")) GTEST_SKIP() << "ImageMagick is not installed";
    WriteSeedPicture(dir_.File("back.png"), kWidth, kHeight, "-depth 8");
    WriteSeedPicture(dir_.File("top.png"), 25, 14,
                     "-depth 8 -alpha set -channel A -fx '(i+j)/(w+h)' +channel -flop");
    back_ = ReferenceDecode(dir_.File("back.png"));
    top_ = ReferenceDecode(dir_.File("top.png"));
    options_.compression = GetParam().compression;
    options_.padded_rows = GetParam().padded_rows;
  }

  void ExpectFlattened(const std::vector<TestLayer>& layers, bool opaque) {
    const Bytes file = BuildLayered(options_, kWidth, kHeight, layers);
    const Picture ours = Decode(file);
    EXPECT_EQ(ours.has_alpha, !opaque);
    // One step of rounding apart at most.
    EXPECT_TRUE(SamePixels(ours, ExpectedFlattening(kWidth, kHeight, layers), 1, true));
    for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 8) {
      EXPECT_THROW(DecodePsp(file.data(), cut), PictureError) << "cut at " << cut;
    }
  }

  TestLayer Background() const {
    TestLayer l;
    l.pixels = back_;
    return l;
  }
  TestLayer Top() const {
    TestLayer l;
    l.pixels = top_;
    l.x = 9;
    l.y = 5;
    l.alpha = true;
    l.opacity = 128;
    return l;
  }

  static constexpr int kWidth = 37, kHeight = 22;
  TempDir dir_;
  Picture back_, top_;
  PspOptions options_;
};

TEST_P(PspLayeredTest, BackgroundAloneIsItsPixels) {
  const Bytes file = BuildLayered(options_, kWidth, kHeight, {Background()});
  const Picture ours = Decode(file);
  EXPECT_FALSE(ours.has_alpha);
  EXPECT_TRUE(SamePixels(ours, back_, 0, true));
}

TEST_P(PspLayeredTest, HalfOpaqueLayerWithTransparencyOverBackground) {
  ExpectFlattened({Background(), Top()}, true);
}

TEST_P(PspLayeredTest, LayersOverTransparentCanvas) {
  // Neither layer covers the whole canvas, and the lower one is half transparent itself.
  TestLayer lower = Top();
  lower.x = 2;
  lower.y = 1;
  lower.opacity = 255;
  TestLayer upper = Top();
  upper.pixels = back_;
  upper.pixels.pixels.resize(20 * 10);
  upper.pixels.width = 20;
  upper.pixels.height = 10;
  upper.alpha = false;
  upper.opacity = 200;
  upper.x = 12;
  upper.y = 8;
  ExpectFlattened({lower, upper}, false);
}

TEST_P(PspLayeredTest, InvisibleLayerIsIgnored) {
  TestLayer hidden = Top();
  hidden.visible = false;
  hidden.opacity = 255;
  hidden.x = 0;
  hidden.y = 0;
  const std::vector<TestLayer> layers = {Background(), Top(), hidden};
  const Picture with_hidden = Decode(BuildLayered(options_, kWidth, kHeight, layers));
  const Picture without = Decode(BuildLayered(options_, kWidth, kHeight, {Background(), Top()}));
  EXPECT_EQ(with_hidden.pixels, without.pixels);
  ExpectFlattened(layers, true);
}

TEST_P(PspLayeredTest, LayerPartlyOutsideTheCanvasIsClipped) {
  TestLayer left = Top();
  left.x = -7;
  left.y = -4;
  TestLayer right = Top();
  right.x = kWidth - 10;
  right.y = kHeight - 3;
  right.opacity = 255;
  // The data covers only part of this layer's rectangle.
  TestLayer offset = Top();
  offset.x = 20;
  offset.y = -10;
  offset.width = 40;
  offset.height = 30;
  offset.saved_x = 3;
  offset.saved_y = 6;
  ExpectFlattened({Background(), left, right, offset}, true);
}

INSTANTIATE_TEST_SUITE_P(
    Storage, PspLayeredTest,
    ::testing::Values(LayeredCase{"Raw", 0, false}, LayeredCase{"RunLength", 1, false},
                      LayeredCase{"Deflate", 2, false}, LayeredCase{"PaddedRows", 1, true}),
    [](const ::testing::TestParamInfo<LayeredCase>& info) { return std::string(info.param.name); });

Picture Solid(int w, int h, uint32_t colour) {
  Picture p;
  p.Allocate(w, h);
  std::fill(p.pixels.begin(), p.pixels.end(), colour);
  return p;
}

TEST(PspTest, CompositeWinsOverLayers) {
  PspOptions o = Make(2);
  Bytes file = BuildPsp(o, Solid(6, 4, Rgb(10, 20, 30)), {}, {});
  TestLayer layer;
  layer.pixels = Solid(6, 4, Rgb(200, 100, 50));
  Bytes bank = LayerBlock(o, layer);
  Append(file, BlockOf(o, 3, bank));
  const Picture ours = Decode(file);
  EXPECT_EQ(ours.At(3, 2), Rgb(10, 20, 30));
  // Layers that could not be flattened do not stop the composite from showing.
  TestLayer damaged = layer;
  damaged.channel_count = 9;
  Bytes with_damaged = BuildPsp(o, Solid(6, 4, Rgb(10, 20, 30)), {}, {});
  Append(with_damaged, BlockOf(o, 3, LayerBlock(o, damaged)));
  EXPECT_EQ(Decode(with_damaged).At(3, 2), Rgb(10, 20, 30));
  // Without the composite the layer shows.
  o.composite = false;
  file = BuildPsp(o, Solid(6, 4, Rgb(10, 20, 30)), {}, {});
  Append(file, BlockOf(o, 3, bank));
  EXPECT_EQ(Decode(file).At(3, 2), Rgb(200, 100, 50));
}

TEST(PspTest, RefusesMalformedLayers) {
  const PspOptions o = Make(0);
  TestLayer good;
  good.pixels = Solid(5, 3, Rgb(1, 2, 3));
  good.alpha = true;
  const Bytes file = BuildLayered(o, 5, 3, {good});
  ASSERT_EQ(Decode(file).At(4, 2), Rgb(1, 2, 3));

  TestLayer no_channels = good;
  no_channels.channel_count = 0xFFFF;
  EXPECT_THROW(Decode(BuildLayered(o, 5, 3, {no_channels})), PictureError) << "count mismatch";

  // Fields located by searching the built layer for the values written there.
  auto find = [&](const Bytes& pattern) {
    auto it = std::search(file.begin(), file.end(), pattern.begin(), pattern.end());
    EXPECT_NE(it, file.end());
    return static_cast<size_t>(it - file.begin());
  };
  const size_t rect = find(Rectangle(0, 0, 5, 3));
  Bytes bad = file;
  bad[rect + 8] = 0xFE;  // right = -2: a rectangle of negative width
  bad[rect + 9] = bad[rect + 10] = bad[rect + 11] = 0xFF;
  EXPECT_THROW(Decode(bad), PictureError) << "negative width";
  bad = file;
  bad[rect + 16 + 12] = 0xF0;  // saved rectangle below its layer
  EXPECT_THROW(Decode(bad), PictureError) << "saved rectangle outside";

  Bytes counts;
  Put32(counts, 8);
  Put16(counts, 2);
  Put16(counts, 4);
  const size_t count_at = find(counts) + 6;
  bad = file;
  bad[count_at] = 0;
  EXPECT_THROW(Decode(bad), PictureError) << "channel count 0";

  // Each channel's compressed length pointed past the end of the file.
  Bytes channel_fields;
  Put32(channel_fields, 15);
  Put32(channel_fields, 15);
  int channels = 0;
  for (auto it = file.begin(); (it = std::search(it, file.end(), channel_fields.begin(),
                                                 channel_fields.end())) != file.end();
       ++it, ++channels) {
    bad = file;
    bad[static_cast<size_t>(it - file.begin()) + 2] = 0x10;
    EXPECT_THROW(Decode(bad), PictureError) << "channel " << channels;
  }
  EXPECT_EQ(channels, 4);
}

}  // namespace
}  // namespace quenvale
