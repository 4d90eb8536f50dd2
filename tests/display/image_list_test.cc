#include "display/image_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "display/software_surface.h"

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

// A software surface that records what the image list asks of it. Its device values differ
// from the plain software surface's, so a test can tell whose MatchDeviceColor was used.
class RecordingSurface : public SoftwareSurface {
 public:
  using SoftwareSurface::SoftwareSurface;
  uint32_t MatchDeviceColor(int32_t color) override {
    return (static_cast<uint32_t>(color) & 0xFFFFFFu) ^ 0x01000000u;
  }
  void SetColorKey(uint32_t device_value) override {
    keys.push_back(device_value);
    SoftwareSurface::SetColorKey(device_value);
  }
  void CopyFrom(const Surface& source, const Rect& source_rect, int32_t x, int32_t y,
                bool transparent) override {
    ++copies;
    // The interface promises rectangles already clipped to both surfaces.
    EXPECT_FALSE(source_rect.Empty());
    EXPECT_GE(source_rect.Left, 0);
    EXPECT_GE(source_rect.Top, 0);
    EXPECT_LE(source_rect.Right, source.Width());
    EXPECT_LE(source_rect.Bottom, source.Height());
    EXPECT_GE(x, 0);
    EXPECT_GE(y, 0);
    EXPECT_LE(x + source_rect.Width(), Width());
    EXPECT_LE(y + source_rect.Height(), Height());
    SoftwareSurface::CopyFrom(source, source_rect, x, y, transparent);
  }
  std::vector<uint32_t> keys;
  int copies = 0;
};

class RecordingDevice : public DrawDevice {
 public:
  bool CanDraw() override { return true; }
  Surface& BackSurface() override { return back_; }
  void Flip() override {}
  std::unique_ptr<Surface> CreateSurface(const Picture& picture) override {
    ++created;
    if (picture.width <= 0 || picture.height <= 0) return nullptr;
    auto surface = std::make_unique<RecordingSurface>(picture);
    if (picture.width > max_width || picture.height > max_height) {
      // A device that cannot hold the whole picture keeps its top-left part.
      auto cropped = std::make_unique<RecordingSurface>(std::min(picture.width, max_width),
                                                        std::min(picture.height, max_height));
      cropped->CopyFrom(*surface, Rect{0, 0, cropped->Width(), cropped->Height()}, 0, 0, false);
      surface = std::move(cropped);
    }
    last = surface.get();
    return surface;
  }
  int created = 0;
  int32_t max_width = INT32_MAX;
  int32_t max_height = INT32_MAX;
  RecordingSurface* last = nullptr;

 private:
  SoftwareSurface back_{1, 1};
};

constexpr uint32_t kBg = 0x00202020u;

// Pixel (x, y) of the test pictures: distinct for every position.
uint32_t PicturePixel(int32_t x, int32_t y) { return 0x00100000u | (y + 1) << 8 | (x + 1); }

Picture MakePicture(int32_t width, int32_t height) {
  Picture picture;
  picture.Allocate(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) picture.At(x, y) = 0xFF000000u | PicturePixel(x, y);
  }
  return picture;
}

// The destination after the whole picture was put at (x, y), pixel by pixel: what lies on the
// surface shows, the rest is cut.
std::vector<uint32_t> ExpectedAfterDraw(int32_t surface_width, int32_t surface_height,
                                        int32_t picture_width, int32_t picture_height, int32_t x,
                                        int32_t y) {
  std::vector<uint32_t> expected(static_cast<size_t>(surface_width) * surface_height, kBg);
  for (int32_t py = 0; py < picture_height; ++py) {
    for (int32_t px = 0; px < picture_width; ++px) {
      const int64_t dx = static_cast<int64_t>(x) + px, dy = static_cast<int64_t>(y) + py;
      if (dx >= 0 && dy >= 0 && dx < surface_width && dy < surface_height) {
        expected[static_cast<size_t>(dy) * surface_width + dx] = PicturePixel(px, py);
      }
    }
  }
  return expected;
}

std::vector<uint32_t> PixelsOf(const SoftwareSurface& surface) {
  return std::vector<uint32_t>(
      surface.Pixels(), surface.Pixels() + static_cast<size_t>(surface.Width()) * surface.Height());
}

