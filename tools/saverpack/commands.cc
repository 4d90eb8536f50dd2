#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "common/ansi_text.h"
#include "common/code_page.h"
#include "common/strings.h"
#include "datafile/zip_writer.h"
#include "imaging/format_registry.h"
#include "imaging/png_writer.h"
#include "saverpack/saverpack.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;
using quenvale::SaverMode;

namespace saverpack {

namespace {

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw Failure(path.string() + ": cannot be read");
  const std::streamoff size = in.tellg();
  if (size < 0) throw Failure(path.string() + ": cannot be read");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  if (in.gcount() != size) throw Failure(path.string() + ": cannot be read");
  return bytes;
}

uint32_t DosTimeDate(fs::file_time_type when) {
  // file_clock has no portable conversion in C++17; measure against "now" on both clocks.
  auto since = when - fs::file_time_type::clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(
      std::chrono::system_clock::now() +
      std::chrono::duration_cast<std::chrono::system_clock::duration>(since));
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  if (tm.tm_year < 80) return (1 << 21) | (1 << 16);  // 1980-01-01, the format's first day
  uint32_t date = ((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday;
  uint32_t time = (tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2);
  return (date << 16) | time;
}

std::function<uint8_t()> RandomBytes() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine]() { return static_cast<uint8_t>((*engine)() & 0xFF); };
}

const char* MethodName(uint16_t method) {
  switch (method) {
    case 0: return "stored";
    case 8: return "deflated";
    default: return "other";
  }
}


}  // namespace

std::string NameProblem(const std::string& utf8) {
  if (!quenvale::IsUtf8(utf8)) {
    return utf8 + ": the file name is not UTF-8 text, so its letters are unknown; rename it";
  }
  const uint32_t missing = quenvale::FirstNonCp1252(utf8);
  if (missing == 0) return "";
  std::string character;
  quenvale::AppendUtf8(missing, &character);
#ifdef _WIN32
  const std::string shown = quenvale::AnsiFromUtf8(utf8);
  character = "?";
#else
  const std::string& shown = utf8;
#endif
  return shown + ": \"" + character + "\" (" + quenvale::Format("U+%04X", missing) +
         ") is not in Windows-1252, the code page of the engine's names; rename the file";
}

std::string ForTerminal(const std::string& ansi) {
#ifdef _WIN32
  return ansi;
#else
  return quenvale::Utf8FromCp1252(ansi);
#endif
}

std::string FromTerminal(const std::string& text) {
#ifdef _WIN32
  return text;
#else
  return quenvale::IsUtf8(text) ? quenvale::Cp1252FromUtf8(text) : text;
#endif
}

void WriteFileAtomically(const fs::path& target, const uint8_t* data, size_t size) {
  fs::path temp = target;
  temp += ".saverpack-tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw Failure(temp.string() + ": cannot be written");
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      fs::remove(temp, ignored);
      throw Failure(temp.string() + ": writing failed (disk full?)");
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw Failure(target.string() + ": cannot be replaced: " + ec.message());
  }
}

SaverMode ModeFromText(const std::string& text) {
  if (text.empty() || text == "save") return SaverMode::smSave;
  if (text == "preview") return SaverMode::smPreview;
  if (text == "configure") return SaverMode::smConfigure;
  throw Failure("--mode takes save, preview or configure, not '" + text + "'");
}

std::string ScrNameFor(const Args& args, const std::string& data_file) {
  if (args.Has("--scr")) return args.Get("--scr");
  return quenvale::ExecutableNameForDataFile(data_file);
}

