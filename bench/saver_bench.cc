// The saver's per-frame costs: one motion step with many sprites (grid-found pairs against the
// plain pairwise loop), one whole frame on the software surface (of a bench saver, and of the
// demo saver made heavy), and a colour-keyed sprite copy against memcpy of the same rows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <regex>

#include "datafile/zip_writer.h"
#include "display/software_surface.h"
#include "imaging/png_writer.h"
#include "saver/saver.h"
#include "saver/session.h"
#include "settings/memory_value_store.h"

namespace quenvale {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;

std::vector<Sprite> RandomSprites(int count, int size) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> x(0, static_cast<float>(kWidth - size));
  std::uniform_real_distribution<float> y(0, static_cast<float>(kHeight - size));
  std::uniform_real_distribution<float> v(-0.5f, 0.5f);
  std::vector<Sprite> sprites(count);
  for (Sprite& s : sprites) s = Sprite{Vector(x(rng), y(rng)), Vector(v(rng), v(rng))};
  return sprites;
}

// Arguments: sprite count, sprite size, 1 for the grid or 0 for the plain loop.
void BM_MotionStep(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const int size = static_cast<int>(state.range(1));
  const bool grid = state.range(2) != 0;
  std::vector<Sprite> sprites = RandomSprites(count, size);
  const MotionBounds bounds{kWidth, kHeight, size, size};
  for (auto _ : state) {
    if (grid) {
      MotionStep(sprites, count, bounds, true);  // what a frame runs
    } else {
      MoveSprites(sprites, count, bounds);
      for (const auto& [i, j] : TouchingPairsPlain(sprites, count, size)) {
        Collide(sprites[i], sprites[j]);
      }
    }
    benchmark::DoNotOptimize(sprites.data());
  }
  state.counters["touching_pairs"] =
      static_cast<double>(TouchingPairsPlain(sprites, count, size).size());
}
BENCHMARK(BM_MotionStep)
    ->Args({1000, 16, 1})
    ->Args({1000, 16, 0})
    ->Args({10000, 16, 1})
    ->Args({10000, 16, 0})
    ->Args({10000, 64, 1})
    ->Args({10000, 64, 0})
    ->Args({1000, 128, 1})
    ->Unit(benchmark::kMillisecond);

class BenchHost : public DataFileHost {
 public:
  std::string ExecutablePath() const override { return "C:\\Bench Saver.scr"; }
  [[noreturn]] void Fatal(const std::string& message, int) override {
    throw std::runtime_error(message);
  }
  void ArchiveMessage(const std::string&) override {}
  // The set a saver starts with is the first, or `set` for the heavy demo saver.
  int32_t Random(int32_t range) override { return range > 0 ? set % range : 0; }
  int32_t set = 0;
  void OpenArchive(ZipArchive& zip, const std::string& path) override {
    zip.OpenMemory(archive, path);
  }
  std::vector<uint8_t> archive;
};

// A bench saver that cannot start is a broken benchmark.
class AbortingSessionHost : public SessionHost {
 public:
  [[noreturn]] void ReportFailure(const std::string& message) override {
    throw std::runtime_error(message);
  }
};

// A gradient; with `disc`, only a disc of it on the colour key (the top-left pixel), as an icon
// of a round thing is; otherwise all of it but that pixel.
std::vector<uint8_t> GradientPng(int width, int height, bool disc = false) {
  Picture picture;
  picture.Allocate(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int dx = 2 * x - width + 1, dy = 2 * y - height + 1;
      picture.At(x, y) = disc && dx * dx + dy * dy >= width * width
                             ? Rgb(255, 0, 255)
                             : Rgb(x & 0xFF, y & 0xFF, (x + y) & 0x7F);
    }
  }
  picture.At(0, 0) = Rgb(255, 0, 255);
  return EncodePng(picture);
}

// The bench saver's data file: `sprites` sprites of an icon `icon` pixels wide (a disc on the
// key, or all but a corner) over a 1600 x 1200 background at `speed`, the running-time clock and
// the set name.
void MakeBenchArchive(BenchHost& host, int sprites, int icon, int speed = 2, bool disc = false) {
  const std::string text =
      "[general]\r\ntitle=Bench\r\nBackgroundColor=$402010\r\nshowBackground=true\r\n"
      "[bounce]\r\nnrImages=" +
      std::to_string(sprites) + "\r\nSpeed=" + std::to_string(speed) +
      "\r\nbounceImages=true\r\n[sets]\r\nSetTime=0\r\n"
      "[clocksettings]\r\nclock=2\r\n[FilenameSettings]\r\nfilename=0\r\n";
  std::vector<ZipWriterEntry> entries = {
      {"settings.txt", std::vector<uint8_t>(text.begin(), text.end()), 0},
      {"backgrounds/bench.png", GradientPng(1600, 1200), 0},
      {"icons/bench.png", GradientPng(icon, icon, disc), 0}};
  uint8_t counter = 0;
  host.archive = WriteEncryptedZip(entries, ArchivePasswordFor(host.ExecutablePath()),
                                   [&counter]() { return counter++; });
}

// The demo saver's own folder as a data file, made heavy: 1000 pictures at Speed 10.
void MakeHeavyDemoArchive(BenchHost& host) {
  std::vector<ZipWriterEntry> entries;
  const std::filesystem::path folder = QUENVALE_DEMO_DIR;
  for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
    if (!file.is_regular_file()) continue;
    std::ifstream in(file.path(), std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string name = file.path().lexically_relative(folder).generic_string();
    if (name == "settings.txt") {
      bytes = std::regex_replace(bytes, std::regex("nrImages=[0-9]+"), "nrImages=1000");
      bytes = std::regex_replace(bytes, std::regex("Speed=[0-9]+"), "Speed=10");
    }
    entries.push_back({name, std::vector<uint8_t>(bytes.begin(), bytes.end()), 0});
  }
  uint8_t counter = 0;
  host.archive = WriteEncryptedZip(entries, ArchivePasswordFor(host.ExecutablePath()),
                                   [&counter]() { return counter++; });
}

