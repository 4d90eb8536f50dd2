// DecodeTiff and DecodeEps against ImageMagick, netpbm and libtiff-tools as peers, plus
// hand-made damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "datafile/zip_test_util.h"
#include "imaging/decoders.h"
#include "imaging/format_registry.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReadFileBytes;
using testutil::RunCommand;
using testutil::ShellQuote;

Picture DecodeTiffBytes(const std::vector<uint8_t>& b) {
  testutil::KeepFuzzSeed("tiff", b);
  return DecodeTiff(b.data(), b.size());
}

std::string ErrorOf(const std::vector<uint8_t>& bytes) {
  try {
    DecodeTiffBytes(bytes);
  } catch (const PictureError& e) {
    return e.what();
  }
  return "(decoded)";
}

struct TiffCase {
  const char* name;
  const char* options;  // ImageMagick options when writing the seed as TIFF
  int tolerance;
};

class TiffImageMagickTest : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffImageMagickTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  testutil::TempDir dir;
  const std::string tiff = dir.File("test.tif");
  // 16-bit RGBA seed; odd size so that tiles and bit-packed rows end part way.
  testutil::WriteSeedPicture(tiff, 97, 61, GetParam().options);
  const Picture ours = DecodeTiffBytes(ReadFileBytes(tiff));
  const Picture reference = testutil::ReferenceDecode(tiff);
  EXPECT_TRUE(testutil::SamePixels(ours, reference, GetParam().tolerance));
}

// 16-bit samples go to 8 bits truncating (v / 257), alpha rounding up, as "-depth 8" does.
// The one tolerance: 16-bit CMYK, where the reference's own conversion rounds differently from
// converting through 8-bit inks (off by one in some pixels).
INSTANTIATE_TEST_SUITE_P(
    Variants, TiffImageMagickTest,
    ::testing::Values(
        TiffCase{"Uncompressed16BitRgba", "-compress None", 0},
        TiffCase{"Rgb8", "-depth 8 -alpha off -compress None", 0},
        TiffCase{"Lzw", "-depth 8 -compress LZW", 0}, TiffCase{"Zip", "-depth 8 -compress Zip", 0},
        TiffCase{"PackBits", "-depth 8 -alpha off -compress RLE", 0},
        TiffCase{"LzwPredictor", "-depth 8 -compress LZW -define tiff:predictor=2", 0},
        TiffCase{"ZipPredictor16", "-compress Zip -define tiff:predictor=2", 0},
        TiffCase{"LzwPredictor16BigEndian",
                 "-compress LZW -define tiff:predictor=2 -define tiff:endian=msb", 0},
        TiffCase{"BigEndian8", "-depth 8 -define tiff:endian=msb", 0},
        TiffCase{"LittleEndian16", "-define tiff:endian=lsb", 0},
        TiffCase{"Tiles", "-depth 8 -compress LZW -define tiff:tile-geometry=64x64", 0},
        TiffCase{"SmallTilesZip", "-compress Zip -define tiff:tile-geometry=16x32", 0},
        TiffCase{"RowsPerStrip7", "-depth 8 -compress LZW -define tiff:rows-per-strip=7", 0},
        TiffCase{"Palette", "-type Palette -compress LZW", 0},
        TiffCase{"Palette16Colours", "-type Palette -colors 16", 0},
        TiffCase{"Grayscale8", "-type Grayscale -depth 8", 0},
        TiffCase{"Grayscale16", "-type Grayscale -depth 16 -compress Zip", 0},
        TiffCase{"Grayscale4", "-type Grayscale -depth 4", 0},
        TiffCase{"Grayscale2", "-type Grayscale -depth 2", 0},
        TiffCase{"GrayscaleAlpha", "-type GrayscaleAlpha -channel A -fx i/w +channel", 0},
        TiffCase{"Bilevel", "-type Bilevel", 0},
        TiffCase{"BilevelPackBits", "-type Bilevel -compress RLE", 0},
        TiffCase{"BilevelLsbFillOrder", "-type Bilevel -define tiff:fill-order=lsb", 0},
        TiffCase{"BilevelMinIsWhite", "-type Bilevel -define quantum:polarity=min-is-white", 0},
        TiffCase{"TrueColorAlpha8",
                 "-depth 8 -type TrueColorAlpha -channel A -fx i/w +channel -compress LZW", 0},
        TiffCase{"TrueColorAlpha16", "-type TrueColorAlpha -channel A -fx j/h +channel", 0},
        TiffCase{"Cmyk8", "-colorspace CMYK -depth 8 -alpha off", 0},
        TiffCase{"Cmyk8Alpha", "-colorspace CMYK -depth 8 -compress LZW", 0},
        TiffCase{"Cmyk16", "-colorspace CMYK -alpha off", 1},
        TiffCase{"Planar8", "-depth 8 -interlace Plane -alpha off", 0},
        TiffCase{"PlanarAlphaLzw", "-interlace Plane -compress LZW -channel A -fx j/h +channel", 0},
        TiffCase{"PlanarPredictorTiles",
                 "-depth 8 -interlace Plane -compress Zip -define tiff:predictor=2 "
                 "-define tiff:tile-geometry=32x16",
                 0}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return info.param.name; });

// Variants other writers produce: netpbm's pnmtotiff and libtiff's tiffcp re-encoding.
struct ToolCase {
  const char* name;
  const char* command;  // %in and %out replaced; the input is an 8-bit TIFF or PPM
  bool from_ppm;
};

class TiffToolTest : public ::testing::TestWithParam<ToolCase> {};

std::string Substitute(std::string s, const std::string& in, const std::string& out) {
  s.replace(s.find("%in"), 3, ShellQuote(in));
  s.replace(s.find("%out"), 4, ShellQuote(out));
  return s;
}