PackedFolder PackFolder(const std::string& folder, const std::string& password, bool verbose) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) throw Failure(folder + ": not a folder");
  std::vector<fs::path> files;
  PackedFolder packed;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const fs::path& path = it->path();
    std::string leaf = path.filename().u8string();
    if (!leaf.empty() && leaf[0] == '.') {
      // Editor and version-control droppings are not part of a saver.
      packed.skipped.push_back(fs::relative(path, folder).generic_string());
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files.push_back(path);
  }
  if (ec) throw Failure(folder + ": cannot be read: " + ec.message());
  std::sort(files.begin(), files.end());

  std::vector<quenvale::ZipWriterEntry> entries;
  for (const fs::path& path : files) {
    quenvale::ZipWriterEntry entry;
    entry.name = fs::relative(path, folder).generic_u8string();
    const std::string problem = NameProblem(entry.name);
    if (!problem.empty()) {
      packed.bad_names.push_back(problem);
      continue;
    }
    entry.data = ReadWholeFile(path);
    entry.dos_time_date = DosTimeDate(fs::last_write_time(path));
    entries.push_back(std::move(entry));
  }
  std::vector<quenvale::ZipWriterStats> stats;
  try {
    packed.archive = quenvale::WriteEncryptedZip(entries, password, RandomBytes(), &stats);
  } catch (const std::runtime_error& e) {
    throw Failure(folder + ": " + e.what());
  }
  if (verbose) {
    for (const auto& s : stats) {
      std::printf("  %-8s %10u -> %10u  %s\n", MethodName(s.method), s.size, s.compressed_size,
                  s.name.c_str());
    }
  }
  return packed;
}

