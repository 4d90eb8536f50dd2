#include "platform/win32/saver_window.h"

#include <mmsystem.h>
#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <string>

#include "datafile/zip_file_settings.h"
#include "display/frame_timer.h"
#include "platform/win32/data_file_host_win32.h"
#include "platform/win32/directdraw_device.h"
#include "platform/win32/registry_value_store.h"
#include "platform/win32/saver_password.h"
#include "platform/win32/user_time.h"
#include "saver/saver.h"
#include "saver/session.h"
#include "settings/settings.h"

namespace quenvale {

namespace {

constexpr char kWindowClass[] = "QuenvaleSaverWindow";
constexpr UINT_PTR kClockTimerId = 1;
constexpr UINT_PTR kSetChangeTimerId = 2;
constexpr int32_t kPreviewWidth = 152;
// A frame with many motion steps runs in slices this long, with the messages between them.
constexpr auto kFrameSlice = std::chrono::milliseconds(10);

class SaverWindow : private SessionHost {
 public:
  SaverWindow(const CommandLine& command_line, HWND app_window, bool second_instance)
      : second_instance_(second_instance),
        mode_(command_line.mode),
        parent_(reinterpret_cast<HWND>(static_cast<uintptr_t>(command_line.parent_window))),
        app_window_(app_window),
        host_(app_window, command_line.mode == SaverMode::smPreview) {}

  ~SaverWindow() {
    FinalizeDevice();
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  }

  int Run();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  bool Preview() const { return mode_ == SaverMode::smPreview; }
  bool CreateSaverWindow();
  bool FormCreate();
  bool EmbedIntoHost();
  bool InitializeDevice();
  void FinalizeDevice();
  void RunFrame();
  bool WaitsForTheFrame(const MSG& msg) const;
  void FrameFinished();
  bool HostGone() const { return Preview() && !IsWindow(parent_); }
  void RequestClose();
  void CloseQuery();
  void CloseSettings();
  void Report(const std::exception& e) { ReportFailure(e.what()); }
  void ReportFailure(const std::string& message) override;
  int MessageLoop();

  const bool second_instance_;  // starts up as far as FormCreate, then ends unseen
  bool embed_failed_ = false;   // the host's window went before it could hold the preview
  SaverMode mode_;
  HWND parent_;
  HWND app_window_;
  HWND hwnd_ = nullptr;
  Win32DataFileHost host_;
  std::unique_ptr<ZipFileSettings> data_file_;
  RegistryValueStore store_;
  DefaultRandom random_;
  std::unique_ptr<SaverSession> session_;
  Saver* saver_ = nullptr;  // the session's, once it is built
  std::unique_ptr<DirectDrawDevice> device_;
  FrameTimer frame_timer_;
  bool settings_closed_ = false;
  // What came while a frame was unfinished and must see the frame's end first.
  std::deque<MSG> deferred_;
  bool resize_pending_ = false;
  // For measuring: frames run and the span between the first and the last.
  uint32_t frames_run_ = 0;
  uint32_t first_frame_ms_ = 0;
  uint32_t last_frame_ms_ = 0;
  void WriteFrameLog() const;
};

DWORD WaitFor(uint32_t until_due) {
  return until_due == FrameTimer::kNever ? INFINITE : static_cast<DWORD>(until_due);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

int SaverWindow::Run() {
  // A preview without a host window to live in shows nothing at all.
  if (Preview() && (parent_ == nullptr || !IsWindow(parent_))) return 0;
  // Nor does a preview ever put a crash report box into the control panel: errors it cannot
  // handle end it quietly.
  if (Preview()) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (!CreateSaverWindow()) return 1;
  if (!FormCreate()) return embed_failed_ ? 0 : 1;
  if (second_instance_) return 0;

  if (Preview()) {
    RECT client{};
    GetClientRect(parent_, &client);
    SetWindowPos(hwnd_, nullptr, 0, 0, client.right, client.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, SW_SHOWNA);
  } else {
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN), 0);
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
  }
  UpdateWindow(hwnd_);
  // A display that cannot be drawn on is reported, and the saver goes on without frames: the
  // window still covers the screen in the background colour and ends on input as usual.
  InitializeDevice();

