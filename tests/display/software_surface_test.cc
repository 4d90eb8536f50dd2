#include "display/software_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/png_writer.h"

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

// A surface holding exactly `rows` (all of the same length).
SoftwareSurface MakeSurface(const std::vector<std::vector<uint32_t>>& rows) {
  SoftwareSurface surface(static_cast<int32_t>(rows.empty() ? 0 : rows[0].size()),
                          static_cast<int32_t>(rows.size()));
  for (size_t y = 0; y < rows.size(); ++y) {
    for (size_t x = 0; x < rows[y].size(); ++x) {
      surface.SetPixel(static_cast<int32_t>(x), static_cast<int32_t>(y), rows[y][x]);
    }
  }
  return surface;
}

::testing::AssertionResult HasPixels(const SoftwareSurface& surface,
                                     const std::vector<std::vector<uint32_t>>& rows) {
  if (surface.Height() != static_cast<int32_t>(rows.size()) ||
      (!rows.empty() && surface.Width() != static_cast<int32_t>(rows[0].size()))) {
    return ::testing::AssertionFailure() << "size " << surface.Width() << "x" << surface.Height();
  }
  for (int32_t y = 0; y < surface.Height(); ++y) {
    for (int32_t x = 0; x < surface.Width(); ++x) {
      if (surface.Pixel(x, y) != rows[y][x]) {
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") is 0x" << std::hex << surface.Pixel(x, y)
               << ", expected 0x" << rows[y][x];
      }
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameSurface(const SoftwareSurface& a, const SoftwareSurface& b) {
  std::vector<std::vector<uint32_t>> rows(b.Height(), std::vector<uint32_t>(b.Width()));
  for (int32_t y = 0; y < b.Height(); ++y) {
    for (int32_t x = 0; x < b.Width(); ++x) rows[y][x] = b.Pixel(x, y);
  }
  return HasPixels(a, rows);
}

TEST(SoftwareSurfaceTest, NewSurfaceIsBlackAndFillSetsTheRawValueEverywhere) {
  SoftwareSurface surface(3, 2);
  EXPECT_TRUE(HasPixels(surface, {{0, 0, 0}, {0, 0, 0}}));
  EXPECT_TRUE(surface.Fill(0xAB123456u));
  EXPECT_TRUE(HasPixels(
      surface, {{0xAB123456u, 0xAB123456u, 0xAB123456u}, {0xAB123456u, 0xAB123456u, 0xAB123456u}}));
}

TEST(SoftwareSurfaceTest, NegativeSizeIsEmpty) {
  SoftwareSurface surface(-4, 7);
  EXPECT_EQ(surface.Width(), 0);
  EXPECT_EQ(surface.Height(), 7);
  EXPECT_TRUE(surface.Fill(1));  // nothing to fill, nothing to crash on
}

struct ColorCase {
  int32_t color;
  uint32_t device;
};

class MatchDeviceColorTest : public TestWithParam<ColorCase> {};

TEST_P(MatchDeviceColorTest, SwapsRedAndBlue) {
  SoftwareSurface surface(1, 1);
  EXPECT_EQ(surface.MatchDeviceColor(GetParam().color), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(Colors, MatchDeviceColorTest,
                         Values(ColorCase{0x000000, 0x000000}, ColorCase{0x0000FF, 0xFF0000},
                                ColorCase{0x00FF00, 0x00FF00}, ColorCase{0xFF0000, 0x0000FF},
                                ColorCase{0x123456, 0x563412},
                                // The top byte is not part of the colour.
                                ColorCase{static_cast<int32_t>(0xFF123456u), 0x563412}));

TEST(SoftwareSurfaceTest, ConstructedFromPictureDropsAlpha) {
  Picture picture;
  picture.width = 2;
  picture.height = 1;
  picture.pixels = {0x80112233u, 0x00FFFFFFu};
  SoftwareSurface surface(picture);
  EXPECT_TRUE(HasPixels(surface, {{0x112233u, 0xFFFFFFu}}));
}

TEST(SoftwareSurfaceTest, ToPictureIsOpaqueAndEncodes) {
  SoftwareSurface surface = MakeSurface({{0x010203u, 0xFFFFFFu}, {0u, 0x00ABCDEFu}});
  const Picture picture = surface.ToPicture();
  ASSERT_EQ(picture.width, 2);
  ASSERT_EQ(picture.height, 2);
  EXPECT_EQ(picture.pixels,
            (std::vector<uint32_t>{0xFF010203u, 0xFFFFFFFFu, 0xFF000000u, 0xFFABCDEFu}));
  EXPECT_FALSE(EncodePng(picture).empty());
}

constexpr uint32_t kKey = 0x00FF00FFu;
constexpr uint32_t kBg = 0x00999999u;

TEST(SoftwareSurfaceTest, CopyFromWithColourKeyLeavesKeyedPixelsOut) {
  SoftwareSurface source = MakeSurface({{1, kKey, 2}, {kKey, 3, 0xFFFF00FFu}});
  source.SetColorKey(kKey);
  SoftwareSurface dest(4, 3);
  dest.Fill(kBg);
  dest.CopyFrom(source, Rect{0, 0, 3, 2}, 1, 1, true);
  // The key compares all 32 bits: 0xFFFF00FF is not the key 0x00FF00FF and is copied.
  EXPECT_TRUE(
      HasPixels(dest, {{kBg, kBg, kBg, kBg}, {kBg, 1, kBg, 2}, {kBg, kBg, 3, 0xFFFF00FFu}}));
}

// Rows of every width up to a few groups of eight, keyed pixels mixed in at every density (none,
// all, runs, single ones, and values one bit off the key), placed at every offset: each pixel
// that is not the key lands, each that is leaves the destination as it was.
TEST(SoftwareSurfaceTest, KeyedCopiesMatchThePixelRuleAtEveryWidthAndOffset) {
  uint32_t state = 1;
  const auto next = [&state] { return state = state * 1103515245u + 12345u; };
  for (int32_t width = 1; width <= 35; ++width) {
    for (int density = 0; density <= 4; ++density) {
      SoftwareSurface source(width, 3);
      for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < width; ++x) {
          const uint32_t r = next() >> 8;
          const bool keyed = static_cast<int>(r % 4) < density;
          source.SetPixel(x, y, keyed ? kKey : (r % 7 == 0 ? kKey ^ (1u << (r % 32)) : r));
        }
      }
      source.SetColorKey(kKey);
      for (int32_t offset = -2; offset <= 3; ++offset) {
        SoftwareSurface dest(width + 4, 5);
        for (int32_t y = 0; y < 5; ++y) {
          for (int32_t x = 0; x < width + 4; ++x) dest.SetPixel(x, y, next() >> 8);
        }
        const std::vector<uint32_t> before(dest.Pixels(), dest.Pixels() + (width + 4) * 5);
        dest.CopyFrom(source, Rect{0, 0, width, 3}, offset, 1, true);
        for (int32_t y = 0; y < 5; ++y) {
          for (int32_t x = 0; x < width + 4; ++x) {
            const int32_t sx = x - offset, sy = y - 1;
            const bool inside = sx >= 0 && sx < width && sy >= 0 && sy < 3;
            const uint32_t expected = inside && source.Pixel(sx, sy) != kKey
                                          ? source.Pixel(sx, sy)
                                          : before[y * (width + 4) + x];
            ASSERT_EQ(dest.Pixel(x, y), expected)
                << "width " << width << " density " << density << " offset " << offset << " at "
                << x << "," << y;
          }
        }
      }
    }
  }
}

// A batch of copies sets exactly what the copies made one after the other set: across word
// boundaries of the coverage bits, with clipping on every side, keyed and not.
TEST(SoftwareSurfaceTest, CopyEachMatchesTheCopiesInTurn) {
  uint32_t state = 7;
  const auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 8; };
  const auto below = [&next](int32_t n) { return static_cast<int32_t>(next() % n); };
  int shown = 0;
  for (const int32_t width : {1, 63, 64, 65, 130, 200, 330}) {
    for (int round = 0; round < 40; ++round) {
      // Copies up to six words of coverage wide on the widest surface.
      const int32_t sw = 1 + below(width > 200 ? 300 : 90), sh = 1 + below(12);
      SoftwareSurface source(sw, sh);
      for (int32_t y = 0; y < sh; ++y) {
        for (int32_t x = 0; x < sw; ++x) source.SetPixel(x, y, below(3) == 0 ? kKey : next());
      }
      source.SetColorKey(kKey);
      // Every third round piles up enough copies to cover whole bands of rows.
      std::vector<SurfaceCopy> copies(round % 3 == 0 ? 40 + below(40) : 1 + below(12));
      for (SurfaceCopy& c : copies) {
        const int32_t left = below(sw) - 2, top = below(sh) - 1;
        c.source = Rect{left, top, left + 1 + below(sw + 3), top + 1 + below(sh + 2)};
        c.x = below(width + 40) - 30;
        c.y = below(24) - 6;
      }
      const bool transparent = round % 4 != 0;
      SoftwareSurface batch(width, 16), in_turn(width, 16);
      for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < width; ++x) batch.SetPixel(x, y, next());
      }
      std::copy(batch.Pixels(), batch.Pixels() + width * 16, in_turn.MutablePixels());
      const std::vector<uint32_t> before(batch.Pixels(), batch.Pixels() + width * 16);
      batch.CopyEach(source, copies, transparent);
      for (const SurfaceCopy& c : copies) in_turn.CopyFrom(source, c.source, c.x, c.y, transparent);
      ASSERT_TRUE(SameSurface(batch, in_turn)) << "width " << width << " round " << round;
      shown += !std::equal(before.begin(), before.end(), batch.Pixels());
    }
  }
  EXPECT_GT(shown, 100) << "the copies must land";
}

