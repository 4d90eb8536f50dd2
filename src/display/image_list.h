// Pictures kept as surfaces of the drawing device, and drawn onto other surfaces with clipping.
//
// The list is bound to a device with Initialized (every item then drops what it had and is ready
// to build surfaces), Finalized drops every surface, Restored rebuilds them after the device
// lost its surfaces. An item builds its surface in Restore, from its picture as it is then.
#ifndef QUENVALE_DISPLAY_IMAGE_LIST_H_
#define QUENVALE_DISPLAY_IMAGE_LIST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "display/surface.h"
#include "imaging/picture.h"

namespace quenvale {

class SurfaceImageList;

class PictureItem {
 public:
  // `owner` is the list the item belongs to; null for an item on its own, which is never bound
  // and so never builds a surface.
  explicit PictureItem(SurfaceImageList* owner = nullptr) : owner_(owner) {}
  PictureItem(const PictureItem&) = delete;
  PictureItem& operator=(const PictureItem&) = delete;

  Picture& GetPicture() { return picture_; }
  const Picture& GetPicture() const { return picture_; }

  int32_t PatternWidth = 0;  // one cell's size; 0 = the whole picture
  int32_t PatternHeight = 0;
  bool Transparent = true;  // leave out the colour key when drawing

  // 0x00BBGGRR.
  int32_t TransparentColor() const { return transparent_color_; }
  // Also re-keys every surface already built (to the device value each surface gives the
  // colour); the same value again changes nothing.
  void SetTransparentColor(int32_t color);

  // The size the picture came in at, which layout works with: the picture's own, unless
  // ResampleForDisplay has since put a copy of another size in its place.
  int32_t LoadedWidth() const { return loaded_width_ >= 0 ? loaded_width_ : picture_.width; }
  int32_t LoadedHeight() const { return loaded_height_ >= 0 ? loaded_height_ : picture_.height; }
  // A new picture has been put into GetPicture(): its own size is the loaded size again.
  void PictureLoaded() { loaded_width_ = loaded_height_ = -1; }
  // Replaces the picture with its copy at `width` x `height`, each pixel the one a stretch to
  // that size would sample: a picture always drawn at that size then costs that size's memory
  // (a photo larger than the screen) and is drawn by a plain copy (a small one stretched up).
  // The loaded size stays; its own size, or an empty one, changes nothing.
  void ResampleForDisplay(int32_t width, int32_t height);

  int32_t Width() const { return PatternWidth > 0 ? PatternWidth : picture_.width; }
  int32_t Height() const { return PatternHeight > 0 ? PatternHeight : picture_.height; }
  bool Initialized() const { return initialized_; }

  // Bound-list bookkeeping (the list calls these): drop the surfaces and set or clear the flag.
  void Initialize();
  void Finalize();

  // Rebuilds the surface from the picture. Nothing for an empty picture, or while the item is
  // not initialised (it initialises itself first if its list is bound).
  void Restore();

  // The cells, row by row, on the item's one surface: a single cell for the whole picture when
  // the cell size is the picture's; otherwise as many whole Width() x Height() cells as fit (a
  // cell larger than the picture leaves one cell, the whole picture).
  int PatternCount() const { return static_cast<int>(patterns_.size()); }
  Rect PatternRect(int pattern) const { return patterns_.at(static_cast<size_t>(pattern)); }
  size_t SurfaceCount() const { return surfaces_.size(); }
  Surface* GetSurface(size_t index) const {
    return index < surfaces_.size() ? surfaces_[index].get() : nullptr;
  }

  // Copies cell `pattern` with its top-left corner at (x, y), clipped to `dest` (the source
  // rectangle is cut by as much as the destination is). Nothing for an uninitialised item, a
  // pattern out of range, or a position right of or below `dest` (x > width, y > height).
  void Draw(Surface& dest, int32_t x, int32_t y, int pattern);
  // Draw at each of `places` in turn (later ones cover earlier ones), in one batch for the
  // surface.
  void DrawEach(Surface& dest, const std::vector<std::pair<int32_t, int32_t>>& places, int pattern);
  // Scales cell `pattern` into `rect`; nothing when either rectangle is empty.
  void StretchDraw(Surface& dest, const Rect& rect, int pattern);
  // Whether StretchDraw of `pattern` sets every pixel of its rectangle: the item draws it now,
  // and without the colour key.
  bool StretchCoversRect(int pattern) const {
    return !Transparent && Source(pattern) != nullptr &&
           !patterns_[static_cast<size_t>(pattern)].Empty();
  }
  // Draws again the part `part` of what StretchDraw(dest, rect, pattern) drew, where the cell
  // is the size of `rect`, so that it is drawn unscaled; false, drawing nothing, where it is not.
  bool RedrawPart(Surface& dest, const Rect& rect, const Rect& part, int pattern);
  // Changes whenever the item's surfaces are built, dropped or re-keyed, or its picture is
  // replaced by a resampled copy: what it draws may then differ.
  uint64_t Version() const { return version_; }

 private:
  void DropSurfaces();
  // The surface holding `pattern`, if the item can draw it now.
  Surface* Source(int pattern) const;
  // The part of cell `pattern` that Draw at (x, y) copies; false when nothing of it lands.
  bool ClipCell(const Surface& dest, const Surface& source, int pattern, int32_t x, int32_t y,
                SurfaceCopy* copy) const;

  SurfaceImageList* owner_;
  Picture picture_;
  int32_t loaded_width_ = -1, loaded_height_ = -1;  // -1: the picture's own
  int32_t transparent_color_ = 0;
  bool initialized_ = false;
  uint64_t version_ = 0;
  std::vector<std::unique_ptr<Surface>> surfaces_;
  std::vector<Rect> patterns_;
};

class SurfaceImageList {
 public:
  explicit SurfaceImageList(size_t item_count);
  SurfaceImageList(const SurfaceImageList&) = delete;
  SurfaceImageList& operator=(const SurfaceImageList&) = delete;

  size_t Count() const { return items_.size(); }
  PictureItem& Items(size_t index) { return *items_.at(index); }
  const PictureItem& Items(size_t index) const { return *items_.at(index); }

  // Binds the list to `device`, which must outlive the binding; every item drops its surfaces
  // and becomes initialised.
  void Initialized(DrawDevice& device);
  // Every item drops its surfaces and is no longer initialised. The binding stays, as the
  // device's own teardown and restart keep it: a later Restore initialises the item again.
  void Finalized();
  // Every item rebuilds its surface.
  void Restored();

  DrawDevice* Device() const { return device_; }

 private:
  DrawDevice* device_ = nullptr;
  std::vector<std::unique_ptr<PictureItem>> items_;
};

}  // namespace quenvale

#endif  // QUENVALE_DISPLAY_IMAGE_LIST_H_
