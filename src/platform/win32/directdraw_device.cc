// DirectDraw 7, windowed. Every DirectDraw call is checked only where a failure changes what
// happens next; a failed fill or copy just leaves the frame without it, as on a busy card.
#include "platform/win32/directdraw_device.h"

#include <ddraw.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "display/refresh_pacer.h"
#include "platform/win32/gdi_font.h"

namespace quenvale {

namespace {

int64_t MonotonicMicroseconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<int64_t>(counter.QuadPart / frequency.QuadPart * 1000000 +
                              counter.QuadPart % frequency.QuadPart * 1000000 /
                                  frequency.QuadPart);
}

// The refresh rate of the display the window is on; 0 when the driver does not say.
int32_t DisplayRefreshRate(HWND window) {
  MONITORINFOEXA monitor;
  std::memset(&monitor, 0, sizeof(monitor));
  monitor.cbSize = sizeof(monitor);
  const char* device = nullptr;
  if (GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    device = monitor.szDevice;
  }
  DEVMODEA mode;
  std::memset(&mode, 0, sizeof(mode));
  mode.dmSize = sizeof(mode);
  if (!EnumDisplaySettingsA(device, ENUM_CURRENT_SETTINGS, &mode)) return 0;
  return static_cast<int32_t>(mode.dmDisplayFrequency);
}

// Declared here rather than taken from dxguid, so the program needs no DirectX import library.
constexpr GUID kIidDirectDraw7 = {
    0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};

constexpr char kLibraryName[] = "DDraw.dll";

using DirectDrawCreateExFn = HRESULT(WINAPI*)(GUID*, void**, REFIID, IUnknown*);

template <typename T>
void ReleaseCom(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

std::string Format(const char* pattern, const std::string& argument) {
  std::string text = pattern;
  text.replace(text.find("%s"), 2, argument);
  return text;
}

// Loaded once and kept for the life of the process: later initialisations reuse it.
DirectDrawCreateExFn LoadDirectDrawCreateEx() {
  static HMODULE library = LoadLibraryA(kLibraryName);
  if (library == nullptr) throw DisplayError(Format("%s is not loaded", kLibraryName));
  auto create = reinterpret_cast<DirectDrawCreateExFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "DirectDrawCreateEx")));
  if (create == nullptr) throw DisplayError(Format("%s is not loaded", kLibraryName));
  return create;
}

// An off-screen plain surface, in video memory when the card has room, else in system memory.
IDirectDrawSurface7* CreateOffscreen(IDirectDraw7* ddraw, int32_t width, int32_t height) {
  if (ddraw == nullptr || width <= 0 || height <= 0) return nullptr;
  for (DWORD memory : {DDSCAPS_VIDEOMEMORY, DDSCAPS_SYSTEMMEMORY}) {
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | memory;
    IDirectDrawSurface7* surface = nullptr;
    if (SUCCEEDED(ddraw->CreateSurface(&desc, &surface, nullptr))) return surface;
  }
  return nullptr;
}

// Raw pixel access through Lock; sizes of 1 to 4 bytes per pixel.
bool LockedPixel(IDirectDrawSurface7* surface, int32_t x, int32_t y, bool write, uint32_t* value,
                 DDPIXELFORMAT* format) {
  if (surface == nullptr) return false;
  RECT rect = {x, y, x + 1, y + 1};
  DDSURFACEDESC2 desc;
  std::memset(&desc, 0, sizeof(desc));
  desc.dwSize = sizeof(desc);
  const DWORD flags = DDLOCK_WAIT | (write ? DDLOCK_WRITEONLY : DDLOCK_READONLY);
  if (FAILED(surface->Lock(&rect, &desc, flags, nullptr))) return false;
  const DWORD bytes = std::min<DWORD>(std::max<DWORD>(desc.ddpfPixelFormat.dwRGBBitCount / 8, 1),
                                      4);
  auto* pixel = static_cast<uint8_t*>(desc.lpSurface);
  bool ok = pixel != nullptr;
  if (ok && write) {
    for (DWORD i = 0; i < bytes; ++i) pixel[i] = static_cast<uint8_t>(*value >> (8 * i));
  } else if (ok) {
    *value = 0;
    for (DWORD i = 0; i < bytes; ++i) *value |= static_cast<uint32_t>(pixel[i]) << (8 * i);
  }
  if (format != nullptr) *format = desc.ddpfPixelFormat;
  surface->Unlock(&rect);
  return ok;
}