int CommandBuild(const Args& args) {
  if (args.positional.size() != 2) throw Failure("usage: saverpack build SOURCE_DIR OUT_DIR/NAME.scr [--engine ENGINE]");
  const std::string source = args.positional[0];
  const fs::path scr = args.positional[1];
  const std::string scr_name = scr.filename().string();
  if (quenvale::FindNoCase(scr_name, ".scr") == std::string::npos) {
    throw Failure(scr.string() + ": the executable name must contain \".scr\"");
  }
  // The engine applies its rule to the whole path; a blank or ".scr" in a folder name would make
  // it look for the data file somewhere else.
  const fs::path folder = scr.parent_path();
  const fs::path dat = folder / quenvale::DataFilePathFor(scr_name);
  const std::string folder_text = folder.string();
  if (folder_text.find(' ') != std::string::npos ||
      quenvale::FindNoCase(folder_text, ".scr") != std::string::npos) {
    std::fprintf(stderr,
                 "saverpack: warning: %s: the engine would not find its data file from a folder "
                 "whose path holds a blank or \".scr\"\n",
                 folder_text.c_str());
  }
  if (!source.empty() && !fs::exists(fs::path(source) / quenvale::kSettingsEntryName)) {
    std::fprintf(stderr, "saverpack: warning: %s has no settings.txt; the engine will not start\n",
                 source.c_str());
  }
  std::error_code ec;
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (ec) throw Failure(folder_text + ": cannot be created: " + ec.message());

  PackedFolder packed = PackFolder(source, quenvale::ArchivePasswordFor(scr_name), args.Has("--verbose"));
  for (const auto& skipped : packed.skipped) {
    std::fprintf(stderr, "saverpack: left out %s\n", skipped.c_str());
  }
  if (!packed.bad_names.empty()) {
    for (const auto& problem : packed.bad_names) {
      std::fprintf(stderr, "saverpack: %s\n", problem.c_str());
    }
    throw Failure(source + ": " + std::to_string(packed.bad_names.size()) + " file name" +
                  (packed.bad_names.size() == 1 ? "" : "s") + " the engine cannot hold; " +
                  dat.string() + " was not written");
  }
  WriteFileAtomically(dat, packed.archive);
  std::printf("%s: %zu bytes, for %s\n", dat.string().c_str(), packed.archive.size(),
              scr_name.c_str());

  if (args.Has("--engine")) {
    const fs::path engine = args.Get("--engine");
    if (!fs::is_regular_file(engine, ec)) throw Failure(engine.string() + ": no such engine file");
    WriteFileAtomically(scr, ReadWholeFile(engine));
    fs::permissions(scr, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    std::printf("%s: copied from %s\n", scr.string().c_str(), engine.string().c_str());
  }
  return 0;
}

int CommandList(const Args& args) {
  if (args.positional.size() != 1) throw Failure("usage: saverpack list DATAFILE [--scr NAME.scr]");
  // The listing needs no settings text, so open the archive alone.
  const std::string path = args.positional[0];
  if (!fs::is_regular_file(path)) throw Failure(path + ": no such file");
  quenvale::ZipArchive zip;
  std::string message;
  zip.OnMessage = [&message](const std::string& m) { message = m; };
  zip.SetZipFileName(path);
  if (!message.empty()) throw Failure(message);
  std::printf("%10s %10s %-8s %-9s %s\n", "size", "packed", "method", "encrypted", "name");
  for (int i = 0; i < zip.EntryCount(); ++i) {
    const quenvale::ZipDirEntry& e = zip.EntryAt(i);
    std::printf("%10u %10u %-8s %-9s %s\n", e.uncompressed_size, e.compressed_size,
                MethodName(e.compression_method), e.encrypted ? "yes" : "no",
                ForTerminal(e.FileName).c_str());
  }
  std::printf("%d entries\n", zip.EntryCount());
  return 0;
}

int CommandSettings(const Args& args) {
  if (args.positional.size() != 1) throw Failure("usage: saverpack settings DATAFILE [--json] [--scr NAME.scr]");
  OpenedDataFile file(args.positional[0], ScrNameFor(args, args.positional[0]), SaverMode::smSave);
  const auto& entries = file.Data().Settings().Entries();
  if (args.Has("--json")) {
    std::printf("[");
    for (size_t i = 0; i < entries.size(); ++i) {
      std::printf("%s\n  {\"section\": %s, \"key\": %s, \"value\": %s}", i ? "," : "",
                  JsonString(entries[i].Section).c_str(), JsonString(entries[i].Key).c_str(),
                  JsonString(entries[i].Value).c_str());
    }
    std::printf("%s]\n", entries.empty() ? "" : "\n");
    return 0;
  }
  for (const auto& e : entries) {
    std::printf("%s\n", ForTerminal("[" + e.Section + "] " + e.Key + "=" + e.Value).c_str());
  }
  return 0;
}

int CommandSets(const Args& args) {
  if (args.positional.size() != 1) {
    throw Failure("usage: saverpack sets DATAFILE [--mode save|preview|configure] [--json] [--scr NAME.scr]");
  }
  OpenedDataFile file(args.positional[0], ScrNameFor(args, args.positional[0]),
                      ModeFromText(args.Get("--mode")));
  file.Data().ListSets();
  const auto& sets = file.Data().Sets();
  auto json_array = [](const quenvale::StringArray& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + JsonString(items[i]);
    return out + "]";
  };
  if (args.Has("--json")) {
    std::printf("[");
    for (size_t i = 0; i < sets.size(); ++i) {
      std::printf("%s\n  {\"name\": %s, \"backgrounds\": %s, \"pictures\": %s}", i ? "," : "",
                  JsonString(sets[i].Name).c_str(), json_array(sets[i].Backgrounds).c_str(),
                  json_array(sets[i].Pictures).c_str());
    }
    std::printf("%s]\n", sets.empty() ? "" : "\n");
    return 0;
  }
  for (const auto& set : sets) {
    std::printf("%s\n", set.Name.empty() ? "(no name)" : ForTerminal(set.Name).c_str());
    for (const auto& b : set.Backgrounds) std::printf("  background %s\n", ForTerminal(b).c_str());
    for (const auto& p : set.Pictures) std::printf("  picture    %s\n", ForTerminal(p).c_str());
  }
  std::printf("%zu sets\n", sets.size());
  return 0;
}

int CommandExtract(const Args& args) {
  if (args.positional.size() != 2) {
    throw Failure("usage: saverpack extract DATAFILE ENTRY [-o FILE] [--scr NAME.scr]");
  }
  const std::string path = args.positional[0];
  const std::string entry = quenvale::ReplaceAll(FromTerminal(args.positional[1]), "/", "\\");
  if (!fs::is_regular_file(path)) throw Failure(path + ": no such file");
  quenvale::ZipArchive zip;
  std::string message;
  zip.OnMessage = [&message](const std::string& m) { message = m; };
  bool wrong_password = false;
  zip.OnPasswordError = [&wrong_password](bool, std::string&, const std::string&, uint32_t&,
                                          quenvale::MessageAction& action) {
    wrong_password = true;
    action = quenvale::MessageAction::kCancel;
  };
  const std::string scr = ScrNameFor(args, path);
  zip.SetPassword(quenvale::ArchivePasswordFor(scr));
  zip.SetZipFileName(path);
  if (!message.empty()) throw Failure(message);
  const quenvale::EntryBuffer* data = zip.ExtractEntryToMemory(entry);
  if (data == nullptr) {
    if (wrong_password) {
      throw Failure(path + ": wrong password for the executable name \"" + scr + "\" (see --scr)");
    }
    throw Failure(path + ": " + ForTerminal(zip.LastProblem()));
  }
  if (args.Has("-o")) {
    WriteFileAtomically(args.Get("-o"), data->data(), data->size());
  } else {
#ifdef _WIN32
    // Windows' stdout is a text stream: every LF would gain a CR.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::fwrite(data->data(), 1, data->size(), stdout);
  }
  return 0;
}

// Netpbm's binary forms, for tools that read raw samples: PPM (P6) for an opaque picture, PAM (P7,
// RGB_ALPHA) for any. Both are the picture's samples behind a short text header.
std::vector<uint8_t> EncodeNetpbm(const quenvale::Picture& picture, bool with_alpha) {
  const std::string header =
      with_alpha ? "P7\nWIDTH " + std::to_string(picture.width) + "\nHEIGHT " +
                       std::to_string(picture.height) +
                       "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                 : "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) +
                       "\n255\n";
  const size_t channels = with_alpha ? 4 : 3;
  std::vector<uint8_t> bytes(header.size() + picture.pixels.size() * channels);
  std::copy(header.begin(), header.end(), bytes.begin());
  uint8_t* out = bytes.data() + header.size();
  for (const uint32_t pixel : picture.pixels) {
    out[0] = static_cast<uint8_t>(pixel >> 16);
    out[1] = static_cast<uint8_t>(pixel >> 8);
    out[2] = static_cast<uint8_t>(pixel);
    if (with_alpha) out[3] = static_cast<uint8_t>(pixel >> 24);
    out += channels;
  }
  return bytes;
}

