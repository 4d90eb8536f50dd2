// Targa files against ImageMagick (told to honour the origin the file declares), plus
// hand-made variants and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::SamePixels;
using testutil::ShellQuote;
using testutil::TempDir;
using testutil::WriteSeedPicture;

Picture DecodeTgaBytes(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("targa", bytes);
  return DecodeTarga(bytes.data(), bytes.size());
}

// The peer leaves rows in storage order unless asked to orient the picture.
Picture OrientedReference(const std::string& path, const std::string& dir) {
  const std::string png = dir + "/oriented.miff";
  if (!testutil::RunCommand("convert " + ShellQuote(path) +
                            "[0] -auto-orient MIFF:" + ShellQuote(png))) {
    ADD_FAILURE() << "convert failed on " << path;
    return Picture();
  }
  return testutil::ReferenceDecode(png);
}

std::vector<uint8_t> TgaHeader(uint8_t type, uint16_t width, uint16_t height, uint8_t depth,
                               uint8_t descriptor, uint16_t map_length = 0, uint8_t map_bits = 0,
                               uint16_t map_first = 0) {
  return {0,
          static_cast<uint8_t>(map_length ? 1 : 0),
          type,
          static_cast<uint8_t>(map_first),
          static_cast<uint8_t>(map_first >> 8),
          static_cast<uint8_t>(map_length),
          static_cast<uint8_t>(map_length >> 8),
          map_bits,
          0,
          0,
          0,
          0,
          static_cast<uint8_t>(width),
          static_cast<uint8_t>(width >> 8),
          static_cast<uint8_t>(height),
          static_cast<uint8_t>(height >> 8),
          depth,
          descriptor};
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct TgaVariant {
  const char* name;
  const char* options;
};

class TgaPeerTest : public ::testing::TestWithParam<TgaVariant> {};

TEST_P(TgaPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  const std::string path = dir.File("sample.tga");
  WriteSeedPicture(path, 53, 29, GetParam().options);
  const Picture ours = DecodeTgaBytes(ReadFileBytes(path));
  EXPECT_TRUE(SamePixels(ours, OrientedReference(path, dir.path())));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, TgaPeerTest,
    ::testing::Values(TgaVariant{"TrueColour", "-alpha off"},
                      TgaVariant{"TrueColourAlpha", "-alpha set -channel A -fx 'i/w' +channel"},
                      TgaVariant{"TrueColourRle", "-alpha off -compress RLE"},
                      TgaVariant{"TrueColourAlphaRle",
                                 "-alpha set -channel A -fx 'j/h' +channel -compress RLE"},
                      TgaVariant{"ColourMapped", "-alpha off -type Palette"},
                      TgaVariant{"ColourMappedRle", "-alpha off -type Palette -compress RLE"},
                      TgaVariant{"Grey", "-alpha off -type Grayscale"},
                      TgaVariant{"GreyRle", "-alpha off -type Grayscale -compress RLE"},
                      TgaVariant{"TopLeftOrigin", "-alpha off -define tga:image-origin=TopLeft"},
                      TgaVariant{"Flipped", "-alpha off -flip -compress RLE"}),
    [](const ::testing::TestParamInfo<TgaVariant>& info) { return info.param.name; });

// What ImageMagick does not write: 15/16-bit pixels and colour maps, right-to-left rows,
// runs crossing rows, an image ID and a colour map with a first index.
TEST(TargaTest, HandMadeVariantsMatchImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    int tolerance;  // the peer rounds 5-bit channels down, we fill the low bits
  };
  const uint16_t w = 9, h = 5;
  std::vector<uint8_t> with_id = TgaHeader(2, w, h, 24, 0x20);
  with_id[0] = 5;
  with_id.insert(with_id.end(), {'h', 'e', 'l', 'l', 'o'});
  // Runs of 4 pixels of 24 bits that cross row ends, and raw packets of 3.
  std::vector<uint8_t> rle;
  for (int i = 0; i < 9; ++i) {
    const std::vector<uint8_t> colour = Noise(3, 40 + i);
    rle.push_back(0x83);
    rle.insert(rle.end(), colour.begin(), colour.end());
    rle.push_back(0x00);
    const std::vector<uint8_t> one = Noise(3, 80 + i);
    rle.insert(rle.end(), one.begin(), one.end());
  }
  // 24-bit map of 40 entries numbered from 10; indices stay inside it.
  std::vector<uint8_t> indices = Noise(w * h, 5);
  for (auto& i : indices) i = static_cast<uint8_t>(10 + i % 40);
  std::vector<uint8_t> indices16;
  for (auto i : indices) indices16.insert(indices16.end(), {i, 0});
  std::vector<Case> cases = {
      {"rgb16-no-alpha", Join(TgaHeader(2, w, h, 16, 0x00), Noise(w * h * 2, 1)), 1},
      {"rgb16-attribute-alpha", Join(TgaHeader(2, w, h, 16, 0x21), Noise(w * h * 2, 2)), 1},
      {"rgb15", Join(TgaHeader(2, w, h, 15, 0x20), Noise(w * h * 2, 3)), 1},
      {"right-to-left", Join(TgaHeader(2, w, h, 24, 0x10), Noise(w * h * 3, 4)), 0},
      {"right-to-left-top", Join(TgaHeader(2, w, h, 32, 0x38), Noise(w * h * 4, 6)), 0},
      {"image-id", Join(with_id, Noise(w * h * 3, 7)), 0},
      {"rle-across-rows", Join(TgaHeader(10, w, h, 24, 0x20), rle), 0},
      {"map-24-first-10",
       Join(Join(TgaHeader(1, w, h, 8, 0x00, 40, 24, 10), Noise(120, 8)), indices), 0},
      {"map-32", Join(Join(TgaHeader(1, w, h, 8, 0x28, 40, 32, 10), Noise(160, 9)), indices), 0},
      {"map-16", Join(Join(TgaHeader(1, w, h, 8, 0x20, 40, 16, 10), Noise(80, 10)), indices), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".tga");
    testutil::WriteFileBytes(path, c.file);
    EXPECT_TRUE(
        SamePixels(DecodeTgaBytes(c.file), OrientedReference(path, dir.path()), c.tolerance));
  }
  // 16-bit indices: the same picture as 8-bit ones.
  const Picture eight =
      DecodeTgaBytes(Join(Join(TgaHeader(1, w, h, 8, 0x00, 40, 24, 10), Noise(120, 8)), indices));
  const Picture sixteen = DecodeTgaBytes(
      Join(Join(TgaHeader(1, w, h, 16, 0x00, 40, 24, 10), Noise(120, 8)), indices16));
  EXPECT_TRUE(SamePixels(sixteen, eight));
}

