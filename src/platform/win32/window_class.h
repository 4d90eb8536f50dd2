// The engine's window classes: each with the program's icon (resource 1).
#ifndef QUENVALE_PLATFORM_WIN32_WINDOW_CLASS_H_
#define QUENVALE_PLATFORM_WIN32_WINDOW_CLASS_H_

#include <windows.h>

namespace quenvale {

// Registers the class `name` of this program, unless an earlier call did; false when it cannot
// be registered.
bool RegisterProgramClass(const char* name, WNDPROC procedure, HCURSOR cursor = nullptr,
                          HBRUSH background = nullptr, UINT style = 0);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_WINDOW_CLASS_H_
