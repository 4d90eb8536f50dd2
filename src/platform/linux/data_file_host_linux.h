// The data-file host of the Linux engine: the saver's name is the name the program was started
// with (a symbolic link named after a saver finds that saver's data file), fatal messages go to
// a GTK message box and standard error, then the exit code.
#ifndef QUENVALE_PLATFORM_LINUX_DATA_FILE_HOST_LINUX_H_
#define QUENVALE_PLATFORM_LINUX_DATA_FILE_HOST_LINUX_H_

#include <cstdint>
#include <random>
#include <string>

#include "datafile/zip_file_settings.h"

namespace quenvale {

// The program's path as it was started: `argv0` made absolute against `cwd` when it holds a
// "/", otherwise looked up in `path_env` (the PATH variable) as the shell did. Symbolic links
// are kept as they are, and "." and ".." parts are folded away by name. Empty when a bare name
// is not found.
std::string ProgramPath(const std::string& argv0, const std::string& cwd,
                        const std::string& path_env);

// The name the data file rules work on: a program name without ".scr" is given one, so that
// "Acme Logos" finds "Acme_Logos.dat" and opens it with the password of "Acme Logos.scr".
std::string SaverPathFor(const std::string& program_path);

class LinuxDataFileHost : public DataFileHost {
 public:
  // `silent` (a preview inside someone else's window) shows no box; standard error still says
  // what went wrong.
  LinuxDataFileHost(std::string saver_path, bool silent);

  std::string ExecutablePath() const override { return saver_path_; }
  [[noreturn]] void Fatal(const std::string& message, int exit_code) override;
  void ArchiveMessage(const std::string& message) override;
  int32_t Random(int32_t range) override;
  void SetApplicationTitle(const std::string& title) override { title_ = title; }
  void Notice(const std::string& message) override;

  const std::string& Title() const { return title_; }
  // An error box captioned with the title when there is a display (GTK's; SDL's where GTK cannot
  // open it), and standard error always.
  void ShowError(const std::string& message);

 private:
  std::string saver_path_;
  bool silent_;
  std::string title_;
  std::mt19937 random_;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_DATA_FILE_HOST_LINUX_H_
