// The DirectDraw device on a real window: what fills, pictures, copies, scaling and text leave in
// the back surface, read back pixel by pixel through Lock.
#include "platform/win32/directdraw_device.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "display/image_list.h"
#include "imaging/picture.h"

namespace quenvale {
namespace {

constexpr int kWindowWidth = 320;
constexpr int kWindowHeight = 240;

// 0x00RRGGBB, the form ReadPixel decodes to, from a 0x00BBGGRR colour.
uint32_t ToRgb(uint32_t color) {
  return (color & 0xFFu) << 16 | (color & 0xFF00u) | ((color >> 16) & 0xFFu);
}

uint32_t RgbAt(const Surface& surface, int32_t x, int32_t y) {
  uint32_t rgb = 0xDEADBEEF;
  EXPECT_TRUE(DirectDrawDevice::ReadPixel(surface, x, y, nullptr, &rgb)) << x << "," << y;
  return rgb;
}

uint32_t RawAt(const Surface& surface, int32_t x, int32_t y) {
  uint32_t raw = 0xDEADBEEF;
  EXPECT_TRUE(DirectDrawDevice::ReadPixel(surface, x, y, &raw, nullptr)) << x << "," << y;
  return raw;
}

// A picture whose every pixel differs, so that any shifted or mirrored copy shows.
Picture Gradient(int32_t width, int32_t height) {
  Picture picture;
  picture.Allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      picture.At(x, y) = Rgb(static_cast<uint32_t>(16 + x * 20), static_cast<uint32_t>(16 + y * 20),
                             static_cast<uint32_t>(200 - x * 10 - y * 5));
    }
  }
  return picture;
}

class DirectDrawDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "QuenvaleDirectDrawTest";
    RegisterClassA(&window_class);  // fails harmlessly when an earlier case registered it
    window_ = CreateWindowExA(0, "QuenvaleDirectDrawTest", "test", WS_POPUP | WS_VISIBLE, 0, 0,
                              kWindowWidth, kWindowHeight, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    device_ = std::make_unique<DirectDrawDevice>(window_);
    ASSERT_NO_THROW(device_->Initialize());
    ASSERT_TRUE(device_->CanDraw());
  }
  void TearDown() override {
    device_.reset();
    if (window_ != nullptr) DestroyWindow(window_);
  }

  Surface& Back() { return device_->BackSurface(); }

  HWND window_ = nullptr;
  std::unique_ptr<DirectDrawDevice> device_;
};

TEST_F(DirectDrawDeviceTest, BackSurfaceHasTheClientSizeAndStartsAtZero) {
  EXPECT_EQ(Back().Width(), kWindowWidth);
  EXPECT_EQ(Back().Height(), kWindowHeight);
  for (auto [x, y] : {std::pair{0, 0}, {kWindowWidth - 1, kWindowHeight - 1}, {100, 50}}) {
    EXPECT_EQ(RgbAt(Back(), x, y), 0u);
  }
}

class DirectDrawColorTest : public DirectDrawDeviceTest,
                            public testing::WithParamInterface<uint32_t> {};

TEST_P(DirectDrawColorTest, FillWithTheMatchedValueGivesTheColour) {
  const uint32_t color = GetParam();
  // Something other than the colour at (0, 0): matching must put it back.
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(0x00808080)));
  const uint32_t before = RawAt(Back(), 0, 0);
  const uint32_t value = Back().MatchDeviceColor(static_cast<int32_t>(color));
  EXPECT_EQ(RawAt(Back(), 0, 0), before);
  ASSERT_TRUE(Back().Fill(value));
  for (auto [x, y] : {std::pair{0, 0}, {kWindowWidth - 1, kWindowHeight - 1}, {17, 201}}) {
    EXPECT_EQ(RawAt(Back(), x, y), value);
    EXPECT_EQ(RgbAt(Back(), x, y), ToRgb(color)) << std::hex << color;
  }
}

INSTANTIATE_TEST_SUITE_P(Colours, DirectDrawColorTest,
                         testing::Values(0x000000u, 0xFFFFFFu, 0x0000FFu, 0x00FF00u, 0xFF0000u,
                                         0x336699u));

