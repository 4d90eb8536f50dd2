#include "datafile/zip_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "common/ansi_text.h"
#include "common/strings.h"
#include "datafile/crc32.h"
#include "datafile/pkware_cipher.h"
#include "datafile/zip_format.h"

namespace quenvale {
namespace {

using namespace zipformat;

// The end record may be followed by a comment of up to 65535 bytes.
constexpr uint64_t kEndSearchSpan = kEndSize + 0xFFFF;

constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kMaxPasswordLength = 80;
constexpr uint32_t kMaxReportedRepeat = 15;
// Deflate cannot expand beyond about 1032:1; a larger claim is damage, refused before allocating.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kDeflateSlack = 1024;

// Folders separated by "\"; a "/" that is the second byte of a two-byte character stays.
std::string ToBackslashes(std::string name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsAnsiLeadByte(static_cast<unsigned char>(name[i]))) {
      ++i;
    } else if (name[i] == '/') {
      name[i] = '\\';
    }
  }
  return name;
}

// The UTF-8 name of an extra field that stands for exactly this stored name (its CRC-32 says
// so: a tool that renamed the entry without knowing the field leaves a stale one behind).
bool UnicodePathName(const std::string& extra, const std::string& stored, std::string* utf8) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(extra.data());
  size_t left = extra.size();
  while (left >= 4) {
    const uint16_t tag = Get16(p);
    const size_t size = Get16(p + 2);
    if (size > left - 4) return false;
    if (tag == kUnicodePathTag && size >= 5 && p[4] == 1 &&
        Get32(p + 5) == Crc32(reinterpret_cast<const uint8_t*>(stored.data()), stored.size())) {
      utf8->assign(reinterpret_cast<const char*>(p + 9), size - 5);
      return IsUtf8(*utf8);
    }
    p += 4 + size;
    left -= 4 + size;
  }
  return false;
}

// The stored name in the ANSI code page. A name flagged as UTF-8, or given in UTF-8 beside, is
// converted from it; MS-DOS, OS/2 and some NTFS makers wrote the OEM code page; Unix and macOS
// makers write their locale's text, which is UTF-8 today, so such a name is converted when it is
// well-formed UTF-8. Any other name is taken as ANSI already.
std::string AnsiName(const ZipDirEntry& e, const std::string& stored) {
  std::string utf8;
  if (UnicodePathName(e.extra_field, stored, &utf8)) return AnsiFromUtf8(utf8);
  if (IsAscii(stored)) return stored;
  if ((e.flag & kFlagUtf8Name) != 0) return AnsiFromUtf8(stored);
  switch (e.host_system) {
    case kHostMsDos:
    case kHostHpfs:
      return AnsiFromOem(stored);
    case kHostNtfs:
      return e.version_made_by == 50 ? AnsiFromOem(stored) : stored;
    case kHostUnix:
    case kHostOsx:
      return IsUtf8(stored) ? AnsiFromUtf8(stored) : stored;
    default:
      return stored;
  }
}

// Finds the end record: at the very end of the file, else before a comment. The comment may
// itself hold the signature, so a record whose comment ends exactly at the end of the file is
// preferred; failing that, the signature nearest the end is taken (junk after the archive).
bool FindEndRecord(const RandomAccessFile& file, uint64_t* position, uint8_t* record) {
  const uint64_t size = file.Size();
  if (size < kEndSize) return false;
  *position = size - kEndSize;
  if (file.ReadAt(*position, kEndSize, record) && Get32(record) == kEndSignature) return true;

  const uint64_t span = std::min(size, kEndSearchSpan);
  std::vector<uint8_t> tail(static_cast<size_t>(span));
  if (!file.ReadAt(size - span, tail.size(), tail.data())) return false;
  size_t found = tail.size();
  for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
    if (Get32(&tail[i]) != kEndSignature) continue;
    if (found == tail.size()) found = i;
    if (i + kEndSize + Get16(&tail[i + 20]) == tail.size()) {
      found = i;
      break;
    }
  }
  if (found == tail.size()) return false;
  *position = size - span + found;
  std::memcpy(record, &tail[found], kEndSize);
  return true;
}

