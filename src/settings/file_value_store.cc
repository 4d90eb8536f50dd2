#include "settings/file_value_store.h"

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

constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
constexpr char kHeader4[] = "REGEDIT4";
constexpr char kRoot[] = "HKEY_CURRENT_USER";
// The registry editor breaks a hex list after the comma that passes this column.
constexpr size_t kWrapColumn = 76;
// Longest name a folder entry may have, less room for ".reg.tmp.<pid>" on the key's file.
constexpr size_t kNameMax = 255;
constexpr size_t kFileSuffixRoom = 4 + 5 + 10;

// ---- Text conversion ------------------------------------------------------------------------

void AppendUnit(uint32_t unit, std::string* out) {
  *out += static_cast<char>(unit & 0xFF);
  *out += static_cast<char>(unit >> 8);
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Our 8-bit text is UTF-8; bytes that are not (older Latin-1 text) keep their value as U+00xx.
std::string Utf8ToUtf16Le(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t n = Utf8SequenceAt(text, i, &cp);
    if (n == 0) {
      cp = static_cast<unsigned char>(text[i]);
      n = 1;
    }
    i += n;
    if (cp >= 0x10000) {
      AppendUnit(0xD800 + ((cp - 0x10000) >> 10), &out);
      AppendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF), &out);
    } else {
      AppendUnit(cp, &out);
    }
  }
  return out;
}

// An unpaired surrogate has no UTF-8 form and becomes U+FFFD; an odd last byte counts as a unit.
std::string Utf16LeToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  auto unit_at = [&bytes](size_t i) -> uint32_t {
    const uint32_t low = static_cast<unsigned char>(bytes[i]);
    if (i + 1 == bytes.size()) return low;
    return low | static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (size_t i = 0; i < bytes.size(); i += 2) {
    const uint32_t unit = unit_at(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t next = unit_at(i + 2);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &out);
        i += 2;
        continue;
      }
    }
    AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit, &out);
  }
  return out;
}

bool IsStringType(uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// ---- Parsing --------------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

std::string TrimRight(std::string s) {
  while (!s.empty() && IsBlank(s.back())) s.pop_back();
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Key paths: backslash-separated parts, empty parts dropped.
std::vector<std::string> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool SameKey(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameText(a[i], b[i])) return false;
  }
  return true;
}

void SetValue(RegValueList* values, const std::string& name, const RegistryData& data) {
  for (auto& entry : *values) {
    if (SameText(entry.first, name)) {
      entry.second = data;  // the stored spelling of the name stays
      return;
    }
  }
  values->emplace_back(name, data);
}

void RemoveValue(RegValueList* values, const std::string& name) {
  for (auto it = values->begin(); it != values->end(); ++it) {
    if (SameText(it->first, name)) {
      values->erase(it);
      return;
    }
  }
}

class RegParser {
 public:
  RegParser(const std::string& where, const std::string& expected_key)
      : where_(where), expected_(SplitKeyPath(expected_key)) {}

  RegFileContents Parse(const std::string& bytes) {
    std::string text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
      // Saved as UTF-16LE, as the registry editor on Windows does.
      text = Utf16LeToUtf8(bytes.substr(2));
      SplitLines(text);
      if (bytes.size() % 2 != 0) Fail(lines_.size(), "truncated UTF-16 text");
    } else {
      text = StartsWith(bytes, "\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
      SplitLines(text);
    }
    const std::string header = lines_.empty() ? std::string() : TrimRight(lines_[0]);
    if (header == kHeader5) {
      utf16_strings_ = true;
    } else if (header == kHeader4) {
      utf16_strings_ = false;  // REGEDIT4 kept hex(1), hex(2) and hex(7) text 8-bit
    } else {
      Fail(1, "not a registry file (bad header)");
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) ParseLine();
    return std::move(contents_);
  }

