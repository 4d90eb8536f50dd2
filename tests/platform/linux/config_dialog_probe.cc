// Runs the GTK settings dialog on a data file named on the command line, the way the engine
// runs it for /c, for the dialog's tests to drive:
//   config_dialog_probe DATA_FILE [/c[:ID] | /c ID]
// The data file is opened as the one beside "<its name with .scr>"; the settings go to the
// Linux store under $XDG_CONFIG_HOME.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "datafile/zip_file_settings.h"
#include "platform/linux/config_dialog_gtk.h"
#include "platform/posix/file_value_store.h"

namespace {

class ProbeHost : public quenvale::DataFileHost {
 public:
  explicit ProbeHost(std::string data_file) : data_file_(std::move(data_file)) {}
  std::string ExecutablePath() const override {
    return quenvale::ExecutableNameForDataFile(data_file_);
  }
  std::string DataFilePath() const override { return data_file_; }
  [[noreturn]] void Fatal(const std::string& message, int exit_code) override {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(exit_code);
  }
  void ArchiveMessage(const std::string& message) override {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
  int32_t Random(int32_t range) override {
    return range <= 1 ? 0 : std::uniform_int_distribution<int32_t>(0, range - 1)(random_);
  }

 private:
  std::string data_file_;
  std::mt19937 random_{12345};
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: config_dialog_probe DATA_FILE [/c[:ID]]\n");
    return 64;
  }
  ProbeHost host(argv[1]);
  const quenvale::CommandLine command_line =
      quenvale::ParseCommandLine(std::vector<std::string>(argv + 2, argv + argc));
  try {
    quenvale::FileValueStore store(quenvale::FileValueStore::DefaultFolder());
    return quenvale::RunConfigureMode(host, store, command_line);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "config_dialog_probe: %s\n", e.what());
    return 1;
  }
}
