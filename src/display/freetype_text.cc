#include "display/freetype_text.h"

#include <algorithm>
#include <cstddef>

#ifndef _WIN32
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <cstring>
#include <map>
#include <tuple>
#include <vector>
#endif

#include "common/strings.h"

namespace quenvale {

std::u32string DecodeText(const std::string& text) {
  std::u32string utf8;
  utf8.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    const size_t length = Utf8SequenceAt(text, i, &code);
    if (length == 0) {
      // Not UTF-8: the text is Windows-1252, byte for byte.
      std::u32string ansi;
      ansi.reserve(text.size());
      for (char c : text) ansi.push_back(Cp1252CodePoint(static_cast<unsigned char>(c)));
      return ansi;
    }
    utf8.push_back(code);
    i += length;
  }
  return utf8;
}

namespace {

constexpr int32_t Bgr(int32_t r, int32_t g, int32_t b) { return r | g << 8 | b << 16; }

// The classic Windows colour scheme, by system colour index.
constexpr int32_t kSystemColors[] = {
    Bgr(192, 192, 192),  // scroll bar
    Bgr(0, 128, 128),    // desktop
    Bgr(0, 0, 128),      // active caption
    Bgr(128, 128, 128),  // inactive caption
    Bgr(192, 192, 192),  // menu
    Bgr(255, 255, 255),  // window
    Bgr(0, 0, 0),        // window frame
    Bgr(0, 0, 0),        // menu text
    Bgr(0, 0, 0),        // window text
    Bgr(255, 255, 255),  // caption text
    Bgr(192, 192, 192),  // active border
    Bgr(192, 192, 192),  // inactive border
    Bgr(128, 128, 128),  // application workspace
    Bgr(0, 0, 128),      // highlight
    Bgr(255, 255, 255),  // highlight text
    Bgr(192, 192, 192),  // button face
    Bgr(128, 128, 128),  // button shadow
    Bgr(128, 128, 128),  // grey text
    Bgr(0, 0, 0),        // button text
    Bgr(192, 192, 192),  // inactive caption text
    Bgr(255, 255, 255),  // button highlight
    Bgr(0, 0, 0),        // 3D dark shadow
    Bgr(223, 223, 223),  // 3D light
    Bgr(0, 0, 0),        // tooltip text
    Bgr(255, 255, 225),  // tooltip background
    Bgr(0, 0, 0),        // (unused index 25)
    Bgr(0, 0, 255),      // hot-tracked item
    Bgr(16, 132, 208),   // active caption gradient
    Bgr(181, 181, 181),  // inactive caption gradient
    Bgr(0, 0, 128),      // menu highlight
    Bgr(192, 192, 192),  // menu bar
};

}  // namespace

int32_t ResolveTextColor(int32_t color) {
  const auto value = static_cast<uint32_t>(color);
  if ((value & 0xFF000000u) == 0xFF000000u) {
    const uint32_t index = value & 0x00FFFFFFu;
    constexpr size_t kCount = sizeof(kSystemColors) / sizeof(kSystemColors[0]);
    return index < kCount ? kSystemColors[index] : 0;
  }
  return static_cast<int32_t>(value & 0x00FFFFFFu);
}

#ifdef _WIN32

// No FreeType in the Windows build: measure and draw nothing (see the header).
struct FreeTypeText::Impl {};

FreeTypeText::FreeTypeText() : impl_(std::make_unique<Impl>()) {}
FreeTypeText::~FreeTypeText() = default;
void FreeTypeText::SetFont(const Font&) {}
int32_t FreeTypeText::TextWidth(const std::string&) { return 0; }
int32_t FreeTypeText::Ascent() { return 0; }
int32_t FreeTypeText::Descent() { return 0; }
std::string FreeTypeText::FamilyName() { return std::string(); }
void FreeTypeText::Draw(uint32_t*, int32_t, int32_t, int32_t, int32_t, const std::string&) {}

#else  // FreeType and fontconfig

#if defined(__SANITIZE_ADDRESS__)
#define QUENVALE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUENVALE_LEAK_CHECKED 1
#endif
#endif
#ifdef QUENVALE_LEAK_CHECKED
// fontconfig loses a few bytes while parsing the system configuration, once per process; every
// program that draws text would otherwise fail the leak check at exit for it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

