#include "platform/linux/saver_window_sdl.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "datafile/zip_file_settings.h"
#include "platform/linux/key_map.h"
#include "platform/linux/sdl_device.h"
#include "platform/linux/stop_signals.h"
#include "saver/saver.h"
#include "saver/session.h"
#include "settings/settings.h"

namespace quenvale {

namespace {

// The longest the loop sleeps before it looks for a stop signal again.
constexpr uint32_t kStopCheckInterval = 50;

// The foreign window, for the X error handler: once it is gone every request on it fails, and
// Xlib's own handler would end the process over that.
Window g_foreign_window = 0;
bool g_foreign_window_gone = false;
XErrorHandler g_previous_handler = nullptr;

int ForeignWindowErrors(Display* display, XErrorEvent* error) {
  if (g_foreign_window != 0 && error->resourceid == g_foreign_window) {
    g_foreign_window_gone = true;
    return 0;
  }
  return g_previous_handler != nullptr ? g_previous_handler(display, error) : 0;
}

// A connection of our own to ask the X server about the foreign window, apart from SDL's.
class ForeignWindowWatch {
 public:
  ForeignWindowWatch() : display_(XOpenDisplay(nullptr)) {}
  ~ForeignWindowWatch() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  bool Open() const { return display_ != nullptr; }
  Window Root() const { return display_ != nullptr ? DefaultRootWindow(display_) : 0; }
  // False once the window has gone; its size otherwise.
  bool Attributes(Window window, int* width, int* height) {
    if (display_ == nullptr) return false;
    XWindowAttributes attributes{};
    const Status ok = XGetWindowAttributes(display_, window, &attributes);
    XSync(display_, False);
    if (ok == 0 || g_foreign_window_gone) return false;
    *width = attributes.width;
    *height = attributes.height;
    return true;
  }

 private:
  Display* display_;
};

class SdlSaverWindow : private SessionHost {
 public:
  SdlSaverWindow(const LinuxCommandLine& command_line, LinuxDataFileHost& host, ValueStore& store)
      : options_(command_line), mode_(command_line.command.mode), host_(host), store_(store) {}
  ~SdlSaverWindow();

  int Run();

 private:
  bool Foreign() const { return options_.target == SaverTarget::kForeign; }
  bool FormCreate();
  bool CreateWindow();
  void Handle(const SDL_Event& event);
  void KeyDown(const SDL_KeyboardEvent& key);
  void IdleUntilStopped();
  void ReleaseInput();
  void Report(const std::exception& e) { ReportFailure(e.what()); }
  void CloseSettings();
  // What the session asks of the window.
  void ReportFailure(const std::string& message) override;
  uint32_t MillisecondsUntilFrame() override { return device_->MillisecondsUntilFrame(); }
  bool ResizeDevice(int32_t* width, int32_t* height) override;
  void ClockTicked() override;

