#include "platform/linux/sdl_device.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quenvale {

namespace {

// A GL that rasterises on the CPU (Mesa's llvmpipe and softpipe, as under Xvfb or in a virtual
// machine) is not acceleration: it spends several times the CPU of SDL's own software path.
bool RasterisesOnCpu(SDL_Renderer* renderer) {
  SDL_RendererInfo info{};
  if (SDL_GetRendererInfo(renderer, &info) != 0 || info.name == nullptr ||
      std::strncmp(info.name, "opengl", 6) != 0) {
    return false;
  }
  using GetString = const unsigned char* (*)(unsigned int);
  constexpr unsigned int kGlRenderer = 0x1F01;
  auto get_string = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
  if (get_string == nullptr) return false;
  const unsigned char* name = get_string(kGlRenderer);
  if (name == nullptr) return false;
  const char* text = reinterpret_cast<const char*>(name);
  return std::strstr(text, "llvmpipe") != nullptr || std::strstr(text, "softpipe") != nullptr ||
         std::strstr(text, "swrast") != nullptr;
}

}  // namespace

bool MayHaveGpu() {
  if (std::getenv("SDL_RENDER_DRIVER") != nullptr) return true;
  if (access("/dev/nvidia0", F_OK) == 0) return true;
  DIR* dri = opendir("/dev/dri");
  if (dri == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(dri)) {
    if (std::strncmp(entry->d_name, "card", 4) == 0 ||
        std::strncmp(entry->d_name, "renderD", 7) == 0) {
      found = true;
      break;
    }
  }
  closedir(dri);
  return found;
}

SdlDevice::SdlDevice(SDL_Window* window, bool try_gpu) : window_(window) {
  if (try_gpu) {
    renderer_ =
        SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
  }
  // Whoever names a render driver in SDL_RENDER_DRIVER gets it as it is.
  const bool driver_chosen = std::getenv("SDL_RENDER_DRIVER") != nullptr;
  if (renderer_ != nullptr && !driver_chosen && RasterisesOnCpu(renderer_)) {
    SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
  }
  if (renderer_ == nullptr && driver_chosen) {
    renderer_ = SDL_CreateRenderer(window_, -1, 0);
  }
  if (renderer_ != nullptr) {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer_, &info) == 0) {
      accelerated_ = (info.flags & SDL_RENDERER_ACCELERATED) != 0;
      // SDL's software renderer reports the flag too, but has no blank to wait for.
      vsync_ = accelerated_ && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
      renderer_name_ = info.name != nullptr ? info.name : "";
    }
  } else {
    // No GPU, or a window somebody else made that SDL cannot give a GL context: the frame goes
    // into the window's own X image (shared memory), not through a GL texture or a second copy.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_GetWindowSurface(window_) == nullptr) {
      throw SdlError(std::string("The saver cannot draw in its window: ") + SDL_GetError());
    }
    renderer_name_ = "window surface";
  }
  try {
    Resize();
  } catch (...) {
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    throw;
  }
}

SdlDevice::~SdlDevice() {
  if (texture_ != nullptr) SDL_DestroyTexture(texture_);
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
}

void SdlDevice::AttachToWindowSurface(SDL_Surface* surface) {
  const int width = std::max(surface->w, 1), height = std::max(surface->h, 1);
  const bool in_place = surface->pixels != nullptr && surface->w >= 1 && surface->h >= 1 &&
                        surface->format->format == SDL_PIXELFORMAT_RGB888 &&
                        surface->pitch == surface->w * 4 && !SDL_MUSTLOCK(surface);
  const bool same = back_ != nullptr && in_place == in_place_ && back_->Width() == width &&
                    back_->Height() == height && (!in_place || back_->Pixels() == surface->pixels);
  if (same) return;
  back_ = in_place ? std::make_unique<SoftwareSurface>(width, height,
                                                       static_cast<uint32_t*>(surface->pixels))
                   : std::make_unique<SoftwareSurface>(width, height);
  ++back_number_;
  in_place_ = in_place;
}

void SdlDevice::Resize() {
  int width = 0, height = 0;
  if (renderer_ == nullptr) {
    // The surface follows the window's new size once asked for again.
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (surface == nullptr) {
      // What the back surface drew in may be gone with the window's old image.
      back_.reset();
      ++back_number_;
      in_place_ = false;
      throw SdlError(std::string("Surface cannot be made: ") + SDL_GetError());
    }
    AttachToWindowSurface(surface);
    return;
  }
  if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0) {
    SDL_GetWindowSize(window_, &width, &height);
  }
  width = width < 1 ? 1 : width;
  height = height < 1 ? 1 : height;
  if (back_ != nullptr && back_->Width() == width && back_->Height() == height) return;
  if (texture_ != nullptr) SDL_DestroyTexture(texture_);
  texture_ = nullptr;
  back_.reset();
  ++back_number_;
  if (renderer_ != nullptr) {
    // 0x00RRGGBB words, the software surface's own pixels: the upload is one copy.
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                 width, height);
    if (texture_ == nullptr) {
      throw SdlError(std::string("Surface cannot be made: ") + SDL_GetError());
    }
  }
  back_ = std::make_unique<SoftwareSurface>(width, height);
  ++back_number_;
}

