// Feeds arbitrary bytes to one decoder family, built once per family (QUENVALE_DECODER_FAMILY
// names it) and seeded with that family's real files. Besides not crashing, a decoded picture
// must be exactly as large as it says and within the picture limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imaging/decoders.h"
#include "imaging/format_registry.h"
#include "imaging/picture.h"

namespace {

using Decoder = quenvale::Picture (*)(const uint8_t*, size_t);
using ContentTest = bool (*)(quenvale::MemoryStream&);

struct Family {
  const char* name;
  Decoder decoders[2];
  ContentTest content_test;
};

const Family kFamilies[] = {
    {"bmp", {quenvale::DecodeBmp, quenvale::DecodeIco}, nullptr},
    {"jpeg", {quenvale::DecodeJpeg, nullptr}, nullptr},
    {"targa", {quenvale::DecodeTarga, nullptr}, quenvale::TargaAcceptsContent},
    {"tiff", {quenvale::DecodeTiff, quenvale::DecodeEps}, quenvale::TiffAcceptsContent},
    {"pcx", {quenvale::DecodePcx, nullptr}, quenvale::PcxAcceptsContent},
    {"rla", {quenvale::DecodeRla, nullptr}, quenvale::RlaAcceptsContent},
    {"sgi", {quenvale::DecodeSgi, nullptr}, quenvale::SgiAcceptsContent},
    {"psd", {quenvale::DecodePsd, nullptr}, quenvale::PsdAcceptsContent},
    {"ppm", {quenvale::DecodePpm, nullptr}, quenvale::PpmAcceptsContent},
    {"autodesk", {quenvale::DecodeAutodesk, nullptr}, quenvale::AutodeskAcceptsContent},
    {"pcd", {quenvale::DecodePcd, nullptr}, quenvale::PcdAcceptsContent},
    {"gif", {quenvale::DecodeGif, nullptr}, quenvale::GifAcceptsContent},
    {"cut", {quenvale::DecodeCut, nullptr}, quenvale::CutAcceptsContent},
    {"psp", {quenvale::DecodePsp, nullptr}, quenvale::PspAcceptsContent},
    {"png", {quenvale::DecodePng, nullptr}, quenvale::PngAcceptsContent},
};

const Family& ThisFamily() {
  static const Family* family = [] {
    for (const Family& f : kFamilies) {
      if (std::strcmp(f.name, QUENVALE_DECODER_FAMILY) == 0) return &f;
    }
    std::abort();  // a family the build names but this table does not know
  }();
  return *family;
}

void CheckShape(const quenvale::Picture& p) {
  const bool sound = p.width > 0 && p.height > 0 &&
                     static_cast<uint32_t>(p.width) <= quenvale::kMaxPictureDimension &&
                     static_cast<uint32_t>(p.height) <= quenvale::kMaxPictureDimension &&
                     p.pixels.size() == static_cast<size_t>(p.width) * p.height;
  if (!sound) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Family& family = ThisFamily();
  if (family.content_test != nullptr) {
    quenvale::MemoryStream stream(data, size);
    family.content_test(stream);
  }
  for (Decoder decode : family.decoders) {
    if (decode == nullptr) continue;
    try {
      CheckShape(decode(data, size));
    } catch (const quenvale::PictureError&) {
    }
  }
  return 0;
}
