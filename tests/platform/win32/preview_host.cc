// Plays the Screen Saver Settings panel for the preview test: a visible window with a preview
// control, the saver started as "SCR /p HANDLE", and the saver's window checked from the host's
// side (Wine does not show what another process's child window draws, so pixels are not looked
// at here). Then the host window goes away and the saver must end with it.
//   preview_host SCR_PATH
// With --close it plays whoever ends a running saver instead: "SCR /s" is started, and once its
// window has been up a while it is sent WM_CLOSE; with --key, the key B as the keyboard sends it
// (WM_KEYDOWN, then WM_KEYUP), which the saver answers by closing.
//   preview_host --close|--key SCR_PATH
// Either way it prints how many milliseconds the saver took to answer ("answered in N ms": its
// window gone from the screen) and to end ("ended in N ms"). With --watch nobody is sent
// anything: once the saver runs it prints "ready", and when its window goes, "gone at T" (T in
// milliseconds since 1970, the clock a script on the same machine can read when it presses a key
// through the X server).
//   preview_host --watch SCR_PATH A display without a window manager
// holds the end of a top-level window back by about two seconds under Wine, which the first
// figure leaves out. Prints what it found and exits 0 when every check held, 1 otherwise, 2 on
// a usage error.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/win32/probe_util.h"

using probe::Check;
using probe::PumpUntil;

namespace {

bool Start(const std::string& command, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string line = command;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      process)) {
    std::fprintf(stderr, "preview_host: cannot run %s (error %lu)\n", command.c_str(),
                 GetLastError());
    return false;
  }
  CloseHandle(process->hThread);
  return true;
}

// Waits for the saver's window `saver` to leave the screen and its process to end after
// something told it to; true when it did.
bool EndsAfter(HANDLE process, HWND saver, DWORD told_at, const char* what) {
  if (PumpUntil(30000, [&] { return !IsWindow(saver) || !IsWindowVisible(saver); })) {
    std::printf("answered in %lu ms\n", GetTickCount() - told_at);
  }
  const bool ended =
      PumpUntil(30000, [&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; });
  if (ended) std::printf("ended in %lu ms\n", GetTickCount() - told_at);
  Check(ended, what);
  if (!ended) TerminateProcess(process, 3);
  CloseHandle(process);
  return ended;
}

enum class Ending { kClose, kKey, kWatch };

uint64_t UnixMilliseconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  return (ticks - 116444736000000000ull) / 10000;  // 100 ns steps since 1601
}

int CloseRunningSaver(const char* scr_path, Ending ending) {
  PROCESS_INFORMATION process{};
  if (!Start("\"" + std::string(scr_path) + "\" /s", &process)) return 2;
  HWND saver = nullptr;
  const bool shown = PumpUntil(30000, [&] {
    saver = FindWindowA("QuenvaleSaverWindow", nullptr);
    return saver != nullptr && IsWindowVisible(saver);
  });
  Check(shown, "the saver's window came up");
  if (!shown) {
    TerminateProcess(process.hProcess, 3);
    CloseHandle(process.hProcess);
    return 1;
  }
  // Frames are running by now.
  PumpUntil(2000, [] { return false; });
  Check(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT, "the saver is still running");
  if (ending == Ending::kWatch) {
    std::printf("ready\n");
    std::fflush(stdout);
    if (PumpUntil(60000, [&] { return !IsWindow(saver) || !IsWindowVisible(saver); })) {
      std::printf("gone at %llu\n", static_cast<unsigned long long>(UnixMilliseconds()));
    }
    EndsAfter(process.hProcess, saver, GetTickCount(), "the saver ended");
    return probe::failures == 0 ? 0 : 1;
  }
  const DWORD told_at = GetTickCount();
  if (ending == Ending::kKey) {
    PostMessageA(saver, WM_KEYDOWN, 'B', 1);
    PostMessageA(saver, WM_KEYUP, 'B', 0xC0000001);
  } else {
    PostMessageA(saver, WM_CLOSE, 0, 0);
  }
  EndsAfter(process.hProcess, saver, told_at,
            ending == Ending::kKey ? "the saver ended on a key" : "the saver ended on WM_CLOSE");
  return probe::failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) {
    const std::string mode = argv[1];
    if (mode == "--close") return CloseRunningSaver(argv[2], Ending::kClose);
    if (mode == "--key") return CloseRunningSaver(argv[2], Ending::kKey);
    if (mode == "--watch") return CloseRunningSaver(argv[2], Ending::kWatch);
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: preview_host [--close|--key|--watch] SCR_PATH\n");
    return 2;
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND frame = CreateWindowExA(0, "STATIC", "Preview host", WS_OVERLAPPEDWINDOW, 100, 100, 400, 300,
                               nullptr, nullptr, instance, nullptr);
  // The panel's preview area: a plain child control, here 160 x 120 pixels of client area.
  HWND area = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 20, 20, 160, 120, frame,
                              nullptr, instance, nullptr);
  if (frame == nullptr || area == nullptr) {
    std::fprintf(stderr, "preview_host: cannot create the host windows\n");
    return 2;
  }
  ShowWindow(frame, SW_SHOW);
  UpdateWindow(frame);

  PROCESS_INFORMATION process{};
  if (!Start("\"" + std::string(argv[1]) + "\" /p " +
                 std::to_string(reinterpret_cast<uintptr_t>(area)),
             &process)) {
    return 2;
  }

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
    Check(saver_rect.left == 0 && saver_rect.top == 0 && saver_rect.right == host_client.right &&
              saver_rect.bottom == host_client.bottom,
          "it fills the preview area's client area");
    Check(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT,
          "the saver keeps running while the host is there");
  }

  // The preview area goes first, as when the panel closes: it is what the saver lives in.
  const DWORD told_at = GetTickCount();
  DestroyWindow(area);
  EndsAfter(process.hProcess, saver, told_at, "the saver ended when the host window went away");
  DestroyWindow(frame);
  return probe::failures == 0 ? 0 : 1;
}