namespace {

int64_t MicrosecondsNow() {
  static const uint64_t frequency = SDL_GetPerformanceFrequency();
  const uint64_t counter = SDL_GetPerformanceCounter();
  return static_cast<int64_t>(counter / frequency * 1000000u +
                              counter % frequency * 1000000u / frequency);
}

}  // namespace

uint32_t SdlDevice::MillisecondsUntilFrame() const {
  return pacer_.MillisecondsUntilReady(MicrosecondsNow());
}

void SdlDevice::Flip() {
  if (!CanDraw()) return;
  if (renderer_ == nullptr) {
    // The window's own surface has no vertical blank to wait for.
    PresentToWindowSurface();
    pacer_.Presented(MicrosecondsNow(), 0);
    return;
  }
  const int width = back_->Width(), height = back_->Height();
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) != 0) return;
  SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_RGB888, back_->Pixels(),
                    width * static_cast<int>(sizeof(uint32_t)), SDL_PIXELFORMAT_RGB888, pixels,
                    pitch);
  SDL_UnlockTexture(texture_);

  int out_width = width, out_height = height;
  SDL_GetRendererOutputSize(renderer_, &out_width, &out_height);
  // Centred as a windowed present is, the halves truncated toward zero.
  const SDL_Rect target{(out_width - width) / 2, (out_height - height) / 2, width, height};
  if (out_width != width || out_height != height) {
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
  }
  SDL_RenderCopy(renderer_, texture_, nullptr, &target);
  const int64_t before = MicrosecondsNow();
  SDL_RenderPresent(renderer_);
  const int64_t after = MicrosecondsNow();
  pacer_.Presented(after, vsync_ ? after - before : 0);
}

void SdlDevice::PresentToWindowSurface() {
  if (in_place_) {
    // Once the window has a new size, SDL replaces its image, and frees the one this frame was
    // drawn in, as soon as the surface is asked for. Until Resize the frame is then presented
    // as any frame of the old size is, from a copy of our own.
    int width = 0, height = 0;
    SDL_GetWindowSize(window_, &width, &height);
    if (width != back_->Width() || height != back_->Height()) {
      auto own = std::make_unique<SoftwareSurface>(back_->Width(), back_->Height());
      std::copy(back_->Pixels(),
                back_->Pixels() + static_cast<size_t>(own->Width()) * own->Height(),
                own->MutablePixels());
      back_ = std::move(own);
      ++back_number_;
      in_place_ = false;
    }
  }
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (in_place_) {
    // Sized back and forth between two frames: the image is new all the same, and the frame
    // drawn in the old one is lost; the next is drawn in the new one.
    if (surface == nullptr) {
      back_ = std::make_unique<SoftwareSurface>(back_->Width(), back_->Height());
      ++back_number_;
      in_place_ = false;
      return;
    }
    if (surface->pixels != back_->Pixels() || surface->w != back_->Width() ||
        surface->h != back_->Height()) {
      AttachToWindowSurface(surface);
      return;
    }
    SDL_UpdateWindowSurface(window_);
    return;
  }
  if (surface == nullptr) return;
  const int width = back_->Width(), height = back_->Height();
  // Centred as a windowed present is; what falls outside the window is cut off.
  const int left = (surface->w - width) / 2, top = (surface->h - height) / 2;
  if (left != 0 || top != 0 || surface->w != width || surface->h != height) {
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
  }
  const int x0 = left < 0 ? -left : 0, y0 = top < 0 ? -top : 0;
  const int copy_width = std::min(width - x0, surface->w - std::max(left, 0));
  const int copy_height = std::min(height - y0, surface->h - std::max(top, 0));
  if (copy_width > 0 && copy_height > 0) {
    if (SDL_MUSTLOCK(surface)) SDL_LockSurface(surface);
    const int bytes = surface->format->BytesPerPixel;
    uint8_t* target = static_cast<uint8_t*>(surface->pixels) +
                      static_cast<size_t>(std::max(top, 0)) * surface->pitch +
                      static_cast<size_t>(std::max(left, 0)) * bytes;
    const uint32_t* source = back_->Pixels() + static_cast<size_t>(y0) * width + x0;
    // The window's format is that of the X visual: on a 24-bit screen the same words as ours.
    SDL_ConvertPixels(copy_width, copy_height, SDL_PIXELFORMAT_RGB888, source,
                      width * static_cast<int>(sizeof(uint32_t)), surface->format->format, target,
                      surface->pitch);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  }
  SDL_UpdateWindowSurface(window_);
}

std::unique_ptr<Surface> SdlDevice::CreateSurface(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return nullptr;
  return std::make_unique<SoftwareSurface>(picture);
}

}  // namespace quenvale
