// What the test programs that look at our windows from outside share: checks printed as they
// go, and a message pump that waits for something to happen.
#ifndef QUENVALE_TESTS_PLATFORM_WIN32_PROBE_UTIL_H_
#define QUENVALE_TESTS_PLATFORM_WIN32_PROBE_UTIL_H_

#include <windows.h>

#include <cstdio>

namespace probe {

// Checks that failed so far; the program's exit code is 1 when there is any.
inline int failures = 0;

inline void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
  if (!ok) ++failures;
}

// Pumps this thread's messages until `done` says so or `ms` milliseconds have gone.
template <typename Done>
bool PumpUntil(DWORD ms, Done done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return true;
}

}  // namespace probe

#endif  // QUENVALE_TESTS_PLATFORM_WIN32_PROBE_UTIL_H_
