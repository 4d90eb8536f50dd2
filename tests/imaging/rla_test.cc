// Wavefront RLA files built here from the published layout and checked against the seed pixels.
// ImageMagick does not write RLA, and the installed version refuses every file built here as
// corrupt after reading its header, so it serves only to draw the seeds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReferenceDecode;
using testutil::SamePixels;
using testutil::TempDir;
using testutil::WriteSeedPicture;

Picture Decode(const std::vector<uint8_t>& b) {
  testutil::KeepFuzzSeed("rla", b);
  return DecodeRla(b.data(), b.size());
}

void Set16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

// Runs of two or more become repeat packets, everything else literal packets.
std::vector<uint8_t> EncodeChannel(const std::vector<uint8_t>& samples) {
  std::vector<uint8_t> out;
  size_t x = 0;
  while (x < samples.size()) {
    size_t run = 1;
    while (x + run < samples.size() && run < 128 && samples[x + run] == samples[x]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(run - 1));
      out.push_back(samples[x]);
      x += run;
      continue;
    }
    size_t lit = 1;
    while (x + lit < samples.size() && lit < 128 &&
           !(x + lit + 1 < samples.size() && samples[x + lit + 1] == samples[x + lit])) {
      ++lit;
    }
    out.push_back(static_cast<uint8_t>(-static_cast<int>(lit)));
    out.insert(out.end(), samples.begin() + x, samples.begin() + x + lit);
    x += lit;
  }
  return out;
}

struct RlaLayout {
  int channels = 3;  // 1 or 3
  bool matte = false;
  int left = 0;
  int bottom = 0;
  int aux = 0;  // extra channels after the matte, all zero
};

// `picture` top-down as an RLA file with its rows bottom-up.
std::vector<uint8_t> BuildRla(const Picture& picture, const RlaLayout& layout) {
  std::vector<uint8_t> file(740, 0);
  const int w = picture.width, h = picture.height;
  for (int at : {0, 8}) {
    Set16(file, at, static_cast<uint16_t>(layout.left));
    Set16(file, at + 2, static_cast<uint16_t>(layout.left + w - 1));
    Set16(file, at + 4, static_cast<uint16_t>(layout.bottom));
    Set16(file, at + 6, static_cast<uint16_t>(layout.bottom + h - 1));
  }
  Set16(file, 20, layout.channels);
  Set16(file, 22, layout.matte ? 1 : 0);
  Set16(file, 24, layout.aux);
  Set16(file, 26, 0xFFFE);
  const std::string chan = "rgb";
  std::copy(chan.begin(), chan.end(), file.begin() + 580);
  Set16(file, 658, 8);
  Set16(file, 664, 8);
  Set16(file, 668, 8);
  file.resize(740 + 4 * h);
  for (int row = 0; row < h; ++row) {
    const uint32_t offset = static_cast<uint32_t>(file.size());
    for (int i = 0; i < 4; ++i)
      file[740 + row * 4 + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
    const int y = h - 1 - row;
    std::vector<int> shifts =
        layout.channels == 3 ? std::vector<int>{16, 8, 0} : std::vector<int>{8};
    if (layout.matte) shifts.push_back(24);
    for (int s = 0; s < static_cast<int>(shifts.size()) + layout.aux; ++s) {
      std::vector<uint8_t> samples(w, 0);
      if (s < static_cast<int>(shifts.size())) {
        for (int x = 0; x < w; ++x)
          samples[x] = static_cast<uint8_t>(picture.At(x, y) >> shifts[s]);
      }
      const std::vector<uint8_t> packed = EncodeChannel(samples);
      file.push_back(static_cast<uint8_t>(packed.size() >> 8));
      file.push_back(static_cast<uint8_t>(packed.size()));
      file.insert(file.end(), packed.begin(), packed.end());
    }
  }
  return file;
}

struct RlaCase {
  const char* name;
  const char* seed_options;
  RlaLayout layout;
};

class RlaBuiltTest : public ::testing::TestWithParam<RlaCase> {};

TEST_P(RlaBuiltTest, MatchesSeedAndImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const RlaCase& c = GetParam();
  TempDir dir;
  WriteSeedPicture(dir.File("seed.png"), 150, 37, c.seed_options);
  const Picture seed = ReferenceDecode(dir.File("seed.png"));
  const std::vector<uint8_t> file = BuildRla(seed, c.layout);
  MemoryStream stream(file.data(), file.size());
  EXPECT_EQ(FileFormats().ClassForContent(stream), &kRlaGraphicClass);
  const Picture ours = Decode(file);
  EXPECT_EQ(ours.has_alpha, c.layout.matte);
  EXPECT_TRUE(SamePixels(ours, seed, 0, c.layout.matte));

  for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 10) {
    EXPECT_THROW(DecodeRla(file.data(), cut), PictureError) << "cut at " << cut;
  }
}

RlaLayout Layout(int channels, bool matte, int left = 0, int bottom = 0, int aux = 0) {
  RlaLayout l;
  l.channels = channels;
  l.matte = matte;
  l.left = left;
  l.bottom = bottom;
  l.aux = aux;
  return l;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, RlaBuiltTest,
    ::testing::Values(RlaCase{"Rgb", "-alpha off", Layout(3, false)},
                      RlaCase{"RgbMatte", "-alpha set -channel A -fx 'i/w' +channel",
                              Layout(3, true)},
                      RlaCase{"OffsetWindow", "-alpha off", Layout(3, false, 12, 30)},
                      RlaCase{"AuxiliaryChannels", "-alpha set -channel A -fx 'j/h' +channel",
                              Layout(3, true, 0, 0, 2)}),
    [](const ::testing::TestParamInfo<RlaCase>& info) { return std::string(info.param.name); });

TEST(RlaTest, GreyChannel) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  WriteSeedPicture(dir.File("seed.png"), 40, 20, "-alpha off -colorspace Gray");
  const Picture seed = ReferenceDecode(dir.File("seed.png"));
  EXPECT_TRUE(SamePixels(Decode(BuildRla(seed, Layout(1, false))), seed));
}

TEST(RlaTest, RejectsDamagedFiles) {
  Picture tiny;
  tiny.Allocate(3, 2);
  tiny.At(1, 0) = Rgb(1, 2, 3);
  const std::vector<uint8_t> good = BuildRla(tiny, Layout(3, false));
  ASSERT_EQ(Decode(good).At(1, 0), Rgb(1, 2, 3));
  const std::vector<testutil::ByteDamage> damages = {
      {"right before left", 10, {0xFF, 0xFF}},
      {"huge window", 10, {0x7F, 0xFF}},
      {"two colour channels", 20, {0, 2}},
      {"two mattes", 22, {0, 2}},
      {"negative aux", 24, {0x80, 0}},
      {"16-bit channels", 658, {0, 16}},
      {"offset past the end", 740, {0x7F, 0, 0, 0}},
      {"channel length past the end", 748, {0x7F, 0xFF}},
      {"run past the row", 750, {0x05}},
      {"literal past the row", 750, {0xF0}},
  };
  testutil::ExpectDamageRefused(good, damages, DecodeRla);
}

}  // namespace
}  // namespace quenvale
