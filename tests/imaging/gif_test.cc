#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::ReferenceDecode;
using testutil::RunCommand;
using testutil::SamePixels;
using testutil::ShellQuote;
using testutil::TempDir;
using testutil::WriteFileBytes;
using testutil::WriteSeedPicture;

Picture Decode(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("gif", bytes);
  return DecodeGif(bytes.data(), bytes.size());
}

// Where the first image descriptor starts, skipping the global table and extensions.
size_t FirstImageDescriptor(const std::vector<uint8_t>& gif) {
  size_t pos = 13;
  if (gif[10] & 0x80) pos += 3u * (2u << (gif[10] & 7));
  while (pos < gif.size() && gif[pos] == 0x21) {
    pos += 2;
    while (pos < gif.size() && gif[pos] != 0) pos += gif[pos] + 1;
    ++pos;
  }
  return pos;
}

// Moves the global colour table into the first image as its local table.
std::vector<uint8_t> GlobalTableMadeLocal(const std::vector<uint8_t>& gif) {
  EXPECT_TRUE(gif[10] & 0x80);
  const size_t table_bytes = 3u * (2u << (gif[10] & 7));
  const std::vector<uint8_t> table(gif.begin() + 13, gif.begin() + 13 + table_bytes);
  const size_t descriptor = FirstImageDescriptor(gif);
  std::vector<uint8_t> out(gif.begin(), gif.begin() + descriptor + 10);
  out.at(descriptor + 9) = static_cast<uint8_t>((out.at(descriptor + 9) & 0x40) | 0x80 | (gif[10] & 7));
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), gif.begin() + descriptor + 10, gif.end());
  out.erase(out.begin() + 13, out.begin() + 13 + table_bytes);
  out[10] &= 0x7F;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Files ImageMagick writes, decoded by both.

struct PeerCase {
  const char* name;
  const char* options;
  int width;
  int height;
  bool transparent;
  bool interlaced;
  bool local_table = false;  // moved into the image descriptor after writing
  bool two_frames = false;   // a second, different frame follows
  const char* format = "";   // ImageMagick format prefix
};

class GifPeerTest : public ::testing::TestWithParam<PeerCase> {};

