// Bitmaps and icons against ImageMagick, plus damaged files.
#include <gtest/gtest.h>

#include <cstdio>
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
using testutil::SamePixels;
using testutil::TempDir;
using testutil::WriteSeedPicture;

Picture DecodeBmpBytes(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("bmp", bytes);
  return DecodeBmp(bytes.data(), bytes.size());
}

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
         static_cast<uint32_t>(b[at + 3]) << 24;
}

// A bitmap file around a 40-byte (or longer) information header, made by hand for variants
// no writer at hand produces.
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                             const std::vector<uint8_t>& pixels,
                             const std::vector<uint8_t>& palette = {},
                             const std::vector<uint32_t>& masks = {}, uint32_t header_size = 40,
                             uint32_t colours_used = 0) {
  std::vector<uint8_t> info(header_size, 0);
  Put32(info, 0, header_size);
  Put32(info, 4, static_cast<uint32_t>(width));
  Put32(info, 8, static_cast<uint32_t>(height));
  Put16(info, 12, 1);
  Put16(info, 14, bpp);
  Put32(info, 16, compression);
  Put32(info, 20, static_cast<uint32_t>(pixels.size()));
  Put32(info, 32, colours_used);
  std::vector<uint8_t> extra;
  if (header_size == 40) {
    for (uint32_t m : masks) {
      extra.resize(extra.size() + 4);
      Put32(extra, extra.size() - 4, m);
    }
  } else {
    for (size_t i = 0; i < masks.size() && 40 + 4 * i + 4 <= header_size; ++i) {
      Put32(info, 40 + 4 * i, masks[i]);
    }
  }
  std::vector<uint8_t> file(14, 0);
  file[0] = 'B';
  file[1] = 'M';
  const uint32_t offset = static_cast<uint32_t>(14 + info.size() + extra.size() + palette.size());
  Put32(file, 2, offset + static_cast<uint32_t>(pixels.size()));
  Put32(file, 10, offset);
  file.reserve(offset + pixels.size());
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), extra.begin(), extra.end());
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// Pseudo-random bytes, so that hand-made pictures exercise every bit of every field.
std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

struct BmpVariant {
  const char* name;
  const char* prefix;
  const char* options;
  int tolerance;
};

class BmpPeerTest : public ::testing::TestWithParam<BmpVariant> {};

TEST_P(BmpPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const BmpVariant& v = GetParam();
  TempDir dir;
  const std::string path = dir.File("sample.bmp");
  WriteSeedPicture(std::string(v.prefix) + ":" + path, 61, 37, v.options);
  const Picture reference = ReferenceDecode(path);
  const Picture ours = DecodeBmpBytes(ReadFileBytes(path));
  EXPECT_TRUE(SamePixels(ours, reference, v.tolerance));
}

// 5-bit fields match exactly; the 6-bit and 4-bit ones differ because the peer shifts them
// up without filling the low bits, where full intensity should stay full.
INSTANTIATE_TEST_SUITE_P(
    Variants, BmpPeerTest,
    ::testing::Values(BmpVariant{"Rgb24", "BMP3", "-alpha off", 0},
                      BmpVariant{"Palette8", "BMP3", "-type Palette -compress None", 0},
                      BmpVariant{"Palette4", "BMP3", "-colors 16 -type Palette -compress None", 0},
                      BmpVariant{"Bilevel", "BMP3", "-type Bilevel", 0},
                      BmpVariant{"Rle8", "BMP3", "-type Palette -compress RLE", 0},
                      BmpVariant{"Grey", "BMP3", "-type Grayscale -compress None", 0},
                      BmpVariant{"Rgb32WithAlphaByte", "BMP3",
                                 "-alpha set -channel A -fx 'i/w' +channel "
                                 "-define bmp3:alpha=true",
                                 0},
                      BmpVariant{"Os2Palette", "BMP2", "-type Palette", 0},
                      BmpVariant{"Os2Rgb24", "BMP2", "-alpha off", 0},
                      BmpVariant{"V5Rgb24", "BMP", "-alpha off", 0},
                      BmpVariant{"V4Grey", "BMP", "-type Grayscale", 0},
                      BmpVariant{"V5Alpha", "BMP", "-alpha set -channel A -fx 'j/h' +channel", 0},
                      BmpVariant{"V5Xrgb8888", "BMP", "-alpha off -define bmp:subtype=XRGB8888", 0},
                      BmpVariant{"V5Rgb555", "BMP", "-alpha off -define bmp:subtype=RGB555", 0},
                      BmpVariant{"V5Rgb565", "BMP", "-alpha off -define bmp:subtype=RGB565", 3},
                      BmpVariant{"V5Argb4444", "BMP",
                                 "-alpha set -channel A -fx 'i/w' +channel "
                                 "-define bmp:subtype=ARGB4444",
                                 15}),
    [](const ::testing::TestParamInfo<BmpVariant>& info) { return info.param.name; });