class ImageListTest : public ::testing::Test {
 protected:
  ImageListTest() : list_(2), dest_(8, 6) {
    dest_.Fill(kBg);
    list_.Items(0).GetPicture() = MakePicture(3, 2);
    list_.Items(0).Transparent = false;
  }
  PictureItem& item() { return list_.Items(0); }
  void BindAndRestore() {
    list_.Initialized(device_);
    item().Restore();
  }

  RecordingDevice device_;
  SurfaceImageList list_;
  RecordingSurface dest_;
};

struct DrawCase {
  const char* name;
  int32_t x, y;
  bool copies;  // whether anything reaches CopyFrom
};

class ImageListDrawTest : public ImageListTest, public ::testing::WithParamInterface<DrawCase> {};

TEST_P(ImageListDrawTest, DrawsExactlyTheClippedPart) {
  BindAndRestore();
  item().Draw(dest_, GetParam().x, GetParam().y, 0);
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 3, 2, GetParam().x, GetParam().y));
  EXPECT_EQ(dest_.copies, GetParam().copies ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, ImageListDrawTest,
    Values(DrawCase{"Inside", 2, 1, true}, DrawCase{"AtOrigin", 0, 0, true},
           DrawCase{"NegativeX", -2, 3, true}, DrawCase{"NegativeY", 4, -1, true},
           DrawCase{"NegativeBoth", -1, -1, true}, DrawCase{"PastRight", 6, 2, true},
           DrawCase{"PastBottom", 1, 5, true}, DrawCase{"LastColumn", 7, 0, true},
           // x == width passes the position test and then clips to nothing.
           DrawCase{"XEqualsWidth", 8, 0, false}, DrawCase{"YEqualsHeight", 0, 6, false},
           DrawCase{"XBeyondWidth", 9, 0, false}, DrawCase{"YBeyondHeight", 2, 60, false},
           DrawCase{"FullyLeft", -3, 0, false}, DrawCase{"FullyAbove", 0, -2, false},
           DrawCase{"FarNegative", INT32_MIN, INT32_MIN, false},
           DrawCase{"FarPositive", INT32_MAX, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageListTest, SourceIsAlsoClippedToItsSurface) {
  // The surface holds only the picture's top-left 2 x 1: the rest of the cell is not drawn.
  device_.max_width = 2;
  device_.max_height = 1;
  BindAndRestore();
  ASSERT_EQ(item().PatternCount(), 1);
  for (const auto& at : {std::pair<int32_t, int32_t>{1, 1}, {-1, 0}, {7, 5}}) {
    dest_.Fill(kBg);
    item().Draw(dest_, at.first, at.second, 0);
    EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 2, 1, at.first, at.second))
        << "at " << at.first << ", " << at.second;
  }
}

TEST_F(ImageListTest, PatternOutOfRangeDrawsNothing) {
  BindAndRestore();
  ASSERT_EQ(item().PatternCount(), 1);
  item().Draw(dest_, 0, 0, 1);
  item().Draw(dest_, 0, 0, -1);
  item().StretchDraw(dest_, Rect{0, 0, 8, 6}, 1);
  item().StretchDraw(dest_, Rect{0, 0, 8, 6}, -1);
  EXPECT_EQ(dest_.copies, 0);
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 0, 0, 0, 0));
}

TEST_F(ImageListTest, UninitialisedItemDrawsNothing) {
  // Never bound: Restore does nothing, so there is no surface and no drawing.
  item().Restore();
  EXPECT_FALSE(item().Initialized());
  EXPECT_EQ(item().SurfaceCount(), 0u);
  EXPECT_EQ(device_.created, 0);
  item().Draw(dest_, 0, 0, 0);
  item().StretchDraw(dest_, Rect{0, 0, 8, 6}, 0);
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 0, 0, 0, 0));

  // Bound and restored, then finalised: the surface is gone and the item draws nothing again.
  BindAndRestore();
  list_.Finalized();
  EXPECT_FALSE(item().Initialized());
  EXPECT_EQ(item().SurfaceCount(), 0u);
  item().Draw(dest_, 0, 0, 0);
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 0, 0, 0, 0));
}