// One channel of a raw pixel, scaled to 8 bits.
uint32_t Channel(uint32_t raw, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1u) == 0) ++shift;
  const uint32_t max = mask >> shift;
  return ((raw & mask) >> shift) * 255u / max;
}

class DirectDrawSurface;

// GDI text on a surface. The DC is taken when a drawing call needs it and held until Release;
// DirectDraw refuses copies to the surface meanwhile.
class GdiCanvas : public Canvas {
 public:
  explicit GdiCanvas(IDirectDrawSurface7* surface) : surface_(surface) {}
  ~GdiCanvas() override {
    Release();
    if (font_ != nullptr) DeleteObject(font_);
  }
  GdiCanvas(const GdiCanvas&) = delete;
  GdiCanvas& operator=(const GdiCanvas&) = delete;

  void SetFont(const Font& font) override {
    font_value_ = font;
    const LOGFONTA log = LogFontOf(font, kUnscaledDpi);
    HFONT created = CreateFontIndirectA(&log);
    if (dc_ != nullptr && created != nullptr) {
      HGDIOBJ previous = SelectObject(dc_, created);
      if (old_font_ == nullptr) old_font_ = static_cast<HFONT>(previous);
    } else if (dc_ != nullptr && old_font_ != nullptr) {
      SelectObject(dc_, old_font_);
      old_font_ = nullptr;
    }
    if (font_ != nullptr) DeleteObject(font_);
    font_ = created;
  }

  int32_t TextWidth(const std::string& text) override {
    if (!TakeDc()) return 0;
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size);
    return size.cx;
  }

  void TextOut(int32_t x, int32_t y, const std::string& text) override {
    if (!TakeDc()) return;
    SetBkMode(dc_, TRANSPARENT);
    SetTextColor(dc_, ColorRefOf(font_value_.Color));
    ::TextOutA(dc_, x, y, text.data(), static_cast<int>(text.size()));
  }

  void Release() override {
    if (dc_ == nullptr) return;
    if (old_font_ != nullptr) SelectObject(dc_, old_font_);
    old_font_ = nullptr;
    surface_->ReleaseDC(dc_);
    dc_ = nullptr;
  }

 private:
  bool TakeDc() {
    if (dc_ != nullptr) return true;
    if (surface_ == nullptr || FAILED(surface_->GetDC(&dc_))) {
      dc_ = nullptr;
      return false;
    }
    if (font_ != nullptr) old_font_ = static_cast<HFONT>(SelectObject(dc_, font_));
    return true;
  }

  IDirectDrawSurface7* surface_;
  HDC dc_ = nullptr;
  HFONT font_ = nullptr;
  HFONT old_font_ = nullptr;
  Font font_value_;
};

class DirectDrawSurface : public Surface {
 public:
  // Takes over one reference to `surface` (may be null: a surface that draws nothing) and adds
  // one to `ddraw`, which makes the private clipper.
  DirectDrawSurface(IDirectDraw7* ddraw, IDirectDrawSurface7* surface)
      : ddraw_(ddraw), surface_(surface) {
    if (ddraw_ != nullptr) ddraw_->AddRef();
    if (surface_ == nullptr) return;
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (SUCCEEDED(surface_->GetSurfaceDesc(&desc))) {
      width_ = static_cast<int32_t>(desc.dwWidth);
      height_ = static_cast<int32_t>(desc.dwHeight);
    }
  }
  ~DirectDrawSurface() override {
    canvas_.reset();
    ReleaseCom(private_clipper_);
    ReleaseCom(surface_);
    ReleaseCom(ddraw_);
  }
  DirectDrawSurface(const DirectDrawSurface&) = delete;
  DirectDrawSurface& operator=(const DirectDrawSurface&) = delete;

