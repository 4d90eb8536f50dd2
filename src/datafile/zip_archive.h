// Read access to a PKWARE ZIP archive whose entries are protected with the traditional PKWARE
// cipher: the central directory is read when the archive is named; single entries are extracted
// into memory (stored or deflated), decrypted and checked against their CRC-32.
#ifndef QUENVALE_DATAFILE_ZIP_ARCHIVE_H_
#define QUENVALE_DATAFILE_ZIP_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/uninitialized_allocator.h"
#include "datafile/random_access_file.h"

namespace quenvale {

// One central-directory record as held in memory.
struct ZipDirEntry {
  uint8_t version_made_by = 0;
  uint8_t host_system = 0;
  uint16_t version_needed = 0;
  uint16_t flag = 0;
  uint16_t compression_method = 0;
  uint32_t mod_time_date = 0;
  uint32_t crc32 = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t file_name_length = 0;
  uint16_t extra_field_length = 0;
  uint16_t comment_length = 0;
  uint16_t disk_number_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;
  // In the ANSI code page (converted from UTF-8 or the OEM code page where the maker wrote
  // those), folders separated by "\", letter case as stored.
  std::string FileName;
  std::string comment;
  uint8_t encrypted = 0;  // bit 0 of `flag`
  std::string extra_field;
};

// Message-box button values, as the password-error event uses them.
enum class MessageAction { kOk = 1, kCancel = 2, kAbort = 3, kNoToAll = 9 };

using PasswordErrorEvent =
    std::function<void(bool is_zip_action, std::string& new_password, const std::string& for_file,
                       uint32_t& repeat_count, MessageAction& action)>;

// Why the last extraction returned nothing; for tools and tests, the engine only needs "none".
enum class ExtractStatus {
  kOk,
  kBusy,
  kNoArchive,
  kNotFound,
  kTooLarge,        // claims more than kMaxEntrySize uncompressed
  kUnsupported,     // compression method, strong encryption or ZIP64 sizes
  kDamaged,         // local header, truncated data, inflate error, size mismatch
  kCrcMismatch,
  kOverlapping,     // its bytes are also another record's
  kWrongPassword,   // every password offered failed the check byte
};

// An extracted entry's bytes: the buffer is written in full by the extraction, so it is not
// cleared before (a 50 MB entry would otherwise cost a pass over its memory first).
using EntryBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

class ZipArchive {
 public:
  // Entries larger than this are refused before anything is allocated.
  static constexpr uint32_t kMaxEntrySize = 256u * 1024 * 1024;
  static constexpr uint16_t kMaxNameLength = 259;

  ZipArchive();
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Names the archive on disk and reads its directory at once.
  void SetZipFileName(const std::string& path);
  const std::string& ZipFileName() const { return zip_file_name_; }
  // Names an archive held in memory (tests, fuzzing); `display_name` is used in messages.
  void OpenMemory(std::vector<uint8_t> bytes, const std::string& display_name);

  void SetPassword(const std::string& password) { password_ = password; }
  const std::string& Password() const { return password_; }

  // Raised when the password does not open an entry.
  PasswordErrorEvent OnPasswordError;
  // The component's own error messages (a file that is not a ZIP archive, a damaged directory).
  std::function<void(const std::string& message)> OnMessage;

  int EntryCount() const { return static_cast<int>(entries_.size()); }
  const ZipDirEntry& EntryAt(int i) const { return entries_.at(i); }
  bool IsBusy() const { return busy_; }

  // Extracts the first entry whose name equals `name` ignoring the case of its letters. The
  // returned buffer is owned by the archive and overwritten by the next extraction; null when
  // nothing was extracted.
  const EntryBuffer* ExtractEntryToMemory(const std::string& name);
  ExtractStatus LastStatus() const { return last_status_; }
  // Why the last extraction returned nothing, as one line that names the entry ("CRC mismatch
  // in icons\reef.png"), without the archive's name; empty after a successful extraction.
  const std::string& LastProblem() const { return last_problem_; }

 private:
  void ReadDirectory();
  // `index` is the entry's place in the directory, so that it is not compared with itself.
  ExtractStatus Extract(const ZipDirEntry& entry, size_t index);
  ExtractStatus Fail(ExtractStatus status, const std::string& problem);
  // The lookups below, made again whenever the directory is read.
  void IndexEntries();
  // Another record sharing bytes with entry `index`, whose bytes end at `end`; kNoEntry if none.
  size_t OverlappingEntry(size_t index, uint64_t end) const;
  static constexpr size_t kNoEntry = SIZE_MAX;

  std::string zip_file_name_;
  std::string password_;
  std::unique_ptr<RandomAccessFile> file_;
  bool in_memory_ = false;  // a fresh directory read re-parses file_ instead of reopening the path
  std::vector<ZipDirEntry> entries_;
  std::unordered_map<std::string, size_t> by_name_;  // name in lower case to its first entry
  std::vector<size_t> by_offset_;  // entries by the offset of their local header
  std::vector<size_t> reach_;      // see IndexEntries
  EntryBuffer stream_;
  bool busy_ = false;
  ExtractStatus last_status_ = ExtractStatus::kOk;
  std::string problem_;  // set by every failure on the way, kept as last_problem_ at the end
  std::string last_problem_;
};

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_ZIP_ARCHIVE_H_
