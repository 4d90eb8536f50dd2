// Positional reads from an archive, from disk or from memory (tests, fuzzing).
#ifndef QUENVALE_DATAFILE_RANDOM_ACCESS_FILE_H_
#define QUENVALE_DATAFILE_RANDOM_ACCESS_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenvale {

class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly `n` bytes at `offset`; false when the file is shorter or the read fails.
  virtual bool ReadAt(uint64_t offset, size_t n, uint8_t* out) const = 0;
};

// Opens a file for reading; null when it does not exist or cannot be opened.
std::unique_ptr<RandomAccessFile> OpenRandomAccessFile(const std::string& path);
std::unique_ptr<RandomAccessFile> MemoryFile(std::vector<uint8_t> bytes);
bool FileExists(const std::string& path);

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_RANDOM_ACCESS_FILE_H_
