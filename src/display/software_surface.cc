#include "display/software_surface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace quenvale {

namespace {

// A colour-keyed row: every pixel that is not the key. With SSE2 (every x86-64), four pixels a
// step, and a step that is all key writes nothing; the rows never overlap (a copy within one
// surface reads from a snapshot).
void CopyKeyedRowSse2(const uint32_t* in, uint32_t* out, int32_t n, uint32_t key) {
  int32_t col = 0;
#ifdef __SSE2__
  const __m128i keys = _mm_set1_epi32(static_cast<int>(key));
  for (; col + 4 <= n; col += 4) {
    const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + col));
    const __m128i is_key = _mm_cmpeq_epi32(source, keys);
    const int mask = _mm_movemask_ps(_mm_castsi128_ps(is_key));
    if (mask == 0xF) continue;
    __m128i* target = reinterpret_cast<__m128i*>(out + col);
    if (mask == 0) {
      _mm_storeu_si128(target, source);
      continue;
    }
    const __m128i kept = _mm_and_si128(is_key, _mm_loadu_si128(target));
    _mm_storeu_si128(target, _mm_or_si128(kept, _mm_andnot_si128(is_key, source)));
  }
#endif
  for (; col < n; ++col) {
    if (in[col] != key) out[col] = in[col];
  }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight pixels a step, for the processors that have AVX2 (chosen when the program runs).
__attribute__((target("avx2"))) void CopyKeyedRowAvx2(const uint32_t* in, uint32_t* out,
                                                      int32_t n, uint32_t key) {
  const __m256i keys = _mm256_set1_epi32(static_cast<int>(key));
  int32_t col = 0;
  for (; col + 8 <= n; col += 8) {
    const __m256i source = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + col));
    const __m256i is_key = _mm256_cmpeq_epi32(source, keys);
    const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(is_key));
    if (mask == 0xFF) continue;
    __m256i* target = reinterpret_cast<__m256i*>(out + col);
    if (mask == 0) {
      _mm256_storeu_si256(target, source);
      continue;
    }
    _mm256_storeu_si256(target, _mm256_blendv_epi8(source, _mm256_loadu_si256(target), is_key));
  }
  CopyKeyedRowSse2(in + col, out + col, n - col, key);
}

// The widest vector instructions to use: QUENVALE_SIMD=sse2 in the environment keeps to what
// every x86-64 has, and QUENVALE_SIMD=avx2 to AVX2, so that every path can be tested and
// compared on one machine.
enum class Simd { kSse2, kAvx2, kAvx512 };
std::string WantedSimd() {
  const char* wanted = std::getenv("QUENVALE_SIMD");
  return wanted != nullptr ? wanted : "";
}
Simd ChooseSimd() {
  __builtin_cpu_init();  // this runs among the static initialisers
  const std::string simd = WantedSimd();
  if (simd == "sse2" || !__builtin_cpu_supports("avx2")) return Simd::kSse2;
  if (simd == "avx2" || !__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512vl")) {
    return Simd::kAvx2;
  }
  return Simd::kAvx512;
}
const Simd kSimd = ChooseSimd();

using KeyedRowCopy = void (*)(const uint32_t*, uint32_t*, int32_t, uint32_t);
KeyedRowCopy ChooseKeyedRowCopy() {
  return kSimd != Simd::kSse2 ? CopyKeyedRowAvx2 : CopyKeyedRowSse2;
}
const KeyedRowCopy CopyKeyedRow = ChooseKeyedRowCopy();
#else
constexpr auto CopyKeyedRow = CopyKeyedRowSse2;
#endif

// Cuts `rect` to [0, width) x [0, height), moving `other` (a rectangle of the same size, or a
// point) by the same amounts so the two stay in step.
bool ClipTogether(Rect* rect, int32_t width, int32_t height, int32_t* other_x, int32_t* other_y) {
  if (rect->Left < 0) {
    *other_x -= rect->Left;
    rect->Left = 0;
  }
  if (rect->Top < 0) {
    *other_y -= rect->Top;
    rect->Top = 0;
  }
  rect->Right = std::min(rect->Right, width);
  rect->Bottom = std::min(rect->Bottom, height);
  return !rect->Empty();
}

