// Benchmarks of the data-file layer. Besides the benchmarks, two one-shot modes serve
// extract_vs_unzip.sh:
//   datafile_bench --write-sample FILE               the 50 MB sample the large-entry case uses
//   datafile_bench --extract ARCHIVE ENTRY PASSWORD  one extraction, the entry written to stdout
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "datafile/zip_archive.h"
#include "datafile/zip_file_settings.h"
#include "datafile/zip_writer.h"

namespace quenvale {
namespace {

constexpr char kPassword[] = "bench password";
constexpr size_t kLargeEntrySize = 50u * 1024 * 1024;
constexpr uint32_t kDosTimeDate = 0x5A2B7C31;

// Settings-like text with numbers: deflates about 3:1, so inflating is real work.
std::vector<uint8_t> SampleData(size_t n) {
  static const char* const kWords[] = {"Scene",  "Image", "Fade",  "Speed",  "Colour", "=",
                                       "\r\n",   " ",     "true",  "false",  "Random", "Zoom",
                                       "Folder", "Sound", "Delay", "Effect", ".jpg",   ".bmp"};
  std::mt19937 rng(42);
  std::vector<uint8_t> out;
  out.reserve(n + 32);
  while (out.size() < n) {
    const uint32_t r = rng();
    const std::string piece = (r & 7) == 0 ? std::to_string(r >> 12) : kWords[r % 18];
    out.insert(out.end(), piece.begin(), piece.end());
  }
  out.resize(n);
  return out;
}

std::vector<uint8_t> EncryptedZip(const std::vector<ZipWriterEntry>& entries) {
  std::mt19937 rng(1);
  return WriteEncryptedZip(entries, kPassword, [&rng] { return static_cast<uint8_t>(rng()); });
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Archives are made once per run, on disk, and removed at exit.
class BenchFiles {
 public:
  BenchFiles()
      : dir_(std::filesystem::temp_directory_path() /
             ("quenvale-bench-" + std::to_string(std::random_device()()))) {
    std::filesystem::create_directories(dir_);
  }
  ~BenchFiles() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  BenchFiles(const BenchFiles&) = delete;
  BenchFiles& operator=(const BenchFiles&) = delete;

  // The path of `name`, written by `make` the first time it is asked for.
  template <typename Make>
  const std::string& Archive(const std::string& name, Make make) {
    auto it = paths_.find(name);
    if (it == paths_.end()) {
      const std::string path = (dir_ / name).string();
      if (!WriteFile(path, make())) std::fprintf(stderr, "cannot write %s\n", path.c_str());
      it = paths_.emplace(name, path).first;
    }
    return it->second;
  }

 private:
  std::filesystem::path dir_;
  std::map<std::string, std::string> paths_;
};

BenchFiles& Files() {
  static BenchFiles files;
  return files;
}

const std::string& LargeEntryArchive() {
  return Files().Archive("large.zip", [] {
    return EncryptedZip({{"sample.txt", SampleData(kLargeEntrySize), kDosTimeDate}});
  });
}

// An archive shaped like a big saver: many pictures in folders and a settings file.
const std::string& ManyEntryArchive(int entries) {
  return Files().Archive("many" + std::to_string(entries) + ".zip", [entries] {
    std::vector<ZipWriterEntry> list;
    list.push_back({"settings.ini", SampleData(4096), kDosTimeDate});
    for (int i = 1; i < entries; ++i) {
      list.push_back({"Scene" + std::to_string(i % 20) + "/Image" + std::to_string(i) + ".jpg",
                      std::vector<uint8_t>(64, static_cast<uint8_t>(i)), kDosTimeDate});
    }
    return EncryptedZip(list);
  });
}

void BM_ExtractLargeDeflatedEncryptedEntry(benchmark::State& state) {
  ZipArchive archive;
  archive.SetZipFileName(LargeEntryArchive());
  archive.SetPassword(kPassword);
  for (auto _ : state) {
    const EntryBuffer* data = archive.ExtractEntryToMemory("sample.txt");
    if (data == nullptr) {
      state.SkipWithError(archive.LastProblem().c_str());
      break;
    }
    benchmark::DoNotOptimize(data->data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLargeEntrySize);
}
BENCHMARK(BM_ExtractLargeDeflatedEncryptedEntry)->Unit(benchmark::kMillisecond);

void BM_ReadDirectory(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  const std::string& path = ManyEntryArchive(entries);
  ZipArchive archive;
  for (auto _ : state) {
    archive.SetZipFileName(path);
    if (archive.EntryCount() != entries) {
      state.SkipWithError("directory read short");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * entries);
}
BENCHMARK(BM_ReadDirectory)->Arg(1000)->Unit(benchmark::kMicrosecond);

// A 200-line settings text of the shape savers use: sections, gates, values, comments.
std::string SettingsText200() {
  std::string text = "// bench saver\r\n[general]\r\ntitle=Bench Saver\r\n";
  for (int line = 3; line < 200; ++line) {
    if (line % 20 == 0) {
      text += "[section" + std::to_string(line / 20) + "]\r\n";
    } else {
      text += "key" + std::to_string(line) + "=value " + std::to_string(line) +
              (line % 3 == 0 ? "  // a note\r\n" : "\r\n");
    }
  }
  return text;
}

class BenchHost : public DataFileHost {
 public:
  explicit BenchHost(std::string data_file) : data_file_(std::move(data_file)) {}
  std::string ExecutablePath() const override { return "Bench Saver.scr"; }
  std::string DataFilePath() const override { return data_file_; }
  [[noreturn]] void Fatal(const std::string& message, int) override {
    throw std::runtime_error(message);
  }
  void ArchiveMessage(const std::string&) override {}
  int32_t Random(int32_t) override { return 0; }

 private:
  std::string data_file_;
};

// What a saver does at start: open a data file of 1,000 entries, parse its settings text and
// group its pictures into sets.
void BM_OpenDataFileAndListSets(benchmark::State& state) {
  const std::string& path = Files().Archive("saver1000.dat", [] {
    std::vector<ZipWriterEntry> list;
    const std::string settings = SettingsText200();
    list.push_back({"settings.txt", std::vector<uint8_t>(settings.begin(), settings.end()),
                    kDosTimeDate});
    const char* const kFolders[] = {"backgrounds/", "icons/", "icons/thumbs/"};
    for (int i = 1; i < 1000; ++i) {
      list.push_back({std::string(kFolders[i % 3]) + "set" + std::to_string(i / 3) + ".png",
                      std::vector<uint8_t>(256, static_cast<uint8_t>(i)), kDosTimeDate});
    }
    std::mt19937 rng(1);
    return WriteEncryptedZip(list, ArchivePasswordFor("Bench Saver.scr"),
                             [&rng] { return static_cast<uint8_t>(rng()); });
  });
  BenchHost host(path);
  for (auto _ : state) {
    ZipFileSettings data(host, SaverMode::smSave);
    data.ListSets();
    if (data.Sets().size() < 333 || data.Settings().Entries().size() < 180) {
      state.SkipWithError("unexpected sets or settings");
      break;
    }
  }
}
BENCHMARK(BM_OpenDataFileAndListSets)->Unit(benchmark::kMillisecond);

int WriteSample(const char* path) {
  if (WriteFile(path, SampleData(kLargeEntrySize))) return 0;
  std::fprintf(stderr, "cannot write %s\n", path);
  return 1;
}

int ExtractOnce(const char* path, const char* entry, const char* password) {
  ZipArchive archive;
  archive.OnMessage = [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); };
  archive.SetZipFileName(path);
  archive.SetPassword(password);
  const EntryBuffer* data = archive.ExtractEntryToMemory(entry);
  if (data == nullptr) {
    std::fprintf(stderr, "%s\n", archive.LastProblem().c_str());
    return 1;
  }
  return std::fwrite(data->data(), 1, data->size(), stdout) == data->size() ? 0 : 1;
}

}  // namespace
}  // namespace quenvale

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-sample") == 0) {
    return quenvale::WriteSample(argv[2]);
  }
  if (argc == 5 && std::strcmp(argv[1], "--extract") == 0) {
    return quenvale::ExtractOnce(argv[2], argv[3], argv[4]);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
