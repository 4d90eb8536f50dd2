// The drawing layer over DirectDraw, windowed: a primary surface clipped to the window, an
// off-screen back surface of the window's client size (video memory, else system memory), item
// surfaces made from decoded pictures, GDI text on a surface's device context. DDraw.dll is
// loaded when first needed, so the program starts even where it is missing.
#ifndef QUENVALE_PLATFORM_WIN32_DIRECTDRAW_DEVICE_H_
#define QUENVALE_PLATFORM_WIN32_DIRECTDRAW_DEVICE_H_

#include <windows.h>

#include <functional>
#include <memory>
#include <stdexcept>

#include "display/surface.h"

namespace quenvale {

// Initialisation failures, carrying the message the user is shown ("%s cannot be made", ...).
class DisplayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class DirectDrawDevice : public DrawDevice {
 public:
  explicit DirectDrawDevice(HWND window);
  ~DirectDrawDevice() override;
  DirectDrawDevice(const DirectDrawDevice&) = delete;
  DirectDrawDevice& operator=(const DirectDrawDevice&) = delete;

  // Creates the DirectDraw object, the primary surface with its clipper and the back surface of
  // the window's client size. Throws DisplayError; a failure leaves the device finalised.
  void Initialize();
  // Releases every surface; item surfaces made by CreateSurface must be dropped before.
  void Finalize();
  bool Initialized() const;
  // The client area changed size: the back surface is rebuilt at the new size.
  void Resize();
  // Called after lost surfaces were restored, so that the image list rebuilds its items.
  void SetOnRestored(std::function<void()> on_restored);
  // Presents the back surface again without waiting for the vertical blank (WM_PAINT).
  void Repaint();
  // Whether a present waits for the vertical blank (the default). Of several windows that
  // present in turn only one may wait, or each would wait out a blank of its own; the others
  // are held to the refresh rate by MillisecondsUntilFrame.
  void SetWaitsForVerticalBlank(bool waits);
  // How long the frame loop should hold the next frame back: 0 unless the wait for the
  // vertical blank has stopped blocking, in which case frames keep the display's refresh rate.
  uint32_t MillisecondsUntilFrame() const;

  bool CanDraw() override;
  Surface& BackSurface() override;
  void Flip() override;
  std::unique_ptr<Surface> CreateSurface(const Picture& picture) override;

  // Makes DirectDraw report every surface lost, as when another program took the screen in
  // exclusive mode: a brief switch of the cooperative level. For tests of the restore path.
  void LoseSurfacesForTest();

  // One pixel of a surface this device made, read through Lock: the raw value and the colour
  // 0x00RRGGBB its channel masks give. False for another kind of surface or outside it.
  static bool ReadPixel(const Surface& surface, int32_t x, int32_t y, uint32_t* raw,
                        uint32_t* rgb);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_DIRECTDRAW_DEVICE_H_
