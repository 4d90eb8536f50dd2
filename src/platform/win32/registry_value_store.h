// The Windows settings store: keys and values under HKEY_CURRENT_USER, through the registry's
// 8-bit ("A") functions, so that names and text are the very bytes the settings store hands
// over. Every write reaches the registry at once; Close only releases the key.
#ifndef QUENVALE_PLATFORM_WIN32_REGISTRY_VALUE_STORE_H_
#define QUENVALE_PLATFORM_WIN32_REGISTRY_VALUE_STORE_H_

#include <memory>
#include <string>

#include "settings/value_store.h"

namespace quenvale {

class RegistryValueStore : public ValueStore {
 public:
  // Opens with full access, or creates the key and its missing parents. Trailing backslashes
  // of `path` are dropped; an empty path (the root itself) gives null.
  std::unique_ptr<ValueKey> OpenKey(const std::string& path, bool create) override;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_WIN32_REGISTRY_VALUE_STORE_H_