TEST_F(DirectDrawDeviceTest, PictureSurfaceHoldsThePicturesColours) {
  const Picture picture = Gradient(7, 5);
  std::unique_ptr<Surface> item = device_->CreateSurface(picture);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Width(), 7);
  EXPECT_EQ(item->Height(), 5);
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 7; ++x) {
      EXPECT_EQ(RgbAt(*item, x, y), picture.At(x, y) & 0x00FFFFFFu) << x << "," << y;
    }
  }
  EXPECT_EQ(device_->CreateSurface(Picture{}), nullptr);
}

class DirectDrawKeyTest : public DirectDrawDeviceTest, public testing::WithParamInterface<bool> {};

TEST_P(DirectDrawKeyTest, CopyLeavesKeyedPixelsOutOnlyWhenTransparent) {
  const bool transparent = GetParam();
  Picture picture = Gradient(6, 4);
  const uint32_t key_color = 0x00FF00FF;  // 0x00BBGGRR: magenta
  for (auto [x, y] : {std::pair{0, 0}, {3, 1}, {5, 3}}) picture.At(x, y) = 0xFF000000u | key_color;
  std::unique_ptr<Surface> item = device_->CreateSurface(picture);
  ASSERT_NE(item, nullptr);
  item->SetColorKey(item->MatchDeviceColor(static_cast<int32_t>(key_color)));
  EXPECT_EQ(item->ColorKey(), RawAt(*item, 3, 1));

  const int32_t background = 0x00204060;
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(background)));
  Back().CopyFrom(*item, Rect{0, 0, 6, 4}, 40, 30, transparent);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 6; ++x) {
      const uint32_t source = picture.At(x, y) & 0x00FFFFFFu;
      const bool keyed = source == key_color;
      const uint32_t want = transparent && keyed ? ToRgb(background) : source;
      EXPECT_EQ(RgbAt(Back(), 40 + x, 30 + y), want) << x << "," << y;
    }
  }
  EXPECT_EQ(RgbAt(Back(), 39, 30), ToRgb(background));
  EXPECT_EQ(RgbAt(Back(), 46, 33), ToRgb(background));
}

INSTANTIATE_TEST_SUITE_P(Transparency, DirectDrawKeyTest, testing::Bool());

struct DrawCase {
  int32_t x;
  int32_t y;
};

class DirectDrawClipTest : public DirectDrawDeviceTest,
                           public testing::WithParamInterface<DrawCase> {};

// The image list cuts the rectangles; the device has to copy exactly what is left.
TEST_P(DirectDrawClipTest, ItemDrawnAcrossAnEdgeIsClipped) {
  const DrawCase c = GetParam();
  SurfaceImageList list(1);
  list.Initialized(*device_);
  PictureItem& item = list.Items(0);
  item.GetPicture() = Gradient(8, 8);
  item.Transparent = false;
  item.Restore();
  ASSERT_EQ(item.SurfaceCount(), 1u);

  const int32_t background = 0x00102030;
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(background)));
  item.Draw(Back(), c.x, c.y, 0);
  for (int32_t y = c.y - 1; y <= c.y + 8; ++y) {
    for (int32_t x = c.x - 1; x <= c.x + 8; ++x) {
      if (x < 0 || y < 0 || x >= kWindowWidth || y >= kWindowHeight) continue;
      const bool inside = x >= c.x && x < c.x + 8 && y >= c.y && y < c.y + 8;
      const uint32_t want =
          inside ? item.GetPicture().At(x - c.x, y - c.y) & 0x00FFFFFFu : ToRgb(background);
      EXPECT_EQ(RgbAt(Back(), x, y), want) << x << "," << y;
    }
  }
  list.Finalized();
}

TEST_F(DirectDrawDeviceTest, LostSurfacesAreRestoredWithTheirPicturesBeforeDrawing) {
  SurfaceImageList list(1);
  list.Initialized(*device_);
  PictureItem& item = list.Items(0);
  item.GetPicture() = Gradient(8, 8);
  item.Transparent = false;
  item.Restore();
  int restored = 0;
  device_->SetOnRestored([&] {
    ++restored;
    list.Restored();
  });

  device_->LoseSurfacesForTest();
  // The check before drawing restores both surfaces and has the list rebuild its items, once.
  ASSERT_TRUE(device_->CanDraw());
  EXPECT_EQ(restored, 1);
  EXPECT_TRUE(device_->CanDraw());
  EXPECT_EQ(restored, 1);

  const int32_t background = 0x00405060;
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(background)));
  item.Draw(Back(), 20, 30, 0);
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      EXPECT_EQ(RgbAt(Back(), 20 + x, 30 + y), item.GetPicture().At(x, y) & 0x00FFFFFFu)
          << x << "," << y;
    }
  }
  EXPECT_EQ(RgbAt(Back(), 19, 30), ToRgb(background));
  device_->SetOnRestored(nullptr);
  list.Finalized();
}