// The bench saver started on a width x height client area: `sprites` sprites `icon` pixels wide.
struct BenchSaver {
  BenchSaver(int width, int height, int sprites, int icon, int speed = 2, bool disc = false) {
    MakeBenchArchive(host, sprites, icon, speed, disc);
    Start(width, height);
  }
  // The heavy demo saver, starting with set `set`.
  BenchSaver(int width, int height, int set) {
    host.set = set;
    MakeHeavyDemoArchive(host);
    Start(width, height);
  }
  void Start(int width, int height) {
    data = std::make_unique<ZipFileSettings>(host, SaverMode::smSave);
    session = std::make_unique<SaverSession>(*data, store, SaverMode::smSave, random, session_host);
    session->Open();
    session->Start(width, height);
  }
  ~BenchSaver() { session->Close(); }

  BenchHost host;
  MemoryValueStore store;
  DefaultRandom random{1};
  AbortingSessionHost session_host;
  std::unique_ptr<ZipFileSettings> data;
  std::unique_ptr<SaverSession> session;
};

// Arguments: sprite count and size. Placing every sprite at start (FormCreate), 1920 x 1080.
void BM_PlaceSprites(benchmark::State& state) {
  BenchSaver bench(kWidth, kHeight, static_cast<int>(state.range(0)),
                   static_cast<int>(state.range(1)));
  for (auto _ : state) bench.session->saver().FormCreate(kWidth, kHeight);
}
BENCHMARK(BM_PlaceSprites)->Args({1000, 16})->Args({1000, 128})->Unit(benchmark::kMillisecond);

// Arguments: surface width and height, sprite count (of 128 x 128 pixels), Speed, and 1 for
// discs on the colour key (0: squares). The heavy saver: 1000 discs at Speed 10.
void BM_Frame(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  BenchSaver bench(width, height, static_cast<int>(state.range(2)), 128,
                   static_cast<int>(state.range(3)), state.range(4) != 0);
  SaverSession& session = *bench.session;
  SoftwareDevice device(width, height);
  session.Bind(device);
  for (auto _ : state) {
    session.DrawFrame();
    benchmark::DoNotOptimize(device.Screen().pixels.data());
  }
}
BENCHMARK(BM_Frame)
    ->Args({1920, 1080, 100, 2, 0})
    ->Args({3840, 2160, 100, 2, 0})
    ->Args({1920, 1080, 1000, 2, 0})
    ->Args({1920, 1080, 1000, 10, 1})
    ->Args({1920, 1080, 1000, -1, 1})  // its drawing alone: a negative Speed stands still
    ->Unit(benchmark::kMillisecond);

// Argument: a set. The demo saver with 1000 pictures at Speed 10 showing that set at 1920 x
// 1080, its frames after the first 600 (ten seconds), once the pictures have spread as a running
// saver's have.
void BM_HeavyDemoFrame(benchmark::State& state) {
  BenchSaver bench(kWidth, kHeight, static_cast<int>(state.range(0)));
  SaverSession& session = *bench.session;
  SoftwareDevice device(kWidth, kHeight);
  session.Bind(device);
  for (int frame = 0; frame < 600; ++frame) session.DrawFrame();
  for (auto _ : state) {
    session.DrawFrame();
    benchmark::DoNotOptimize(device.Screen().pixels.data());
  }
  state.SetLabel(bench.data->Sets()[bench.data->CurrentSetIndex()].Name);
}
BENCHMARK(BM_HeavyDemoFrame)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// A 128 x 128 sprite, a disc on the colour key, copied with the key (argument 1) or as the
// same rows by memcpy (argument 0), at places across a 1920 x 1080 surface: bytes per second
// of the sprite's rows.
void BM_SpriteCopy(benchmark::State& state) {
  constexpr int kSize = 128;
  constexpr uint32_t kKey = 0x00FF00FF;
  SoftwareSurface sprite(kSize, kSize);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const int dx = 2 * x - kSize + 1, dy = 2 * y - kSize + 1;
      sprite.SetPixel(x, y, dx * dx + dy * dy < kSize * kSize ? 0x00102030u + x * 7 + y : kKey);
    }
  }
  sprite.SetColorKey(kKey);
  SoftwareSurface screen(kWidth, kHeight);
  const bool keyed = state.range(0) != 0;
  int place = 0;
  for (auto _ : state) {
    place = (place + 7919) % ((kWidth - kSize) * (kHeight - kSize));
    const int x = place % (kWidth - kSize), y = place / (kWidth - kSize);
    if (keyed) {
      screen.CopyFrom(sprite, Rect{0, 0, kSize, kSize}, x, y, true);
    } else {
      for (int row = 0; row < kSize; ++row) {
        std::memcpy(screen.MutablePixels() + static_cast<size_t>(y + row) * kWidth + x,
                    sprite.Pixels() + static_cast<size_t>(row) * kSize, kSize * sizeof(uint32_t));
      }
    }
    benchmark::DoNotOptimize(screen.MutablePixels());
  }
  state.SetBytesProcessed(state.iterations() * kSize * kSize * sizeof(uint32_t));
}
BENCHMARK(BM_SpriteCopy)->Arg(1)->Arg(0);

}  // namespace
}  // namespace quenvale

BENCHMARK_MAIN();
