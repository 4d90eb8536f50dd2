// DecodeJpeg against djpeg (same library, default settings) and ImageMagick, pixel for pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datafile/zip_test_util.h"
#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::RunCommand;
using testutil::ShellQuote;

#define REQUIRE_JPEG_TOOLS()                                                  \
  do {                                                                        \
    QUENVALE_REQUIRE_IMAGEMAGICK();                                           \
    if (!testutil::HaveCommand("cjpeg") || !testutil::HaveCommand("djpeg")) { \
      GTEST_SKIP() << "no cjpeg/djpeg";                                       \
    }                                                                         \
  } while (0)

Picture Decode(const std::vector<uint8_t>& bytes) {
  testutil::KeepFuzzSeed("jpeg", bytes);
  return DecodeJpeg(bytes.data(), bytes.size());
}

// Reads the binary PPM or PGM that djpeg writes.
Picture ReadPnm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  Picture picture;
  char magic[3] = {};
  unsigned w = 0, h = 0, max = 0;
  int header = 0;
  const std::string text(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 64));
  if (std::sscanf(text.c_str(), "%2s %u %u %u%n", magic, &w, &h, &max, &header) != 4 ||
      max != 255) {
    ADD_FAILURE() << "not an 8-bit PNM: " << path;
    return picture;
  }
  const bool colour = std::strcmp(magic, "P6") == 0;
  const size_t start = static_cast<size_t>(header) + 1;
  if (bytes.size() < start + static_cast<size_t>(w) * h * (colour ? 3 : 1)) {
    ADD_FAILURE() << "short PNM: " << path;
    return picture;
  }
  picture.Allocate(w, h);
  const uint8_t* p = bytes.data() + start;
  for (auto& pixel : picture.pixels) {
    pixel = colour ? Rgb(p[0], p[1], p[2]) : Rgb(p[0], p[0], p[0]);
    p += colour ? 3 : 1;
  }
  return picture;
}

Picture Djpeg(const std::string& jpeg, const std::string& out) {
  EXPECT_TRUE(RunCommand("djpeg -pnm -outfile " + ShellQuote(out) + " " + ShellQuote(jpeg)));
  return ReadPnm(out);
}

struct CjpegCase {
  const char* name;
  const char* options;
};

class JpegCjpegTest : public ::testing::TestWithParam<CjpegCase> {};

TEST_P(JpegCjpegTest, MatchesDjpegExactly) {
  REQUIRE_JPEG_TOOLS();
  testutil::TempDir dir;
  // Odd sizes leave partial MCUs at the right and bottom edges.
  testutil::WriteSeedPicture(dir.File("seed.ppm"), 101, 67, "-depth 8");
  const std::string jpeg = dir.File("test.jpg");
  ASSERT_TRUE(RunCommand(std::string("cjpeg ") + GetParam().options + " -outfile " +
                         ShellQuote(jpeg) + " " + ShellQuote(dir.File("seed.ppm"))));
  const Picture ours = Decode(ReadFileBytes(jpeg));
  EXPECT_FALSE(ours.has_alpha);
  EXPECT_TRUE(testutil::SamePixels(ours, Djpeg(jpeg, dir.File("ref.pnm"))));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, JpegCjpegTest,
    ::testing::Values(
        CjpegCase{"Baseline", "-quality 90"}, CjpegCase{"Progressive", "-progressive"},
        CjpegCase{"Grayscale", "-grayscale"},
        CjpegCase{"GrayscaleProgressive", "-grayscale -progressive"},
        CjpegCase{"Optimized", "-optimize -quality 40"}, CjpegCase{"RestartEveryRow", "-restart 1"},
        CjpegCase{"RestartEveryBlock", "-restart 1B"}, CjpegCase{"Sampling1x1", "-sample 1x1"},
        CjpegCase{"Sampling2x2", "-sample 2x2"}, CjpegCase{"Sampling2x1", "-sample 2x1"},
        CjpegCase{"RgbColourSpace", "-rgb"}, CjpegCase{"Arithmetic", "-arithmetic"}),
    [](const ::testing::TestParamInfo<CjpegCase>& info) { return info.param.name; });

// ImageMagick writes CMYK JPEGs with the Adobe marker and inverted inks. Its own decode and
// djpeg's PPM output of the same file agree exactly, and so must ours.
TEST(JpegTest, AdobeCmykMatchesImageMagickAndDjpeg) {
  REQUIRE_JPEG_TOOLS();
  testutil::TempDir dir;
  const std::string jpeg = dir.File("cmyk.jpg");
  testutil::WriteSeedPicture(jpeg, 90, 70, "-colorspace CMYK -quality 92");
  std::string info;
  ASSERT_TRUE(RunCommand("identify -format %[colorspace] " + ShellQuote(jpeg), &info));
  ASSERT_EQ(info, "CMYK");
  const Picture ours = Decode(ReadFileBytes(jpeg));
  EXPECT_TRUE(testutil::SamePixels(ours, testutil::ReferenceDecode(jpeg)));
  EXPECT_TRUE(testutil::SamePixels(ours, Djpeg(jpeg, dir.File("ref.ppm"))));
}

