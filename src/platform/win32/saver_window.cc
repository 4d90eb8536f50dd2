#include "platform/win32/saver_window.h"

#include <mmsystem.h>
#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "datafile/zip_file_settings.h"
#include "platform/win32/data_file_host_win32.h"
#include "platform/win32/directdraw_device.h"
#include "platform/win32/registry_value_store.h"
#include "platform/win32/saver_password.h"
#include "platform/win32/user_time.h"
#include "platform/win32/window_class.h"
#include "saver/desk.h"
#include "saver/saver.h"
#include "saver/session.h"
#include "settings/settings.h"

namespace quenvale {

namespace {

constexpr char kWindowClass[] = "QuenvaleSaverWindow";
constexpr int32_t kPreviewWidth = 152;
// A preview looks for its host at least this often.
constexpr uint32_t kHostCheckInterval = 100;

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

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoA(monitor, &info)) {
    const RECT& r = info.rcMonitor;
    reinterpret_cast<std::vector<MonitorArea>*>(data)->push_back(
        {r.left, r.top, r.right - r.left, r.bottom - r.top,
         (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
  }
  return TRUE;
}

// The monitors as the saver covers them; the primary screen alone if none can be listed.
std::vector<MonitorArea> ListMonitors() {
  std::vector<MonitorArea> listed;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&listed));
  std::vector<MonitorArea> desk = DeskMonitors(listed);
  if (desk.empty()) {
    desk.push_back({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), true});
  }
  return desk;
}

class SaverDesk;

// One window of the saver with its device and its session: the preview, or one monitor in
// save mode. The desk's first window leads the others' sessions.
class ScreenWindow : private SessionHost {
 public:
  ScreenWindow(SaverDesk& desk, const MonitorArea& area) : desk_(desk), area_(area) {}
  ~ScreenWindow() {
    FinalizeDevice();
    if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  }

  bool Create(const std::string& title, HWND owner, bool preview);
  // Opens the session: the desk's own for the first window, one following `lead` otherwise.
  SaverSession& OpenSession(ZipFileSettings& data, ValueStore& store, SaverMode mode,
                            RandomSource& random, SaverSession* lead);
  // Covers its monitor, topmost; `focus` takes the keyboard.
  void Show(bool focus);
  void MoveTo(const MonitorArea& area);
  bool InitializeDevice(bool waits_for_blank);
  void FinalizeDevice();

  HWND hwnd() const { return hwnd_; }
  const MonitorArea& area() const { return area_; }
  SaverSession& session() { return *session_; }
  bool HasSession() const { return session_ != nullptr; }
  bool Running() const { return session_ != nullptr && session_->Running(); }
  // For measuring: frames run and the span between the first and the last.
  uint32_t frames_run() const { return frames_run_; }
  uint32_t FrameSpan() const { return last_frame_ms_ - first_frame_ms_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);

  // What the session asks of the window.
  void ReportFailure(const std::string& message) override;
  uint32_t MillisecondsUntilFrame() override;
  bool ResizeDevice(int32_t* width, int32_t* height) override;
  void FrameFinished() override;

  SaverDesk& desk_;
  MonitorArea area_;
  bool preview_ = false;
  HWND hwnd_ = nullptr;
  std::unique_ptr<SaverSession> session_;
  std::unique_ptr<DirectDrawDevice> device_;
  uint32_t frames_run_ = 0;
  uint32_t first_frame_ms_ = 0;
  uint32_t last_frame_ms_ = 0;
};

// The saver's run: the data file, the user's settings, and a window on every monitor (one in
// preview), with one message loop, one way to close and one writing of the settings.
class SaverDesk {
 public:
  SaverDesk(const CommandLine& command_line, HWND app_window, bool second_instance)
      : second_instance_(second_instance),
        mode_(command_line.mode),
        parent_(reinterpret_cast<HWND>(static_cast<uintptr_t>(command_line.parent_window))),
        app_window_(app_window),
        host_(app_window, command_line.mode == SaverMode::smPreview) {}
  ~SaverDesk() {
    // A run that ends without its window's end (a second instance, a start that failed) still
    // writes the settings it read, as a window's end does.
    CloseSettings();
    // The further monitors' sessions follow the first one's: they go first.
    others_.clear();
    lead_.reset();
  }

