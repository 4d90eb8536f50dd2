// Where the user's settings live: a tree of keys under a per-user root, each key holding named,
// typed values, the shape of the Windows registry's HKEY_CURRENT_USER. The settings store
// (RegistrySettings) speaks only to this interface; each platform supplies one implementation
// (the registry on Windows, one text file per key on Linux) and the tests use the in-memory one.
#ifndef QUENVALE_SETTINGS_VALUE_STORE_H_
#define QUENVALE_SETTINGS_VALUE_STORE_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace quenvale {

// The registry's data type numbers, kept as they are so that every store can hold any of them.
enum RegistryDataType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegLink = 6,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// One value as the registry's 8-bit ("A") functions hand it over: the data type and the raw
// bytes. A REG_DWORD is 4 little-endian bytes; a REG_SZ or REG_EXPAND_SZ is the 8-bit text with
// its terminating zero.
struct RegistryData {
  uint32_t type = kRegNone;
  std::string bytes;

  static RegistryData Dword(uint32_t value);
  static RegistryData String(const std::string& text);  // REG_SZ with its terminating zero
  static RegistryData Binary(const std::string& bytes);
};

// A store that cannot do what it was asked for reasons of its own (a settings file that is
// damaged or cannot be written); the message names the file and, for damage, the line.
class ValueStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An open key. Writes may be buffered until Close.
class ValueKey {
 public:
  virtual ~ValueKey() = default;
  // False when the key has no value of that name.
  virtual bool ReadValue(const std::string& name, RegistryData* data) = 0;
  // False when the store refuses the write.
  virtual bool WriteValue(const std::string& name, const RegistryData& data) = 0;
  // Makes the writes lasting. Throws ValueStoreError when that fails; what was stored before
  // stays as it was then.
  virtual void Close() = 0;
};

class ValueStore {
 public:
  virtual ~ValueStore() = default;
  // `path` is relative to the per-user root, parts separated by backslashes, with or without a
  // trailing one ("Software\Quenvale Demo\"). Returns null when the key does not exist and
  // `create` is false, or when it cannot be opened or created. A store may throw
  // ValueStoreError when what it keeps for the key is damaged.
  virtual std::unique_ptr<ValueKey> OpenKey(const std::string& path, bool create) = 0;
};

}  // namespace quenvale

#endif  // QUENVALE_SETTINGS_VALUE_STORE_H_
