#include "display/image_list.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quenvale {

void PictureItem::SetTransparentColor(int32_t color) {
  if (color == transparent_color_) return;
  transparent_color_ = color;
  ++version_;
  for (const auto& surface : surfaces_) {
    surface->SetColorKey(surface->MatchDeviceColor(color));
  }
}

void PictureItem::ResampleForDisplay(int32_t width, int32_t height) {
  const int32_t pw = picture_.width, ph = picture_.height;
  if (width <= 0 || height <= 0 || pw <= 0 || ph <= 0 || (width == pw && height == ph)) return;
  Picture shrunk;
  shrunk.width = width;
  shrunk.height = height;
  shrunk.has_alpha = picture_.has_alpha;
  shrunk.pixels.resize(static_cast<size_t>(width) * height);
  std::vector<int32_t> columns(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x) columns[x] = static_cast<int32_t>(SampleIndex(x, pw, width));
  for (int32_t y = 0; y < height; ++y) {
    const uint32_t* in =
        picture_.pixels.data() + static_cast<size_t>(SampleIndex(y, ph, height)) * pw;
    uint32_t* out = shrunk.pixels.data() + static_cast<size_t>(y) * width;
    for (int32_t x = 0; x < width; ++x) out[x] = in[columns[x]];
  }
  const int32_t loaded_width = LoadedWidth(), loaded_height = LoadedHeight();
  picture_ = std::move(shrunk);
  ++version_;
  loaded_width_ = loaded_width;
  loaded_height_ = loaded_height;
}

void PictureItem::DropSurfaces() {
  surfaces_.clear();
  patterns_.clear();
  ++version_;
}

void PictureItem::Initialize() {
  DropSurfaces();
  initialized_ = true;
}

void PictureItem::Finalize() {
  DropSurfaces();
  initialized_ = false;
}

void PictureItem::Restore() {
  if (picture_.width <= 0 || picture_.height <= 0) return;
  DrawDevice* device = owner_ != nullptr ? owner_->Device() : nullptr;
  if (!initialized_ && device != nullptr) Initialize();
  if (!initialized_ || device == nullptr) return;

  DropSurfaces();
  std::unique_ptr<Surface> surface = device->CreateSurface(picture_);
  if (!surface) return;
  surface->SetColorKey(surface->MatchDeviceColor(transparent_color_));
  const int32_t cell_width = Width(), cell_height = Height();
  const int32_t columns = cell_width > 0 ? picture_.width / cell_width : 0;
  const int32_t rows = cell_height > 0 ? picture_.height / cell_height : 0;
  if ((cell_width == picture_.width && cell_height == picture_.height) || columns == 0 ||
      rows == 0) {
    patterns_.push_back(Rect{0, 0, picture_.width, picture_.height});
  } else {
    for (int32_t row = 0; row < rows; ++row) {
      for (int32_t column = 0; column < columns; ++column) {
        const int32_t left = column * cell_width, top = row * cell_height;
        patterns_.push_back(Rect{left, top, left + cell_width, top + cell_height});
      }
    }
  }
  surfaces_.push_back(std::move(surface));
}

Surface* PictureItem::Source(int pattern) const {
  if (!initialized_ || pattern < 0 || pattern >= PatternCount() || surfaces_.empty()) {
    return nullptr;
  }
  return surfaces_.front().get();
}