  // Waits shorter than the system tick need a finer timer resolution.
  timeBeginPeriod(1);
  const int code = MessageLoop();
  timeEndPeriod(1);
  WriteFrameLog();
  return code;
}

// With QUENVALE_FRAME_LOG naming a file, a run appends how many frames it drew and over how
// long: the measure of the frame rate on a given display, for benchmarks and bug reports.
void SaverWindow::WriteFrameLog() const {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("QUENVALE_FRAME_LOG", path, sizeof(path));
  if (length == 0 || length >= sizeof(path) || frames_run_ < 2) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const uint32_t span = last_frame_ms_ - first_frame_ms_;
  char line[160];
  const int size = wsprintfA(line, "frames %lu ms %lu fps %lu\r\n",
                             static_cast<unsigned long>(frames_run_ - 1),
                             static_cast<unsigned long>(span),
                             static_cast<unsigned long>(span == 0 ? 0 : (frames_run_ - 1) *
                                                                          1000ul / span));
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
}

bool SaverWindow::CreateSaverWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  window_class.hCursor = Preview() ? LoadCursorA(nullptr, IDC_ARROW) : nullptr;
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszClassName = kWindowClass;
  if (RegisterClassExA(&window_class) == 0) return false;
  hwnd_ = CreateWindowExA(Preview() ? 0 : WS_EX_TOPMOST, kWindowClass, host_.Title().c_str(),
                          WS_POPUP | WS_CLIPCHILDREN, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                          GetSystemMetrics(SM_CYSCREEN), Preview() ? nullptr : app_window_,
                          nullptr, instance, this);
  return hwnd_ != nullptr;
}

bool SaverWindow::FormCreate() {
  // A missing or damaged data file ends the process inside the constructor, through the host.
  data_file_ = std::make_unique<ZipFileSettings>(host_, mode_);
  SetWindowTextA(hwnd_, host_.Title().c_str());
  SessionHost& session_host = *this;
  session_ = std::make_unique<SaverSession>(*data_file_, store_, mode_, random_, session_host);
  if (!session_->Open()) return false;
  saver_ = &session_->Build();
  // The clock as the settings dialog's preview shows it, in the user's own format.
  saver_->SetTimeText(UserLongTimeText);
  SetTimer(hwnd_, kClockTimerId, static_cast<UINT>(kClockInterval), nullptr);
  const int32_t set_change = saver_->SetChangeInterval();
  if (set_change > 0) SetTimer(hwnd_, kSetChangeTimerId, static_cast<UINT>(set_change), nullptr);

  int32_t width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  if (Preview()) {
    // The sprites start inside the window as embedding leaves it, the screen scaled down; it
    // fills the host's picture once it shows.
    if (!EmbedIntoHost()) {
      embed_failed_ = true;
      return false;
    }
    RECT client{};
    GetClientRect(hwnd_, &client);
    width = client.right;
    height = client.bottom;
  }
  return session_->Start(width, height);
}

