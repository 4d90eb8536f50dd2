#include "platform/win32/data_file_host_win32.h"

#include <chrono>
#include <vector>

namespace quenvale {

Win32DataFileHost::Win32DataFileHost(HWND app_window, bool silent)
    : app_window_(app_window),
      silent_(silent),
      random_(static_cast<uint32_t>(
          std::chrono::steady_clock::now().time_since_epoch().count())) {
  title_ = DefaultApplicationTitle(ExecutablePath());
}

std::string Win32DataFileHost::ExecutablePath() const {
  // Long paths are not cut short: the buffer grows until the name fits.
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

void Win32DataFileHost::ShowError(const std::string& message) const {
  if (silent_) return;
  // Above the saver's topmost window, which would otherwise hide it.
  MessageBoxA(nullptr, message.c_str(), title_.c_str(),
              MB_ICONERROR | MB_OK | MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND);
}

void Win32DataFileHost::Fatal(const std::string& message, int exit_code) {
  ShowError(message);
  ExitProcess(static_cast<UINT>(exit_code));
}

void Win32DataFileHost::ArchiveMessage(const std::string& message) { ShowError(message); }

int32_t Win32DataFileHost::Random(int32_t range) {
  if (range <= 1) return 0;
  return std::uniform_int_distribution<int32_t>(0, range - 1)(random_);
}

void Win32DataFileHost::SetApplicationTitle(const std::string& title) {
  title_ = title;
  if (app_window_ != nullptr) SetWindowTextA(app_window_, title.c_str());
}

}  // namespace quenvale
