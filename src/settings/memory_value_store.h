// A value store held in memory, for tests and for runs that must not touch the user's settings.
#ifndef QUENVALE_SETTINGS_MEMORY_VALUE_STORE_H_
#define QUENVALE_SETTINGS_MEMORY_VALUE_STORE_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "settings/value_store.h"

namespace quenvale {

class MemoryValueStore : public ValueStore {
 public:
  std::unique_ptr<ValueKey> OpenKey(const std::string& path, bool create) override;

  // Direct access for tests. Key paths and value names compare ignoring ASCII case, and a key
  // path's trailing backslashes do not matter, as in the registry.
  bool HasKey(const std::string& path) const;
  bool Get(const std::string& path, const std::string& name, RegistryData* data) const;
  void Set(const std::string& path, const std::string& name, const RegistryData& data);
  // Value names in the order they were first written.
  std::vector<std::string> ValueNames(const std::string& path) const;
  // Every write of the key, in order: value names as written (repeats included).
  const std::vector<std::string>& WriteLog() const { return write_log_; }

  // Simulated failures: keys that cannot be created, values whose writes are refused.
  void set_creatable(bool creatable) { creatable_ = creatable; }
  void RefuseWrites(const std::string& name);

 private:
  friend class MemoryValueKey;
  struct Key {
    std::vector<std::string> names;  // stored spelling, first-write order
    std::map<std::string, RegistryData> values;  // by lower-cased name
  };
  static std::string KeyId(const std::string& path);
  Key* Find(const std::string& path);
  const Key* Find(const std::string& path) const;

  std::map<std::string, Key> keys_;
  std::set<std::string> refused_;
  std::vector<std::string> write_log_;
  bool creatable_ = true;
};

}  // namespace quenvale

#endif  // QUENVALE_SETTINGS_MEMORY_VALUE_STORE_H_
