// The SDL drawing layer on SDL's window-less "dummy" video driver: what the core draws into the
// back surface reaches the window's pixels unchanged, through either presentation path, and a
// new window size gives a new back surface.
#include "platform/linux/sdl_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace quenvale {
namespace {

// A pattern no two neighbours share, in every channel.
uint32_t PatternPixel(int x, int y) {
  return static_cast<uint32_t>(((x * 37 + y * 11) & 0xFF) << 16 | ((x * 5 + y * 91) & 0xFF) << 8 |
                               ((x * 113 + y * 3) & 0xFF));
}

void DrawPattern(SoftwareSurface& surface) {
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) surface.SetPixel(x, y, PatternPixel(x, y));
  }
}

// What the window shows at (x, y) as 0x00RRGGBB.
uint32_t WindowPixel(SDL_Window* window, SDL_Renderer* renderer, int x, int y) {
  uint32_t pixel = 0;
  if (renderer != nullptr) {
    const SDL_Rect one{x, y, 1, 1};
    EXPECT_EQ(SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_RGB888, &pixel, 4), 0)
        << SDL_GetError();
    return pixel & 0xFFFFFF;
  }
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  const uint8_t* row = static_cast<const uint8_t*>(surface->pixels) + y * surface->pitch;
  uint32_t raw = 0;
  std::memcpy(&raw, row + x * surface->format->BytesPerPixel, surface->format->BytesPerPixel);
  uint8_t r, g, b;
  SDL_GetRGB(raw, surface->format, &r, &g, &b);
  return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | b;
}

// The path under test: "" for the window surface (what a machine without a GPU gets), or the
// name of an SDL render driver.
class SdlDeviceTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    if (GetParam().empty()) {
      unsetenv("SDL_RENDER_DRIVER");
    } else {
      setenv("SDL_RENDER_DRIVER", GetParam().c_str(), 1);
    }
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    window_ = SDL_CreateWindow("test", 0, 0, 64, 48, SDL_WINDOW_RESIZABLE);
    ASSERT_NE(window_, nullptr) << SDL_GetError();
  }
  void TearDown() override {
    device_.reset();
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    SDL_Quit();
    unsetenv("SDL_RENDER_DRIVER");
  }
  SDL_Renderer* Renderer() { return SDL_GetRenderer(window_); }

  SDL_Window* window_ = nullptr;
  std::unique_ptr<SdlDevice> device_;
};

TEST_P(SdlDeviceTest, FrameReachesTheWindowPixelForPixel) {
  device_ = std::make_unique<SdlDevice>(window_);
  EXPECT_EQ(device_->RendererName(), GetParam().empty() ? "window surface" : GetParam());
  EXPECT_FALSE(device_->Accelerated());
  ASSERT_TRUE(device_->CanDraw());
  ASSERT_EQ(device_->Width(), 64);
  ASSERT_EQ(device_->Height(), 48);
  auto& back = static_cast<SoftwareSurface&>(device_->BackSurface());
  DrawPattern(back);
  device_->Flip();
  int wrong = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      if (WindowPixel(window_, Renderer(), x, y) != PatternPixel(x, y)) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
}

TEST_P(SdlDeviceTest, NewWindowSizeGivesANewBackSurface) {
  device_ = std::make_unique<SdlDevice>(window_);
  SDL_SetWindowSize(window_, 40, 30);
  // Until the device hears of the new size it presents its old frame centred, clipped.
  DrawPattern(static_cast<SoftwareSurface&>(device_->BackSurface()));
  device_->Flip();
  EXPECT_EQ(WindowPixel(window_, Renderer(), 0, 0), PatternPixel(12, 9));
  EXPECT_EQ(WindowPixel(window_, Renderer(), 39, 29), PatternPixel(51, 38));

  device_->Resize();
  EXPECT_EQ(device_->Width(), 40);
  EXPECT_EQ(device_->Height(), 30);
  EXPECT_EQ(device_->BackSurface().Width(), 40);
  DrawPattern(static_cast<SoftwareSurface&>(device_->BackSurface()));
  device_->Flip();
  EXPECT_EQ(WindowPixel(window_, Renderer(), 39, 29), PatternPixel(39, 29));

  // A bigger window: the smaller frame sits in its middle on black.
  SDL_SetWindowSize(window_, 50, 40);
  device_->Flip();
  EXPECT_EQ(WindowPixel(window_, Renderer(), 0, 0), 0u);
  EXPECT_EQ(WindowPixel(window_, Renderer(), 5, 5), PatternPixel(0, 0));
  EXPECT_EQ(WindowPixel(window_, Renderer(), 44, 34), PatternPixel(39, 29));
  EXPECT_EQ(WindowPixel(window_, Renderer(), 49, 39), 0u);
}

TEST_P(SdlDeviceTest, PicturesBecomeSurfacesOfTheirOwnSize) {
  device_ = std::make_unique<SdlDevice>(window_);
  Picture picture;
  picture.Allocate(3, 2);
  picture.At(2, 1) = 0xFF123456;
  std::unique_ptr<Surface> surface = device_->CreateSurface(picture);
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->Width(), 3);
  EXPECT_EQ(surface->Height(), 2);
  EXPECT_EQ(static_cast<SoftwareSurface&>(*surface).Pixel(2, 1), 0x123456u);
  EXPECT_EQ(device_->CreateSurface(Picture{}), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Paths, SdlDeviceTest, ::testing::Values("", "software"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.empty() ? std::string("WindowSurface") : info.param;
                         });

}  // namespace
}  // namespace quenvale
