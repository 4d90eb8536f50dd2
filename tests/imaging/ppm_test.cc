// Portable any-maps from ImageMagick and netpbm. Samples above 8 bits are compared with
// netpbm's own rounded reduction to 255 levels.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::ReferenceDecode;
using testutil::SamePixels;
using testutil::ShellQuote;
using testutil::TempDir;
using testutil::WriteSeedPicture;

Picture DecodePpmBytes(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("ppm", bytes);
  return DecodePpm(bytes.data(), bytes.size());
}
Picture DecodePpmText(const std::string& text) {
  return DecodePpm(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

struct PpmVariant {
  const char* name;
  const char* prefix;
  const char* options;
};

class PpmPeerTest : public ::testing::TestWithParam<PpmVariant> {};

TEST_P(PpmPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PpmVariant& v = GetParam();
  TempDir dir;
  const std::string path = dir.File("sample.pnm");
  WriteSeedPicture(std::string(v.prefix) + ":" + path, 43, 21, v.options);
  EXPECT_TRUE(SamePixels(DecodePpmBytes(ReadFileBytes(path)), ReferenceDecode(path)));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PpmPeerTest,
    ::testing::Values(PpmVariant{"RawColour", "PPM", "-depth 8"},
                      PpmVariant{"PlainColour", "PPM", "-depth 8 -compress none"},
                      PpmVariant{"RawGrey", "PGM", "-depth 8"},
                      PpmVariant{"PlainGrey", "PGM", "-depth 8 -compress none"},
                      PpmVariant{"RawBitmap", "PBM", ""},
                      PpmVariant{"PlainBitmap", "PBM", "-compress none"}),
    [](const ::testing::TestParamInfo<PpmVariant>& info) { return info.param.name; });

// Any maximum value: netpbm rescales the file to 255 levels, rounding, and we must agree
// with it exactly.
class PpmMaxvalTest : public ::testing::TestWithParam<int> {};

TEST_P(PpmMaxvalTest, MatchesNetpbmRescaling) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("pamdepth")) GTEST_SKIP() << "no netpbm";
  const int maxval = GetParam();
  TempDir dir;
  const std::string seed = dir.File("seed.ppm");
  WriteSeedPicture("PPM:" + seed, 40, 30, "-depth 16");
  for (const char* filter : {"", "| ppmtopgm", "| pnmtoplainpnm"}) {
    SCOPED_TRACE(filter);
    const std::string path = dir.File("sample.pnm");
    const std::string reference = dir.File("reference.pnm");
    ASSERT_TRUE(testutil::RunCommand("pamdepth " + std::to_string(maxval) + " " + ShellQuote(seed) +
                                     " " + filter + " > " + ShellQuote(path) + " 2>/dev/null"));
    ASSERT_TRUE(testutil::RunCommand("pamdepth 255 " + ShellQuote(path) + " > " +
                                     ShellQuote(reference) + " 2>/dev/null"));
    EXPECT_TRUE(SamePixels(DecodePpmBytes(ReadFileBytes(path)), ReferenceDecode(reference)));
  }
}

INSTANTIATE_TEST_SUITE_P(Maxvals, PpmMaxvalTest,
                         ::testing::Values(1, 3, 15, 100, 200, 254, 256, 1000, 1023, 4095, 40000,
                                           65534, 65535));

// 16-bit files from ImageMagick: the peer truncates 16 bits to 8 where we round.
TEST(PpmTest, SixteenBitFilesFromImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* prefix : {"PPM", "PGM"}) {
    const std::string path = dir.File("sample.pnm");
    WriteSeedPicture(std::string(prefix) + ":" + path, 33, 17, "-depth 16");
    EXPECT_TRUE(SamePixels(DecodePpmBytes(ReadFileBytes(path)), ReferenceDecode(path), 1));
  }
}

TEST(PpmTest, CommentsAndLayoutOfTheHeader) {
  // Comments between every field, and P1 rows without spaces.
  const Picture a = DecodePpmText("P2#c\n# x\n3#w\n 2 # h\n#m\n4\n0 1 2\n3 4 9\n");
  ASSERT_EQ(a.width, 3);
  ASSERT_EQ(a.height, 2);
  const Picture b = DecodePpmText(std::string("P5 3 2 4\n\x00\x01\x02\x03\x04\x09", 15));
  EXPECT_TRUE(SamePixels(a, b));
  EXPECT_EQ(b.At(2, 1), Rgb(255, 255, 255));  // above the maximum
  const Picture bits = DecodePpmText("P1\n# comment\n5 2\n10110\n0 1 0 0 1\n");
  const Picture packed = DecodePpmText(std::string("P4 5 2\n\xB0\x48", 10));
  EXPECT_TRUE(SamePixels(bits, packed));
  EXPECT_EQ(bits.At(0, 0), Rgb(0, 0, 0));
  EXPECT_EQ(bits.At(1, 0), Rgb(255, 255, 255));
}

TEST(PpmTest, DamagedFilesFailCleanly) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* format : {"PPM", "PGM", "PBM"}) {
    for (const char* options : {"", "-compress none"}) {
      SCOPED_TRACE(std::string(format) + " " + options);
      const std::string path = dir.File("sample.pnm");
      WriteSeedPicture(std::string(format) + ":" + path, 13, 7, options);
      const std::vector<uint8_t> bytes = ReadFileBytes(path);
      // Plain files end in white space that may go, and a cut inside their last number
      // leaves a shorter number.
      size_t needed = bytes.size();
      while (needed > 0 && std::isspace(bytes[needed - 1])) --needed;
      if (std::string(options) == "-compress none") {
        while (needed > 0 && std::isdigit(bytes[needed - 1])) --needed;
      }
      for (size_t cut = 0; cut < needed; ++cut) {
        EXPECT_THROW(DecodePpmBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut)),
                     PictureError)
            << "cut at " << cut;
      }
    }
  }
  for (const char* text : {"P6 16385 1 255\n", "P6 16000 16000 255\n", "P5 0 4 255\n", "P5 4 4 0\n",
                           "P5 4 4 65536\n", "P3 99999999999 1 255\n", "P5 2 2 255x1234",
                           "P7 1 1 255\n1", "P2 2 1 255\n1 x", "P1 2 1\n1 2", "Q6 1 1 255\n123"}) {
    EXPECT_THROW(DecodePpmText(text), PictureError) << text;
  }
}

}  // namespace
}  // namespace quenvale