  int Run();

  bool Preview() const { return mode_ == SaverMode::smPreview; }
  bool IsLead(const ScreenWindow& window) const { return &window == lead_.get(); }
  void RequestClose();
  void CloseQuery();
  void CloseSettings();
  void DisplayChanged();
  void ReportFailure(const std::string& message);

 private:
  bool FormCreate();
  bool EmbedIntoHost();
  // A window and a session on each monitor but the first; one that cannot be made is left out.
  void CoverOtherMonitors(const std::vector<MonitorArea>& monitors);
  // The monitors again after a change: the first window on the primary, the others anew.
  void FollowDisplays();
  bool HostGone() const { return Preview() && !IsWindow(parent_); }
  int MessageLoop();
  void WriteFrameLog() const;

  const bool second_instance_;  // starts up as far as FormCreate, then ends unseen
  bool embed_failed_ = false;   // the host's window went before it could hold the preview
  bool display_changed_ = false;
  SaverMode mode_;
  HWND parent_;
  HWND app_window_;
  Win32DataFileHost host_;
  std::unique_ptr<ZipFileSettings> data_file_;
  RegistryValueStore store_;
  DefaultRandom random_;
  std::unique_ptr<ScreenWindow> lead_;
  std::vector<std::unique_ptr<ScreenWindow>> others_;
};

bool ScreenWindow::Create(const std::string& title, HWND owner, bool preview) {
  preview_ = preview;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterProgramClass(kWindowClass, WindowProc,
                            preview ? LoadCursorA(nullptr, IDC_ARROW) : nullptr,
                            static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)), CS_DBLCLKS)) {
    return false;
  }
  hwnd_ = CreateWindowExA(preview ? 0 : WS_EX_TOPMOST, kWindowClass, title.c_str(),
                          WS_POPUP | WS_CLIPCHILDREN, area_.left, area_.top, area_.width,
                          area_.height, owner, nullptr, instance, this);
  return hwnd_ != nullptr;
}

SaverSession& ScreenWindow::OpenSession(ZipFileSettings& data, ValueStore& store, SaverMode mode,
                                        RandomSource& random, SaverSession* lead) {
  SessionHost& host = *this;
  session_ = lead != nullptr ? std::make_unique<SaverSession>(*lead, host)
                             : std::make_unique<SaverSession>(data, store, mode, random, host);
  return *session_;
}

void ScreenWindow::Show(bool focus) {
  SetWindowPos(hwnd_, HWND_TOPMOST, area_.left, area_.top, area_.width, area_.height,
               focus ? 0 : SWP_NOACTIVATE);
  ShowWindow(hwnd_, focus ? SW_SHOW : SW_SHOWNA);
  if (focus) {
    SetForegroundWindow(hwnd_);
    SetFocus(hwnd_);
  }
  UpdateWindow(hwnd_);
}

void ScreenWindow::MoveTo(const MonitorArea& area) {
  area_ = area;
  SetWindowPos(hwnd_, HWND_TOPMOST, area.left, area.top, area.width, area.height,
               SWP_NOACTIVATE);
}

bool ScreenWindow::InitializeDevice(bool waits_for_blank) {
  device_ = std::make_unique<DirectDrawDevice>(hwnd_);
  device_->SetWaitsForVerticalBlank(waits_for_blank);
  try {
    device_->Initialize();
  } catch (const std::exception& e) {
    device_.reset();
    ReportFailure(e.what());
    return false;
  }
  SaverSession& session = *session_;
  device_->SetOnRestored([&session] { session.SurfaceRestored(); });
  session_->Bind(*device_);
  return true;
}

