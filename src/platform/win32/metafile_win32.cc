// Metafiles are drawn by GDI into a 32-bit DIB at the size their header gives.
#include <windows.h>

#include <cstring>

#include "imaging/decoders.h"

namespace quenvale {

namespace {

constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF" at offset 40

struct EnhMetafile {
  HENHMETAFILE handle = nullptr;
  ~EnhMetafile() {
    if (handle != nullptr) DeleteEnhMetaFile(handle);
  }
};

// A WMF with the placeable header (key 9AC6CDD7) carries its size in logical units per inch; GDI takes the
// metafile after those 22 bytes.
HENHMETAFILE OpenWmf(const uint8_t* data, size_t size) {
  METAFILEPICT picture = {MM_ANISOTROPIC, 0, 0, nullptr};
  if (size >= 22 && data[0] == 0xD7 && data[1] == 0xCD && data[2] == 0xC6 && data[3] == 0x9A) {
    const int16_t left = static_cast<int16_t>(data[6] | data[7] << 8);
    const int16_t top = static_cast<int16_t>(data[8] | data[9] << 8);
    const int16_t right = static_cast<int16_t>(data[10] | data[11] << 8);
    const int16_t bottom = static_cast<int16_t>(data[12] | data[13] << 8);
    const uint16_t per_inch = static_cast<uint16_t>(data[14] | data[15] << 8);
    if (per_inch != 0) {
      // HIMETRIC: hundredths of a millimetre.
      picture.xExt = MulDiv(right - left, 2540, per_inch);
      picture.yExt = MulDiv(bottom - top, 2540, per_inch);
    }
    data += 22;
    size -= 22;
  }
  if (size > 0xFFFFFFFFu) return nullptr;
  return SetWinMetaFileBits(static_cast<UINT>(size), data, nullptr, &picture);
}

}  // namespace

Picture DecodeMetafile(const uint8_t* data, size_t size) {
  EnhMetafile metafile;
  if (size >= 44 && (data[40] | data[41] << 8 | data[42] << 16 | static_cast<uint32_t>(data[43]) << 24) ==
                        kEmfSignature) {
    if (size > 0xFFFFFFFFu) throw PictureError("EMF: too large");
    metafile.handle = SetEnhMetaFileBits(static_cast<UINT>(size), data);
  } else {
    metafile.handle = OpenWmf(data, size);
  }
  if (metafile.handle == nullptr) throw PictureError("WMF/EMF: not a metafile Windows can read");

  ENHMETAHEADER header;
  if (GetEnhMetaFileHeader(metafile.handle, sizeof header, &header) == 0) {
    throw PictureError("WMF/EMF: no header");
  }
  // The frame is in hundredths of a millimetre; draw at the screen's 96 pixels per inch.
  const int64_t width = (static_cast<int64_t>(header.rclFrame.right) - header.rclFrame.left) * 96 / 2540;
  const int64_t height = (static_cast<int64_t>(header.rclFrame.bottom) - header.rclFrame.top) * 96 / 2540;
  if (width <= 0 || height <= 0) throw PictureError("WMF/EMF: empty picture");
  CheckPictureSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height));

  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dc == nullptr || dib == nullptr || bits == nullptr) {
    if (dib != nullptr) DeleteObject(dib);
    if (dc != nullptr) DeleteDC(dc);
    throw PictureError("WMF/EMF: cannot create a drawing surface");
  }
  HGDIOBJ old = SelectObject(dc, dib);
  // A metafile draws only what it paints; the rest stays white, as on paper.
  std::memset(bits, 0xFF, static_cast<size_t>(width) * height * 4);
  RECT rect = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  PlayEnhMetaFile(dc, metafile.handle, &rect);
  GdiFlush();

  Picture picture;
  picture.Allocate(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  const auto* source = static_cast<const uint32_t*>(bits);
  for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = source[i] | 0xFF000000u;
  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);
  return picture;
}

}  // namespace quenvale
