#include "platform/win32/registry_value_store.h"

#include <windows.h>

#include <limits>
#include <utility>

namespace quenvale {

namespace {

class RegistryValueKey : public ValueKey {
 public:
  explicit RegistryValueKey(HKEY key) : key_(key) {}
  ~RegistryValueKey() override { Close(); }
  RegistryValueKey(const RegistryValueKey&) = delete;
  RegistryValueKey& operator=(const RegistryValueKey&) = delete;

  bool ReadValue(const std::string& name, RegistryData* data) override {
    if (key_ == nullptr) return false;
    // Asks for the size first; another writer may make the value grow in between, so a value
    // that no longer fits is asked for again.
    for (int attempt = 0; attempt < 8; ++attempt) {
      DWORD type = 0;
      DWORD size = 0;
      if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
      }
      std::string bytes(size, '\0');
      if (size > 0) {
        const LONG status = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(&bytes[0]), &size);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return false;
        bytes.resize(size);
      }
      data->type = type;
      data->bytes = std::move(bytes);
      return true;
    }
    return false;
  }

  bool WriteValue(const std::string& name, const RegistryData& data) override {
    if (key_ == nullptr || data.bytes.size() > std::numeric_limits<DWORD>::max()) return false;
    return RegSetValueExA(key_, name.c_str(), 0, data.type,
                          reinterpret_cast<const BYTE*>(data.bytes.data()),
                          static_cast<DWORD>(data.bytes.size())) == ERROR_SUCCESS;
  }

  // The writes are in the registry already; the system saves it to disk in its own time.
  void Close() override {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_;
};

}  // namespace

std::unique_ptr<ValueKey> RegistryValueStore::OpenKey(const std::string& path, bool create) {
  std::string subkey = path;
  while (!subkey.empty() && subkey.back() == '\\') subkey.pop_back();
  if (subkey.empty()) return nullptr;
  HKEY key = nullptr;
  const LONG status =
      create ? RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr)
             : RegOpenKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return nullptr;
  return std::make_unique<RegistryValueKey>(key);
}

}  // namespace quenvale