int CommandDecode(const Args& args) {
  if (args.positional.size() != 2) {
    throw Failure("usage: saverpack decode PICTURE OUTPUT.png|.ppm|.pam [--name NAME]");
  }
  const fs::path input = args.positional[0];
  const std::string name = args.Get("--name", input.filename().string());
  const std::vector<uint8_t> bytes = ReadWholeFile(input);
  quenvale::Picture picture;
  quenvale::LoadedPictureInfo info;
  try {
    if (!quenvale::DecodePicture(bytes.data(), bytes.size(), name, &picture, &info)) {
      const std::string extension = quenvale::PictureExtension(name);
      throw Failure(input.string() + ": no content test recognises it and " +
                    (extension.empty() ? std::string("the name has no extension")
                                       : "\"" + extension + "\" is not a registered extension"));
    }
  } catch (const quenvale::PictureError& e) {
    throw Failure(input.string() + ": " + e.what());
  }
  const fs::path output = args.positional[1];
  const std::string kind = quenvale::LowerCase(output.extension().string());
  if (kind == ".ppm" && picture.has_alpha) {
    throw Failure(input.string() + ": has alpha, which a PPM cannot hold; write .png or .pam");
  }
  WriteFileAtomically(output, kind == ".ppm"   ? EncodeNetpbm(picture, false)
                              : kind == ".pam" ? EncodeNetpbm(picture, true)
                                               : quenvale::EncodePng(picture));
  std::printf("%s: %dx%d%s, %s by %s\n", input.string().c_str(), picture.width, picture.height,
              picture.has_alpha ? " with alpha" : "", info.graphic_class->name,
              info.by_content ? "content" : "extension");
  return 0;
}

}  // namespace saverpack