TEST_P(TiffToolTest, MatchesImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const std::string tool =
      std::string(GetParam().command).substr(0, std::string(GetParam().command).find(' '));
  if (!testutil::HaveCommand(tool)) GTEST_SKIP() << "no " << tool;
  testutil::TempDir dir;
  const std::string in = dir.File(GetParam().from_ppm ? "seed.ppm" : "seed.tif");
  testutil::WriteSeedPicture(in, 83, 45, "-depth 8 -alpha off");
  const std::string out = dir.File("out.tif");
  ASSERT_TRUE(RunCommand(Substitute(GetParam().command, in, out)));
  EXPECT_TRUE(
      testutil::SamePixels(DecodeTiffBytes(ReadFileBytes(out)), testutil::ReferenceDecode(out)));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, TiffToolTest,
    ::testing::Values(
        ToolCase{"PnmToTiff", "pnmtotiff %in > %out", true},
        ToolCase{"PnmToTiffLzw", "pnmtotiff -lzw -predictor 2 %in > %out", true},
        ToolCase{"PnmToTiffPackBits", "pnmtotiff -packbits -msb2lsb %in > %out", true},
        ToolCase{"PnmToTiffGrey", "ppmtopgm %in | pnmtotiff -flate > %out", true},
        ToolCase{"PnmToTiffBilevel", "ppmtopgm %in | pgmtopbm | pnmtotiff -lsb2msb > %out", true},
        ToolCase{"TiffcpLzwPredictor", "tiffcp -c lzw:2 %in %out", false},
        ToolCase{"TiffcpZip", "tiffcp -c zip %in %out", false},
        ToolCase{"TiffcpTiles", "tiffcp -t -w 32 -l 16 -c packbits %in %out", false},
        ToolCase{"TiffcpPlanar", "tiffcp -p separate -c lzw %in %out", false},
        ToolCase{"TiffcpOneStrip", "tiffcp -s -r 1000 -c zip:2 %in %out", false},
        ToolCase{"TiffcpBigEndian", "tiffcp -B -c lzw:2 %in %out", false}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return info.param.name; });

// Premultiplied alpha, made by relabelling an ImageMagick file's extra sample as associated.
TEST(TiffTest, AssociatedAlphaIsUnpremultipliedLikeImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("tiffset")) GTEST_SKIP() << "no tiffset";
  testutil::TempDir dir;
  for (const char* depth : {"-depth 8", "-depth 16"}) {
    SCOPED_TRACE(depth);
    const std::string tiff = dir.File("assoc.tif");
    testutil::WriteSeedPicture(tiff, 64, 40,
                               std::string(depth) + " -channel A -fx i/w +channel -compress None");
    ASSERT_TRUE(RunCommand("tiffset -s 338 1 1 " + ShellQuote(tiff)));
    const Picture ours = DecodeTiffBytes(ReadFileBytes(tiff));
    EXPECT_TRUE(ours.has_alpha);
    EXPECT_TRUE(testutil::SamePixels(ours, testutil::ReferenceDecode(tiff)));
  }
}

// A fourth sample without an ExtraSamples tag, as pamtotiff writes RGB_ALPHA: alpha, as
// ImageMagick (and Pillow and netpbm's tifftopnm) read it.
TEST(TiffTest, UndescribedFourthSampleIsAlpha) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("pamtotiff")) GTEST_SKIP() << "no pamtotiff";
  testutil::TempDir dir;
  const std::string png = dir.File("seed.png"), tiff = dir.File("rgba.tif");
  testutil::WriteSeedPicture(png, 57, 33);
  ASSERT_TRUE(RunCommand("pngtopam -alphapam " + ShellQuote(png) + " | pamtotiff -truecolor > " +
                         ShellQuote(tiff) + " 2>/dev/null"));
  const Picture ours = DecodeTiffBytes(ReadFileBytes(tiff));
  EXPECT_TRUE(ours.has_alpha);
  EXPECT_TRUE(testutil::SamePixels(ours, testutil::ReferenceDecode(tiff)));
}

// ---- Hand-made files ----

// A little-endian TIFF with one strip of `pixels` and whatever tags the case needs.
struct TiffBuilder {
  struct Field {
    uint16_t tag, type;
    std::vector<uint32_t> values;
  };
  std::vector<Field> fields;
  std::vector<uint8_t> strip;
  uint32_t next_ifd = 0;

  void Set(uint16_t tag, uint16_t type, std::vector<uint32_t> values) {
    fields.push_back({tag, type, std::move(values)});
  }

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> out = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put16 = [&](std::vector<uint8_t>& v, uint32_t x) {
      v.push_back(static_cast<uint8_t>(x));
      v.push_back(static_cast<uint8_t>(x >> 8));
    };
    auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
      put16(v, x & 0xFFFF);
      put16(v, x >> 16);
    };
    const uint32_t strip_offset = 8;
    out.insert(out.end(), strip.begin(), strip.end());
    if (out.size() % 2) out.push_back(0);
    std::vector<Field> all = fields;
    bool has_offsets = false;
    for (auto& f : all) has_offsets |= f.tag == 273;
    if (!has_offsets) all.push_back({273, 4, {strip_offset}});
    std::vector<uint8_t> extra;  // values too big for the entry
    const uint32_t ifd_offset = static_cast<uint32_t>(out.size());
    const uint32_t extra_offset = ifd_offset + 2 + 12 * static_cast<uint32_t>(all.size()) + 4;
    std::vector<uint8_t> ifd;
    put16(ifd, static_cast<uint32_t>(all.size()));
    for (const auto& f : all) {
      put16(ifd, f.tag);
      put16(ifd, f.type);
      put32(ifd, static_cast<uint32_t>(f.values.size()));
      std::vector<uint8_t> value;
      for (uint32_t v : f.values) {
        if (f.type == 3)
          put16(value, v);
        else
          put32(value, v);
      }
      if (value.size() <= 4) {
        value.resize(4);
        ifd.insert(ifd.end(), value.begin(), value.end());
      } else {
        put32(ifd, extra_offset + static_cast<uint32_t>(extra.size()));
        extra.insert(extra.end(), value.begin(), value.end());
      }
    }
    put32(ifd, next_ifd);
    out[4] = static_cast<uint8_t>(ifd_offset);
    out[5] = static_cast<uint8_t>(ifd_offset >> 8);
    out[6] = static_cast<uint8_t>(ifd_offset >> 16);
    out.insert(out.end(), ifd.begin(), ifd.end());
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
  }
};

