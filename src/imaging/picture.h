// The decoded picture every format turns into, the reader decoders parse through, and the size
// limits that hold for every decoder.
#ifndef QUENVALE_IMAGING_PICTURE_H_
#define QUENVALE_IMAGING_PICTURE_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/uninitialized_allocator.h"

namespace quenvale {

// A damaged or unsupported picture; the message is a short reason ("truncated PNG data").
class PictureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// No picture may be larger than this in either direction, or take more memory decoded.
constexpr uint32_t kMaxPictureDimension = 16384;
constexpr uint64_t kMaxPictureBytes = 512ull * 1024 * 1024;

// Throws PictureError unless a width x height picture of `bytes_per_pixel` fits the limits.
// Checked in 64-bit arithmetic, before anything is allocated.
void CheckPictureSize(uint64_t width, uint64_t height, uint64_t bytes_per_pixel = 4);

// A picture's pixels, which Picture::Allocate fills and AllocateUnfilled leaves for a decoder to
// write; they compare equal to a plain vector of the same values.
using PixelBuffer = std::vector<uint32_t, UninitializedAllocator<uint32_t>>;

// 32-bit pixels 0xAARRGGBB, rows top to bottom, no padding. Formats without alpha give 0xFF.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  bool has_alpha = false;  // the format carried an alpha channel or transparency
  PixelBuffer pixels;

  // Sizes the picture (limits checked first) and fills it with opaque black.
  void Allocate(uint32_t w, uint32_t h);
  // The same without the fill, for a decoder that writes every pixel before it returns.
  void AllocateUnfilled(uint32_t w, uint32_t h);
  uint32_t& At(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * width + x]; }
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

inline uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
inline uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return Argb(0xFF, r, g, b); }

// Multi-byte fields at `p`, low byte first (Le) or high byte first (Be).
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

// Reads a byte buffer front to back, or at given offsets, and never past its end: every read
// beyond the end throws PictureError("truncated <format> data").
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size, const char* format)
      : data_(data), size_(size), format_(format) {}

  size_t Size() const { return size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  void Seek(size_t position);  // may seek to the very end, not beyond
  void Skip(size_t n);

  uint8_t U8();
  uint16_t U16LE();
  uint16_t U16BE();
  uint32_t U32LE();
  uint32_t U32BE();
  // A pointer to the next n bytes, which the reader then steps over.
  const uint8_t* Take(size_t n);
  const uint8_t* Data() const { return data_; }

  [[noreturn]] void Fail(const std::string& reason) const;  // "<format>: reason"
  [[noreturn]] void Truncated() const;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  const char* format_;
};

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_PICTURE_H_
