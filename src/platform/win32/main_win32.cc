// quenvale.scr: the engine the Windows screen-saver host starts. One instance at a time; the
// command line picks the mode, and the data file beside the executable the saver.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "datafile/zip_file_settings.h"
#include "platform/win32/config_dialog.h"
#include "platform/win32/saver_password.h"
#include "platform/win32/saver_window.h"
#include "platform/win32/window_class.h"

namespace {

constexpr char kInstanceMutex[] = "Quenvale";
constexpr char kApplicationClass[] = "QuenvaleApplication";

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.emplace_back(__argv[i] != nullptr ? __argv[i] : "");
  return args;
}

// The application's own hidden window: owner of the saver window and bearer of the title.
HWND CreateApplicationWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  quenvale::RegisterProgramClass(kApplicationClass, DefWindowProcA);
  HWND window = CreateWindowExA(0, kApplicationClass, "Quenvale",
                                WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                                nullptr, nullptr, instance, nullptr);
  // No taskbar button of its own.
  if (window != nullptr) SetWindowLongPtrA(window, GWL_EXSTYLE, WS_EX_TOOLWINDOW);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // A second instance goes on starting up: it changes the password for /a, and reads the data
  // file (reporting a missing one), but it shows no window and ends once that is done.
  HANDLE instance_mutex = nullptr;
  HANDLE existing = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kInstanceMutex);
  const bool second_instance = existing != nullptr;
  if (second_instance) {
    CloseHandle(existing);
  } else {
    instance_mutex = CreateMutexA(nullptr, FALSE, kInstanceMutex);
  }

  const std::vector<std::string> args = Arguments();
  const quenvale::CommandLine command_line = quenvale::ParseCommandLine(args);
  if (command_line.mode == quenvale::SaverMode::smChangePassword) {
    quenvale::ChangeSaverPassword(args.size() > 1 ? args[1] : std::string(),
                                  reinterpret_cast<HWND>(
                                      static_cast<uintptr_t>(command_line.parent_window)));
  }

  HWND app_window = CreateApplicationWindow();
  int exit_code = 0;
  if (command_line.mode == quenvale::SaverMode::smConfigure) {
    SetWindowTextA(app_window, quenvale::kProductSite);
    exit_code = quenvale::RunConfigDialog(command_line, app_window, second_instance);
  } else {
    exit_code = quenvale::RunSaverWindow(command_line, app_window, second_instance);
  }
  if (app_window != nullptr) DestroyWindow(app_window);
  if (instance_mutex != nullptr) CloseHandle(instance_mutex);
  return exit_code;
}
