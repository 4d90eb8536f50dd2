#include "platform/posix/file_value_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/strings.h"

namespace quenvale {
namespace {

// Longest name a folder entry may have, less room for ".reg.tmp.<pid>" on the key's file.
constexpr size_t kNameMax = 255;
constexpr size_t kFileSuffixRoom = 4 + 5 + 10;

std::string StripTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

std::string SystemError(const std::string& what, const std::string& path, int error) {
  return what + " '" + path + "': " + std::strerror(error);
}

[[noreturn]] void ThrowSaveError(const std::string& path, int error) {
  throw ValueStoreError(SystemError("Cannot save settings to", path, error));
}

// Folder and file names: no key part may leave the folder or collide with another's name.
// A folder name never contains ".reg", so no folder can be mistaken for a key's file or its
// temporary file.
std::string EscapePart(const std::string& part, bool folder) {
  std::string out;
  for (size_t i = 0; i < part.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(part[i]);
    const bool dot_escape = c == '.' && (i == 0 || (folder && SameText(part.substr(i, 4), ".reg")));
    if (c == '/' || c == '%' || c < 0x20 || c == 0x7F || dot_escape) {
      out += Format("%%%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool IsFolder(const std::string& dir, const struct dirent* entry) {
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return entry->d_type == DT_DIR;
  struct stat st;
  return stat((dir + "/" + entry->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The entry of `dir` named `name` ignoring ASCII case (a folder when `want_folder`, otherwise
// anything else). When several match, every process picks the same: the bytewise smallest.
// Returns 0 and sets *found (empty when nothing matches), or an errno.
int FindEntry(const std::string& dir, const std::string& name, bool want_folder,
              std::string* found) {
  found->clear();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return errno == ENOENT || errno == ENOTDIR ? 0 : errno;
  while (const struct dirent* entry = readdir(d)) {
    const std::string entry_name = entry->d_name;
    if (!SameText(entry_name, name)) continue;
    if (IsFolder(dir, entry) != want_folder) continue;
    if (found->empty() || entry_name < *found) *found = entry_name;
  }
  closedir(d);
  return 0;
}

// Reads a whole file; 0 or an errno.
int ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  char buffer[65536];
  while (true) {
    const ssize_t n = read(fd.get(), buffer, sizeof(buffer));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

// mkdir -p with private folders.
int MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

class FileValueKey : public ValueKey {
 public:
  FileValueKey(std::string folder, FileValueStore::Faults faults, std::vector<std::string> parts,
               RegValueList values)
      : folder_(std::move(folder)),
        faults_(faults),
        parts_(std::move(parts)),
        key_name_(JoinStrings("\\", parts_)),
        values_(std::move(values)) {}

  bool ReadValue(const std::string& name, RegistryData* data) override {
    for (const auto& entry : values_) {
      if (SameText(entry.first, name)) {
        *data = entry.second;
        return true;
      }
    }
    return false;
  }

  bool WriteValue(const std::string& name, const RegistryData& data) override {
    SetRegValue(&values_, name, data);
    pending_.emplace_back(name, data);
    return true;
  }

  void Close() override {
    if (pending_.empty()) return;
    const std::string file_name = EscapePart(parts_.back(), false) + ".reg";
    // Where the file will be when no folder exists yet in other letter case; for messages.
    std::string nominal = folder_;
    for (size_t i = 0; i + 1 < parts_.size(); ++i) nominal += "/" + EscapePart(parts_[i], true);
    nominal += "/" + file_name;
    if (int error = MakeFolders(folder_)) ThrowSaveError(nominal, error);
    std::string dir = folder_;
    for (size_t i = 0; i + 1 < parts_.size(); ++i) {
      const std::string name = EscapePart(parts_[i], true);
      std::string found;
      int error = FindEntry(dir, name, true, &found);
      if (error == 0 && found.empty()) {
        std::string made = dir;
        made += "/" + name;
        if (mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) error = errno;
        // Another process may have made the same folder in other letter case meanwhile.
        if (error == 0) error = FindEntry(dir, name, true, &found);
        if (error == 0 && found.empty()) error = ENOTDIR;
      }
      if (error != 0) ThrowSaveError(nominal, error);
      dir += "/" + found;
    }

    // The folder lock orders the read-merge-rename of every writer of keys in this folder.
    ScopedFd dir_fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.get() < 0) ThrowSaveError(nominal, errno);
    while (flock(dir_fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) ThrowSaveError(nominal, errno);
    }
    std::string found;
    if (int error = FindEntry(dir, file_name, false, &found)) ThrowSaveError(nominal, error);
    const std::string path = dir + "/" + (found.empty() ? file_name : found);

    RegFileContents contents;
    std::string bytes;
    const int error = ReadWholeFile(path, &bytes);
    if (error == 0) {
      contents = ParseRegFile(bytes, path, key_name_);
    } else if (error != ENOENT) {
      ThrowSaveError(path, error);
    }
    for (const auto& write : pending_) SetRegValue(&contents.values, write.first, write.second);
    const std::string& key = contents.key.empty() ? key_name_ : contents.key;
    Replace(dir_fd.get(), path, FormatRegFile(key, contents.values));
    values_ = std::move(contents.values);
    pending_.clear();
  }

 private:
  // Writes `text` to a temporary file beside `path` and renames it over `path`; on any failure
  // the temporary file goes and `path` stays as it was.
  void Replace(int dir_fd, const std::string& path, const std::string& text) const {
    const std::string temp = path + ".tmp." + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) ThrowSaveError(path, errno);
    auto fail = [&](int error) {
      if (fd >= 0) close(fd);
      unlink(temp.c_str());
      ThrowSaveError(path, error);
    };
    if (fchmod(fd, 0600) != 0) fail(errno);
    // A simulated failure still writes half, so that there is a partial file to clean up.
    const size_t limit = faults_.write_error != 0 ? text.size() / 2 : text.size();
    for (size_t done = 0; done < limit;) {
      const ssize_t n = write(fd, text.data() + done, limit - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      done += static_cast<size_t>(n);
    }
    if (faults_.write_error != 0) fail(faults_.write_error);
    if (fsync(fd) != 0) fail(errno);
    const int closed = close(fd);
    fd = -1;
    if (closed != 0) fail(errno);
    if (faults_.exit_before_rename) _exit(0);
    if (rename(temp.c_str(), path.c_str()) != 0) fail(errno);
    // The new file is in place; a folder that cannot be synced (some file systems refuse)
    // changes nothing about what the next reader sees.
    fsync(dir_fd);
  }

  std::string folder_;
  FileValueStore::Faults faults_;
  std::vector<std::string> parts_;
  std::string key_name_;  // the key line of a file this key creates
  RegValueList values_;
  RegValueList pending_;
};
}  // namespace

FileValueStore::FileValueStore(std::string folder) {
  const bool absolute = StartsWith(folder, "/");
  folder_ = StripTrailingSlashes(std::move(folder));
  if (folder_.empty()) folder_ = absolute ? "/" : ".";
}

std::string FileValueStore::DefaultFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return StripTrailingSlashes(config) + "/quenvale";
  std::string home;
  if (const char* env_home = std::getenv("HOME")) home = env_home;
  if (home.empty()) {
    struct passwd entry;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr) {
      home = result->pw_dir;
    }
  }
  if (home.empty()) throw ValueStoreError("Cannot find the home folder for the settings");
  return StripTrailingSlashes(home) + "/.config/quenvale";
}

std::unique_ptr<ValueKey> FileValueStore::OpenKey(const std::string& path, bool create) {
  std::vector<std::string> parts = SplitKeyPath(path);
  if (parts.empty()) return nullptr;
  for (size_t i = 0; i < parts.size(); ++i) {
    // The key line could not hold a line break; names the file system cannot take fail here
    // rather than on Close.
    if (parts[i].find_first_of("\r\n") != std::string::npos) return nullptr;
    const size_t room = i + 1 == parts.size() ? kNameMax - kFileSuffixRoom : kNameMax;
    if (EscapePart(parts[i], i + 1 < parts.size()).size() > room) return nullptr;
  }

  std::string file = folder_;
  bool exists = true;
  for (size_t i = 0; i < parts.size() && exists; ++i) {
    const bool last = i + 1 == parts.size();
    const std::string name = EscapePart(parts[i], !last) + (last ? ".reg" : "");
    std::string found;
    if (int error = FindEntry(file, name, !last, &found)) {
      throw ValueStoreError(SystemError("Cannot read settings from", file, error));
    }
    exists = !found.empty();
    file += "/" + found;
  }
  RegValueList values;
  if (exists) {
    std::string bytes;
    const int error = ReadWholeFile(file, &bytes);
    if (error == 0) {
      values = ParseRegFile(bytes, file, JoinStrings("\\", parts)).values;
    } else if (error == ENOENT) {
      exists = false;
    } else {
      throw ValueStoreError(SystemError("Cannot read settings from", file, error));
    }
  }
  if (!exists && !create) return nullptr;
  return std::make_unique<FileValueKey>(folder_, faults_, std::move(parts), std::move(values));
}

}  // namespace quenvale