// A 4 x 2 8-bit grey image; `compression` and `data` describe its single strip.
TiffBuilder GreyStrip(uint32_t compression, std::vector<uint8_t> data) {
  TiffBuilder b;
  b.Set(256, 3, {4});
  b.Set(257, 3, {2});
  b.Set(258, 3, {8});
  b.Set(259, 3, {compression});
  b.Set(262, 3, {1});
  b.Set(279, 4, {static_cast<uint32_t>(data.size())});
  b.strip = std::move(data);
  return b;
}

// MSB-first codes of the given widths.
std::vector<uint8_t> PackCodes(const std::vector<std::pair<int, int>>& codes) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    acc = acc << width | static_cast<uint32_t>(code);
    bits += width;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(acc >> (bits - 8)));
      bits -= 8;
    }
  }
  if (bits) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
  return out;
}

TEST(TiffTest, HandMadeGreyStripDecodes) {
  const Picture p = DecodeTiffBytes(GreyStrip(1, {0, 50, 100, 150, 200, 250, 255, 1}).Build());
  ASSERT_EQ(p.width, 4);
  ASSERT_EQ(p.height, 2);
  EXPECT_EQ(p.At(1, 0), Rgb(50, 50, 50));
  EXPECT_EQ(p.At(3, 1), Rgb(1, 1, 1));
}

TEST(TiffTest, LzwHandMadeCodes) {
  // Clear, 10, 20, then 258 (10 20) and 260, the very code being defined (10 20 10).
  const auto data = PackCodes({{256, 9}, {10, 9}, {20, 9}, {258, 9}, {260, 9}, {257, 9}});
  // Seven bytes for a strip of eight: the last reads as zero.
  const Picture p = DecodeTiffBytes(GreyStrip(5, data).Build());
  const uint8_t expected[8] = {10, 20, 10, 20, 10, 20, 10, 0};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(p.At(i % 4, i / 4) & 0xFF, expected[i]) << i;
  }
}

