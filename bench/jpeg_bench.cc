// Decoding a 3840 x 2160 JPEG background, the size a screen saver meets most; the goal is well
// under 100 ms per decode.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

// clang-format off
#include <cstddef>  // jpeglib.h needs size_t and FILE declared first
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include "imaging/decoders.h"

namespace {

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

// A photo-like picture: smooth gradients with fine texture and some hard edges, encoded at
// quality 90 through libjpeg's compressor.
std::vector<uint8_t> MakeBackground() {
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const int grain = static_cast<int>(noise >> 28) - 8;
      const double wave = std::sin(x * 0.004) * std::cos(y * 0.006);
      const bool edge = ((x / 240) + (y / 180)) % 7 == 0;
      uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
      const int r = static_cast<int>(120 + 90 * wave + x * 40.0 / kWidth) + grain;
      const int g = static_cast<int>(100 + 60 * std::sin(y * 0.01 + x * 0.002)) + grain;
      const int b = edge ? 230 : static_cast<int>(80 + y * 100.0 / kHeight) + grain;
      p[0] = static_cast<uint8_t>(r < 0 ? 0 : r > 255 ? 255 : r);
      p[1] = static_cast<uint8_t>(g < 0 ? 0 : g > 255 ? 255 : g);
      p[2] = static_cast<uint8_t>(b < 0 ? 0 : b > 255 ? 255 : b);
    }
  }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);  // default handler: exits, fine for a benchmark set-up
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &rgb[static_cast<size_t>(cinfo.next_scanline) * kWidth * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return jpeg;
}

void BM_DecodeJpeg4k(benchmark::State& state) {
  static const std::vector<uint8_t> jpeg = MakeBackground();
  for (auto _ : state) {
    quenvale::Picture picture = quenvale::DecodeJpeg(jpeg.data(), jpeg.size());
    benchmark::DoNotOptimize(picture.pixels.data());
  }
  state.counters["file_MB"] = static_cast<double>(jpeg.size()) / 1e6;
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_DecodeJpeg4k)->Unit(benchmark::kMillisecond);

}  // namespace