  IDirectDrawSurface7* Get() const { return surface_; }

  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }

  bool Fill(uint32_t device_value) override {
    if (surface_ == nullptr) return false;
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = device_value;
    result_ = surface_->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    return SUCCEEDED(result_);
  }

  bool FillRect(const Rect& rect, uint32_t device_value) override {
    if (surface_ == nullptr) return false;
    // The blit refuses a rectangle reaching outside the surface: cut it first.
    RECT target{std::max<LONG>(rect.Left, 0), std::max<LONG>(rect.Top, 0),
                std::min<LONG>(rect.Right, width_), std::min<LONG>(rect.Bottom, height_)};
    if (target.left >= target.right || target.top >= target.bottom) return true;
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = device_value;
    result_ = surface_->Blt(&target, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    return SUCCEEDED(result_);
  }

  // GDI converts the colour as it converts the pictures' pixels: one pixel of an 8-bit bitmap
  // drawn at (0, 0), read back raw, then the old pixel put back.
  uint32_t MatchDeviceColor(int32_t color) override {
    if (surface_ == nullptr) return 0;
    uint32_t remembered = 0;
    if (!LockedPixel(surface_, 0, 0, false, &remembered, nullptr)) return 0;
    if (canvas_) canvas_->Release();
    HDC dc = nullptr;
    if (FAILED(surface_->GetDC(&dc))) return 0;
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colors[1];
    } info;
    std::memset(&info, 0, sizeof(info));
    info.header.biSize = sizeof(info.header);
    info.header.biWidth = 1;
    info.header.biHeight = 1;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = 1;
    const COLORREF rgb = static_cast<uint32_t>(color) & 0x00FFFFFFu;
    info.colors[0].rgbRed = GetRValue(rgb);
    info.colors[0].rgbGreen = GetGValue(rgb);
    info.colors[0].rgbBlue = GetBValue(rgb);
    const uint8_t bits[4] = {0, 0, 0, 0};  // rows are padded to 4 bytes
    SetDIBitsToDevice(dc, 0, 0, 1, 1, 0, 0, 0, 1, bits, reinterpret_cast<BITMAPINFO*>(&info),
                      DIB_RGB_COLORS);
    surface_->ReleaseDC(dc);
    uint32_t value = 0;
    LockedPixel(surface_, 0, 0, false, &value, nullptr);
    LockedPixel(surface_, 0, 0, true, &remembered, nullptr);
    return value;
  }

  Canvas& GetCanvas() override {
    if (!canvas_) canvas_ = std::make_unique<GdiCanvas>(surface_);
    return *canvas_;
  }

  void SetColorKey(uint32_t device_value) override {
    color_key_ = device_value;
    if (surface_ == nullptr) return;
    DDCOLORKEY key = {device_value, device_value};
    result_ = surface_->SetColorKey(DDCKEY_SRCBLT, &key);
  }
  uint32_t ColorKey() const override { return color_key_; }

  void CopyFrom(const Surface& source, const Rect& source_rect, int32_t x, int32_t y,
                bool transparent) override {
    const auto* from = dynamic_cast<const DirectDrawSurface*>(&source);
    if (from == nullptr || from->surface_ == nullptr || surface_ == nullptr) return;
    // Rectangles reaching outside either surface are cut rather than handed to DirectDraw,
    // which refuses them whole.
    Rect src = source_rect;
    if (src.Left < 0) {
      x -= src.Left;
      src.Left = 0;
    }
    if (src.Top < 0) {
      y -= src.Top;
      src.Top = 0;
    }
    src.Right = std::min(src.Right, from->width_);
    src.Bottom = std::min(src.Bottom, from->height_);
    if (x < 0) {
      src.Left -= x;
      x = 0;
    }
    if (y < 0) {
      src.Top -= y;
      y = 0;
    }
    src.Right = std::min(src.Right, src.Left + (width_ - x));
    src.Bottom = std::min(src.Bottom, src.Top + (height_ - y));
    if (src.Empty()) return;
    RECT src_rect = {src.Left, src.Top, src.Right, src.Bottom};
    if (!clipper_attached_) {
      result_ = surface_->BltFast(static_cast<DWORD>(x), static_cast<DWORD>(y), from->surface_,
                                  &src_rect,
                                  DDBLTFAST_WAIT | (transparent ? DDBLTFAST_SRCCOLORKEY : 0));
      if (result_ != DDERR_BLTFASTCANTCLIP) return;
      clipper_attached_ = HasClipper();
      if (!clipper_attached_) return;
    }
    RECT dst_rect = {x, y, x + src.Width(), y + src.Height()};
    result_ = surface_->Blt(&dst_rect, from->surface_, &src_rect,
                            DDBLT_WAIT | (transparent ? DDBLT_KEYSRC : 0), nullptr);
  }

  void StretchFrom(const Surface& source, const Rect& source_rect, const Rect& dest,
                   bool transparent) override {
    const auto* from = dynamic_cast<const DirectDrawSurface*>(&source);
    if (from == nullptr || from->surface_ == nullptr || surface_ == nullptr) return;
    if (source_rect.Empty() || dest.Empty()) return;
    RECT src_rect = {source_rect.Left, source_rect.Top, source_rect.Right, source_rect.Bottom};
    RECT dst_rect = {dest.Left, dest.Top, dest.Right, dest.Bottom};
    const DWORD flags = DDBLT_WAIT | (transparent ? DDBLT_KEYSRC : 0);
    IDirectDrawClipper* attached = nullptr;
    if (SUCCEEDED(surface_->GetClipper(&attached)) && attached != nullptr) {
      attached->Release();
      result_ = surface_->Blt(&dst_rect, from->surface_, &src_rect, flags, nullptr);
      return;
    }
    // Without a clipper DirectDraw refuses a rectangle reaching outside the surface; one
    // holding the surface's own bounds cuts it instead.
    if (!MakePrivateClipper()) return;
    surface_->SetClipper(private_clipper_);
    result_ = surface_->Blt(&dst_rect, from->surface_, &src_rect, flags, nullptr);
    surface_->SetClipper(nullptr);
  }

 private:
  bool HasClipper() {
    IDirectDrawClipper* clipper = nullptr;
    if (FAILED(surface_->GetClipper(&clipper)) || clipper == nullptr) return false;
    clipper->Release();
    return true;
  }

  bool MakePrivateClipper() {
    if (private_clipper_ != nullptr) return true;
    if (ddraw_ == nullptr || FAILED(ddraw_->CreateClipper(0, &private_clipper_, nullptr))) {
      private_clipper_ = nullptr;
      return false;
    }
    struct {
      RGNDATAHEADER header;
      RECT rect;
    } region;
    std::memset(&region, 0, sizeof(region));
    region.header.dwSize = sizeof(region.header);
    region.header.iType = RDH_RECTANGLES;
    region.header.nCount = 1;
    region.header.nRgnSize = sizeof(RECT);
    region.header.rcBound = RECT{0, 0, width_, height_};
    region.rect = region.header.rcBound;
    if (FAILED(private_clipper_->SetClipList(reinterpret_cast<RGNDATA*>(&region), 0))) {
      ReleaseCom(private_clipper_);
      return false;
    }
    return true;
  }

  IDirectDraw7* ddraw_ = nullptr;
  IDirectDrawSurface7* surface_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  HRESULT result_ = DD_OK;
  // Learned when a fast copy first reports that it cannot clip.
  bool clipper_attached_ = false;
  IDirectDrawClipper* private_clipper_ = nullptr;
  uint32_t color_key_ = 0;
  std::unique_ptr<GdiCanvas> canvas_;
};

}  // namespace