// Top-down rows, a packed DIB without file header and a lying colour count are all the same
// picture as the file they were made from.
TEST(BmpTest, LayoutVariantsGiveTheSamePicture) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* options : {"-alpha off", "-type Palette -compress None"}) {
    SCOPED_TRACE(options);
    const std::string path = dir.File("sample.bmp");
    WriteSeedPicture("BMP3:" + path, 23, 9, options);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const Picture reference = ReferenceDecode(path);

    // Top-down: negative height, rows reversed.
    std::vector<uint8_t> top_down = bytes;
    const uint32_t offset = Get32(bytes, 10);
    const int32_t height = static_cast<int32_t>(Get32(bytes, 22));
    const size_t stride = (bytes.size() - offset) / height;
    for (int32_t row = 0; row < height; ++row) {
      std::copy(bytes.begin() + offset + row * stride, bytes.begin() + offset + (row + 1) * stride,
                top_down.begin() + offset + (height - 1 - row) * stride);
    }
    Put32(top_down, 22, static_cast<uint32_t>(-height));
    EXPECT_TRUE(SamePixels(DecodeBmpBytes(top_down), reference));

    // Packed DIB: the same bytes without the file header.
    const std::vector<uint8_t> packed(bytes.begin() + 14, bytes.end());
    EXPECT_TRUE(SamePixels(DecodeBmpBytes(packed), reference));
  }
}

// Hand-made files for what ImageMagick does not write; it still reads them all.
TEST(BmpTest, HandMadeVariantsMatchImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    int tolerance;
  };
  std::vector<uint8_t> palette16;
  for (int i = 0; i < 16; ++i) {
    for (int c : {i * 16, 255 - i * 8, (i * 77) & 0xFF, 0})
      palette16.push_back(static_cast<uint8_t>(c));
  }
  // Runs, literals with odd lengths, end of line, a delta and end of bitmap. The bottom row
  // is left short, the skipped pixels keep the first palette colour. The peer wants a few
  // bytes after the end marker.
  const std::vector<uint8_t> rle4 = {5, 0x12, 0,    3,    0x34, 0x50, 2, 0xAB, 0, 0,  // row 0
                                     0, 5,    0x9F, 0x1C, 0x20, 0,    4, 0x77, 0, 2,
                                     3, 1,    2,    0xEE,  // row 1, delta to row 2
                                     0, 0,    11,   0x3D, 0,    0,    0, 1,    0, 0};
  const std::vector<uint8_t> rle8 = {3,  7, 0,  3,  1,  2,  3, 0,  0, 0,   // row 0
                                     2,  9, 0,  2,  4,  1,  4, 11, 0, 0,   // rows 1 and 2
                                     12, 5, 0,  0,                         // row 3
                                     0,  4, 15, 14, 13, 12, 0, 1,  0, 0};  // row 4
  const std::vector<uint8_t> beyond = {0, 1, 2, 3, 4, 200, 3, 15};
  std::vector<Case> cases = {
      {"rle4", MakeBmp(12, 4, 4, 2, rle4, palette16), 0},
      {"rle8", MakeBmp(12, 5, 8, 1, rle8, palette16, {}, 40, 16), 0},
      // Odd mask widths: 10-10-10 bits, and 3-7-6 bits.
      {"masks-10-10-10",
       MakeBmp(16, 3, 32, 3, Noise(16 * 3 * 4, 7), {}, {0x3FF00000, 0xFFC00, 0x3FF}), 1},
      {"masks-3-7-6", MakeBmp(14, 3, 16, 3, Noise(28 * 3, 9), {}, {0xE000, 0x1FC0, 0x3F}), 32},
      {"rgb555-default", MakeBmp(14, 3, 16, 0, Noise(28 * 3, 11)), 0},
      {"v4-bitfields-no-alpha",
       MakeBmp(6, 2, 32, 3, Noise(48, 13), {}, {0xFF0000, 0xFF00, 0xFF, 0}, 108), 0},
      {"v5-bitfields-alpha",
       MakeBmp(6, 2, 32, 3, Noise(48, 15), {}, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, 124), 0},
      // V5 with no compression: the fourth byte is padding.
      {"v5-rgb32-padding", MakeBmp(6, 2, 32, 0, Noise(48, 17), {}, {}, 124), 0},
      {"alpha-bitfields",
       MakeBmp(5, 2, 32, 6, Noise(40, 19), {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}), 0},
  };
  // Indices past a four-colour table take its first colour, as the peer does (though it
  // reports the file as faulty).
  const std::vector<uint8_t> four(palette16.begin(), palette16.begin() + 16);
  const Picture beyond_pic = DecodeBmpBytes(MakeBmp(8, 1, 8, 0, beyond, four, {}, 40, 4));
  for (int x = 0; x < 8; ++x) {
    const int i = beyond[x] < 4 ? beyond[x] : 0;
    EXPECT_EQ(beyond_pic.At(x, 0), Rgb(four[4 * i + 2], four[4 * i + 1], four[4 * i])) << x;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".bmp");
    testutil::WriteFileBytes(path, c.file);
    if (std::string(c.name) == "alpha-bitfields") {
      // The peer does not know this compression code; only check that alpha survives.
      const Picture ours = DecodeBmpBytes(c.file);
      EXPECT_TRUE(ours.has_alpha);
      EXPECT_EQ(ours.At(0, 1) >> 24, c.file[14 + 40 + 16 + 3]);
      continue;
    }
    EXPECT_TRUE(SamePixels(DecodeBmpBytes(c.file), ReferenceDecode(path), c.tolerance));
  }
}