TEST(TargaTest, DamagedFilesFailCleanly) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* options : {"-alpha off", "-compress RLE", "-type Palette -compress RLE"}) {
    SCOPED_TRACE(options);
    const std::string path = dir.File("sample.tga");
    WriteSeedPicture(path, 17, 13, options);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      EXPECT_THROW(DecodeTgaBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut)),
                   PictureError)
          << "cut at " << cut;
    }
    std::vector<uint8_t> lying = bytes;
    lying[12] = lying[13] = lying[14] = lying[15] = 0xFF;
    EXPECT_THROW(DecodeTgaBytes(lying), PictureError);
  }
  // A run-length picture claiming far more pixels than its data could hold.
  EXPECT_THROW(DecodeTgaBytes(Join(TgaHeader(10, 16000, 16000, 24, 0), {0xFF, 1, 2, 3})),
               PictureError);
  EXPECT_THROW(DecodeTgaBytes(Join(TgaHeader(2, 0, 5, 24, 0), Noise(30, 1))), PictureError);
  EXPECT_THROW(DecodeTgaBytes(Join(TgaHeader(2, 4, 4, 13, 0), Noise(64, 1))), PictureError);
  EXPECT_THROW(DecodeTgaBytes(Join(TgaHeader(1, 4, 4, 8, 0), Noise(16, 1))), PictureError);
  EXPECT_THROW(DecodeTgaBytes(Join(TgaHeader(2, 4, 4, 24, 0), Noise(47, 1))), PictureError);
}

}  // namespace
}  // namespace quenvale
