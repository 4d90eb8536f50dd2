#include "imaging/format_registry.h"
#include "imaging/picture_test_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace quenvale {
namespace {

using ::testing::ElementsAreArray;

TEST(FileFormatListTest, StandardTableInOrder) {
  const FileFormatList& list = FileFormats();
  std::vector<std::string> extensions;
  for (const auto& e : list.Extensions()) extensions.push_back(e.extension);
  EXPECT_THAT(extensions,
              ElementsAreArray({"bmp", "ico", "wmf", "emf", "jfif", "jpg", "jpe", "jpeg", "rle",
                                "dib", "win", "vst", "vda", "tga", "icb", "tiff", "tif", "fax",
                                "eps", "pcx", "pcc", "scr", "rpf", "rla", "sgi", "rgba", "rgb",
                                "bw", "psd", "pdd", "ppm", "pgm", "pbm", "cel", "pic", "pcd",
                                "gif", "cut", "psp", "png"}));
  std::vector<std::string> classes;
  std::vector<int> counts;
  for (const auto& c : list.Classes()) {
    classes.push_back(c.graphic_class->name);
    counts.push_back(c.count);
  }
  EXPECT_THAT(classes, ElementsAreArray({"Bitmap", "Icon", "Metafile", "JPEGImage", "TargaGraphic",
                                         "TIFFGraphic", "EPSGraphic", "PCXGraphic", "RLAGraphic",
                                         "SGIGraphic", "PSDGraphic", "PPMGraphic",
                                         "AutodeskGraphic", "PCDGraphic", "GIFGraphic",
                                         "CUTGraphic", "PSPGraphic", "PNGGraphic"}));
  EXPECT_THAT(counts, ElementsAreArray({3, 1, 2, 4, 5, 3, 1, 3, 2, 4, 2, 3, 2, 1, 1, 1, 1, 1}));
}

TEST(FileFormatListTest, KindFlagBytes) {
  std::vector<std::pair<std::string, int>> flags;
  for (const auto& e : FileFormats().Extensions()) {
    if (e.extension == "bmp" || e.extension == "wmf" || e.extension == "tif" ||
        e.extension == "psd" || e.extension == "gif" || e.extension == "psp") {
      flags.emplace_back(e.extension, e.flags);
    }
  }
  const std::vector<std::pair<std::string, int>> expected = {
      {"bmp", 8}, {"wmf", 16}, {"tif", 12}, {"psd", 10}, {"gif", 13}, {"psp", 24}};
  EXPECT_EQ(flags, expected);
}

TEST(FileFormatListTest, DescriptionsFallBackToTheClass) {
  const FileFormatList& list = FileFormats();
  auto description = [&](const std::string& ext) {
    for (const auto& f : list.PictureFormats()) {
      if (f.extension == ext) return f.description;
    }
    return std::string("(missing)");
  };
  EXPECT_EQ(description("bmp"), "Windows bitmaps");
  EXPECT_EQ(description("emf"), "Windows enhanced meta files");
  EXPECT_EQ(description("jpg"), "JPG images");
  EXPECT_EQ(description("dib"), "Device independant Windows bitmaps");
  EXPECT_EQ(description("tga"), "Truevision images");
  EXPECT_EQ(description("pdd"), "Photoshop images");
  EXPECT_EQ(list.PictureFormats().size(), 40u);
  // The JPEG class takes its description from "jfif", the only row that gives one.
  EXPECT_EQ(list.Classes()[3].description, "JPG images");
}

TEST(FileFormatListTest, ClassForExtension) {
  const FileFormatList& list = FileFormats();
  EXPECT_EQ(list.ClassForExtension(".jpg"), &kJpegImageClass);
  EXPECT_EQ(list.ClassForExtension("JPG"), &kJpegImageClass);
  EXPECT_EQ(list.ClassForExtension(".Tif"), &kTiffGraphicClass);
  EXPECT_EQ(list.ClassForExtension("scr"), &kPcxGraphicClass);
  EXPECT_EQ(list.ClassForExtension(""), nullptr);
  EXPECT_EQ(list.ClassForExtension("."), nullptr);
  EXPECT_EQ(list.ClassForExtension(".xyz"), nullptr);
  // Everything up to the first dot goes, so a whole name is not an extension.
  EXPECT_EQ(list.ClassForExtension("a.b.gif"), nullptr);
  EXPECT_EQ(PictureExtension("icons\\a.b.gif"), ".gif");
  EXPECT_EQ(list.ClassForExtension(PictureExtension("icons\\a.b.gif")), &kGifGraphicClass);
  EXPECT_EQ(PictureExtension("icons.v2\\photo"), "");
  EXPECT_EQ(PictureExtension("c:photo"), "");
  EXPECT_EQ(PictureExtension("photo."), ".");
}

TEST(FileFormatListTest, AddReplaceAndRemove) {
  FileFormatList list;
  list.AddFileFormat("", "Nothing", "", kKindRaster, false, &kPngGraphicClass);
  EXPECT_TRUE(list.Extensions().empty());
  list.AddFileFormat("abc", "Letters", "", kKindRaster, false, &kPngGraphicClass);
  list.AddFileFormat("abd", "", "More letters", kKindRaster, false, &kPngGraphicClass);
  try {
    list.AddFileFormat("ABC", "", "", kKindRaster, false, &kGifGraphicClass);
    FAIL() << "registered twice";
  } catch (const PictureError& e) {
    EXPECT_STREQ(e.what(), "Attempt to register ABC twice.");
  }
  ASSERT_EQ(list.Classes().size(), 1u);
  EXPECT_EQ(list.Classes()[0].count, 2);
  EXPECT_EQ(list.Classes()[0].description, "Letters");

  list.AddFileFormat("abc", "Pictures", "", kKindRaster, true, &kGifGraphicClass);
  EXPECT_EQ(list.ClassForExtension("abc"), &kGifGraphicClass);
  ASSERT_EQ(list.Classes().size(), 2u);
  EXPECT_EQ(list.Classes()[0].count, 1);
  list.AddFileFormat("abd", "", "", kKindRaster, true, &kGifGraphicClass);
  // The first class lost its last extension and went with it.
  ASSERT_EQ(list.Classes().size(), 1u);
  EXPECT_EQ(list.Classes()[0].graphic_class, &kGifGraphicClass);
  EXPECT_EQ(list.Classes()[0].count, 2);

  list.RemoveFileFormat("ABD", &kGifGraphicClass);
  EXPECT_EQ(list.ClassForExtension("abd"), nullptr);
  EXPECT_EQ(list.PictureFormats().size(), 1u);
  list.RemoveFileFormat("abc", &kPngGraphicClass);  // not that class's: nothing happens
  EXPECT_EQ(list.ClassForExtension("abc"), &kGifGraphicClass);
  list.RemoveFileFormat("", &kGifGraphicClass);
  EXPECT_TRUE(list.Extensions().empty());
  EXPECT_TRUE(list.Classes().empty());
  EXPECT_TRUE(list.PictureFormats().empty());
}

// A buffer of `size` bytes whose first bytes are `head`.
std::vector<uint8_t> Head(std::initializer_list<uint8_t> head, size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  std::copy(head.begin(), head.end(), bytes.begin());
  return bytes;
}

std::vector<uint8_t> Head(const std::string& head, size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  std::copy(head.begin(), head.end(), bytes.begin());
  return bytes;
}

std::vector<uint8_t> Targa(uint8_t map_entry_size) {
  auto bytes = Head({0, 0, 2}, 64);
  bytes[7] = map_entry_size;
  bytes[16] = 24;
  return bytes;
}

std::vector<uint8_t> TargaHeaderOnly() {
  std::vector<uint8_t> bytes = Targa(24);
  bytes.resize(18);
  return bytes;
}

std::vector<uint8_t> Rla() {
  auto bytes = Head({}, 800);
  bytes[26] = 0xFF;
  bytes[27] = 0xFE;
  std::string name = "RGB";
  std::copy(name.begin(), name.end(), bytes.begin() + 580);
  return bytes;
}

std::vector<uint8_t> Pcd() {
  auto bytes = Head({}, 7000);
  bytes[2048] = 'P';
  bytes[2049] = 'C';
  bytes[2050] = 'D';
  return bytes;
}

std::vector<uint8_t> Psp() {
  auto bytes = Head("paint shop pro image file\n\x1a", 64);
  bytes[32] = 5;
  return bytes;
}

struct ContentCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const GraphicClass* expected;  // null: no class recognises it
};

