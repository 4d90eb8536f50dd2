#include "settings/registry_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/strings.h"

namespace quenvale {

namespace {

const char* VarTypeName(uint16_t var_type) {
  switch (var_type) {
    case varSmallint: return "Smallint";
    case varInteger: return "Integer";
    case varSingle: return "Single";
    case varDouble: return "Double";
    case varDate: return "Date";
    case varBoolean: return "Boolean";
    case varShortInt: return "ShortInt";
    case varByte: return "Byte";
    case varWord: return "Word";
    default: return "String";
  }
}

const char* VariantTypeName(const Variant& value) {
  switch (value.index()) {
    case 0: return "Empty";
    case 1: return "Integer";
    case 2: return "Double";
    case 3: return "Boolean";
    default: return "String";
  }
}

[[noreturn]] void CannotConvert(const Variant& value, uint16_t var_type) {
  throw VariantConvertError(Format("Could not convert variant of type (%s) into type (%s)",
                                   VariantTypeName(value), VarTypeName(var_type)));
}

// A number written in full ("1.5", " -2e3"), in the C locale's notation.
bool TextToDouble(const std::string& text, double* value) {
  const char* begin = text.c_str();
  while (*begin == ' ') ++begin;
  if (*begin == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(begin, &end);
  while (*end == ' ') ++end;
  if (*end != '\0' || errno == ERANGE || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

int32_t VariantToInteger(const Variant& value, uint16_t var_type) {
  double number = 0;
  switch (value.index()) {
    case 0: return 0;
    case 1: return std::get<int32_t>(value);
    case 2: number = std::get<double>(value); break;
    case 3: return std::get<bool>(value) ? -1 : 0;  // a true variant is all bits set
    default: {
      const std::string& text = std::get<std::string>(value);
      int32_t parsed;
      if (TryStrToInt(text, &parsed)) return parsed;
      if (!TextToDouble(text, &number)) CannotConvert(value, var_type);
    }
  }
  number = std::nearbyint(number);  // halves to even
  if (!(number >= INT32_MIN && number <= INT32_MAX)) CannotConvert(value, var_type);
  return static_cast<int32_t>(number);
}

double VariantToDouble(const Variant& value, uint16_t var_type) {
  switch (value.index()) {
    case 0: return 0;
    case 1: return std::get<int32_t>(value);
    case 2: return std::get<double>(value);
    case 3: return std::get<bool>(value) ? -1 : 0;
    default: {
      double number;
      if (!TextToDouble(std::get<std::string>(value), &number)) CannotConvert(value, var_type);
      return number;
    }
  }
}

bool VariantToBoolean(const Variant& value, uint16_t var_type) {
  switch (value.index()) {
    case 0: return false;
    case 1: return std::get<int32_t>(value) != 0;
    case 2: return std::get<double>(value) != 0;
    case 3: return std::get<bool>(value);
    default: {
      const std::string& text = std::get<std::string>(value);
      if (SameText(text, "true")) return true;
      if (SameText(text, "false")) return false;
      double number;
      if (!TextToDouble(text, &number)) CannotConvert(value, var_type);
      return number != 0;
    }
  }
}

std::string VariantToString(const Variant& value) {
  switch (value.index()) {
    case 0: return std::string();
    case 1: return std::to_string(std::get<int32_t>(value));
    case 2: {
      char buffer[32];
      std::snprintf(buffer, sizeof(buffer), "%.15g", std::get<double>(value));
      return buffer;
    }
    case 3: return std::get<bool>(value) ? "True" : "False";
    default: return std::get<std::string>(value);
  }
}

template <typename T>
T* AddressAs(VariableAddress address) {
  T* const* typed = std::get_if<T*>(&address);
  if (typed == nullptr || *typed == nullptr) {
    throw std::invalid_argument("a bound variable's type does not match its variant code");
  }
  return *typed;
}

uint32_t DwordOf(const RegistryData& data) {
  uint32_t value = 0;
  for (size_t i = 0; i < data.bytes.size() && i < 4; ++i) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(data.bytes[i])) << (8 * i);
  }
  return value;
}

// Stores what the registry holds into the variable, refusing data of another type the way the
// registry layer does: data larger than the kind's buffer cannot even be fetched.
void ReadInto(const RegistryVariable& variable, const RegistryData& data) {
  const std::string& name = variable.ValueName;
  switch (KindOfVarType(variable.VarType)) {
    case VariableKind::kInteger:
    case VariableKind::kBoolean: {
      if (data.bytes.size() > 4) throw RegistryError(Format("Failed to get data for '%s'", name.c_str()));
      if (data.type != kRegDword) throw RegistryError(Format("Invalid data type for '%s'", name.c_str()));
      const uint32_t value = DwordOf(data);
      if (KindOfVarType(variable.VarType) == VariableKind::kBoolean) {
        *AddressAs<bool>(variable.Address) = value != 0;
      } else {
        *AddressAs<int32_t>(variable.Address) = static_cast<int32_t>(value);
      }
      return;
    }
    case VariableKind::kFloating: {
      if (data.bytes.size() > 8) throw RegistryError(Format("Failed to get data for '%s'", name.c_str()));
      if (data.type != kRegBinary || data.bytes.size() != 8) {
        throw RegistryError(Format("Invalid data type for '%s'", name.c_str()));
      }
      double value;
      std::memcpy(&value, data.bytes.data(), sizeof(value));
      *AddressAs<double>(variable.Address) = value;
      return;
    }
    case VariableKind::kString: {
      if (data.type != kRegSz && data.type != kRegExpandSz) {
        throw RegistryError(Format("Invalid data type for '%s'", name.c_str()));
      }
      *AddressAs<std::string>(variable.Address) = data.bytes.substr(0, data.bytes.find('\0'));
      return;
    }
  }
}

RegistryData DataOf(const RegistryVariable& variable) {
  switch (KindOfVarType(variable.VarType)) {
    case VariableKind::kInteger:
      return RegistryData::Dword(static_cast<uint32_t>(*AddressAs<int32_t>(variable.Address)));
    case VariableKind::kBoolean:
      return RegistryData::Dword(*AddressAs<bool>(variable.Address) ? 1 : 0);
    case VariableKind::kFloating: {
      const double value = *AddressAs<double>(variable.Address);
      std::string bytes(sizeof(value), '\0');
      std::memcpy(&bytes[0], &value, sizeof(value));
      return RegistryData::Binary(bytes);
    }
    case VariableKind::kString:
      break;
  }
  return RegistryData::String(*AddressAs<std::string>(variable.Address));
}

}  // namespace

VariableKind KindOfVarType(uint16_t var_type) {
  switch (var_type) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
      return VariableKind::kInteger;
    case varSingle:
    case varDouble:
    case varDate:
      return VariableKind::kFloating;
    case varBoolean:
      return VariableKind::kBoolean;
    default:
      return VariableKind::kString;
  }
}

std::string NormalizeKeyPath(const std::string& path) {
  if (path.empty()) return path;
  std::string normalized = path;
  if (normalized.back() != '\\') normalized += '\\';
  if (normalized.front() == '\\') normalized.erase(0, 1);
  return normalized;
}

RegistrySettings::RegistrySettings(ValueStore& store) : store_(store) {}

RegistrySettings::RegistrySettings(ValueStore& store, const std::string& name)
    : store_(store), root_path_(NormalizeKeyPath("Software\\")), key_name_(NormalizeKeyPath(name)) {}

RegistrySettings::~RegistrySettings() {
  try {
    Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "settings were not saved: %s\n", e.what());
  }
}

void RegistrySettings::AddVariable(VariableAddress address, uint16_t var_type,
                                   const Variant& default_value, const std::string& value_name) {
  if (root_path_.empty() && key_name_.empty()) throw NoRegisterKey("No registry key entered");
  variables_.push_back(RegistryVariable{address, var_type, value_name, default_value});
  LoadVariable(variables_.size() - 1);
}

void RegistrySettings::AddInteger(int32_t& variable, const std::string& value_name,
                                  int32_t default_value) {
  AddVariable(&variable, varInteger, default_value, value_name);
}

void RegistrySettings::AddString(std::string& variable, const std::string& value_name,
                                 const std::string& default_value) {
  AddVariable(&variable, varString, default_value, value_name);
}

void RegistrySettings::AddBoolean(bool& variable, const std::string& value_name,
                                  bool default_value) {
  AddVariable(&variable, varBoolean, default_value, value_name);
}

void RegistrySettings::LoadVariable(size_t index) {
  const RegistryVariable& variable = variables_.at(index);
  std::unique_ptr<ValueKey> key = store_.OpenKey(root_path_ + key_name_, false);
  RegistryData data;
  if (key != nullptr && key->ReadValue(variable.ValueName, &data)) {
    ReadInto(variable, data);
  } else {
    AssignVariant(variable.Address, variable.DefaultValue, variable.VarType);
  }
  if (key != nullptr) key->Close();
}

void RegistrySettings::SaveAll() {
  std::unique_ptr<ValueKey> key = store_.OpenKey(root_path_ + key_name_, true);
  if (key == nullptr) return;
  for (const RegistryVariable& variable : variables_) {
    if (!key->WriteValue(variable.ValueName, DataOf(variable))) {
      key->Close();  // what was written before the refusal stays written
      throw RegistryError(Format("Failed to set data for '%s'", variable.ValueName.c_str()));
    }
  }
  key->Close();
}

void RegistrySettings::Close() {
  if (closed_) return;
  closed_ = true;
  SaveAll();
}

void RegistrySettings::AssignVariant(VariableAddress address, const Variant& value,
                                     uint16_t var_type) {
  switch (KindOfVarType(var_type)) {
    case VariableKind::kInteger:
      *AddressAs<int32_t>(address) = VariantToInteger(value, var_type);
      return;
    case VariableKind::kFloating:
      *AddressAs<double>(address) = VariantToDouble(value, var_type);
      return;
    case VariableKind::kBoolean:
      *AddressAs<bool>(address) = VariantToBoolean(value, var_type);
      return;
    case VariableKind::kString:
      *AddressAs<std::string>(address) = VariantToString(value);
      return;
  }
}

}  // namespace quenvale