struct DirectDrawDevice::State {
  HWND window = nullptr;
  IDirectDraw7* ddraw = nullptr;
  IDirectDrawSurface7* primary = nullptr;
  IDirectDrawClipper* clipper = nullptr;
  std::unique_ptr<DirectDrawSurface> back;
  // Stands in for the back surface while there is none: draws nothing, measures 0 x 0.
  DirectDrawSurface empty{nullptr, nullptr};
  bool initialized = false;
  bool updating = false;
  bool waits_for_blank = true;
  std::function<void()> on_restored;
  RefreshPacer pacer;

  SIZE ClientSize() const {
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
  }

  void MakeBack() {
    const SIZE size = ClientSize();
    IDirectDrawSurface7* surface =
        CreateOffscreen(ddraw, std::max<LONG>(size.cx, 1), std::max<LONG>(size.cy, 1));
    if (surface == nullptr) throw DisplayError(Format("%s cannot be made", "Surface"));
    back = std::make_unique<DirectDrawSurface>(ddraw, surface);
    back->Fill(0);
  }

  static bool Lost(IDirectDrawSurface7* surface) {
    return surface != nullptr && surface->IsLost() == DDERR_SURFACELOST;
  }

  // Passes when neither surface is lost, restoring them (and, through the callback, the
  // pictures' surfaces) first when one is.
  bool CheckSurfaces() {
    if (!Lost(primary) && !Lost(back->Get())) return true;
    updating = true;
    primary->Restore();
    back->Get()->Restore();
    try {
      if (on_restored) on_restored();
    } catch (...) {
      updating = false;
      throw;
    }
    updating = false;
    return !Lost(primary) && !Lost(back->Get());
  }