// Calls emit(begin, end) for every run of set bits, in order, across words [first_word,
// last_word], each word's bits given by bits_of(word) in turn; bit b of word w is column
// w * 64 + b. A run that reaches the end of the last word ends there.
template <typename BitsOf, typename Emit>
void ForEachRun(int32_t first_word, int32_t last_word, BitsOf bits_of, Emit emit) {
  int32_t open = -1;  // where the run in hand began
  for (int32_t word = first_word; word <= last_word; ++word) {
    const uint64_t bits = bits_of(word);
    const int32_t base = word * 64;
    int bit = 0;
    while (bit < 64) {
      if (open < 0) {
        const uint64_t rest = bits >> bit;
        if (rest == 0) break;
        bit += __builtin_ctzll(rest);
        open = base + bit;
      }
      const uint64_t unset = ~bits >> bit;
      if (unset == 0) break;  // the run goes on into the next word
      bit += __builtin_ctzll(unset);
      emit(open, base + bit);
      open = -1;
    }
  }
  if (open >= 0) emit(open, (last_word + 1) * 64);
}

// The bits of word `word` that fall in columns [left, right), left < right.
uint64_t InColumns(int32_t word, int32_t left, int32_t right) {
  uint64_t bits = ~uint64_t{0};
  if (word == left >> 6) bits &= ~uint64_t{0} << (left & 63);
  if (word == (right - 1) >> 6) bits &= ~uint64_t{0} >> (63 - ((right - 1) & 63));
  return bits;
}

// Calls emit(begin, end) for the runs of columns [left, right) whose bit in `row` (a PixelBits
// row) is clear.
template <typename Emit>
void ForEachClearRun(const uint64_t* row, int32_t left, int32_t right, Emit emit) {
  if (left >= right) return;
  ForEachRun(
      left >> 6, (right - 1) >> 6,
      [row, left, right](int32_t word) { return ~row[word + 1] & InColumns(word, left, right); },
      emit);
}

// A row of a copy `words` words wide: fresh[k] = the bits of word k that the copy sets and
// done[k] lacks, and done[k] takes them. The copy's bits come from sets_from, `shift` bits on;
// its columns are those of head in its first word and of tail in its last, and where it is at
// most kFewWords words wide, `keep` holds them for each word. Returns whether any bit is fresh.
constexpr int32_t kFewWords = 4;
inline bool MarkFresh(const uint64_t* sets_from, int shift, uint64_t head, uint64_t tail,
                      const uint64_t* keep, int32_t words, uint64_t* done, uint64_t* fresh) {
#ifdef __SSE2__
  if (words <= kFewWords) {
    // Two words a step. A word after the copy's is read from the rows' slack and written back
    // as it was (its bits in `keep` are clear).
    const __m128i right = _mm_cvtsi32_si128(shift), left = _mm_cvtsi32_si128(63 - shift);
    __m128i any = _mm_setzero_si128();
    for (int32_t k = 0; k < words; k += 2) {
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sets_from + k));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sets_from + k + 1));
      // Two shifts, so that a shift of 0 needs no branch.
      const __m128i sets = _mm_and_si128(
          _mm_or_si128(_mm_srl_epi64(low, right), _mm_sll_epi64(_mm_slli_epi64(high, 1), left)),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep + k)));
      __m128i* const covered = reinterpret_cast<__m128i*>(done + k);
      const __m128i was = _mm_loadu_si128(covered);
      const __m128i is_fresh = _mm_andnot_si128(was, sets);
      _mm_storeu_si128(covered, _mm_or_si128(was, sets));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(fresh + k), is_fresh);
      any = _mm_or_si128(any, is_fresh);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF;
  }
#endif
  (void)keep;
  uint64_t any = 0;
  for (int32_t k = 0; k < words; ++k) {
    uint64_t sets = (sets_from[k] >> shift) | ((sets_from[k + 1] << 1) << (63 - shift));
    sets &= (k == 0 ? head : ~uint64_t{0}) & (k == words - 1 ? tail : ~uint64_t{0});
    fresh[k] = sets & ~done[k];
    done[k] |= sets;
    any |= fresh[k];
  }
  return any != 0;
}

