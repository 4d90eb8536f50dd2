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

inline uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// The cost of a filtered byte: its distance from zero read as signed.
inline uint32_t Cost(uint8_t v) { return v < 128 ? v : 256u - v; }

// One filter type over a row of n bytes, `bpp` bytes a pixel, into `out`; returns the row's cost.
// The type is a template argument so that each filter is a loop of its own.
template <int kType>
uint64_t FilterAs(const uint8_t* row, const uint8_t* prior, size_t n, size_t bpp, uint8_t* out) {
  uint64_t cost = 0;
  for (size_t i = 0; i < n; ++i) {
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = prior[i];
    int predicted = 0;
    if constexpr (kType == 1) predicted = a;
    if constexpr (kType == 2) predicted = b;
    if constexpr (kType == 3) predicted = (a + b) >> 1;
    if constexpr (kType == 4) predicted = Paeth(a, b, i >= bpp ? prior[i - bpp] : 0);
    const uint8_t v = static_cast<uint8_t>(row[i] - predicted);
    out[i] = v;
    cost += Cost(v);
  }
  return cost;
}

// Filters `row` against `prior` with each of the five filters and answers the one whose bytes,
// read as signed, sum to the least (the lower type on a tie), filter byte first. It lies in
// `first` or `second`, each n + 1 bytes.
const uint8_t* FilterRow(const uint8_t* row, const uint8_t* prior, size_t n, size_t bpp,
                         uint8_t* first, uint8_t* second) {
  using Filter = uint64_t (*)(const uint8_t*, const uint8_t*, size_t, size_t, uint8_t*);
  static constexpr Filter kFilters[5] = {FilterAs<0>, FilterAs<1>, FilterAs<2>, FilterAs<3>,
                                         FilterAs<4>};
  uint64_t best_cost = ~0ull;
  const uint8_t* best = nullptr;
  uint8_t* candidate = first;
  for (int type = 0; type <= 4; ++type) {
    const uint64_t cost = kFilters[type](row, prior, n, bpp, candidate + 1);
    if (cost < best_cost) {
      best_cost = cost;
      candidate[0] = static_cast<uint8_t>(type);
      best = candidate;
      candidate = candidate == first ? second : first;  // the best stays where it is
    }
  }
  return best;
}

}  // namespace

std::vector<uint8_t> EncodePng(const Picture& picture, PngEffort effort) {
  if (picture.width <= 0 || picture.height <= 0) throw PictureError("PNG: empty picture");
  const size_t width = static_cast<size_t>(picture.width);
  const size_t height = static_cast<size_t>(picture.height);
  if (picture.pixels.size() != width * height) throw PictureError("PNG: pixel count mismatch");

  // A picture without transparency is written as RGB: a quarter fewer bytes to filter and pack.
  const bool opaque = std::all_of(picture.pixels.begin(), picture.pixels.end(),
                                  [](uint32_t p) { return (p >> 24) == 0xFF; });
  const size_t bpp = opaque ? 3 : 4;
  const size_t row_bytes = width * bpp;
  std::vector<uint8_t> rows(2 * row_bytes, 0);
  uint8_t* current = rows.data();
  uint8_t* prior = rows.data() + row_bytes;
  std::vector<uint8_t> first(row_bytes + 1), second(row_bytes + 1);

  z_stream z;
  std::memset(&z, 0, sizeof z);
  const int level = effort == PngEffort::kFast ? 1 : 6;
  if (deflateInit(&z, level) != Z_OK) throw PictureError("PNG: cannot start deflating");
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
    uint8_t* out = current;
    for (size_t x = 0; x < width; ++x, out += bpp) {
      const uint32_t p = src[x];
      out[0] = static_cast<uint8_t>(p >> 16);
      out[1] = static_cast<uint8_t>(p >> 8);
      out[2] = static_cast<uint8_t>(p);
      if (!opaque) out[3] = static_cast<uint8_t>(p >> 24);
    }
    const uint8_t* filtered =
        FilterRow(current, prior, row_bytes, bpp, first.data(), second.data());
    z.next_in = const_cast<uint8_t*>(filtered);
    z.avail_in = static_cast<uInt>(row_bytes + 1);
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
  header[8] = 8;               // bits per sample
  header[9] = opaque ? 2 : 6;  // RGB or RGBA
  PutChunk(png, "IHDR", header, sizeof header);
  for (size_t offset = 0; offset < compressed.size(); offset += kMaxIdatChunk) {
    PutChunk(png, "IDAT", compressed.data() + offset,
             std::min(kMaxIdatChunk, compressed.size() - offset));
  }
  PutChunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace quenvale
