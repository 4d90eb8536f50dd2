#include "datafile/zip_test_util.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "datafile/crc32.h"
#include "datafile/pkware_cipher.h"
#include "datafile/zip_format.h"

namespace quenvale {
namespace testutil {
using zipformat::Put16;
using zipformat::Put32;

bool RunCommand(const std::string& command, std::string* output) {
#ifdef _WIN32
  std::FILE* pipe = _popen(command.c_str(), "r");
#else
  std::FILE* pipe = popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
    if (output != nullptr) output->append(buffer, n);
  }
#ifdef _WIN32
  return _pclose(pipe) == 0;
#else
  return pclose(pipe) == 0;
#endif
}

bool HaveCommand(const std::string& name) {
#ifdef _WIN32
  // The peers are Linux programs driven through a POSIX shell, which a Windows build has not.
  (void)name;
  return false;
#else
  return RunCommand("command -v " + ShellQuote(name) + " >/dev/null 2>&1");
#endif
}

std::string ShellQuote(const std::string& s) {
  std::string quoted = "'";
  for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = base / ("quenvale-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

std::vector<uint8_t> TextBytes(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"screen", "saver ", "quenvale ", "data\n",  "file ",
                                       "image ", "scene ", "fade ",     "colour ", "speed=3\n"};
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(n + 16);
  while (out.size() < n) {
    const std::string word = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), word.begin(), word.end());
  }
  out.resize(n);
  return out;
}

std::vector<uint8_t> MakeEncryptedZip(const std::vector<ZipWriterEntry>& entries,
                                      const std::string& password, uint32_t seed) {
  std::mt19937 rng(seed);
  return WriteEncryptedZip(entries, password, [&rng] { return static_cast<uint8_t>(rng()); });
}

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data) {
  z_stream zs{};
  if (deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::vector<uint8_t> out(deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

RawZipEntry MakeRawEntry(const std::string& name, const std::vector<uint8_t>& content,
                         const RawEntryOptions& options) {
  RawZipEntry e;
  e.name = name;
  e.method = options.deflate ? 8 : 0;
  e.dos_time_date = options.dos_time_date;
  e.crc32 = Crc32(content.data(), content.size());
  e.uncompressed_size = static_cast<uint32_t>(content.size());
  e.payload = options.deflate ? RawDeflate(content) : content;
  if (options.data_descriptor) e.flag |= 0x0008;
  if (options.password) {
    e.flag |= 0x0001;
    std::vector<uint8_t> header = RandomBytes(PkwareCipher::kHeaderSize, e.crc32);
    header.back() = options.data_descriptor ? static_cast<uint8_t>(e.dos_time_date >> 8)
                                            : static_cast<uint8_t>(e.crc32 >> 24);
    e.payload.insert(e.payload.begin(), header.begin(), header.end());
    PkwareCipher(*options.password).Encrypt(e.payload.data(), e.payload.size());
  }
  return e;
}

RawZip RawZipBuilder::Build() const {
  RawZip zip;
  std::vector<uint32_t> local_offsets;
  for (const RawZipEntry& e : entries) {
    local_offsets.push_back(static_cast<uint32_t>(zip.bytes.size()));
    const uint32_t compressed = e.compressed_size.value_or(static_cast<uint32_t>(e.payload.size()));
    Put32(zip.bytes, e.local_signature);
    Put16(zip.bytes, 20);
    Put16(zip.bytes, e.flag);
    Put16(zip.bytes, e.method);
    Put32(zip.bytes, e.dos_time_date);
    Put32(zip.bytes, e.crc32);
    Put32(zip.bytes, compressed);
    Put32(zip.bytes, e.uncompressed_size);
    Put16(zip.bytes, static_cast<uint32_t>(e.name.size()));
    Put16(zip.bytes, 0);
    zip.bytes.insert(zip.bytes.end(), e.name.begin(), e.name.end());
    zip.payload_offsets.push_back(zip.bytes.size());
    zip.bytes.insert(zip.bytes.end(), e.payload.begin(), e.payload.end());
  }
  zip.dir_offset = zip.bytes.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const RawZipEntry& e = entries[i];
    Put32(zip.bytes, e.central_signature);
    Put16(zip.bytes, e.version_made_by);
    Put16(zip.bytes, 20);
    Put16(zip.bytes, e.flag);
    Put16(zip.bytes, e.method);
    Put32(zip.bytes, e.dos_time_date);
    Put32(zip.bytes, e.crc32);
    Put32(zip.bytes, e.compressed_size.value_or(static_cast<uint32_t>(e.payload.size())));
    Put32(zip.bytes, e.uncompressed_size);
    Put16(zip.bytes, static_cast<uint32_t>(e.name.size()));
    Put16(zip.bytes, static_cast<uint32_t>(e.extra.size()));
    Put16(zip.bytes, 0);
    Put16(zip.bytes, 0);
    Put16(zip.bytes, 0);
    Put32(zip.bytes, 0x20);
    Put32(zip.bytes, e.local_header_offset.value_or(local_offsets[i]));
    zip.bytes.insert(zip.bytes.end(), e.name.begin(), e.name.end());
    zip.bytes.insert(zip.bytes.end(), e.extra.begin(), e.extra.end());
  }
  const size_t real_dir_size = zip.bytes.size() - zip.dir_offset;
  if (zip64_end) {
    const size_t record = zip.bytes.size();
    auto put64 = [&zip](uint64_t v) {
      Put32(zip.bytes, static_cast<uint32_t>(v));
      Put32(zip.bytes, static_cast<uint32_t>(v >> 32));
    };
    Put32(zip.bytes, zipformat::kZip64EndSignature);
    put64(44);  // the record's size after this field
    Put16(zip.bytes, 45);
    Put16(zip.bytes, 45);
    Put32(zip.bytes, 0);
    Put32(zip.bytes, 0);
    put64(entries.size());
    put64(entries.size());
    put64(real_dir_size);
    put64(zip.dir_offset);
    Put32(zip.bytes, zipformat::kZip64LocatorSignature);
    Put32(zip.bytes, 0);
    put64(record);
    Put32(zip.bytes, 1);
  }
  zip.end_offset = zip.bytes.size();
  Put32(zip.bytes, 0x06054b50);
  Put16(zip.bytes, 0);
  Put16(zip.bytes, 0);
  const uint16_t count = entry_count.value_or(
      zip64_end ? zipformat::kZip64Count : static_cast<uint16_t>(entries.size()));
  Put16(zip.bytes, count);
  Put16(zip.bytes, count);
  Put32(zip.bytes, dir_size.value_or(zip64_end ? zipformat::kZip64Value
                                               : static_cast<uint32_t>(real_dir_size)));
  Put32(zip.bytes, dir_offset.value_or(zip64_end ? zipformat::kZip64Value
                                                 : static_cast<uint32_t>(zip.dir_offset)));
  Put16(zip.bytes, static_cast<uint32_t>(comment.size()));
  zip.bytes.insert(zip.bytes.end(), comment.begin(), comment.end());
  return zip;
}

}  // namespace testutil
}  // namespace quenvale