// Drawing behind a batch gives what drawing first and the batch after it gives, for each way of
// drawing a background: fills, plain and keyed copies, and stretches up and down.
TEST(SoftwareSurfaceTest, DrawingBehindMatchesDrawingFirst) {
  uint32_t state = 11;
  const auto next = [&state] { return (state = state * 1103515245u + 12345u) >> 8; };
  const auto below = [&next](int32_t n) { return static_cast<int32_t>(next() % n); };
  SoftwareSurface sprite(40, 9), picture(70, 13);
  for (int32_t y = 0; y < 13; ++y) {
    for (int32_t x = 0; x < 70; ++x) {
      if (x < 40 && y < 9) sprite.SetPixel(x, y, below(3) == 0 ? kKey : next());
      picture.SetPixel(x, y, below(4) == 0 ? kKey : next());
    }
  }
  sprite.SetColorKey(kKey);
  picture.SetColorKey(kKey);
  using Draw = void (*)(SoftwareSurface&, const SoftwareSurface&);
  const Draw backgrounds[] = {[](SoftwareSurface& s, const SoftwareSurface&) { s.Fill(kBg); },
                              [](SoftwareSurface& s, const SoftwareSurface&) {
                                s.FillRect(Rect{-5, 3, 97, 11}, kBg);
                              },
                              [](SoftwareSurface& s, const SoftwareSurface& p) {
                                s.CopyFrom(p, Rect{0, 0, 70, 13}, 20, 1, false);
                              },
                              [](SoftwareSurface& s, const SoftwareSurface& p) {
                                s.CopyFrom(p, Rect{3, 0, 70, 13}, -4, 2, true);
                              },
                              [](SoftwareSurface& s, const SoftwareSurface& p) {
                                s.StretchFrom(p, Rect{0, 0, 70, 13}, Rect{-3, 0, 160, 20}, false);
                              },
                              [](SoftwareSurface& s, const SoftwareSurface& p) {
                                s.StretchFrom(p, Rect{0, 0, 70, 13}, Rect{5, 2, 40, 9}, true);
                              }};
  for (const int32_t width : {64, 130}) {
    for (size_t b = 0; b < std::size(backgrounds); ++b) {
      for (int round = 0; round < 10; ++round) {
        std::vector<SurfaceCopy> copies(1 + below(8));
        for (SurfaceCopy& c : copies)
          c = SurfaceCopy{Rect{0, 0, 40, 9}, below(width) - 20, below(20) - 5};
        SoftwareSurface behind(width, 16), first(width, 16);
        for (int32_t i = 0; i < width * 16; ++i) behind.MutablePixels()[i] = next();
        std::copy(behind.Pixels(), behind.Pixels() + width * 16, first.MutablePixels());
        ASSERT_TRUE(behind.BeginBehind());
        behind.CopyEach(sprite, copies, true);
        backgrounds[b](behind, picture);
        behind.EndBehind();
        backgrounds[b](first, picture);
        first.CopyEach(sprite, copies, true);
        ASSERT_TRUE(SameSurface(behind, first)) << "width " << width << " background " << b;
        // Once ended, drawing is in order again.
        behind.Fill(kBg);
        first.Fill(kBg);
        ASSERT_TRUE(SameSurface(behind, first));
      }
    }
  }
}

