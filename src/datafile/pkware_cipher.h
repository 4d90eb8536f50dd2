// The traditional PKWARE stream cipher of the ZIP format (three 32-bit keys).
#ifndef QUENVALE_DATAFILE_PKWARE_CIPHER_H_
#define QUENVALE_DATAFILE_PKWARE_CIPHER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quenvale {

class PkwareCipher {
 public:
  static constexpr size_t kHeaderSize = 12;

  explicit PkwareCipher(const std::string& password);
  void Decrypt(uint8_t* data, size_t n);
  void Encrypt(uint8_t* data, size_t n);

 private:
  void UpdateKeys(uint8_t plain);
  uint8_t StreamByte() const;
  uint32_t key0_, key1_, key2_;
};

}  // namespace quenvale

#endif  // QUENVALE_DATAFILE_PKWARE_CIPHER_H_