void PrintTo(const ContentCase& c, std::ostream* os) { *os << c.name; }

class ClassForContentTest : public ::testing::TestWithParam<ContentCase> {};

TEST_P(ClassForContentTest, RecognisesAndRestoresThePosition) {
  // The picture starts after some other bytes, as in a stream that is not at its start.
  std::vector<uint8_t> bytes(7, 0xAB);
  bytes.insert(bytes.end(), GetParam().bytes.begin(), GetParam().bytes.end());
  MemoryStream stream(bytes.data(), bytes.size());
  stream.SetPosition(7);
  EXPECT_EQ(FileFormats().ClassForContent(stream), GetParam().expected);
  EXPECT_EQ(stream.Position(), 7u);
  for (const auto& entry : FileFormats().Classes()) {
    if (!entry.graphic_class->IsCodecGraphic()) continue;
    entry.graphic_class->AcceptsContent(stream);
    EXPECT_EQ(stream.Position(), 7u) << entry.graphic_class->name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tests, ClassForContentTest,
    ::testing::Values(
        ContentCase{"targa", Targa(24), &kTargaGraphicClass},
        // True-colour Targa without a colour map: only its extension finds it.
        ContentCase{"targa_no_map", Targa(0), nullptr},
        ContentCase{"targa_too_short", TargaHeaderOnly(), nullptr},
        ContentCase{"tiff_intel", Head({'I', 'I', 42, 0, 8, 0, 0, 0}, 16), &kTiffGraphicClass},
        ContentCase{"tiff_motorola", Head({'M', 'M', 0, 42, 0, 0, 0, 8}, 16), &kTiffGraphicClass},
        ContentCase{"tiff_ifd_outside", Head({'I', 'I', 42, 0, 16, 0, 0, 0}, 16), nullptr},
        ContentCase{"tiff_exactly_8", Head({'I', 'I', 42, 0, 4, 0, 0, 0}, 8), nullptr},
        ContentCase{"eps", Head({0xC5, 0xD0, 0xD3, 0xC6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0, 0, 9}, 40), &kEpsGraphicClass},
        ContentCase{"eps_no_preview", Head({0xC5, 0xD0, 0xD3, 0xC6}, 40), nullptr},
        ContentCase{"pcx", Head({10, 5, 1}, 200), &kPcxGraphicClass},
        ContentCase{"pcx_bad_version", Head({10, 4, 1}, 200), nullptr},
        ContentCase{"rla", Rla(), &kRlaGraphicClass},
        ContentCase{"sgi", Head({0x01, 0xDA, 1, 1, 0, 3}, 600), &kSgiGraphicClass},
        ContentCase{"sgi_dimension_4", Head({0x01, 0xDA, 1, 1, 0, 4}, 600), nullptr},
        ContentCase{"psd", Head({'8', 'b', 'p', 's', 0, 1}, 40), &kPsdGraphicClass},
        ContentCase{"psd_version_2", Head({'8', 'B', 'P', 'S', 0, 2}, 40), nullptr},
        ContentCase{"ppm", Head("P6\n1 1\n255\n", 16), &kPpmGraphicClass},
        ContentCase{"ppm_p7", Head("P7\n1 1\n255\n", 16), nullptr},
        ContentCase{"autodesk", Head({0x19, 0x91, 1, 0, 1, 0, 0, 0, 0, 0, 8, 0}, 40), &kAutodeskGraphicClass},
        ContentCase{"pcd", Pcd(), &kPcdGraphicClass},
        ContentCase{"gif", Head("gif89a", 30), &kGifGraphicClass},
        ContentCase{"psp", Psp(), &kPspGraphicClass},
        ContentCase{"png", Head({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, 9), &kPngGraphicClass},
        ContentCase{"png_exactly_8", Head({0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, 8), nullptr},
        // Bitmaps and JPEG pictures have no content test.
        ContentCase{"bmp", Head("BM", 100), nullptr},
        ContentCase{"jpeg", Head({0xFF, 0xD8, 0xFF, 0xE0}, 100), nullptr}),
    [](const ::testing::TestParamInfo<ContentCase>& info) { return std::string(info.param.name); });

TEST(DecodePictureTest, UnknownContentAndExtensionIsNotLoaded) {
  const std::vector<uint8_t> jpeg_like = Head({0xFF, 0xD8, 0xFF, 0xE0}, 100);
  Picture picture;
  picture.Allocate(1, 1);
  LoadedPictureInfo info;
  EXPECT_FALSE(DecodePicture(jpeg_like.data(), jpeg_like.size(), "icons\\photo", &picture, &info));
  EXPECT_FALSE(DecodePicture(jpeg_like.data(), jpeg_like.size(), "icons\\photo.xyz", &picture));
  EXPECT_EQ(picture.width, 1);  // unchanged
  EXPECT_EQ(info.graphic_class, nullptr);
}

TEST(DecodePictureTest, ContentWinsOverTheExtension) {
  // A plain PPM stored under a JPEG name is read as PPM.
  std::vector<uint8_t> ppm = Head("P6\n2 1\n255\n", 11);
  const uint8_t pixels[] = {255, 0, 0, 0, 0, 255};
  ppm.insert(ppm.end(), pixels, pixels + sizeof pixels);
  Picture picture;
  LoadedPictureInfo info;
  ASSERT_TRUE(DecodePicture(ppm.data(), ppm.size(), "icons\\photo.JPG", &picture, &info));
  EXPECT_EQ(info.graphic_class, &kPpmGraphicClass);
  EXPECT_TRUE(info.by_content);
  ASSERT_EQ(picture.width, 2);
  EXPECT_EQ(picture.pixels[0], 0xFFFF0000u);
  EXPECT_EQ(picture.pixels[1], 0xFF0000FFu);
}

TEST(DecodePictureTest, ExtensionFindsWhatContentCannot) {
  // A Targa without colour map: 2x1 true colour, stored blue-green-red, bottom-up.
  std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0,
                              0, 0, 255, 255, 0, 0};
  Picture picture;
  LoadedPictureInfo info;
  ASSERT_TRUE(DecodePicture(tga.data(), tga.size(), "icons\\a.b.TGA", &picture, &info));
  EXPECT_EQ(info.graphic_class, &kTargaGraphicClass);
  EXPECT_FALSE(info.by_content);
  ASSERT_EQ(picture.width, 2);
  EXPECT_EQ(picture.pixels[0], 0xFFFF0000u);
  EXPECT_EQ(picture.pixels[1], 0xFF0000FFu);
}

TEST(DecodePictureTest, DamagedPictureRaises) {
  const std::vector<uint8_t> ppm = Head("P6\n4000 4000\n255\n", 32);
  Picture picture;
  EXPECT_THROW(DecodePicture(ppm.data(), ppm.size(), "x.ppm", &picture), PictureError);
}

// Files written by a real peer reach the right decoder through the loading rule.
struct PeerFormatCase {
  const char* file;     // what ImageMagick writes, chosen by the extension unless prefixed
  const char* options;
  const char* format_prefix = "";  // such as "PNG:" to write another format than the name says
  const GraphicClass* by_content;  // null: found by extension only
  const GraphicClass* decoded_by;
  PeerFormatCase(const char* f, const char* o, const GraphicClass* c, const GraphicClass* d)
      : file(f), options(o), by_content(c), decoded_by(d) {}
  PeerFormatCase(const char* f, const char* o, const char* prefix, const GraphicClass* c,
                 const GraphicClass* d)
      : file(f), options(o), format_prefix(prefix), by_content(c), decoded_by(d) {}
};

void PrintTo(const PeerFormatCase& c, std::ostream* os) { *os << c.file; }

class PeerFormatTest : public ::testing::TestWithParam<PeerFormatCase> {};

TEST_P(PeerFormatTest, LoadingRuleFindsTheDecoder) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const PeerFormatCase& c = GetParam();
  testutil::TempDir dir;
  const std::string path = dir.File(c.file);
  testutil::WriteSeedPicture(c.format_prefix + path, 40, 30, c.options);
  const std::vector<uint8_t> bytes = testutil::ReadFileBytes(path);
  MemoryStream stream(bytes.data(), bytes.size());
  EXPECT_EQ(FileFormats().ClassForContent(stream), c.by_content);
  Picture picture;
  LoadedPictureInfo info;
  ASSERT_TRUE(DecodePicture(bytes.data(), bytes.size(), std::string("icons\\") + c.file, &picture,
                            &info));
  EXPECT_EQ(info.graphic_class, c.decoded_by);
  EXPECT_EQ(info.by_content, c.by_content != nullptr);
  EXPECT_EQ(picture.width, 40);
  EXPECT_EQ(picture.height, 30);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PeerFormatTest,
    ::testing::Values(
        PeerFormatCase{"a.bmp", "", nullptr, &kBitmapClass},
        PeerFormatCase{"a.dib", "", nullptr, &kBitmapClass},
        PeerFormatCase{"a.ico", "", nullptr, &kIconClass},
        PeerFormatCase{"a.jpg", "", nullptr, &kJpegImageClass},
        PeerFormatCase{"a.JPEG", "", nullptr, &kJpegImageClass},
        // ImageMagick's true-colour Targa has no colour map, so only its extension finds it.
        PeerFormatCase{"a.tga", "", nullptr, &kTargaGraphicClass},
        PeerFormatCase{"a.tga", "-type Palette", &kTargaGraphicClass, &kTargaGraphicClass},
        PeerFormatCase{"a.tif", "", &kTiffGraphicClass, &kTiffGraphicClass},
        PeerFormatCase{"a.pcx", "", &kPcxGraphicClass, &kPcxGraphicClass},
        PeerFormatCase{"a.sgi", "", &kSgiGraphicClass, &kSgiGraphicClass},
        PeerFormatCase{"a.psd", "", &kPsdGraphicClass, &kPsdGraphicClass},
        PeerFormatCase{"a.ppm", "", &kPpmGraphicClass, &kPpmGraphicClass},
        PeerFormatCase{"a.pgm", "", &kPpmGraphicClass, &kPpmGraphicClass},
        PeerFormatCase{"a.gif", "", &kGifGraphicClass, &kGifGraphicClass},
        PeerFormatCase{"a.png", "", &kPngGraphicClass, &kPngGraphicClass},
        // A PNG stored under a JPEG name is still read as PNG.
        PeerFormatCase{"b.jpg", "", "PNG:", &kPngGraphicClass, &kPngGraphicClass}),
    [](const ::testing::TestParamInfo<PeerFormatCase>& info) {
      std::string name = std::to_string(info.index) + "_";
      for (char ch : std::string(info.param.file)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

// Inputs that once crashed or misbehaved, named "<extension>-<what>.bin": each must decode
// through the loading rule or be refused with a PictureError.
TEST(RegressionFilesTest, DecodeOrAreRefused) {
  namespace fs = std::filesystem;
  const char* source = std::getenv("QUENVALE_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(source) / "tests/imaging/regressions")) {
    const std::string name = entry.path().filename().string();
    const size_t dash = name.find('-');
    if (entry.path().extension() != ".bin" || dash == std::string::npos) continue;
    const std::string extension = name.substr(0, dash);
    ASSERT_NE(FileFormats().ClassForExtension(extension), nullptr) << name;
    const std::vector<uint8_t> bytes = testutil::ReadFileBytes(entry.path().string());
    ++files;
    Picture picture;
    try {
      DecodePicture(bytes.data(), bytes.size(), "x." + extension, &picture);
      EXPECT_EQ(picture.pixels.size(), static_cast<size_t>(picture.width) * picture.height) << name;
    } catch (const PictureError&) {
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace quenvale