TEST(TiffTest, MalformedHandMadeFiles) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;  // part of the expected error
  };
  std::vector<Case> cases;
  cases.push_back({"LzwCodeBeyondTable",
                   GreyStrip(5, PackCodes({{256, 9}, {10, 9}, {300, 9}})).Build(), "LZW"});
  cases.push_back({"LzwOldStyle", GreyStrip(5, {0x00, 0x01, 0x02, 0x03}).Build(), "old-style"});
  cases.push_back({"FaxOfGrey", GreyStrip(3, {1, 2, 3}).Build(), "1-bit"});
  for (const uint32_t tag : {292u, 293u}) {
    TiffBuilder b = GreyStrip(tag == 292 ? 3 : 4, {0x80});
    b.fields[2].values = {1};
    b.Set(static_cast<uint16_t>(tag), 4, {2});
    cases.push_back({"FaxUncompressedMode", b.Build(), "uncompressed mode"});
  }
  cases.push_back({"JpegGarbage", GreyStrip(7, {1, 2, 3}).Build(), "JPEG data"});
  {
    TiffBuilder b = GreyStrip(1, {1, 2, 3, 4});
    b.Set(273, 4, {1u << 30});
    cases.push_back({"StripOutsideFile", b.Build(), "outside"});
  }
  {
    TiffBuilder b = GreyStrip(1, {1});
    b.fields[0].values = {60000};
    cases.push_back({"HugeWidth", b.Build(), "16384"});
  }
  {
    TiffBuilder b = GreyStrip(1, {1});
    b.fields[0].values = {16384};
    b.fields[1].values = {16384};
    cases.push_back({"TooManyPixels", b.Build(), "512 MiB"});
  }
  {
    TiffBuilder b = GreyStrip(8, {1, 2});
    b.Set(322, 3, {0});
    b.Set(323, 3, {16});
    cases.push_back({"ZeroTileWidth", b.Build(), "tile"});
  }
  {
    // A JPEG tile of 65536 x 65536 over a tiny image: no 4 GiB buffer for it.
    TiffBuilder b = GreyStrip(7, {1, 2});
    b.Set(322, 4, {65536});
    b.Set(323, 4, {65536});
    b.Set(324, 4, {8});
    b.Set(325, 4, {2});
    cases.push_back({"HugeJpegTile", b.Build(), "too large"});
  }
  {
    TiffBuilder b = GreyStrip(1, {1, 2});
    b.fields[2].values = {12};
    cases.push_back({"TwelveBits", b.Build(), "12-bit"});
  }
  {
    TiffBuilder b = GreyStrip(1, {1, 2});
    b.Set(278, 3, {1});  // two strips needed, one offset given
    cases.push_back({"MissingOffsets", b.Build(), "offsets"});
  }
  {
    TiffBuilder b = GreyStrip(1, {1, 2});
    b.fields[4].values = {3};  // palette without a colour map
    cases.push_back({"PaletteWithoutMap", b.Build(), "colour map"});
  }
  {
    std::vector<uint8_t> big = GreyStrip(1, {1}).Build();
    big[2] = 43;
    cases.push_back({"BigTiff", big, "BigTIFF"});
  }
  {
    // An entry count running past the end of the file.
    std::vector<uint8_t> bytes = GreyStrip(1, {1, 2, 3, 4, 5, 6, 7, 8}).Build();
    const size_t ifd = bytes[4] | bytes[5] << 8;
    bytes[ifd] = 0xFF;
    bytes[ifd + 1] = 0xFF;
    cases.push_back({"EntryCountPastEnd", bytes, "truncated"});
  }
  {
    TiffBuilder b = GreyStrip(1, {1});
    b.Set(320, 3, std::vector<uint32_t>(10));
    std::vector<uint8_t> bytes = b.Build();
    // Make the colour map's count claim four billion values.
    for (size_t i = 8; i + 12 < bytes.size(); i += 2) {
      if (bytes[i] == 0x40 && bytes[i + 1] == 0x01 && bytes[i + 2] == 3) {
        bytes[i + 4] = bytes[i + 5] = bytes[i + 6] = bytes[i + 7] = 0xFF;
        break;
      }
    }
    cases.push_back({"TagCountBeyondFile", bytes, "outside the file"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string error = ErrorOf(c.bytes);
    EXPECT_EQ(error.rfind("TIFF: ", 0) == 0 || error.find("picture") != std::string::npos, true)
        << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

// Damage that leaves a decodable file: short data, a full LZW table without a clear code, and
// a directory chain pointing back at itself (only the first image is read).
TEST(TiffTest, TolerableDamageStillDecodes) {
  {
    TiffBuilder b = GreyStrip(1, {9, 9, 9});
    const Picture p = DecodeTiffBytes(b.Build());
    EXPECT_EQ(p.At(2, 0), Rgb(9, 9, 9));
    EXPECT_EQ(p.At(3, 1), Rgb(0, 0, 0));  // missing data reads as zero
  }
  {
    std::vector<std::pair<int, int>> codes = {{256, 9}};
    int next = 258, width = 9;
    for (int i = 0; i < 5000; ++i) {
      codes.push_back({i % 200, width});
      if (i > 0 && next < 4096) ++next;  // the first code after a clear defines nothing
      if (next + 1 >= (1 << width) && width < 12) ++width;
    }
    TiffBuilder b = GreyStrip(5, PackCodes(codes));
    b.fields[0].values = {100};
    b.fields[1].values = {50};
    const Picture p = DecodeTiffBytes(b.Build());
    EXPECT_EQ(p.At(5, 0), Rgb(5, 5, 5));
  }
  {
    TiffBuilder b = GreyStrip(1, {1, 2, 3, 4, 5, 6, 7, 8});
    std::vector<uint8_t> bytes = b.Build();
    const uint32_t ifd = bytes[4] | bytes[5] << 8;
    bytes[bytes.size() - 4] = static_cast<uint8_t>(ifd);  // next IFD: itself
    const Picture p = DecodeTiffBytes(bytes);
    EXPECT_EQ(p.At(3, 1), Rgb(8, 8, 8));
  }
}

TEST(TiffTest, TruncatedAtEveryOffsetFailsCleanly) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  testutil::TempDir dir;
  for (const char* options :
       {"-depth 8 -compress LZW", "-compress Zip -define tiff:tile-geometry=16x16",
        "-type Palette -compress RLE", "-type Bilevel"}) {
    SCOPED_TRACE(options);
    const std::string tiff = dir.File("t.tif");
    testutil::WriteSeedPicture(tiff, 33, 21, options);
    const std::vector<uint8_t> bytes = ReadFileBytes(tiff);
    for (size_t cut = 0; cut < bytes.size(); cut += 3) {
      try {
        const Picture p = DecodeTiff(bytes.data(), cut);
        EXPECT_EQ(p.width, 33);
      } catch (const PictureError& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
      }
    }
  }
}

// ---- CCITT fax ----

// Writers of fax-coded files; %in is a 1-bit, uncompressed, min-is-black TIFF.
struct FaxCase {
  const char* name;
  int width, height;
  const char* seed;  // ImageMagick options making the colour seed bilevel
  const char* command;
};

constexpr char kDither[] = "-monochrome";
// Long runs of both colours, full rows included, for the make-up codes up to 2560.
constexpr char kWideRuns[] =
    "-threshold 50% -fill black -draw 'rectangle 0,2 2899,3' -fill white "
    "-draw 'rectangle 0,4 2899,5' -fill black -draw 'rectangle 7,6 2000,6' -alpha off -type "
    "Bilevel";

#define QUENVALE_PILLOW(compression)                         \
  "/usr/bin/python3 -c 'import sys; from PIL import Image; " \
  "Image.open(sys.argv[1]).save(sys.argv[2], compression=\"" compression "\")' %in %out"

class TiffFaxTest : public ::testing::TestWithParam<FaxCase> {};

// Pixel for pixel against ImageMagick's reading and against libtiff's, the file decompressed by
// tiffcp; read through the registry under the fax extension.
TEST_P(TiffFaxTest, MatchesImageMagickAndLibtiff) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("tiffcp")) GTEST_SKIP() << "no tiffcp";
  const FaxCase& c = GetParam();
  testutil::TempDir dir;
  const std::string seed = dir.File("seed.tif"), fax = dir.File("fax.tif");
  testutil::WriteSeedPicture(seed, c.width, c.height,
                             std::string(c.seed) + " -depth 1 -compress None");
  ASSERT_TRUE(RunCommand(Substitute(c.command, seed, fax)));
  std::string info;
  ASSERT_TRUE(RunCommand("tiffinfo " + ShellQuote(fax), &info));
  ASSERT_NE(info.find("CCITT"), std::string::npos) << info;

  const std::vector<uint8_t> bytes = ReadFileBytes(fax);
  testutil::KeepFuzzSeed("tiff", bytes);
  Picture ours;
  LoadedPictureInfo loaded;
  ASSERT_TRUE(DecodePicture(bytes.data(), bytes.size(), "page.fax", &ours, &loaded));
  EXPECT_EQ(loaded.graphic_class, &kTiffGraphicClass);
  EXPECT_TRUE(testutil::SamePixels(ours, testutil::ReferenceDecode(fax)));
  const std::string plain = dir.File("plain.tif");
  ASSERT_TRUE(RunCommand("tiffcp -c none " + ShellQuote(fax) + " " + ShellQuote(plain)));
  EXPECT_TRUE(testutil::SamePixels(ours, DecodeTiffBytes(ReadFileBytes(plain))));
}