// Files cut short anywhere, and headers that lie, fail cleanly with a PictureError.
TEST(BmpTest, DamagedFilesFailCleanly) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* options :
       {"-alpha off", "-type Palette -compress RLE", "-colors 16 -type Palette"}) {
    SCOPED_TRACE(options);
    const std::string path = dir.File("sample.bmp");
    WriteSeedPicture("BMP3:" + path, 19, 11, options);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    // The last row may lack its padding; anything shorter must fail.
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + cut);
      if (cut + 3 < bytes.size()) {
        EXPECT_THROW(DecodeBmpBytes(part), PictureError) << "cut at " << cut;
      } else {
        try {
          EXPECT_EQ(DecodeBmpBytes(part).width, 19);
        } catch (const PictureError&) {
        }
      }
    }
    // Huge sizes are refused before anything is allocated.
    for (uint32_t w : {0u, 16385u, 0x7FFFFFFFu, 0x80000000u}) {
      std::vector<uint8_t> lying = bytes;
      Put32(lying, 18, w);
      EXPECT_THROW(DecodeBmpBytes(lying), PictureError) << "width " << w;
    }
    std::vector<uint8_t> lying = bytes;
    Put32(lying, 18, 16000);
    Put32(lying, 22, 16000);
    EXPECT_THROW(DecodeBmpBytes(lying), PictureError);
  }
  // Runs that run past the picture are cut off; a missing end marker is truncation.
  const std::vector<uint8_t> palette(8, 0x40);
  EXPECT_NO_THROW(
      DecodeBmpBytes(MakeBmp(4, 2, 8, 1, {255, 1, 0, 2, 200, 200, 255, 1, 0, 1}, palette)));
  EXPECT_THROW(DecodeBmpBytes(MakeBmp(4, 2, 8, 1, {2, 1, 0, 0, 2, 1}, palette)), PictureError);
  EXPECT_THROW(DecodeBmpBytes(MakeBmp(4, -2, 8, 1, {2, 1, 0, 1}, palette)), PictureError);
  EXPECT_THROW(DecodeBmpBytes(MakeBmp(4, 2, 24, 1, {2, 1, 0, 1})), PictureError);
  EXPECT_THROW(DecodeBmpBytes(MakeBmp(4, 2, 7, 0, std::vector<uint8_t>(64))), PictureError);
}

// Icons: the largest image of the directory, its mask or its own alpha.
struct IcoVariant {
  const char* name;
  const char* options;
  int tolerance;  // 16-bit PNG inside: the peer truncates to 8 bits, the PNG decoder rounds
};

class IcoPeerTest : public ::testing::TestWithParam<IcoVariant> {};