TEST_P(GifPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PeerCase& c = GetParam();
  TempDir dir;
  const std::string path = dir.File("sample.gif");
  if (c.two_frames) {
    WriteSeedPicture(dir.File("a.gif"), c.width, c.height, c.options);
    WriteSeedPicture(dir.File("b.gif"), c.width, c.height, std::string(c.options) + " -negate");
    ASSERT_TRUE(RunCommand("convert " + ShellQuote(dir.File("a.gif")) + " " +
                           ShellQuote(dir.File("b.gif")) + " " + ShellQuote(path)));
  } else {
    WriteSeedPicture(c.format + path, c.width, c.height, c.options);
  }
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  ASSERT_GT(bytes.size(), 20u);
  if (c.local_table) {
    bytes = GlobalTableMadeLocal(bytes);
    WriteFileBytes(path, bytes);
  }
  const size_t descriptor = FirstImageDescriptor(bytes);
  ASSERT_LT(descriptor + 10, bytes.size());
  ASSERT_EQ(bytes[descriptor], 0x2C);
  ASSERT_EQ((bytes[descriptor + 9] & 0x40) != 0, c.interlaced);
  ASSERT_EQ((bytes[descriptor + 9] & 0x80) != 0, c.local_table);

  EXPECT_EQ(bytes[4], *c.format ? '7' : '9');

  const Picture ours = Decode(bytes);
  const Picture reference = ReferenceDecode(path);
  EXPECT_TRUE(SamePixels(ours, reference));
  EXPECT_EQ(ours.has_alpha, c.transparent);
  if (c.transparent) {
    EXPECT_NE(std::count_if(reference.pixels.begin(), reference.pixels.end(),
                            [](uint32_t p) { return p >> 24 == 0; }),
              0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, GifPeerTest,
    ::testing::Values(PeerCase{"FullPalette", "", 37, 23, false, false},
                      PeerCase{"Large", "", 400, 300, false, false},
                      PeerCase{"Interlaced", "-interlace GIF", 37, 29, false, true},
                      PeerCase{"InterlacedTiny", "-interlace GIF", 3, 5, false, true},
                      PeerCase{"TwoColours", "-colors 2", 37, 23, false, false},
                      PeerCase{"FourColours", "-colors 4", 64, 48, false, false},
                      PeerCase{"SixteenColours", "-colors 16", 64, 48, false, false},
                      PeerCase{"Monochrome", "-monochrome", 50, 20, false, false},
                      PeerCase{"OnePixel", "", 1, 1, false, false},
                      PeerCase{"Transparent", "-transparent white", 37, 23, true, false},
                      PeerCase{"TransparentFew", "-colors 8 -fuzz 25% -transparent white", 37, 23,
                               true, false},
                      PeerCase{"LocalTable", "-colors 16", 37, 23, false, false, true},
                      PeerCase{"LocalTableInterlaced", "-interlace GIF", 37, 23, false, true, true},
                      PeerCase{"FirstOfTwoFrames", "-colors 32", 40, 30, false, false, false, true},
                      PeerCase{"OffsetOnScreen", "-repage 80x60+7+5", 37, 23, false, false},
                      PeerCase{"Gif87a", "", 37, 23, false, false, false, false, "GIF87:"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GifPeerTest, TruncatedFilesAreRefusedOrComplete) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  WriteSeedPicture(dir.File("t.gif"), 60, 40, "-interlace GIF");
  const std::vector<uint8_t> good = ReadFileBytes(dir.File("t.gif"));
  const Picture full = Decode(good);
  for (size_t n = 0; n < good.size(); ++n) {
    try {
      const Picture p = DecodeGif(good.data(), n);
      // Only a cut after the last pixel's code may decode, and then to the whole picture.
      EXPECT_GT(n, good.size() * 9 / 10) << "truncated to " << n;
      EXPECT_TRUE(SamePixels(p, full)) << "truncated to " << n;
    } catch (const PictureError&) {
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hand-made files.

// Packs LZW codes, least significant bit first, each with its own width.
std::vector<uint8_t> PackCodes(const std::vector<std::pair<uint32_t, int>>& codes) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int have = 0;
  for (const auto& [code, bits] : codes) {
    acc |= code << have;
    have += bits;
    while (have >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      have -= 8;
    }
  }
  if (have > 0) out.push_back(static_cast<uint8_t>(acc));
  return out;
}

struct GifParts {
  uint16_t width = 2;
  uint16_t height = 2;
  bool global_table = true;
  std::vector<uint8_t> extensions;
  int min_code_size = 2;
  std::vector<uint8_t> lzw;
  bool terminator = true;
};

// A GIF89a with a four-entry global table: dark grey, red, green, blue.
std::vector<uint8_t> MakeGif(const GifParts& g) {
  std::vector<uint8_t> v = {'G', 'I', 'F', '8', '9', 'a'};
  auto u16 = [&](uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  };
  u16(g.width);
  u16(g.height);
  v.insert(v.end(), {static_cast<uint8_t>(g.global_table ? 0x81 : 0x00), 0, 0});
  if (g.global_table) v.insert(v.end(), {0x40, 0x40, 0x40, 255, 0, 0, 0, 255, 0, 0, 0, 255});
  v.insert(v.end(), g.extensions.begin(), g.extensions.end());
  v.push_back(0x2C);
  u16(0);
  u16(0);
  u16(g.width);
  u16(g.height);
  v.push_back(0);
  v.push_back(static_cast<uint8_t>(g.min_code_size));
  for (size_t i = 0; i < g.lzw.size(); i += 255) {
    const size_t n = std::min<size_t>(255, g.lzw.size() - i);
    v.push_back(static_cast<uint8_t>(n));
    v.insert(v.end(), g.lzw.begin() + i, g.lzw.begin() + i + n);
  }
  if (g.terminator) {
    v.push_back(0);
    v.push_back(0x3B);
  }
  return v;
}

constexpr uint32_t kGrey = 0xFF404040u, kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u,
                   kBlue = 0xFF0000FFu;

TEST(GifHandMadeTest, DecodesCodesIncludingOneNotYetInTheTable) {
  // 1, then code 6 before it is defined (the "1 1" string), then 3: red red red blue.
  GifParts g;
  g.lzw = PackCodes({{4, 3}, {1, 3}, {6, 3}, {3, 3}, {5, 4}});
  const Picture p = Decode(MakeGif(g));
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{kRed, kRed, kRed, kBlue}));
  EXPECT_FALSE(p.has_alpha);
}

TEST(GifHandMadeTest, CodeWidthGrowsWhenTheTableReachesItsLimit) {
  // A 10-pixel run of index 2 with min code size 2: codes 2, 6, 7 fill entries 6 and 7, after
  // which the width is 4 bits, so 8 (four 2s) arrives as a 4-bit code.
  GifParts g;
  g.width = 10;
  g.height = 1;
  g.lzw = PackCodes({{4, 3}, {2, 3}, {6, 3}, {7, 3}, {8, 4}, {5, 4}});
  const Picture p = Decode(MakeGif(g));
  EXPECT_EQ(p.pixels, std::vector<uint32_t>(10, kGreen));
}

TEST(GifHandMadeTest, TransparentIndexAndOtherExtensions) {
  GifParts g;
  g.extensions = {0x21, 0xFE, 3,   'h',  'i', '!', 0,  // comment
                  0x21, 0xFF, 11,  'N',  'E', 'T', 'S', 'C', 'A', 'P',
                  'E',  '2',  '.', '0',  3,   1,   0,   0,   0,  // application
                  0x21, 0xF9, 4,   0x01, 0,   0,   2,   0};      // index 2 clear
  g.lzw = PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}});
  const Picture p = Decode(MakeGif(g));
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{kGrey, kRed, kGreen & 0x00FFFFFFu, kBlue}));
  EXPECT_TRUE(p.has_alpha);
}

