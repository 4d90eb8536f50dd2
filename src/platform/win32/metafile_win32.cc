// Metafiles are drawn by GDI into a 32-bit DIB at 96 pixels per inch. GDI gets only files whose
// records have been walked here first: each inside the file and the last one the end record, so
// that a damaged or cut-off file is refused instead of being read past its end.
#include <windows.h>

#include <cstring>

#include "imaging/decoders.h"

namespace quenvale {

namespace {

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF" at offset 40
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr size_t kEmfHeaderSize = 88;
constexpr size_t kWmfHeaderSize = 18;
constexpr size_t kPlaceableSize = 22;
constexpr int64_t kPixelsPerInch = 96;
constexpr int64_t kHimetricPerInch = 2540;  // hundredths of a millimetre

struct EnhMetafile {
  HENHMETAFILE handle = nullptr;
  EnhMetafile() = default;
  EnhMetafile(const EnhMetafile&) = delete;
  EnhMetafile& operator=(const EnhMetafile&) = delete;
  ~EnhMetafile() {
    if (handle != nullptr) DeleteEnhMetaFile(handle);
  }
};

// A memory DC with a top-down 32-bit DIB selected into it.
class DrawingSurface {
 public:
  DrawingSurface(int32_t width, int32_t height) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    if (dc_ != nullptr) dib_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (dib_ == nullptr || bits_ == nullptr) {
      Release();
      throw PictureError("WMF/EMF: cannot create a drawing surface");
    }
    old_ = SelectObject(dc_, dib_);
  }
  DrawingSurface(const DrawingSurface&) = delete;
  DrawingSurface& operator=(const DrawingSurface&) = delete;
  ~DrawingSurface() { Release(); }

  HDC dc() const { return dc_; }
  const uint32_t* bits() const { return static_cast<const uint32_t*>(bits_); }
  uint32_t* bits() { return static_cast<uint32_t*>(bits_); }

 private:
  void Release() {
    if (old_ != nullptr) SelectObject(dc_, old_);
    if (dib_ != nullptr) DeleteObject(dib_);
    if (dc_ != nullptr) DeleteDC(dc_);
    old_ = dib_ = nullptr;
    dc_ = nullptr;
  }

  HDC dc_ = nullptr;
  HGDIOBJ dib_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
};

bool IsEmf(const uint8_t* data, size_t size) {
  return size >= kEmfHeaderSize && Le32(data) == kEmrHeader && Le32(data + 40) == kEmfSignature;
}

bool IsPlaceable(const uint8_t* data, size_t size) {
  return size >= kPlaceableSize && Le32(data) == 0x9AC6CDD7u;
}

// The length of the EMF as its header gives it, once every record has been found inside it.
size_t CheckEmf(const uint8_t* data, size_t size) {
  const uint32_t header_size = Le32(data + 4);
  const uint32_t total = Le32(data + 48);
  if (header_size < kEmfHeaderSize || header_size % 4 != 0 || total < header_size) {
    throw PictureError("EMF: damaged header");
  }
  if (total > size) throw PictureError("EMF: truncated data");
  for (size_t offset = 0; total - offset >= 8;) {
    const uint32_t type = Le32(data + offset);
    const uint32_t record_size = Le32(data + offset + 4);
    if (record_size < 8 || record_size % 4 != 0 || record_size > total - offset) {
      throw PictureError("EMF: damaged record");
    }
    offset += record_size;
    if (type == kEmrEof) return total;
  }
  throw PictureError("EMF: truncated data");
}

// The length of the WMF up to and with its end record.
size_t CheckWmf(const uint8_t* data, size_t size) {
  if (size < kWmfHeaderSize) throw PictureError("WMF: truncated data");
  const uint16_t type = Le16(data);
  if ((type != 1 && type != 2) || Le16(data + 2) != kWmfHeaderSize / 2) {
    throw PictureError("WMF: not a metafile");
  }
  for (size_t offset = kWmfHeaderSize; size - offset >= 6;) {
    const uint32_t words = Le32(data + offset);
    const uint16_t function = Le16(data + offset + 4);
    if (words < 3 || words > (size - offset) / 2) throw PictureError("WMF: damaged record");
    offset += static_cast<size_t>(words) * 2;
    if (function == 0) return offset;
  }
  throw PictureError("WMF: truncated data");
}

// length * 96 / per_inch, to the nearest pixel.
int64_t ToPixels(int64_t length, int64_t per_inch) {
  return (length * kPixelsPerInch + per_inch / 2) / per_inch;
}

}  // namespace

Picture DecodeMetafile(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) throw PictureError("WMF/EMF: too large");
  EnhMetafile metafile;
  int64_t width = 0;
  int64_t height = 0;
  if (IsEmf(data, size)) {
    metafile.handle = SetEnhMetaFileBits(static_cast<UINT>(CheckEmf(data, size)), data);
  } else {
    // A placeable header gives the picture's box in the metafile's units and how many of them
    // make an inch; GDI takes the metafile after those 22 bytes.
    METAFILEPICT suggested = {MM_ANISOTROPIC, 0, 0, nullptr};
    if (IsPlaceable(data, size)) {
      const int64_t box_width = static_cast<int64_t>(static_cast<int16_t>(Le16(data + 10))) -
                                static_cast<int16_t>(Le16(data + 6));
      const int64_t box_height = static_cast<int64_t>(static_cast<int16_t>(Le16(data + 12))) -
                                 static_cast<int16_t>(Le16(data + 8));
      const uint16_t per_inch = Le16(data + 14);
      if (per_inch == 0) throw PictureError("WMF: no units per inch");
      width = ToPixels(box_width < 0 ? -box_width : box_width, per_inch);
      height = ToPixels(box_height < 0 ? -box_height : box_height, per_inch);
      if (width <= 0 || height <= 0) throw PictureError("WMF/EMF: empty picture");
      suggested.xExt = static_cast<LONG>(width * kHimetricPerInch / kPixelsPerInch);
      suggested.yExt = static_cast<LONG>(height * kHimetricPerInch / kPixelsPerInch);
      data += kPlaceableSize;
      size -= kPlaceableSize;
    }
    const size_t length = CheckWmf(data, size);
    metafile.handle = SetWinMetaFileBits(static_cast<UINT>(length), data, nullptr, &suggested);
  }
  if (metafile.handle == nullptr) throw PictureError("WMF/EMF: not a metafile Windows can read");

  if (width == 0) {
    ENHMETAHEADER header;
    if (GetEnhMetaFileHeader(metafile.handle, sizeof header, &header) == 0) {
      throw PictureError("WMF/EMF: no header");
    }
    width = ToPixels(static_cast<int64_t>(header.rclFrame.right) - header.rclFrame.left,
                     kHimetricPerInch);
    height = ToPixels(static_cast<int64_t>(header.rclFrame.bottom) - header.rclFrame.top,
                      kHimetricPerInch);
    if (width <= 0 || height <= 0) throw PictureError("WMF/EMF: empty picture");
  }
  CheckPictureSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height));

  Picture picture;
  picture.Allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  DrawingSurface surface(picture.width, picture.height);
  // A metafile draws only what it paints; the rest stays white, as on paper.
  std::memset(surface.bits(), 0xFF, picture.pixels.size() * 4);
  RECT rect = {0, 0, picture.width, picture.height};
  // A record GDI cannot play makes this fail, yet the rest is drawn: keep what there is.
  PlayEnhMetaFile(surface.dc(), metafile.handle, &rect);
  GdiFlush();
  const uint32_t* source = surface.bits();
  for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = source[i] | 0xFF000000u;
  return picture;
}

}  // namespace quenvale
