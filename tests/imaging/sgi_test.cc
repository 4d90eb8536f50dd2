// SGI decoding against ImageMagick, plus run-length and grey+alpha files built here from its
// verbatim output, damaged files, and the regression inputs of this file's formats.
#include <gtest/gtest.h>

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
using testutil::WriteFileBytes;
using testutil::WriteSeedPicture;

Picture Decode(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("sgi", bytes);
  return DecodeSgi(bytes.data(), bytes.size());
}

uint32_t Get16(const std::vector<uint8_t>& b, size_t at) { return b[at] << 8 | b[at + 1]; }
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Re-encodes a verbatim SGI file with run-length rows (runs and literals alternate so that both
// packet kinds occur), keeping every other header field.
std::vector<uint8_t> ToRunLength(const std::vector<uint8_t>& verbatim) {
  const int bpc = verbatim[3];
  const size_t xsize = Get16(verbatim, 6), ysize = Get16(verbatim, 8), zsize = Get16(verbatim, 10);
  std::vector<uint8_t> out(verbatim.begin(), verbatim.begin() + 512);
  out[2] = 1;
  const size_t rows = ysize * zsize;
  out.resize(512 + rows * 8);
  auto emit = [&](uint32_t v) {
    if (bpc == 2) out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  };
  for (size_t r = 0; r < rows; ++r) {
    const size_t start = out.size();
    const uint8_t* row = verbatim.data() + 512 + r * xsize * bpc;
    auto sample = [&](size_t x) {
      return bpc == 1 ? row[x] : Get16(verbatim, 512 + (r * xsize + x) * 2);
    };
    size_t x = 0;
    while (x < xsize) {
      size_t run = 1;
      while (x + run < xsize && run < 127 && sample(x + run) == sample(x)) ++run;
      if (run >= 2) {
        emit(static_cast<uint32_t>(run));
        emit(sample(x));
      } else {
        size_t lit = 0;
        while (x + lit < xsize && lit < 127 &&
               !(x + lit + 1 < xsize && sample(x + lit + 1) == sample(x + lit))) {
          ++lit;
        }
        if (lit == 0) lit = 1;
        emit(static_cast<uint32_t>(0x80 | lit));
        for (size_t i = 0; i < lit; ++i) emit(sample(x + i));
        run = lit;
      }
      x += run;
    }
    emit(0);
    Put32(out, 512 + r * 4, static_cast<uint32_t>(start));
    Put32(out, 512 + rows * 4 + r * 4, static_cast<uint32_t>(out.size() - start));
  }
  return out;
}

struct SgiCase {
  const char* name;
  const char* options;
};

class SgiPeerTest : public ::testing::TestWithParam<SgiCase> {};

TEST_P(SgiPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  const std::string path = dir.File("seed.sgi");
  WriteSeedPicture(path, 45, 31, GetParam().options);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const Picture ours = Decode(bytes);
  const Picture reference = ReferenceDecode(path);
  EXPECT_TRUE(SamePixels(ours, reference));
  const bool alpha_in_file = Get16(bytes, 10) == 2 || Get16(bytes, 10) == 4;
  EXPECT_EQ(ours.has_alpha, alpha_in_file);

  // Every cut-short copy must be refused: rows are never padded from nothing.
  for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 16) {
    EXPECT_THROW(DecodeSgi(bytes.data(), cut), PictureError) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Variants, SgiPeerTest,
    ::testing::Values(SgiCase{"RgbRle", "-depth 8 -compress RLE"},
                      SgiCase{"RgbVerbatim", "-depth 8 -compress None"},
                      SgiCase{"RgbaRle",
                              "-depth 8 -alpha set -channel A -fx 'i/w' +channel"
                              " -compress RLE"},
                      SgiCase{"RgbaVerbatim",
                              "-depth 8 -alpha set -channel A -fx 'j/h' +channel"
                              " -compress None"},
                      SgiCase{"GreyRle", "-depth 8 -colorspace Gray -compress RLE"},
                      SgiCase{"GreyVerbatim", "-depth 8 -colorspace Gray -compress None"},
                      SgiCase{"Rgb16", "-depth 16 -compress None"},
                      SgiCase{"Rgba16", "-depth 16 -alpha set -channel A -fx 'i/w' +channel"},
                      SgiCase{"Grey16", "-depth 16 -colorspace Gray"}),
    [](const ::testing::TestParamInfo<SgiCase>& info) { return std::string(info.param.name); });

// ImageMagick writes 16-bit files verbatim only, so the 16-bit run-length path is checked on a
// re-encoding of its output, which ImageMagick must also read back to the same pixels.
TEST(SgiTest, RunLengthOfSixteenBitAndEightBitMatchesVerbatim) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  for (const char* options : {"-depth 16 -compress None", "-depth 8 -compress None"}) {
    TempDir dir;
    WriteSeedPicture(dir.File("v.sgi"), 40, 23, options);
    const std::vector<uint8_t> verbatim = ReadFileBytes(dir.File("v.sgi"));
    const std::vector<uint8_t> rle = ToRunLength(verbatim);
    WriteFileBytes(dir.File("r.sgi"), rle);
    const Picture reference = ReferenceDecode(dir.File("v.sgi"));
    EXPECT_TRUE(SamePixels(Decode(rle), reference)) << options;
    EXPECT_TRUE(SamePixels(ReferenceDecode(dir.File("r.sgi")), reference)) << options;
  }
}

