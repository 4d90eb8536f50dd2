// CCITT bi-level decoding. The code tables are those of ITU-T T.4 (tables 1 to 4), which T.6
// and the TIFF 6.0 document share; two-dimensional rows follow T.4 section 4.2 and T.6.
#include "imaging/tiff_fax.h"

#include <algorithm>
#include <cstring>

namespace quenvale {
namespace {

struct CodeText {
  const char* bits;
  uint16_t run;
};

// Terminating codes (runs 0 to 63), then make-up codes (multiples of 64 up to 1728).
constexpr CodeText kWhiteCodes[] = {
    {"00110101", 0},     {"000111", 1},       {"0111", 2},         {"1000", 3},
    {"1011", 4},         {"1100", 5},         {"1110", 6},         {"1111", 7},
    {"10011", 8},        {"10100", 9},        {"00111", 10},       {"01000", 11},
    {"001000", 12},      {"000011", 13},      {"110100", 14},      {"110101", 15},
    {"101010", 16},      {"101011", 17},      {"0100111", 18},     {"0001100", 19},
    {"0001000", 20},     {"0010111", 21},     {"0000011", 22},     {"0000100", 23},
    {"0101000", 24},     {"0101011", 25},     {"0010011", 26},     {"0100100", 27},
    {"0011000", 28},     {"00000010", 29},    {"00000011", 30},    {"00011010", 31},
    {"00011011", 32},    {"00010010", 33},    {"00010011", 34},    {"00010100", 35},
    {"00010101", 36},    {"00010110", 37},    {"00010111", 38},    {"00101000", 39},
    {"00101001", 40},    {"00101010", 41},    {"00101011", 42},    {"00101100", 43},
    {"00101101", 44},    {"00000100", 45},    {"00000101", 46},    {"00001010", 47},
    {"00001011", 48},    {"01010010", 49},    {"01010011", 50},    {"01010100", 51},
    {"01010101", 52},    {"00100100", 53},    {"00100101", 54},    {"01011000", 55},
    {"01011001", 56},    {"01011010", 57},    {"01011011", 58},    {"01001010", 59},
    {"01001011", 60},    {"00110010", 61},    {"00110011", 62},    {"00110100", 63},
    {"11011", 64},       {"10010", 128},      {"010111", 192},     {"0110111", 256},
    {"00110110", 320},   {"00110111", 384},   {"01100100", 448},   {"01100101", 512},
    {"01101000", 576},   {"01100111", 640},   {"011001100", 704},  {"011001101", 768},
    {"011010010", 832},  {"011010011", 896},  {"011010100", 960},  {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280},
    {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536},
    {"010011010", 1600}, {"011000", 1664},    {"010011011", 1728},
};

// clang-format off
constexpr CodeText kBlackCodes[] = {
    {"0000110111", 0}, {"010", 1}, {"11", 2}, {"10", 3},
    {"011", 4}, {"0011", 5}, {"0010", 6}, {"00011", 7},
    {"000101", 8}, {"000100", 9}, {"0000100", 10}, {"0000101", 11},
    {"0000111", 12}, {"00000100", 13}, {"00000111", 14}, {"000011000", 15},
    {"0000010111", 16}, {"0000011000", 17}, {"0000001000", 18}, {"00001100111", 19},
    {"00001101000", 20}, {"00001101100", 21}, {"00000110111", 22}, {"00000101000", 23},
    {"00000010111", 24}, {"00000011000", 25}, {"000011001010", 26}, {"000011001011", 27},
    {"000011001100", 28}, {"000011001101", 29}, {"000001101000", 30}, {"000001101001", 31},
    {"000001101010", 32}, {"000001101011", 33}, {"000011010010", 34}, {"000011010011", 35},
    {"000011010100", 36}, {"000011010101", 37}, {"000011010110", 38}, {"000011010111", 39},
    {"000001101100", 40}, {"000001101101", 41}, {"000011011010", 42}, {"000011011011", 43},
    {"000001010100", 44}, {"000001010101", 45}, {"000001010110", 46}, {"000001010111", 47},
    {"000001100100", 48}, {"000001100101", 49}, {"000001010010", 50}, {"000001010011", 51},
    {"000000100100", 52}, {"000000110111", 53}, {"000000111000", 54}, {"000000100111", 55},
    {"000000101000", 56}, {"000001011000", 57}, {"000001011001", 58}, {"000000101011", 59},
    {"000000101100", 60}, {"000001011010", 61}, {"000001100110", 62}, {"000001100111", 63},
    {"0000001111", 64}, {"000011001000", 128}, {"000011001001", 192},
    {"000001011011", 256}, {"000000110011", 320}, {"000000110100", 384},
    {"000000110101", 448}, {"0000001101100", 512}, {"0000001101101", 576},
    {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768},
    {"0000001001101", 832}, {"0000001110010", 896}, {"0000001110011", 960},
    {"0000001110100", 1024}, {"0000001110101", 1088}, {"0000001110110", 1152},
    {"0000001110111", 1216}, {"0000001010010", 1280}, {"0000001010011", 1344},
    {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536},
    {"0000001011011", 1600}, {"0000001100100", 1664}, {"0000001100101", 1728},
};
// clang-format on

// Make-up codes for runs from 1792 to 2560, the same for both colours.
constexpr CodeText kWideMakeupCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

constexpr char kEolBits[] = "000000000001";
constexpr uint16_t kEolRun = 0xFFFF;  // the table's mark for an EOL code
constexpr int kLookupBits = 13;       // the longest run code

struct RunCode {
  uint16_t run;
  uint8_t length;  // 0: no code starts with these bits
};

struct RunTables {
  RunCode white[1 << kLookupBits];
  RunCode black[1 << kLookupBits];
};

void AddCode(RunCode* table, const char* bits, uint16_t run) {
  uint32_t code = 0;
  int length = 0;
  for (const char* p = bits; *p; ++p, ++length) code = code << 1 | (*p == '1' ? 1 : 0);
  const uint32_t first = code << (kLookupBits - length);
  const uint32_t count = 1u << (kLookupBits - length);
  for (uint32_t i = 0; i < count; ++i) table[first + i] = {run, static_cast<uint8_t>(length)};
}

// Indexed by the next 13 bits of the data.
const RunTables& Tables() {
  static RunTables tables;
  static const bool built = [] {
    for (const CodeText& c : kWhiteCodes) AddCode(tables.white, c.bits, c.run);
    for (const CodeText& c : kBlackCodes) AddCode(tables.black, c.bits, c.run);
    for (const CodeText& c : kWideMakeupCodes) {
      AddCode(tables.white, c.bits, c.run);
      AddCode(tables.black, c.bits, c.run);
    }
    AddCode(tables.white, kEolBits, kEolRun);
    AddCode(tables.black, kEolBits, kEolRun);
    return true;
  }();
  static_cast<void>(built);
  return tables;
}

// Most significant bit first; bits past the end read as zero, and Overrun() tells when a code
// took any of them.
class BitReader {
 public:
  BitReader(const uint8_t* in, size_t size) : in_(in), size_(size), total_(uint64_t{size} * 8) {
    Fill();
  }