// `n` pixels; most runs are short, and a call to memcpy costs more than they do.
inline void CopyPixels(const uint32_t* in, uint32_t* out, int32_t n) {
  if (n > 64) {
    std::memcpy(out, in, static_cast<size_t>(n) * sizeof(uint32_t));
    return;
  }
#ifdef __SSE2__
  if (n >= 4) {
    for (int32_t i = 0; i + 4 < n; i += 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
    }
    // The last four, overlapping the ones before when n is not a multiple of four.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 4),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + n - 4)));
    return;
  }
#endif
  for (int32_t i = 0; i < n; ++i) out[i] = in[i];
}

#if defined(__x86_64__) && defined(__GNUC__)
// For every set bit of fresh[0 .. words), bit b of fresh[k] standing for column
// (first_word + k) * 64 + b: out[column] = in[column + delta], eight pixels a step, for rows of
// many short runs. store(column, mask) copies the group of eight from `column` whose bits `mask`
// holds; it is called only where the source can be read in whole groups, where the group lies in
// [safe_begin, safe_end), and the pixels elsewhere are copied one by one.
template <typename StoreGroup>
inline void ForEachFreshGroup(const uint32_t* in, uint32_t* out, int32_t delta,
                              const uint64_t* fresh, int32_t first_word, int32_t words,
                              int32_t safe_begin, int32_t safe_end, StoreGroup store) {
  for (int32_t k = 0; k < words; ++k) {
    const uint64_t bits = fresh[k];
    const int32_t base = (first_word + k) * 64;
    for (uint64_t rest = bits; rest != 0;) {
      const int b = __builtin_ctzll(rest) & ~7;
      rest &= ~(uint64_t{0xFF} << b);
      const int32_t c = base + b;
      auto m = static_cast<uint32_t>(bits >> b) & 0xFF;
      if (c < safe_begin || c + 8 > safe_end) {
        for (; m != 0; m &= m - 1) out[c + __builtin_ctz(m)] = in[c + __builtin_ctz(m) + delta];
        continue;
      }
      store(c, m);
    }
  }
}

// Through AVX2's masked store.
__attribute__((target("avx2"), flatten)) void CopyFreshBitsAvx2(
    const uint32_t* in, uint32_t* out, int32_t delta, const uint64_t* fresh, int32_t first_word,
    int32_t words, int32_t safe_begin, int32_t safe_end) {
  const __m256i lanes = _mm256_set_epi32(128, 64, 32, 16, 8, 4, 2, 1);
  ForEachFreshGroup(
      in, out, delta, fresh, first_word, words, safe_begin,
      safe_end, [=](int32_t c, uint32_t m) __attribute__((target("avx2"))) {
        const __m256i set = _mm256_cmpeq_epi32(
            _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(m)), lanes), lanes);
        _mm256_maskstore_epi32(
            reinterpret_cast<int*>(out + c), set,
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + c + delta)));
      });
}

// Through AVX-512's mask registers, which take the bits as they are.
__attribute__((target("avx2,avx512f,avx512vl"), flatten)) void CopyFreshBitsAvx512(
    const uint32_t* in, uint32_t* out, int32_t delta, const uint64_t* fresh, int32_t first_word,
    int32_t words, int32_t safe_begin, int32_t safe_end) {
  ForEachFreshGroup(
      in, out, delta, fresh, first_word, words, safe_begin,
      safe_end, [=](int32_t c, uint32_t m) __attribute__((target("avx2,avx512f,avx512vl"))) {
        const auto mask = static_cast<__mmask8>(m);
        _mm256_mask_storeu_epi32(out + c, mask, _mm256_maskz_loadu_epi32(mask, in + c + delta));
      });
}

using FreshBitsCopy = void (*)(const uint32_t*, uint32_t*, int32_t, const uint64_t*, int32_t,
                               int32_t, int32_t, int32_t);
// The masked copy where it is quick, none elsewhere: AVX2's masked store is slow on AMD's
// processors (QUENVALE_SIMD=avx2 still chooses it, to test it there).
FreshBitsCopy ChooseFreshBitsCopy() {
  if (kSimd == Simd::kAvx512) return CopyFreshBitsAvx512;
  if (kSimd == Simd::kAvx2 && (__builtin_cpu_is("intel") || WantedSimd() == "avx2")) {
    return CopyFreshBitsAvx2;
  }
  return nullptr;
}
const FreshBitsCopy CopyFreshBits = ChooseFreshBitsCopy();
#else
constexpr void (*CopyFreshBits)(const uint32_t*, uint32_t*, int32_t, const uint64_t*, int32_t,
                                int32_t, int32_t, int32_t) = nullptr;
