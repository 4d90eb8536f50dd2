#include "platform/win32/window_class.h"

namespace quenvale {

bool RegisterProgramClass(const char* name, WNDPROC procedure, HCURSOR cursor, HBRUSH background,
                          UINT style) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  if (GetClassInfoExA(instance, name, &window_class)) return true;
  window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.style = style;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  window_class.hCursor = cursor;
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  return RegisterClassExA(&window_class) != 0;
}

}  // namespace quenvale
