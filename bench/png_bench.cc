// PNG decoding throughput against libpng's simplified reader on the same bytes. The files are
// written by libpng at start-up from a photo-like synthetic picture.
#include <benchmark/benchmark.h>
#include <png.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "imaging/decoders.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Smooth shading, texture and fine noise, so the filters and deflate face something like a
// photograph rather than flat colour.
std::vector<uint8_t> PhotoLikePixels(int channels) {
  std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * channels);
  uint32_t state = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>(state >> 29) - 4;
      const double shade = 0.5 + 0.5 * std::sin(x * 0.007 + std::cos(y * 0.011) * 3.0);
      const double texture = 0.5 + 0.5 * std::sin((x + y) * 0.09) * std::cos(y * 0.05);
      uint8_t* p = &pixels[(static_cast<size_t>(y) * kWidth + x) * channels];
      const int values[4] = {static_cast<int>(shade * 200 + texture * 40) + noise,
                             static_cast<int>(y * 200 / kHeight + texture * 50) + noise,
                             static_cast<int>((1 - shade) * 180 + 30) + noise,
                             static_cast<int>(255 - texture * 120)};
      for (int c = 0; c < channels; ++c) {
        p[c] = static_cast<uint8_t>(values[c] < 0 ? 0 : values[c] > 255 ? 255 : values[c]);
      }
    }
  }
  return pixels;
}

std::vector<uint8_t> EncodeWithLibpng(int channels) {
  const std::vector<uint8_t> pixels = PhotoLikePixels(channels);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kWidth;
  image.height = kHeight;
  image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error("libpng cannot size the file");
  }
  std::vector<uint8_t> png(size);
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels.data(), 0, nullptr)) {
    throw std::runtime_error("libpng cannot write the file");
  }
  png.resize(size);
  return png;
}

const std::vector<uint8_t>& Sample(int channels) {
  static const std::vector<uint8_t> rgb = EncodeWithLibpng(3);
  static const std::vector<uint8_t> rgba = EncodeWithLibpng(4);
  return channels == 4 ? rgba : rgb;
}

void SetCounters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kWidth) * kHeight);
  state.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                         benchmark::Counter::kIsRate);
}

void BM_PngQuenvale(benchmark::State& state) {
  const std::vector<uint8_t>& png = Sample(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    quenvale::Picture picture = quenvale::DecodePng(png.data(), png.size());
    benchmark::DoNotOptimize(picture.pixels.data());
  }
  SetCounters(state);
}

bool DecodeWithLibpng(const std::vector<uint8_t>& png, std::vector<uint8_t>* rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  rgba->resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, rgba->data(), 0, nullptr) != 0;
}

void BM_PngLibpng(benchmark::State& state) {
  const std::vector<uint8_t>& png = Sample(static_cast<int>(state.range(0)));
  std::vector<uint8_t> rgba;
  for (auto _ : state) {
    if (!DecodeWithLibpng(png, &rgba)) {
      state.SkipWithError("libpng failed to decode");
      break;
    }
    benchmark::DoNotOptimize(rgba.data());
  }
  SetCounters(state);
}

// Both decoders in turn on the same file; the "speed_vs_libpng" counter is libpng's time over
// ours (above 1: faster than libpng).
void BM_PngRatio(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const std::vector<uint8_t>& png = Sample(static_cast<int>(state.range(0)));
  std::vector<uint8_t> rgba;
  Clock::duration ours{}, theirs{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    quenvale::Picture picture = quenvale::DecodePng(png.data(), png.size());
    benchmark::DoNotOptimize(picture.pixels.data());
    const auto t1 = Clock::now();
    if (!DecodeWithLibpng(png, &rgba)) {
      state.SkipWithError("libpng failed to decode");
      break;
    }
    benchmark::DoNotOptimize(rgba.data());
    const auto t2 = Clock::now();
    ours += t1 - t0;
    theirs += t2 - t1;
  }
  if (ours.count() > 0) {
    state.counters["speed_vs_libpng"] =
        static_cast<double>(theirs.count()) / static_cast<double>(ours.count());
  }
}

// Argument: channels in the file (3 RGB, 4 RGBA). Compare Mpixel/s of the two rows per size.
BENCHMARK(BM_PngQuenvale)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpng)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngRatio)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

}  // namespace