bool SaverWindow::EmbedIntoHost() {
  // The control panel may hand over its preview window before showing it.
  while (!IsWindowVisible(parent_)) {
    if (!IsWindow(parent_)) return false;
    PumpMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  // A child cannot also be a pop-up window, whatever the host's own style.
  const LONG_PTR style =
      (GetWindowLongPtrA(parent_, GWL_STYLE) | WS_CHILD | WS_DISABLED) & ~WS_POPUP;
  SetWindowLongPtrA(hwnd_, GWL_STYLE, style);
  SetWindowLongPtrA(hwnd_, GWL_EXSTYLE, GetWindowLongPtrA(parent_, GWL_EXSTYLE));
  SetParent(hwnd_, parent_);
  const PreviewSize size =
      ScaledPreviewSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(hwnd_, nullptr, 0, 0, size.width, size.height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return true;
}

bool SaverWindow::InitializeDevice() {
  device_ = std::make_unique<DirectDrawDevice>(hwnd_);
  try {
    device_->Initialize();
  } catch (const std::exception& e) {
    device_.reset();
    Report(e);
    return false;
  }
  Saver& saver = *saver_;
  device_->SetOnRestored([&saver] { saver.ImageList().Restored(); });
  session_->Bind(*device_);
  frame_timer_.SetInterval(kFrameInterval);
  frame_timer_.SetEnabled(true);
  return true;
}

void SaverWindow::FinalizeDevice() {
  frame_timer_.SetEnabled(false);
  if (device_ == nullptr) return;
  if (saver_ != nullptr) saver_->ImageList().Finalized();
  device_->Finalize();
  device_.reset();
}

void SaverWindow::RunFrame() {
  try {
    if (saver_->FrameSlice(*device_, Saver::Clock::now() + kFrameSlice)) FrameFinished();
  } catch (const std::exception& e) {
    // One report, not one per frame: the picture stays as it is until the saver ends.
    frame_timer_.SetEnabled(false);
    Report(e);
  }
}

// Timers and the key table's keys change what a frame reads: they wait for its end. Input that
// ends the saver, closing and painting go on between slices.
bool SaverWindow::WaitsForTheFrame(const MSG& msg) const {
  if (msg.hwnd != hwnd_) return false;
  switch (msg.message) {
    case WM_TIMER:
      return true;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      return Saver::IsTableKey(static_cast<uint16_t>(msg.wParam));
    default:
      return false;
  }
}

void SaverWindow::FrameFinished() {
  last_frame_ms_ = timeGetTime();
  if (frames_run_++ == 0) first_frame_ms_ = last_frame_ms_;
  if (!resize_pending_) return;
  resize_pending_ = false;
  RECT client{};
  GetClientRect(hwnd_, &client);
  Handle(WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
}

int SaverWindow::MessageLoop() {
  for (;;) {
    MSG msg;
    if (saver_ != nullptr && saver_->FrameUnfinished() && device_ != nullptr &&
        !settings_closed_) {
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
        if (WaitsForTheFrame(msg)) {
          // A timer that fired twice meanwhile is due once, as its messages always are.
          const bool repeat =
              msg.message == WM_TIMER &&
              std::any_of(deferred_.begin(), deferred_.end(), [&msg](const MSG& waiting) {
                return waiting.message == WM_TIMER && waiting.wParam == msg.wParam;
              });
          if (!repeat) deferred_.push_back(msg);
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      if (HostGone()) DestroyWindow(hwnd_);
      // Closing finalizes the device: the frame is then dropped.
      if (device_ != nullptr && !settings_closed_) RunFrame();
      continue;
    }
    while (!deferred_.empty()) {
      msg = deferred_.front();
      deferred_.pop_front();
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    // The host's window going away ends a preview within one wait, not at the next clock tick.
    if (HostGone() && hwnd_ != nullptr && IsWindow(hwnd_)) {
      DestroyWindow(hwnd_);
      continue;
    }
    // Idle: a frame when the timer is due, else sleep until it is or a message comes. The
    // vertical-blank wait inside Flip paces the frames themselves; where that wait does not
    // block, the device says how long to hold the next frame back.
    uint32_t hold = device_ != nullptr ? device_->MillisecondsUntilFrame() : 0;
    if (hold == 0 && device_ != nullptr && frame_timer_.Enabled() &&
        frame_timer_.Idle(timeGetTime(), nullptr)) {
      RunFrame();
      continue;
    }
    uint32_t wait = frame_timer_.MillisecondsUntilDue(timeGetTime());
    if (wait != FrameTimer::kNever) wait = std::max(wait, hold);
    // A preview looks for its host at least this often.
    if (Preview()) wait = std::min<uint32_t>(wait, 100);
    MsgWaitForMultipleObjectsEx(0, nullptr, WaitFor(wait), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void SaverWindow::ReportFailure(const std::string& message) {
  // A preview never shows a box inside the control panel.
  if (Preview()) return;
  host_.ShowError(message);
  // The keyboard comes back to the saver, so that a key still ends it.
  if (hwnd_ != nullptr && IsWindowVisible(hwnd_)) {
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
  }
}

void SaverWindow::RequestClose() { PostMessageA(hwnd_, WM_CLOSE, 0, 0); }

void SaverWindow::CloseQuery() {
  ShowCursor(TRUE);
  if (!VerifySaverPassword(hwnd_)) {
    ShowCursor(FALSE);
    return;
  }
  CloseSettings();
  DestroyWindow(hwnd_);
}

void SaverWindow::CloseSettings() {
  if (settings_closed_ || session_ == nullptr || !session_->Opened()) return;
  settings_closed_ = true;
  KillTimer(hwnd_, kClockTimerId);
  KillTimer(hwnd_, kSetChangeTimerId);
  FinalizeDevice();
  session_->Close();
}

LRESULT CALLBACK SaverWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                         LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<SaverWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->hwnd_ != hwnd) {
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  return self->Handle(message, wparam, lparam);
}

LRESULT SaverWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  const bool running = saver_ != nullptr && !settings_closed_;
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (running) {
        try {
          if (saver_->FormKeyDown(static_cast<uint16_t>(wparam))) RequestClose();
        } catch (const std::exception& e) {
          Report(e);
        }
      }
      return 0;
    case WM_MOUSEMOVE:
      if (running && saver_->FormMouseMove(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam))) {
        RequestClose();
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
      if (running) RequestClose();
      return 0;
    case WM_SETCURSOR:
      if (!Preview() && LOWORD(lparam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_TIMER:
      if (!running) return 0;
      if (wparam == kClockTimerId) {
        // The host went away: the preview ends with it.
        if (Preview() && !IsWindow(parent_)) {
          CloseSettings();
          DestroyWindow(hwnd_);
          return 0;
        }
        saver_->tClockTimer(true);
      } else if (wparam == kSetChangeTimerId) {
        try {
          saver_->tSetChangeTimer();
        } catch (const std::exception& e) {
          Report(e);
        }
      }
      return 0;
    case WM_SIZE:
      if (saver_ != nullptr && saver_->FrameUnfinished()) {
        resize_pending_ = true;
        return 0;
      }
      if (saver_ != nullptr) {
        saver_->SetClientSize(LOWORD(lparam), HIWORD(lparam));
        // A preview places new sprites in the window as it is; the saver in the whole screen.
        if (Preview()) saver_->SetPlacementArea(LOWORD(lparam), HIWORD(lparam));
      }
      if (device_ != nullptr && device_->Initialized()) {
        try {
          device_->Resize();
        } catch (const std::exception& e) {
          Report(e);
        }
      }
      return 0;
    case WM_ERASEBKGND:
      if (device_ != nullptr) return 1;
      if (session_ != nullptr && session_->Opened()) {
        RECT client{};
        GetClientRect(hwnd_, &client);
        HBRUSH brush =
            CreateSolidBrush(static_cast<COLORREF>(session_->settings().BackgroundColor));
        FillRect(reinterpret_cast<HDC>(wparam), &client, brush);
        DeleteObject(brush);
        return 1;
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd_, &paint);
      EndPaint(hwnd_, &paint);
      if (device_ != nullptr && device_->Initialized()) device_->Repaint();
      return 0;
    }
    case WM_SYSCOMMAND:
      // Already saving: the system's own start of the saver, or the window menu, do nothing.
      if ((wparam & 0xFFF0) == SC_SCREENSAVE || (wparam & 0xFFF0) == SC_KEYMENU) return 0;
      break;
    case WM_CLOSE:
      CloseQuery();
      return 0;
    case WM_DESTROY:
      // Also reached when the preview host destroys its children.
      CloseSettings();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

}  // namespace

PreviewSize ScaledPreviewSize(int32_t screen_width, int32_t screen_height) {
  if (screen_width <= 0) return {kPreviewWidth, 0};
  return {MulDiv(screen_width, kPreviewWidth, screen_width),
          MulDiv(screen_height, kPreviewWidth, screen_width)};
}

int RunSaverWindow(const CommandLine& command_line, HWND app_window, bool second_instance) {
  SaverWindow window(command_line, app_window, second_instance);
  return window.Run();
}

}  // namespace quenvale