INSTANTIATE_TEST_SUITE_P(
    Writers, TiffFaxTest,
    ::testing::Values(
        FaxCase{"TiffcpG3", 97, 61, kDither, "tiffcp -c g3 %in %out"},
        FaxCase{"TiffcpG3Fill", 97, 61, kDither, "tiffcp -c g3:1d:fill %in %out"},
        FaxCase{"TiffcpG3TwoDStrips", 97, 61, kDither, "tiffcp -c g3:2d -r 7 %in %out"},
        FaxCase{"TiffcpG3TwoDFillLsb", 97, 61, kDither, "tiffcp -c g3:2d:fill -f lsb2msb %in %out"},
        FaxCase{"TiffcpG4", 97, 61, kDither, "tiffcp -c g4 %in %out"},
        FaxCase{"TiffcpG4TilesLsb", 97, 61, kDither,
                "tiffcp -t -w 32 -l 16 -f lsb2msb -c g4 %in %out"},
        FaxCase{"TiffcpG3TwoDTiles", 97, 61, kDither, "tiffcp -t -w 48 -l 32 -c g3:2d %in %out"},
        FaxCase{"TiffcpG3WideRuns", 2900, 40, kWideRuns, "tiffcp -c g3 %in %out"},
        FaxCase{"TiffcpG3TwoDWideRuns", 2900, 40, kWideRuns, "tiffcp -c g3:2d:fill %in %out"},
        FaxCase{"TiffcpG4WideRuns", 2900, 40, kWideRuns, "tiffcp -c g4 %in %out"},
        FaxCase{"PillowGroup3", 97, 61, kDither, QUENVALE_PILLOW("group3")},
        FaxCase{"PillowGroup4", 97, 61, kDither, QUENVALE_PILLOW("group4")},
        FaxCase{"PillowModifiedHuffman", 97, 61, kDither, QUENVALE_PILLOW("tiff_ccitt")},
        FaxCase{"PillowModifiedHuffmanWide", 2900, 40, kWideRuns, QUENVALE_PILLOW("tiff_ccitt")},
        FaxCase{"ImageMagickFax", 97, 61, kDither, "convert %in -compress Fax %out"},
        FaxCase{"ImageMagickGroup4", 97, 61, kDither, "convert %in -compress Group4 %out"}),
    [](const ::testing::TestParamInfo<FaxCase>& info) { return info.param.name; });

// The one strip of a little-endian single-strip TIFF, as offset and size.
std::pair<size_t, size_t> OnlyStrip(const std::vector<uint8_t>& bytes) {
  const size_t ifd = Le32(bytes.data() + 4);
  size_t offset = 0, count = 0;
  for (size_t i = 0, n = Le16(bytes.data() + ifd); i < n; ++i) {
    const uint8_t* e = bytes.data() + ifd + 2 + 12 * i;
    const uint32_t value = Le16(e + 2) == 3 ? Le16(e + 8) : Le32(e + 8);
    if (Le16(e) == 273) offset = value;
    if (Le16(e) == 279) count = value;
  }
  return {offset, count};
}

bool SameRows(const Picture& a, const Picture& b, int from, int to) {
  const size_t w = static_cast<size_t>(a.width);
  return std::equal(a.pixels.begin() + from * w, a.pixels.begin() + to * w,
                    b.pixels.begin() + from * w);
}

// A strip cut short (its end zeroed, which no mode reads as a code) keeps a run of intact rows
// and leaves the rest as all-zero rows, and cutting later never keeps fewer rows. Bad codes
// written over a T.4 strip cost only the rows up to the next EOL.
TEST(TiffFaxTest, DamagedStripsKeepWhatPrecedesTheDamage) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("tiffcp")) GTEST_SKIP() << "no tiffcp";
  testutil::TempDir dir;
  const std::string seed = dir.File("seed.tif"), fax = dir.File("fax.tif");
  testutil::WriteSeedPicture(seed, 97, 61, "-monochrome -depth 1 -compress None");
  for (const char* compression : {"g3", "g3:2d:fill", "g4"}) {
    SCOPED_TRACE(compression);
    ASSERT_TRUE(RunCommand("tiffcp -L -c " + std::string(compression) + " " + ShellQuote(seed) +
                           " " + ShellQuote(fax)));
    const std::vector<uint8_t> good = ReadFileBytes(fax);
    const auto [offset, count] = OnlyStrip(good);
    ASSERT_GT(count, 100u);
    ASSERT_LE(offset + count, good.size());
    const Picture whole = DecodeTiffBytes(good);
    auto cut_at = [&](size_t cut) {
      std::vector<uint8_t> bytes = good;
      std::fill(bytes.begin() + offset + cut, bytes.begin() + offset + count, 0);
      return DecodeTiffBytes(bytes);
    };
    const Picture blank = cut_at(0);
    int kept_before = 0;
    for (size_t cut = 0; cut <= count; cut += 7) {
      const Picture p = cut_at(cut);
      ASSERT_EQ(p.pixels.size(), whole.pixels.size());
      int kept = 0;
      while (kept < p.height && SameRows(p, whole, kept, kept + 1)) ++kept;
      EXPECT_TRUE(SameRows(p, blank, std::min(kept + 1, p.height), p.height)) << "cut " << cut;
      EXPECT_GE(kept, kept_before) << "cut " << cut;
      if (cut >= count / 2) {
        EXPECT_GE(kept, p.height / 8) << "cut " << cut;
      }
      kept_before = kept;
    }
    if (std::string(compression) == "g3") {
      std::vector<uint8_t> bytes = good;
      std::fill(bytes.begin() + offset + count / 3, bytes.begin() + offset + count / 3 + 6, 0xFF);
      const Picture p = DecodeTiffBytes(bytes);
      // Rows the damage swallowed whole shift the rest up.
      const int y = p.height * 2 / 3;
      int shift = 0;
      while (shift <= 2 &&
             !std::equal(p.pixels.begin() + y * p.width, p.pixels.end() - shift * p.width,
                         whole.pixels.begin() + (y + shift) * p.width)) {
        ++shift;
      }
      EXPECT_LE(shift, 2);
      EXPECT_FALSE(testutil::SamePixels(p, whole));
    }
  }
}

// Arbitrary bytes in every mode: each decode ends, with a picture or a PictureError.
TEST(TiffFaxTest, ArbitraryDataEndsCleanly) {
  uint32_t state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u; };
  for (const uint32_t compression : {2u, 3u, 4u}) {
    for (const uint32_t options : {0u, 1u, 4u, 5u}) {
      for (const size_t size : {0, 1, 3, 40, 2000}) {
        std::vector<uint8_t> data(size);
        for (uint8_t& b : data) b = static_cast<uint8_t>(next() >> 24);
        if (size == 3) data = {0xFF, 0xFF, 0xFF};
        if (compression != 3 && options != 0) continue;  // only T4Options has bits to vary
        TiffBuilder b = GreyStrip(compression, data);
        b.fields[0].values = {1728};
        b.fields[1].values = {300};
        b.fields[2].values = {1};
        b.Set(compression == 4 ? 293 : 292, 4, {options});
        SCOPED_TRACE(std::to_string(compression) + "/" + std::to_string(options) + "/" +
                     std::to_string(size));
        try {
          const Picture p = DecodeTiffBytes(b.Build());
          EXPECT_EQ(p.width, 1728);
          EXPECT_EQ(p.height, 300);
        } catch (const PictureError& e) {
          EXPECT_NE(std::string(e.what()).find("TIFF"), std::string::npos);
        }
      }
    }
  }
}

