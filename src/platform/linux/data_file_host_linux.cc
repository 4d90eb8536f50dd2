#include "platform/linux/data_file_host_linux.h"

#include <SDL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/strings.h"
#include "platform/linux/gtk_message_box.h"

namespace quenvale {

namespace {

// Folds "." and ".." and doubled slashes by name only: the links on the way must stay links.
std::string FoldPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string folded;
  for (const std::string& part : parts) folded += "/" + part;
  return folded.empty() ? "/" : folded;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string ProgramPath(const std::string& argv0, const std::string& cwd,
                        const std::string& path_env) {
  if (argv0.empty()) return std::string();
  if (argv0.find('/') != std::string::npos) {
    return FoldPath(argv0[0] == '/' ? argv0 : cwd + "/" + argv0);
  }
  size_t start = 0;
  while (start <= path_env.size()) {
    size_t end = path_env.find(':', start);
    if (end == std::string::npos) end = path_env.size();
    std::string folder = path_env.substr(start, end - start);
    // An empty entry is the current folder, as the shell reads it.
    if (folder.empty()) folder = cwd;
    if (folder[0] != '/') folder = cwd + "/" + folder;
    const std::string candidate = folder + "/" + argv0;
    if (IsExecutableFile(candidate)) return FoldPath(candidate);
    start = end + 1;
  }
  return std::string();
}

std::string SaverPathFor(const std::string& program_path) {
  const size_t slash = program_path.rfind('/');
  const std::string name =
      slash == std::string::npos ? program_path : program_path.substr(slash + 1);
  if (LowerCase(name).find(".scr") != std::string::npos) return program_path;
  return program_path + ".scr";
}

LinuxDataFileHost::LinuxDataFileHost(std::string saver_path, bool silent)
    : saver_path_(std::move(saver_path)),
      silent_(silent),
      title_(DefaultApplicationTitle(saver_path_)),
      random_(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {}

void LinuxDataFileHost::ShowError(const std::string& message) {
  Notice(message);
  if (silent_) return;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || display[0] == '\0') && (wayland == nullptr || wayland[0] == '\0')) {
    return;
  }
  if (ShowGtkErrorBox(title_, message)) return;
  // Where GTK cannot open the display, SDL's own box (which needs core X fonts) is the last try.
  // Its text wants line breaks, not the Windows pairs of the shared messages.
  std::string text;
  for (char c : message) {
    if (c != '\r') text += c;
  }
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title_.c_str(), text.c_str(), nullptr);
}

void LinuxDataFileHost::Fatal(const std::string& message, int exit_code) {
  ShowError(message);
  std::exit(exit_code);
}

void LinuxDataFileHost::Notice(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", title_.c_str(), message.c_str());
  std::fflush(stderr);
}

void LinuxDataFileHost::ArchiveMessage(const std::string& message) { ShowError(message); }

int32_t LinuxDataFileHost::Random(int32_t range) {
  if (range <= 1) return 0;
  return std::uniform_int_distribution<int32_t>(0, range - 1)(random_);
}

}  // namespace quenvale