namespace {

// Beyond this the glyphs would not fit any screen; it also keeps the arithmetic small.
constexpr int64_t kMaxCellPixels = 4096;
// Synthetic italic: x += 0.2 * y, the slant of a typical oblique.
constexpr FT_Fixed kItalicShear = 0x3333;
// Rendered glyphs kept per text object before the cache starts over.
constexpr size_t kMaxCachedGlyphs = 4096;

bool IsGenericFamily(const std::string& name) {
  static const char* const kGeneric[] = {"sans-serif", "sans",    "serif",     "monospace", "mono",
                                         "cursive",    "fantasy", "system-ui", "emoji"};
  for (const char* generic : kGeneric) {
    if (FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(generic),
                           reinterpret_cast<const FcChar8*>(name.c_str())) == 0) {
      return true;
    }
  }
  return false;
}

struct FaceFile {
  std::string path;
  int index = 0;
};

// fontconfig's choice for `family` in the given style. With `strict`, only a face of that family
// or of a family the configuration binds strongly to it (its configured replacements) counts;
// the weakly bound families it appends are everybody's defaults, not a match.
bool FindFace(const std::string& family, bool bold, bool italic, bool strict, FaceFile* found) {
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  if (!FcConfigSubstitute(nullptr, pattern, FcMatchPattern)) {
    FcPatternDestroy(pattern);
    return false;
  }
  std::vector<std::string> accepted;
  FcPatternIter iter;
  FcPatternIterStart(pattern, &iter);
  if (FcPatternIterIsValid(pattern, &iter)) {
    do {
      if (std::strcmp(FcPatternIterGetObject(pattern, &iter), FC_FAMILY) != 0) continue;
      const int count = FcPatternIterValueCount(pattern, &iter);
      for (int i = 0; i < count; ++i) {
        FcValue value;
        FcValueBinding binding;
        if (FcPatternIterGetValue(pattern, &iter, i, &value, &binding) == FcResultMatch &&
            value.type == FcTypeString && binding != FcValueBindingWeak) {
          accepted.emplace_back(reinterpret_cast<const char*>(value.u.s));
        }
      }
    } while (FcPatternIterNext(pattern, &iter));
  }
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (match == nullptr) return false;

  bool ok = !strict || IsGenericFamily(family);
  FcChar8* name = nullptr;
  for (int i = 0; !ok && FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
    for (const std::string& want : accepted) {
      if (FcStrCmpIgnoreCase(name, reinterpret_cast<const FcChar8*>(want.c_str())) == 0) ok = true;
    }
  }
  FcChar8* file = nullptr;
  if (ok && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    found->path = reinterpret_cast<const char*>(file);
    int index = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    found->index = index;
  } else {
    ok = false;
  }
  FcPatternDestroy(match);
  return ok;
}

// One opened face in one requested style, with the metrics that do not depend on the size.
struct FaceEntry {
  FT_Face face = nullptr;
  bool synth_bold = false;
  bool synth_italic = false;
  bool symbol_map = false;  // a symbol font: characters live at U+F000 + code
  int64_t units_per_em = 2048;
  int64_t ascent = 0;  // font units
  int64_t descent = 0;
  int64_t underline_position = 0;  // centre of the stroke, negative below the baseline
  int64_t underline_thickness = 0;
  int64_t strikeout_position = 0;  // top of the stroke above the baseline
  int64_t strikeout_thickness = 0;
  FT_F26Dot6 size_set = -1;  // the character size last given to the face

  ~FaceEntry() {
    if (face != nullptr) FT_Done_Face(face);
  }
};

struct Glyph {
  int32_t advance = 0;  // pixels, synthetic bold included
  int32_t left = 0;     // bitmap position relative to the pen on the baseline
  int32_t top = 0;
  int32_t width = 0;
  int32_t rows = 0;
  std::vector<uint8_t> coverage;  // 0..255, rows top to bottom
};

// The face, size and synthesis a glyph was rendered with.
using GlyphKey = std::tuple<const FaceEntry*, FT_F26Dot6, int32_t, FT_UInt>;

int64_t RoundScaled(int64_t units, double scale) {
  return static_cast<int64_t>(std::lround(static_cast<double>(units) * scale));
}

}  // namespace

struct FreeTypeText::Impl {
  FT_Library library = nullptr;
  bool library_failed = false;
  std::map<std::string, std::unique_ptr<FaceEntry> > faces;
  std::map<GlyphKey, Glyph> glyphs;

  Font font;
  bool prepared = false;
  // Valid once prepared, for `font`.
  FaceEntry* entry = nullptr;
  double em = 0;  // pixels
  FT_F26Dot6 em26 = 0;
  int64_t ascent = 0;
  int64_t descent = 0;
  int32_t bold_extra = 0;