// Parses the whole central directory; on failure `problem` says what is wrong.
bool ParseDirectory(const RandomAccessFile& file, std::vector<ZipDirEntry>* entries,
                    std::string* problem) {
  uint8_t end[kEndSize];
  uint64_t end_position = 0;
  if (!FindEndRecord(file, &end_position, end)) {
    *problem = "not a ZIP archive (no end-of-central-directory record)";
    return false;
  }
  const uint16_t count = Get16(end + 10);
  const uint32_t dir_size = Get32(end + 12);
  const uint32_t dir_offset = Get32(end + 16);
  // A ZIP64 archive keeps its directory's place in a record of its own and leaves its maxima
  // here. With a locator but fields that still hold the real values, the directory can be read
  // without it.
  uint8_t locator[kZip64LocatorSize];
  const bool has_locator = end_position >= kZip64LocatorSize &&
                           file.ReadAt(end_position - kZip64LocatorSize, kZip64LocatorSize,
                                       locator) &&
                           Get32(locator) == kZip64LocatorSignature;
  if (dir_size == kZip64Value || dir_offset == kZip64Value ||
      (has_locator && count == kZip64Count)) {
    *problem = "ZIP64 archives are not supported";
    return false;
  }
  if (dir_offset > end_position) {
    *problem = "damaged ZIP archive (the central directory lies outside the file)";
    return false;
  }
  // The records are read as many as the end record announces, from the directory's start up to
  // the end record at most: a size field that says less (or more) than the records take does
  // not matter. The size read first is the declared one; more is read as records need it.
  const uint64_t limit = end_position - dir_offset;
  std::vector<uint8_t> dir(static_cast<size_t>(std::min<uint64_t>(dir_size, limit)));
  if (!file.ReadAt(dir_offset, dir.size(), dir.data())) {
    *problem = "damaged ZIP archive (the central directory cannot be read)";
    return false;
  }
  bool unreadable = false;
  auto cannot_read = [&] {
    *problem = "damaged ZIP archive (the central directory cannot be read)";
    return false;
  };
  auto have = [&](size_t needed) {
    if (needed <= dir.size()) return true;
    if (needed > limit) return false;
    const size_t old = dir.size();
    const size_t grown = static_cast<size_t>(
        std::min<uint64_t>(limit, std::max<uint64_t>(needed, uint64_t{old} * 2 + 4096)));
    dir.resize(grown);
    if (!file.ReadAt(dir_offset + old, grown - old, dir.data() + old)) {
      unreadable = true;
      return false;
    }
    return true;
  };

  entries->reserve(count);
  size_t pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    auto damaged = [&](const std::string& what) {
      *problem = "damaged ZIP archive (central directory record " + std::to_string(i + 1) + " " +
                 what + ")";
      return false;
    };
    if (!have(pos + kCentralSize)) {
      if (unreadable) return cannot_read();
      return damaged("is truncated");
    }
    const uint8_t* r = dir.data() + pos;
    if (Get32(r) != kCentralSignature) return damaged("has a wrong signature");
    ZipDirEntry e;
    e.version_made_by = r[4];
    e.host_system = r[5];
    e.version_needed = Get16(r + 6);
    e.flag = Get16(r + 8);
    e.compression_method = Get16(r + 10);
    e.mod_time_date = Get32(r + 12);
    e.crc32 = Get32(r + 16);
    e.compressed_size = Get32(r + 20);
    e.uncompressed_size = Get32(r + 24);
    e.file_name_length = Get16(r + 28);
    e.extra_field_length = Get16(r + 30);
    e.comment_length = Get16(r + 32);
    e.disk_number_start = Get16(r + 34);
    e.internal_attributes = Get16(r + 36);
    e.external_attributes = Get32(r + 38);
    e.local_header_offset = Get32(r + 42);
    e.encrypted = static_cast<uint8_t>(e.flag & kFlagEncrypted);
    if (e.file_name_length > ZipArchive::kMaxNameLength) {
      return damaged("has a name of " + std::to_string(e.file_name_length) + " bytes");
    }
    const size_t variable = size_t{e.file_name_length} + e.extra_field_length + e.comment_length;
    if (!have(pos + kCentralSize + variable)) {
      if (unreadable) return cannot_read();
      return damaged("is truncated");
    }
    r = dir.data() + pos;  // the buffer may have grown
    const char* text = reinterpret_cast<const char*>(r + kCentralSize);
    const std::string stored(text, e.file_name_length);
    text += e.file_name_length;
    e.extra_field.assign(text, e.extra_field_length);
    text += e.extra_field_length;
    e.comment.assign(text, e.comment_length);
    e.FileName = ToBackslashes(AnsiName(e, stored));
    pos += kCentralSize + variable;

    // Folder records carry nothing to extract.
    const size_t slash = e.FileName.find_last_of('\\');
    const bool has_file_part =
        slash == std::string::npos ? !e.FileName.empty() : slash + 1 < e.FileName.size();
    if (has_file_part) entries->push_back(std::move(e));
  }
  return true;
}

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&zs_, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&zs_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool ok() const { return ok_; }
  z_stream* stream() { return &zs_; }

 private:
  z_stream zs_{};
  bool ok_ = false;
};

