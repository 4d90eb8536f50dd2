// The data-file host of the Windows engine: the module's own path, fatal messages in a modal
// error box followed by the exit code, and the application's title.
#ifndef QUENVALE_PLATFORM_WIN32_DATA_FILE_HOST_WIN32_H_
#define QUENVALE_PLATFORM_WIN32_DATA_FILE_HOST_WIN32_H_

#include <windows.h>

#include <random>
#include <string>

#include "datafile/zip_file_settings.h"

namespace quenvale {

class Win32DataFileHost : public DataFileHost {
 public:
  // `app_window` is the application's hidden window, whose text is the application title.
  // `silent` (preview inside the control panel) ends without any message box.
  Win32DataFileHost(HWND app_window, bool silent);

  std::string ExecutablePath() const override;
  [[noreturn]] void Fatal(const std::string& message, int exit_code) override;
  void ArchiveMessage(const std::string& message) override;
  int32_t Random(int32_t range) override;
  void SetApplicationTitle(const std::string& title) override;

  const std::string& Title() const { return title_; }
  // A modal error box captioned with the application title (none while silent).
  void ShowError(const std::string& message) const;

 private:
  HWND app_window_;
  bool silent_;
  std::string title_;
  std::mt19937 random_;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_DATA_FILE_HOST_WIN32_H_