  struct Placed {
    const Glyph* glyph;
    int64_t pen_x;
  };

  ~Impl() {
    faces.clear();
    if (library != nullptr) FT_Done_FreeType(library);
  }

  std::unique_ptr<FaceEntry> OpenFace(const FaceFile& file, bool bold, bool italic) {
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.path.c_str(), file.index, &face) != 0) return nullptr;
    auto entry = std::make_unique<FaceEntry>();
    entry->face = face;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0) {
      entry->symbol_map = FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL) == 0;
    }
    entry->synth_bold = bold && (face->style_flags & FT_STYLE_FLAG_BOLD) == 0;
    entry->synth_italic = italic && (face->style_flags & FT_STYLE_FLAG_ITALIC) == 0;
    entry->units_per_em = face->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const bool has_os2 = os2 != nullptr && os2->version != 0xFFFF;
    if (has_os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      entry->ascent = os2->usWinAscent;
      entry->descent = os2->usWinDescent;
    } else if (face->ascender - face->descender > 0) {
      entry->ascent = face->ascender;
      entry->descent = -face->descender;
    } else {
      entry->ascent = face->bbox.yMax;
      entry->descent = -face->bbox.yMin;
    }
    if (entry->ascent + entry->descent <= 0) {
      entry->ascent = entry->units_per_em * 4 / 5;
      entry->descent = entry->units_per_em / 5;
    }
    const int64_t em = entry->units_per_em;
    entry->underline_thickness =
        face->underline_thickness > 0 ? face->underline_thickness : em / 14;
    entry->underline_position = face->underline_position != 0 ? face->underline_position : -em / 10;
    if (has_os2 && os2->yStrikeoutSize > 0) {
      entry->strikeout_thickness = os2->yStrikeoutSize;
      entry->strikeout_position = os2->yStrikeoutPosition;
    } else {
      entry->strikeout_thickness = entry->underline_thickness;
      entry->strikeout_position = em * 3 / 10;
    }
    return entry;
  }

  FaceEntry* Face(const std::string& name, bool bold, bool italic) {
    const std::string key = name + '\n' + (bold ? 'b' : '-') + (italic ? 'i' : '-');
    auto it = faces.find(key);
    if (it != faces.end()) return it->second.get();
    std::unique_ptr<FaceEntry> entry;
    FaceFile file;
    if (!name.empty() && FindFace(name, bold, italic, true, &file)) {
      entry = OpenFace(file, bold, italic);
    }
    if (!entry && FindFace(kFallbackFamily, bold, italic, true, &file)) {
      entry = OpenFace(file, bold, italic);
    }
    if (!entry && FindFace(name.empty() ? kFallbackFamily : name, bold, italic, false, &file)) {
      entry = OpenFace(file, bold, italic);
    }
    // A failed lookup is remembered too (as null), so it is not repeated every frame.
    FaceEntry* raw = entry.get();
    faces.emplace(key, std::move(entry));
    return raw;
  }

  bool Prepare() {
    if (prepared) return entry != nullptr;
    prepared = true;
    entry = nullptr;
    if (library == nullptr && !library_failed && FT_Init_FreeType(&library) != 0) {
      library = nullptr;
      library_failed = true;
    }
    if (library == nullptr) return false;
    entry = Face(font.Name, (font.Style & fsBold) != 0, (font.Style & fsItalic) != 0);
    if (entry == nullptr) return false;

    const int64_t units = entry->ascent + entry->descent;
    const int64_t height = std::clamp<int64_t>(font.Height, -kMaxCellPixels, kMaxCellPixels);
    if (height > 0) {
      em = static_cast<double>(height) * static_cast<double>(entry->units_per_em) / units;
      ascent = (2 * height * entry->ascent + units) / (2 * units);
      descent = height - ascent;
    } else {
      em = height < 0 ? static_cast<double>(-height) : kDefaultEmPixels;
      const double scale = em / static_cast<double>(entry->units_per_em);
      ascent = RoundScaled(entry->ascent, scale);
      descent = RoundScaled(entry->descent, scale);
    }
    em26 = std::max<FT_F26Dot6>(1, static_cast<FT_F26Dot6>(std::lround(em * 64)));
    bold_extra = entry->synth_bold ? std::max(1, static_cast<int32_t>(std::lround(em / 24))) : 0;
    return true;
  }

  FT_UInt GlyphIndex(char32_t c) const {
    FT_UInt index = FT_Get_Char_Index(entry->face, c);
    if (index == 0 && entry->symbol_map && c < 0x100) {
      index = FT_Get_Char_Index(entry->face, 0xF000 + c);
    }
    return index;
  }

  const Glyph& Render(FT_UInt index) {
    const GlyphKey key(entry, em26, bold_extra, index);
    auto it = glyphs.find(key);
    if (it != glyphs.end()) return it->second;
    if (glyphs.size() >= kMaxCachedGlyphs) glyphs.clear();
    Glyph& glyph = glyphs[key];

    FT_Face face = entry->face;
    if (entry->size_set != em26) {
      if (FT_Set_Char_Size(face, 0, em26, 72, 72) != 0) return glyph;
      entry->size_set = em26;
    }
    // Outlines only: embedded bitmaps could be neither slanted nor emboldened.
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return glyph;
    FT_GlyphSlot slot = face->glyph;
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
      if (entry->synth_italic) {
        FT_Matrix shear{0x10000, kItalicShear, 0, 0x10000};
        FT_Outline_Transform(&slot->outline, &shear);
      }
      if (bold_extra > 0) {
        // Widen to the right only: the left edge stays where it was.
        FT_BBox before, after;
        FT_Outline_Get_CBox(&slot->outline, &before);
        FT_Outline_EmboldenXY(&slot->outline, static_cast<FT_Pos>(bold_extra) * 64, 0);
        FT_Outline_Get_CBox(&slot->outline, &after);
        FT_Outline_Translate(&slot->outline, before.xMin - after.xMin, 0);
      }
    }
    glyph.advance = static_cast<int32_t>((slot->advance.x + 32) >> 6) + bold_extra;
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    glyph.width = static_cast<int32_t>(bitmap.width);
    glyph.rows = static_cast<int32_t>(bitmap.rows);
    glyph.coverage.assign(static_cast<size_t>(glyph.width) * glyph.rows, 0);
    const int grays = bitmap.num_grays > 1 ? bitmap.num_grays - 1 : 255;
    for (int32_t r = 0; r < glyph.rows; ++r) {
      const unsigned char* row = bitmap.buffer + static_cast<ptrdiff_t>(r) * bitmap.pitch;
      uint8_t* out = glyph.coverage.data() + static_cast<size_t>(r) * glyph.width;
      for (int32_t c = 0; c < glyph.width; ++c) {
        if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) {
          out[c] = (row[c >> 3] & (0x80 >> (c & 7))) != 0 ? 255 : 0;
        } else if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
          out[c] = static_cast<uint8_t>(row[c] * 255 / grays);
        }
      }
    }
    return glyph;
  }

  // The glyphs of `text` with their pen positions from 0; returns the total advance.
  int64_t Layout(const std::string& text, std::vector<Placed>* placed) {
    int64_t pen = 0;
    FT_UInt previous = 0;
    const bool kerning = FT_HAS_KERNING(entry->face);
    const double scale = em / static_cast<double>(entry->units_per_em);
    for (char32_t c : DecodeText(text)) {
      const FT_UInt index = GlyphIndex(c);
      if (kerning && previous != 0 && index != 0) {
        // Unscaled, so no size has to be set on the face just to measure.
        FT_Vector delta{0, 0};
        if (FT_Get_Kerning(entry->face, previous, index, FT_KERNING_UNSCALED, &delta) == 0) {
          pen += RoundScaled(delta.x, scale);
        }
      }
      const Glyph& glyph = Render(index);
      if (placed != nullptr) placed->push_back({&glyph, pen});
      pen += glyph.advance;
      previous = index;
    }
    return pen;
  }
};

