// Photo CD base images against ImageMagick: pacs it writes from seeds (landscape, and portrait
// with the quarter-turn flag), and a pac built here from the published layout.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::RunCommand;
using testutil::SamePixels;
using testutil::ShellQuote;
using testutil::TempDir;
using testutil::WriteFileBytes;
using testutil::WriteSeedPicture;

constexpr size_t kBase = 0x30000;
constexpr size_t kPacSize = kBase + 768 * 512 * 3 / 2;

Picture Decode(const std::vector<uint8_t>& b) {
  testutil::KeepFuzzSeed("pcd", b);
  return DecodePcd(b.data(), b.size());
}

// ImageMagick's reading of a pac. Not ReferenceDecode: a "[0]" scene suffix makes ImageMagick
// read something other than the base image of a Photo CD pac.
Picture ImageMagickPcd(const std::string& path) {
  Picture picture;
  std::string size_text, rgba;
  unsigned w = 0, h = 0;
  if (!RunCommand("identify -format '%w %h' " + ShellQuote(path), &size_text) ||
      std::sscanf(size_text.c_str(), "%u %u", &w, &h) != 2 ||
      !RunCommand("convert " + ShellQuote(path) + " -depth 8 rgba:-", &rgba) ||
      rgba.size() != static_cast<size_t>(w) * h * 4) {
    ADD_FAILURE() << "ImageMagick could not read " << path;
    return picture;
  }
  picture.Allocate(w, h);
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(&rgba[i * 4]);
    picture.pixels[i] = Argb(p[3], p[0], p[1], p[2]);
  }
  return picture;
}

struct PcdCase {
  const char* name;
  int width, height;
};

class PcdPeerTest : public ::testing::TestWithParam<PcdCase> {};

// ImageMagick interpolates chroma its own way, so colour edges may differ by a few levels; the
// YCC conversion and the orientation must agree.
TEST_P(PcdPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  const std::string path = dir.File("seed.pcd");
  WriteSeedPicture(path, GetParam().width, GetParam().height);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const Picture ours = Decode(bytes);
  EXPECT_FALSE(ours.has_alpha);
  EXPECT_EQ(ours.width, GetParam().width);
  EXPECT_TRUE(SamePixels(ours, ImageMagickPcd(path), 4));

  for (size_t cut = 0; cut < kPacSize; cut += 997 + cut / 4) {
    EXPECT_THROW(DecodePcd(bytes.data(), cut), PictureError) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, PcdPeerTest,
                         ::testing::Values(PcdCase{"Landscape", 768, 512},
                                           PcdCase{"Portrait", 512, 768}),
                         [](const ::testing::TestParamInfo<PcdCase>& info) {
                           return std::string(info.param.name);
                         });

// A pac made from nothing but the layout: the info sector's signature and a base image of
// flat 32x32 blocks, each with its own luma and chroma, read by both decoders.
TEST(PcdTest, BuiltPacMatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  std::vector<uint8_t> pac(kPacSize, 0);
  const std::string signature = "PCD_IPI";
  std::copy(signature.begin(), signature.end(), pac.begin() + 0x800);
  for (size_t pair = 0; pair < 256; ++pair) {
    uint8_t* rows = &pac[kBase + pair * 2304];
    for (size_t x = 0; x < 768; ++x) {
      const size_t bx = x / 32, by = pair * 2 / 32;
      rows[x] = rows[768 + x] = static_cast<uint8_t>(20 + (bx * 9 + by * 13) % 200);
      if (x < 384) {
        const size_t cbx = x * 2 / 32;
        rows[1536 + x] = static_cast<uint8_t>(110 + (cbx * 7 + by * 3) % 90);
        rows[1920 + x] = static_cast<uint8_t>(100 + (cbx * 5 + by * 11) % 80);
      }
    }
  }
  TempDir dir;
  WriteFileBytes(dir.File("built.pcd"), pac);
  const Picture ours = Decode(pac);
  const Picture reference = ImageMagickPcd(dir.File("built.pcd"));
  EXPECT_TRUE(SamePixels(ours, reference, 4));
  // Away from block edges there is nothing to interpolate: the conversion alone decides, up to
  // the last bit of rounding (ImageMagick rounds through 16 bits).
  ASSERT_EQ(reference.width, 768);
  for (int by = 0; by < 16; ++by) {
    for (int bx = 0; bx < 24; ++bx) {
      const int x = bx * 32 + 15, y = by * 32 + 15;
      for (int shift = 0; shift < 32; shift += 8) {
        const int a = (ours.At(x, y) >> shift) & 0xFF, b = (reference.At(x, y) >> shift) & 0xFF;
        EXPECT_LE(std::abs(a - b), 1) << x << "," << y;
      }
    }
  }
}

TEST(PcdTest, RejectsOtherFiles) {
  std::vector<uint8_t> pac(kPacSize, 0);
  EXPECT_THROW(Decode(pac), PictureError);  // no signature
  const std::string signature = "PCD_IPI";
  std::copy(signature.begin(), signature.end(), pac.begin() + 0x800);
  EXPECT_NO_THROW(Decode(pac));
  pac.pop_back();
  EXPECT_THROW(Decode(pac), PictureError);
  EXPECT_THROW(DecodePcd(pac.data(), 0x810), PictureError);
}

}  // namespace
}  // namespace quenvale
