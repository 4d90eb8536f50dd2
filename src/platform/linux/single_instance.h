// One running engine per user: an exclusive lock on a file named "Quenvale" that the process
// holds from its start to its end. The kernel drops the lock with the process, however it ends.
#ifndef QUENVALE_PLATFORM_LINUX_SINGLE_INSTANCE_H_
#define QUENVALE_PLATFORM_LINUX_SINGLE_INSTANCE_H_

#include <string>

#include "platform/linux/linux_command_line.h"

namespace quenvale {

// $XDG_RUNTIME_DIR/Quenvale when that variable names an absolute folder, else
// /tmp/Quenvale-<uid> (the name carries the user, since /tmp is everybody's).
std::string InstanceLockPath(const char* xdg_runtime_dir, unsigned uid);

// The lock of a run: one for the user, except for an xscreensaver hack drawing into a window of
// xscreensaver's, which runs one hack per monitor at the same time: those lock per window.
std::string InstanceLockPathFor(const std::string& user_lock, const LinuxCommandLine& command_line);

class SingleInstance {
 public:
  explicit SingleInstance(std::string lock_path);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // False when another process holds the lock. A lock file that cannot be made at all does not
  // stop the saver: it then runs without the guard.
  bool Acquire();

 private:
  std::string lock_path_;
  int fd_ = -1;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_SINGLE_INSTANCE_H_