TEST_F(ImageListTest, InitializedBindsAndDropsSurfaces) {
  EXPECT_EQ(list_.Device(), nullptr);
  BindAndRestore();
  EXPECT_EQ(list_.Device(), &device_);
  EXPECT_TRUE(item().Initialized());
  EXPECT_TRUE(list_.Items(1).Initialized());
  ASSERT_EQ(item().SurfaceCount(), 1u);
  EXPECT_EQ(item().GetSurface(0)->Width(), 3);
  EXPECT_EQ(item().GetSurface(0)->Height(), 2);
  list_.Initialized(device_);
  EXPECT_EQ(item().SurfaceCount(), 0u);
  EXPECT_TRUE(item().Initialized());
}

TEST_F(ImageListTest, RestoreAfterFinalizedInitialisesAgainWhileBound) {
  BindAndRestore();
  list_.Finalized();
  item().Restore();
  EXPECT_TRUE(item().Initialized());
  EXPECT_EQ(item().SurfaceCount(), 1u);
  item().Draw(dest_, 1, 1, 0);
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 3, 2, 1, 1));
}

TEST_F(ImageListTest, RestoredRebuildsEveryItemWithAPicture) {
  list_.Items(1).GetPicture() = MakePicture(1, 4);
  list_.Initialized(device_);
  list_.Restored();
  EXPECT_EQ(device_.created, 2);
  EXPECT_EQ(item().SurfaceCount(), 1u);
  ASSERT_EQ(list_.Items(1).SurfaceCount(), 1u);
  EXPECT_EQ(list_.Items(1).GetSurface(0)->Height(), 4);

  // An empty picture is left without a surface, and the device is not even asked.
  list_.Items(1).GetPicture() = Picture();
  list_.Restored();
  EXPECT_EQ(device_.created, 3);
  EXPECT_EQ(list_.Items(1).SurfaceCount(), 1u);  // untouched: Restore did nothing
}

// A picture resampled ahead of time to the size it is drawn at, smaller or larger, draws exactly
// as the whole picture stretched to that size; its own size, or an empty one, leaves it alone.
TEST(PictureItemResampleTest, ResampledDrawsAsTheWholeStretched) {
  struct Case {
    int32_t pw, ph, width, height;
    bool shrinks;
  };
  for (const Case& c :
       {Case{97, 61, 40, 25, true}, Case{64, 48, 64, 13, true}, Case{30, 30, 29, 30, true},
        Case{101, 7, 3, 1, true}, Case{20, 10, 21, 5, true}, Case{20, 10, 61, 33, true},
        Case{3, 2, 40, 40, true}, Case{20, 10, 20, 10, false}, Case{20, 10, 0, 5, false}}) {
    SCOPED_TRACE(std::to_string(c.pw) + "x" + std::to_string(c.ph) + " to " +
                 std::to_string(c.width) + "x" + std::to_string(c.height));
    SurfaceImageList list(2);
    SoftwareDevice device(1, 1);
    list.Initialized(device);
    list.Items(0).GetPicture() = MakePicture(c.pw, c.ph);
    list.Items(1).GetPicture() = MakePicture(c.pw, c.ph);
    PictureItem& whole = list.Items(0);
    PictureItem& shrunk = list.Items(1);
    shrunk.ResampleForDisplay(c.width, c.height);
    shrunk.ResampleForDisplay(c.width, c.height);  // again: nothing more changes
    EXPECT_EQ(shrunk.LoadedWidth(), c.pw);
    EXPECT_EQ(shrunk.LoadedHeight(), c.ph);
    EXPECT_EQ(shrunk.GetPicture().width, c.shrinks ? c.width : c.pw);
    EXPECT_EQ(shrunk.GetPicture().height, c.shrinks ? c.height : c.ph);
    if (!c.shrinks || c.width <= 0) continue;
    whole.Restore();
    shrunk.Restore();
    SoftwareSurface a(c.width + 5, c.height + 3), b(c.width + 5, c.height + 3);
    const Rect dest{2, 1, 2 + c.width, 1 + c.height};
    whole.StretchDraw(a, dest, 0);
    shrunk.StretchDraw(b, dest, 0);
    EXPECT_EQ(PixelsOf(a), PixelsOf(b));
  }
}

