#include "imaging/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quenvale {
namespace {

constexpr size_t kMaxIdatChunk = 1u << 20;

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 24));
  out.push_back(static_cast<uint8_t>(v >> 16));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* body, size_t length) {
  PutBe32(out, static_cast<uint32_t>(length));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (length > 0) out.insert(out.end(), body, body + length);
  PutBe32(out, static_cast<uint32_t>(
                   crc32(crc32(0, nullptr, 0), out.data() + start, static_cast<uInt>(length + 4))));
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Filters `row` against `prior` with each of the five filters and keeps, in `out` (filter byte
// first), the one whose bytes, read as signed, sum to the least.
void FilterRow(const uint8_t* row, const uint8_t* prior, size_t n, uint8_t* out, uint8_t* scratch) {
  constexpr size_t kBpp = 4;
  uint64_t best_cost = ~0ull;
  for (int type = 0; type <= 4; ++type) {
    uint64_t cost = 0;
    for (size_t i = 0; i < n; ++i) {
      const int a = i >= kBpp ? row[i - kBpp] : 0;
      const int b = prior[i];
      const int c = i >= kBpp ? prior[i - kBpp] : 0;
      int predicted = 0;
      switch (type) {
        case 1:
          predicted = a;
          break;
        case 2:
          predicted = b;
          break;
        case 3:
          predicted = (a + b) >> 1;
          break;
        case 4:
          predicted = Paeth(a, b, c);
          break;
        default:
          break;
      }
      const uint8_t v = static_cast<uint8_t>(row[i] - predicted);
      scratch[i + 1] = v;
      cost += v < 128 ? v : 256 - v;
    }
    if (cost < best_cost) {
      best_cost = cost;
      scratch[0] = static_cast<uint8_t>(type);
      std::memcpy(out, scratch, n + 1);
    }
  }
}

}  // namespace

std::vector<uint8_t> EncodePng(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) throw PictureError("PNG: empty picture");
  const size_t width = static_cast<size_t>(picture.width);
  const size_t height = static_cast<size_t>(picture.height);
  if (picture.pixels.size() != width * height) throw PictureError("PNG: pixel count mismatch");

  const size_t row_bytes = width * 4;
  std::vector<uint8_t> rows(2 * row_bytes, 0);
  uint8_t* current = rows.data();
  uint8_t* prior = rows.data() + row_bytes;
  std::vector<uint8_t> filtered(row_bytes + 1), scratch(row_bytes + 1);

  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit(&z, 6) != Z_OK) throw PictureError("PNG: cannot start deflating");
  std::vector<uint8_t> compressed;
  std::vector<uint8_t> out_buffer(1 << 16);
  auto drain = [&](int flush) {
    int rc;
    do {
      z.next_out = out_buffer.data();
      z.avail_out = static_cast<uInt>(out_buffer.size());
      rc = deflate(&z, flush);
      compressed.insert(compressed.end(), out_buffer.data(),
                        out_buffer.data() + (out_buffer.size() - z.avail_out));
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  };
  for (size_t y = 0; y < height; ++y) {
    const uint32_t* src = picture.pixels.data() + y * width;
    for (size_t x = 0; x < width; ++x) {
      const uint32_t p = src[x];
      current[4 * x] = static_cast<uint8_t>(p >> 16);
      current[4 * x + 1] = static_cast<uint8_t>(p >> 8);
      current[4 * x + 2] = static_cast<uint8_t>(p);
      current[4 * x + 3] = static_cast<uint8_t>(p >> 24);
    }
    FilterRow(current, prior, row_bytes, filtered.data(), scratch.data());
    z.next_in = filtered.data();
    z.avail_in = static_cast<uInt>(filtered.size());
    drain(Z_NO_FLUSH);
    std::swap(current, prior);
  }
  drain(Z_FINISH);
  deflateEnd(&z);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  png.reserve(compressed.size() + 64 + compressed.size() / kMaxIdatChunk * 12);
  uint8_t header[13] = {};
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<uint8_t>(width >> (24 - 8 * i));
    header[4 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
  }
  header[8] = 8;  // bits per sample
  header[9] = 6;  // RGBA
  PutChunk(png, "IHDR", header, sizeof header);
  for (size_t offset = 0; offset < compressed.size(); offset += kMaxIdatChunk) {
    PutChunk(png, "IDAT", compressed.data() + offset,
             std::min(kMaxIdatChunk, compressed.size() - offset));
  }
  PutChunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace quenvale
