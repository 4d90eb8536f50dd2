#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"
#include "imaging/png_writer.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::ReferenceDecode;
using testutil::SamePixels;
using testutil::TempDir;
using testutil::WriteFileBytes;
using testutil::WriteSeedPicture;

Picture Decode(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("png", bytes);
  return DecodePng(bytes.data(), bytes.size());
}

bool HasChunk(const std::vector<uint8_t>& png, const char* type) {
  for (size_t pos = 8; pos + 8 <= png.size();) {
    const uint32_t length = static_cast<uint32_t>(png[pos]) << 24 | png[pos + 1] << 16 |
                            png[pos + 2] << 8 | png[pos + 3];
    if (std::memcmp(&png[pos + 4], type, 4) == 0) return true;
    pos += 12 + static_cast<size_t>(length);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Files ImageMagick writes, decoded by both.

struct PeerCase {
  const char* name;
  const char* prefix;   // output format prefix, e.g. "PNG8:"
  const char* options;  // extra convert options after the seed is drawn
  int colour_type;      // what the file must end up with, so the case tests what it says
  int bit_depth;
  bool interlaced;
  bool transparency_chunk;  // a tRNS chunk must be present
  int width = 37;
  int height = 23;
  // ImageMagick will not write palettes under 8 bits deep on request; netpbm's pnmtopng picks
  // the smallest depth itself. When set, the seed goes through pnmtopng with these flags.
  const char* pnmtopng = nullptr;
};

constexpr char kGrey[] = "-colorspace Gray";
constexpr char kAlphaRamp[] = "-alpha set -channel A -fx 'i/w' +channel";

std::string Opts(std::initializer_list<std::string> parts) {
  std::string all;
  for (const auto& p : parts) all += p + " ";
  return all;
}

std::string TypeDepth(int type, int depth) {
  return "-define png:color-type=" + std::to_string(type) +
         " -define png:bit-depth=" + std::to_string(depth);
}

std::vector<PeerCase> PeerCases() {
  std::vector<PeerCase> cases;
  static std::vector<std::string> keep;  // the option strings outlive the cases
  keep.reserve(64);
  auto add = [&](const char* name, const char* prefix, std::string options, int type, int depth,
                 bool interlaced = false, bool trns = false, int w = 37, int h = 23) {
    keep.push_back(std::move(options));
    cases.push_back({name, prefix, keep.back().c_str(), type, depth, interlaced, trns, w, h});
  };
  const int grey_depths[] = {1, 2, 4, 8, 16};
  const char* grey_names[] = {"Grey1", "Grey2", "Grey4", "Grey8", "Grey16"};
  for (int i = 0; i < 5; ++i) {
    const int d = grey_depths[i];
    const std::string quantise = d < 8 ? " -depth " + std::to_string(d) : "";
    add(grey_names[i], "", Opts({kGrey, quantise, TypeDepth(0, d)}), 0, d);
  }
  add("Rgb8", "", TypeDepth(2, 8), 2, 8);
  add("Rgb16", "", Opts({"-depth 16", TypeDepth(2, 16)}), 2, 16);
  const int palette_depths[] = {1, 2, 4, 8};
  const char* palette_names[] = {"Palette1", "Palette2", "Palette4", "Palette8"};
  for (int i = 0; i < 4; ++i) {
    const int d = palette_depths[i];
    add(palette_names[i], "PPM:", Opts({"-colors", std::to_string(1 << d), "-depth 8"}), 3, d);
    cases.back().pnmtopng = "";
  }
  add("GreyAlpha8", "", Opts({kGrey, kAlphaRamp, TypeDepth(4, 8)}), 4, 8);
  add("GreyAlpha16", "", Opts({kGrey, kAlphaRamp, "-depth 16", TypeDepth(4, 16)}), 4, 16);
  add("Rgba8", "", Opts({kAlphaRamp, TypeDepth(6, 8)}), 6, 8);
  add("Rgba16", "", Opts({kAlphaRamp, "-depth 16", TypeDepth(6, 16)}), 6, 16);
  add("Png8", "PNG8:", "", 3, 8);
  add("Png24", "PNG24:", "", 2, 8);
  add("Png32", "PNG32:", kAlphaRamp, 6, 8);
  add("Png48", "PNG48:", "", 2, 16);
  add("Png64", "PNG64:", kAlphaRamp, 6, 16);
  // Interlaced, including sizes smaller than the 8x8 grid so that passes are empty.
  add("InterlacedGrey1", "", Opts({kGrey, "-depth 1 -interlace PNG", TypeDepth(0, 1)}), 0, 1, true);
  add("InterlacedPalette4", "PPM:", "-colors 16 -depth 8", 3, 4, true);
  cases.back().pnmtopng = "-interlace";
  add("InterlacedRgb8", "", Opts({"-interlace PNG", TypeDepth(2, 8)}), 2, 8, true);
  add("InterlacedRgba16", "PNG64:", Opts({kAlphaRamp, "-interlace PNG"}), 6, 16, true);
  add("InterlacedTiny", "PNG24:", "-interlace PNG", 2, 8, true, false, 3, 2);
  add("InterlacedOneColumn", "PNG32:", Opts({kAlphaRamp, "-interlace PNG"}), 6, 8, true, false, 1,
      19);
  add("OnePixel", "PNG24:", "", 2, 8, false, false, 1, 1);
  // Key-colour and palette transparency.
  add("GreyKey8", "", Opts({kGrey, "-transparent white", TypeDepth(0, 8)}), 0, 8, false, true);
  add("GreyKey16", "", Opts({kGrey, "-depth 16 -transparent white", TypeDepth(0, 16)}), 0, 16,
      false, true);
  add("RgbKey8", "", Opts({"-transparent white", TypeDepth(2, 8)}), 2, 8, false, true);
  add("PaletteAlpha", "PNG8:", "-transparent white", 3, 8, false, true);
  return cases;
}

class PngPeerTest : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PngPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PeerCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("sample.png");
  if (c.pnmtopng) {
    if (!testutil::HaveCommand("pnmtopng")) GTEST_SKIP() << "no netpbm";
    WriteSeedPicture(std::string(c.prefix) + dir.File("seed.ppm"), c.width, c.height, c.options);
    ASSERT_TRUE(testutil::RunCommand("pnmtopng " + std::string(c.pnmtopng) + " " +
                                     testutil::ShellQuote(dir.File("seed.ppm")) + " > " +
                                     testutil::ShellQuote(path)));
  } else {
    WriteSeedPicture(std::string(c.prefix) + path, c.width, c.height, c.options);
  }
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  ASSERT_GT(bytes.size(), 33u);
  ASSERT_EQ(bytes[25], c.colour_type) << "ImageMagick chose another colour type";
  ASSERT_EQ(bytes[24], c.bit_depth) << "ImageMagick chose another bit depth";
  ASSERT_EQ(bytes[28], c.interlaced ? 1 : 0);
  ASSERT_EQ(HasChunk(bytes, "tRNS"), c.transparency_chunk);

  const Picture ours = Decode(bytes);
  EXPECT_TRUE(SamePixels(ours, ReferenceDecode(path)));
  EXPECT_EQ(ours.has_alpha, c.colour_type == 4 || c.colour_type == 6 || c.transparency_chunk);
}

INSTANTIATE_TEST_SUITE_P(Variants, PngPeerTest, ::testing::ValuesIn(PeerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The writer, checked through our decoder and through ImageMagick.

Picture NoisyPicture(int w, int h, bool alpha, uint32_t seed) {
  Picture p;
  p.Allocate(w, h);
  p.has_alpha = alpha;
  uint32_t state = seed;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      // Smooth areas with noise in them, so every filter type gets chosen somewhere.
      const uint32_t noise = (state >> 24) & (x % 3 == 0 ? 0xFF : 0x07);
      const uint32_t r = (x * 255 / w + noise) & 0xFF, g = (y * 255 / h) & 0xFF, b = noise;
      const uint32_t a = alpha ? ((x + y) * 7 + noise) & 0xFF : 0xFF;
      p.At(x, y) = Argb(a, r, g, b);
    }
  }
  return p;
}

class PngWriterTest : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(PngWriterTest, RoundTripsThroughBothDecoders) {
  const auto [w, h, alpha] = GetParam();
  const Picture original = NoisyPicture(w, h, alpha, static_cast<uint32_t>(w * 31 + h));
  for (const PngEffort effort : {PngEffort::kSmall, PngEffort::kFast}) {
    const std::vector<uint8_t> png = EncodePng(original, effort);
    const Picture back = Decode(png);
    EXPECT_TRUE(SamePixels(back, original));
    EXPECT_EQ(back.has_alpha, alpha);  // RGBA only when some pixel is not opaque
    if (!testutil::HaveCommand("convert")) continue;
    TempDir dir;
    WriteFileBytes(dir.File("out.png"), png);
    EXPECT_TRUE(SamePixels(ReferenceDecode(dir.File("out.png")), original));
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PngWriterTest,
                         ::testing::Values(std::make_tuple(1, 1, false),
                                           std::make_tuple(61, 17, true),
                                           std::make_tuple(300, 200, false),
                                           std::make_tuple(700, 900, true)));

TEST(PngWriterTest, RefusesEmptyPicture) { EXPECT_THROW(EncodePng(Picture()), PictureError); }

// ---------------------------------------------------------------------------------------------
// Hand-made files, for the cases ImageMagick will not write.

struct RawChunk {
  std::string type;
  std::vector<uint8_t> body;
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}

std::vector<uint8_t> Ihdr(uint32_t w, uint32_t h, int depth, int type, int interlace = 0) {
  std::vector<uint8_t> b;
  Put32(b, w);
  Put32(b, h);
  b.insert(b.end(), {static_cast<uint8_t>(depth), static_cast<uint8_t>(type), 0, 0,
                     static_cast<uint8_t>(interlace)});
  return b;
}

std::vector<uint8_t> Zlib(const std::vector<uint8_t>& raw) {
  uLongf n = compressBound(raw.size());
  std::vector<uint8_t> out(n);
  EXPECT_EQ(compress(out.data(), &n, raw.data(), raw.size()), Z_OK);
  out.resize(n);
  return out;
}

std::vector<uint8_t> Assemble(const std::vector<RawChunk>& chunks) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const RawChunk& c : chunks) {
    Put32(png, static_cast<uint32_t>(c.body.size()));
    const size_t start = png.size();
    png.insert(png.end(), c.type.begin(), c.type.end());
    png.insert(png.end(), c.body.begin(), c.body.end());
    Put32(png, static_cast<uint32_t>(crc32(0, png.data() + start, c.body.size() + 4)));
  }
  return png;
}