INSTANTIATE_TEST_SUITE_P(Edges, DirectDrawClipTest,
                         testing::Values(DrawCase{-3, -2}, DrawCase{-7, 100}, DrawCase{50, -5},
                                         DrawCase{kWindowWidth - 3, kWindowHeight - 6},
                                         DrawCase{10, 10}));

// Four 4 x 4 blocks of one colour each. Wine's DirectDraw filters scaled copies, so the checks
// keep to where a block's pixels are sampled only among themselves.
Picture Quadrants() {
  Picture picture;
  picture.Allocate(8, 8);
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 8; ++x) {
      picture.At(x, y) = x < 4 ? (y < 4 ? Rgb(200, 0, 0) : Rgb(0, 0, 200))
                               : (y < 4 ? Rgb(0, 200, 0) : Rgb(200, 200, 0));
    }
  }
  return picture;
}

TEST_F(DirectDrawDeviceTest, StretchScalesAndCutsAtTheEdges) {
  const Picture picture = Quadrants();
  std::unique_ptr<Surface> item = device_->CreateSurface(picture);
  ASSERT_NE(item, nullptr);
  const int32_t background = 0x00505050;
  const uint32_t bg = ToRgb(background);
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(background)));
  const uint32_t tl = picture.At(0, 0) & 0x00FFFFFFu, tr = picture.At(7, 0) & 0x00FFFFFFu;
  const uint32_t bl = picture.At(0, 7) & 0x00FFFFFFu, br = picture.At(7, 7) & 0x00FFFFFFu;
  const Rect all{0, 0, 8, 8};

  // Inside: 10 x 5 pixels for each source pixel.
  Back().StretchFrom(*item, all, Rect{100, 100, 180, 140}, false);
  EXPECT_EQ(RgbAt(Back(), 110, 110), tl);
  EXPECT_EQ(RgbAt(Back(), 160, 110), tr);
  EXPECT_EQ(RgbAt(Back(), 110, 130), bl);
  EXPECT_EQ(RgbAt(Back(), 160, 130), br);
  EXPECT_EQ(RgbAt(Back(), 180, 120), bg);
  EXPECT_EQ(RgbAt(Back(), 120, 140), bg);
  EXPECT_EQ(RgbAt(Back(), 99, 120), bg);

  // Half outside past the top-left corner: only the bottom-right block shows, at full scale
  // (a picture squeezed into the visible part would show the top-left block there instead).
  Back().StretchFrom(*item, all, Rect{-40, -40, 40, 40}, false);
  for (auto [x, y] : {std::pair{5, 5}, {20, 20}, {34, 6}, {6, 34}}) {
    EXPECT_EQ(RgbAt(Back(), x, y), br) << x << "," << y;
  }
  EXPECT_EQ(RgbAt(Back(), 40, 5), bg);
  EXPECT_EQ(RgbAt(Back(), 5, 40), bg);

  // Past the bottom-right corner: the top-left block.
  const int32_t w = kWindowWidth, h = kWindowHeight;
  Back().StretchFrom(*item, all, Rect{w - 40, h - 40, w + 40, h + 40}, false);
  for (auto [x, y] : {std::pair{w - 35, h - 35}, {w - 6, h - 6}, {w - 20, h - 34}}) {
    EXPECT_EQ(RgbAt(Back(), x, y), tl) << x << "," << y;
  }
  EXPECT_EQ(RgbAt(Back(), w - 41, h - 10), bg);

  // An empty target leaves everything alone.
  Back().StretchFrom(*item, all, Rect{200, 20, 200, 60}, false);
  Back().StretchFrom(*item, all, Rect{200, 20, 240, 20}, false);
  EXPECT_EQ(RgbAt(Back(), 200, 20), bg);
  EXPECT_EQ(RgbAt(Back(), 220, 40), bg);
}

struct TextCase {
  int32_t font_color;  // 0x00BBGGRR or a system colour
  int32_t background;
};

class DirectDrawTextTest : public DirectDrawDeviceTest,
                           public testing::WithParamInterface<TextCase> {};

