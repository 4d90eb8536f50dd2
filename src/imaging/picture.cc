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

void Picture::AllocateUnfilled(uint32_t w, uint32_t h) {
  CheckPictureSize(w, h);
  width = static_cast<int32_t>(w);
  height = static_cast<int32_t>(h);
  pixels.clear();
  pixels.resize(static_cast<size_t>(w) * h);
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

uint16_t ByteReader::U16LE() { return Le16(Take(2)); }

uint16_t ByteReader::U16BE() { return Be16(Take(2)); }

uint32_t ByteReader::U32LE() { return Le32(Take(4)); }

uint32_t ByteReader::U32BE() { return Be32(Take(4)); }

}  // namespace quenvale