// A 2x2 8-bit grey picture made of `scanlines`, with extra chunks before its image data.
std::vector<uint8_t> TinyGrey(const std::vector<uint8_t>& scanlines,
                              std::vector<RawChunk> before_idat = {}) {
  std::vector<RawChunk> chunks = {{"IHDR", Ihdr(2, 2, 8, 0)}};
  chunks.insert(chunks.end(), before_idat.begin(), before_idat.end());
  chunks.push_back({"IDAT", Zlib(scanlines)});
  chunks.push_back({"IEND", {}});
  return Assemble(chunks);
}
const std::vector<uint8_t> kTinyRows = {0, 10, 20, 0, 30, 40};

TEST(PngHandMadeTest, TinyGreyDecodes) {
  const Picture p = Decode(TinyGrey(kTinyRows));
  ASSERT_EQ(p.width, 2);
  ASSERT_EQ(p.height, 2);
  EXPECT_EQ(p.At(0, 0), Rgb(10, 10, 10));
  EXPECT_EQ(p.At(1, 1), Rgb(40, 40, 40));
  EXPECT_FALSE(p.has_alpha);
}

TEST(PngHandMadeTest, ImageDataSplitAcrossManyIdatChunks) {
  std::vector<uint8_t> big(64 * 65);
  for (size_t i = 0; i < big.size(); ++i) big[i] = i % 65 == 0 ? 1 : static_cast<uint8_t>(i);
  const std::vector<uint8_t> z = Zlib(big);
  std::vector<RawChunk> chunks = {{"IHDR", Ihdr(64, 64, 8, 0)}};
  for (size_t i = 0; i < z.size(); i += 7) {
    chunks.push_back(
        {"IDAT", std::vector<uint8_t>(z.begin() + i, z.begin() + std::min(z.size(), i + 7))});
    if (i == 14) chunks.push_back({"IDAT", {}});  // empty ones are allowed too
  }
  chunks.push_back({"IEND", {}});
  const Picture p = Decode(Assemble(chunks));
  // Sub filter: each row is the running sum of its filtered bytes.
  for (int y = 0; y < 64; ++y) {
    uint8_t sum = 0;
    for (int x = 0; x < 64; ++x) {
      sum = static_cast<uint8_t>(sum + big[y * 65 + 1 + x]);
      ASSERT_EQ(p.At(x, y), Rgb(sum, sum, sum)) << x << "," << y;
    }
  }
}

