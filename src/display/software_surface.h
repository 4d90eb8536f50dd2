// The drawing layer in memory: 32-bit X8R8G8B8 surfaces and a device that presents into a
// picture. Used by the tests and by saverpack render, and as the reference the platform layers
// are compared with.
#ifndef QUENVALE_DISPLAY_SOFTWARE_SURFACE_H_
#define QUENVALE_DISPLAY_SOFTWARE_SURFACE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/font.h"
#include "display/freetype_text.h"
#include "display/surface.h"
#include "imaging/picture.h"

namespace quenvale {

class SoftwareSurface;

// Rows of bits, one per pixel. A row is a word of 0, its bits from bit 64 on, and another word
// of 0 after them, so that 64 bits can be read from any bit of a row, from 64 before its first.
// After the last row come kSlack more words, so that a few words read (or rewritten as they
// are) past the end of any row stay in memory.
class PixelBits {
 public:
  static constexpr size_t kSlack = 4;
  void Reset(int32_t width, int32_t height) {
    words_ = (static_cast<size_t>(width) + 63) / 64 + 2;
    bits_.assign(words_ * static_cast<size_t>(height) + kSlack, 0);
  }
  uint64_t* Row(int32_t y) { return bits_.data() + words_ * static_cast<size_t>(y); }

 private:
  size_t words_ = 2;
  std::vector<uint64_t> bits_;
};

// Text drawn straight into a software surface's pixels.
class SoftwareCanvas : public Canvas {
 public:
  explicit SoftwareCanvas(SoftwareSurface& surface) : surface_(surface) {}
  void SetFont(const Font& font) override { text_.SetFont(font); }
  int32_t TextWidth(const std::string& text) override { return text_.TextWidth(text); }
  void TextOut(int32_t x, int32_t y, const std::string& text) override;
  // Memory needs no locking, so there is nothing to hand back.
  void Release() override {}
  Rect TakeChangedRect() override;
  FreeTypeText& Text() { return text_; }

 private:
  SoftwareSurface& surface_;
  FreeTypeText text_;
};

// Pixels are 0x00RRGGBB device values, rows top to bottom. The top byte is kept as written, and
// colour-keyed copies compare all 32 bits.
class SoftwareSurface : public Surface {
 public:
  // Black; a negative size counts as 0.
  SoftwareSurface(int32_t width, int32_t height);
  // The picture's colours, alpha dropped (pixel & 0x00FFFFFF).
  explicit SoftwareSurface(const Picture& picture);
  // Draws in memory the caller owns and keeps for the surface's life (a window's own image):
  // width x height words, rows without padding, taken as they are.
  SoftwareSurface(int32_t width, int32_t height, uint32_t* memory);

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  bool Fill(uint32_t device_value) override;
  bool FillRect(const Rect& rect, uint32_t device_value) override;
  // 0x00BBGGRR to 0x00RRGGBB; the top byte of `color` is ignored.
  uint32_t MatchDeviceColor(int32_t color) override;
  Canvas& GetCanvas() override;
  void SetColorKey(uint32_t device_value) override { color_key_ = device_value; }
  uint32_t ColorKey() const override { return color_key_; }
  // The source must be a SoftwareSurface (anything else is ignored). Rectangles reaching outside
  // either surface are clipped rather than trusted.
  void CopyFrom(const Surface& source, const Rect& source_rect, int32_t x, int32_t y,
                bool transparent) override;
  // Front to back: the last copy is drawn first, and every later-drawn (earlier) copy leaves
  // out the pixels already set, so each pixel is written once, by the copy that shows there.
  void CopyEach(const Surface& source, const std::vector<SurfaceCopy>& copies,
                bool transparent) override;
  bool BeginBehind() override;
  void EndBehind() override { behind_ = false; }
  // Nearest neighbour: destination pixel (dx, dy) of `dest` takes the source pixel under the
  // centre of that pixel mapped back into `source_rect`, that is
  //   sx = source_rect.Left + floor((dx - dest.Left + 0.5) * source_rect.Width() / dest.Width())
  // and likewise for y. Destination pixels outside this surface, or whose sample falls outside
  // the source surface, are left alone. Empty rectangles draw nothing.
  void StretchFrom(const Surface& source, const Rect& source_rect, const Rect& dest,
                   bool transparent) override;

  const uint32_t* Pixels() const { return pixels_; }
  uint32_t* MutablePixels() { return pixels_; }
  uint32_t Pixel(int32_t x, int32_t y) const {
    return pixels_[static_cast<size_t>(y) * width_ + x];
  }
  void SetPixel(int32_t x, int32_t y, uint32_t value) {
    pixels_[static_cast<size_t>(y) * width_ + x] = value;
  }
  // The surface as an opaque picture (alpha 0xFF), for PNG output.
  Picture ToPicture() const;

 private:
  int32_t width_;
  int32_t height_;
  std::vector<uint32_t> storage_;  // empty for a surface on the caller's memory
  uint32_t* pixels_;
  size_t count_;  // width x height
  uint32_t color_key_ = 0;
  // Made on first use: most surfaces (pictures of the image list) never draw text.
  std::unique_ptr<SoftwareCanvas> canvas_;
  // A bit per pixel, set where CopyEach has set it: while drawing behind, the pixels that stay.
  PixelBits covered_;
  // Per band of kBandRows rows and word of 64 columns, 1 once every pixel of it is covered:
  // copies skip a band there without looking at its rows.
  static constexpr int32_t kBandRows = 8;
  std::vector<uint8_t> full_bands_;
  size_t band_words_ = 0;
  bool behind_ = false;
  void ResetCovered();
};

// A window of `client` size showing a back surface. Flip presents the back surface centred in
// the client area, as a windowed present does.
class SoftwareDevice : public DrawDevice {
 public:
  // The back surface has the client size.
  SoftwareDevice(int32_t client_width, int32_t client_height);
  // A back surface of its own size (a display mode that differs from the window).
  SoftwareDevice(int32_t client_width, int32_t client_height, int32_t back_width,
                 int32_t back_height);

  bool CanDraw() override { return true; }
  Surface& BackSurface() override { return back_; }
  SoftwareSurface& Back() { return back_; }
  // Clears the screen black, then copies the back surface with its origin at
  // ((client - back) / 2) on each axis, the division truncating toward zero; what falls outside
  // the client area is cut off.
  void Flip() override;
  std::unique_ptr<Surface> CreateSurface(const Picture& picture) override;
  // The back surface is never replaced, and Flip only reads it.
  uint64_t KeptBackSurface() const override { return 1; }

  // What the last Flip showed (black before the first), alpha 0xFF.
  const Picture& Screen() const { return screen_; }
  int FlipCount() const { return flip_count_; }

 private:
  SoftwareSurface back_;
  Picture screen_;
  int flip_count_ = 0;
};

}  // namespace quenvale

#endif  // QUENVALE_DISPLAY_SOFTWARE_SURFACE_H_