// ---- JPEG ----

// Peak signal-to-noise ratio over the channels at `shifts` (colour unless told), in dB;
// infinity for identical pictures.
double Psnr(const Picture& a, const Picture& b, std::initializer_list<int> shifts = {0, 8, 16}) {
  if (a.width != b.width || a.height != b.height || a.pixels.empty()) return 0;
  double squares = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    for (int shift : shifts) {
      const double d = static_cast<double>((a.pixels[i] >> shift) & 0xFF) -
                       static_cast<double>((b.pixels[i] >> shift) & 0xFF);
      squares += d * d;
    }
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  const double mse = squares / (static_cast<double>(shifts.size()) * a.pixels.size());
  return 10 * std::log10(255.0 * 255.0 / mse);
}

struct JpegWriterCase {
  const char* name;
  const char* seed_options;  // how ImageMagick writes the uncompressed seed
  const char* command;       // %in and %out replaced
};

class TiffJpegWriterTest : public ::testing::TestWithParam<JpegWriterCase> {};

// ImageMagick reads these through libtiff and the same libjpeg, so ours should be its picture
// but for rounding (with this system's libjpeg they are identical): 40 dB leaves room for
// another libjpeg's IDCT or upsampling, while a wrong colour conversion gives about 9 dB. The seed
// is a second check that does not trust the peer; quality 75 leaves these files at 34 to 52 dB from
// it, so 30 dB.
TEST_P(TiffJpegWriterTest, MatchesImageMagickAndTheSource) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const std::string command = GetParam().command;
  if (command.rfind("tiffcp", 0) == 0 && !testutil::HaveCommand("tiffcp")) {
    GTEST_SKIP() << "no tiffcp";
  }
  if (command.rfind("/usr/bin/python3", 0) == 0 &&
      !RunCommand("/usr/bin/python3 -c 'import PIL.Image' 2>/dev/null")) {
    GTEST_SKIP() << "no Pillow";
  }
  testutil::TempDir dir;
  const std::string seed = dir.File("seed.tif");
  // 97 x 61: the last strip is short and the tiles at the right and bottom are part empty.
  testutil::WriteSeedPicture(seed, 97, 61, GetParam().seed_options);
  const std::string out = dir.File("out.tif");
  ASSERT_TRUE(RunCommand(Substitute(command, seed, out)));
  const Picture ours = DecodeTiffBytes(ReadFileBytes(out));
  const Picture reference = testutil::ReferenceDecode(out);
  const Picture source = testutil::ReferenceDecode(seed);
  ASSERT_EQ(ours.width, 97);
  ASSERT_EQ(ours.height, 61);
  EXPECT_FALSE(ours.has_alpha);
  EXPECT_GT(Psnr(ours, reference), 40) << "against ImageMagick";
  EXPECT_GT(Psnr(ours, source), 30) << "against the seed";
}

constexpr const char* kRgb8 = "-depth 8 -alpha off";
constexpr const char* kPillowJpeg =
    "/usr/bin/python3 -c 'import sys; from PIL import Image; "
    "Image.open(sys.argv[1]).save(sys.argv[2], compression=\"jpeg\")' %in %out";
constexpr const char* kPillowTiffJpegQuality =
    "/usr/bin/python3 -c 'import sys; from PIL import Image; "
    "Image.open(sys.argv[1]).save(sys.argv[2], compression=\"tiff_jpeg\", quality=95)' %in %out";

INSTANTIATE_TEST_SUITE_P(
    Variants, TiffJpegWriterTest,
    ::testing::Values(
        // tiffcp writes RGB input as YCbCr subsampled 2 x 2 unless told ":r".
        JpegWriterCase{"TiffcpYCbCrStrips", kRgb8, "tiffcp -r 16 -c jpeg %in %out"},
        JpegWriterCase{"TiffcpYCbCrTiles", kRgb8, "tiffcp -t -w 32 -l 16 -c jpeg %in %out"},
        JpegWriterCase{"TiffcpRgb", kRgb8, "tiffcp -r 16 -c jpeg:r %in %out"},
        JpegWriterCase{"TiffcpRgbTiles", kRgb8, "tiffcp -t -w 48 -l 32 -c jpeg:r:95 %in %out"},
        JpegWriterCase{"TiffcpRgbPlanar", kRgb8, "tiffcp -p separate -r 16 -c jpeg:r %in %out"},
        JpegWriterCase{"TiffcpBigEndian", kRgb8, "tiffcp -B -r 32 -c jpeg %in %out"},
        JpegWriterCase{"TiffcpGrey", "-depth 8 -type Grayscale", "tiffcp -r 8 -c jpeg %in %out"},
        JpegWriterCase{"TiffcpCmyk", "-colorspace CMYK -depth 8 -alpha off",
                       "tiffcp -r 16 -c jpeg %in %out"},
        JpegWriterCase{"PillowJpeg", kRgb8, kPillowJpeg},
        JpegWriterCase{"PillowTiffJpegQuality95", kRgb8, kPillowTiffJpegQuality}),
    [](const ::testing::TestParamInfo<JpegWriterCase>& info) { return info.param.name; });

