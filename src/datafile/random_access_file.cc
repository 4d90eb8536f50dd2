#include "datafile/random_access_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quenvale {
namespace {

// 64-bit positions: long is 32 bits on Windows, so plain fseek/ftell stop at 2 GiB there.
int Seek(std::FILE* f, uint64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<__int64>(offset), whence);
#else
  return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

int64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

class DiskFile : public RandomAccessFile {
 public:
  DiskFile(std::FILE* f, uint64_t size) : file_(f), size_(size) {}
  ~DiskFile() override { std::fclose(file_); }
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  uint64_t Size() const override { return size_; }

  bool ReadAt(uint64_t offset, size_t n, uint8_t* out) const override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n == 0) return true;
    // Sequential chunked reads skip the seek, which would otherwise drop stdio's buffer.
    if (offset != position_ || !position_valid_) {
      if (Seek(file_, offset, SEEK_SET) != 0) {
        position_valid_ = false;
        return false;
      }
    }
    const size_t got = std::fread(out, 1, n, file_);
    position_ = offset + got;
    position_valid_ = got == n;
    return got == n;
  }

 private:
  std::FILE* file_;
  uint64_t size_;
  mutable uint64_t position_ = 0;
  mutable bool position_valid_ = false;
};

class MemoryBackedFile : public RandomAccessFile {
 public:
  explicit MemoryBackedFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  uint64_t Size() const override { return bytes_.size(); }

  bool ReadAt(uint64_t offset, size_t n, uint8_t* out) const override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    if (n > 0) std::memcpy(out, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<RandomAccessFile> OpenRandomAccessFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  int64_t size = -1;
  if (Seek(f, 0, SEEK_END) == 0) size = Tell(f);
  if (size < 0 || Seek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    return nullptr;
  }
  return std::make_unique<DiskFile>(f, static_cast<uint64_t>(size));
}

std::unique_ptr<RandomAccessFile> MemoryFile(std::vector<uint8_t> bytes) {
  return std::make_unique<MemoryBackedFile>(std::move(bytes));
}

bool FileExists(const std::string& path) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    // A file we may not read still exists; only a missing name is quietly "not there".
    return !(errno == ENOENT || errno == ENOTDIR || errno == 0);
  }
  std::fclose(f);
  return true;
}

}  // namespace quenvale