TEST(GifHandMadeTest, DataBlocksEndingEarlyFillWithIndexZero) {
  GifParts g;
  g.lzw = PackCodes({{4, 3}, {3, 3}, {1, 3}});
  const Picture p = Decode(MakeGif(g));
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{kBlue, kRed, kGrey, kGrey}));
}

struct BadCase {
  const char* name;
  std::vector<uint8_t> gif;
};

std::vector<BadCase> BadCases() {
  std::vector<BadCase> cases;
  auto with = [](auto change) {
    GifParts g;
    g.lzw = PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}});
    change(g);
    return MakeGif(g);
  };
  cases.push_back({"CodeBeyondTable", with([](GifParts& g) {
                     g.lzw = PackCodes({{4, 3}, {1, 3}, {7, 3}, {5, 3}});
                   })});
  cases.push_back({"FirstCodeNotLiteral", with([](GifParts& g) {
                     g.lzw = PackCodes({{4, 3}, {6, 3}, {5, 3}});
                   })});
  cases.push_back({"EndCodeBeforeLastPixel", with([](GifParts& g) {
                     g.lzw = PackCodes({{4, 3}, {1, 3}, {5, 3}});
                   })});
  cases.push_back({"CodeSizeZero", with([](GifParts& g) { g.min_code_size = 0; })});
  cases.push_back({"CodeSizeNine", with([](GifParts& g) { g.min_code_size = 9; })});
  cases.push_back({"NoColourTable", with([](GifParts& g) { g.global_table = false; })});
  cases.push_back({"ZeroWidth", with([](GifParts& g) { g.width = 0; })});
  cases.push_back({"TooLarge", with([](GifParts& g) { g.width = g.height = 65535; })});
  cases.push_back({"FileEndsInsideImageData", with([](GifParts& g) {
                     g.lzw = PackCodes({{4, 3}, {1, 3}});
                     g.terminator = false;
                   })});
  cases.push_back({"NoImage", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}});
  cases.push_back({"UnknownBlock", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x99}});
  cases.push_back({"BadMagic", {'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}});
  return cases;
}

class GifMalformedTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(GifMalformedTest, Refused) { EXPECT_THROW(Decode(GetParam().gif), PictureError); }

INSTANTIATE_TEST_SUITE_P(Cases, GifMalformedTest, ::testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenvale
