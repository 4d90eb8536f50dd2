// Photoshop merged-image decoding against ImageMagick, a bitmap-mode document built here, and
// damaged documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

Picture Decode(const std::vector<uint8_t>& b) {
  testutil::KeepFuzzSeed("psd", b);
  return DecodePsd(b.data(), b.size());
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}

// ImageMagick cannot read back its own indexed documents, and on reading a transparent document
// it un-mattes the merged colours from white (and loses grey+alpha transparency) although its
// writer stored them plainly. For those the reference is the 8-bit PNG the document was
// converted from, which holds exactly the written pixels.
struct PsdCase {
  const char* name;
  const char* seed_options;   // drawing the seed, into an 8- or 16-bit PNG
  const char* write_options;  // converting that PNG to the document
  bool alpha;
  bool png_reference;
  const char* prefix = "";  // "PSB:" for the large-document variant
};

// Alpha everywhere, colour where opaque.
::testing::AssertionResult SameOpaquePixelsAndAlpha(const Picture& ours, const Picture& ref) {
  if (ours.width != ref.width || ours.height != ref.height) {
    return ::testing::AssertionFailure() << "size differs";
  }
  for (size_t i = 0; i < ours.pixels.size(); ++i) {
    const uint32_t a = ours.pixels[i], b = ref.pixels[i];
    if ((a >> 24) != (b >> 24) || ((a >> 24) == 0xFF && a != b)) {
      return ::testing::AssertionFailure()
             << "pixel " << i << " ours " << std::hex << a << " reference " << b;
    }
  }
  return ::testing::AssertionSuccess();
}

class PsdPeerTest : public ::testing::TestWithParam<PsdCase> {};

TEST_P(PsdPeerTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PsdCase& c = GetParam();
  TempDir dir;
  const std::string png = dir.File("seed.png");
  const std::string file = dir.File("seed.psd");
  WriteSeedPicture(png, 43, 29, c.seed_options);
  ASSERT_TRUE(
      testutil::RunCommand("convert " + png + " " + c.write_options + " " + c.prefix + file));
  const std::vector<uint8_t> bytes = ReadFileBytes(file);
  const Picture ours = Decode(bytes);
  EXPECT_EQ(ours.has_alpha, c.alpha);
  if (c.png_reference) {
    EXPECT_TRUE(SamePixels(ours, ReferenceDecode(png)));
    // Transparency as ImageMagick reads it, where it keeps it.
    if (c.alpha && std::string(c.name).find("Grey") == std::string::npos) {
      EXPECT_TRUE(SameOpaquePixelsAndAlpha(ours, ReferenceDecode(file)));
    }
  } else {
    EXPECT_TRUE(SamePixels(ours, ReferenceDecode(file)));
  }

  // The merged image closes the file, so any shorter copy lacks part of it.
  for (size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 12) {
    EXPECT_THROW(DecodePsd(bytes.data(), cut), PictureError) << "cut at " << cut;
  }
}

#define QV_ALPHA " -alpha set -channel A -fx 'i/w' +channel"

INSTANTIATE_TEST_SUITE_P(
    Variants, PsdPeerTest,
    ::testing::Values(
        PsdCase{"RgbRle", "-alpha off -depth 8", "-compress RLE", false, false},
        PsdCase{"RgbRaw", "-alpha off -depth 8", "-compress None", false, false},
        PsdCase{"OpaqueAlpha", "-alpha set -depth 8", "", true, false},
        PsdCase{"RgbaRle", "-depth 8" QV_ALPHA, "-compress RLE", true, true},
        PsdCase{"RgbaRaw", "-depth 8" QV_ALPHA, "-compress None", true, true},
        PsdCase{"GreyRle", "-alpha off -depth 8 -colorspace Gray", "-compress RLE", false, false},
        PsdCase{"GreyRaw", "-alpha off -depth 8 -colorspace Gray", "-compress None", false, false},
        PsdCase{"GreyAlpha", "-depth 8 -colorspace Gray" QV_ALPHA, "", true, true},
        PsdCase{"Palette", "-alpha off -depth 8 -type Palette", "-type Palette", false, true},
        PsdCase{"PaletteRaw", "-alpha off -depth 8 -type Palette", "-type Palette -compress None",
                false, true},
        PsdCase{"Cmyk", "-alpha off -depth 8", "-colorspace CMYK", false, false},
        PsdCase{"CmykRaw", "-alpha off -depth 8", "-colorspace CMYK -compress None", false, false},
        PsdCase{"CmykAlpha", "-depth 8" QV_ALPHA, "-colorspace CMYK", true, false},
        PsdCase{"Rgb16", "-alpha off -depth 16", "-depth 16", false, false},
        PsdCase{"Rgba16Raw", "-depth 16" QV_ALPHA, "-depth 16 -compress None", true, true},
        PsdCase{"Grey16", "-alpha off -depth 16 -colorspace Gray", "-depth 16", false, false},
        PsdCase{"LargeDocument", "-alpha off -depth 8", "", false, false, "PSB:"},
        PsdCase{"LargeDocumentAlpha", "-depth 8" QV_ALPHA, "-compress RLE", true, true, "PSB:"}),
    [](const ::testing::TestParamInfo<PsdCase>& info) { return std::string(info.param.name); });

#undef QV_ALPHA

// Bitmap mode (one bit, set bits black), which ImageMagick does not write, built from a PBM of
// the seed and checked against ImageMagick's reading of both.
TEST(PsdTest, BitmapMode) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  WriteSeedPicture(dir.File("seed.pbm"), 37, 13, "-compress None");
  std::string pbm;
  ASSERT_TRUE(testutil::RunCommand("convert " + dir.File("seed.pbm") + " pbm:-", &pbm));
  const size_t row_bytes = (37 + 7) / 8;
  const std::string bits = pbm.substr(pbm.size() - row_bytes * 13);
  std::vector<uint8_t> psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
  Put32(psd, 13);
  Put32(psd, 37);
  Put16(psd, 1);
  Put16(psd, 0);
  Put32(psd, 0);
  Put32(psd, 0);
  Put32(psd, 0);
  Put16(psd, 0);
  psd.insert(psd.end(), bits.begin(), bits.end());
  WriteFileBytes(dir.File("bits.psd"), psd);
  const Picture reference = ReferenceDecode(dir.File("seed.pbm"));
  EXPECT_TRUE(SamePixels(Decode(psd), reference));
  EXPECT_TRUE(SamePixels(ReferenceDecode(dir.File("bits.psd")), reference));
}

// The merged image as Photoshop and GIMP store it for a document with transparency: colours
// blended onto white. Decoding must give the source's colours back, up to what the blend's
// rounding leaves recoverable (half a step of 255 / alpha), and its alpha exactly.
TEST(PsdTest, MergedImageBlendedOntoWhiteComesBackUnblended) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  TempDir dir;
  for (const bool grey : {false, true}) {
    SCOPED_TRACE(grey ? "grey" : "RGB");
    const std::string png = dir.File("seed.png");
    WriteSeedPicture(png, 41, 23,
                     std::string("-depth 8") + (grey ? " -colorspace Gray" : "") +
                         " -alpha set -channel A -fx 'i/w' +channel");
    const Picture source = ReferenceDecode(png);
    const uint32_t colours = grey ? 1 : 3;
    std::vector<uint8_t> psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    Put16(psd, colours + 1);
    Put32(psd, 23);
    Put32(psd, 41);
    Put16(psd, 8);
    Put16(psd, grey ? 1 : 3);
    Put32(psd, 0);
    Put32(psd, 0);
    Put32(psd, 0);
    Put16(psd, 0);
    for (uint32_t c = 0; c <= colours; ++c) {
      for (uint32_t p : source.pixels) {
        const uint32_t a = p >> 24;
        const uint32_t v = c == colours ? a : (p >> (c == 0 ? 16 : c == 1 ? 8 : 0)) & 0xFF;
        psd.push_back(
            static_cast<uint8_t>(c == colours ? a : (v * a + 255 * (255 - a) + 127) / 255));
      }
    }
    const Picture ours = Decode(psd);
    ASSERT_EQ(ours.width, source.width);
    ASSERT_EQ(ours.height, source.height);
    int worst = 0;
    for (size_t i = 0; i < ours.pixels.size(); ++i) {
      const uint32_t a = source.pixels[i] >> 24;
      ASSERT_EQ(ours.pixels[i] >> 24, a) << "pixel " << i;
      if (a == 0) continue;
      for (int shift : {0, 8, 16}) {
        const int d = std::abs(static_cast<int>((ours.pixels[i] >> shift) & 0xFF) -
                               static_cast<int>((source.pixels[i] >> shift) & 0xFF));
        ASSERT_LE(d, static_cast<int>(128 / a) + 1) << "pixel " << i << " alpha " << a;
        if (a >= 128) worst = std::max(worst, d);
      }
    }
    EXPECT_LE(worst, 1);
  }
}

// A 3x1 RGB document with run-length rows: red run, green literal, blue run.
std::vector<uint8_t> TinyRle() {
  std::vector<uint8_t> psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
  Put32(psd, 1);
  Put32(psd, 3);
  Put16(psd, 8);
  Put16(psd, 3);
  Put32(psd, 0);
  Put32(psd, 0);
  Put32(psd, 0);
  Put16(psd, 1);
  Put16(psd, 2);
  Put16(psd, 4);
  Put16(psd, 2);
  psd.insert(psd.end(), {0xFE, 0x11, 0x02, 0x21, 0x22, 0x23, 0xFE, 0x31});
  return psd;
}

TEST(PsdTest, RejectsDamagedDocuments) {
  const Picture tiny = Decode(TinyRle());
  ASSERT_EQ(tiny.At(1, 0), Rgb(0x11, 0x22, 0x31));
  const std::vector<testutil::ByteDamage> damages = {
      {"signature", 0, {'8', 'B', 'P', 'T'}},
      {"version", 4, {0, 3}},
      {"no channels", 12, {0, 0}},
      {"57 channels", 12, {0, 57}},
      {"too few channels for RGB", 12, {0, 2}},
      {"depth", 22, {0, 32}},
      {"Lab mode", 24, {0, 9}},
      {"huge width", 18, {0, 0x10, 0, 0}},
      {"mode data longer than the file", 26, {0x7F, 0, 0, 0}},
      {"resources longer than the file", 30, {0, 0, 1, 0}},
      {"layers longer than the file", 34, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"zip compression", 38, {0, 2}},
      {"row count past the end", 40, {0x10, 0}},
      {"run overflowing the row", 46, {0xFD}},
      {"literal overflowing the row", 48, {0x03}},
      {"row count shorter than its packets", 42, {0, 3}},
  };
  testutil::ExpectDamageRefused(TinyRle(), damages, DecodePsd);
  // 8192 x 8192 claimed by two bytes a row is refused before the planes are allocated.
  std::vector<uint8_t> huge = TinyRle();
  huge.resize(14);
  Put32(huge, 8192);
  Put32(huge, 8192);
  Put16(huge, 8);
  Put16(huge, 3);
  Put32(huge, 0);
  Put32(huge, 0);
  Put32(huge, 0);
  Put16(huge, 1);
  for (int i = 0; i < 3 * 8192; ++i) Put16(huge, 2);
  for (int i = 0; i < 3 * 8192; ++i) huge.insert(huge.end(), {0x81, 0});
  EXPECT_THROW(Decode(huge), PictureError);
}

}  // namespace
}  // namespace quenvale
