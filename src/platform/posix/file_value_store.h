// The Linux settings store: each key is one text file in the format the Windows registry editor
// exports (version 5.00), so every value keeps its registry data type and a user can read and
// edit it. "Software\Quenvale Demo\" lives in <folder>/Software/Quenvale Demo.reg.
//
// Saving is atomic and merges: Close locks the key's folder, re-reads the file, applies this
// key's writes value by value over what is there now and renames a fresh file over the old one.
// A file that does not parse is never overwritten; opening it throws ValueStoreError naming the
// file and the line.
#ifndef QUENVALE_PLATFORM_POSIX_FILE_VALUE_STORE_H_
#define QUENVALE_PLATFORM_POSIX_FILE_VALUE_STORE_H_

#include <memory>
#include <string>

#include "settings/reg_file.h"
#include "settings/value_store.h"

namespace quenvale {

class FileValueStore : public ValueStore {
 public:
  // Failures the tests switch on to see that a save that goes wrong leaves the earlier file
  // as it was; nothing else sets them. A key takes the store's faults when it is opened.
  struct Faults {
    int write_error = 0;              // writing the temporary file fails with this errno
    bool exit_before_rename = false;  // the process ends with _exit(0) just before the rename
  };

  explicit FileValueStore(std::string folder);

  // $XDG_CONFIG_HOME/quenvale, or $HOME/.config/quenvale when XDG_CONFIG_HOME is unset, empty
  // or not absolute. Throws ValueStoreError when there is no home folder either.
  static std::string DefaultFolder();

  std::unique_ptr<ValueKey> OpenKey(const std::string& path, bool create) override;

  const std::string& folder() const { return folder_; }
  void set_faults(const Faults& faults) { faults_ = faults; }

 private:
  std::string folder_;
  Faults faults_;
};

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_POSIX_FILE_VALUE_STORE_H_
