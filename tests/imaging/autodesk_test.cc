// Autodesk Animator PIC/CEL files built here from the published layout (no installed tool reads
// or writes them) out of ImageMagick seeds reduced to 256 colours of 6-bit components.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::RunCommand;
using testutil::SamePixels;
using testutil::TempDir;
using testutil::WriteSeedPicture;

Picture Decode(const std::vector<uint8_t>& b) {
  testutil::KeepFuzzSeed("autodesk", b);
  return DecodeAutodesk(b.data(), b.size());
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

std::vector<uint8_t> Header(int w, int h) {
  std::vector<uint8_t> file;
  Put16(file, 0x9119);
  Put16(file, w);
  Put16(file, h);
  Put16(file, 3);  // x and y placement, ignored
  Put16(file, 5);
  file.push_back(8);
  file.push_back(0);
  Put16(file, (w * h) & 0xFFFF);
  Put16(file, (w * h) >> 16);
  file.resize(32, 0);
  return file;
}

// The documented expansion of a 6-bit component: its top two bits repeated below it.
uint32_t Widen(uint32_t v) { return v * 4 + v / 16; }

TEST(AutodeskTest, SeedReducedTo256ColoursRoundTrips) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  for (const auto& size : {std::pair<int, int>{320, 200}, std::pair<int, int>{57, 31}}) {
    TempDir dir;
    const int w = size.first, h = size.second;
    WriteSeedPicture(dir.File("seed.png"), w, h, "-alpha off");
    std::string rgb;
    ASSERT_TRUE(RunCommand("convert " + dir.File("seed.png") +
                               " -colors 200 -depth 8 -fx 'floor(u*63+0.5)/63' -depth 8 rgb:-",
                           &rgb));
    ASSERT_EQ(rgb.size(), static_cast<size_t>(w * h * 3));
    std::map<uint32_t, uint8_t> index_of;
    std::vector<uint8_t> palette(768, 0);
    std::vector<uint8_t> indices;
    Picture expected;
    expected.Allocate(w, h);
    for (int i = 0; i < w * h; ++i) {
      const uint32_t r = static_cast<uint8_t>(rgb[3 * i]) >> 2;
      const uint32_t g = static_cast<uint8_t>(rgb[3 * i + 1]) >> 2;
      const uint32_t b = static_cast<uint8_t>(rgb[3 * i + 2]) >> 2;
      const uint32_t key = r << 16 | g << 8 | b;
      auto it = index_of.find(key);
      if (it == index_of.end()) {
        ASSERT_LT(index_of.size(), 256u);
        const uint8_t n = static_cast<uint8_t>(index_of.size());
        palette[3 * n] = static_cast<uint8_t>(r);
        palette[3 * n + 1] = static_cast<uint8_t>(g);
        palette[3 * n + 2] = static_cast<uint8_t>(b);
        it = index_of.emplace(key, n).first;
      }
      indices.push_back(it->second);
      expected.pixels[i] = Rgb(Widen(r), Widen(g), Widen(b));
    }
    std::vector<uint8_t> file = Header(w, h);
    file.insert(file.end(), palette.begin(), palette.end());
    file.insert(file.end(), indices.begin(), indices.end());
    const Picture ours = Decode(file);
    EXPECT_FALSE(ours.has_alpha);
    EXPECT_TRUE(SamePixels(ours, expected)) << w << "x" << h;
    for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 8) {
      EXPECT_THROW(DecodeAutodesk(file.data(), cut), PictureError) << "cut at " << cut;
    }
  }
}

TEST(AutodeskTest, PaletteEndsAndDamage) {
  std::vector<uint8_t> file = Header(2, 1);
  std::vector<uint8_t> palette(768, 0);
  palette[3] = 63;
  palette[4] = 32;
  palette[5] = 1;
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), {0, 1});
  const Picture p = Decode(file);
  EXPECT_EQ(p.At(0, 0), Rgb(0, 0, 0));
  EXPECT_EQ(p.At(1, 0), Rgb(255, 130, 4));

  const std::vector<testutil::ByteDamage> damages = {
      {"magic", 0, {0x91, 0x19}}, {"depth", 10, {4}},        {"compression", 11, {1}},
      {"no width", 2, {0, 0}},    {"huge", 2, {0xFF, 0xFF}},
  };
  testutil::ExpectDamageRefused(file, damages, DecodeAutodesk);
  // The header-less 320x200 dump is not accepted.
  const std::vector<uint8_t> bare(64000 + 768, 0);
  EXPECT_THROW(Decode(bare), PictureError);
}

}  // namespace
}  // namespace quenvale