#endif

}  // namespace

void SoftwareCanvas::TextOut(int32_t x, int32_t y, const std::string& text) {
  text_.Draw(surface_.MutablePixels(), surface_.Width(), surface_.Height(), x, y, text);
}

Rect SoftwareCanvas::TakeChangedRect() {
  Rect changed{};
  if (!text_.TakeChanged(&changed.Left, &changed.Top, &changed.Right, &changed.Bottom)) return {};
  return changed;
}

SoftwareSurface::SoftwareSurface(int32_t width, int32_t height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      storage_(static_cast<size_t>(width_) * height_, 0),
      pixels_(storage_.data()),
      count_(storage_.size()) {}

SoftwareSurface::SoftwareSurface(int32_t width, int32_t height, uint32_t* memory)
    : width_(memory != nullptr ? std::max(width, 0) : 0),
      height_(memory != nullptr ? std::max(height, 0) : 0),
      pixels_(memory),
      count_(static_cast<size_t>(width_) * height_) {}

SoftwareSurface::SoftwareSurface(const Picture& picture)
    : SoftwareSurface(picture.width, picture.height) {
  const size_t count = std::min(count_, picture.pixels.size());
  for (size_t i = 0; i < count; ++i) pixels_[i] = picture.pixels[i] & 0x00FFFFFFu;
}

bool SoftwareSurface::Fill(uint32_t device_value) {
  if (behind_) return FillRect(Rect{0, 0, width_, height_}, device_value);
  std::fill(pixels_, pixels_ + count_, device_value);
  return true;
}

bool SoftwareSurface::FillRect(const Rect& rect, uint32_t device_value) {
  const int32_t left = std::max(rect.Left, 0), right = std::min(rect.Right, width_);
  for (int32_t y = std::max(rect.Top, 0); y < std::min(rect.Bottom, height_) && left < right; ++y) {
    uint32_t* row = pixels_ + static_cast<size_t>(y) * width_;
    if (!behind_) {
      std::fill(row + left, row + right, device_value);
      continue;
    }
    ForEachClearRun(covered_.Row(y), left, right, [row, device_value](int32_t begin, int32_t end) {
      std::fill(row + begin, row + end, device_value);
    });
  }
  return true;
}

uint32_t SoftwareSurface::MatchDeviceColor(int32_t color) {
  const auto c = static_cast<uint32_t>(color);
  return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

Canvas& SoftwareSurface::GetCanvas() {
  if (!canvas_) canvas_ = std::make_unique<SoftwareCanvas>(*this);
  return *canvas_;
}

void SoftwareSurface::CopyFrom(const Surface& source, const Rect& source_rect, int32_t x, int32_t y,
                               bool transparent) {
  const auto* from = dynamic_cast<const SoftwareSurface*>(&source);
  if (from == nullptr) return;
  Rect src = source_rect;
  if (!ClipTogether(&src, from->width_, from->height_, &x, &y)) return;
  Rect dst{x, y, x + src.Width(), y + src.Height()};
  int32_t src_left = src.Left, src_top = src.Top;
  if (!ClipTogether(&dst, width_, height_, &src_left, &src_top)) return;

  // A copy within one surface may overlap itself: read from a snapshot then.
  std::vector<uint32_t> snapshot;
  const uint32_t* read = from->pixels_;
  if (from == this) {
    snapshot.assign(pixels_, pixels_ + count_);
    read = snapshot.data();
  }
  const uint32_t key = from->color_key_;
  for (int32_t row = 0; row < dst.Height(); ++row) {
    const uint32_t* in = read + static_cast<size_t>(src_top + row) * from->width_ + src_left;
    uint32_t* out = pixels_ + static_cast<size_t>(dst.Top + row) * width_ + dst.Left;
    auto copy = [in, out, transparent, key](int32_t begin, int32_t end) {
      if (transparent) {
        CopyKeyedRow(in + begin, out + begin, end - begin, key);
      } else {
        std::copy(in + begin, in + end, out + begin);
      }
    };
    if (!behind_) {
      copy(0, dst.Width());
      continue;
    }
    ForEachClearRun(
        covered_.Row(dst.Top + row), dst.Left, dst.Right,
        [&copy, &dst](int32_t begin, int32_t end) { copy(begin - dst.Left, end - dst.Left); });
  }
}

void SoftwareSurface::CopyEach(const Surface& source, const std::vector<SurfaceCopy>& copies,
                               bool transparent) {
  const auto* from = dynamic_cast<const SoftwareSurface*>(&source);
  if (from == nullptr) return;
  if (from == this) {
    // The copies read what the surface held before them.
    SoftwareSurface before(width_, height_);
    std::copy(pixels_, pixels_ + count_, before.pixels_);
    before.color_key_ = color_key_;
    CopyEach(before, copies, transparent);
    return;
  }
  // Each copy clipped as CopyFrom clips it; the source pixels they read, as one box.
  struct Clipped {
    Rect dst;
    int32_t src_left, src_top;
  };
  std::vector<Clipped> clipped;
  clipped.reserve(copies.size());
  Rect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const SurfaceCopy& c : copies) {
    Rect src = c.source;
    int32_t x = c.x, y = c.y;
    if (!ClipTogether(&src, from->width_, from->height_, &x, &y)) continue;
    Rect dst{x, y, x + src.Width(), y + src.Height()};
    int32_t src_left = src.Left, src_top = src.Top;
    if (!ClipTogether(&dst, width_, height_, &src_left, &src_top)) continue;
    clipped.push_back(Clipped{dst, src_left, src_top});
    box = Rect{std::min(box.Left, src_left), std::min(box.Top, src_top),
               std::max(box.Right, src_left + dst.Width()),
               std::max(box.Bottom, src_top + dst.Height())};
  }
  if (clipped.empty()) return;
  // Copies that together cover less than the surface hide little of each other: the coverage
  // bits would cost more than the pixels they spare.
  int64_t area = 0;
  for (const Clipped& c : clipped) area += int64_t{c.dst.Width()} * c.dst.Height();
  if (!behind_ && area <= int64_t{width_} * height_) {
    Surface::CopyEach(source, copies, transparent);
    return;
  }

  // Which source pixels a copy sets: those that are not the key (all of them without it).
  thread_local PixelBits opaque;
  opaque.Reset(box.Width(), box.Height());
  const uint32_t key = from->color_key_;
  for (int32_t y = box.Top; y < box.Bottom; ++y) {
    const uint32_t* in = from->pixels_ + static_cast<size_t>(y) * from->width_;
    uint64_t* bits = opaque.Row(y - box.Top) + 1;
    for (int32_t x = box.Left; x < box.Right; ++x) {
      const int32_t b = x - box.Left;
      bits[b >> 6] |= static_cast<uint64_t>(!transparent || in[x] != key) << (b & 63);
    }
  }
  // Pictures of more than about one run a row (lace, leaves, snow, fins) are copied in groups of
  // pixels through a mask where the processor has one: what the copies in front leave of them
  // comes in many short runs. For the others, run by run costs less.
  bool in_groups = false;
  if (CopyFreshBits != nullptr) {
    int64_t runs = 0;
    for (int32_t y = 0; y < box.Height(); ++y) {
      const uint64_t* bits = opaque.Row(y);
      for (int32_t w = 1; w <= (box.Width() + 63) / 64; ++w) {
        runs += __builtin_popcountll(bits[w] & ~((bits[w] << 1) | (bits[w - 1] >> 63)));
      }
    }
    in_groups = 4 * runs > 5 * int64_t{box.Height()};
  }
  // Which pixels of this surface the copies drawn so far have set; drawing behind, also those
  // that earlier batches set.
  if (!behind_) ResetCovered();
  // A row's words of pixels that the copy in hand sets and no copy before it has.
  thread_local std::vector<uint64_t> fresh_buffer;
  fresh_buffer.resize(std::max<size_t>(kFewWords, static_cast<size_t>(width_) / 64 + 2));
  uint64_t* const fresh = fresh_buffer.data();
  for (auto c = clipped.rbegin(); c != clipped.rend(); ++c) {
    const int32_t first_word = c->dst.Left >> 6, last_word = (c->dst.Right - 1) >> 6;
    const int32_t words = last_word - first_word + 1;
    const uint64_t head = InColumns(first_word, c->dst.Left, c->dst.Right);
    const uint64_t tail = InColumns(last_word, c->dst.Left, c->dst.Right);
    alignas(16) uint64_t keep[kFewWords] = {};
    for (int32_t k = 0; k < std::min(words, kFewWords); ++k) {
      keep[k] = InColumns(first_word + k, c->dst.Left, c->dst.Right);
    }
    // This surface's column x reads source column x + delta, which is opaque bit
    // x + delta - box.Left + 64 of its row.
    const int32_t delta = c->src_left - c->dst.Left;
    const int64_t first_bit = int64_t{first_word} * 64 + delta - box.Left + 64;
    const int64_t word_offset = first_bit >> 6;
    const int shift = static_cast<int>(first_bit & 63);
    // Columns whose source pixel lies in the source's row and which lie in this surface's.
    const int32_t safe_begin = std::max(0, -delta);
    const int32_t safe_end = std::min(width_, from->width_ - delta);
    for (int32_t y = c->dst.Top; y < c->dst.Bottom; ++y) {
      if (y % kBandRows == 0 || y == c->dst.Top) {
        // A band covered throughout this copy's words is skipped whole.
        const uint8_t* full = full_bands_.data() + (y / kBandRows) * band_words_;
        bool hidden = true;
        for (int32_t word = first_word; word <= last_word && hidden; ++word) hidden = full[word];
        if (hidden) {
          y = std::min(c->dst.Bottom, (y / kBandRows + 1) * kBandRows) - 1;
          continue;
        }
      }
      const int32_t row = y - c->dst.Top;
      const uint64_t* sets_from = opaque.Row(c->src_top + row - box.Top) + word_offset;
      uint64_t* done = covered_.Row(y) + 1 + first_word;
      if (!MarkFresh(sets_from, shift, head, tail, keep, words, done, fresh)) continue;  // hidden
      // Words this row has just filled may complete their band.
      const int32_t band = y / kBandRows;
      const int32_t band_end = std::min(height_, (band + 1) * kBandRows);
      for (int32_t k = 0; k < words; ++k) {
        if (fresh[k] == 0 || done[k] != ~uint64_t{0}) continue;
        uint64_t all = ~uint64_t{0};
        for (int32_t other = band * kBandRows; other < band_end; ++other) {
          all &= covered_.Row(other)[1 + first_word + k];
        }
        full_bands_[band * band_words_ + first_word + k] = all == ~uint64_t{0};
      }
      const uint32_t* in = from->pixels_ + static_cast<size_t>(c->src_top + row) * from->width_;
      uint32_t* out = pixels_ + static_cast<size_t>(y) * width_;
      if (in_groups) {
        CopyFreshBits(in, out, delta, fresh, first_word, words, safe_begin, safe_end);
        continue;
      }
      ForEachRun(
          first_word, last_word,
          [fresh, first_word](int32_t word) { return fresh[word - first_word]; },
          [&](int32_t begin, int32_t end) {
            CopyPixels(in + (begin + delta), out + begin, end - begin);
          });
    }
  }
}

void SoftwareSurface::ResetCovered() {
  covered_.Reset(width_, height_);
  band_words_ = static_cast<size_t>(width_) / 64 + 1;
  full_bands_.assign(band_words_ * (static_cast<size_t>(height_) / kBandRows + 1), 0);
}

bool SoftwareSurface::BeginBehind() {
  ResetCovered();
  behind_ = true;
  return true;
}

void SoftwareSurface::StretchFrom(const Surface& source, const Rect& source_rect, const Rect& dest,
                                  bool transparent) {
  const auto* from = dynamic_cast<const SoftwareSurface*>(&source);
  if (from == nullptr || source_rect.Empty() || dest.Empty()) return;
  // The same size both ways samples pixel for pixel: a plain copy, as for a background that
  // was prepared at the size it is drawn.
  if (source_rect.Width() == dest.Width() && source_rect.Height() == dest.Height()) {
    CopyFrom(source, source_rect, dest.Left, dest.Top, transparent);
    return;
  }
  std::vector<uint32_t> snapshot;
  const uint32_t* read = from->pixels_;
  if (from == this) {
    snapshot.assign(pixels_, pixels_ + count_);
    read = snapshot.data();
  }
  const int64_t sw = source_rect.Width(), sh = source_rect.Height();
  const int64_t dw = dest.Width(), dh = dest.Height();
  const int32_t x0 = std::max(dest.Left, 0), x1 = std::min(dest.Right, width_);
  const int32_t y0 = std::max(dest.Top, 0), y1 = std::min(dest.Bottom, height_);
  const uint32_t key = from->color_key_;
  if (x0 >= x1) return;
  // The source column of every destination column, worked out once; -1 where it falls outside
  // the source.
  std::vector<int32_t> columns(static_cast<size_t>(x1 - x0));
  for (int32_t dx = x0; dx < x1; ++dx) {
    const int64_t sx = source_rect.Left + SampleIndex(dx - static_cast<int64_t>(dest.Left), sw, dw);
    columns[dx - x0] = sx < 0 || sx >= from->width_ ? -1 : static_cast<int32_t>(sx);
  }
  int64_t previous_sy = -1;
  const uint32_t* previous_out = nullptr;
  for (int32_t dy = y0; dy < y1; ++dy) {
    const int64_t sy = source_rect.Top + SampleIndex(dy - static_cast<int64_t>(dest.Top), sh, dh);
    if (sy < 0 || sy >= from->height_) continue;
    uint32_t* out = pixels_ + static_cast<size_t>(dy) * width_;
    // An enlarged picture repeats source rows: without a colour key the row just made is the
    // row wanted.
    if (!transparent && !behind_ && sy == previous_sy && previous_out != nullptr) {
      std::copy(previous_out + x0, previous_out + x1, out + x0);
      continue;
    }
    const uint32_t* in = read + static_cast<size_t>(sy) * from->width_;
    const uint64_t* covered = behind_ ? covered_.Row(dy) + 1 : nullptr;
    for (int32_t dx = x0; dx < x1; ++dx) {
      const int32_t sx = columns[dx - x0];
      if (sx < 0) continue;
      if (covered != nullptr && (covered[dx >> 6] >> (dx & 63) & 1) != 0) continue;
      const uint32_t value = in[sx];
      if (transparent && value == key) continue;
      out[dx] = value;
    }
    previous_sy = sy;
    previous_out = out;
  }
}

Picture SoftwareSurface::ToPicture() const {
  Picture picture;
  picture.width = width_;
  picture.height = height_;
  picture.pixels.resize(count_);
  for (size_t i = 0; i < count_; ++i) picture.pixels[i] = 0xFF000000u | pixels_[i];
  return picture;
}

SoftwareDevice::SoftwareDevice(int32_t client_width, int32_t client_height)
    : SoftwareDevice(client_width, client_height, client_width, client_height) {}

SoftwareDevice::SoftwareDevice(int32_t client_width, int32_t client_height, int32_t back_width,
                               int32_t back_height)
    : back_(back_width, back_height) {
  screen_.width = std::max(client_width, 0);
  screen_.height = std::max(client_height, 0);
  screen_.pixels.assign(static_cast<size_t>(screen_.width) * screen_.height, 0xFF000000u);
}

void SoftwareDevice::Flip() {
  // C++ division truncates toward zero, as the windowed present's origin does.
  const int32_t origin_x = (screen_.width - back_.Width()) / 2;
  const int32_t origin_y = (screen_.height - back_.Height()) / 2;
  const bool covers = origin_x <= 0 && origin_y <= 0 && origin_x + back_.Width() >= screen_.width &&
                      origin_y + back_.Height() >= screen_.height;
  if (!covers) std::fill(screen_.pixels.begin(), screen_.pixels.end(), 0xFF000000u);
  const int32_t x0 = std::max(0, origin_x), x1 = std::min(screen_.width, origin_x + back_.Width());
  const int32_t y0 = std::max(0, origin_y),
                y1 = std::min(screen_.height, origin_y + back_.Height());
  for (int32_t y = y0; y < y1; ++y) {
    const uint32_t* in = back_.Pixels() + static_cast<size_t>(y - origin_y) * back_.Width();
    uint32_t* out = screen_.pixels.data() + static_cast<size_t>(y) * screen_.width;
    for (int32_t x = x0; x < x1; ++x) out[x] = 0xFF000000u | in[x - origin_x];
  }
  ++flip_count_;
}

std::unique_ptr<Surface> SoftwareDevice::CreateSurface(const Picture& picture) {
  if (picture.width <= 0 || picture.height <= 0) return nullptr;
  return std::make_unique<SoftwareSurface>(picture);
}

}  // namespace quenvale
