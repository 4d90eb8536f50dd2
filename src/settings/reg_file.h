// The key files of the Linux settings store, in the text format the Windows registry editor
// exports (version 5.00; "REGEDIT4" is read too): every value keeps its registry data type, and a
// user can read and edit the file. Portable: reading and writing the text only.
#ifndef QUENVALE_SETTINGS_REG_FILE_H_
#define QUENVALE_SETTINGS_REG_FILE_H_

#include <string>
#include <utility>
#include <vector>

#include "settings/value_store.h"

namespace quenvale {

// A key file's values in file order, one per name (names compare ignoring ASCII case).
using RegValueList = std::vector<std::pair<std::string, RegistryData>>;

struct RegFileContents {
  std::string key;  // the key line's path below HKEY_CURRENT_USER as written; empty when none
  RegValueList values;
};

// Parses the bytes of a key file (UTF-8 or UTF-16LE with BOM, "REGEDIT4" or version 5.00).
// `expected_key` is the key path below the root ("Software\Quenvale Demo"); a key line naming
// any other key is damage. Throws ValueStoreError "<where>:<line>: <what>".
RegFileContents ParseRegFile(const std::string& bytes, const std::string& where,
                             const std::string& expected_key);

// The version 5.00 text for `key` (path below HKEY_CURRENT_USER) holding `values`.
std::string FormatRegFile(const std::string& key, const RegValueList& values);

// Key paths: backslash-separated parts, empty parts dropped.
std::vector<std::string> SplitKeyPath(const std::string& path);

// Sets `name` (compared ignoring ASCII case) to `data`: in place when present, else at the end.
void SetRegValue(RegValueList* values, const std::string& name, const RegistryData& data);

}  // namespace quenvale

#endif  // QUENVALE_SETTINGS_REG_FILE_H_
