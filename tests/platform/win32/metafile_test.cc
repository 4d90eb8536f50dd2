// The metafile decoder against metafiles that GDI itself records here: four quadrants, three of
// them filled with known colours and one left unpainted.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"
#include "imaging/picture.h"

namespace quenvale {
namespace {

constexpr uint32_t kTopLeft = 0xC81E1E;
constexpr uint32_t kTopRight = 0x1EC81E;
constexpr uint32_t kBottomLeft = 0x1E1EC8;
constexpr uint32_t kUnpainted = 0xFFFFFF;

// Fills three quadrants of the box (left, top)-(right, bottom), in the DC's logical units.
void DrawQuadrants(HDC dc, int left, int top, int right, int bottom) {
  const int mid_x = (left + right) / 2;
  const int mid_y = (top + bottom) / 2;
  const struct {
    RECT rect;
    uint32_t rgb;
  } fills[] = {{{left, top, mid_x, mid_y}, kTopLeft},
               {{mid_x, top, right, mid_y}, kTopRight},
               {{left, mid_y, mid_x, bottom}, kBottomLeft}};
  for (const auto& fill : fills) {
    HBRUSH brush = CreateSolidBrush(RGB(fill.rgb >> 16, (fill.rgb >> 8) & 0xFF, fill.rgb & 0xFF));
    FillRect(dc, &fill.rect, brush);
    DeleteObject(brush);
  }
}

// An EMF whose frame is width x height pixels at 96 per inch (cut to whole hundredths of a
// millimetre, as a writer would store them).
std::vector<uint8_t> MakeEmf(int width, int height) {
  const RECT frame = {0, 0, width * 2540 / 96, height * 2540 / 96};
  HDC dc = CreateEnhMetaFileA(nullptr, nullptr, &frame, nullptr);
  if (dc == nullptr) return {};
  // The recording DC draws in the reference device's pixels.
  const int pixels_x = GetDeviceCaps(dc, HORZRES), millimetres_x = GetDeviceCaps(dc, HORZSIZE);
  const int pixels_y = GetDeviceCaps(dc, VERTRES), millimetres_y = GetDeviceCaps(dc, VERTSIZE);
  DrawQuadrants(dc, 0, 0, MulDiv(frame.right, pixels_x, millimetres_x * 100),
                MulDiv(frame.bottom, pixels_y, millimetres_y * 100));
  HENHMETAFILE emf = CloseEnhMetaFile(dc);
  if (emf == nullptr) return {};
  std::vector<uint8_t> bytes(GetEnhMetaFileBits(emf, 0, nullptr));
  GetEnhMetaFileBits(emf, static_cast<UINT>(bytes.size()), bytes.data());
  DeleteEnhMetaFile(emf);
  return bytes;
}

// A WMF drawn in a window of the box's logical units; with `placeable`, the 22-byte header that
// gives the box and its units per inch comes first.
std::vector<uint8_t> MakeWmf(int left, int top, int right, int bottom, uint16_t per_inch,
                             bool placeable) {
  HDC dc = CreateMetaFileA(nullptr);
  if (dc == nullptr) return {};
  SetWindowOrgEx(dc, left, top, nullptr);
  SetWindowExtEx(dc, right - left, bottom - top, nullptr);
  DrawQuadrants(dc, left, top, right, bottom);
  HMETAFILE wmf = CloseMetaFile(dc);
  if (wmf == nullptr) return {};
  std::vector<uint8_t> body(GetMetaFileBitsEx(wmf, 0, nullptr));
  GetMetaFileBitsEx(wmf, static_cast<UINT>(body.size()), body.data());
  DeleteMetaFile(wmf);
  if (!placeable) return body;

  const uint16_t words[10] = {0xCDD7,
                              0x9AC6,
                              0,
                              static_cast<uint16_t>(left),
                              static_cast<uint16_t>(top),
                              static_cast<uint16_t>(right),
                              static_cast<uint16_t>(bottom),
                              per_inch,
                              0,
                              0};
  std::vector<uint8_t> bytes;
  uint16_t checksum = 0;
  for (uint16_t word : words) {
    checksum ^= word;
    bytes.push_back(static_cast<uint8_t>(word));
    bytes.push_back(static_cast<uint8_t>(word >> 8));
  }
  bytes.push_back(static_cast<uint8_t>(checksum));
  bytes.push_back(static_cast<uint8_t>(checksum >> 8));
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

// The colour (0xRRGGBB) at a fraction of the picture's width and height.
uint32_t ColourAt(const Picture& picture, double fx, double fy) {
  return picture.At(static_cast<int32_t>(fx * picture.width),
                    static_cast<int32_t>(fy * picture.height)) &
         0xFFFFFF;
}

void ExpectQuadrants(const Picture& picture) {
  ASSERT_EQ(picture.pixels.size(), static_cast<size_t>(picture.width) * picture.height);
  EXPECT_EQ(ColourAt(picture, 0.25, 0.25), kTopLeft);
  EXPECT_EQ(ColourAt(picture, 0.75, 0.25), kTopRight);
  EXPECT_EQ(ColourAt(picture, 0.25, 0.75), kBottomLeft);
  EXPECT_EQ(ColourAt(picture, 0.75, 0.75), kUnpainted);
  // Right up to the corners, and every pixel opaque.
  EXPECT_EQ(ColourAt(picture, 0, 0), kTopLeft);
  EXPECT_EQ(picture.At(picture.width - 1, picture.height - 1) & 0xFFFFFF, kUnpainted);
  for (uint32_t pixel : picture.pixels) ASSERT_EQ(pixel >> 24, 0xFFu);
}

struct SizeCase {
  int width;
  int height;
};

class EmfTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(EmfTest, SizeFromTheFrameAndColoursInPlace) {
  const std::vector<uint8_t> emf = MakeEmf(GetParam().width, GetParam().height);
  ASSERT_GT(emf.size(), 88u);
  // Found by the extension, and told from a WMF by its content whatever the name says.
  for (const char* name : {"picture.emf", "PICTURE.EMF", "picture.wmf"}) {
    Picture picture;
    LoadedPictureInfo info;
    ASSERT_TRUE(DecodePicture(emf.data(), emf.size(), name, &picture, &info)) << name;
    EXPECT_EQ(info.graphic_class, &kMetafileClass) << name;
    EXPECT_FALSE(info.by_content) << name;
    EXPECT_EQ(picture.width, GetParam().width) << name;
    EXPECT_EQ(picture.height, GetParam().height) << name;
    ExpectQuadrants(picture);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, EmfTest,
                         ::testing::Values(SizeCase{96, 96}, SizeCase{120, 90}, SizeCase{100, 37},
                                           SizeCase{333, 250}),
                         [](const ::testing::TestParamInfo<SizeCase>& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

struct PlaceableCase {
  const char* label;
  int left, top, right, bottom;
  uint16_t per_inch;
  int width, height;  // pixels at 96 per inch
};

class PlaceableWmfTest : public ::testing::TestWithParam<PlaceableCase> {};

TEST_P(PlaceableWmfTest, SizeFromTheHeaderAndColoursInPlace) {
  const PlaceableCase& c = GetParam();
  const std::vector<uint8_t> wmf = MakeWmf(c.left, c.top, c.right, c.bottom, c.per_inch, true);
  ASSERT_GT(wmf.size(), 22u + 18u);
  Picture picture;
  ASSERT_TRUE(DecodePicture(wmf.data(), wmf.size(), "clip.wmf", &picture));
  EXPECT_EQ(picture.width, c.width);
  EXPECT_EQ(picture.height, c.height);
  ExpectQuadrants(picture);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, PlaceableWmfTest,
    ::testing::Values(
        // 1440 units per inch (twips): 1800 x 1350 are 1.25 x 0.9375 inches.
        PlaceableCase{"Twips", 0, 0, 1800, 1350, 1440, 120, 90},
        PlaceableCase{"ScreenUnits", 0, 0, 64, 48, 96, 64, 48},
        // A box away from the origin, and units that give no whole pixel count.
        PlaceableCase{"Offset", 100, 200, 1100, 700, 1000, 96, 48},
        PlaceableCase{"Rounded", 0, 0, 1000, 1000, 254, 378, 378}),
    [](const ::testing::TestParamInfo<PlaceableCase>& info) { return info.param.label; });

// Without a placeable header GDI chooses the size; the picture must still come out whole.
TEST(WmfTest, PlainMetafileDecodes) {
  const std::vector<uint8_t> wmf = MakeWmf(0, 0, 400, 300, 0, false);
  ASSERT_GT(wmf.size(), 18u);
  Picture picture;
  ASSERT_TRUE(DecodePicture(wmf.data(), wmf.size(), "plain.wmf", &picture));
  EXPECT_GT(picture.width, 0);
  EXPECT_GT(picture.height, 0);
  ExpectQuadrants(picture);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& what) {
  const char* const names[] = {"bad.wmf", "bad.emf"};
  for (const char* name : names) {
    Picture picture;
    EXPECT_THROW(DecodePicture(bytes.data(), bytes.size(), name, &picture), PictureError)
        << what << " as " << name;
  }
}

// Cut anywhere before its end, every metafile is refused, as it is with its records' sizes
// made to lie.
TEST(DamagedMetafileTest, TruncatedAnywhereIsRefused) {
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> files = {
      {"EMF", MakeEmf(40, 30)},
      {"WMF", MakeWmf(0, 0, 40, 30, 96, false)},
      {"placeable WMF", MakeWmf(0, 0, 40, 30, 96, true)}};
  for (const auto& [label, bytes] : files) {
    ASSERT_GT(bytes.size(), 40u) << label;
    for (size_t n = 0; n < bytes.size(); ++n) {
      ExpectRefused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n),
                    std::string(label) + " cut to " + std::to_string(n) + " bytes");
    }
  }
}

TEST(DamagedMetafileTest, LyingFieldsAreRefused) {
  const std::vector<uint8_t> emf = MakeEmf(40, 30);
  ASSERT_GT(emf.size(), 100u);
  const size_t second_record = Le32(emf.data() + 4);  // right after the header record
  ASSERT_LT(second_record + 8, emf.size());
  const struct {
    const char* what;
    size_t at;
    uint32_t value;
  } emf_damage[] = {
      {"EMF header size below the minimum", 4, 80},
      {"EMF total size past the end", 48, static_cast<uint32_t>(emf.size() + 4)},
      {"EMF record of size zero", second_record + 4, 0},
      {"EMF record of unaligned size", second_record + 4, 13},
      {"EMF record past the end", second_record + 4, 0x7FFFFFF0},
      {"EMF empty frame", 32, 0},  // right = left
      {"EMF frame far beyond the size limit", 32, 0x7FFFFFFF},
  };
  for (const auto& d : emf_damage) {
    std::vector<uint8_t> bytes = emf;
    Put32(bytes, d.at, d.value);
    ExpectRefused(bytes, d.what);
  }

  const std::vector<uint8_t> wmf = MakeWmf(0, 0, 40, 30, 96, true);
  const struct {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
  } wmf_damage[] = {
      {"WMF record of size zero", 22 + 18, {0, 0, 0, 0}},
      {"WMF record of two words", 22 + 18, {2, 0, 0, 0}},
      {"WMF record past the end", 22 + 18, {0xF0, 0xFF, 0xFF, 0x0F}},
      {"WMF header of the wrong size", 22 + 2, {8, 0}},
      {"placeable WMF without units", 14, {0, 0}},
      {"placeable WMF with an empty box", 10, {0, 0}},
      {"placeable WMF beyond the size limit", 10, {0xFF, 0x7F}},
  };
  for (const auto& d : wmf_damage) {
    std::vector<uint8_t> bytes = wmf;
    std::copy(d.bytes.begin(), d.bytes.end(), bytes.begin() + d.at);
    ExpectRefused(bytes, d.what);
  }
}

TEST(DamagedMetafileTest, NotAMetafileIsRefused) {
  std::vector<uint8_t> noise(600);
  uint32_t state = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
  ExpectRefused(noise, "noise");
  ExpectRefused(std::vector<uint8_t>(600, 0), "zeros");
  ExpectRefused(std::vector<uint8_t>(600, 0xFF), "ones");
}

}  // namespace
}  // namespace quenvale