// Reads `size` bytes at `offset` in chunks, decrypting each, and inflates them into `out`, which
// must come out exactly full. Any output past its end is damage, not a reason to grow. Null on
// success, else what is wrong with the data.
const char* InflateInto(const RandomAccessFile& file, uint64_t offset, uint64_t size,
                        PkwareCipher* cipher, uint8_t* out, size_t out_size, uint32_t* crc) {
  Inflater inflater;
  if (!inflater.ok()) return "the inflater cannot start";
  z_stream* zs = inflater.stream();
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[kReadChunk]);
  uint8_t overflow[64];
  bool past_end = false;
  zs->next_out = out;
  zs->avail_out = static_cast<uInt>(out_size);
  uint32_t sum = 0;
  for (;;) {
    if (zs->avail_in == 0) {
      if (size == 0) return "its compressed data ends early";
      const size_t n = static_cast<size_t>(std::min<uint64_t>(size, kReadChunk));
      if (!file.ReadAt(offset, n, chunk.get())) return "its data cannot be read";
      if (cipher != nullptr) cipher->Decrypt(chunk.get(), n);
      offset += n;
      size -= n;
      zs->next_in = chunk.get();
      zs->avail_in = static_cast<uInt>(n);
    }
    if (zs->avail_out == 0 && !past_end) {
      // Let inflate show whether anything follows the declared size.
      past_end = true;
      zs->next_out = overflow;
      zs->avail_out = sizeof(overflow);
    }
    uint8_t* before = zs->next_out;
    const int rc = inflate(zs, Z_NO_FLUSH);
    if (past_end) {
      if (zs->next_out != overflow) return "it inflates to more than its declared size";
    } else {
      sum = Crc32(before, static_cast<size_t>(zs->next_out - before), sum);
    }
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && zs->avail_in == 0) continue;
    if (rc != Z_OK) return "its compressed data is corrupt";
  }
  if (zs->total_out != out_size) return "it inflates to less than its declared size";
  *crc = sum;
  return nullptr;
}

const char* ReadStoredInto(const RandomAccessFile& file, uint64_t offset, PkwareCipher* cipher,
                           uint8_t* out, size_t out_size, uint32_t* crc) {
  uint32_t sum = 0;
  for (size_t done = 0; done < out_size;) {
    const size_t n = std::min(out_size - done, kReadChunk);
    if (!file.ReadAt(offset + done, n, out + done)) return "its data cannot be read";
    if (cipher != nullptr) cipher->Decrypt(out + done, n);
    sum = Crc32(out + done, n, sum);
    done += n;
  }
  *crc = sum;
  return nullptr;
}

// The bytes an entry surely takes, from its local header on: the header's fixed part and its
// compressed data. The name and extra field of the local header only add to this.
uint64_t LeastSpan(const ZipDirEntry& entry) {
  return kLocalSize + uint64_t{entry.compressed_size};
}

}  // namespace

ZipArchive::ZipArchive() = default;
ZipArchive::~ZipArchive() = default;

void ZipArchive::SetZipFileName(const std::string& path) {
  zip_file_name_ = path;
  in_memory_ = false;
  file_.reset();
  ReadDirectory();
}

void ZipArchive::OpenMemory(std::vector<uint8_t> bytes, const std::string& display_name) {
  zip_file_name_ = display_name;
  in_memory_ = true;
  file_ = MemoryFile(std::move(bytes));
  ReadDirectory();
}

void ZipArchive::ReadDirectory() {
  entries_.clear();
  IndexEntries();
  auto report = [this](const std::string& problem) {
    if (OnMessage) OnMessage(zip_file_name_ + ": " + problem);
  };
  if (!in_memory_) {
    file_.reset();
    if (zip_file_name_.empty() || !FileExists(zip_file_name_)) return;
    file_ = OpenRandomAccessFile(zip_file_name_);
    if (!file_) {
      report("the file cannot be opened");
      return;
    }
  }
  if (!file_) return;
  std::vector<ZipDirEntry> entries;
  std::string problem;
  if (!ParseDirectory(*file_, &entries, &problem)) {
    if (!in_memory_) file_.reset();
    report(problem);
    return;
  }
  entries_ = std::move(entries);
  IndexEntries();
}