TEST(PngHandMadeTest, InflatedDataBeyondTheHeaderIsIgnored) {
  std::vector<uint8_t> rows = kTinyRows;
  rows.resize(100000, 0xEE);  // far more than 2x2 needs
  const Picture p = Decode(TinyGrey(rows));
  EXPECT_EQ(p.At(0, 1), Rgb(30, 30, 30));
  EXPECT_EQ(p.pixels.size(), 4u);
}

TEST(PngHandMadeTest, AncillaryUnknownChunkSkippedCriticalRefused) {
  EXPECT_NO_THROW(Decode(TinyGrey(kTinyRows, {{"quVa", {1, 2, 3}}})));
  EXPECT_THROW(Decode(TinyGrey(kTinyRows, {{"QuVa", {1, 2, 3}}})), PictureError);
}

TEST(PngHandMadeTest, PaletteIndexPastThePaletteIsOpaqueBlack) {
  const std::vector<uint8_t> png = Assemble({{"IHDR", Ihdr(2, 1, 8, 3)},
                                             {"PLTE", {1, 2, 3, 4, 5, 6}},
                                             {"tRNS", {0x80}},
                                             {"IDAT", Zlib({0, 0, 5})},
                                             {"IEND", {}}});
  const Picture p = Decode(png);
  EXPECT_EQ(p.At(0, 0), Argb(0x80, 1, 2, 3));
  EXPECT_EQ(p.At(1, 0), Rgb(0, 0, 0));
  EXPECT_TRUE(p.has_alpha);
}

