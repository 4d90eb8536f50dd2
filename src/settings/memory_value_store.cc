#include "settings/memory_value_store.h"

#include "common/strings.h"

namespace quenvale {

class MemoryValueKey : public ValueKey {
 public:
  MemoryValueKey(MemoryValueStore* store, std::string path)
      : store_(store), path_(std::move(path)) {}
  bool ReadValue(const std::string& name, RegistryData* data) override {
    return store_->Get(path_, name, data);
  }
  bool WriteValue(const std::string& name, const RegistryData& data) override {
    if (store_->refused_.count(LowerCase(name)) != 0) return false;
    store_->Set(path_, name, data);
    store_->write_log_.push_back(name);
    return true;
  }
  void Close() override {}

 private:
  MemoryValueStore* store_;
  std::string path_;
};

std::string MemoryValueStore::KeyId(const std::string& path) {
  std::string id = LowerCase(path);
  while (!id.empty() && id.back() == '\\') id.pop_back();
  return id;
}

MemoryValueStore::Key* MemoryValueStore::Find(const std::string& path) {
  auto it = keys_.find(KeyId(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const MemoryValueStore::Key* MemoryValueStore::Find(const std::string& path) const {
  auto it = keys_.find(KeyId(path));
  return it == keys_.end() ? nullptr : &it->second;
}

std::unique_ptr<ValueKey> MemoryValueStore::OpenKey(const std::string& path, bool create) {
  if (KeyId(path).empty()) return nullptr;
  if (Find(path) == nullptr) {
    if (!create || !creatable_) return nullptr;
    keys_[KeyId(path)];
  }
  return std::make_unique<MemoryValueKey>(this, path);
}

bool MemoryValueStore::HasKey(const std::string& path) const { return Find(path) != nullptr; }

bool MemoryValueStore::Get(const std::string& path, const std::string& name,
                           RegistryData* data) const {
  const Key* key = Find(path);
  if (key == nullptr) return false;
  auto it = key->values.find(LowerCase(name));
  if (it == key->values.end()) return false;
  *data = it->second;
  return true;
}

void MemoryValueStore::Set(const std::string& path, const std::string& name,
                           const RegistryData& data) {
  Key& key = keys_[KeyId(path)];
  if (key.values.count(LowerCase(name)) == 0) key.names.push_back(name);
  key.values[LowerCase(name)] = data;
}

std::vector<std::string> MemoryValueStore::ValueNames(const std::string& path) const {
  const Key* key = Find(path);
  return key == nullptr ? std::vector<std::string>() : key->names;
}

void MemoryValueStore::RefuseWrites(const std::string& name) { refused_.insert(LowerCase(name)); }

}  // namespace quenvale
