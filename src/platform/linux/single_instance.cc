#include "platform/linux/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quenvale {

std::string InstanceLockPath(const char* xdg_runtime_dir, unsigned uid) {
  if (xdg_runtime_dir != nullptr && xdg_runtime_dir[0] == '/') {
    std::string folder = xdg_runtime_dir;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + (folder == "/" ? "" : "/") + "Quenvale";
  }
  return "/tmp/Quenvale-" + std::to_string(uid);
}

std::string InstanceLockPathFor(const std::string& user_lock,
                                const LinuxCommandLine& command_line) {
  if (command_line.target != SaverTarget::kForeign ||
      command_line.command.mode != SaverMode::smSave || command_line.window_id == 0) {
    return user_lock;
  }
  char suffix[16];
  std::snprintf(suffix, sizeof(suffix), "-0x%x", static_cast<unsigned>(command_line.window_id));
  return user_lock + suffix;
}

SingleInstance::SingleInstance(std::string lock_path) : lock_path_(std::move(lock_path)) {}

SingleInstance::~SingleInstance() {
  if (fd_ >= 0) close(fd_);
}

bool SingleInstance::Acquire() {
  if (fd_ >= 0) return true;
  // Close-on-exec: a browser the dialog starts must not carry the lock on after we end.
  const int fd = open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return !held;
  }
  fd_ = fd;
  return true;
}

}  // namespace quenvale