TEST_P(IcoPeerTest, LargestImageMatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  const std::string path = dir.File("sample.ico");
  WriteSeedPicture(path, 64, 64, GetParam().options);
  // Find the largest frame, then let the peer decode that one alone.
  std::string sizes;
  ASSERT_TRUE(
      testutil::RunCommand("identify -format '%w %h\\n' " + testutil::ShellQuote(path), &sizes));
  int best = 0, best_area = -1, index = 0;
  for (size_t start = 0; start < sizes.size(); ++index) {
    const size_t end = sizes.find('\n', start);
    int w = 0, h = 0;
    std::sscanf(sizes.c_str() + start, "%d %d", &w, &h);
    if (w * h > best_area) best_area = w * h, best = index;
    start = end == std::string::npos ? sizes.size() : end + 1;
  }
  const std::string frame = dir.File("frame.miff");
  ASSERT_TRUE(testutil::RunCommand("convert " +
                                   testutil::ShellQuote(path + "[" + std::to_string(best) + "]") +
                                   " MIFF:" + testutil::ShellQuote(frame)));
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  Picture ours;
  testutil::KeepFuzzSeed("bmp", bytes);
  try {
    ours = DecodeIco(bytes.data(), bytes.size());
  } catch (const PictureError& e) {
    if (std::string(e.what()).find("not built yet") != std::string::npos) GTEST_SKIP() << e.what();
    throw;
  }
  EXPECT_TRUE(SamePixels(ours, ReferenceDecode(frame), GetParam().tolerance));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, IcoPeerTest,
    ::testing::Values(
        IcoVariant{"Opaque", "-alpha off -resize 32x32", 0},
        IcoVariant{"Alpha", "-alpha set -channel A -fx 'i/w' +channel -resize 48x48", 0},
        IcoVariant{"MaskOnly", "-alpha set -channel A -fx 'i<w/2?0:1' +channel -resize 32x32", 0},
        IcoVariant{"SeveralSizes", "-define icon:auto-resize=16,48,32", 0},
        IcoVariant{"PngInside", "-define icon:auto-resize=256,32", 1}),
    [](const ::testing::TestParamInfo<IcoVariant>& info) { return info.param.name; });

// A 4-bit icon made by hand: its AND mask gives transparency.
TEST(IcoTest, MaskMakesPalettePixelsTransparent) {
  const int w = 8, h = 4;
  std::vector<uint8_t> dib(40, 0);
  Put32(dib, 0, 40);
  Put32(dib, 4, w);
  Put32(dib, 8, h * 2);
  Put16(dib, 12, 1);
  Put16(dib, 14, 4);
  for (int i = 0; i < 16; ++i) {
    for (int c : {i * 16, i * 8, 255 - i * 16, 0}) dib.push_back(static_cast<uint8_t>(c));
  }
  const std::vector<uint8_t> pixels = Noise(4 * h, 3);
  dib.insert(dib.end(), pixels.begin(), pixels.end());
  const uint8_t mask_rows[h] = {0x0F, 0xF0, 0x81, 0x00};
  for (uint8_t m : mask_rows) dib.insert(dib.end(), {m, 0, 0, 0});
  std::vector<uint8_t> file = {0, 0, 1, 0, 1, 0, w, h, 16, 0, 1, 0, 4, 0};
  file.resize(22, 0);
  Put32(file, 14, static_cast<uint32_t>(dib.size()));
  Put32(file, 18, 22);
  file.insert(file.end(), dib.begin(), dib.end());

  const Picture pic = DecodeIco(file.data(), file.size());
  ASSERT_EQ(pic.width, w);
  ASSERT_EQ(pic.height, h);
  EXPECT_TRUE(pic.has_alpha);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool transparent = (mask_rows[h - 1 - y] >> (7 - x)) & 1;
      const uint8_t index = (pixels[(h - 1 - y) * 4 + x / 2] >> (x % 2 ? 0 : 4)) & 15;
      const uint8_t* entry = &file[22 + 40 + index * 4];
      EXPECT_EQ(pic.At(x, y), Argb(transparent ? 0 : 255, entry[2], entry[1], entry[0]))
          << x << "," << y;
    }
  }
  // Cut anywhere: a clean error or a picture, never a crash.
  for (size_t cut = 0; cut < file.size(); ++cut) {
    try {
      DecodeIco(file.data(), cut);
    } catch (const PictureError&) {
    }
  }
  EXPECT_THROW(DecodeIco(file.data(), 21), PictureError);
}

}  // namespace
}  // namespace quenvale