TEST(SoftwareSurfaceTest, CopyFromOpaqueCopiesKeyedPixelsToo) {
  SoftwareSurface source = MakeSurface({{1, kKey, 2}, {kKey, 3, 4}});
  source.SetColorKey(kKey);
  SoftwareSurface dest(3, 3);
  dest.Fill(kBg);
  dest.CopyFrom(source, Rect{1, 0, 3, 2}, 0, 1, false);
  EXPECT_TRUE(HasPixels(dest, {{kBg, kBg, kBg}, {kKey, 2, kBg}, {3, 4, kBg}}));
}

TEST(SoftwareSurfaceTest, CopyFromClipsRectanglesThatReachOutside) {
  SoftwareSurface source = MakeSurface({{1, 2}, {3, 4}});
  SoftwareSurface dest(3, 3);
  dest.Fill(kBg);
  dest.CopyFrom(source, Rect{0, 0, 2, 2}, -1, -1, false);  // only pixel 4 lands
  dest.CopyFrom(source, Rect{0, 0, 2, 2}, 2, 2, false);    // only pixel 1 lands
  dest.CopyFrom(source, Rect{-1, 1, 5, 9}, 0, 1, false);   // source cut to (0,1)-(2,2)
  EXPECT_TRUE(HasPixels(dest, {{4, kBg, kBg}, {kBg, 3, 4}, {kBg, kBg, 1}}));
}

TEST(SoftwareSurfaceTest, CopyWithinOneSurfaceReadsTheOriginal) {
  SoftwareSurface surface = MakeSurface({{1, 2, 3, 4}});
  surface.CopyFrom(surface, Rect{0, 0, 3, 1}, 1, 0, false);
  EXPECT_TRUE(HasPixels(surface, {{1, 1, 2, 3}}));
}

const uint32_t A = 0xA, B = 0xB, C = 0xC, D = 0xD;

TEST(SoftwareSurfaceTest, StretchUpRepeatsEachPixel) {
  SoftwareSurface source = MakeSurface({{A, B}, {C, D}});
  SoftwareSurface dest(4, 4);
  dest.StretchFrom(source, Rect{0, 0, 2, 2}, Rect{0, 0, 4, 4}, false);
  EXPECT_TRUE(HasPixels(dest, {{A, A, B, B}, {A, A, B, B}, {C, C, D, D}, {C, C, D, D}}));
}

TEST(SoftwareSurfaceTest, StretchSamplesUnderPixelCentres) {
  // 4 -> 2: centres 0.5 and 1.5 map to 1.0 and 3.0, so columns 1 and 3.
  SoftwareSurface four = MakeSurface({{1, 2, 3, 4}});
  SoftwareSurface two(2, 1);
  two.StretchFrom(four, Rect{0, 0, 4, 1}, Rect{0, 0, 2, 1}, false);
  EXPECT_TRUE(HasPixels(two, {{2, 4}}));

  // 3 -> 2: 0.5 * 1.5 = 0.75 and 1.5 * 1.5 = 2.25.
  SoftwareSurface three = MakeSurface({{1, 2, 3}});
  two.StretchFrom(three, Rect{0, 0, 3, 1}, Rect{0, 0, 2, 1}, false);
  EXPECT_TRUE(HasPixels(two, {{1, 3}}));

  // 2 -> 3: 0.5 * 2/3, 1.5 * 2/3 = 1.0 exactly, 2.5 * 2/3.
  SoftwareSurface pair = MakeSurface({{1, 2}});
  SoftwareSurface wide(3, 1);
  wide.StretchFrom(pair, Rect{0, 0, 2, 1}, Rect{0, 0, 3, 1}, false);
  EXPECT_TRUE(HasPixels(wide, {{1, 2, 2}}));

  // 5 -> 2 vertically, from a sub-rectangle starting at row 1: rows 1 + 1 and 1 + 3.
  SoftwareSurface column = MakeSurface({{9}, {10}, {11}, {12}, {13}, {14}});
  SoftwareSurface tall(1, 2);
  tall.StretchFrom(column, Rect{0, 1, 1, 6}, Rect{0, 0, 1, 2}, false);
  EXPECT_TRUE(HasPixels(tall, {{11}, {13}}));
}