TEST_F(ImageListTest, TransparentDrawLeavesTheColourKeyOut) {
  item().Transparent = true;
  // Pixel (1, 0) is 0x100102 as a device value, so 0x020110 as 0x00BBGGRR.
  item().SetTransparentColor(0x020110);
  SoftwareDevice device(8, 6);
  list_.Initialized(device);
  item().Restore();
  item().Draw(dest_, 0, 0, 0);
  std::vector<uint32_t> expected = ExpectedAfterDraw(8, 6, 3, 2, 0, 0);
  expected[1] = kBg;
  EXPECT_EQ(PixelsOf(dest_), expected);

  item().Transparent = false;
  item().Draw(dest_, 0, 0, 0);
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 3, 2, 0, 0));
}

TEST_F(ImageListTest, SetTransparentColorRules) {
  EXPECT_EQ(item().TransparentColor(), 0);  // black by default
  PictureItem fresh;
  EXPECT_TRUE(fresh.Transparent);

  // Without surfaces the colour is only stored.
  item().SetTransparentColor(0x123456);
  EXPECT_EQ(item().TransparentColor(), 0x123456);

  // Restore keys the new surface with that surface's own device value.
  BindAndRestore();
  RecordingSurface* surface = device_.last;
  ASSERT_NE(surface, nullptr);
  ASSERT_EQ(surface->keys, std::vector<uint32_t>{0x01123456u});

  // The same value again does nothing.
  item().SetTransparentColor(0x123456);
  EXPECT_EQ(surface->keys.size(), 1u);

  // A new value re-keys the surface already built.
  item().SetTransparentColor(0x00ABCD);
  EXPECT_EQ(item().TransparentColor(), 0x00ABCD);
  EXPECT_EQ(surface->keys, (std::vector<uint32_t>{0x01123456u, 0x0100ABCDu}));
  EXPECT_EQ(surface->ColorKey(), 0x0100ABCDu);
}

TEST_F(ImageListTest, WidthAndHeightFollowPatternSizeOrPicture) {
  EXPECT_EQ(item().Width(), 3);
  EXPECT_EQ(item().Height(), 2);
  item().PatternWidth = 1;
  EXPECT_EQ(item().Width(), 1);
  EXPECT_EQ(item().Height(), 2);
  item().PatternHeight = 5;
  EXPECT_EQ(item().Height(), 5);
}

TEST_F(ImageListTest, CellsAreCutRowByRow) {
  item().GetPicture() = MakePicture(4, 4);
  item().PatternWidth = 2;
  item().PatternHeight = 2;
  BindAndRestore();
  ASSERT_EQ(item().PatternCount(), 4);
  EXPECT_EQ(item().SurfaceCount(), 1u);
  // Cell 1 is the top right quarter.
  item().Draw(dest_, 5, 3, 1);
  std::vector<uint32_t> expected(static_cast<size_t>(8) * 6, kBg);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 2; ++x) expected[(3 + y) * 8 + 5 + x] = PicturePixel(2 + x, y);
  }
  EXPECT_EQ(PixelsOf(dest_), expected);
}

TEST_F(ImageListTest, StretchDrawScalesThePatternAndSkipsEmptyRectangles) {
  BindAndRestore();
  for (const Rect& empty : {Rect{2, 2, 2, 5}, Rect{2, 2, 6, 2}, Rect{5, 5, 1, 1}}) {
    item().StretchDraw(dest_, empty, 0);
  }
  EXPECT_EQ(PixelsOf(dest_), ExpectedAfterDraw(8, 6, 0, 0, 0, 0));

  // Twice the size, at (1, 1).
  item().StretchDraw(dest_, Rect{1, 1, 7, 5}, 0);
  std::vector<uint32_t> expected(static_cast<size_t>(8) * 6, kBg);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 6; ++x) expected[(1 + y) * 8 + 1 + x] = PicturePixel(x / 2, y / 2);
  }
  EXPECT_EQ(PixelsOf(dest_), expected);
}

}  // namespace
}  // namespace quenvale
