#include "imaging/picture_test_util.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quenvale {
namespace testutil {

void KeepFuzzSeed(const char* family, const std::vector<uint8_t>& bytes) {
  static const char* const dir = std::getenv("QUENVALE_FUZZ_SEEDS");
  // Seeds past a megabyte slow every fuzzing run down more than they add.
  if (dir == nullptr || *dir == '\0' || bytes.empty() || bytes.size() > (1u << 20)) return;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  char name[17];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
  const std::filesystem::path folder = std::filesystem::path(dir) / family;
  std::filesystem::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteSeedPicture(const std::string& path, int width, int height, const std::string& options) {
  std::ostringstream cmd;
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  // Two gradients blended, then shapes in pure colours, so that edges, smooth areas and exact
  // palette colours all occur.
  cmd << "convert -size " << size << " gradient:'#ff0000-#0000ff' \\( -size " << size
      << " gradient:'#00ff00-#000000' -rotate 90 -resize " << size << "! \\) -compose blend"
      << " -define compose:args=50 -composite -fill '#ffff00' -draw 'rectangle 0,0 "
      << width / 4 << "," << height / 4 << "' -fill white -draw 'circle " << width / 2 << ","
      << height / 2 << " " << width / 2 + width / 6 << "," << height / 2 << "' " << options << " "
      << ShellQuote(path);
  if (!RunCommand(cmd.str())) ADD_FAILURE() << "ImageMagick failed: " << cmd.str();
}

Picture ReferenceDecode(const std::string& path) {
  std::string size_text;
  Picture picture;
  if (!RunCommand("identify -format '%w %h\\n' " + ShellQuote(path) + "[0]", &size_text)) {
    ADD_FAILURE() << "identify failed on " << path;
    return picture;
  }
  unsigned w = 0, h = 0;
  if (std::sscanf(size_text.c_str(), "%u %u", &w, &h) != 2) {
    ADD_FAILURE() << "identify said " << size_text;
    return picture;
  }
  std::string rgba;
  if (!RunCommand("convert " + ShellQuote(path) + "[0] -depth 8 rgba:-", &rgba) ||
      rgba.size() != static_cast<size_t>(w) * h * 4) {
    ADD_FAILURE() << "convert gave " << rgba.size() << " bytes for " << w << "x" << h;
    return picture;
  }
  picture.Allocate(w, h);
  for (size_t i = 0; i < picture.pixels.size(); ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(&rgba[i * 4]);
    picture.pixels[i] = Argb(p[3], p[0], p[1], p[2]);
  }
  return picture;
}

::testing::AssertionResult SamePixels(const Picture& ours, const Picture& reference, int tolerance,
                                      bool compare_alpha) {
  if (ours.width != reference.width || ours.height != reference.height) {
    return ::testing::AssertionFailure() << "size " << ours.width << "x" << ours.height
                                         << ", reference " << reference.width << "x"
                                         << reference.height;
  }
  int reported = 0;
  size_t differing = 0;
  std::ostringstream details;
  for (int32_t y = 0; y < ours.height; ++y) {
    for (int32_t x = 0; x < ours.width; ++x) {
      const uint32_t a = ours.At(x, y);
      const uint32_t b = reference.At(x, y);
      bool same = true;
      for (int shift = 0; shift < (compare_alpha ? 32 : 24); shift += 8) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) >
            tolerance) {
          same = false;
        }
      }
      if (!same) {
        ++differing;
        if (reported++ < 5) {
          char line[96];
          std::snprintf(line, sizeof line, " (%d,%d) ours %08x reference %08x", x, y, a, b);
          details << line;
        }
      }
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << differing << " pixels differ:" << details.str();
}

void ExpectDamageRefused(const std::vector<uint8_t>& good, const std::vector<ByteDamage>& damages,
                         Picture (*decode)(const uint8_t* data, size_t size)) {
  for (const ByteDamage& d : damages) {
    ASSERT_LE(d.at + d.bytes.size(), good.size()) << d.what;
    std::vector<uint8_t> file = good;
    std::copy(d.bytes.begin(), d.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(d.at));
    EXPECT_THROW(decode(file.data(), file.size()), PictureError) << d.what;
  }
}

}  // namespace testutil
}  // namespace quenvale
