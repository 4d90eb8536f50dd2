#include "imaging/format_registry.h"

#include <algorithm>
#include <cstring>

#include "common/strings.h"
#include "imaging/decoders.h"

namespace quenvale {

size_t MemoryStream::Read(void* out, size_t n) {
  n = std::min(n, Remaining());
  if (n > 0) std::memcpy(out, data_ + position_, n);
  position_ += n;
  return n;
}

bool MemoryStream::Peek(size_t needed, uint8_t* out, size_t n) {
  if (Remaining() <= needed) return false;
  const size_t start = position_;
  const bool complete = Read(out, n) == n;
  position_ = start;
  return complete;
}

const GraphicClass kBitmapClass = {"Bitmap", nullptr, DecodeBmp};
const GraphicClass kIconClass = {"Icon", nullptr, DecodeIco};
const GraphicClass kMetafileClass = {"Metafile", nullptr, DecodeMetafile};
const GraphicClass kJpegImageClass = {"JPEGImage", nullptr, DecodeJpeg};
const GraphicClass kTargaGraphicClass = {"TargaGraphic", TargaAcceptsContent, DecodeTarga};
const GraphicClass kTiffGraphicClass = {"TIFFGraphic", TiffAcceptsContent, DecodeTiff};
const GraphicClass kEpsGraphicClass = {"EPSGraphic", EpsAcceptsContent, DecodeEps};
const GraphicClass kPcxGraphicClass = {"PCXGraphic", PcxAcceptsContent, DecodePcx};
const GraphicClass kRlaGraphicClass = {"RLAGraphic", RlaAcceptsContent, DecodeRla};
const GraphicClass kSgiGraphicClass = {"SGIGraphic", SgiAcceptsContent, DecodeSgi};
const GraphicClass kPsdGraphicClass = {"PSDGraphic", PsdAcceptsContent, DecodePsd};
const GraphicClass kPpmGraphicClass = {"PPMGraphic", PpmAcceptsContent, DecodePpm};
const GraphicClass kAutodeskGraphicClass = {"AutodeskGraphic", AutodeskAcceptsContent,
                                            DecodeAutodesk};
const GraphicClass kPcdGraphicClass = {"PCDGraphic", PcdAcceptsContent, DecodePcd};
const GraphicClass kGifGraphicClass = {"GIFGraphic", GifAcceptsContent, DecodeGif};
const GraphicClass kCutGraphicClass = {"CUTGraphic", CutAcceptsContent, DecodeCut};
const GraphicClass kPspGraphicClass = {"PSPGraphic", PspAcceptsContent, DecodePsp};
const GraphicClass kPngGraphicClass = {"PNGGraphic", PngAcceptsContent, DecodePng};

FileFormatList::ClassEntry& FileFormatList::ClassEntryFor(const GraphicClass* graphic_class) {
  for (ClassEntry& entry : classes_) {
    if (entry.graphic_class == graphic_class) return entry;
  }
  classes_.push_back(ClassEntry{graphic_class, std::string(), 0});
  return classes_.back();
}

void FileFormatList::Unlink(const GraphicClass* graphic_class) {
  for (auto it = classes_.begin(); it != classes_.end(); ++it) {
    if (it->graphic_class != graphic_class) continue;
    if (--it->count <= 0) classes_.erase(it);
    return;
  }
}

void FileFormatList::RegisterPictureFormat(const std::string& extension,
                                           const std::string& description) {
  for (PictureFormat& format : picture_formats_) {
    if (SameText(format.extension, extension)) {
      format.description = description;
      return;
    }
  }
  picture_formats_.push_back(PictureFormat{extension, description});
}

void FileFormatList::UnregisterPictureFormat(const std::string& extension) {
  picture_formats_.erase(
      std::remove_if(picture_formats_.begin(), picture_formats_.end(),
                     [&](const PictureFormat& f) { return SameText(f.extension, extension); }),
      picture_formats_.end());
}

void FileFormatList::AddFileFormat(const std::string& extension,
                                   const std::string& common_description,
                                   const std::string& individual_description, uint8_t flags,
                                   bool replace, const GraphicClass* graphic_class) {
  if (extension.empty()) return;
  auto existing =
      std::find_if(extensions_.begin(), extensions_.end(),
                   [&](const ExtensionEntry& e) { return SameText(e.extension, extension); });
  auto link = [&](ExtensionEntry& entry) {
    ClassEntry& class_entry = ClassEntryFor(graphic_class);
    if (!common_description.empty()) class_entry.description = common_description;
    ++class_entry.count;
    entry.graphic_class = graphic_class;
  };
  ExtensionEntry* entry;
  if (existing == extensions_.end()) {
    extensions_.push_back(ExtensionEntry{extension, individual_description, flags, nullptr});
    entry = &extensions_.back();
    link(*entry);
  } else {
    if (!replace) throw PictureError(Format("Attempt to register %s twice.", extension.c_str()));
    entry = &*existing;
    if (entry->graphic_class != graphic_class) {
      const GraphicClass* old_class = entry->graphic_class;
      link(*entry);
      Unlink(old_class);
    }
  }
  std::string description = entry->description;
  if (description.empty()) description = ClassEntryFor(entry->graphic_class).description;
  RegisterPictureFormat(entry->extension, description);
}

const GraphicClass* FileFormatList::ClassForExtension(std::string extension) const {
  const size_t dot = extension.find('.');
  if (dot != std::string::npos) extension.erase(0, dot + 1);
  if (extension.empty()) return nullptr;
  for (const ExtensionEntry& entry : extensions_) {
    if (SameText(entry.extension, extension)) return entry.graphic_class;
  }
  return nullptr;
}

const GraphicClass* FileFormatList::ClassForContent(MemoryStream& stream) const {
  for (const ClassEntry& entry : classes_) {
    if (!entry.graphic_class->IsCodecGraphic()) continue;
    if (entry.graphic_class->AcceptsContent(stream)) return entry.graphic_class;
  }
  return nullptr;
}

void FileFormatList::RemoveFileFormat(const std::string& extension,
                                      const GraphicClass* graphic_class) {
  for (auto it = extensions_.begin(); it != extensions_.end();) {
    const bool match = it->graphic_class == graphic_class &&
                       (extension.empty() || SameText(it->extension, extension));
    if (!match) {
      ++it;
      continue;
    }
    UnregisterPictureFormat(it->extension);
    it = extensions_.erase(it);
    Unlink(graphic_class);
  }
  if (extension.empty()) {
    classes_.erase(
        std::remove_if(classes_.begin(), classes_.end(),
                       [&](const ClassEntry& c) { return c.graphic_class == graphic_class; }),
        classes_.end());
  }
}

void RegisterStandardFormats(FileFormatList& list) {
  constexpr uint8_t kRaster = kKindRaster;
  constexpr uint8_t kVector = kKindVector;
  constexpr uint8_t kMulti = kKindSeveralImages | kKindRaster;
  constexpr uint8_t kLayered = kKindLayers | kKindRaster;
  constexpr uint8_t kAnimated = kKindAnimation | kKindSeveralImages | kKindRaster;
  struct Row {
    const char* extension;
    const char* common;
    const char* individual;
    const GraphicClass* graphic_class;
    uint8_t flags;
  };
  static const Row kTable[] = {
      {"bmp", "Windows bitmaps", "", &kBitmapClass, kRaster},
      {"ico", "Windows icons", "", &kIconClass, kRaster},
      {"wmf", "Windows metafiles", "", &kMetafileClass, kVector},
      {"emf", "Windows metafiles", "Windows enhanced meta files", &kMetafileClass, kVector},
      {"jfif", "JPG images", "JFIF images", &kJpegImageClass, kRaster},
      {"jpg", "", "JPG images", &kJpegImageClass, kRaster},
      {"jpe", "", "JPE images", &kJpegImageClass, kRaster},
      {"jpeg", "", "JPEG images", &kJpegImageClass, kRaster},
      {"rle", "Windows bitmaps", "Run length encoded Windows bitmaps", &kBitmapClass, kRaster},
      {"dib", "", "Device independant Windows bitmaps", &kBitmapClass, kRaster},
      {"win", "Truevision images", "", &kTargaGraphicClass, kRaster},
      {"vst", "", "", &kTargaGraphicClass, kRaster},
      {"vda", "", "", &kTargaGraphicClass, kRaster},
      {"tga", "", "", &kTargaGraphicClass, kRaster},
      {"icb", "", "", &kTargaGraphicClass, kRaster},
      {"tiff", "Tagged image file format images", "Macintosh TIFF images", &kTiffGraphicClass,
       kMulti},
      {"tif", "", "PC TIF images", &kTiffGraphicClass, kMulti},
      {"fax", "", "GFI fax images", &kTiffGraphicClass, kMulti},
      {"eps", "Encapsulated Postscript images", "", &kEpsGraphicClass, kRaster},
      {"pcx", "ZSoft Paintbrush images", "", &kPcxGraphicClass, kRaster},
      {"pcc", "", "", &kPcxGraphicClass, kRaster},
      {"scr", "", "Word 5.x screen capture images", &kPcxGraphicClass, kRaster},
      {"rpf", "Alias/Wavefront images", "", &kRlaGraphicClass, kRaster},
      {"rla", "", "", &kRlaGraphicClass, kRaster},
      {"sgi", "SGI images", "SGI true color images", &kSgiGraphicClass, kRaster},
      {"rgba", "", "SGI true color images with alpha", &kSgiGraphicClass, kRaster},
      {"rgb", "", "SGI true color images", &kSgiGraphicClass, kRaster},
      {"bw", "", "SGI black/white images", &kSgiGraphicClass, kRaster},
      {"psd", "Photoshop images", "", &kPsdGraphicClass, kLayered},
      {"pdd", "", "", &kPsdGraphicClass, kLayered},
      {"ppm", "Portable map images", "Portable pixel map images", &kPpmGraphicClass, kRaster},
      {"pgm", "", "Portable gray map images", &kPpmGraphicClass, kRaster},
      {"pbm", "", "Portable bitmap images", &kPpmGraphicClass, kRaster},
      {"cel", "Autodesk images", "", &kAutodeskGraphicClass, kRaster},
      {"pic", "Autodesk images", "", &kAutodeskGraphicClass, kRaster},
      {"pcd", "Kodak Photo-CD images", "", &kPcdGraphicClass, kRaster},
      {"gif", "CompuServe images", "", &kGifGraphicClass, kAnimated},
      {"cut", "Dr. Halo images", "", &kCutGraphicClass, kRaster},
      {"psp", "Paintshop Pro images", "", &kPspGraphicClass, kRaster | kVector},
      {"png", "Portable network graphic images", "", &kPngGraphicClass, kRaster},
  };
  for (const Row& row : kTable) {
    list.AddFileFormat(row.extension, row.common, row.individual, row.flags, false,
                       row.graphic_class);
  }
}

FileFormatList& FileFormats() {
  static FileFormatList* list = [] {
    auto* filled = new FileFormatList();
    RegisterStandardFormats(*filled);
    return filled;
  }();
  return *list;
}

std::string PictureExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return std::string();
  const size_t separator = name.find_last_of("\\/:");
  if (separator != std::string::npos && separator > dot) return std::string();
  return name.substr(dot);
}

bool DecodePicture(const uint8_t* data, size_t size, const std::string& name, Picture* picture,
                   LoadedPictureInfo* info) {
  MemoryStream stream(data, size);
  const FileFormatList& formats = FileFormats();
  bool by_content = true;
  const GraphicClass* graphic_class = formats.ClassForContent(stream);
  if (graphic_class == nullptr) {
    by_content = false;
    graphic_class = formats.ClassForExtension(PictureExtension(name));
  }
  if (graphic_class == nullptr) return false;
  *picture = graphic_class->Decode(data, size);
  if (info != nullptr) *info = LoadedPictureInfo{graphic_class, by_content};
  return true;
}

}  // namespace quenvale
