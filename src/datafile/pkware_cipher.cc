#include "datafile/pkware_cipher.h"

#include "datafile/crc32.h"

namespace quenvale {
namespace {

// The loops below keep the keys in locals so the compiler can hold them in registers.
inline void Update(uint32_t& key0, uint32_t& key1, uint32_t& key2, uint8_t plain) {
  key0 = Crc32Byte(key0, plain);
  key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
  key2 = Crc32Byte(key2, static_cast<uint8_t>(key1 >> 24));
}

inline uint8_t KeyStream(uint32_t key2) {
  const uint32_t temp = (key2 & 0xFFFF) | 2;
  return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

}  // namespace

PkwareCipher::PkwareCipher(const std::string& password)
    : key0_(0x12345678u), key1_(0x23456789u), key2_(0x34567890u) {
  for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void PkwareCipher::UpdateKeys(uint8_t plain) { Update(key0_, key1_, key2_, plain); }

uint8_t PkwareCipher::StreamByte() const { return KeyStream(key2_); }

void PkwareCipher::Decrypt(uint8_t* data, size_t n) {
  uint32_t key0 = key0_, key1 = key1_, key2 = key2_;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t plain = data[i] ^ KeyStream(key2);
    data[i] = plain;
    Update(key0, key1, key2, plain);
  }
  key0_ = key0;
  key1_ = key1;
  key2_ = key2;
}

void PkwareCipher::Encrypt(uint8_t* data, size_t n) {
  uint32_t key0 = key0_, key1 = key1_, key2 = key2_;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t plain = data[i];
    data[i] = plain ^ KeyStream(key2);
    Update(key0, key1, key2, plain);
  }
  key0_ = key0;
  key1_ = key1;
  key2_ = key2;
}

}  // namespace quenvale