 private:
  [[noreturn]] void Fail(size_t line, const std::string& what) const {
    throw ValueStoreError(where_ + ":" + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void Fail(const std::string& what) const { Fail(index_ + 1, what); }

  void SplitLines(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(std::move(line));
      start = end + 1;
    }
  }

  void ParseLine() {
    const std::string line = TrimRight(TrimLeft(lines_[index_]));
    if (line.empty() || line[0] == ';') return;
    if (line[0] == '[') return ParseKeyLine(line);
    if (line[0] == '"' || line[0] == '@') return ParseValueLine(line);
    Fail("malformed line");
  }

  void ParseKeyLine(const std::string& line) {
    if (line.size() < 2 || line.back() != ']') Fail("malformed key line");
    if (seen_key_) Fail("more than one key line");
    seen_key_ = true;
    const std::string inner = line.substr(1, line.size() - 2);
    if (StartsWith(inner, "-")) Fail("key deletion line");
    // The root comes first; what follows it is kept as written for the file's next version.
    const size_t root_end = sizeof(kRoot) - 1;
    const bool rooted = SameText(inner.substr(0, root_end), kRoot) &&
                        (inner.size() == root_end || inner[root_end] == '\\');
    const std::string key = inner.size() > root_end ? inner.substr(root_end + 1) : "";
    if (!rooted || !SameKey(SplitKeyPath(key), expected_)) Fail("key line names another key");
    contents_.key = key;
  }

  // A quoted string starting at line[*pos]; leaves *pos after the closing quote.
  std::string ParseQuoted(const std::string& line, size_t* pos) const {
    std::string out;
    size_t i = *pos + 1;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        out += line[i];
        continue;
      }
      if (++i == line.size()) break;
      switch (line[i]) {
        case '\\':
          out += '\\';
          break;
        case '"':
          out += '"';
          break;
        case 'r':
          out += '\r';
          break;
        case 'n':
          out += '\n';
          break;
        case '0':
          out += '\0';
          break;
        default:
          Fail("bad escape in string");
      }
    }
    if (i >= line.size()) Fail("unterminated string");
    *pos = i + 1;
    return out;
  }

  void ParseValueLine(const std::string& line) {
    if (!seen_key_) Fail("value line before the key line");
    size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else {
      name = ParseQuoted(line, &pos);
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos == line.size() || line[pos] != '=') Fail("malformed value line");
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::string rest = line.substr(pos);

    RegistryData data;
    if (rest == "-") {
      RemoveValue(&contents_.values, name);
      return;
    } else if (StartsWith(rest, "\"")) {
      size_t end = 0;
      data = RegistryData::String(ParseQuoted(rest, &end));
      if (end != rest.size()) Fail("malformed string value");
    } else if (SameText(rest.substr(0, 6), "dword:")) {
      data = ParseDword(rest.substr(6));
    } else if (SameText(rest.substr(0, 3), "hex")) {
      data = ParseHex(rest.substr(3));
    } else {
      Fail("malformed value line");
    }
    SetValue(&contents_.values, name, data);
  }

  RegistryData ParseDword(const std::string& digits) const {
    if (digits.size() != 8) Fail("malformed dword value");
    uint32_t value = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) Fail("malformed dword value");
      value = value << 4 | static_cast<uint32_t>(d);
    }
    return RegistryData::Dword(value);
  }

  // After "hex": an optional "(type)", a colon and the byte list, which may go on over lines
  // that the one before ends with a backslash.
  RegistryData ParseHex(const std::string& after_hex) {
    RegistryData data;
    data.type = kRegBinary;
    size_t pos = 0;
    if (StartsWith(after_hex, "(")) {
      const size_t close = after_hex.find(')');
      if (close == std::string::npos || close < 2 || close > 9) Fail("malformed hex type");
      data.type = 0;
      for (size_t i = 1; i < close; ++i) {
        const int d = HexDigit(after_hex[i]);
        if (d < 0) Fail("malformed hex type");
        data.type = data.type << 4 | static_cast<uint32_t>(d);
      }
      pos = close + 1;
    }
    if (pos >= after_hex.size() || after_hex[pos] != ':') Fail("malformed value line");
    std::string segment = after_hex.substr(pos + 1);
    while (ParseHexSegment(segment, &data.bytes)) {
      if (++index_ == lines_.size()) Fail(index_, "hex value continues past the end of the file");
      segment = TrimRight(TrimLeft(lines_[index_]));
    }
    if (utf16_strings_ && IsStringType(data.type)) data.bytes = Utf16LeToUtf8(data.bytes);
    return data;
  }

  // One line's share of a hex list; true when the list goes on on the next line.
  bool ParseHexSegment(std::string segment, std::string* bytes) const {
    segment = TrimRight(segment);
    const bool more = !segment.empty() && segment.back() == '\\';
    if (more) segment = TrimRight(segment.substr(0, segment.size() - 1));
    if (segment.empty()) return more;
    size_t start = 0;
    while (true) {
      size_t comma = segment.find(',', start);
      const bool last = comma == std::string::npos;
      if (last) comma = segment.size();
      const std::string token = TrimRight(TrimLeft(segment.substr(start, comma - start)));
      if (token.empty()) {
        // Only a trailing comma may leave nothing behind it.
        if (!last || start == 0) Fail("bad hex value");
        break;
      }
      if (token.size() > 2) Fail("bad hex value");
      int value = 0;
      for (char c : token) {
        const int d = HexDigit(c);
        if (d < 0) Fail("bad hex value");
        value = value << 4 | d;
      }
      *bytes += static_cast<char>(value);
      if (last) break;
      start = comma + 1;
    }
    return more;
  }

  std::string where_;
  std::vector<std::string> expected_;
  std::vector<std::string> lines_;
  size_t index_ = 0;
  bool utf16_strings_ = true;
  bool seen_key_ = false;
  RegFileContents contents_;
};

// ---- Formatting -----------------------------------------------------------------------------

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string FormatValue(const std::string& name, const RegistryData& data) {
  std::string line = (name.empty() ? std::string("@") : Quote(name)) + "=";
  if (data.type == kRegSz && !data.bytes.empty() && data.bytes.back() == '\0') {
    return line + Quote(data.bytes.substr(0, data.bytes.size() - 1));
  }
  if (data.type == kRegDword && data.bytes.size() == 4) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data.bytes[i]);
    return line + Format("dword:%08x", value);
  }
  // Everything else, including a string without its terminating zero, as a byte list.
  line += data.type == kRegBinary ? std::string("hex:") : Format("hex(%x):", data.type);
  const std::string bytes = IsStringType(data.type) ? Utf8ToUtf16Le(data.bytes) : data.bytes;
  size_t column = line.size();
  for (size_t i = 0; i < bytes.size(); ++i) {
    line += Format("%02x", static_cast<unsigned char>(bytes[i]));
    if (i + 1 == bytes.size()) break;
    line += ',';
    column += 3;
    if (column > kWrapColumn) {
      line += "\\\n  ";
      column = 2;
    }
  }
  return line;
}

// ---- Files ----------------------------------------------------------------------------------

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
    SetValue(&values_, name, data);
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
    for (const auto& write : pending_) SetValue(&contents.values, write.first, write.second);
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

RegFileContents ParseRegFile(const std::string& bytes, const std::string& where,
                             const std::string& expected_key) {
  return RegParser(where, expected_key).Parse(bytes);
}

std::string FormatRegFile(const std::string& key, const RegValueList& values) {
  std::string text = std::string(kHeader5) + "\n\n[" + kRoot + "\\" + key + "]\n";
  for (const auto& value : values) text += FormatValue(value.first, value.second) + "\n";
  return text + "\n";
}

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