void ZipArchive::IndexEntries() {
  by_name_.clear();
  by_offset_.clear();
  reach_.clear();
  for (size_t i = 0; i < entries_.size(); ++i) {
    by_name_.emplace(AnsiLowerCase(entries_[i].FileName), i);
  }
  by_offset_.resize(entries_.size());
  for (size_t i = 0; i < by_offset_.size(); ++i) by_offset_[i] = i;
  std::stable_sort(by_offset_.begin(), by_offset_.end(), [this](size_t a, size_t b) {
    return entries_[a].local_header_offset < entries_[b].local_header_offset;
  });
  // reach_[k]: of the records up to by_offset_[k], the one whose least span ends furthest, among
  // those that fit in the file (a record that runs past the end is damage of its own).
  const uint64_t file_size = file_ ? file_->Size() : 0;
  size_t furthest = kNoEntry;
  uint64_t furthest_end = 0;
  for (size_t index : by_offset_) {
    const uint64_t end = entries_[index].local_header_offset + LeastSpan(entries_[index]);
    if (end <= file_size && (furthest == kNoEntry || end > furthest_end)) {
      furthest = index;
      furthest_end = end;
    }
    reach_.push_back(furthest);
  }
}

size_t ZipArchive::OverlappingEntry(size_t index, uint64_t end) const {
  const uint64_t start = entries_[index].local_header_offset;
  auto first = std::lower_bound(by_offset_.begin(), by_offset_.end(), start,
                                [this](size_t i, uint64_t offset) {
                                  return entries_[i].local_header_offset < offset;
                                });
  // A record that starts inside this one's bytes...
  for (auto it = first; it != by_offset_.end() && entries_[*it].local_header_offset < end; ++it) {
    if (*it != index) return *it;
  }
  // ...or one before it whose bytes reach into this one.
  if (first != by_offset_.begin()) {
    const size_t before = reach_[static_cast<size_t>(first - by_offset_.begin()) - 1];
    if (before != kNoEntry &&
        entries_[before].local_header_offset + LeastSpan(entries_[before]) > start) {
      return before;
    }
  }
  return kNoEntry;
}

const EntryBuffer* ZipArchive::ExtractEntryToMemory(const std::string& name) {
  if (busy_) {
    last_status_ = ExtractStatus::kBusy;
    last_problem_ = "the archive is busy with another extraction";
    return nullptr;
  }
  struct BusyScope {
    explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = false; }
    bool& flag_;
  } busy_scope(busy_);

  ExtractStatus status = ExtractStatus::kNoArchive;
  problem_ = "no archive to extract from";
  if (!zip_file_name_.empty() || in_memory_) {
    if (entries_.empty()) ReadDirectory();
    // Names are compared as the directory holds them, with "\" between folders, in any case of
    // any letter the ANSI code page has; the first of equal names is the one extracted.
    const auto found = by_name_.find(AnsiLowerCase(name));
    if (found != by_name_.end()) {
      // A copy: the password handler may rename the archive and so replace the directory.
      status = Extract(ZipDirEntry(entries_[found->second]), found->second);
    } else if (file_) {
      status = ExtractStatus::kNotFound;
      problem_ = "no entry " + name + " in the archive";
    }
  }
  last_status_ = status;
  if (status != ExtractStatus::kOk) {
    last_problem_ = problem_;
    stream_.clear();
    return nullptr;
  }
  last_problem_.clear();
  return &stream_;
}

ExtractStatus ZipArchive::Fail(ExtractStatus status, const std::string& problem) {
  problem_ = problem;
  return status;
}