TEST(SoftwareSurfaceTest, StretchHonoursColourKeyAndEmptyRectangles) {
  SoftwareSurface source = MakeSurface({{A, kKey}, {kKey, D}});
  source.SetColorKey(kKey);
  SoftwareSurface dest(2, 2);
  dest.Fill(kBg);
  dest.StretchFrom(source, Rect{0, 0, 2, 2}, Rect{0, 0, 2, 2}, true);
  EXPECT_TRUE(HasPixels(dest, {{A, kBg}, {kBg, D}}));

  SoftwareSurface untouched(2, 2);
  untouched.Fill(kBg);
  untouched.StretchFrom(source, Rect{0, 0, 2, 2}, Rect{1, 1, 1, 2}, false);
  untouched.StretchFrom(source, Rect{0, 0, 0, 2}, Rect{0, 0, 2, 2}, false);
  untouched.StretchFrom(source, Rect{0, 0, 2, 2}, Rect{2, 0, 0, 2}, false);  // reversed
  EXPECT_TRUE(HasPixels(untouched, {{kBg, kBg}, {kBg, kBg}}));
}

struct EdgeCase {
  const char* name;
  Rect dest;  // on a 6 x 5 surface, reaching past one or more edges
};

class StretchClipTest : public TestWithParam<EdgeCase> {};

// What lands on the surface is the matching window of the same stretch drawn on a surface large
// enough to hold all of it.
TEST_P(StretchClipTest, CutsWhatFallsOutsideTheSurface) {
  SoftwareSurface source = MakeSurface({{1, 2, 3}, {4, 5, 6}});
  const Rect dest = GetParam().dest;
  SoftwareSurface clipped(6, 5);
  clipped.Fill(kBg);
  clipped.StretchFrom(source, Rect{0, 0, 3, 2}, dest, false);

  constexpr int32_t kMargin = 20;
  SoftwareSurface large(6 + 2 * kMargin, 5 + 2 * kMargin);
  large.Fill(kBg);
  large.StretchFrom(
      source, Rect{0, 0, 3, 2},
      Rect{dest.Left + kMargin, dest.Top + kMargin, dest.Right + kMargin, dest.Bottom + kMargin},
      false);
  SoftwareSurface window(6, 5);
  window.CopyFrom(large, Rect{kMargin, kMargin, kMargin + 6, kMargin + 5}, 0, 0, false);
  EXPECT_TRUE(SameSurface(clipped, window));

  // Something of the picture shows, and not all of it.
  int shown = 0;
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 6; ++x) shown += clipped.Pixel(x, y) != kBg;
  }
  EXPECT_GT(shown, 0);
  EXPECT_LT(shown, dest.Width() * dest.Height());
}

