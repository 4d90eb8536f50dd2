// Kodak Photo CD image pacs: the Base resolution (768x512) stored uncompressed from sector 96.
// Each pair of luma rows is followed by one row of each chroma component at half resolution in
// both directions.
#include <algorithm>
#include <cstring>
#include <vector>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

constexpr size_t kSector = 2048;
constexpr size_t kInfoOffset = kSector;        // "PCD_IPI"
constexpr size_t kOrientationOffset = 0x0E02;  // low two bits: quarter turns
constexpr size_t kBaseOffset = 96 * kSector;
constexpr uint32_t kWidth = 768;
constexpr uint32_t kHeight = 512;

// Chroma sample for pixel (x, y): at even coordinates the stored sample, between them the
// average of the neighbours, so colour edges are not blocky.
int Chroma(const std::vector<uint8_t>& plane, uint32_t x, uint32_t y) {
  const uint32_t cw = kWidth / 2, ch = kHeight / 2;
  const uint32_t x0 = x / 2, y0 = y / 2;
  const uint32_t x1 = (x & 1) ? std::min(x0 + 1, cw - 1) : x0;
  const uint32_t y1 = (y & 1) ? std::min(y0 + 1, ch - 1) : y0;
  const int sum =
      plane[y0 * cw + x0] + plane[y0 * cw + x1] + plane[y1 * cw + x0] + plane[y1 * cw + x1];
  return (sum + 2) / 4;
}

uint8_t Clamp(double v) {
  if (v <= 0) return 0;
  if (v >= 255) return 255;
  return static_cast<uint8_t>(v + 0.5);
}

}  // namespace

Picture DecodePcd(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "PCD");
  reader.Seek(kInfoOffset);
  if (std::memcmp(reader.Take(7), "PCD_IPI", 7) != 0) reader.Fail("not a Photo CD image pac");
  reader.Seek(kOrientationOffset);
  const int turns = reader.U8() & 3;

  const size_t cw = kWidth / 2, ch = kHeight / 2;
  std::vector<uint8_t> luma(static_cast<size_t>(kWidth) * kHeight);
  std::vector<uint8_t> c1(cw * ch), c2(cw * ch);
  reader.Seek(kBaseOffset);
  for (size_t pair = 0; pair < ch; ++pair) {
    std::memcpy(&luma[pair * 2 * kWidth], reader.Take(2 * kWidth), 2 * kWidth);
    std::memcpy(&c1[pair * cw], reader.Take(cw), cw);
    std::memcpy(&c2[pair * cw], reader.Take(cw), cw);
  }

  // The PhotoYCC equations (luma scaled by 1.3584, chroma offset by 156 and 137 and scaled by
  // 2.2179 and 1.8215), with the result scaled by 255/346 so that the highlights PhotoYCC keeps
  // above reference white (up to 346) stay distinct instead of clipping.
  constexpr double kLuma = 1.3584;
  constexpr double kC1 = 2.2179 / kLuma, kC2 = 1.8215 / kLuma;
  Picture picture;
  if (turns & 1) {
    picture.Allocate(kHeight, kWidth);
  } else {
    picture.Allocate(kWidth, kHeight);
  }
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      const double l = luma[static_cast<size_t>(y) * kWidth + x];
      const double u = kC1 * (Chroma(c1, x, y) - 156);
      const double v = kC2 * (Chroma(c2, x, y) - 137);
      const uint32_t pixel = Rgb(Clamp(l + v), Clamp(l - 0.194 * u - 0.509 * v), Clamp(l + u));
      // Quarter turns counter-clockwise bring the scene upright.
      int32_t ox, oy;
      switch (turns) {
        case 1:
          ox = static_cast<int32_t>(y);
          oy = static_cast<int32_t>(kWidth - 1 - x);
          break;
        case 2:
          ox = static_cast<int32_t>(kWidth - 1 - x);
          oy = static_cast<int32_t>(kHeight - 1 - y);
          break;
        case 3:
          ox = static_cast<int32_t>(kHeight - 1 - y);
          oy = static_cast<int32_t>(x);
          break;
        default:
          ox = static_cast<int32_t>(x);
          oy = static_cast<int32_t>(y);
          break;
      }
      picture.At(ox, oy) = pixel;
    }
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool PcdAcceptsContent(MemoryStream& stream) {
  uint8_t h[2051];
  if (!stream.Peek(6144, h, sizeof h)) return false;
  return std::memcmp(h, "PCD_OPA", 7) == 0 || std::memcmp(h + 2048, "PCD", 3) == 0;
}

}  // namespace quenvale