struct BadCase {
  const char* name;
  std::vector<uint8_t> png;
};

std::vector<BadCase> BadCases() {
  std::vector<BadCase> cases;
  const auto iend = RawChunk{"IEND", {}};
  const auto idat = RawChunk{"IDAT", Zlib(kTinyRows)};
  cases.push_back({"HugeHeader", Assemble({{"IHDR", Ihdr(100000, 100000, 8, 6)}, idat, iend})});
  cases.push_back({"OverMemoryLimit", Assemble({{"IHDR", Ihdr(16384, 16384, 8, 6)}, idat, iend})});
  cases.push_back(
      {"DataCannotFillPicture", Assemble({{"IHDR", Ihdr(10000, 10000, 8, 0)}, idat, iend})});
  cases.push_back({"ZeroWidth", Assemble({{"IHDR", Ihdr(0, 2, 8, 0)}, idat, iend})});
  cases.push_back({"Rgb4", Assemble({{"IHDR", Ihdr(2, 2, 4, 2)}, idat, iend})});
  cases.push_back({"Palette16", Assemble({{"IHDR", Ihdr(2, 2, 16, 3)}, idat, iend})});
  cases.push_back({"Grey3", Assemble({{"IHDR", Ihdr(2, 2, 3, 0)}, idat, iend})});
  cases.push_back({"ColourType5", Assemble({{"IHDR", Ihdr(2, 2, 8, 5)}, idat, iend})});
  cases.push_back({"Interlace2", Assemble({{"IHDR", Ihdr(2, 2, 8, 0, 2)}, idat, iend})});
  cases.push_back({"PaletteMissing", Assemble({{"IHDR", Ihdr(2, 2, 8, 3)}, idat, iend})});
  cases.push_back({"IdatMissing", Assemble({{"IHDR", Ihdr(2, 2, 8, 0)}, iend})});
  cases.push_back({"IhdrNotFirst", Assemble({idat, {"IHDR", Ihdr(2, 2, 8, 0)}, iend})});
  cases.push_back({"FilterType5", TinyGrey({5, 10, 20, 0, 30, 40})});
  cases.push_back({"ImageDataShort", TinyGrey({0, 10, 20, 0, 30})});
  cases.push_back({"CorruptDeflate", Assemble({{"IHDR", Ihdr(2, 2, 8, 0)},
                                               {"IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF}},
                                               iend})});
  cases.push_back(
      {"TrnsLongerThanPalette",
       Assemble({{"IHDR", Ihdr(2, 2, 8, 3)}, {"PLTE", {1, 2, 3}}, {"tRNS", {1, 2}}, idat, iend})});
  cases.push_back(
      {"PaletteTooLongForDepth",
       Assemble({{"IHDR", Ihdr(2, 2, 1, 3)}, {"PLTE", {1, 2, 3, 4, 5, 6, 7, 8, 9}}, idat, iend})});
  cases.push_back({"MissingIend", [] {
                     std::vector<uint8_t> v = TinyGrey(kTinyRows);
                     v.resize(v.size() - 12);
                     return v;
                   }()});
  cases.push_back({"NotPng", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}});
  return cases;
}

class PngMalformedTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(PngMalformedTest, Refused) { EXPECT_THROW(Decode(GetParam().png), PictureError); }

INSTANTIATE_TEST_SUITE_P(Cases, PngMalformedTest, ::testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Every chunk's CRC is checked, and every prefix of a file is refused.
std::vector<uint8_t> SmallRealisticPng() {
  std::vector<uint8_t> rows;
  for (int y = 0; y < 9; ++y) {
    rows.push_back(static_cast<uint8_t>(y % 5));
    for (int x = 0; x < 11 * 3; ++x) rows.push_back(static_cast<uint8_t>(x * y + 3));
  }
  return Assemble({{"IHDR", Ihdr(11, 9, 8, 2)},
                   {"gAMA", {0, 0, 0xB1, 0x8F}},
                   {"IDAT", Zlib(rows)},
                   {"tEXt", {'a', 0, 'b'}},
                   {"IEND", {}}});
}

TEST(PngDamageTest, EveryChunkCrcIsChecked) {
  const std::vector<uint8_t> good = SmallRealisticPng();
  ASSERT_NO_THROW(Decode(good));
  int chunks = 0;
  for (size_t pos = 8; pos < good.size(); ++chunks) {
    const uint32_t length = static_cast<uint32_t>(good[pos + 2]) << 8 | good[pos + 3];
    const size_t crc_at = pos + 8 + length;
    for (size_t at : {pos + 4, crc_at}) {  // the type, then the CRC itself
      std::vector<uint8_t> bad = good;
      bad[at] ^= 0x04;
      EXPECT_THROW(Decode(bad), PictureError) << "byte " << at;
    }
    if (length > 0) {
      std::vector<uint8_t> bad = good;
      bad[pos + 8 + length / 2] ^= 0x40;
      EXPECT_THROW(Decode(bad), PictureError) << "body of chunk at " << pos;
    }
    pos = crc_at + 4;
  }
  EXPECT_EQ(chunks, 5);
}

TEST(PngDamageTest, EveryTruncationIsRefused) {
  const std::vector<uint8_t> good = SmallRealisticPng();
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_THROW(DecodePng(good.data(), n), PictureError) << "truncated to " << n;
  }
}

TEST(PngDamageTest, TruncatedImageMagickFilesAreRefused) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* prefix : {"PNG8:", "PNG64:"}) {
    WriteSeedPicture(prefix + dir.File("t.png"), 40, 30, "-interlace PNG");
    const std::vector<uint8_t> good = ReadFileBytes(dir.File("t.png"));
    ASSERT_NO_THROW(Decode(good));
    for (size_t n = 0; n < good.size(); n += 1 + n / 50) {
      EXPECT_THROW(DecodePng(good.data(), n), PictureError) << prefix << " truncated to " << n;
    }
  }
}

}  // namespace
}  // namespace quenvale