  uint32_t Peek(int n) const { return static_cast<uint32_t>(acc_ >> (64 - n)); }  // n <= 32
  void Skip(int n) {                                                              // n <= 32
    acc_ <<= n;
    held_ -= n;
    used_ += static_cast<uint64_t>(n);
    if (held_ < 32) Fill();
  }
  void AlignToByte() { Skip(static_cast<int>((8 - used_ % 8) % 8)); }
  bool AtEnd() const { return used_ >= total_; }
  bool Overrun() const { return used_ > total_; }

 private:
  void Fill() {
    while (held_ <= 56) {
      const uint64_t byte = next_ < size_ ? in_[next_] : 0;
      ++next_;
      acc_ |= byte << (56 - held_);
      held_ += 8;
    }
  }

  const uint8_t* in_;
  size_t size_;
  uint64_t total_;
  uint64_t used_ = 0;
  uint64_t acc_ = 0;  // the next bits, first at the top
  int held_ = 0;
  size_t next_ = 0;
};

enum class RowEnd { kDone, kEol, kBad };

// One run of a colour: make-up codes, then a terminating code.
RowEnd ReadRun(BitReader& bits, const RunCode* table, uint32_t* run) {
  uint64_t total = 0;
  for (;;) {
    const RunCode code = table[bits.Peek(kLookupBits)];
    if (code.length == 0) return RowEnd::kBad;
    if (code.run == kEolRun) return RowEnd::kEol;
    bits.Skip(code.length);
    if (bits.Overrun()) return RowEnd::kBad;
    total = std::min<uint64_t>(total + code.run, UINT32_MAX);
    if (code.run < 64) {
      *run = static_cast<uint32_t>(total);
      return RowEnd::kDone;
    }
  }
}

// A row is held as its changing elements: the columns where the colour changes, the first to
// black. Runs past the end of the row stop at the end.
inline uint32_t Advance(uint32_t at, uint32_t run, uint32_t width) {
  return run >= width - at ? width : at + run;
}

RowEnd DecodeRow1D(BitReader& bits, uint32_t width, std::vector<uint32_t>* changes) {
  const RunTables& tables = Tables();
  changes->clear();
  uint32_t a = 0;
  bool black = false;
  while (a < width) {
    uint32_t run = 0;
    const RowEnd end = ReadRun(bits, black ? tables.black : tables.white, &run);
    if (end != RowEnd::kDone) return end;
    a = Advance(a, run, width);
    changes->push_back(a);
    black = !black;
  }
  return RowEnd::kDone;
}

// `reference` is the previous row's changes followed by three copies of `width`.
RowEnd DecodeRow2D(BitReader& bits, uint32_t width, const std::vector<uint32_t>& reference,
                   std::vector<uint32_t>* changes) {
  const RunTables& tables = Tables();
  changes->clear();
  int64_t a0 = -1;  // the imaginary white element before the row
  uint32_t colour = 0;
  size_t k = 0;  // the first reference element right of a0
  while (a0 < width) {
    while (reference[k] <= a0) ++k;
    // b1: the first element right of a0 changing to the colour opposite a0's; then b2.
    const size_t j = k + ((k & 1) != colour ? 1 : 0);
    const int64_t b1 = reference[j], b2 = reference[j + 1];
    const uint32_t m = bits.Peek(7);
    int length, vertical = 0;
    enum { kPass, kHorizontal, kVertical } mode = kVertical;
    if (m & 0x40) {
      length = 1;
    } else if (m >> 4 == 3 || m >> 4 == 2) {
      length = 3;
      vertical = m >> 4 == 3 ? 1 : -1;
    } else if (m >> 4 == 1) {
      length = 3;
      mode = kHorizontal;
    } else if (m >> 3 == 1) {
      length = 4;
      mode = kPass;
    } else if (m >> 1 == 3 || m >> 1 == 2) {
      length = 6;
      vertical = m >> 1 == 3 ? 2 : -2;
    } else if (m == 3 || m == 2) {
      length = 7;
      vertical = m == 3 ? 3 : -3;
    } else {
      // Extensions (uncompressed mode) are not decoded; zeros can only start an EOL.
      return m == 0 && bits.Peek(12) == 1 ? RowEnd::kEol : RowEnd::kBad;
    }
    bits.Skip(length);
    if (bits.Overrun()) return RowEnd::kBad;
    if (mode == kPass) {
      a0 = b2;
    } else if (mode == kHorizontal) {
      const uint32_t start = a0 < 0 ? 0 : static_cast<uint32_t>(a0);
      uint32_t run1 = 0, run2 = 0;
      RowEnd end = ReadRun(bits, colour ? tables.black : tables.white, &run1);
      if (end != RowEnd::kDone) return end;
      const uint32_t a1 = Advance(start, run1, width);
      changes->push_back(a1);
      end = ReadRun(bits, colour ? tables.white : tables.black, &run2);
      if (end != RowEnd::kDone) return end;
      const uint32_t a2 = Advance(a1, run2, width);
      changes->push_back(a2);
      a0 = a2;
    } else {
      const int64_t a1 = std::min<int64_t>(b1 + vertical, width);
      if (a1 < 0 || a1 < a0) return RowEnd::kBad;
      changes->push_back(static_cast<uint32_t>(a1));
      a0 = a1;
      colour ^= 1;
    }
  }
  return RowEnd::kDone;
}

// Consumes fill bits and an EOL code if one comes next; returns whether there was one. No
// code has more than seven leading zeros, so eleven zeros and a one can only be an EOL.
bool SkipEol(BitReader& bits) {
  while (!bits.AtEnd() && bits.Peek(20) == 0) bits.Skip(8);
  while (!bits.AtEnd() && bits.Peek(12) == 0) bits.Skip(1);
  if (bits.Peek(12) != 1) return false;
  bits.Skip(12);
  return !bits.Overrun();
}

// After a bad code in T.4 data: finds the next EOL, leaving it for the next row to read.
bool FindEol(BitReader& bits) {
  while (!bits.AtEnd()) {
    if (bits.Peek(12) == 1) return true;
    bits.Skip(1);
  }
  return false;
}

void FillBlack(uint8_t* row, uint32_t x0, uint32_t x1) {
  if (x0 >= x1) return;
  const size_t first = x0 >> 3, last = (x1 - 1) >> 3;
  const uint8_t head = static_cast<uint8_t>(0xFF >> (x0 & 7));
  const uint8_t tail = static_cast<uint8_t>(0xFF << (7 - ((x1 - 1) & 7)));
  if (first == last) {
    row[first] |= head & tail;
    return;
  }
  row[first] |= head;
  std::memset(row + first + 1, 0xFF, last - first - 1);
  row[last] |= tail;
}

void WriteRow(const std::vector<uint32_t>& changes, uint32_t width, uint8_t* row,
              size_t row_bytes) {
  std::memset(row, 0, row_bytes);
  for (size_t i = 0; i < changes.size(); i += 2) {
    FillBlack(row, changes[i], i + 1 < changes.size() ? changes[i + 1] : width);
  }
}

}  // namespace

size_t DecodeFax(FaxMode mode, uint32_t options, const uint8_t* in, size_t size, uint32_t width,
                 uint32_t rows, std::vector<uint8_t>* out) {
  if (width == 0) return 0;
  const size_t row_bytes = (size_t{width} + 7) / 8;
  const size_t fit = std::min<size_t>(rows, out->size() / row_bytes);
  const bool tagged = mode == FaxMode::kGroup3 && (options & kT4TwoDimensional);
  BitReader bits(in, size);
  // Each row is decoded against the one before; the first against a white row.
  std::vector<uint32_t> reference(3, width), changes;
  size_t row = 0;
  bool seen_eol = false;
  while (row < fit) {
    bool two_d = mode == FaxMode::kGroup4;
    if (mode == FaxMode::kModifiedHuffman) {
      bits.AlignToByte();
    } else if (mode == FaxMode::kGroup3) {
      bool eol = SkipEol(bits);
      // A damaged row can also end too soon; where rows have EOLs, the next one is found.
      if (!eol && seen_eol) {
        if (!FindEol(bits)) break;
        eol = SkipEol(bits);
      }
      seen_eol |= eol;
      if (tagged) {
        two_d = bits.Peek(1) == 0;
        bits.Skip(1);
      }
      if (eol && SkipEol(bits)) break;  // two EOLs in a row: the end of the page
    }
    if (bits.AtEnd()) break;
    const RowEnd end =
        two_d ? DecodeRow2D(bits, width, reference, &changes) : DecodeRow1D(bits, width, &changes);
    // A damaged row is white from its last complete run on.
    if (end != RowEnd::kDone && changes.size() % 2) changes.push_back(changes.back());
    WriteRow(changes, width, out->data() + row * row_bytes, row_bytes);
    ++row;
    reference.swap(changes);
    reference.insert(reference.end(), 3, width);
    if (end == RowEnd::kDone) continue;
    // T.4 rows start with EOL codes, so a short or damaged row costs only itself; in the other
    // modes an EOL ends the data (T.6's end of block) and so does a bad code.
    if (mode == FaxMode::kGroup3 && (end == RowEnd::kEol || FindEol(bits))) continue;
    break;
  }
  return row * row_bytes;
}

}  // namespace quenvale
