// Program variables bound to named values under one per-user key. Binding a variable loads it at
// once (the stored value, else the caller's default); closing the store writes every bound
// variable back, changed or not, in the order they were bound.
#ifndef QUENVALE_SETTINGS_REGISTRY_SETTINGS_H_
#define QUENVALE_SETTINGS_REGISTRY_SETTINGS_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "settings/value_store.h"

namespace quenvale {

// The standard variant type numbers that choose how a variable is read, written and defaulted.
enum VarTypeCode : uint16_t {
  varSmallint = 2,
  varInteger = 3,
  varSingle = 4,
  varDouble = 5,
  varDate = 7,
  varBoolean = 11,
  varShortInt = 16,
  varByte = 17,
  varWord = 18,
  varString = 0x100,  // the string binding's code
};

// What a variable holds in memory is decided by the kind of its code: every integer code a 32-bit
// integer, every floating code a double, varBoolean a bool, any other code a string.
enum class VariableKind { kInteger, kFloating, kBoolean, kString };
VariableKind KindOfVarType(uint16_t var_type);

using Variant = std::variant<std::monostate, int32_t, double, bool, std::string>;
using VariableAddress = std::variant<int32_t*, double*, bool*, std::string*>;

struct RegistryVariable {
  VariableAddress Address;  // the caller's variable; never owned
  uint16_t VarType = varInteger;
  std::string ValueName;
  Variant DefaultValue;
};

// A variable bound while no key is set.
class NoRegisterKey : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A stored value that does not fit its variable, or a write the store refused.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A default that cannot be turned into its variable's kind.
class VariantConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An empty path stays empty; otherwise one trailing backslash is ensured and one leading
// backslash removed.
std::string NormalizeKeyPath(const std::string& path);

class RegistrySettings {
 public:
  // A store with no key: binding a variable fails until RootPath or KeyName is set.
  explicit RegistrySettings(ValueStore& store);
  // The key "Software\" + name under the per-user root.
  RegistrySettings(ValueStore& store, const std::string& name);
  // Writes every bound variable unless Close already has; errors are dropped here, so owners
  // that can report them call Close first.
  ~RegistrySettings();
  RegistrySettings(const RegistrySettings&) = delete;
  RegistrySettings& operator=(const RegistrySettings&) = delete;

  const std::string& RootPath() const { return root_path_; }
  const std::string& KeyName() const { return key_name_; }
  void SetRootPath(const std::string& path) { root_path_ = NormalizeKeyPath(path); }
  void SetKeyName(const std::string& name) { key_name_ = NormalizeKeyPath(name); }
  const std::vector<RegistryVariable>& Variables() const { return variables_; }

  // Every variable added must outlive the store's Close (or its destruction).
  void AddVariable(VariableAddress address, uint16_t var_type, const Variant& default_value,
                   const std::string& value_name);
  void AddInteger(int32_t& variable, const std::string& value_name, int32_t default_value);
  void AddString(std::string& variable, const std::string& value_name,
                 const std::string& default_value);
  void AddBoolean(bool& variable, const std::string& value_name, bool default_value);

  void LoadVariable(size_t index);
  void SaveAll();
  // SaveAll once; later calls and the destructor write nothing more.
  void Close();
  // Forgets the bound variables without writing them: an owner whose loading failed must not
  // overwrite the stored values with half-loaded ones.
  void Discard() { closed_ = true; }

  static void AssignVariant(VariableAddress address, const Variant& value, uint16_t var_type);

 private:
  ValueStore& store_;
  std::vector<RegistryVariable> variables_;
  std::string root_path_;
  std::string key_name_;
  bool closed_ = false;
};

}  // namespace quenvale

#endif  // QUENVALE_SETTINGS_REGISTRY_SETTINGS_H_
