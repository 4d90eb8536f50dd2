// The drawing layer over SDL2: the frame is drawn by the core into a software back surface of
// the window's size (the text with FreeType, so the pixels are those of `saverpack render`),
// then presented centred in the window: uploaded into one streaming texture of an accelerated
// renderer, or, without a GPU, copied straight into the window's own X image.
#ifndef QUENVALE_PLATFORM_LINUX_SDL_DEVICE_H_
#define QUENVALE_PLATFORM_LINUX_SDL_DEVICE_H_

#include <SDL.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "display/refresh_pacer.h"
#include "display/software_surface.h"
#include "display/surface.h"

namespace quenvale {

class SdlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// False when the machine shows no GPU at all (no /dev/dri node, no NVIDIA device) and nobody
// named a render driver in SDL_RENDER_DRIVER: then GL could only rasterise on the CPU, which the
// device refuses anyway, and a window made for GL would load a software GL (tens of megabytes)
// for nothing.
bool MayHaveGpu();

class SdlDevice : public DrawDevice {
 public:
  // A renderer for `window` (not owned): accelerated with presentation synchronised to the
  // display when the system has one and `try_gpu` allows it, else the window's surface. Throws
  // SdlError.
  explicit SdlDevice(SDL_Window* window, bool try_gpu = true);
  ~SdlDevice() override;
  SdlDevice(const SdlDevice&) = delete;
  SdlDevice& operator=(const SdlDevice&) = delete;

  bool CanDraw() override {
    return back_ != nullptr && (texture_ != nullptr || renderer_ == nullptr);
  }
  Surface& BackSurface() override { return *back_; }
  void Flip() override;
  std::unique_ptr<Surface> CreateSurface(const Picture& picture) override;
  // Every present only reads the back surface; a new one has a new number.
  uint64_t KeptBackSurface() const override { return back_ != nullptr ? back_number_ : 0; }

  // The window's size changed: a back surface and texture of the new size. Throws SdlError.
  void Resize();

  int32_t Width() const { return back_ != nullptr ? back_->Width() : 0; }
  int32_t Height() const { return back_ != nullptr ? back_->Height() : 0; }
  bool Accelerated() const { return accelerated_; }
  // Whether the renderer was asked for, and granted, presentation at the vertical blank.
  bool VSync() const { return vsync_; }
  const std::string& RendererName() const { return renderer_name_; }

  // The display's refresh rate, for frames whose present does not wait for the vertical blank.
  void SetRefreshRate(int32_t hz) { pacer_.SetRefreshRate(hz); }
  // How long the frame loop should hold the next frame back: 0 while presents wait for the
  // vertical blank themselves.
  uint32_t MillisecondsUntilFrame() const;

 private:
  void PresentToWindowSurface();
  // The back surface for the window's surface `surface`: drawn in place when its pixels are
  // 0x00RRGGBB words without row padding (a 24-bit X visual), else a surface of our own that
  // Flip copies over.
  void AttachToWindowSurface(SDL_Surface* surface);

  SDL_Window* window_;
  // Null when frames go to the window's surface.
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  std::unique_ptr<SoftwareSurface> back_;
  bool in_place_ = false;  // back_ draws in the window surface's own pixels
  uint64_t back_number_ = 1;
  bool accelerated_ = false;
  bool vsync_ = false;
  std::string renderer_name_;
  RefreshPacer pacer_;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_SDL_DEVICE_H_