// Grey plus alpha (two channels), which ImageMagick does not write: built from a grey+alpha
// verbatim file of four channels by keeping channels 0 and 3.
TEST(SgiTest, GreyWithAlpha) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  WriteSeedPicture(dir.File("ga.sgi"), 30, 20,
                   "-depth 8 -colorspace Gray -alpha set -channel A -fx 'i/w' +channel "
                   "-compress None");
  const std::vector<uint8_t> four = ReadFileBytes(dir.File("ga.sgi"));
  ASSERT_EQ(Get16(four, 10), 4u);
  const size_t plane = 30 * 20;
  std::vector<uint8_t> two(512 + 2 * plane);
  std::copy(four.begin(), four.begin() + 512 + plane, two.begin());
  std::copy(four.begin() + 512 + 3 * plane, four.begin() + 512 + 4 * plane,
            two.begin() + 512 + plane);
  Put16(two, 10, 2);
  const Picture ours = Decode(two);
  EXPECT_TRUE(ours.has_alpha);
  EXPECT_TRUE(SamePixels(ours, ReferenceDecode(dir.File("ga.sgi"))));
}

TEST(SgiTest, DimensionOneIsASingleRow) {
  std::vector<uint8_t> file(512, 0);
  Put16(file, 0, 474);
  file[3] = 1;
  Put16(file, 4, 1);
  Put16(file, 6, 3);
  Put16(file, 8, 99);  // ignored for a one-dimensional image
  file.insert(file.end(), {10, 20, 30});
  const Picture p = Decode(file);
  ASSERT_EQ(p.width, 3);
  ASSERT_EQ(p.height, 1);
  EXPECT_EQ(p.At(2, 0), Rgb(30, 30, 30));
}

std::vector<uint8_t> TinyRle() {
  // 2x1 grey, one run-length row holding a run of two 0x40 samples.
  std::vector<uint8_t> file(512, 0);
  Put16(file, 0, 474);
  file[2] = 1;
  file[3] = 1;
  Put16(file, 4, 3);
  Put16(file, 6, 2);
  Put16(file, 8, 1);
  Put16(file, 10, 1);
  file.resize(520);
  Put32(file, 512, 520);
  Put32(file, 516, 3);
  file.insert(file.end(), {0x02, 0x40, 0x00});
  return file;
}

TEST(SgiTest, RejectsDamagedFiles) {
  ASSERT_EQ(Decode(TinyRle()).At(1, 0), Rgb(0x40, 0x40, 0x40));
  const std::vector<testutil::ByteDamage> damages = {
      {"magic", 0, {0x01, 0xDB}},
      {"storage", 2, {2}},
      {"bytes per channel", 3, {3}},
      {"dimension", 4, {0, 4}},
      {"channels", 10, {0, 5}},
      {"width too big", 6, {0xFF, 0xFF}},
      {"no width", 6, {0, 0}},
      {"run longer than the row", 520, {0x03}},
      {"literal longer than the row", 520, {0x83}},
      {"row offset past the end", 512, {0, 0, 0x10, 0}},
      {"row length past the end", 516, {0x7F, 0xFF, 0xFF, 0xFF}},
      {"row too short", 520, {0x01}},
  };
  testutil::ExpectDamageRefused(TinyRle(), damages, DecodeSgi);
  // A huge verbatim header over a tiny file must fail before allocating.
  std::vector<uint8_t> huge = TinyRle();
  huge[2] = 0;
  Put16(huge, 6, 16000);
  Put16(huge, 8, 16000);
  EXPECT_THROW(Decode(huge), PictureError);
}

}  // namespace
}  // namespace quenvale
