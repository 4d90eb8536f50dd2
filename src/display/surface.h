// The drawing layer a frame is drawn through: a back surface filled, copied onto and written on,
// then presented. Each platform implements it (DirectDraw on Windows, SDL on Linux), and the
// software implementation draws into memory for tests and for saverpack render.
#ifndef QUENVALE_DISPLAY_SURFACE_H_
#define QUENVALE_DISPLAY_SURFACE_H_

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/font.h"
#include "imaging/picture.h"

namespace quenvale {

// Nearest source index for destination offset `d` of `dest_size` across `source_size` pixels:
// floor((d + 0.5) * source_size / dest_size) in exact integer arithmetic. The one sampling of
// every stretch, so that a picture shrunk ahead of time draws as it would have been stretched.
inline int64_t SampleIndex(int64_t d, int64_t source_size, int64_t dest_size) {
  return ((2 * d + 1) * source_size) / (2 * dest_size);
}

struct Rect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool Empty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const Rect& o) const {
    return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
  }
};

// The part two rectangles share (empty when they share none).
inline Rect Intersection(const Rect& a, const Rect& b) {
  return Rect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
              std::min(a.Bottom, b.Bottom)};
}

// One copy of a batch: `source` (clipped to the source surface) with its top-left corner at
// (x, y).
struct SurfaceCopy {
  Rect source;
  int32_t x = 0;
  int32_t y = 0;
};

// Text on a surface. The font's colour and size are taken as they are when drawing; system
// colours (0xFF0000xx) are resolved by the implementation. Text is drawn without a background box.
class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void SetFont(const Font& font) = 0;
  virtual int32_t TextWidth(const std::string& text) = 0;
  // (x, y) is the top-left corner of the text's cell.
  virtual void TextOut(int32_t x, int32_t y, const std::string& text) = 0;
  // Hands the surface back for copies; the next drawing call takes it again.
  virtual void Release() = 0;
  // The smallest rectangle holding every pixel TextOut has changed since the last call (empty
  // when none); a canvas that cannot tell answers kEverywhere.
  virtual Rect TakeChangedRect() { return kEverywhere; }
  static constexpr Rect kEverywhere{-(1 << 30), -(1 << 30), 1 << 30, 1 << 30};
};

class Surface {
 public:
  virtual ~Surface() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  // Sets every pixel to a raw value of the surface's pixel format.
  virtual bool Fill(uint32_t device_value) = 0;
  // The same for the pixels of `rect` that lie on the surface.
  virtual bool FillRect(const Rect& rect, uint32_t device_value) = 0;
  // The raw pixel value the surface uses for a 24-bit colour 0x00BBGGRR.
  virtual uint32_t MatchDeviceColor(int32_t color) = 0;
  virtual Canvas& GetCanvas() = 0;
  // The raw value that colour-keyed copies from this surface leave out.
  virtual void SetColorKey(uint32_t device_value) = 0;
  virtual uint32_t ColorKey() const = 0;
  // Copies `source_rect` of `source` with its top-left corner at (x, y). Both rectangles are
  // already clipped to their surfaces. With `transparent`, source pixels equal to the source's
  // colour key are left out.
  virtual void CopyFrom(const Surface& source, const Rect& source_rect, int32_t x, int32_t y,
                        bool transparent) = 0;
  // The copies in turn, each as CopyFrom would make it: a later copy covers an earlier one. A
  // surface that can tell which pixels later copies cover may leave those out.
  virtual void CopyEach(const Surface& source, const std::vector<SurfaceCopy>& copies,
                        bool transparent) {
    for (const SurfaceCopy& c : copies) CopyFrom(source, c.source, c.x, c.y, transparent);
  }
  // Drawing behind: from BeginBehind to EndBehind, the pixels that CopyEach sets stay as they
  // are through every later fill and copy, as if those had come first. False, changing nothing,
  // where the surface cannot: the caller then draws from the back to the front. Text is always
  // drawn over what is there.
  virtual bool BeginBehind() { return false; }
  virtual void EndBehind() {}
  // Scales `source_rect` of `source` into `dest`; what falls outside this surface is cut off.
  virtual void StretchFrom(const Surface& source, const Rect& source_rect, const Rect& dest,
                           bool transparent) = 0;
};

// The drawing control: the back surface of the window's size, and its presentation.
class DrawDevice {
 public:
  virtual ~DrawDevice() = default;
  // False while the surfaces are missing or being rebuilt; lost surfaces are restored on the way.
  virtual bool CanDraw() = 0;
  virtual Surface& BackSurface() = 0;
  // Shows the back surface, centred in the window, after the wait for the vertical blank.
  virtual void Flip() = 0;
  // A surface holding `picture` at its own size (alpha is not used); null for an empty picture.
  virtual std::unique_ptr<Surface> CreateSurface(const Picture& picture) = 0;
  // Not 0 while the back surface keeps what was last drawn on it, and the same number from
  // frame to frame until it is replaced; 0 when it may not (a chain that flips its buffers),
  // which is the default.
  virtual uint64_t KeptBackSurface() const { return 0; }
};

}  // namespace quenvale

#endif  // QUENVALE_DISPLAY_SURFACE_H_