  void Present(bool wait) {
    if (!initialized || updating || !back || !CheckSurfaces()) return;
    const SIZE client = ClientSize();
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    // Integer halving toward zero centres a back surface of another size.
    origin.x += (client.cx - back->Width()) / 2;
    origin.y += (client.cy - back->Height()) / 2;
    RECT target = {origin.x, origin.y, origin.x + back->Width(), origin.y + back->Height()};
    if (!wait) {
      primary->Blt(&target, back->Get(), nullptr, DDBLT_WAIT, nullptr);
      return;
    }
    const int64_t before = MonotonicMicroseconds();
    if (waits_for_blank) ddraw->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr);
    const int64_t after = MonotonicMicroseconds();
    primary->Blt(&target, back->Get(), nullptr, DDBLT_WAIT, nullptr);
    pacer.Presented(after, after - before);
  }
};

DirectDrawDevice::DirectDrawDevice(HWND window) : state_(std::make_unique<State>()) {
  state_->window = window;
}

void DirectDrawDevice::SetWaitsForVerticalBlank(bool waits) { state_->waits_for_blank = waits; }

DirectDrawDevice::~DirectDrawDevice() { Finalize(); }

void DirectDrawDevice::Initialize() {
  Finalize();
  State& s = *state_;
  s.updating = true;
  try {
    DirectDrawCreateExFn create = LoadDirectDrawCreateEx();
    void* object = nullptr;
    const HRESULT created = create(nullptr, &object, kIidDirectDraw7, nullptr);
    if (created == E_NOINTERFACE || created == DDERR_INVALIDPARAMS) {
      throw DisplayError("Requires DirectX 7.0 or later");
    }
    if (FAILED(created) || object == nullptr) {
      throw DisplayError(Format("%s cannot be initialized", "DirectDraw"));
    }
    s.ddraw = static_cast<IDirectDraw7*>(object);
    HWND top = GetAncestor(s.window, GA_ROOT);
    if (FAILED(s.ddraw->SetCooperativeLevel(top != nullptr ? top : s.window, DDSCL_NORMAL))) {
      throw DisplayError(Format("%s cannot be initialized", "DirectDraw"));
    }

    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(s.ddraw->CreateSurface(&desc, &s.primary, nullptr)) ||
        FAILED(s.ddraw->CreateClipper(0, &s.clipper, nullptr)) ||
        FAILED(s.clipper->SetHWnd(0, s.window)) || FAILED(s.primary->SetClipper(s.clipper))) {
      throw DisplayError(Format("%s cannot be made", "Primary Surface"));
    }
    s.MakeBack();
  } catch (...) {
    Finalize();
    throw;
  }
  s.updating = false;
  s.initialized = true;
  s.pacer.SetRefreshRate(DisplayRefreshRate(s.window));
}

void DirectDrawDevice::LoseSurfacesForTest() {
  State& s = *state_;
  if (s.ddraw == nullptr) return;
  HWND top = GetAncestor(s.window, GA_ROOT);
  if (top == nullptr) top = s.window;
  s.ddraw->SetCooperativeLevel(top, DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN);
  s.ddraw->SetCooperativeLevel(top, DDSCL_NORMAL);
}