// RGB with alpha in four-component JPEG, checked against the seed alone: ImageMagick's reading
// of this file is wrong (red and blue about 9 dB off, red holding the alpha).
TEST(TiffJpegTest, RgbWithAlphaMatchesTheSeed) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("tiffcp")) GTEST_SKIP() << "no tiffcp";
  testutil::TempDir dir;
  const std::string seed = dir.File("seed.tif");
  testutil::WriteSeedPicture(seed, 50, 40, "-depth 8 -channel A -fx i/w +channel");
  const std::string out = dir.File("out.tif");
  ASSERT_TRUE(RunCommand("tiffcp -r 16 -c jpeg:r:90 " + ShellQuote(seed) + " " + ShellQuote(out) +
                         " 2>/dev/null"));
  const Picture ours = DecodeTiffBytes(ReadFileBytes(out));
  const Picture source = testutil::ReferenceDecode(seed);
  EXPECT_TRUE(ours.has_alpha);
  EXPECT_GT(Psnr(ours, source), 30);
  EXPECT_GT(Psnr(ours, source, {24}), 30) << "alpha";
}

// The offset of the directory entry for `tag` in a little-endian TIFF, or 0.
size_t FindEntry(const std::vector<uint8_t>& tiff, uint16_t tag) {
  if (tiff.size() < 8 || tiff[0] != 'I') return 0;
  const size_t ifd = tiff[4] | tiff[5] << 8 | tiff[6] << 16 | static_cast<size_t>(tiff[7]) << 24;
  if (ifd + 2 > tiff.size()) return 0;
  const size_t count = tiff[ifd] | tiff[ifd + 1] << 8;
  for (size_t i = 0; i < count && ifd + 2 + 12 * i + 12 <= tiff.size(); ++i) {
    const size_t at = ifd + 2 + 12 * i;
    if ((tiff[at] | tiff[at + 1] << 8) == tag) return at;
  }
  return 0;
}

uint32_t EntryValue(const std::vector<uint8_t>& tiff, size_t entry) {
  return Le32(tiff.data() + entry + 8);
}

// A tiffcp YCbCr file, 40 x 40 in strips of 16 rows, for damaging.
std::vector<uint8_t> TiffcpJpegFile(testutil::TempDir& dir, const std::string& options) {
  const std::string seed = dir.File("seed.tif");
  testutil::WriteSeedPicture(seed, 40, 40, kRgb8);
  const std::string out = dir.File("jpeg.tif");
  EXPECT_TRUE(RunCommand("tiffcp " + options + " " + ShellQuote(seed) + " " + ShellQuote(out)));
  return ReadFileBytes(out);
}

TEST(TiffJpegTest, DamagedFilesAreRefused) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("tiffcp")) GTEST_SKIP() << "no tiffcp";
  testutil::TempDir dir;
  const std::vector<uint8_t> good = TiffcpJpegFile(dir, "-r 16 -c jpeg");
  const size_t tables = FindEntry(good, 347);
  const size_t offsets = FindEntry(good, 273);
  const size_t width = FindEntry(good, 256);
  const size_t compression = FindEntry(good, 259);
  ASSERT_TRUE(tables && offsets && width && compression);
  ASSERT_EQ(DecodeTiffBytes(good).width, 40);

  struct Case {
    const char* name;
    void (*damage)(std::vector<uint8_t>& bytes, size_t entry);
    size_t entry;
    const char* message;
  };
  const Case cases[] = {
      // Tag 347 renamed: the abbreviated strips then lack their quantisation tables.
      {"MissingTables",
       [](std::vector<uint8_t>& b, size_t e) {
         b[e] = 0xFF;
         b[e + 1] = 0xFE;
       },
       tables, "JPEG data"},
      // The tables' first bytes overwritten: not a tables-only stream any more.
      {"GarbageTables",
       [](std::vector<uint8_t>& b, size_t e) {
         const uint32_t at = EntryValue(b, e);
         for (uint32_t i = 0; i < 8; ++i) b[at + i] = 0x5A;
       },
       tables, "JPEG data"},
      // The first strip's stream replaced by bytes that are no JPEG at all.
      {"GarbageStrip",
       [](std::vector<uint8_t>& b, size_t e) {
         const uint32_t strips = EntryValue(b, e);  // offset of the offsets array (3 strips)
         const uint32_t at = Le32(b.data() + strips);
         for (uint32_t i = 0; i < 16; ++i) b[at + i] = static_cast<uint8_t>(i * 37);
       },
       offsets, "JPEG data"},
      // The image narrower than its streams: they would overrun the strip buffer.
      {"StreamWiderThanStrip", [](std::vector<uint8_t>& b, size_t e) { b[e + 8] = 24; }, width,
       "for a 24 x 16 strip"},
      // YCbCr without JPEG: LZW instead.
      {"YCbCrWithoutJpeg", [](std::vector<uint8_t>& b, size_t e) { b[e + 8] = 5; }, compression,
       "YCbCr is only supported with JPEG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = good;
    c.damage(bytes, c.entry);
    const std::string error = ErrorOf(bytes);
    EXPECT_EQ(error.rfind("TIFF: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

// Cut anywhere, strips or tiles: an error, or (libjpeg only warns about a stream that stops
// short) a whole-size picture.
TEST(TiffJpegTest, TruncatedAtEveryOffsetFailsCleanly) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("tiffcp")) GTEST_SKIP() << "no tiffcp";
  testutil::TempDir dir;
  for (const char* options : {"-r 16 -c jpeg", "-t -w 16 -l 16 -c jpeg:r"}) {
    SCOPED_TRACE(options);
    const std::vector<uint8_t> bytes = TiffcpJpegFile(dir, options);
    ASSERT_FALSE(bytes.empty());
    for (size_t cut = 0; cut < bytes.size(); cut += 5) {
      try {
        const Picture p = DecodeTiff(bytes.data(), cut);
        EXPECT_EQ(p.width, 40);
        EXPECT_EQ(p.height, 40);
      } catch (const PictureError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("TIFF: ", 0), 0u) << e.what();
      }
    }
  }
}

// Old-style JPEG as most writers of it made it: the directory points at one JFIF stream for
// the whole picture, which decodes as that JFIF file does on its own.
TEST(TiffJpegTest, OldStyleInterchangeStream) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("cjpeg")) GTEST_SKIP() << "no cjpeg";
  testutil::TempDir dir;
  testutil::WriteSeedPicture(dir.File("seed.ppm"), 45, 30, "-depth 8");
  const std::string jfif = dir.File("seed.jpg");
  ASSERT_TRUE(RunCommand("cjpeg -quality 85 -outfile " + ShellQuote(jfif) + " " +
                         ShellQuote(dir.File("seed.ppm"))));
  const std::vector<uint8_t> stream = ReadFileBytes(jfif);
  const Picture expected = DecodeJpeg(stream.data(), stream.size());

  auto old_style = [&](uint32_t width, bool with_stream, uint32_t offset_shift) {
    TiffBuilder b;
    b.Set(256, 3, {width});
    b.Set(257, 3, {30});
    b.Set(258, 3, {8, 8, 8});
    b.Set(259, 3, {6});
    b.Set(262, 3, {6});
    b.Set(277, 3, {3});
    if (with_stream) {
      b.Set(513, 4, {8 + offset_shift});  // the builder puts its "strip" right after the header
      b.Set(514, 4, {static_cast<uint32_t>(stream.size())});
    }
    b.strip = stream;
    return b.Build();
  };
  const std::vector<uint8_t> tiff = old_style(45, true, 0);
  EXPECT_TRUE(testutil::SamePixels(DecodeTiffBytes(tiff), expected));
  EXPECT_EQ(ErrorOf(old_style(45, false, 0)),
            "TIFF: old-style JPEG without an interchange stream is not supported");
  EXPECT_NE(ErrorOf(old_style(44, true, 0)).find("45 x 30 for a 44 x 30"), std::string::npos);
  EXPECT_NE(ErrorOf(old_style(45, true, 1u << 30)).find("outside the file"), std::string::npos);
  EXPECT_NE(ErrorOf(old_style(45, true, 3)).find("TIFF: old-style JPEG: "), std::string::npos);
}

