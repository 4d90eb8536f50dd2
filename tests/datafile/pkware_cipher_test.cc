#include "datafile/pkware_cipher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace quenvale {
namespace {

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

class PkwareCipherRoundTripTest : public ::testing::TestWithParam<std::tuple<std::string, size_t>> {
};

TEST_P(PkwareCipherRoundTripTest, DecryptUndoesEncryptInAnyPieces) {
  const auto& [password, size] = GetParam();
  const std::vector<uint8_t> plain = Noise(size, static_cast<uint32_t>(size) + 1);

  std::vector<uint8_t> whole = plain;
  PkwareCipher(password).Encrypt(whole.data(), whole.size());
  if (size >= 4) {
    EXPECT_NE(whole, plain);
  }

  // The key state must carry across calls, as extraction decrypts chunk by chunk.
  std::vector<uint8_t> pieces = plain;
  PkwareCipher encrypt(password);
  std::mt19937 rng(3);
  for (size_t pos = 0; pos < pieces.size();) {
    const size_t n = std::min<size_t>(pieces.size() - pos, rng() % 40);
    encrypt.Encrypt(pieces.data() + pos, n);
    pos += n;
  }
  EXPECT_EQ(pieces, whole);

  PkwareCipher decrypt(password);
  decrypt.Decrypt(whole.data(), size / 3);
  decrypt.Decrypt(whole.data() + size / 3, size - size / 3);
  EXPECT_EQ(whole, plain);
}

INSTANTIATE_TEST_SUITE_P(PasswordsAndSizes, PkwareCipherRoundTripTest,
                         ::testing::Combine(::testing::Values("", "secret", std::string(80, 'x'),
                                                              std::string("\xE4\x00\xFF", 3)),
                                            ::testing::Values(0, 1, 12, 1000)));

TEST(PkwareCipherTest, DifferentPasswordsGiveDifferentStreams) {
  std::vector<uint8_t> a(64, 0), b(64, 0);
  PkwareCipher("secret").Encrypt(a.data(), a.size());
  PkwareCipher("Secret").Encrypt(b.data(), b.size());
  EXPECT_NE(a, b);
}

uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

// Known answer from the reference peer: Info-ZIP's encrypted, stored entry must decrypt to its
// check byte and the original bytes, and encrypting those again must reproduce its ciphertext.
TEST(PkwareCipherTest, MatchesInfoZip) {
  if (std::system("command -v zip >/dev/null 2>&1") != 0) GTEST_SKIP() << "zip not installed";
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quenvale-cipher-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::vector<uint8_t> content = Noise(3000, 11);
  {
    std::ofstream(dir / "plain.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), content.size());
  }
  const std::string command = "cd '" + dir.string() + "' && zip -q -0 -e -P secret a.zip plain.bin";
  const int rc = std::system(command.c_str());
  std::ifstream in(dir / "a.zip", std::ios::binary);
  const std::vector<uint8_t> zip((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove_all(dir);
  ASSERT_EQ(rc, 0);
  ASSERT_GE(zip.size(), 30u);
  ASSERT_EQ(Le32(zip, 0), 0x04034b50u);

  const uint16_t flag = zip[6] | zip[7] << 8;
  ASSERT_EQ(flag & 1, 1) << "entry is not encrypted";
  const size_t data = 30 + (zip[26] | zip[27] << 8) + (zip[28] | zip[29] << 8);
  ASSERT_GE(zip.size(), data + PkwareCipher::kHeaderSize + content.size());
  const std::vector<uint8_t> cipher_text(zip.begin() + data,
                                         zip.begin() + data + 12 + content.size());
  std::vector<uint8_t> plain = cipher_text;
  PkwareCipher(std::string("secret")).Decrypt(plain.data(), plain.size());
  const uint8_t check = (flag & 8) ? zip[11] : static_cast<uint8_t>(Le32(zip, 14) >> 24);
  EXPECT_EQ(plain[11], check);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), plain.begin() + 12));

  PkwareCipher(std::string("secret")).Encrypt(plain.data(), plain.size());
  EXPECT_EQ(plain, cipher_text);
}

}  // namespace
}  // namespace quenvale