uint32_t DirectDrawDevice::MillisecondsUntilFrame() const {
  return state_->pacer.MillisecondsUntilReady(MonotonicMicroseconds());
}

void DirectDrawDevice::Finalize() {
  State& s = *state_;
  s.updating = true;
  s.initialized = false;
  s.back.reset();
  if (s.primary != nullptr) s.primary->SetClipper(nullptr);
  ReleaseCom(s.clipper);
  ReleaseCom(s.primary);
  ReleaseCom(s.ddraw);
  s.updating = false;
}

bool DirectDrawDevice::Initialized() const { return state_->initialized; }

// Called from the window's size message, where an exception has nowhere to go: a back surface
// that cannot be made at the new size leaves the device finalised, so CanDraw turns false.
void DirectDrawDevice::Resize() {
  State& s = *state_;
  if (!s.initialized) return;
  const SIZE size = s.ClientSize();
  if (s.back && s.back->Width() == std::max<LONG>(size.cx, 1) &&
      s.back->Height() == std::max<LONG>(size.cy, 1)) {
    return;
  }
  s.updating = true;
  s.back.reset();
  try {
    s.MakeBack();
  } catch (const DisplayError&) {
    Finalize();
    return;
  }
  s.updating = false;
}

void DirectDrawDevice::SetOnRestored(std::function<void()> on_restored) {
  state_->on_restored = std::move(on_restored);
}

void DirectDrawDevice::Repaint() { state_->Present(false); }

bool DirectDrawDevice::CanDraw() {
  State& s = *state_;
  return s.initialized && !s.updating && s.back && s.CheckSurfaces();
}

Surface& DirectDrawDevice::BackSurface() {
  if (state_->back) return *state_->back;
  return state_->empty;
}

void DirectDrawDevice::Flip() { state_->Present(true); }

std::unique_ptr<Surface> DirectDrawDevice::CreateSurface(const Picture& picture) {
  State& s = *state_;
  if (picture.width <= 0 || picture.height <= 0 || s.ddraw == nullptr) return nullptr;
  if (picture.pixels.size() < static_cast<size_t>(picture.width) * picture.height) return nullptr;
  IDirectDrawSurface7* raw = CreateOffscreen(s.ddraw, picture.width, picture.height);
  if (raw == nullptr) throw DisplayError(Format("%s cannot be made", "Surface"));
  auto surface = std::make_unique<DirectDrawSurface>(s.ddraw, raw);

  // GDI converts to the surface's format; the alpha byte is cleared so that nothing but the
  // colour reaches the device.
  std::vector<uint32_t> pixels(picture.pixels.begin(),
                               picture.pixels.begin() + static_cast<size_t>(picture.width) *
                                                            picture.height);
  for (uint32_t& pixel : pixels) pixel &= 0x00FFFFFFu;
  BITMAPINFO info;
  std::memset(&info, 0, sizeof(info));
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = picture.width;
  info.bmiHeader.biHeight = -picture.height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC dc = nullptr;
  if (SUCCEEDED(raw->GetDC(&dc))) {
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(picture.width),
                      static_cast<DWORD>(picture.height), 0, 0, 0,
                      static_cast<UINT>(picture.height), pixels.data(), &info, DIB_RGB_COLORS);
    raw->ReleaseDC(dc);
  }
  return surface;
}

bool DirectDrawDevice::ReadPixel(const Surface& surface, int32_t x, int32_t y, uint32_t* raw,
                                 uint32_t* rgb) {
  const auto* ddraw_surface = dynamic_cast<const DirectDrawSurface*>(&surface);
  if (ddraw_surface == nullptr || x < 0 || y < 0 || x >= surface.Width() ||
      y >= surface.Height()) {
    return false;
  }
  uint32_t value = 0;
  DDPIXELFORMAT format;
  std::memset(&format, 0, sizeof(format));
  if (!LockedPixel(ddraw_surface->Get(), x, y, false, &value, &format)) return false;
  if (raw != nullptr) *raw = value;
  if (rgb != nullptr) {
    *rgb = Channel(value, format.dwRBitMask) << 16 | Channel(value, format.dwGBitMask) << 8 |
           Channel(value, format.dwBBitMask);
  }
  return true;
}

}  // namespace quenvale
