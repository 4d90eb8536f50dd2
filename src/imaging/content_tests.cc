// The content tests of the codec graphics. Each needs more than a given number of bytes after
// the stream's position, looks at them, and puts the position back, whatever it answers.
#include <cstring>

#include "common/strings.h"
#include "imaging/format_registry.h"

namespace quenvale {

namespace {

// Reads `n` bytes from the stream's position into `out` when more than `needed` bytes remain,
// and restores the position either way.
bool Peek(MemoryStream& stream, size_t needed, uint8_t* out, size_t n) {
  if (stream.Remaining() <= needed) return false;
  const size_t start = stream.Position();
  const bool complete = stream.Read(out, n) == n;
  stream.SetPosition(start);
  return complete;
}

}  // namespace

bool TargaAcceptsContent(MemoryStream& stream) {
  uint8_t h[18];
  if (!Peek(stream, 18, h, sizeof h)) return false;
  const uint8_t image_type = h[2];
  const bool type_ok = image_type <= 3 || (image_type >= 9 && image_type <= 11);
  const uint8_t map_entry = h[7];
  const bool map_ok = map_entry == 15 || map_entry == 16 || map_entry == 24 || map_entry == 32;
  const uint8_t depth = h[16];
  const bool depth_ok = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
  return h[1] < 2 && type_ok && map_ok && depth_ok;
}

bool TiffAcceptsContent(MemoryStream& stream) {
  uint8_t h[8];
  if (!Peek(stream, 8, h, sizeof h)) return false;
  const bool intel = h[0] == 'I' && h[1] == 'I';
  const bool motorola = h[0] == 'M' && h[1] == 'M';
  if (!intel && !motorola) return false;
  const uint16_t version = intel ? Le16(h + 2) : Be16(h + 2);
  const uint32_t first_ifd = intel ? Le32(h + 4) : Be32(h + 4);
  return version == 42 && first_ifd < stream.Remaining();
}

bool EpsAcceptsContent(MemoryStream& stream) {
  uint8_t h[28];
  if (!Peek(stream, 30, h, sizeof h)) return false;
  static const uint8_t kMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
  return std::memcmp(h, kMagic, 4) == 0 && Le32(h + 24) != 0;
}

bool PcxAcceptsContent(MemoryStream& stream) {
  uint8_t h[3];
  if (!Peek(stream, 128, h, sizeof h)) return false;
  const uint8_t version = h[1];
  return (h[0] == 10 || h[0] == 12) &&
         (version == 0 || version == 2 || version == 3 || version == 5) && h[2] < 2;
}

bool RlaAcceptsContent(MemoryStream& stream) {
  // The revision follows the two windows and six 16-bit fields (frame, storage type, channel,
  // matte and auxiliary counts); the channel name field is 32 bytes at offset 580 of the
  // 740-byte header.
  constexpr size_t kRevision = 26;
  constexpr size_t kChannelName = 580;
  uint8_t h[740];
  if (!Peek(stream, 740, h, sizeof h)) return false;
  if (Be16(h + kRevision) != 0xFFFE) return false;
  const char* name = reinterpret_cast<const char*>(h + kChannelName);
  const void* end = std::memchr(name, 0, 32);
  const size_t length = end == nullptr ? 32 : static_cast<size_t>(static_cast<const char*>(end) - name);
  const std::string channels = LowerCase(std::string(name, length));
  return channels == "rgb" || channels == "xyz";
}

bool SgiAcceptsContent(MemoryStream& stream) {
  uint8_t h[6];
  if (!Peek(stream, 512, h, sizeof h)) return false;
  const uint16_t dimension = Be16(h + 4);
  return h[0] == 0x01 && h[1] == 0xDA && (h[3] == 1 || h[3] == 2) && dimension >= 1 &&
         dimension <= 3;
}

bool PsdAcceptsContent(MemoryStream& stream) {
  uint8_t h[6];
  if (!Peek(stream, 26, h, sizeof h)) return false;
  return UpperCase(std::string(reinterpret_cast<const char*>(h), 4)) == "8BPS" && Be16(h + 4) == 1;
}

bool PpmAcceptsContent(MemoryStream& stream) {
  uint8_t h[2];
  if (!Peek(stream, 10, h, sizeof h)) return false;
  return h[0] == 'P' && h[1] >= '1' && h[1] <= '6';
}

bool AutodeskAcceptsContent(MemoryStream& stream) {
  uint8_t h[12];
  if (!Peek(stream, 32, h, sizeof h)) return false;
  return h[0] == 0x19 && h[1] == 0x91 && h[10] == 8 && h[11] == 0;
}

bool PcdAcceptsContent(MemoryStream& stream) {
  uint8_t h[2051];
  if (!Peek(stream, 6144, h, sizeof h)) return false;
  return std::memcmp(h, "PCD_OPA", 7) == 0 || std::memcmp(h + 2048, "PCD", 3) == 0;
}

bool GifAcceptsContent(MemoryStream& stream) {
  uint8_t h[3];
  if (!Peek(stream, 22, h, sizeof h)) return false;
  return UpperCase(std::string(reinterpret_cast<const char*>(h), 3)) == "GIF";
}

bool CutAcceptsContent(MemoryStream&) { return false; }

bool PspAcceptsContent(MemoryStream& stream) {
  uint8_t h[34];
  if (!Peek(stream, 36, h, sizeof h)) return false;
  return SameText(std::string(reinterpret_cast<const char*>(h), 25), "Paint Shop Pro Image File") &&
         Le16(h + 32) >= 3;
}

bool PngAcceptsContent(MemoryStream& stream) {
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  uint8_t h[8];
  if (!Peek(stream, 8, h, sizeof h)) return false;
  return std::memcmp(h, kSignature, 8) == 0;
}

}  // namespace quenvale