bool PictureItem::ClipCell(const Surface& dest, const Surface& source, int pattern, int32_t x,
                           int32_t y, SurfaceCopy* copy) const {
  if (x > dest.Width() || y > dest.Height()) return false;

  // 64-bit, so that a position near the end of the int32 range cannot overflow.
  Rect src = patterns_[static_cast<size_t>(pattern)];
  int64_t src_left = src.Left, src_top = src.Top, src_right = src.Right, src_bottom = src.Bottom;
  int64_t dst_left = x, dst_top = y;
  int64_t dst_right = dst_left + (src_right - src_left);
  int64_t dst_bottom = dst_top + (src_bottom - src_top);

  // Whatever the destination loses on one side, the source loses on the same side.
  auto clip = [](int64_t* low, int64_t* high, int64_t limit, int64_t* other_low,
                 int64_t* other_high) {
    if (*low < 0) {
      *other_low -= *low;
      *low = 0;
    }
    if (*high > limit) {
      *other_high -= *high - limit;
      *high = limit;
    }
  };
  clip(&dst_left, &dst_right, dest.Width(), &src_left, &src_right);
  clip(&dst_top, &dst_bottom, dest.Height(), &src_top, &src_bottom);
  clip(&src_left, &src_right, source.Width(), &dst_left, &dst_right);
  clip(&src_top, &src_bottom, source.Height(), &dst_top, &dst_bottom);
  if (dst_right <= dst_left || dst_bottom <= dst_top || src_right <= src_left ||
      src_bottom <= src_top) {
    return false;
  }
  copy->source = Rect{static_cast<int32_t>(src_left), static_cast<int32_t>(src_top),
                      static_cast<int32_t>(src_right), static_cast<int32_t>(src_bottom)};
  copy->x = static_cast<int32_t>(dst_left);
  copy->y = static_cast<int32_t>(dst_top);
  return true;
}

void PictureItem::Draw(Surface& dest, int32_t x, int32_t y, int pattern) {
  Surface* source = Source(pattern);
  SurfaceCopy copy;
  if (source == nullptr || !ClipCell(dest, *source, pattern, x, y, &copy)) return;
  dest.CopyFrom(*source, copy.source, copy.x, copy.y, Transparent);
}

void PictureItem::DrawEach(Surface& dest, const std::vector<std::pair<int32_t, int32_t>>& places,
                           int pattern) {
  Surface* source = Source(pattern);
  if (source == nullptr) return;
  std::vector<SurfaceCopy> copies;
  copies.reserve(places.size());
  for (const auto& [x, y] : places) {
    SurfaceCopy copy;
    if (ClipCell(dest, *source, pattern, x, y, &copy)) copies.push_back(copy);
  }
  dest.CopyEach(*source, copies, Transparent);
}

bool PictureItem::RedrawPart(Surface& dest, const Rect& rect, const Rect& part, int pattern) {
  Surface* source = Source(pattern);
  if (source == nullptr) return false;
  const Rect& cell = patterns_[static_cast<size_t>(pattern)];
  if (cell.Width() != rect.Width() || cell.Height() != rect.Height()) return false;
  const Rect inside = Intersection(part, rect);
  if (inside.Empty()) return true;
  const Rect from{cell.Left + (inside.Left - rect.Left), cell.Top + (inside.Top - rect.Top),
                  cell.Left + (inside.Right - rect.Left), cell.Top + (inside.Bottom - rect.Top)};
  dest.CopyFrom(*source, from, inside.Left, inside.Top, Transparent);
  return true;
}

void PictureItem::StretchDraw(Surface& dest, const Rect& rect, int pattern) {
  Surface* source = Source(pattern);
  if (source == nullptr) return;
  const Rect& pattern_rect = patterns_[static_cast<size_t>(pattern)];
  if (rect.Empty() || pattern_rect.Empty()) return;
  dest.StretchFrom(*source, pattern_rect, rect, Transparent);
}

SurfaceImageList::SurfaceImageList(size_t item_count) {
  items_.reserve(item_count);
  for (size_t i = 0; i < item_count; ++i) items_.push_back(std::make_unique<PictureItem>(this));
}

void SurfaceImageList::Initialized(DrawDevice& device) {
  device_ = &device;
  for (const auto& item : items_) item->Initialize();
}

void SurfaceImageList::Finalized() {
  for (const auto& item : items_) item->Finalize();
}

void SurfaceImageList::Restored() {
  for (const auto& item : items_) item->Restore();
}

}  // namespace quenvale
