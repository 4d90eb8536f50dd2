// Looks at the configuration dialog from outside, for config_dialog_test.sh:
//   dialog_probe client CAPTION
//     waits for the top-level window CAPTION and prints "client WIDTH HEIGHT" (its client area)
//     and "offset DX DY" (its centre less the centre of its monitor's work area);
//   dialog_probe edits CAPTION
//     prints the text of each edit box of the window CAPTION, one a line, in tab order;
//   dialog_probe host SCR_PATH CAPTION
//     plays the settings panel: a disabled window with a page inside, the saver started as
//     "SCR /c:PAGE", the dialog checked to be owned by the panel's window, closed with its close
//     box, and the panel's window then enabled again.
// Exit code 0 when the window was found and every check held, 1 otherwise, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/probe_util.h"

namespace {

using probe::Check;
using probe::PumpUntil;

HWND WaitForWindow(const char* caption, DWORD ms) {
  HWND window = nullptr;
  PumpUntil(ms, [&] {
    window = FindWindowA(nullptr, caption);
    return window != nullptr && IsWindowVisible(window);
  });
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

int Client(const char* caption) {
  HWND window = WaitForWindow(caption, 30000);
  if (window == nullptr) {
    std::fprintf(stderr, "dialog_probe: no window \"%s\"\n", caption);
    return 1;
  }
  RECT client{}, frame{};
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info);
  const RECT& area = info.rcWork;
  HDC screen = GetDC(nullptr);
  std::printf("dpi %d\n", GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  std::printf("client %ld %ld\n", client.right - client.left, client.bottom - client.top);
  std::printf("offset %ld %ld\n", (frame.left + frame.right - area.left - area.right) / 2,
              (frame.top + frame.bottom - area.top - area.bottom) / 2);
  return 0;
}

int Edits(const char* caption) {
  HWND window = WaitForWindow(caption, 30000);
  if (window == nullptr) {
    std::fprintf(stderr, "dialog_probe: no window \"%s\"\n", caption);
    return 1;
  }
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char name[32] = "";
    GetClassNameA(child, name, sizeof name);
    if (_stricmp(name, "Edit") != 0) continue;
    char text[256] = "";
    SendMessageTimeoutA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    std::printf("%s\n", text);
  }
  return 0;
}

int Host(const char* scr, const char* caption) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND panel = CreateWindowExA(0, "STATIC", "Dialog host", WS_OVERLAPPEDWINDOW, 40, 40, 400, 300,
                               nullptr, nullptr, instance, nullptr);
  HWND page = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 300, 200, panel,
                              nullptr, instance, nullptr);
  if (panel == nullptr || page == nullptr) {
    std::fprintf(stderr, "dialog_probe: cannot create the host windows\n");
    return 2;
  }
  ShowWindow(panel, SW_SHOW);
  // The panel waits for the dialog with its own window disabled.
  EnableWindow(panel, FALSE);

  std::string command =
      "\"" + std::string(scr) + "\" /c:" + std::to_string(reinterpret_cast<uintptr_t>(page));
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "dialog_probe: cannot start %s (error %lu)\n", scr, GetLastError());
    return 2;
  }
  CloseHandle(process.hThread);

  HWND dialog = WaitForWindow(caption, 30000);
  Check(dialog != nullptr, "the dialog came up");
  if (dialog != nullptr) {
    Check(GetWindow(dialog, GW_OWNER) == panel, "the host's window owns the dialog");
    Check(MonitorFromWindow(dialog, MONITOR_DEFAULTTONULL) ==
              MonitorFromWindow(panel, MONITOR_DEFAULTTOPRIMARY),
          "the dialog is on the host's monitor");
    Check(!IsWindowEnabled(panel), "the host stays disabled while the dialog is up");
    PostMessageA(dialog, WM_CLOSE, 0, 0);
  }
  DWORD code = 1;
  const bool ended =
      PumpUntil(30000, [&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
  Check(ended, "the close box ended the saver");
  if (ended) {
    GetExitCodeProcess(process.hProcess, &code);
    Check(code == 0, "with exit code 0");
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hProcess);
  Check(IsWindowEnabled(panel) != FALSE, "the host's window is enabled again");
  DestroyWindow(panel);
  return probe::failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "client") == 0) return Client(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "edits") == 0) return Edits(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "host") == 0) return Host(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: dialog_probe client|edits CAPTION | dialog_probe host SCR_PATH "
               "CAPTION\n");
  return 2;
}