  LinuxCommandLine options_;
  SaverMode mode_;
  LinuxDataFileHost& host_;
  ValueStore& store_;
  std::unique_ptr<ZipFileSettings> data_file_;
  DefaultRandom random_;
  std::unique_ptr<SaverSession> session_;
  bool sdl_started_ = false;
  SDL_Window* window_ = nullptr;
  Window foreign_ = 0;
  std::unique_ptr<ForeignWindowWatch> watch_;
  std::unique_ptr<SdlDevice> device_;
  const bool use_gpu_ = MayHaveGpu();
  bool running_ = true;
};

SdlSaverWindow::~SdlSaverWindow() {
  CloseSettings();
  device_.reset();
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  if (sdl_started_) SDL_Quit();
  if (g_previous_handler != nullptr) XSetErrorHandler(g_previous_handler);
  g_foreign_window = 0;
}

int SdlSaverWindow::Run() {
  if (options_.bad_window_id) {
    std::fprintf(stderr, "%s: -window-id wants the id of an X window (decimal or 0x...)\n",
                 host_.Title().c_str());
    return 1;
  }
  // A preview without a window to live in shows nothing at all and says nothing.
  if (mode_ == SaverMode::smPreview && options_.window_id == 0) return 0;

  // The data file first: its messages must not hide behind a full-screen window.
  if (!FormCreate()) return 1;

  if (Foreign()) {
    watch_ = std::make_unique<ForeignWindowWatch>();
    if (!watch_->Open()) {
      std::fprintf(stderr, "%s: no X display to draw into\n", host_.Title().c_str());
      return 1;
    }
    foreign_ = options_.window_id != 0 ? options_.window_id : watch_->Root();
    g_foreign_window = foreign_;
    g_foreign_window_gone = false;
    g_previous_handler = XSetErrorHandler(ForeignWindowErrors);
    int width = 0, height = 0;
    if (!watch_->Attributes(foreign_, &width, &height)) {
      if (mode_ == SaverMode::smPreview) return 0;
      std::fprintf(stderr, "%s: there is no X window 0x%lx to draw into\n", host_.Title().c_str(),
                   static_cast<unsigned long>(foreign_));
      return 1;
    }
  }

  if (!CreateWindow()) return 1;
  bool started = false;
  try {
    device_ = std::make_unique<SdlDevice>(window_, use_gpu_);
  } catch (const std::exception& e) {
    Report(e);
  }
  // New sprites go anywhere in the window: the screen in /s, the host's window otherwise.
  if (device_ != nullptr) started = session_->Start(device_->Width(), device_->Height());
  if (!started) {
    // A hack or a preview never ends by itself: its host ends it when it wants the window back.
    if (Foreign()) {
      CatchStopSignals();
      IdleUntilStopped();
    }
    return 1;
  }
  // Until here a stop signal ends the process at once, as it does any program: nothing has
  // changed that would need saving. From here on it asks the loop to end, so that the settings
  // are written as on any other way out.
  CatchStopSignals();
  session_->Bind(*device_);

  // Frames come once per refresh of the display: a present that waits for the vertical blank
  // keeps that pace by itself, one that does not is held to it by the device.
  SDL_DisplayMode display_mode{};
  const int display = std::max(0, SDL_GetWindowDisplayIndex(window_));
  if (SDL_GetCurrentDisplayMode(display, &display_mode) == 0) {
    device_->SetRefreshRate(display_mode.refresh_rate);
  }

  session_->Begin(SDL_GetTicks());
  while (running_) {
    if (StopRequested()) break;
    // Every event is answered at once, also between the slices of a long frame: the session
    // holds back what must wait for the frame's end.
    SDL_Event event;
    while (running_ && SDL_PollEvent(&event)) Handle(event);
    if (Foreign() && g_foreign_window_gone) running_ = false;
    if (!running_) break;
    uint32_t wait = session_->Run(SDL_GetTicks());
    if (wait == 0) continue;
    // Asleep until an event comes or something is due, but never so long that a stop signal
    // waits for it.
    wait = std::min(wait, kStopCheckInterval);
    if (SDL_WaitEventTimeout(&event, static_cast<int>(wait)) != 0) Handle(event);
  }
  CloseSettings();
  return 0;
}

bool SdlSaverWindow::FormCreate() {
  // A missing or damaged data file ends the process inside the constructor, through the host.
  data_file_ = std::make_unique<ZipFileSettings>(host_, mode_);
  SessionHost& session_host = *this;
  session_ = std::make_unique<SaverSession>(*data_file_, store_, mode_, random_, session_host);
  return session_->Open();
}

bool SdlSaverWindow::CreateWindow() {
  // xscreensaver decides when the screen blanks; a hack it runs must not keep it from doing so.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, Foreign() ? "1" : "0");
  // A full-screen saver that loses the focus stays on the screen.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // The stop signals are the engine's own (stop_signals.h); SDL's would only queue a quit.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Window ids are X's own: the foreign window can only be reached through X.
  if (Foreign()) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "%s: no display to show the saver on: %s\n", host_.Title().c_str(),
                 SDL_GetError());
    return false;
  }
  sdl_started_ = true;
  // SDL puts its own X error handler in place at start; ours goes over it.
  if (Foreign()) XSetErrorHandler(ForeignWindowErrors);

  switch (options_.target) {
    case SaverTarget::kForeign:
      window_ =
          SDL_CreateWindowFrom(reinterpret_cast<const void*>(static_cast<uintptr_t>(foreign_)));
      break;
    case SaverTarget::kWindow:
    case SaverTarget::kFullScreen: {
      SDL_Rect bounds{0, 0, 1024, 768};
      uint32_t flags;
      if (options_.target == SaverTarget::kWindow) {
        SDL_GetDisplayUsableBounds(0, &bounds);
        bounds = {static_cast<int>(SDL_WINDOWPOS_CENTERED),
                  static_cast<int>(SDL_WINDOWPOS_CENTERED), bounds.w * 2 / 3, bounds.h * 2 / 3};
        flags = SDL_WINDOW_RESIZABLE;
      } else {
        SDL_GetDisplayBounds(0, &bounds);
        flags = SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP;
      }
      // Made for GL from the start, so that the accelerated renderer does not make the window
      // anew (a second window in the middle of start-up); without GL, a plain one.
      window_ = SDL_CreateWindow(host_.Title().c_str(), bounds.x, bounds.y, bounds.w, bounds.h,
                                 flags | (use_gpu_ ? SDL_WINDOW_OPENGL : 0));
      if (window_ == nullptr) {
        window_ =
            SDL_CreateWindow(host_.Title().c_str(), bounds.x, bounds.y, bounds.w, bounds.h, flags);
      }
      break;
    }
  }
  if (window_ == nullptr) {
    if (mode_ == SaverMode::smPreview) return false;
    std::fprintf(stderr, "%s: the saver's window cannot be made: %s\n", host_.Title().c_str(),
                 SDL_GetError());
    return false;
  }
  if (options_.target == SaverTarget::kFullScreen) {
    SDL_ShowCursor(SDL_DISABLE);
    SDL_RaiseWindow(window_);
  }
  return true;
}

