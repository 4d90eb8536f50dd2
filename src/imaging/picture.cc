#include "imaging/picture.h"

namespace quenvale {

void CheckPictureSize(uint64_t width, uint64_t height, uint64_t bytes_per_pixel) {
  if (width == 0 || height == 0) throw PictureError("picture has no pixels");
  if (width > kMaxPictureDimension || height > kMaxPictureDimension) {
    throw PictureError("picture larger than 16384 x 16384 pixels");
  }
  if (width * height * bytes_per_pixel > kMaxPictureBytes) {
    throw PictureError("picture larger than 512 MiB decoded");
  }
}

void Picture::Allocate(uint32_t w, uint32_t h) {
  CheckPictureSize(w, h);
  width = static_cast<int32_t>(w);
  height = static_cast<int32_t>(h);
  pixels.assign(static_cast<size_t>(w) * h, 0xFF000000u);
}

void ByteReader::Fail(const std::string& reason) const {
  throw PictureError(std::string(format_) + ": " + reason);
}

void ByteReader::Truncated() const { Fail("truncated data"); }

void ByteReader::Seek(size_t position) {
  if (position > size_) Truncated();
  pos_ = position;
}

void ByteReader::Skip(size_t n) {
  if (n > Remaining()) Truncated();
  pos_ += n;
}

const uint8_t* ByteReader::Take(size_t n) {
  if (n > Remaining()) Truncated();
  const uint8_t* p = data_ + pos_;
  pos_ += n;
  return p;
}

uint8_t ByteReader::U8() { return *Take(1); }

uint16_t ByteReader::U16LE() {
  const uint8_t* p = Take(2);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint16_t ByteReader::U16BE() {
  const uint8_t* p = Take(2);
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t ByteReader::U32LE() {
  const uint8_t* p = Take(4);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint32_t ByteReader::U32BE() {
  const uint8_t* p = Take(4);
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

}  // namespace quenvale
