// Which picture class reads a stored picture: by its bytes first, then by its name's extension.
#ifndef QUENVALE_IMAGING_FORMAT_REGISTRY_H_
#define QUENVALE_IMAGING_FORMAT_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/picture.h"

namespace quenvale {

// A read position over bytes in memory, as the content tests see a stored picture.
class MemoryStream {
 public:
  MemoryStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t Size() const { return size_; }
  size_t Position() const { return position_; }
  void SetPosition(size_t position) { position_ = position < size_ ? position : size_; }
  size_t Remaining() const { return size_ - position_; }
  // Copies up to n bytes from the position on and advances; returns how many were copied.
  size_t Read(void* out, size_t n);
  // What content tests look at: when more than `needed` bytes remain, copies the next n bytes
  // into `out` and answers true; the position stays where it was either way.
  bool Peek(size_t needed, uint8_t* out, size_t n);
  const uint8_t* Data() const { return data_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Kind flags of a registered extension.
enum KindFlag : uint8_t {
  kKindAnimation = 1,
  kKindLayers = 2,
  kKindSeveralImages = 4,
  kKindRaster = 8,
  kKindVector = 16,
};

// One picture class. Classes with a content test are the codec graphics; the bitmap, icon,
// metafile and JPEG classes are found by extension only.
struct GraphicClass {
  const char* name;
  // Looks at the bytes from the stream's position on and leaves the position where it was.
  bool (*AcceptsContent)(MemoryStream& stream);
  Picture (*Decode)(const uint8_t* data, size_t size);
  bool IsCodecGraphic() const { return AcceptsContent != nullptr; }
};

extern const GraphicClass kBitmapClass;
extern const GraphicClass kIconClass;
extern const GraphicClass kMetafileClass;
extern const GraphicClass kJpegImageClass;
extern const GraphicClass kTargaGraphicClass;
extern const GraphicClass kTiffGraphicClass;
extern const GraphicClass kEpsGraphicClass;
extern const GraphicClass kPcxGraphicClass;
extern const GraphicClass kRlaGraphicClass;
extern const GraphicClass kSgiGraphicClass;
extern const GraphicClass kPsdGraphicClass;
extern const GraphicClass kPpmGraphicClass;
extern const GraphicClass kAutodeskGraphicClass;
extern const GraphicClass kPcdGraphicClass;
extern const GraphicClass kGifGraphicClass;
extern const GraphicClass kCutGraphicClass;
extern const GraphicClass kPspGraphicClass;
extern const GraphicClass kPngGraphicClass;

// The content tests, one per codec graphic, each beside its decoder.
bool TargaAcceptsContent(MemoryStream& stream);
bool TiffAcceptsContent(MemoryStream& stream);
bool EpsAcceptsContent(MemoryStream& stream);
bool PcxAcceptsContent(MemoryStream& stream);
bool RlaAcceptsContent(MemoryStream& stream);
bool SgiAcceptsContent(MemoryStream& stream);
bool PsdAcceptsContent(MemoryStream& stream);
bool PpmAcceptsContent(MemoryStream& stream);
bool AutodeskAcceptsContent(MemoryStream& stream);
bool PcdAcceptsContent(MemoryStream& stream);
bool GifAcceptsContent(MemoryStream& stream);
bool CutAcceptsContent(MemoryStream& stream);
bool PspAcceptsContent(MemoryStream& stream);
bool PngAcceptsContent(MemoryStream& stream);

class FileFormatList {
 public:
  struct ClassEntry {
    const GraphicClass* graphic_class;
    std::string description;
    int count;  // extensions that refer to this class
  };
  struct ExtensionEntry {
    std::string extension;  // without the dot
    std::string description;
    uint8_t flags;
    const GraphicClass* graphic_class;
  };
  struct PictureFormat {
    std::string extension;
    std::string description;
  };

  // Throws PictureError "Attempt to register %s twice." for a known extension without replace.
  void AddFileFormat(const std::string& extension, const std::string& common_description,
                     const std::string& individual_description, uint8_t flags, bool replace,
                     const GraphicClass* graphic_class);
  const GraphicClass* ClassForExtension(std::string extension) const;
  const GraphicClass* ClassForContent(MemoryStream& stream) const;
  // With an empty extension: every extension of the class, and the class.
  void RemoveFileFormat(const std::string& extension, const GraphicClass* graphic_class);

  const std::vector<ClassEntry>& Classes() const { return classes_; }
  const std::vector<ExtensionEntry>& Extensions() const { return extensions_; }
  // Every registered extension with the description a file dialog would show.
  const std::vector<PictureFormat>& PictureFormats() const { return picture_formats_; }

 private:
  ClassEntry& ClassEntryFor(const GraphicClass* graphic_class);
  void Unlink(const GraphicClass* graphic_class);
  void RegisterPictureFormat(const std::string& extension, const std::string& description);
  void UnregisterPictureFormat(const std::string& extension);

  std::vector<ClassEntry> classes_;
  std::vector<ExtensionEntry> extensions_;
  std::vector<PictureFormat> picture_formats_;
};

// Fills a list with every format the engine reads, in the engine's order.
void RegisterStandardFormats(FileFormatList& list);
// The process-wide list, filled on first use.
FileFormatList& FileFormats();

// How a picture was recognised.
struct LoadedPictureInfo {
  const GraphicClass* graphic_class = nullptr;
  bool by_content = false;
};

// The extension of an entry name: from the last "." after the last "\", "/" or ":", the dot
// included; empty when there is none.
std::string PictureExtension(const std::string& name);

// Decodes `data` the way the data file loads pictures: the content tests first, then the
// extension of `name`. False (and `picture` unchanged) when no class takes it; a decoder's
// PictureError passes to the caller.
bool DecodePicture(const uint8_t* data, size_t size, const std::string& name, Picture* picture,
                   LoadedPictureInfo* info = nullptr);

}  // namespace quenvale

#endif  // QUENVALE_IMAGING_FORMAT_REGISTRY_H_
