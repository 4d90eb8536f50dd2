#include "platform/win32/saver_window.h"

#include <mmsystem.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include "datafile/zip_file_settings.h"
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
constexpr int32_t kPreviewWidth = 152;
// A preview looks for its host at least this often.
constexpr uint32_t kHostCheckInterval = 100;

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
  bool Running() const { return session_ != nullptr && session_->Started() && !session_->Closed(); }
  bool HostGone() const { return Preview() && !IsWindow(parent_); }
  void RequestClose();
  void CloseQuery();
  void CloseSettings();
  void Report(const std::exception& e) { ReportFailure(e.what()); }
  // What the session asks of the window.
  void ReportFailure(const std::string& message) override;
  uint32_t MillisecondsUntilFrame() override;
  bool ResizeDevice(int32_t* width, int32_t* height) override;
  void FrameFinished() override;
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
  std::unique_ptr<DirectDrawDevice> device_;
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
  session_->Begin(timeGetTime());

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
  // The clock as the settings dialog's preview shows it, in the user's own format.
  session_->Build().SetTimeText(UserLongTimeText);

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
  SaverSession& session = *session_;
  device_->SetOnRestored([&session] { session.SurfaceRestored(); });
  session_->Bind(*device_);
  return true;
}

void SaverWindow::FinalizeDevice() {
  if (device_ == nullptr) return;
  if (session_ != nullptr) session_->Unbind();
  device_->Finalize();
  device_.reset();
}

uint32_t SaverWindow::MillisecondsUntilFrame() {
  // The vertical-blank wait inside Flip paces the frames themselves; where that wait does not
  // block, the device says how long to hold the next frame back.
  return device_ != nullptr ? device_->MillisecondsUntilFrame() : 0;
}

bool SaverWindow::ResizeDevice(int32_t* width, int32_t* height) {
  (void)width;
  (void)height;
  // A surface that cannot follow is reported; the frames go on at the old size.
  if (device_ != nullptr && device_->Initialized()) {
    try {
      device_->Resize();
    } catch (const std::exception& e) {
      Report(e);
    }
  }
  return true;
}

void SaverWindow::FrameFinished() {
  last_frame_ms_ = timeGetTime();
  if (frames_run_++ == 0) first_frame_ms_ = last_frame_ms_;
}

int SaverWindow::MessageLoop() {
  for (;;) {
    // Every message is answered at once, also between the slices of a long frame: the session
    // holds back what must wait for the frame's end.
    MSG msg;
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
    uint32_t wait = session_->Run(timeGetTime());
    if (wait == 0) continue;
    if (Preview()) wait = std::min(wait, kHostCheckInterval);
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
  if (session_ == nullptr || !session_->Opened() || session_->Closed()) return;
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
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (Running() && session_->KeyDown(static_cast<uint16_t>(wparam))) RequestClose();
      return 0;
    case WM_MOUSEMOVE:
      if (Running() && session_->MouseMove(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam))) {
        RequestClose();
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
      if (Running()) RequestClose();
      return 0;
    case WM_SETCURSOR:
      if (!Preview() && LOWORD(lparam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_SIZE:
      if (Running()) session_->Resize(LOWORD(lparam), HIWORD(lparam));
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
