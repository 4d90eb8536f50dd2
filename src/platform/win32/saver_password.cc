#include "platform/win32/saver_password.h"

#include <cstdlib>

#include "common/strings.h"

namespace quenvale {

namespace {

constexpr char kPasswordCaption[] = "ScreenSaver";

std::string SystemDirectory() {
  char buffer[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
  return std::string(buffer, length < MAX_PATH ? length : 0);
}

std::string WithSlash(const std::string& dir) { return SystemLibraryPath(dir, ""); }

}  // namespace

std::string SystemLibraryPath(const std::string& system_dir, const std::string& file_name) {
  std::string path = system_dir;
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path + file_name;
}

bool ChangePasswordHandle(const std::string& argument, HWND* handle, std::string* error) {
  int32_t value = 0;
  try {
    value = StrToInt(argument);
  } catch (const ConvertError& e) {
    *error = e.what();
    return false;
  }
  if (value < 0) {
    *error = "Range check error";
    return false;
  }
  *handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<uint32_t>(value)));
  return true;
}

std::string CannotLoadPasswordLibraryText(const std::string& system_dir_with_slash) {
  return "Could not load library " + system_dir_with_slash + "MPR.DLL - " +
         " The password cannot be changed";
}

std::string MissingPasswordEntryText(const std::string& system_dir_with_slash) {
  return "Libarary " + system_dir_with_slash + "MPR.DLL does not " +
         "contain PwdChangePasswordA used to set the password!";
}

void ChangeSaverPassword(const std::string& second_argument, HWND parent_window) {
  using ChangePasswordFn = DWORD(WINAPI*)(LPCSTR, HWND, DWORD, PVOID);
  const std::string dir = WithSlash(SystemDirectory());
  std::string error;
  HMODULE library = LoadLibraryA(SystemLibraryPath(SystemDirectory(), "MPR.DLL").c_str());
  if (library == nullptr) {
    error = CannotLoadPasswordLibraryText(dir);
  } else {
    auto change = reinterpret_cast<ChangePasswordFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "PwdChangePasswordA")));
    HWND owner = nullptr;
    if (change == nullptr) {
      error = MissingPasswordEntryText(dir);
    } else if (ChangePasswordHandle(second_argument, &owner, &error)) {
      change("SCRSAVE", owner, 0, nullptr);
    }
    FreeLibrary(library);
  }
  if (!error.empty()) {
    // A handle that names no window would keep the box from showing at all.
    MessageBoxA(IsWindow(parent_window) ? parent_window : nullptr, error.c_str(),
                kPasswordCaption, MB_ICONERROR | MB_OK);
  }
  ExitProcess(0);
}

bool VerifySaverPassword(HWND window) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return true;
  }
  DWORD type = 0, value = 0, size = sizeof(value);
  const LONG status = RegQueryValueExA(key, "ScreenSaveUsePassword", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  // A value of another type counts as "off": refusing to close on an unreadable setting would
  // lock the user out.
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value) || value == 0) {
    return true;
  }
  HMODULE library = LoadLibraryA(SystemLibraryPath(SystemDirectory(), "password.cpl").c_str());
  if (library == nullptr) return true;
  using VerifyFn = BOOL(WINAPI*)(HWND);
  auto verify = reinterpret_cast<VerifyFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "VerifyScreenSavePwd")));
  bool result = true;
  if (verify != nullptr && (verify(window) & 0xFF) == 0) result = false;
  FreeLibrary(library);
  return result;
}

}  // namespace quenvale