// Compression 7 without JPEGTables: each strip a complete stream, here the whole of a cjpeg
// file as the one strip, which must decode as DecodeJpeg decodes the file.
TEST(TiffJpegTest, CompleteStreamsNeedNoTables) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  if (!testutil::HaveCommand("cjpeg")) GTEST_SKIP() << "no cjpeg";
  testutil::TempDir dir;
  testutil::WriteSeedPicture(dir.File("seed.ppm"), 37, 29, "-depth 8");
  struct Case {
    const char* cjpeg_options;
    uint32_t photometric, samples;
  };
  for (const Case& c :
       {Case{"-sample 2x2", 6, 3}, Case{"-sample 2x1", 6, 3}, Case{"-grayscale", 1, 1}}) {
    SCOPED_TRACE(c.cjpeg_options);
    const std::string jfif = dir.File("seed.jpg");
    ASSERT_TRUE(RunCommand(std::string("cjpeg ") + c.cjpeg_options + " -outfile " +
                           ShellQuote(jfif) + " " + ShellQuote(dir.File("seed.ppm"))));
    const std::vector<uint8_t> stream = ReadFileBytes(jfif);
    TiffBuilder b;
    b.Set(256, 3, {37});
    b.Set(257, 3, {29});
    b.Set(258, 3, std::vector<uint32_t>(c.samples, 8));
    b.Set(259, 3, {7});
    b.Set(262, 3, {c.photometric});
    b.Set(277, 3, {c.samples});
    b.Set(279, 4, {static_cast<uint32_t>(stream.size())});
    b.strip = stream;
    EXPECT_TRUE(
        testutil::SamePixels(DecodeTiffBytes(b.Build()), DecodeJpeg(stream.data(), stream.size())));
  }
}

// ---- EPS ----

std::vector<uint8_t> MakeEps(const std::vector<uint8_t>& tiff, bool with_preview) {
  const std::string postscript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nshowpage\n";
  std::vector<uint8_t> out = {0xC5, 0xD0, 0xD3, 0xC6};
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const uint32_t header = 30;
  put32(header);
  put32(static_cast<uint32_t>(postscript.size()));
  put32(0);
  put32(0);
  put32(with_preview ? header + static_cast<uint32_t>(postscript.size()) : 0);
  put32(with_preview ? static_cast<uint32_t>(tiff.size()) : 0);
  out.push_back(0xFF);  // checksum FFFF: none
  out.push_back(0xFF);
  out.insert(out.end(), postscript.begin(), postscript.end());
  if (with_preview) out.insert(out.end(), tiff.begin(), tiff.end());
  out.insert(out.end(), {'%', '%', 'E', 'O', 'F', '\n'});  // trailing bytes outside the preview
  return out;
}

TEST(EpsTest, DecodesItsTiffPreview) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  testutil::TempDir dir;
  const std::string tiff = dir.File("preview.tif");
  testutil::WriteSeedPicture(tiff, 40, 30, "-depth 8 -compress LZW");
  const std::vector<uint8_t> eps = MakeEps(ReadFileBytes(tiff), true);
  ASSERT_EQ(eps[30], '%');
  testutil::KeepFuzzSeed("tiff", eps);
  const Picture p = DecodeEps(eps.data(), eps.size());
  EXPECT_TRUE(testutil::SamePixels(p, testutil::ReferenceDecode(tiff)));
}

TEST(EpsTest, RejectsMissingOrBrokenPreview) {
  const std::vector<uint8_t> tiff = GreyStrip(1, {1, 2, 3, 4, 5, 6, 7, 8}).Build();
  auto error = [](const std::vector<uint8_t>& b) -> std::string {
    try {
      DecodeEps(b.data(), b.size());
    } catch (const PictureError& e) {
      return e.what();
    }
    return "(decoded)";
  };
  EXPECT_EQ(error(MakeEps(tiff, false)), "EPS: no TIFF preview");
  EXPECT_EQ(error(testutil::Bytes("%!PS-Adobe-3.0 EPSF-3.0\n")), "EPS: no TIFF preview");
  std::vector<uint8_t> beyond = MakeEps(tiff, true);
  beyond[24] = 0xFF;  // preview length far past the end
  EXPECT_NE(error(beyond).find("outside"), std::string::npos);
  const std::vector<uint8_t> good = MakeEps(tiff, true);
  EXPECT_EQ(error(std::vector<uint8_t>(good.begin(), good.begin() + 12)), "EPS: truncated data");
  EXPECT_EQ(DecodeEps(good.data(), good.size()).At(1, 0), Rgb(2, 2, 2));
}

}  // namespace
}  // namespace quenvale