ExtractStatus ZipArchive::Extract(const ZipDirEntry& entry, size_t index) {
  const std::string& name = entry.FileName;
  auto damaged = [&](const std::string& why) {
    return Fail(ExtractStatus::kDamaged, "damaged entry " + name + " (" + why + ")");
  };
  if ((entry.flag & kFlagStrongEncryption) != 0) {
    return Fail(ExtractStatus::kUnsupported, "unsupported strong encryption in " + name);
  }
  if (entry.compression_method != kMethodStored && entry.compression_method != kMethodDeflated) {
    return Fail(ExtractStatus::kUnsupported, "unsupported compression method " +
                                                 std::to_string(entry.compression_method) +
                                                 " in " + name);
  }
  // The real values of maximal fields are in a ZIP64 extra field, which we do not read.
  if (entry.compressed_size == kZip64Value || entry.uncompressed_size == kZip64Value ||
      entry.local_header_offset == kZip64Value) {
    return Fail(ExtractStatus::kUnsupported, "unsupported ZIP64 sizes in " + name);
  }
  if (entry.uncompressed_size > kMaxEntrySize) {
    return Fail(ExtractStatus::kTooLarge, name + " is too large (" +
                                              std::to_string(entry.uncompressed_size) +
                                              " bytes)");
  }
  if (!file_) return damaged("the archive is closed");

  uint8_t local[kLocalSize];
  if (!file_->ReadAt(entry.local_header_offset, kLocalSize, local) ||
      Get32(local) != kLocalSignature) {
    return damaged("no local header at offset " + std::to_string(entry.local_header_offset));
  }
  uint64_t offset =
      uint64_t{entry.local_header_offset} + kLocalSize + Get16(local + 26) + Get16(local + 28);
  uint64_t size = entry.compressed_size;
  const uint64_t file_size = file_->Size();
  if (offset > file_size || size > file_size - offset) {
    return damaged("its data lies outside the file");
  }

  // Two records that share bytes make one entry's data another's: refused before the password
  // check, which such data would fail.
  const size_t other = OverlappingEntry(index, offset + size);
  if (other != kNoEntry) {
    return Fail(ExtractStatus::kOverlapping,
                "overlapping entries " + name + " and " + entries_[other].FileName);
  }

  std::optional<PkwareCipher> cipher;
  if ((entry.flag & kFlagEncrypted) != 0) {
    uint8_t header[PkwareCipher::kHeaderSize];
    if (size < sizeof(header) || !file_->ReadAt(offset, sizeof(header), header)) {
      return damaged("its encryption header is cut short");
    }
    offset += sizeof(header);
    size -= sizeof(header);
    // With a data descriptor the CRC was not known when the header was made; the time was.
    const uint8_t check = (entry.flag & kFlagDataDescriptor) != 0
                              ? static_cast<uint8_t>(entry.mod_time_date >> 8)
                              : static_cast<uint8_t>(entry.crc32 >> 24);
    const std::string wrong_password = "wrong password for " + name;
    std::string password = password_;
    uint32_t repeat = 0;
    for (;;) {
      PkwareCipher trial(password);
      uint8_t plain[sizeof(header)];
      std::memcpy(plain, header, sizeof(header));
      trial.Decrypt(plain, sizeof(plain));
      if (plain[sizeof(plain) - 1] == check) {
        cipher.emplace(trial);
        break;
      }
      if (!OnPasswordError) return Fail(ExtractStatus::kWrongPassword, wrong_password);
      std::string new_password;
      uint32_t repeat_count = std::min(repeat, kMaxReportedRepeat);
      MessageAction action = MessageAction::kOk;
      OnPasswordError(false, new_password, entry.FileName, repeat_count, action);
      if (repeat < kMaxReportedRepeat + 1) ++repeat;
      if (action != MessageAction::kOk || new_password.empty()) {
        return Fail(ExtractStatus::kWrongPassword, wrong_password);
      }
      password = new_password.substr(0, kMaxPasswordLength);
    }
    // The handler may have named another archive.
    if (!file_) return damaged("the archive was closed while asking for a password");
  }

  if (entry.compression_method == kMethodStored && size != entry.uncompressed_size) {
    return damaged("stored in " + std::to_string(size) + " bytes for a size of " +
                   std::to_string(entry.uncompressed_size));
  }
  if (entry.compression_method == kMethodDeflated &&
      entry.uncompressed_size > size * kMaxDeflateRatio + kDeflateSlack) {
    return damaged(std::to_string(size) + " compressed bytes cannot inflate to " +
                   std::to_string(entry.uncompressed_size));
  }

  try {
    stream_.resize(entry.uncompressed_size);
  } catch (const std::bad_alloc&) {
    stream_.clear();
    stream_.shrink_to_fit();
    return Fail(ExtractStatus::kTooLarge, name + " does not fit in memory (" +
                                              std::to_string(entry.uncompressed_size) +
                                              " bytes)");
  }
  PkwareCipher* cipher_ptr = cipher ? &*cipher : nullptr;
  uint32_t crc = 0;
  const char* why =
      entry.compression_method == kMethodStored
          ? ReadStoredInto(*file_, offset, cipher_ptr, stream_.data(), stream_.size(), &crc)
          : InflateInto(*file_, offset, size, cipher_ptr, stream_.data(), stream_.size(), &crc);
  if (why != nullptr) return damaged(why);
  if (crc != entry.crc32) return Fail(ExtractStatus::kCrcMismatch, "CRC mismatch in " + name);
  return ExtractStatus::kOk;
}

}  // namespace quenvale
