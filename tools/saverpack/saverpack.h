// saverpack: builds, inspects and checks Quenvale data files.
#ifndef QUENVALE_TOOLS_SAVERPACK_SAVERPACK_H_
#define QUENVALE_TOOLS_SAVERPACK_SAVERPACK_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "datafile/zip_file_settings.h"

namespace saverpack {

// A failure that ends the command: one line for the user and the exit status.
class Failure : public std::runtime_error {
 public:
  Failure(const std::string& message, int status = 2) : std::runtime_error(message), status(status) {}
  int status;
};

// The words of one command line after the command name: positional arguments and options.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--json" -> "" for flags
  bool Has(const std::string& name) const { return options.count(name) > 0; }
  std::string Get(const std::string& name, const std::string& def = "") const {
    auto it = options.find(name);
    return it == options.end() ? def : it->second;
  }
};

// A data file opened the way the engine opens it, for the executable name the password comes
// from (--scr, or the name that belongs to the data file).
class OpenedDataFile : public quenvale::DataFileHost {
 public:
  OpenedDataFile(const std::string& data_file, const std::string& scr_name,
                 quenvale::SaverMode mode);
  // The same for a source folder, packed in memory first, so that the checks see exactly what
  // the engine would see.
  static std::unique_ptr<OpenedDataFile> FromFolder(const std::string& folder);

  quenvale::ZipFileSettings& Data() { return *data_; }
  // Another view of the same data file, as the engine opens it in another run mode.
  std::unique_ptr<quenvale::ZipFileSettings> OpenAs(quenvale::SaverMode mode);
  const std::string& Path() const { return path_; }
  // Files of the source folder left out for their names, each with the reason.
  const std::vector<std::string>& BadNames() const { return bad_names_; }

  std::string ExecutablePath() const override { return executable_; }
  std::string DataFilePath() const override { return path_; }
  [[noreturn]] void Fatal(const std::string& message, int exit_code) override;
  void ArchiveMessage(const std::string& message) override;
  int32_t Random(int32_t range) override;
  void OpenArchive(quenvale::ZipArchive& zip, const std::string& path) override;
  // Repeatable random choices (the first set) from here on.
  void SeedRandom(uint32_t seed) { random_.seed(seed); }

 private:
  OpenedDataFile() = default;
  void Open(quenvale::SaverMode mode);

  std::string path_;
  std::string executable_;
  std::string archive_message_;
  std::vector<uint8_t> memory_;  // the packed folder, when opened from one
  std::vector<std::string> bad_names_;
  bool from_memory_ = false;
  std::unique_ptr<quenvale::ZipFileSettings> data_;
  std::mt19937 random_{std::random_device{}()};
};

// Packs a folder: every file below it, names relative with "/", sorted for repeatable output.
struct PackedFolder {
  std::vector<uint8_t> archive;
  std::vector<std::string> skipped;    // hidden files left out
  std::vector<std::string> bad_names;  // files left out for their names, each with the reason
};

// Why the engine cannot hold a file name (UTF-8, as the file system gives it), empty when it can.
std::string NameProblem(const std::string& utf8);

// The engine's text (Windows-1252) for this system's terminal, and a command line's text for
// the engine: UTF-8 elsewhere; on Windows both are in the ANSI code page already.
std::string ForTerminal(const std::string& ansi);
std::string FromTerminal(const std::string& text);
PackedFolder PackFolder(const std::string& folder, const std::string& password,
                        bool verbose);

std::string ScrNameFor(const Args& args, const std::string& data_file);
quenvale::SaverMode ModeFromText(const std::string& text);

int CommandBuild(const Args& args);
int CommandList(const Args& args);
int CommandSettings(const Args& args);
int CommandSets(const Args& args);
int CommandExtract(const Args& args);
int CommandCheck(const Args& args);
int CommandDecode(const Args& args);
int CommandRender(const Args& args);
int CommandInstaller(const Args& args);

// Writes a temporary file beside `target` and renames it over the target.
void WriteFileAtomically(const std::filesystem::path& target, const uint8_t* data, size_t size);
inline void WriteFileAtomically(const std::filesystem::path& target,
                                const std::vector<uint8_t>& bytes) {
  WriteFileAtomically(target, bytes.data(), bytes.size());
}

// JSON text of an 8-bit Windows-1252 string, quotes included.
std::string JsonString(const std::string& cp1252);

}  // namespace saverpack

#endif  // QUENVALE_TOOLS_SAVERPACK_SAVERPACK_H_
