// PCX files from ImageMagick and netpbm, each decoded against its own writer's reader.
#include <gtest/gtest.h>

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

Picture DecodePcxBytes(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("pcx", bytes);
  return DecodePcx(bytes.data(), bytes.size());
}

struct PcxVariant {
  const char* name;
  const char* seed_options;  // for ImageMagick's seed picture
  const char* netpbm;        // when set, ppmtopcx writes the file from the seed with these
};

class PcxPeerTest : public ::testing::TestWithParam<PcxVariant> {};

TEST_P(PcxPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PcxVariant& v = GetParam();
  TempDir dir;
  const std::string path = dir.File("sample.pcx");
  if (v.netpbm == nullptr) {
    WriteSeedPicture("PCX:" + path, 45, 27, v.seed_options);
  } else {
    if (!testutil::HaveCommand("ppmtopcx")) GTEST_SKIP() << "no netpbm";
    const std::string ppm = dir.File("seed.ppm");
    WriteSeedPicture("PPM:" + ppm, 45, 27, v.seed_options);
    ASSERT_TRUE(testutil::RunCommand("ppmtopcx " + std::string(v.netpbm) + " " + ShellQuote(ppm) +
                                     " > " + ShellQuote(path) + " 2>/dev/null"));
  }
  // netpbm's files go back through netpbm: ImageMagick ignores the palette of 1-bit files.
  std::string reference_path = path;
  if (v.netpbm != nullptr) {
    reference_path = dir.File("reference.ppm");
    ASSERT_TRUE(testutil::RunCommand("pcxtoppm " + ShellQuote(path) + " > " +
                                     ShellQuote(reference_path) + " 2>/dev/null"));
  }
  EXPECT_TRUE(SamePixels(DecodePcxBytes(ReadFileBytes(path)), ReferenceDecode(reference_path)));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, PcxPeerTest,
    ::testing::Values(PcxVariant{"Palette256", "-alpha off -type Palette", nullptr},
                      PcxVariant{"TrueColour", "-alpha off", nullptr},
                      PcxVariant{"TrueColourAlpha", "-alpha set -channel A -fx 'i/w' +channel",
                                 nullptr},
                      PcxVariant{"Grey", "-alpha off -type Grayscale", nullptr},
                      PcxVariant{"Planes16", "-alpha off -colors 16", ""},
                      PcxVariant{"Packed16", "-alpha off -colors 16", "-packed"},
                      PcxVariant{"Planes8", "-alpha off -colors 8", ""},
                      PcxVariant{"Planes4", "-alpha off -colors 4", "-planes 2"},
                      PcxVariant{"Packed4", "-alpha off -colors 4", "-packed"},
                      PcxVariant{"Mono", "-alpha off -colors 2", ""},
                      PcxVariant{"Netpbm256", "-alpha off -colors 200", "-8bit"},
                      PcxVariant{"Netpbm24", "-alpha off", "-24bit"}),
    [](const ::testing::TestParamInfo<PcxVariant>& info) { return info.param.name; });

TEST(PcxTest, DamagedFilesFailCleanly) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const char* options : {"-alpha off", "-alpha off -type Palette"}) {
    SCOPED_TRACE(options);
    const std::string path = dir.File("sample.pcx");
    WriteSeedPicture("PCX:" + path, 23, 17, options);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      try {
        const Picture pic =
            DecodePcxBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        // Only the 256-colour table may go missing: the pixels are then grey levels.
        EXPECT_GE(cut, bytes.size() - 769) << "cut at " << cut << " decoded";
        EXPECT_EQ(pic.width, 23);
      } catch (const PictureError&) {
      }
    }
    std::vector<uint8_t> lying = bytes;
    lying[8] = lying[9] = lying[10] = lying[11] = 0xFF;  // 65536 x 65536
    EXPECT_THROW(DecodePcxBytes(lying), PictureError);
    lying = bytes;
    lying[8] = 0x80, lying[9] = 0x3E, lying[10] = 0x80, lying[11] = 0x3E;  // 16001 x 16001
    lying[66] = 0x80, lying[67] = 0x3E;
    EXPECT_THROW(DecodePcxBytes(lying), PictureError);
    lying = bytes;
    lying[66] = 1, lying[67] = 0;  // lines shorter than the picture
    EXPECT_THROW(DecodePcxBytes(lying), PictureError);
    lying = bytes;
    lying[65] = 2;  // two 8-bit planes
    EXPECT_THROW(DecodePcxBytes(lying), PictureError);
  }
  // Runs longer than the rest of the picture, and empty runs, stay inside it.
  std::vector<uint8_t> file(128, 0);
  file[0] = 0x0A, file[1] = 5, file[2] = 1, file[3] = 8;
  file[8] = 3, file[10] = 1;  // 4 x 2
  file[65] = 3, file[66] = 4;
  for (int i = 0; i < 10; ++i) file.insert(file.end(), {0xC0, 0x11, 0xFF, 0x22});
  const Picture pic = DecodePcxBytes(file);
  EXPECT_EQ(pic.width, 4);
  EXPECT_EQ(pic.At(3, 1), Rgb(0x22, 0x22, 0x22));
}

}  // namespace
}  // namespace quenvale
