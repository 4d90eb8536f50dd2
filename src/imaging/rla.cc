// Wavefront RLA: a 740-byte big-endian header, a table of one file offset per scanline (bottom
// row first), and per scanline every channel run-length encoded behind its own 16-bit length.
#include <cstring>
#include <vector>

#include "common/strings.h"
#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

constexpr size_t kHeaderSize = 740;
constexpr size_t kChanBitsOffset = 658;  // after the text fields of the header

// One channel of one scanline: count bytes 0..127 repeat the next byte count + 1 times, negative
// counts copy -count literal bytes. The output must be filled exactly.
bool ExpandChannel(const uint8_t* src, size_t length, uint8_t* out, size_t width) {
  size_t in = 0;
  size_t produced = 0;
  while (produced < width) {
    if (in >= length) return false;
    const int8_t count = static_cast<int8_t>(src[in++]);
    if (count >= 0) {
      const size_t n = static_cast<size_t>(count) + 1;
      if (in >= length || n > width - produced) return false;
      const uint8_t value = src[in++];
      for (size_t i = 0; i < n; ++i) out[produced++] = value;
    } else {
      const size_t n = static_cast<size_t>(-static_cast<int>(count));
      if (n > length - in || n > width - produced) return false;
      for (size_t i = 0; i < n; ++i) out[produced++] = src[in++];
    }
  }
  return true;
}

}  // namespace

Picture DecodeRla(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "RLA");
  if (size < kHeaderSize) reader.Truncated();
  reader.Seek(8);  // the full window; the active window holds the pixels
  const int32_t left = static_cast<int16_t>(reader.U16BE());
  const int32_t right = static_cast<int16_t>(reader.U16BE());
  const int32_t bottom = static_cast<int16_t>(reader.U16BE());
  const int32_t top = static_cast<int16_t>(reader.U16BE());
  reader.Skip(2 + 2);  // frame, storage type
  const int32_t num_chan = static_cast<int16_t>(reader.U16BE());
  const int32_t num_matte = static_cast<int16_t>(reader.U16BE());
  const int32_t num_aux = static_cast<int16_t>(reader.U16BE());
  reader.Seek(kChanBitsOffset);
  const uint16_t chan_bits = reader.U16BE();
  const uint16_t matte_type = reader.U16BE();
  const uint16_t matte_bits = reader.U16BE();
  (void)matte_type;

  if (right < left || top < bottom) reader.Fail("empty active window");
  const uint32_t width = static_cast<uint32_t>(right - left + 1);
  const uint32_t height = static_cast<uint32_t>(top - bottom + 1);
  if (num_chan != 1 && num_chan != 3) reader.Fail("unsupported channel count");
  if (num_matte < 0 || num_matte > 1 || num_aux < 0 || num_aux > 32) {
    reader.Fail("unsupported matte or auxiliary channels");
  }
  // Files that leave the depth at zero predate the field and hold bytes.
  if ((chan_bits != 0 && chan_bits != 8) || (num_matte > 0 && matte_bits != 0 && matte_bits != 8)) {
    reader.Fail("only 8-bit channels are supported");
  }
  CheckPictureSize(width, height);
  if (static_cast<uint64_t>(height) * 4 > size - kHeaderSize) reader.Truncated();

  Picture picture;
  picture.Allocate(width, height);
  picture.has_alpha = num_matte > 0;
  const int channels = num_chan + num_matte;
  std::vector<uint8_t> planes(static_cast<size_t>(width) * channels);
  for (uint32_t row = 0; row < height; ++row) {
    reader.Seek(kHeaderSize + static_cast<size_t>(row) * 4);
    reader.Seek(reader.U32BE());
    for (int c = 0; c < channels; ++c) {
      const uint16_t length = reader.U16BE();
      const uint8_t* src = reader.Take(length);
      if (!ExpandChannel(src, length, &planes[static_cast<size_t>(c) * width], width)) {
        reader.Fail("bad run-length scanline");
      }
    }
    // Auxiliary channels (depth and the like) are stepped over but must be present.
    for (int c = 0; c < num_aux; ++c) reader.Skip(reader.U16BE());
    const int32_t y = static_cast<int32_t>(height - 1 - row);
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t r = planes[x];
      const uint8_t g = num_chan == 3 ? planes[width + x] : r;
      const uint8_t b = num_chan == 3 ? planes[2 * width + x] : r;
      const uint8_t a = num_matte > 0 ? planes[static_cast<size_t>(num_chan) * width + x] : 255;
      picture.At(static_cast<int32_t>(x), y) = Argb(a, r, g, b);
    }
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool RlaAcceptsContent(MemoryStream& stream) {
  // The revision follows the two windows and six 16-bit fields (frame, storage type, channel,
  // matte and auxiliary counts); the channel name field is 32 bytes at offset 580 of the
  // 740-byte header.
  constexpr size_t kRevision = 26;
  constexpr size_t kChannelName = 580;
  uint8_t h[740];
  if (!stream.Peek(740, h, sizeof h)) return false;
  if (Be16(h + kRevision) != 0xFFFE) return false;
  const char* name = reinterpret_cast<const char*>(h + kChannelName);
  const void* end = std::memchr(name, 0, 32);
  const size_t length =
      end == nullptr ? 32 : static_cast<size_t>(static_cast<const char*>(end) - name);
  const std::string channels = LowerCase(std::string(name, length));
  return channels == "rgb" || channels == "xyz";
}

}  // namespace quenvale