void ScreenWindow::FinalizeDevice() {
  if (device_ == nullptr) return;
  if (session_ != nullptr) session_->Unbind();
  device_->Finalize();
  device_.reset();
}

void ScreenWindow::ReportFailure(const std::string& message) { desk_.ReportFailure(message); }

uint32_t ScreenWindow::MillisecondsUntilFrame() {
  // The vertical-blank wait inside Flip paces the frames themselves; where that wait does not
  // block, the device says how long to hold the next frame back.
  return device_ != nullptr ? device_->MillisecondsUntilFrame() : 0;
}

bool ScreenWindow::ResizeDevice(int32_t* width, int32_t* height) {
  (void)width;
  (void)height;
  // A surface that cannot follow is reported; the frames go on at the old size.
  if (device_ != nullptr && device_->Initialized()) {
    try {
      device_->Resize();
    } catch (const std::exception& e) {
      ReportFailure(e.what());
    }
  }
  return true;
}

void ScreenWindow::FrameFinished() {
  last_frame_ms_ = timeGetTime();
  if (frames_run_++ == 0) first_frame_ms_ = last_frame_ms_;
}

LRESULT CALLBACK ScreenWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                          LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ScreenWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->hwnd_ != hwnd) {
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  return self->Handle(message, wparam, lparam);
}

