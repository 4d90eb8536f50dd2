// Dr. Halo CUT files built here from the published layout out of ImageMagick seeds, checked
// against the seed's grey levels and against ImageMagick's reading of the same files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/picture_test_util.h"

namespace quenvale {
namespace {

using testutil::ReferenceDecode;
using testutil::RunCommand;
using testutil::SamePixels;
using testutil::TempDir;
using testutil::WriteFileBytes;
using testutil::WriteSeedPicture;

Picture Decode(const std::vector<uint8_t>& b) {
  testutil::KeepFuzzSeed("cut", b);
  return DecodeCut(b.data(), b.size());
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

// Rows of indices as a CUT file: repeats of three or more become run packets, the rest literal
// packets, and every line ends with a zero byte.
std::vector<uint8_t> BuildCut(int width, const std::vector<std::vector<uint8_t>>& rows) {
  std::vector<uint8_t> file;
  Put16(file, width);
  Put16(file, static_cast<uint32_t>(rows.size()));
  Put16(file, 0);
  for (const std::vector<uint8_t>& row : rows) {
    std::vector<uint8_t> line;
    size_t x = 0;
    while (x < row.size()) {
      size_t run = 1;
      while (x + run < row.size() && run < 127 && row[x + run] == row[x]) ++run;
      if (run >= 3) {
        line.push_back(static_cast<uint8_t>(0x80 | run));
        line.push_back(row[x]);
        x += run;
        continue;
      }
      const size_t lit = std::min<size_t>(run, 127);
      line.push_back(static_cast<uint8_t>(lit));
      line.insert(line.end(), row.begin() + x, row.begin() + x + lit);
      x += lit;
    }
    line.push_back(0);
    Put16(file, static_cast<uint32_t>(line.size()));
    file.insert(file.end(), line.begin(), line.end());
  }
  return file;
}

struct CutCase {
  const char* name;
  const char* seed_options;  // drawn into 8-bit grey
  int divide;                // the seed's grey levels divided by this give the indices
};

class CutBuiltTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutBuiltTest, MatchesSeedAndImageMagick) {
  QUENVALE_REQUIRE_IMAGEMAGICK();
  const CutCase& c = GetParam();
  TempDir dir;
  const int w = 300, h = 41;  // wider than one packet
  WriteSeedPicture(dir.File("seed.pgm"), w, h, std::string("-colorspace Gray ") + c.seed_options);
  std::string grey;
  ASSERT_TRUE(RunCommand("convert " + dir.File("seed.pgm") + " -depth 8 gray:-", &grey));
  ASSERT_EQ(grey.size(), static_cast<size_t>(w * h));
  std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(w));
  Picture expected;
  expected.Allocate(w, h);
  int highest = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      rows[y][x] = static_cast<uint8_t>(static_cast<uint8_t>(grey[y * w + x]) / c.divide);
      highest = std::max<int>(highest, rows[y][x]);
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t g = highest <= 1 ? rows[y][x] * 255u : rows[y][x];
      expected.At(x, y) = Rgb(g, g, g);
    }
  }
  const std::vector<uint8_t> file = BuildCut(w, rows);
  WriteFileBytes(dir.File("built.cut"), file);
  const Picture ours = Decode(file);
  EXPECT_FALSE(ours.has_alpha);
  EXPECT_TRUE(SamePixels(ours, expected));
  EXPECT_TRUE(SamePixels(ours, ReferenceDecode(dir.File("built.cut"))));

  for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 10) {
    EXPECT_THROW(DecodeCut(file.data(), cut), PictureError) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, CutBuiltTest,
                         ::testing::Values(CutCase{"FullGrey", "", 1},
                                           CutCase{"SixteenLevels", "", 16},
                                           CutCase{"BlackAndWhite", "-threshold 50%", 255}),
                         [](const ::testing::TestParamInfo<CutCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(CutTest, ShortLinesLeaveIndexZeroAndDamageIsRefused) {
  // 4x2: the first line stops after two pixels, the second holds a run of four.
  const std::vector<uint8_t> good = {4, 0, 2, 0, 0, 0, 4, 0, 2, 9, 8, 0, 3, 0, 0x84, 7, 0};
  const Picture p = Decode(good);
  ASSERT_EQ(p.width, 4);
  EXPECT_EQ(p.At(0, 0), Rgb(9, 9, 9));
  EXPECT_EQ(p.At(3, 0), Rgb(0, 0, 0));
  EXPECT_EQ(p.At(3, 1), Rgb(7, 7, 7));
  const std::vector<testutil::ByteDamage> damages = {
      {"no width", 0, {0, 0}},
      {"huge size", 0, {0xFF, 0xFF}},
      {"line longer than the file", 6, {0xFF, 0}},
      {"literal past the line", 8, {4}},
      {"literal past the row", 14, {0x05}},
      {"run past the row", 14, {0x85}},
      {"run value missing", 12, {1, 0}},
  };
  testutil::ExpectDamageRefused(good, damages, DecodeCut);
}

}  // namespace
}  // namespace quenvale