INSTANTIATE_TEST_SUITE_P(Edges, StretchClipTest,
                         Values(EdgeCase{"Left", Rect{-4, 1, 3, 4}},
                                EdgeCase{"Top", Rect{1, -5, 5, 3}},
                                EdgeCase{"Right", Rect{3, 0, 11, 4}},
                                EdgeCase{"Bottom", Rect{0, 2, 5, 9}},
                                EdgeCase{"AllFour", Rect{-3, -2, 9, 8}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SoftwareDeviceTest, CreateSurfaceKeepsThePictureAndRefusesEmptyOnes) {
  SoftwareDevice device(8, 8);
  Picture picture;
  picture.width = 2;
  picture.height = 1;
  picture.pixels = {0xFF0A0B0Cu, 0x7F010203u};
  std::unique_ptr<Surface> surface = device.CreateSurface(picture);
  ASSERT_NE(surface, nullptr);
  auto* software = dynamic_cast<SoftwareSurface*>(surface.get());
  ASSERT_NE(software, nullptr);
  EXPECT_TRUE(HasPixels(*software, {{0x0A0B0Cu, 0x010203u}}));

  Picture empty;
  EXPECT_EQ(device.CreateSurface(empty), nullptr);
  empty.width = 3;  // a width alone is not a picture
  EXPECT_EQ(device.CreateSurface(empty), nullptr);
}

struct FlipCase {
  const char* name;
  int32_t client_width, client_height, back_width, back_height;
  int32_t origin_x, origin_y;  // where back pixel (0, 0) lands, possibly off screen
};

class FlipTest : public TestWithParam<FlipCase> {};

TEST_P(FlipTest, CentresTheBackSurfaceOnABlackScreen) {
  const FlipCase& c = GetParam();
  SoftwareDevice device(c.client_width, c.client_height, c.back_width, c.back_height);
  EXPECT_TRUE(device.CanDraw());
  ASSERT_EQ(device.BackSurface().Width(), c.back_width);
  for (int32_t y = 0; y < c.back_height; ++y) {
    for (int32_t x = 0; x < c.back_width; ++x) device.Back().SetPixel(x, y, 0x100 * y + x + 1);
  }
  device.Flip();
  device.Flip();
  EXPECT_EQ(device.FlipCount(), 2);
  const Picture& screen = device.Screen();
  ASSERT_EQ(screen.width, c.client_width);
  ASSERT_EQ(screen.height, c.client_height);
  for (int32_t y = 0; y < c.client_height; ++y) {
    for (int32_t x = 0; x < c.client_width; ++x) {
      const int32_t bx = x - c.origin_x, by = y - c.origin_y;
      const bool inside = bx >= 0 && by >= 0 && bx < c.back_width && by < c.back_height;
      const uint32_t expected =
          inside ? 0xFF000000u | static_cast<uint32_t>(0x100 * by + bx + 1) : 0xFF000000u;
      ASSERT_EQ(screen.At(x, y), expected) << "screen pixel " << x << ", " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FlipTest,
    Values(FlipCase{"SameSize", 4, 3, 4, 3, 0, 0}, FlipCase{"Smaller", 7, 6, 3, 2, 2, 2},
           // (5 - 2) / 2 = 1 and (4 - 1) / 2 = 1: halves truncated.
           FlipCase{"OddDifference", 5, 4, 2, 1, 1, 1},
           // (3 - 4) / 2 = 0 (not -1) and (2 - 5) / 2 = -1: truncated toward zero.
           FlipCase{"Larger", 3, 2, 4, 5, 0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenvale
