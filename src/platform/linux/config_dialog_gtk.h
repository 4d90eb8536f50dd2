// The configuration dialog (/c) of the Linux engine: the core's dialog model drawn with GTK 3.
#ifndef QUENVALE_PLATFORM_LINUX_CONFIG_DIALOG_GTK_H_
#define QUENVALE_PLATFORM_LINUX_CONFIG_DIALOG_GTK_H_

#include "app/command_line.h"
#include "datafile/zip_file_settings.h"
#include "settings/value_store.h"

namespace quenvale {

// Opens the data file through `host`, loads the settings from `store`, shows the dialog until
// the user closes it (OK, Cancel or the close box) and writes the settings. Returns the
// process's exit code.
int RunConfigureMode(DataFileHost& host, ValueStore& store, const CommandLine& command_line);

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_CONFIG_DIALOG_GTK_H_