FreeTypeText::FreeTypeText() : impl_(std::make_unique<Impl>()) {}

FreeTypeText::~FreeTypeText() = default;

void FreeTypeText::SetFont(const Font& font) {
  if (font == impl_->font && impl_->prepared) return;
  impl_->font = font;
  impl_->prepared = false;
}

int32_t FreeTypeText::TextWidth(const std::string& text) {
  if (!impl_->Prepare()) return 0;
  return static_cast<int32_t>(std::min<int64_t>(impl_->Layout(text, nullptr), INT32_MAX));
}

int32_t FreeTypeText::Ascent() {
  return impl_->Prepare() ? static_cast<int32_t>(impl_->ascent) : 0;
}

int32_t FreeTypeText::Descent() {
  return impl_->Prepare() ? static_cast<int32_t>(impl_->descent) : 0;
}

std::string FreeTypeText::FamilyName() {
  if (!impl_->Prepare() || impl_->entry->face->family_name == nullptr) return std::string();
  return impl_->entry->face->family_name;
}

void FreeTypeText::Draw(uint32_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y,
                        const std::string& text) {
  if (pixels == nullptr || width <= 0 || height <= 0 || text.empty()) return;
  Impl& impl = *impl_;
  if (!impl.Prepare()) return;
  std::vector<Impl::Placed> placed;
  const int64_t advance = impl.Layout(text, &placed);

  const auto color = static_cast<uint32_t>(ResolveTextColor(impl.font.Color));
  const uint32_t red = color & 0xFF, green = (color >> 8) & 0xFF, blue = (color >> 16) & 0xFF;
  const uint32_t solid = red << 16 | green << 8 | blue;
  auto blend = [&](int64_t px, int64_t py, uint32_t alpha) {
    if (alpha == 0 || px < 0 || py < 0 || px >= width || py >= height) return;
    Changed(px, py);
    uint32_t& dst = pixels[static_cast<size_t>(py) * width + px];
    if (alpha == 255) {
      dst = solid;
      return;
    }
    auto mix = [alpha](uint32_t fg, uint32_t bg) {
      return (fg * alpha + bg * (255 - alpha) + 127) / 255;
    };
    dst = mix(red, (dst >> 16) & 0xFF) << 16 | mix(green, (dst >> 8) & 0xFF) << 8 |
          mix(blue, dst & 0xFF);
  };

  const int64_t baseline = static_cast<int64_t>(y) + impl.ascent;
  for (const Impl::Placed& p : placed) {
    const Glyph& glyph = *p.glyph;
    const int64_t left = x + p.pen_x + glyph.left;
    const int64_t top = baseline - glyph.top;
    if (left >= width || top >= height || left + glyph.width <= 0 || top + glyph.rows <= 0) {
      continue;
    }
    for (int32_t r = 0; r < glyph.rows; ++r) {
      const uint8_t* row = glyph.coverage.data() + static_cast<size_t>(r) * glyph.width;
      for (int32_t c = 0; c < glyph.width; ++c) blend(left + c, top + r, row[c]);
    }
  }

  // Lines across the whole advance, as GDI draws them.
  const FaceEntry& face = *impl.entry;
  const double scale = impl.em / static_cast<double>(face.units_per_em);
  auto line = [&](int64_t top, int64_t thickness) {
    const int64_t x0 = std::max<int64_t>(x, 0);
    const int64_t x1 = std::min<int64_t>(static_cast<int64_t>(x) + advance, width);
    for (int64_t py = std::max<int64_t>(top, 0); py < std::min<int64_t>(top + thickness, height);
         ++py) {
      if (x0 < x1) {
        Changed(x0, py);
        Changed(x1 - 1, py);
      }
      for (int64_t px = x0; px < x1; ++px) pixels[static_cast<size_t>(py) * width + px] = solid;
    }
  };
  if ((impl.font.Style & fsUnderline) != 0) {
    const int64_t thickness = std::max<int64_t>(1, RoundScaled(face.underline_thickness, scale));
    int64_t top = baseline + RoundScaled(-face.underline_position, scale) - thickness / 2;
    // Inside the cell where it fits, but always below the baseline.
    top = std::min(top, baseline + impl.descent - thickness);
    top = std::max(top, baseline);
    line(top, thickness);
  }
  if ((impl.font.Style & fsStrikeOut) != 0) {
    const int64_t thickness = std::max<int64_t>(1, RoundScaled(face.strikeout_thickness, scale));
    line(baseline - RoundScaled(face.strikeout_position, scale), thickness);
  }
}

#endif  // _WIN32

void FreeTypeText::Changed(int64_t x, int64_t y) {
  changed_left_ = std::min(changed_left_, x);
  changed_top_ = std::min(changed_top_, y);
  changed_right_ = std::max(changed_right_, x + 1);
  changed_bottom_ = std::max(changed_bottom_, y + 1);
}

bool FreeTypeText::TakeChanged(int32_t* left, int32_t* top, int32_t* right, int32_t* bottom) {
  const bool any = changed_left_ < changed_right_;
  if (any) {
    // Pixels of a buffer: every coordinate fits.
    *left = static_cast<int32_t>(changed_left_);
    *top = static_cast<int32_t>(changed_top_);
    *right = static_cast<int32_t>(changed_right_);
    *bottom = static_cast<int32_t>(changed_bottom_);
  }
  changed_left_ = changed_top_ = INT64_MAX;
  changed_right_ = changed_bottom_ = INT64_MIN;
  return any;
}

}  // namespace quenvale
