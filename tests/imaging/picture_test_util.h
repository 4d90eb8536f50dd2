// Helpers for decoder tests: ImageMagick as the reference decoder and writer of sample files.
#ifndef QUENVALE_TESTS_IMAGING_PICTURE_TEST_UTIL_H_
#define QUENVALE_TESTS_IMAGING_PICTURE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datafile/zip_test_util.h"
#include "imaging/picture.h"

namespace quenvale {
namespace testutil {

// Skips the current test unless ImageMagick's convert is installed.
#define QUENVALE_REQUIRE_IMAGEMAGICK()                                        \
  do {                                                                        \
    if (!::quenvale::testutil::HaveCommand("convert")) GTEST_SKIP() << "no ImageMagick"; \
  } while (0)

// A colourful seed picture with gradients, hard edges and a few pure colours, drawn by
// ImageMagick into `path` (any format ImageMagick writes, chosen by the extension or a
// "FORMAT:" prefix, with extra `options` such as "-type Palette" or "-compress RLE").
void WriteSeedPicture(const std::string& path, int width, int height,
                      const std::string& options = "");

// What ImageMagick decodes from `path`: 8-bit RGBA, as a Picture (alpha 0xFF where opaque).
Picture ReferenceDecode(const std::string& path);

// Equal size and every pixel within `tolerance` per channel; reports the first differences.
::testing::AssertionResult SamePixels(const Picture& ours, const Picture& reference,
                                      int tolerance = 0, bool compare_alpha = true);

// Bytes written over a good file at an offset; the decoder must then refuse the file.
struct ByteDamage {
  const char* what;
  size_t at;
  std::vector<uint8_t> bytes;
};

// Applies each damage to its own copy of `good` and expects `decode` to throw PictureError.
void ExpectDamageRefused(const std::vector<uint8_t>& good, const std::vector<ByteDamage>& damages,
                         Picture (*decode)(const uint8_t* data, size_t size));

// With QUENVALE_FUZZ_SEEDS set, keeps a copy of every file a decoder test decodes in
// $QUENVALE_FUZZ_SEEDS/<family>/, named by its content, as seed material for that family's fuzz
// target (scripts/fuzz-seeds). Does nothing otherwise.
void KeepFuzzSeed(const char* family, const std::vector<uint8_t>& bytes);

}  // namespace testutil
}  // namespace quenvale

#endif  // QUENVALE_TESTS_IMAGING_PICTURE_TEST_UTIL_H_