LRESULT ScreenWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (Running() && session_->KeyDown(static_cast<uint16_t>(wparam))) desk_.RequestClose();
      return 0;
    case WM_MOUSEMOVE:
      if (Running() && session_->MouseMove(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam))) {
        desk_.RequestClose();
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
      if (Running()) desk_.RequestClose();
      return 0;
    case WM_SETCURSOR:
      if (!preview_ && LOWORD(lparam) == HTCLIENT) {
        SetCursor(nullptr);
        return TRUE;
      }
      break;
    case WM_SIZE:
      if (Running()) session_->Resize(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_SETTINGCHANGE:
      // The user's time format among them, maybe: the clock shows the current one at once.
      if (Running()) session_->TimeFormatChanged();
      break;
    case WM_DISPLAYCHANGE:
      // Every top-level window hears of it; the desk answers once.
      if (desk_.IsLead(*this)) desk_.DisplayChanged();
      break;
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
      desk_.CloseQuery();
      return 0;
    case WM_DESTROY:
      // The first window's end is the saver's (also when the preview host destroys its
      // children); the desk itself ends the others.
      if (desk_.IsLead(*this)) {
        desk_.CloseSettings();
        PostQuitMessage(0);
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wparam, lparam);
}

int SaverDesk::Run() {
  // A preview without a host window to live in shows nothing at all.
  if (Preview() && (parent_ == nullptr || !IsWindow(parent_))) return 0;
  // Nor does a preview ever put a crash report box into the control panel: errors it cannot
  // handle end it quietly.
  if (Preview()) SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const std::vector<MonitorArea> monitors =
      Preview() ? std::vector<MonitorArea>{{0, 0, GetSystemMetrics(SM_CXSCREEN),
                                            GetSystemMetrics(SM_CYSCREEN), true}}
                : ListMonitors();
  lead_ = std::make_unique<ScreenWindow>(*this, monitors.front());
  if (!lead_->Create(host_.Title(), Preview() ? nullptr : app_window_, Preview())) return 1;
  if (!FormCreate()) return embed_failed_ ? 0 : 1;
  if (second_instance_) return 0;

  if (Preview()) {
    RECT client{};
    GetClientRect(parent_, &client);
    SetWindowPos(lead_->hwnd(), nullptr, 0, 0, client.right, client.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(lead_->hwnd(), SW_SHOWNA);
    UpdateWindow(lead_->hwnd());
  } else {
    lead_->Show(true);
  }
  // A display that cannot be drawn on is reported, and the saver goes on without frames: the
  // window still covers the screen in the background colour and ends on input as usual.
  lead_->InitializeDevice(true);
  lead_->session().Begin(timeGetTime());
  if (!Preview()) CoverOtherMonitors(monitors);

  // Waits shorter than the system tick need a finer timer resolution.
  timeBeginPeriod(1);
  const int code = MessageLoop();
  timeEndPeriod(1);
  WriteFrameLog();
  return code;
}

// With QUENVALE_FRAME_LOG naming a file, a run appends how many frames it drew and over how
// long: the measure of the frame rate on a given display, for benchmarks and bug reports. The
// first monitor's frames are counted; the others keep its pace.
void SaverDesk::WriteFrameLog() const {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("QUENVALE_FRAME_LOG", path, sizeof(path));
  const uint32_t frames = lead_ != nullptr ? lead_->frames_run() : 0;
  if (length == 0 || length >= sizeof(path) || frames < 2) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const uint32_t span = lead_->FrameSpan();
  // The clock's last text too, as it was drawn: which time format the saver used.
  std::string clock = lead_->HasSession() && lead_->session().Started()
                          ? lead_->session().saver().ClockText()
                          : std::string();
  clock.resize(std::min<size_t>(clock.size(), 60));
  char line[200];
  const int size =
      wsprintfA(line, "frames %lu ms %lu fps %lu monitors %lu clock \"%s\"\r\n",
                static_cast<unsigned long>(frames - 1), static_cast<unsigned long>(span),
                static_cast<unsigned long>(span == 0 ? 0 : (frames - 1) * 1000ul / span),
                static_cast<unsigned long>(others_.size() + 1), clock.c_str());
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
}

bool SaverDesk::FormCreate() {
  // A missing or damaged data file ends the process inside the constructor, through the host.
  data_file_ = std::make_unique<ZipFileSettings>(host_, mode_);
  SetWindowTextA(lead_->hwnd(), host_.Title().c_str());
  SaverSession& session = lead_->OpenSession(*data_file_, store_, mode_, random_, nullptr);
  if (!session.Open()) return false;
  // The clock as the settings dialog's preview shows it, in the user's own format.
  session.Build().SetTimeText(UserLongTimeText);

  int32_t width = lead_->area().width, height = lead_->area().height;
  if (Preview()) {
    // The sprites start inside the window as embedding leaves it, the screen scaled down; it
    // fills the host's picture once it shows.
    if (!EmbedIntoHost()) {
      embed_failed_ = true;
      return false;
    }
    RECT client{};
    GetClientRect(lead_->hwnd(), &client);
    width = client.right;
    height = client.bottom;
  }
  return session.Start(width, height);
}

bool SaverDesk::EmbedIntoHost() {
  const HWND window = lead_->hwnd();
  // The control panel may hand over its preview window before showing it.
  while (!IsWindowVisible(parent_)) {
    if (!IsWindow(parent_)) return false;
    PumpMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  // A child cannot also be a pop-up window, whatever the host's own style.
  const LONG_PTR style =
      (GetWindowLongPtrA(parent_, GWL_STYLE) | WS_CHILD | WS_DISABLED) & ~WS_POPUP;
  SetWindowLongPtrA(window, GWL_STYLE, style);
  SetWindowLongPtrA(window, GWL_EXSTYLE, GetWindowLongPtrA(parent_, GWL_EXSTYLE));
  SetParent(window, parent_);
  const PreviewSize size =
      ScaledPreviewSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(window, nullptr, 0, 0, size.width, size.height,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return true;
}

void SaverDesk::CoverOtherMonitors(const std::vector<MonitorArea>& monitors) {
  SaverSession& lead = lead_->session();
  if (!lead_->Running()) return;
  for (size_t i = 1; i < monitors.size(); ++i) {
    auto window = std::make_unique<ScreenWindow>(*this, monitors[i]);
    if (!window->Create(host_.Title(), app_window_, false)) continue;
    SaverSession& session = window->OpenSession(*data_file_, store_, mode_, random_, &lead);
    if (!session.Open()) continue;
    session.Build().SetTimeText(UserLongTimeText);
    if (!session.Start(monitors[i].width, monitors[i].height)) continue;
    window->Show(false);
    // The first monitor's present waits for the blank; the others keep its pace without.
    window->InitializeDevice(false);
    session.Begin(timeGetTime());
    others_.push_back(std::move(window));
  }
  // The keyboard stays with the first monitor's window.
  SetForegroundWindow(lead_->hwnd());
  SetFocus(lead_->hwnd());
}

void SaverDesk::DisplayChanged() {
  // Answered from the loop, never from inside a session's run (a message box's own loop may
  // deliver the message there).
  display_changed_ = true;
}

void SaverDesk::FollowDisplays() {
  display_changed_ = false;
  if (Preview() || lead_ == nullptr || !lead_->Running()) return;
  const std::vector<MonitorArea> monitors = ListMonitors();
  std::vector<MonitorArea> covered = {lead_->area()};
  for (const auto& window : others_) covered.push_back(window->area());
  if (monitors == covered) return;
  // The first window moves to the (new) primary monitor; the others are made anew.
  for (auto& window : others_) {
    window->FinalizeDevice();
    window->session().Close();
  }
  others_.clear();
  lead_->MoveTo(monitors.front());
  CoverOtherMonitors(monitors);
}

int SaverDesk::MessageLoop() {
  for (;;) {
    // Every message is answered at once, also between the slices of a long frame: the
    // sessions hold back what must wait for the frame's end.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (display_changed_) FollowDisplays();
    // The host's window going away ends a preview within one wait, not at the next clock tick.
    if (HostGone() && IsWindow(lead_->hwnd())) {
      DestroyWindow(lead_->hwnd());
      continue;
    }
    const uint32_t now = timeGetTime();
    uint32_t wait = lead_->session().Run(now);
    for (const auto& window : others_) wait = std::min(wait, window->session().Run(now));
    if (wait == 0) continue;
    if (Preview()) wait = std::min(wait, kHostCheckInterval);
    MsgWaitForMultipleObjectsEx(0, nullptr, WaitFor(wait), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void SaverDesk::ReportFailure(const std::string& message) {
  // A preview never shows a box inside the control panel.
  if (Preview()) return;
  host_.ShowError(message);
  // The keyboard comes back to the saver, so that a key still ends it.
  if (lead_ != nullptr && lead_->hwnd() != nullptr && IsWindowVisible(lead_->hwnd())) {
    SetForegroundWindow(lead_->hwnd());
    SetFocus(lead_->hwnd());
  }
}

void SaverDesk::RequestClose() {
  if (lead_ != nullptr) PostMessageA(lead_->hwnd(), WM_CLOSE, 0, 0);
}

void SaverDesk::CloseQuery() {
  ShowCursor(TRUE);
  if (!VerifySaverPassword(lead_->hwnd())) {
    ShowCursor(FALSE);
    return;
  }
  CloseSettings();
  for (auto& window : others_) DestroyWindow(window->hwnd());
  DestroyWindow(lead_->hwnd());
}

void SaverDesk::CloseSettings() {
  if (lead_ == nullptr || !lead_->HasSession()) return;
  SaverSession& lead = lead_->session();
  if (!lead.Opened() || lead.Closed()) return;
  for (auto& window : others_) {
    window->FinalizeDevice();
    window->session().Close();
  }
  lead_->FinalizeDevice();
  // The settings are written once, by the first monitor's session.
  lead.Close();
}

}  // namespace

PreviewSize ScaledPreviewSize(int32_t screen_width, int32_t screen_height) {
  if (screen_width <= 0) return {kPreviewWidth, 0};
  return {MulDiv(screen_width, kPreviewWidth, screen_width),
          MulDiv(screen_height, kPreviewWidth, screen_width)};
}

int RunSaverWindow(const CommandLine& command_line, HWND app_window, bool second_instance) {
  SaverDesk desk(command_line, app_window, second_instance);
  return desk.Run();
}

}  // namespace quenvale