TEST_P(DirectDrawTextTest, TextIsDrawnInTheFontColourWithinItsWidth) {
  const TextCase c = GetParam();
  const auto font_color = static_cast<uint32_t>(c.font_color);
  const uint32_t ink = (font_color & 0xFF000000u) != 0
                           ? GetSysColor(static_cast<int>(font_color & 0xFF))
                           : font_color;
  ASSERT_NE(ink, static_cast<uint32_t>(c.background));
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(c.background)));

  Font font;
  font.Name = "Arial";
  font.Height = -28;
  font.Style = fsBold;
  font.Color = c.font_color;
  Canvas& canvas = Back().GetCanvas();
  Font small = font;
  small.Height = -10;
  canvas.SetFont(small);
  const std::string text = "HIH";
  const int32_t small_width = canvas.TextWidth(text);
  // A font set while the canvas holds the device context takes effect at once.
  canvas.SetFont(font);
  const int32_t width = canvas.TextWidth(text);
  ASSERT_GT(small_width, 0);
  ASSERT_GT(width, small_width * 2);
  const int32_t left = 20, top = 30;
  canvas.TextOut(left, top, text);
  canvas.Release();

  int ink_pixels = 0, changed = 0;
  for (int32_t y = 0; y < 100; ++y) {
    for (int32_t x = 0; x < width + 60; ++x) {
      const uint32_t rgb = RgbAt(Back(), x, y);
      if (rgb == ToRgb(static_cast<uint32_t>(c.background))) continue;
      ++changed;
      if (rgb == ToRgb(ink)) ++ink_pixels;
      EXPECT_TRUE(x >= left && x < left + width && y >= top && y < top + 40)
          << "drawn at " << x << "," << y;
    }
  }
  // Bold capitals of 28 pixels have solid stems, whatever the smoothing does to their edges.
  EXPECT_GT(ink_pixels, 50) << changed << " pixels changed";
  // Copies work again once the canvas is released.
  EXPECT_TRUE(Back().Fill(Back().MatchDeviceColor(c.background)));
  EXPECT_EQ(RgbAt(Back(), left + width / 2, top + 14), ToRgb(static_cast<uint32_t>(c.background)));
}

INSTANTIATE_TEST_SUITE_P(Colours, DirectDrawTextTest,
                         testing::Values(TextCase{0x0000FF, 0x000000},
                                         TextCase{0xFFFFFF, 0x804000},
                                         TextCase{static_cast<int32_t>(0xFF000008u), 0xFFFFFF}));

TEST_F(DirectDrawDeviceTest, ResizeRebuildsTheBackSurfaceAtTheNewClientSize) {
  ASSERT_TRUE(SetWindowPos(window_, nullptr, 0, 0, 200, 100, SWP_NOZORDER | SWP_NOMOVE));
  device_->Resize();
  ASSERT_TRUE(device_->CanDraw());
  EXPECT_EQ(Back().Width(), 200);
  EXPECT_EQ(Back().Height(), 100);
  EXPECT_EQ(RgbAt(Back(), 199, 99), 0u);
}

TEST_F(DirectDrawDeviceTest, FlipAndRepaintKeepTheDeviceDrawing) {
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(0x0000C000)));
  device_->Flip();
  EXPECT_TRUE(device_->CanDraw());
  device_->Repaint();
  EXPECT_TRUE(device_->CanDraw());
  // The back surface is shown, not consumed.
  EXPECT_EQ(RgbAt(Back(), 5, 5), ToRgb(0x0000C000));
}

// The screen as GDI sees it, 0x00RRGGBB: under Wine the primary surface is the desktop itself.
uint32_t ScreenRgb(int32_t x, int32_t y) {
  HDC screen = GetDC(nullptr);
  const COLORREF color = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return ToRgb(color);
}

void PumpMessages() {
  for (int i = 0; i < 5; ++i) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(20);
  }
}

// Wine shows a present on the desktop a moment later: the pixel is read until it is `want` or
// two seconds have passed, with the window's messages handled meanwhile.
uint32_t SettledScreenRgb(int32_t x, int32_t y, uint32_t want) {
  uint32_t rgb = ScreenRgb(x, y);
  for (int i = 0; i < 40 && rgb != want; ++i) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(50);
    rgb = ScreenRgb(x, y);
  }
  return rgb;
}

struct FlipCase {
  int32_t left;  // where the window is moved to
  int32_t top;
  int32_t back_width;  // the size the back surface is given before the window gets its own back
  int32_t back_height;
};

class DirectDrawFlipTest : public DirectDrawDeviceTest,
                           public testing::WithParamInterface<FlipCase> {};

