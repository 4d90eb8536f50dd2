#include "platform/linux/saver_window_sdl.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "datafile/zip_file_settings.h"
#include "platform/linux/key_map.h"
#include "platform/linux/sdl_device.h"
#include "platform/linux/stop_signals.h"
#include "saver/desk.h"
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

// A display the saver covers, with its SDL index.
struct CoveredDisplay {
  MonitorArea area;
  int index;
};

// The displays in the order the saver covers them: the one holding the desktop's origin first.
std::vector<CoveredDisplay> CoveredDisplays() {
  std::vector<CoveredDisplay> listed;
  const int count = SDL_GetNumVideoDisplays();
  for (int i = 0; i < count; ++i) {
    SDL_Rect bounds{};
    if (SDL_GetDisplayBounds(i, &bounds) == 0) {
      listed.push_back({{bounds.x, bounds.y, bounds.w, bounds.h, false}, i});
    }
  }
  std::vector<MonitorArea> areas;
  for (const CoveredDisplay& display : listed) areas.push_back(display.area);
  std::vector<CoveredDisplay> covered;
  for (const MonitorArea& area : DeskMonitors(areas)) {
    for (const CoveredDisplay& display : listed) {
      if (display.area.left == area.left && display.area.top == area.top &&
          display.area.width == area.width && display.area.height == area.height) {
        covered.push_back({area, display.index});
        break;
      }
    }
  }
  if (covered.empty()) covered.push_back({{0, 0, 1024, 768, true}, 0});
  return covered;
}

// A borderless window over the whole of `display`, on top, made for GL when `for_gl` (so that
// an accelerated renderer does not make it anew, a second window in the middle of start-up),
// else or when that fails a plain one. Placed by the display's index, not its position: two
// X screens both start at the origin.
SDL_Window* FullScreenWindow(const std::string& title, const CoveredDisplay& display, bool for_gl) {
  const uint32_t flags =
      SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP;
  const int at = static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(display.index));
  const int width = display.area.width, height = display.area.height;
  SDL_Window* window = SDL_CreateWindow(title.c_str(), at, at, width, height,
                                        flags | (for_gl ? SDL_WINDOW_OPENGL : 0));
  if (window == nullptr && for_gl) {
    window = SDL_CreateWindow(title.c_str(), at, at, width, height, flags);
  }
  return window;
}

// Frames come once per refresh of the display: a present that waits for the vertical blank
// keeps that pace by itself, one that does not is held to it by the device.
void KeepRefreshRate(SdlDevice& device, int display) {
  SDL_DisplayMode mode{};
  if (SDL_GetCurrentDisplayMode(display, &mode) == 0) device.SetRefreshRate(mode.refresh_rate);
}

// The device resized to its window's new size, which *width x *height then is: the device counts
// pixels, the window points, and on a dense display they differ. False, reported, when it fails.
bool FollowWindowSize(SdlDevice& device, const std::function<void(const std::string&)>& report,
                      int32_t* width, int32_t* height) {
  try {
    device.Resize();
  } catch (const std::exception& e) {
    report(e.what());
    return false;
  }
  *width = device.Width();
  *height = device.Height();
  return true;
}

// A further display in save mode: its own window and device, and a session that follows the
// first display's. Its present does not wait for the vertical blank (the first display's may);
// the display's refresh rate paces it.
class OtherDisplay : private SessionHost {
 public:
  explicit OtherDisplay(std::function<void(const std::string&)> report)
      : report_(std::move(report)) {}
  ~OtherDisplay() {
    if (session_ != nullptr) session_->Close();
    session_.reset();
    device_.reset();
    if (window_ != nullptr) SDL_DestroyWindow(window_);
  }
  OtherDisplay(const OtherDisplay&) = delete;
  OtherDisplay& operator=(const OtherDisplay&) = delete;

  // False, reported, when the window, its device or its session cannot be made.
  bool Open(const CoveredDisplay& display, const std::string& title, SaverSession& lead) {
    window_ = FullScreenWindow(title, display, false);
    if (window_ == nullptr) {
      ReportFailure("the saver's window cannot be made: " + std::string(SDL_GetError()));
      return false;
    }
    try {
      device_ = std::make_unique<SdlDevice>(window_, false);
    } catch (const std::exception& e) {
      ReportFailure(e.what());
      return false;
    }
    KeepRefreshRate(*device_, display.index);
    SessionHost& host = *this;
    session_ = std::make_unique<SaverSession>(lead, host);
    if (!session_->Open() || !session_->Start(device_->Width(), device_->Height())) return false;
    session_->Bind(*device_);
    session_->Begin(SDL_GetTicks());
    return true;
  }

  uint32_t WindowId() const { return window_ != nullptr ? SDL_GetWindowID(window_) : 0; }
  SaverSession& session() { return *session_; }