void SdlSaverWindow::Handle(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      running_ = false;
      break;
    case SDL_KEYDOWN:
      KeyDown(event.key);
      break;
    case SDL_MOUSEMOTION:
      if (options_.ends_on_input && session_->MouseMove(event.motion.x, event.motion.y)) {
        running_ = false;
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (options_.ends_on_input) running_ = false;
      break;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) running_ = false;
      if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        session_->Resize(event.window.data1, event.window.data2);
      }
      break;
    default:
      break;
  }
}

void SdlSaverWindow::IdleUntilStopped() {
  while (!StopRequested() && !(Foreign() && g_foreign_window_gone)) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, static_cast<int>(kStopCheckInterval)) != 0 &&
        (event.type == SDL_QUIT ||
         (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE))) {
      return;
    }
    int width = 0, height = 0;
    if (Foreign() && !watch_->Attributes(foreign_, &width, &height)) return;
  }
}

void SdlSaverWindow::ReleaseInput() {
  // A full-screen window holds the keyboard and the pointer; a box over it needs them.
  if (window_ == nullptr || Foreign()) return;
  SDL_SetWindowKeyboardGrab(window_, SDL_FALSE);
  SDL_SetWindowMouseGrab(window_, SDL_FALSE);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
    XUngrabKeyboard(info.info.x11.display, CurrentTime);
    XUngrabPointer(info.info.x11.display, CurrentTime);
    XFlush(info.info.x11.display);
  }
}

void SdlSaverWindow::KeyDown(const SDL_KeyboardEvent& key) {
  if (Foreign()) return;
  const uint16_t code = VirtualKeyFor(key.keysym.sym, key.keysym.scancode);
  // In a normal window only Escape ends it; the keys of the table work in both.
  if (!options_.ends_on_input && code == kVkEscape) {
    running_ = false;
    return;
  }
  if (session_->KeyDown(code) && options_.ends_on_input) running_ = false;
}

void SdlSaverWindow::ClockTicked() {
  if (Foreign()) {
    // The host window went away: the saver ends with it. Its size may also have changed.
    int width = 0, height = 0;
    if (!watch_->Attributes(foreign_, &width, &height)) {
      running_ = false;
      return;
    }
    int known_width = 0, known_height = 0;
    SDL_GetWindowSize(window_, &known_width, &known_height);
    if (width != known_width || height != known_height) {
      SDL_SetWindowSize(window_, width, height);
      session_->Resize(width, height);
    }
  }
  if (options_.report_fps && session_->FrameRate() > 0) {
    std::fprintf(stderr, "%s: %d fps, %dx%d, renderer %s%s\n", host_.Title().c_str(),
                 session_->FrameRate(), device_->Width(), device_->Height(),
                 device_->RendererName().c_str(), device_->VSync() ? " with vsync" : "");
    std::fflush(stderr);
  }
}

bool SdlSaverWindow::ResizeDevice(int32_t* width, int32_t* height) {
  try {
    device_->Resize();
  } catch (const std::exception& e) {
    Report(e);
    return false;
  }
  // The device counts pixels, the window points: on a dense display they differ.
  *width = device_->Width();
  *height = device_->Height();
  return true;
}

void SdlSaverWindow::ReportFailure(const std::string& message) {
  // A hack or a preview says it on standard error only (the host keeps that silent).
  ReleaseInput();
  host_.ShowError(message);
}

void SdlSaverWindow::CloseSettings() {
  if (session_ != nullptr) session_->Close();
}

}  // namespace

int RunSaverWindow(const LinuxCommandLine& command_line, LinuxDataFileHost& host,
                   ValueStore& store) {
  SdlSaverWindow window(command_line, host, store);
  return window.Run();
}

}  // namespace quenvale
