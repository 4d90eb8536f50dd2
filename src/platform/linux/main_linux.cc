// quenvale: the Linux engine. One instance per user at a time; the command line picks the mode
// and where to draw, and the name it was started with picks the saver (its data file beside it).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/linux/config_dialog_gtk.h"
#include "platform/linux/data_file_host_linux.h"
#include "platform/linux/linux_command_line.h"
#include "platform/linux/saver_window_sdl.h"
#include "platform/linux/single_instance.h"
#include "platform/posix/file_value_store.h"

namespace {

std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (buffer.size() >= (1u << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// The program as it was started, links kept: a link named after a saver is that saver.
std::string StartedAs(const char* argv0) {
  const char* path_env = std::getenv("PATH");
  std::string path = quenvale::ProgramPath(argv0 != nullptr ? argv0 : "", CurrentFolder(),
                                           path_env != nullptr ? path_env : "");
  if (!path.empty()) return path;
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : "quenvale";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const quenvale::LinuxCommandLine command_line =
      quenvale::ParseLinuxCommandLine(args, std::getenv("XSCREENSAVER_WINDOW"));
  const quenvale::SaverMode mode = command_line.command.mode;

  // A second instance ends at once and says nothing.
  quenvale::SingleInstance instance(quenvale::InstanceLockPathFor(
      quenvale::InstanceLockPath(std::getenv("XDG_RUNTIME_DIR"), getuid()), command_line));
  if (!instance.Acquire()) return 0;

  if (mode == quenvale::SaverMode::smChangePassword) {
    std::printf(
        "Linux has no screen-saver password of its own to change: the desktop's lock screen "
        "or xscreensaver asks for your login password.\n");
    return 0;
  }

  const std::string saver_path = quenvale::SaverPathFor(StartedAs(argc > 0 ? argv[0] : nullptr));
  // A preview and an xscreensaver hack draw into someone else's window: a box there would
  // block the host that wants to end them, so they report on standard error only.
  quenvale::LinuxDataFileHost host(
      saver_path, mode == quenvale::SaverMode::smPreview ||
                      command_line.target == quenvale::SaverTarget::kForeign);
  std::unique_ptr<quenvale::FileValueStore> store;
  try {
    store = std::make_unique<quenvale::FileValueStore>(quenvale::FileValueStore::DefaultFolder());
  } catch (const std::exception& e) {
    host.ShowError(e.what());
    return 1;
  }
  if (mode == quenvale::SaverMode::smConfigure) {
    return quenvale::RunConfigureMode(host, *store, command_line.command);
  }
  return quenvale::RunSaverWindow(command_line, host, *store);
}
