#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "saverpack/saverpack.h"

namespace fs = std::filesystem;

namespace saverpack {

OpenedDataFile::OpenedDataFile(const std::string& data_file, const std::string& scr_name,
                               quenvale::SaverMode mode) {
  path_ = data_file;
  fs::path folder = fs::path(data_file).parent_path();
  executable_ = (folder / scr_name).string();
  std::error_code ec;
  if (!fs::is_regular_file(data_file, ec)) throw Failure(data_file + ": no such file");
  Open(mode);
}

std::unique_ptr<OpenedDataFile> OpenedDataFile::FromFolder(const std::string& folder) {
  std::unique_ptr<OpenedDataFile> file(new OpenedDataFile());
  file->path_ = folder;
  file->executable_ = "saverpack-check.scr";
  PackedFolder packed = PackFolder(folder, quenvale::ArchivePasswordFor(file->executable_), false);
  file->memory_ = std::move(packed.archive);
  file->bad_names_ = std::move(packed.bad_names);
  file->from_memory_ = true;
  file->Open(quenvale::SaverMode::smSave);
  return file;
}

void OpenedDataFile::Open(quenvale::SaverMode mode) { data_ = OpenAs(mode); }

std::unique_ptr<quenvale::ZipFileSettings> OpenedDataFile::OpenAs(quenvale::SaverMode mode) {
  return std::make_unique<quenvale::ZipFileSettings>(*this, mode);
}

void OpenedDataFile::Fatal(const std::string& message, int exit_code) {
  if (!archive_message_.empty()) throw Failure(archive_message_);
  if (exit_code == quenvale::kExitWrongPassword) {
    throw Failure(path_ + ": wrong password for the executable name \"" +
                  fs::path(executable_).filename().string() + "\" (see --scr)");
  }
  (void)message;
  throw Failure(path_ + ": no settings.txt in it (or not a data file)");
}

void OpenedDataFile::ArchiveMessage(const std::string& message) { archive_message_ = message; }

int32_t OpenedDataFile::Random(int32_t range) {
  return std::uniform_int_distribution<int32_t>(0, range - 1)(random_);
}

void OpenedDataFile::OpenArchive(quenvale::ZipArchive& zip, const std::string& path) {
  if (from_memory_) {
    zip.OpenMemory(memory_, path);
  } else {
    zip.SetZipFileName(path);
  }
}

}  // namespace saverpack

namespace {

const char kUsage[] =
    "usage: saverpack COMMAND ...\n"
    "  build SOURCE_DIR OUT_DIR/NAME.scr [--engine ENGINE] [--verbose]\n"
    "                       pack a folder into OUT_DIR/NAME.dat for the executable NAME.scr\n"
    "  list DATAFILE        the entries as the engine sees them\n"
    "  settings DATAFILE [--json]\n"
    "                       the settings text as the engine parses it\n"
    "  sets DATAFILE [--mode save|preview|configure] [--json]\n"
    "                       the image sets of a run mode\n"
    "  extract DATAFILE ENTRY [-o FILE]\n"
    "                       one entry, to standard output or FILE\n"
    "  check SOURCE_DIR|DATAFILE\n"
    "                       what to fix before shipping (exit status 1 with warnings)\n"
    "  decode PICTURE OUTPUT.png|.ppm|.pam [--name NAME]\n"
    "                       decode a picture as the engine would, by content then by the\n"
    "                       extension of NAME (default: the file's name), and write it as PNG,\n"
    "                       or by OUTPUT's extension as PPM (opaque pictures) or PAM\n"
    "  render DATAFILE [OUT_DIR] [--webp OUT.webp [--fps F]] [--size WxH] [--frames N]\n"
    "         [--seed S] [--preview] [--set NAME]\n"
    "                       draw N frames (default 60, a second's worth) of the saver with its\n"
    "                       default settings into OUT_DIR/frame-NNNNN.png, and/or as an animated\n"
    "                       WebP at the saver's pace that keeps F of each second's 60 frames\n"
    "                       (default 15); the same seed gives the same frames\n"
    "  installer SOURCE_DIR|DATAFILE OUT/SETUP.exe --engine ENGINE [--title TITLE]\n"
    "            [--publisher NAME] [--scr NAME.scr] [--script DIR]\n"
    "                       a Windows setup program (NSIS's makensis) that installs NAME.scr\n"
    "                       and its data file, makes it the user's saver and registers its\n"
    "                       uninstaller; with --script, only the script and its files in DIR\n"
    "Commands that read a data file take --scr NAME.scr, the executable name the password is\n"
    "built from; without it the name is the data file's, \".dat\" -> \".scr\", first \"_\" -> blank.\n";

// Options that take a value; every other option is a flag.
bool TakesValue(const std::string& option) {
  return option == "--engine" || option == "--scr" || option == "--mode" || option == "-o" ||
         option == "--name" || option == "--size" || option == "--frames" || option == "--seed" ||
         option == "--set" || option == "--webp" || option == "--fps" || option == "--title" ||
         option == "--publisher" || option == "--script";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace saverpack;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  Args args;
  try {
    for (int i = 2; i < argc; ++i) {
      std::string word = argv[i];
      if (word.size() > 1 && word[0] == '-') {
        if (TakesValue(word)) {
          if (i + 1 >= argc) throw Failure(word + " needs a value");
          args.options[word] = argv[++i];
        } else if (word == "--json" || word == "--verbose" || word == "--preview") {
          args.options[word] = "";
        } else {
          throw Failure("unknown option " + word);
        }
      } else {
        args.positional.push_back(word);
      }
    }
    if (command == "build") return CommandBuild(args);
    if (command == "list") return CommandList(args);
    if (command == "settings") return CommandSettings(args);
    if (command == "sets") return CommandSets(args);
    if (command == "extract") return CommandExtract(args);
    if (command == "check") return CommandCheck(args);
    if (command == "decode") return CommandDecode(args);
    if (command == "render") return CommandRender(args);
    if (command == "installer") return CommandInstaller(args);
    throw Failure("unknown command \"" + command + "\" (see saverpack --help)");
  } catch (const Failure& failure) {
    std::fprintf(stderr, "saverpack: %s\n", failure.what());
    return failure.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "saverpack: %s\n", e.what());
    return 2;
  }
}
