// The run mode and host window handle that the screen-saver host passes on the command line.
#ifndef QUENVALE_APP_COMMAND_LINE_H_
#define QUENVALE_APP_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quenvale {

enum class SaverMode : uint8_t {
  smChangePassword = 0,
  smPreview = 1,
  smConfigure = 2,
  smSave = 3,
};

struct CommandLine {
  SaverMode mode = SaverMode::smConfigure;
  uint32_t parent_window = 0;
};

// Reads the arguments after the program name. Only the first two are looked at.
// Does not act on smChangePassword; the front end does that.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

const char* SaverModeName(SaverMode mode);

}  // namespace quenvale

#endif  // QUENVALE_APP_COMMAND_LINE_H_