// A back surface of another size than the window is centred in it, the halving truncating
// toward zero (320 - 401 = -81 moves the origin by -40, not -41).
//
// The back surface gets its size from the window: the window is resized, the device follows,
// and the window goes back to its first size. (Wine keeps drawing a DirectDraw window at the
// size it had when DirectDraw was set up, so the window has to be back at that size for the
// screen to show the present where Windows would.)
TEST_P(DirectDrawFlipTest, FlipShowsTheBackSurfaceCentredAtTheWindow) {
  const FlipCase c = GetParam();
  if (c.back_width != kWindowWidth || c.back_height != kWindowHeight) {
    ASSERT_TRUE(SetWindowPos(window_, nullptr, 0, 0, c.back_width, c.back_height,
                             SWP_NOZORDER | SWP_NOMOVE));
    PumpMessages();
    device_->Resize();
    ASSERT_EQ(Back().Width(), c.back_width);
  }
  ASSERT_TRUE(SetWindowPos(window_, HWND_TOPMOST, c.left, c.top, kWindowWidth, kWindowHeight, 0));
  PumpMessages();
  ASSERT_TRUE(device_->CanDraw());

  const int32_t background = 0x00303030, marker = 0x0000E0E0;
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(background)));
  Picture dot;
  dot.Allocate(1, 1);
  dot.At(0, 0) = 0xFF000000u | ToRgb(marker);
  std::unique_ptr<Surface> item = device_->CreateSurface(dot);
  ASSERT_NE(item, nullptr);
  const int32_t mark_x = 150, mark_y = 60;
  Back().CopyFrom(*item, Rect{0, 0, 1, 1}, mark_x, mark_y, false);
  ASSERT_EQ(RgbAt(Back(), mark_x, mark_y), ToRgb(marker));

  device_->Flip();
  ASSERT_TRUE(device_->CanDraw());
  POINT origin = {0, 0};
  ASSERT_TRUE(ClientToScreen(window_, &origin));
  EXPECT_EQ(origin.x, c.left);
  const int32_t x = origin.x + mark_x + (kWindowWidth - c.back_width) / 2;
  const int32_t y = origin.y + mark_y + (kWindowHeight - c.back_height) / 2;
  EXPECT_EQ(SettledScreenRgb(x, y, ToRgb(marker)), ToRgb(marker));
  for (auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}}) {
    EXPECT_EQ(ScreenRgb(x + dx, y + dy), ToRgb(background)) << dx << "," << dy;
  }

  // Repaint shows the back surface as it is now.
  const int32_t repainted = 0x00A00000;
  ASSERT_TRUE(Back().Fill(Back().MatchDeviceColor(repainted)));
  device_->Repaint();
  EXPECT_EQ(SettledScreenRgb(x, y, ToRgb(repainted)), ToRgb(repainted));
}

INSTANTIATE_TEST_SUITE_P(Placements, DirectDrawFlipTest,
                         testing::Values(FlipCase{0, 0, kWindowWidth, kWindowHeight},
                                         FlipCase{37, 23, kWindowWidth, kWindowHeight},
                                         FlipCase{0, 0, 201, 101}, FlipCase{11, 7, 401, 301}));

TEST_F(DirectDrawDeviceTest, FinalizedDeviceDrawsNothing) {
  device_->Finalize();
  EXPECT_FALSE(device_->Initialized());
  EXPECT_FALSE(device_->CanDraw());
  device_->Flip();  // nothing to show, nothing to fail
  device_->Repaint();
  EXPECT_EQ(Back().Width(), 0);
  EXPECT_EQ(Back().MatchDeviceColor(0xFFFFFF), 0u);
  EXPECT_FALSE(Back().Fill(0));
  EXPECT_EQ(device_->CreateSurface(Gradient(2, 2)), nullptr);
  // And it comes back.
  ASSERT_NO_THROW(device_->Initialize());
  EXPECT_TRUE(device_->CanDraw());
  EXPECT_EQ(Back().Width(), kWindowWidth);
}

TEST(DirectDrawDeviceLifecycleTest, NotInitializedCannotDraw) {
  DirectDrawDevice device(GetDesktopWindow());
  EXPECT_FALSE(device.Initialized());
  EXPECT_FALSE(device.CanDraw());
  device.Flip();
  EXPECT_EQ(device.BackSurface().Width(), 0);
}

}  // namespace
}  // namespace quenvale
