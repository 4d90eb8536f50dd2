// Plays the Screen Saver Settings panel for the preview test: a visible window with a preview
// control, the saver started as "SCR /p HANDLE", and the saver's window checked from the host's
// side (Wine does not show what another process's child window draws, so pixels are not looked
// at here). Then the host window goes away and the saver must end with it.
//   preview_host SCR_PATH
// Prints what it found and exits 0 when every check held, 1 otherwise, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/probe_util.h"

using probe::Check;
using probe::PumpUntil;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: preview_host SCR_PATH\n");
    return 2;
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND frame = CreateWindowExA(0, "STATIC", "Preview host", WS_OVERLAPPEDWINDOW, 100, 100, 400,
                               300, nullptr, nullptr, instance, nullptr);
  // The panel's preview area: a plain child control, here 160 x 120 pixels of client area.
  HWND area = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 20, 20, 160, 120, frame,
                              nullptr, instance, nullptr);
  if (frame == nullptr || area == nullptr) {
    std::fprintf(stderr, "preview_host: cannot create the host windows\n");
    return 2;
  }
  ShowWindow(frame, SW_SHOW);
  UpdateWindow(frame);

  std::string command = "\"" + std::string(argv[1]) + "\" /p " +
                        std::to_string(reinterpret_cast<uintptr_t>(area));
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "preview_host: cannot start %s (error %lu)\n", argv[1],
                 GetLastError());
    return 2;
  }
  CloseHandle(process.hThread);

  HWND saver = nullptr;
  const bool embedded = PumpUntil(30000, [&] {
    saver = GetWindow(area, GW_CHILD);
    return saver != nullptr && IsWindowVisible(saver);
  });
  Check(embedded, "the saver's window became a visible child of the preview area");
  if (embedded) {
    DWORD saver_process = 0;
    GetWindowThreadProcessId(saver, &saver_process);
    Check(saver_process == process.dwProcessId, "that child belongs to the saver's process");
    const LONG_PTR style = GetWindowLongPtrA(saver, GWL_STYLE);
    Check((style & WS_CHILD) != 0, "it has the child style");
    Check((style & WS_DISABLED) != 0, "it is disabled (no input reaches it)");
    Check(GetAncestor(saver, GA_PARENT) == area, "its parent is the preview area");
    // Let it settle: it fills the host's client area once shown.
    PumpUntil(2000, [] { return false; });
    RECT host_client{}, saver_rect{};
    GetClientRect(area, &host_client);
    GetWindowRect(saver, &saver_rect);
    MapWindowPoints(HWND_DESKTOP, area, reinterpret_cast<POINT*>(&saver_rect), 2);
    std::printf("host client %ldx%ld, saver at (%ld,%ld) %ldx%ld\n", host_client.right,
                host_client.bottom, saver_rect.left, saver_rect.top,
                saver_rect.right - saver_rect.left, saver_rect.bottom - saver_rect.top);
    Check(saver_rect.left == 0 && saver_rect.top == 0 &&
              saver_rect.right == host_client.right && saver_rect.bottom == host_client.bottom,
          "it fills the preview area's client area");
    Check(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT,
          "the saver keeps running while the host is there");
  }

  DestroyWindow(frame);
  const bool ended = PumpUntil(30000, [&] {
    return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
  });
  Check(ended, "the saver ended when the host window went away");
  if (!ended) TerminateProcess(process.hProcess, 3);
  CloseHandle(process.hProcess);
  return probe::failures == 0 ? 0 : 1;
}