// The last scan of a progressive file repeated: libjpeg only warns about the bogus progression,
// so without a limit every copy would be decoded.
std::vector<uint8_t> RepeatLastScan(const std::vector<uint8_t>& jpeg, int copies) {
  size_t last_sos = 0;
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) last_sos = i;
  }
  const size_t end = jpeg.size() - 2;  // the EOI marker
  if (last_sos == 0 || jpeg[end] != 0xFF || jpeg[end + 1] != 0xD9) return {};
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + end);
  for (int i = 0; i < copies; ++i)
    out.insert(out.end(), jpeg.begin() + last_sos, jpeg.begin() + end);
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

TEST(JpegTest, ScanCountIsLimited) {
  REQUIRE_JPEG_TOOLS();
  testutil::TempDir dir;
  testutil::WriteSeedPicture(dir.File("seed.ppm"), 24, 16, "-depth 8");
  const std::string jpeg = dir.File("p.jpg");
  ASSERT_TRUE(RunCommand("cjpeg -progressive -outfile " + ShellQuote(jpeg) + " " +
                         ShellQuote(dir.File("seed.ppm"))));
  const std::vector<uint8_t> bytes = ReadFileBytes(jpeg);

  // Some dozens of scans: unusual but fine, and the same as djpeg makes of it.
  const std::vector<uint8_t> many = RepeatLastScan(bytes, 40);
  ASSERT_FALSE(many.empty());
  testutil::WriteFileBytes(dir.File("many.jpg"), many);
  RunCommand("djpeg -pnm -outfile " + ShellQuote(dir.File("many.ppm")) + " " +
             ShellQuote(dir.File("many.jpg")));  // exits 2 for the warnings
  EXPECT_TRUE(testutil::SamePixels(Decode(many), ReadPnm(dir.File("many.ppm"))));

  try {
    Decode(RepeatLastScan(bytes, 1100));
    ADD_FAILURE() << "a file of 1100 scans decoded";
  } catch (const PictureError& e) {
    EXPECT_EQ(std::string(e.what()), "JPEG: more than 1000 scans");
  }
}

TEST(JpegTest, DamagedFilesFailCleanly) {
  REQUIRE_JPEG_TOOLS();
  testutil::TempDir dir;
  testutil::WriteSeedPicture(dir.File("seed.ppm"), 40, 30, "-depth 8");
  for (const char* options : {"-quality 80", "-progressive"}) {
    SCOPED_TRACE(options);
    const std::string jpeg = dir.File("t.jpg");
    ASSERT_TRUE(RunCommand(std::string("cjpeg ") + options + " -outfile " + ShellQuote(jpeg) + " " +
                           ShellQuote(dir.File("seed.ppm"))));
    const std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
    // Cut anywhere: either libjpeg's error, or (once the header is whole) a full-size picture
    // with the missing part filled in, as libjpeg only warns about a short scan.
    for (size_t cut = 0; cut < bytes.size(); cut += 7) {
      try {
        const Picture p = DecodeJpeg(bytes.data(), cut);
        EXPECT_EQ(p.width, 40);
        EXPECT_EQ(p.height, 30);
      } catch (const PictureError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("JPEG: ", 0), 0u) << e.what();
      }
    }
  }
}

TEST(JpegTest, NotAJpeg) {
  const std::vector<uint8_t> text = testutil::Bytes("GIF89a this is not a JPEG file at all");
  EXPECT_THROW(Decode(text), PictureError);
  EXPECT_THROW(DecodeJpeg(text.data(), 0), PictureError);
}

// A header claiming 60000 x 60000 must be refused before anything of that size is allocated.
TEST(JpegTest, HugeDimensionsRefusedAfterHeader) {
  REQUIRE_JPEG_TOOLS();
  testutil::TempDir dir;
  testutil::WriteSeedPicture(dir.File("seed.ppm"), 16, 16, "-depth 8");
  const std::string jpeg = dir.File("t.jpg");
  ASSERT_TRUE(
      RunCommand("cjpeg -outfile " + ShellQuote(jpeg) + " " + ShellQuote(dir.File("seed.ppm"))));
  std::vector<uint8_t> bytes = ReadFileBytes(jpeg);
  bool patched = false;
  for (size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
      bytes[i + 5] = bytes[i + 7] = 0xEA;
      bytes[i + 6] = bytes[i + 8] = 0x60;
      patched = true;
      break;
    }
  }
  ASSERT_TRUE(patched);
  try {
    Decode(bytes);
    ADD_FAILURE() << "60000 x 60000 accepted";
  } catch (const PictureError& e) {
    EXPECT_NE(std::string(e.what()).find("16384"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quenvale
