#include "datafile/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quenvale {
namespace {

const uint8_t* Data(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct CheckValue {
  std::string text;
  uint32_t crc;
};

class Crc32CheckValueTest : public ::testing::TestWithParam<CheckValue> {};

// Published check values of the ZIP CRC-32.
TEST_P(Crc32CheckValueTest, MatchesPublishedValue) {
  const CheckValue& c = GetParam();
  EXPECT_EQ(Crc32(Data(c.text), c.text.size()), c.crc);
}

INSTANTIATE_TEST_SUITE_P(
    Published, Crc32CheckValueTest,
    ::testing::Values(CheckValue{"", 0x00000000u}, CheckValue{"a", 0xE8B7BE43u},
                      CheckValue{"123456789", 0xCBF43926u},
                      CheckValue{"The quick brown fox jumps over the lazy dog", 0x414FA339u}));

TEST(Crc32Test, ContinuingAtAnySplitGivesTheWholeValue) {
  const std::string text = "Quenvale reads its pictures from an encrypted archive.";
  const uint32_t whole = Crc32(Data(text), text.size());
  for (size_t split = 0; split <= text.size(); ++split) {
    const uint32_t first = Crc32(Data(text), split);
    EXPECT_EQ(Crc32(Data(text) + split, text.size() - split, first), whole) << split;
  }
}

// The cipher's byte step and the bulk routine are separate code paths; both must be one CRC.
TEST(Crc32Test, ByteStepAgreesWithBulkRoutine) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(4096);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  uint32_t reg = 0xFFFFFFFFu;
  for (uint8_t b : data) reg = Crc32Byte(reg, b);
  EXPECT_EQ(~reg, Crc32(data.data(), data.size()));
}

}  // namespace
}  // namespace quenvale
