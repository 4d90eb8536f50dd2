// The saver password services of older Windows versions: the system's password dialog for the
// change mode (/a) and the check before a running saver may close. Both libraries are loaded at
// run time from the system folder; when they are missing the saver goes on without them.
#ifndef QUENVALE_PLATFORM_WIN32_SAVER_PASSWORD_H_
#define QUENVALE_PLATFORM_WIN32_SAVER_PASSWORD_H_

#include <windows.h>

#include <string>

namespace quenvale {

// `system_dir` joined with `file_name`: a separating "\" only where the folder is not empty and
// does not end with one already.
std::string SystemLibraryPath(const std::string& system_dir, const std::string& file_name);

// What the change mode does with its handle argument: the owner handle for the system dialog
// (true), or the error text shown instead (false).
bool ChangePasswordHandle(const std::string& argument, HWND* handle, std::string* error);

// The error texts of the change mode, for the library and its entry point.
std::string CannotLoadPasswordLibraryText(const std::string& system_dir_with_slash);
std::string MissingPasswordEntryText(const std::string& system_dir_with_slash);

// Runs the system's change-password dialog with the second command-line argument as its owner,
// or shows why it cannot (owned by `parent_window`, caption "ScreenSaver"). Then ends the process.
[[noreturn]] void ChangeSaverPassword(const std::string& second_argument, HWND parent_window);

// True when the saver may close: the per-user saver password is off, the system's check library
// or its entry point is missing, or the check accepts.
bool VerifySaverPassword(HWND window);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_SAVER_PASSWORD_H_
