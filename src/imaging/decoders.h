// One decoder per format family. Each takes the whole file in memory and returns the picture,
// or throws PictureError with a short reason; none reads outside [data, data + size).
#ifndef QUENVALE_IMAGING_DECODERS_H_
#define QUENVALE_IMAGING_DECODERS_H_

#include <cstddef>
#include <cstdint>

#include "imaging/picture.h"

namespace quenvale {

Picture DecodeBmp(const uint8_t* data, size_t size);        // BMP, DIB, RLE; OS/2 headers too
Picture DecodeIco(const uint8_t* data, size_t size);        // the largest image of the icon
Picture DecodeMetafile(const uint8_t* data, size_t size);   // WMF, EMF
Picture DecodeJpeg(const uint8_t* data, size_t size);       // through libjpeg
Picture DecodeTarga(const uint8_t* data, size_t size);
Picture DecodeTiff(const uint8_t* data, size_t size);       // the first image
Picture DecodeEps(const uint8_t* data, size_t size);        // its TIFF preview
Picture DecodePcx(const uint8_t* data, size_t size);
Picture DecodeRla(const uint8_t* data, size_t size);
Picture DecodeSgi(const uint8_t* data, size_t size);
Picture DecodePsd(const uint8_t* data, size_t size);        // the merged image
Picture DecodePpm(const uint8_t* data, size_t size);        // P1 to P6
Picture DecodeAutodesk(const uint8_t* data, size_t size);   // CEL, PIC
Picture DecodePcd(const uint8_t* data, size_t size);        // the base resolution
Picture DecodeGif(const uint8_t* data, size_t size);        // the first image
Picture DecodeCut(const uint8_t* data, size_t size);        // grey, without its palette file
Picture DecodePsp(const uint8_t* data, size_t size);        // the composite, else the layers
Picture DecodePng(const uint8_t* data, size_t size);

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_DECODERS_H_
