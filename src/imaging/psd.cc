// Photoshop documents (PSD, and the large-document PSB variant): only the merged image at the
// end of the file is decoded; colour-mode data, image resources and layers are skipped by their
// lengths, apart from the palette of indexed documents.
#include <vector>

#include "common/strings.h"
#include "imaging/decoders.h"
#include "imaging/format_registry.h"

namespace quenvale {
namespace {

enum ColourMode : uint16_t {
  kBitmap = 0,
  kGrey = 1,
  kIndexed = 2,
  kRgb = 3,
  kCmyk = 4,
  kDuotone = 8,
};

// Expands one PackBits row of exactly `out_size` bytes from `src`; false when the packets do not
// fill the row or run past the row's stored length.
bool UnpackBits(const uint8_t* src, size_t length, uint8_t* out, size_t out_size) {
  size_t in = 0;
  size_t produced = 0;
  while (produced < out_size) {
    if (in >= length) return false;
    const int8_t header = static_cast<int8_t>(src[in++]);
    if (header >= 0) {
      const size_t n = static_cast<size_t>(header) + 1;
      if (n > length - in || n > out_size - produced) return false;
      for (size_t i = 0; i < n; ++i) out[produced++] = src[in++];
    } else if (header != -128) {
      const size_t n = static_cast<size_t>(1 - header);
      if (in >= length || n > out_size - produced) return false;
      const uint8_t value = src[in++];
      for (size_t i = 0; i < n; ++i) out[produced++] = value;
    }
  }
  return true;
}

// 16-bit samples reduced to 8 bits by truncating division by 257 as a -depth 8 conversion of the
// picture gives; alpha rounds up because that conversion truncates opacity, not alpha.
inline uint8_t Reduce16(uint32_t v) { return static_cast<uint8_t>(v / 257); }
inline uint8_t Reduce16Alpha(uint32_t v) { return static_cast<uint8_t>((v + 256) / 257); }

// Multiplication of two 8-bit fractions, rounded.
inline uint32_t Mul255(uint32_t a, uint32_t b) { return (a * b + 127) / 255; }

// Photoshop stores the merged image of a document with transparency blended onto white, and
// writers that copy it (GIMP among them) do the same; others store the colours as they are. The
// two are told apart by the pixels: blending onto white leaves every channel at least 255 - alpha
// and the fully transparent pixels white, which plain colours almost never are.
bool BlendedOntoWhite(const uint8_t* colour, uint32_t colour_planes, const uint8_t* alpha,
                      size_t plane_size) {
  bool any_transparency = false;
  for (size_t i = 0; i < plane_size; ++i) {
    const uint32_t a = alpha[i];
    if (a == 255) continue;
    any_transparency = true;
    // One step below the blend's floor is rounding; a transparent pixel must be white.
    const uint32_t floor = a == 0 ? 255 : 255 - a - 1;
    for (uint32_t c = 0; c < colour_planes; ++c) {
      if (colour[c * plane_size + i] < floor) return false;
    }
  }
  return any_transparency;
}

// Undoes the blend onto white: colour = (stored - (255 - alpha)) * 255 / alpha, rounded.
void RemoveWhiteMatte(uint8_t* colour, uint32_t colour_planes, const uint8_t* alpha,
                      size_t plane_size) {
  for (size_t i = 0; i < plane_size; ++i) {
    const uint32_t a = alpha[i];
    if (a == 0 || a == 255) continue;
    for (uint32_t c = 0; c < colour_planes; ++c) {
      uint8_t& v = colour[c * plane_size + i];
      const int32_t lifted = static_cast<int32_t>(v) - static_cast<int32_t>(255 - a);
      const int32_t value =
          lifted <= 0 ? 0 : (lifted * 255 + static_cast<int32_t>(a / 2)) / static_cast<int32_t>(a);
      v = static_cast<uint8_t>(value > 255 ? 255 : value);
    }
  }
}

}  // namespace

Picture DecodePsd(const uint8_t* data, size_t size) {
  ByteReader reader(data, size, "PSD");
  if (reader.U32BE() != 0x38425053) reader.Fail("not a Photoshop document");  // "8BPS"
  const uint16_t version = reader.U16BE();
  if (version != 1 && version != 2) reader.Fail("unknown version");
  const bool large = version == 2;
  reader.Skip(6);
  const uint16_t channels = reader.U16BE();
  const uint32_t height = reader.U32BE();
  const uint32_t width = reader.U32BE();
  const uint16_t depth = reader.U16BE();
  const uint16_t mode = reader.U16BE();
  if (channels < 1 || channels > 56) reader.Fail("bad channel count");
  if (depth != 1 && depth != 8 && depth != 16) reader.Fail("unsupported bit depth");

  uint32_t colour_channels;
  switch (mode) {
    case kBitmap:
      if (depth != 1) reader.Fail("bitmap document deeper than one bit");
      colour_channels = 1;
      break;
    case kGrey:
    case kIndexed:
    case kDuotone:
      colour_channels = 1;
      break;
    case kRgb:
      colour_channels = 3;
      break;
    case kCmyk:
      colour_channels = 4;
      break;
    default:
      reader.Fail("unsupported colour mode");
  }
  if (depth == 1 && mode != kBitmap) reader.Fail("one-bit document that is not a bitmap");
  if (mode == kIndexed && depth != 8) reader.Fail("indexed document not of 8 bits");
  if (channels < colour_channels) reader.Fail("too few channels for the colour mode");
  // The first channel past the colour channels is the merged transparency.
  const bool has_alpha = channels > colour_channels && mode != kBitmap;
  const uint32_t used_channels = colour_channels + (has_alpha ? 1 : 0);
  CheckPictureSize(width, height, 4 + used_channels);

  uint32_t palette[256] = {};
  const uint32_t mode_data_length = reader.U32BE();
  if (mode == kIndexed) {
    if (mode_data_length < 768) reader.Fail("palette too short");
    const uint8_t* p = reader.Take(768);
    for (int i = 0; i < 256; ++i) palette[i] = Rgb(p[i], p[256 + i], p[512 + i]);
    reader.Skip(mode_data_length - 768);
  } else {
    reader.Skip(mode_data_length);
  }
  reader.Skip(reader.U32BE());  // image resources
  if (large) {
    const uint32_t high = reader.U32BE();
    const uint32_t low = reader.U32BE();
    if (high != 0) reader.Truncated();
    reader.Skip(low);
  } else {
    reader.Skip(reader.U32BE());  // layer and mask information
  }

  const uint16_t compression = reader.U16BE();
  const size_t row_bytes = depth == 1 ? (width + 7) / 8 : static_cast<size_t>(width) * depth / 8;
  const uint64_t rows = static_cast<uint64_t>(height) * used_channels;
  std::vector<const uint8_t*> row_data;
  std::vector<uint32_t> row_length;
  if (compression == 0) {
    if (rows * row_bytes > reader.Remaining()) reader.Truncated();
    for (uint64_t r = 0; r < rows; ++r) {
      row_data.push_back(reader.Take(row_bytes));
      row_length.push_back(static_cast<uint32_t>(row_bytes));
    }
  } else if (compression == 1) {
    // One byte count per row of every channel, including the channels not decoded.
    const uint64_t all_rows = static_cast<uint64_t>(height) * channels;
    const size_t count_size = large ? 4 : 2;
    if (all_rows * count_size > reader.Remaining()) reader.Truncated();
    std::vector<uint32_t> counts(static_cast<size_t>(all_rows));
    for (uint32_t& c : counts) c = large ? reader.U32BE() : reader.U16BE();
    uint64_t compressed = 0;
    for (uint64_t r = 0; r < rows; ++r) {
      if (counts[r] > reader.Remaining()) reader.Truncated();
      row_data.push_back(reader.Take(counts[r]));
      row_length.push_back(counts[r]);
      compressed += counts[r];
    }
    // A PackBits packet of two bytes yields at most 128; more claimed output is a lie.
    if (compressed * 64 < rows * row_bytes) reader.Fail("run-length data too short");
  } else {
    reader.Fail("unsupported compression");
  }

  // The used channels, reduced to 8 bits, one plane each.
  const size_t plane_size = static_cast<size_t>(width) * height;
  std::vector<uint8_t> planes(plane_size * used_channels);
  std::vector<uint8_t> row(row_bytes);
  for (uint32_t c = 0; c < used_channels; ++c) {
    const bool alpha_plane = has_alpha && c == colour_channels;
    for (uint32_t y = 0; y < height; ++y) {
      const size_t r = static_cast<size_t>(c) * height + y;
      const uint8_t* src = row_data[r];
      if (compression == 1) {
        if (!UnpackBits(src, row_length[r], row.data(), row_bytes)) {
          reader.Fail("bad run-length row");
        }
        src = row.data();
      }
      uint8_t* dst = &planes[c * plane_size + static_cast<size_t>(y) * width];
      for (uint32_t x = 0; x < width; ++x) {
        if (depth == 1) {
          dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;  // set bits are black
        } else if (depth == 8) {
          dst[x] = src[x];
        } else {
          const uint32_t v = static_cast<uint32_t>(src[2 * x] << 8 | src[2 * x + 1]);
          dst[x] = alpha_plane ? Reduce16Alpha(v) : Reduce16(v);
        }
      }
    }
  }

  if (has_alpha && (mode == kRgb || mode == kGrey)) {
    const uint8_t* alpha = &planes[colour_channels * plane_size];
    if (BlendedOntoWhite(planes.data(), colour_channels, alpha, plane_size)) {
      RemoveWhiteMatte(planes.data(), colour_channels, alpha, plane_size);
    }
  }

  Picture picture;
  picture.Allocate(width, height);
  picture.has_alpha = has_alpha;
  for (size_t i = 0; i < plane_size; ++i) {
    const uint8_t a = has_alpha ? planes[colour_channels * plane_size + i] : 255;
    const uint8_t v0 = planes[i];
    uint32_t rgb;
    switch (mode) {
      case kIndexed:
        rgb = palette[v0] & 0xFFFFFF;
        break;
      case kRgb:
        rgb = Rgb(v0, planes[plane_size + i], planes[2 * plane_size + i]) & 0xFFFFFF;
        break;
      case kCmyk: {
        // Stored inverted (255 is no ink), so each stored value is already the share of light
        // its ink lets through; the key scales all three.
        const uint32_t k = planes[3 * plane_size + i];
        rgb = Rgb(Mul255(v0, k), Mul255(planes[plane_size + i], k),
                  Mul255(planes[2 * plane_size + i], k)) &
              0xFFFFFF;
        break;
      }
      default:
        rgb = Rgb(v0, v0, v0) & 0xFFFFFF;
        break;
    }
    picture.pixels[i] = static_cast<uint32_t>(a) << 24 | rgb;
  }
  return picture;
}

// The content test: whether the bytes from the stream's position on look like this format.
bool PsdAcceptsContent(MemoryStream& stream) {
  uint8_t h[6];
  if (!stream.Peek(26, h, sizeof h)) return false;
  return UpperCase(std::string(reinterpret_cast<const char*>(h), 4)) == "8BPS" && Be16(h + 4) == 1;
}

}  // namespace quenvale