 private:
  void ReportFailure(const std::string& message) override { report_(message); }
  uint32_t MillisecondsUntilFrame() override { return device_->MillisecondsUntilFrame(); }
  bool ResizeDevice(int32_t* width, int32_t* height) override {
    return FollowWindowSize(*device_, report_, width, height);
  }

  std::function<void(const std::string&)> report_;
  SDL_Window* window_ = nullptr;
  std::unique_ptr<SdlDevice> device_;
  std::unique_ptr<SaverSession> session_;
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
  // The session whose window the event is for: a further display's, or the first one's.
  SaverSession& SessionOf(uint32_t window_id);
  void CoverOtherDisplays();
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
  std::vector<CoveredDisplay> displays_;  // in /s: the first one is the window's own
  std::vector<std::unique_ptr<OtherDisplay>> others_;
  bool sdl_started_ = false;
  SDL_Window* window_ = nullptr;
  Window foreign_ = 0;
  std::unique_ptr<ForeignWindowWatch> watch_;
  std::unique_ptr<SdlDevice> device_;
  const bool use_gpu_ = MayHaveGpu();
  bool running_ = true;
};

SdlSaverWindow::~SdlSaverWindow() {
  // The further displays' sessions follow the first one's: they go first.
  others_.clear();
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

  KeepRefreshRate(*device_, std::max(0, SDL_GetWindowDisplayIndex(window_)));

  session_->Begin(SDL_GetTicks());
  if (options_.target == SaverTarget::kFullScreen) CoverOtherDisplays();
  while (running_) {
    if (StopRequested()) break;
    // Every event is answered at once, also between the slices of a long frame: the session
    // holds back what must wait for the frame's end.
    SDL_Event event;
    while (running_ && SDL_PollEvent(&event)) Handle(event);
    if (Foreign() && g_foreign_window_gone) running_ = false;
    if (!running_) break;
    const uint32_t now = SDL_GetTicks();
    uint32_t wait = session_->Run(now);
    for (const auto& other : others_) wait = std::min(wait, other->session().Run(now));
    if (wait == 0) continue;
    // Asleep until an event comes or something is due, but never so long that a stop signal
    // waits for it.
    wait = std::min(wait, kStopCheckInterval);
    if (SDL_WaitEventTimeout(&event, static_cast<int>(wait)) != 0) Handle(event);
  }
  others_.clear();
  CloseSettings();
  return 0;
}

void SdlSaverWindow::CoverOtherDisplays() {
  for (size_t i = 1; i < displays_.size(); ++i) {
    auto other = std::make_unique<OtherDisplay>(
        [this](const std::string& message) { ReportFailure(message); });
    if (other->Open(displays_[i], host_.Title(), *session_)) others_.push_back(std::move(other));
  }
  // The keyboard stays with the first display's window.
  if (!others_.empty()) SDL_RaiseWindow(window_);
}

SaverSession& SdlSaverWindow::SessionOf(uint32_t window_id) {
  for (const auto& other : others_) {
    if (other->WindowId() == window_id) return other->session();
  }
  return *session_;
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
    case SaverTarget::kWindow: {
      SDL_Rect bounds{0, 0, 1024, 768};
      SDL_GetDisplayUsableBounds(0, &bounds);
      bounds = {static_cast<int>(SDL_WINDOWPOS_CENTERED), static_cast<int>(SDL_WINDOWPOS_CENTERED),
                bounds.w * 2 / 3, bounds.h * 2 / 3};
      // Made for GL from the start, so that the accelerated renderer does not make the window
      // anew (a second window in the middle of start-up); without GL, a plain one.
      window_ = SDL_CreateWindow(host_.Title().c_str(), bounds.x, bounds.y, bounds.w, bounds.h,
                                 SDL_WINDOW_RESIZABLE | (use_gpu_ ? SDL_WINDOW_OPENGL : 0));
      if (window_ == nullptr) {
        window_ = SDL_CreateWindow(host_.Title().c_str(), bounds.x, bounds.y, bounds.w, bounds.h,
                                   SDL_WINDOW_RESIZABLE);
      }
      break;
    }
    case SaverTarget::kFullScreen: {
      // One window on each display; this one on the first.
      displays_ = CoveredDisplays();
      window_ = FullScreenWindow(host_.Title(), displays_.front(), use_gpu_);
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
      if (options_.ends_on_input &&
          SessionOf(event.motion.windowID).MouseMove(event.motion.x, event.motion.y)) {
        running_ = false;
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (options_.ends_on_input) running_ = false;
      break;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) running_ = false;
      if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        SessionOf(event.window.windowID).Resize(event.window.data1, event.window.data2);
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
  return FollowWindowSize(
      *device_, [this](const std::string& message) { ReportFailure(message); }, width, height);
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
