#include "saver/motion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quenvale {

int32_t BankersRound(double value) { return static_cast<int32_t>(std::nearbyint(value)); }

int32_t FrameSteps(int32_t speed, bool preview) {
  return preview ? BankersRound(speed / kPreviewScale) : speed;
}

namespace {

// One axis of one sprite: move, then the low edge, then the high edge (tested after the low).
void MoveAxis(float& position, float& velocity, int32_t limit) {
  position = RoundToFloat(static_cast<double>(position) + velocity);
  if (position <= 0) {
    position = 0;
    velocity = -velocity;
  }
  if (position >= limit) {
    position = static_cast<float>(limit);
    velocity = -velocity;
  }
}

}  // namespace

void MoveSprites(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  for (int32_t i = 0; i < n; ++i) {
    Sprite& s = sprites[i];
    MoveAxis(s.Position.X, s.Velocity.X, bounds.client_width - bounds.sprite_width);
    MoveAxis(s.Position.Y, s.Velocity.Y, bounds.client_height - bounds.sprite_height);
  }
}

namespace {

// The exchange along `n`, the first corner minus the second as Subtract rounds it, whose Length
// is `length`, between the two sprites' velocities: what Collide computes, for callers that have
// both already.
void CollideAlong(Vector& first, Vector& second, Vector n, float length) {
  NormalizeWithLength(n, length);
  const float a = Dot(first, n);
  const float b = Dot(second, n);
  // (a - b) x 2 / 2: doubling and halving are exact in double, where a - b of two floats
  // cannot overflow, so they are left out.
  const float p = RoundToFloat(static_cast<double>(a) - b);
  const Vector impulse(RoundToFloat(static_cast<double>(p) * n.X),
                       RoundToFloat(static_cast<double>(p) * n.Y));
  Subtract(first, impulse);
  Add(second, impulse);
}

}  // namespace

void Collide(Sprite& first, Sprite& second) {
  Vector n = Copy(first.Position);
  Subtract(n, second.Position);
  CollideAlong(first.Velocity, second.Velocity, n, Length(n));
}

std::vector<std::pair<int32_t, int32_t>> TouchingPairsPlain(const std::vector<Sprite>& sprites,
                                                            int32_t count, int32_t sprite_width) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      if (Distance(sprites[i].Position, sprites[j].Position) <= sprite_width)
        pairs.emplace_back(i, j);
    }
  }
  return pairs;
}

namespace {

// A touching pair as the exchanges take it: the partner j of sprite i, the difference of their
// corners (i's minus j's, rounded as Subtract rounds it) and its Length, which is also their
// Distance.
struct Touch {
  int32_t j;
  Vector difference;
  float distance;
};

// Calls near(i, j, difference, squared) for every pair i < j < n whose corners' difference, rounded
// as Subtract rounds it, has a squared length (in double, as Length sums it) of at most reach²,
// in (i, j) order. Returns false without calling anything where a grid does not pay; the caller
// tests every pair then.
template <typename Near>
bool ForEachNearPair(const std::vector<Sprite>& sprites, int32_t n, double reach, Near&& near) {
  if (n < 16 || !(reach > 0)) return false;
  // Cells a little wider than the reach: corners within it by their rounded difference can be
  // slightly more than the reach apart, and those must still be neighbours in the grid.
  const double cell = reach + reach * 1e-5;
  float min_x = sprites[0].Position.X, max_x = min_x;
  float min_y = sprites[0].Position.Y, max_y = min_y;
  for (int32_t i = 0; i < n; ++i) {
    const Vector& p = sprites[i].Position;
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return false;
    min_x = std::min(min_x, p.X);
    max_x = std::max(max_x, p.X);
    min_y = std::min(min_y, p.Y);
    max_y = std::max(max_y, p.Y);
  }
  const double columns_wide = std::floor((static_cast<double>(max_x) - min_x) / cell) + 1;
  const double rows_high = std::floor((static_cast<double>(max_y) - min_y) / cell) + 1;
  // The grid pays while clearing and scanning its cells costs less than the plain loop's
  // n (n - 1) / 2 tests (a few sprites spread over a huge area do not pay); past a few million
  // cells its memory does not.
  const double cells = columns_wide * rows_high;
  const double plain_work = static_cast<double>(n) * (n - 1) / 2;
  if (cells > (1 << 22) || cells > std::max(4.0 * n + 1024, plain_work / 2)) return false;
  const int32_t columns = static_cast<int32_t>(columns_wide);
  const int32_t rows = static_cast<int32_t>(rows_high);

  // Sprites bucketed by cell, each bucket in index order (a counting sort), with their corners
  // beside them so that the neighbour scan reads memory in sequence. The buffers are kept
  // between calls: a frame runs several motion steps.
  struct Member {
    Vector corner;
    int32_t index;
  };
  struct Found {
    int32_t j;
    Vector difference;
  };
  struct Kept {
    Vector difference;
    double squared;
  };
  thread_local std::vector<int32_t> cell_of_buffer, start_buffer, next_buffer;
  thread_local std::vector<Member> members_buffer;
  thread_local std::vector<Found> found_buffer;
  thread_local std::vector<double> squares_buffer;
  cell_of_buffer.resize(n);
  start_buffer.assign(static_cast<size_t>(columns) * rows + 1, 0);
  members_buffer.resize(n);
  found_buffer.resize(n);
  squares_buffer.resize(n);
  int32_t* const cell_of = cell_of_buffer.data();
  int32_t* const start = start_buffer.data();
  Member* const members = members_buffer.data();
  Found* const found_at = found_buffer.data();
  double* const squares = squares_buffer.data();
  for (int32_t i = 0; i < n; ++i) {
    const Vector& p = sprites[i].Position;
    const int32_t cx =
        std::min(columns - 1, static_cast<int32_t>((p.X - static_cast<double>(min_x)) / cell));
    const int32_t cy =
        std::min(rows - 1, static_cast<int32_t>((p.Y - static_cast<double>(min_y)) / cell));
    cell_of[i] = cy * columns + cx;
    ++start[cell_of[i] + 1];
  }
  const size_t cell_count = static_cast<size_t>(columns) * rows;
  for (size_t c = 1; c <= cell_count; ++c) start[c] += start[c - 1];
  // next[c]: where cell c's members above the sprite in hand begin. Members are in index order
  // and sprites are taken in index order, so sprite i is always the first member its cell has
  // left: stepping past it keeps every mark right, and members at or below it are never tested.
  next_buffer.assign(start, start + cell_count);
  int32_t* const next = next_buffer.data();
  for (int32_t i = 0; i < n; ++i) members[next[cell_of[i]]++] = Member{sprites[i].Position, i};
  std::copy(start, start + cell_count, next);
  // A sprite's near partners are marked in a bitmap by index and kept at their partner's slot:
  // reading the marks in order hands them out in partner order, without a sort.
  thread_local std::vector<uint64_t> marks_buffer;
  thread_local std::vector<Kept> by_partner_buffer;
  marks_buffer.assign((static_cast<size_t>(n) + 63) / 64, 0);
  by_partner_buffer.resize(n);
  uint64_t* const marks = marks_buffer.data();
  Kept* const by_partner = by_partner_buffer.data();

  const double far = reach * reach;
  for (int32_t i = 0; i < n; ++i) {
    const Vector a = sprites[i].Position;
    ++next[cell_of[i]];
    const int32_t cx = cell_of[i] % columns, cy = cell_of[i] / columns;
    const int32_t left = std::max(0, cx - 1), right = std::min(columns - 1, cx + 1);
    int32_t found = 0;
    for (int32_t y = std::max(0, cy - 1); y <= std::min(rows - 1, cy + 1); ++y) {
      for (int32_t c = y * columns + left; c <= y * columns + right; ++c) {
        // Every member is written and kept only when near: no branch to mispredict.
        for (int32_t k = next[c], end = start[c + 1]; k < end; ++k) {
          const Vector& b = members[k].corner;
          const float dx = RoundToFloat(static_cast<double>(a.X) - b.X);
          const float dy = RoundToFloat(static_cast<double>(a.Y) - b.Y);
          const double squared = static_cast<double>(dx) * dx + static_cast<double>(dy) * dy;
          found_at[found] = Found{members[k].index, Vector(dx, dy)};
          squares[found] = squared;
          found += squared <= far;
        }
      }
    }
    if (found == 0) continue;
    int32_t low = n, high = 0;
    for (int32_t t = 0; t < found; ++t) {
      const int32_t j = found_at[t].j;
      by_partner[j] = Kept{found_at[t].difference, squares[t]};
      marks[j >> 6] |= uint64_t{1} << (j & 63);
      low = std::min(low, j);
      high = std::max(high, j);
    }
    for (int32_t w = low >> 6; w <= high >> 6; ++w) {
      for (uint64_t m = marks[w]; m != 0; m &= m - 1) {
        const int32_t j = w * 64 + __builtin_ctzll(m);
        near(i, j, by_partner[j].difference, by_partner[j].squared);
      }
      marks[w] = 0;
    }
  }
  return true;
}

// Each sprite's touching pairs, in (i, j) order: sprite i's are touches[from[i] .. from[i + 1]).
// `touches` may hold more than from[n] entries: it only grows, as clearing it each step would
// cost more than filling it does.
struct TouchList {
  std::vector<int32_t> from;
  std::vector<Touch> touches;
};

// Candidate partners kept from one motion step to the next: for each sprite i, the sprites
// j > i whose corners were within the width plus a margin of its own when the list was made,
// in index order. While no two sprites together have moved the margin since then, every pair
// that touches now is among them, so a step tests only these instead of searching anew.
class NearList {
 public:
  // Pairs beyond this many are not kept: thousands of pictures piled in one place would need
  // gigabytes.
  static constexpr size_t kMostKept = size_t{1} << 21;

  // The touching pairs of the first n sprites, from this list where it still holds; false,
  // with `out` empty, where no list is kept: no grid pays, or there are too many pairs.
  bool TouchesOf(const std::vector<Sprite>& sprites, int32_t n, int32_t width, TouchList* out) {
    if (!Holds(sprites, n, width)) Make(sprites, n, width);
    if (!made_) {
      std::vector<Touch>().swap(out->touches);
      return false;
    }
    out->from.resize(static_cast<size_t>(n) + 1);
    if (out->touches.size() < partners_.size()) out->touches.resize(partners_.size());
    Touch* const touches = out->touches.data();
    int32_t count = 0;
    // Whether a candidate touches is told by its square, so that the next candidate's slot
    // does not wait for this one's square root.
    const double most = most_squared_;
    for (int32_t i = 0; i < n; ++i) {
      out->from[i] = count;
      const Vector a = sprites[i].Position;
      for (int32_t k = start_[i], end = start_[i + 1]; k < end; ++k) {
        const int32_t j = partners_[k];
        Vector d = Copy(a);
        Subtract(d, sprites[j].Position);
        const double squared = static_cast<double>(d.X) * d.X + static_cast<double>(d.Y) * d.Y;
        touches[count] = Touch{j, d, Length(d)};
        count += squared <= most;
      }
    }
    out->from[n] = count;
    return true;
  }

 private:
  bool Holds(const std::vector<Sprite>& sprites, int32_t n, int32_t width) const {
    if (!reusable_ || n != n_ || width != width_) return false;
    // The two largest moves since the list was made bound what any pair has closed in.
    double first = 0, second = 0;
    for (int32_t i = 0; i < n; ++i) {
      const double dx = static_cast<double>(sprites[i].Position.X) - made_at_[i].X;
      const double dy = static_cast<double>(sprites[i].Position.Y) - made_at_[i].Y;
      const double moved = dx * dx + dy * dy;
      if (!(moved <= first)) {  // a corner that is no longer finite ends the list, too
        second = first;
        first = moved;
      } else if (moved > second) {
        second = moved;
      }
    }
    return std::sqrt(first) + std::sqrt(second) <= margin_;
  }

  // The largest square whose root, rounded as Length rounds it, is at most `width`: that
  // rounding never decreases as the square grows, so the squares within it are exactly those of
  // the touching pairs. Found by bisection over the doubles' bit patterns, which are ordered as
  // the non-negative doubles are; -1 where even a square of 0 is too far.
  static double MostSquaredWithin(int32_t width) {
    const auto within = [width](uint64_t bits) {
      double square = 0;
      std::memcpy(&square, &bits, sizeof square);
      return RoundToFloat(std::sqrt(square)) <= width;
    };
    uint64_t near = 0, far = 0x7FF0000000000000u;  // 0 and infinity
    if (!within(near)) return -1;
    while (far - near > 1) {
      const uint64_t middle = near + (far - near) / 2;
      (within(middle) ? near : far) = middle;
    }
    double square = 0;
    std::memcpy(&square, &near, sizeof square);
    return square;
  }

  void Make(const std::vector<Sprite>& sprites, int32_t n, int32_t width) {
    n_ = n;
    if (width != width_) most_squared_ = MostSquaredWithin(width);
    width_ = width;
    // Wide enough that a list lasts several steps at the speed of the fastest sprite; but a
    // wider margin makes every step test more candidates, so at most half the width.
    double fastest = 0;
    for (int32_t i = 0; i < n; ++i) {
      const Vector& v = sprites[i].Velocity;
      fastest = std::max(fastest, static_cast<double>(v.X) * v.X + static_cast<double>(v.Y) * v.Y);
    }
    const double most = std::max(2.0, width / 2.0);
    margin_ = std::min(most, std::max({2.0, width / 8.0, 6 * std::sqrt(fastest)}));
    start_.assign(static_cast<size_t>(n) + 1, 0);
    partners_.clear();
    bool crowded = false;
    // A touching pair's corners are at most a little more than the width apart (rounding), so
    // one more pixel bounds it.
    made_ = ForEachNearPair(sprites, n, width + 1.0 + margin_,
                            [this, &crowded](int32_t i, int32_t j, const Vector&, double) {
                              crowded = crowded || partners_.size() == kMostKept;
                              if (crowded) return;
                              ++start_[i + 1];
                              partners_.push_back(j);
                            });
    if (crowded) {
      made_ = false;
      std::vector<int32_t>().swap(partners_);
    }
    for (int32_t i = 0; i < n; ++i) start_[i + 1] += start_[i];
    // Far from the origin, or for very wide pictures, the bounds above leave no room for the
    // rounding of the moves: the list then serves a single step.
    constexpr float kFar = 1 << 24;
    reusable_ = made_ && width + 1.0 + margin_ < (1 << 21);
    made_at_.resize(n);
    for (int32_t i = 0; i < n && reusable_; ++i) {
      made_at_[i] = sprites[i].Position;
      reusable_ = std::fabs(made_at_[i].X) <= kFar && std::fabs(made_at_[i].Y) <= kFar;
    }
  }

  int32_t n_ = -1;
  int32_t width_ = -1;
  double most_squared_ = -1;
  double margin_ = 0;
  bool made_ = false;
  bool reusable_ = false;
  std::vector<Vector> made_at_;
  std::vector<int32_t> start_;
  std::vector<int32_t> partners_;
};

// Sprite i's velocity goes from one exchange to the next in registers; `lanes` sprites whose
// pairs share no sprite run side by side, so that the processor overlaps their chains.
template <int kLanes>
void ExchangeSideBySide(Sprite* all, const int32_t* lane, const TouchList& list) {
  Vector velocity[kLanes];
  const Touch* next[kLanes];
  const Touch* end[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    velocity[k] = all[lane[k]].Velocity;
    next[k] = list.touches.data() + list.from[lane[k]];
    end[k] = list.touches.data() + list.from[lane[k] + 1];
  }
  for (bool more = true; more;) {
    more = false;
    for (int k = 0; k < kLanes; ++k) {
      if (next[k] == end[k]) continue;
      CollideAlong(velocity[k], all[next[k]->j].Velocity, next[k]->difference, next[k]->distance);
      more |= ++next[k] != end[k];
    }
  }
  for (int k = 0; k < kLanes; ++k) all[lane[k]].Velocity = velocity[k];
}

// The exchanges of every touching pair, in (i, j) order. The pairs of consecutive sprites that
// share no sprite commute, so up to four such sprites are taken together.
void ExchangeAll(Sprite* all, int32_t n, const TouchList& list) {
  // group_of[s]: the last group that sprite s belongs to.
  thread_local std::vector<int32_t> group_buffer;
  group_buffer.assign(n, -1);
  int32_t* const group_of = group_buffer.data();
  const Touch* const touches = list.touches.data();
  for (int32_t i = 0, group = 0; i < n; ++group) {
    int32_t lane[4];
    int lanes = 0;
    for (; i < n && lanes < 4; ++i) {
      const int32_t begin = list.from[i], end = list.from[i + 1];
      if (begin == end) continue;
      // A sprite that clashes starts the next group; the marks it has left here are of this one.
      bool clash = group_of[i] == group;
      group_of[i] = group;
      for (int32_t k = begin; k < end; ++k) {
        clash |= group_of[touches[k].j] == group;
        group_of[touches[k].j] = group;
      }
      if (clash) break;
      lane[lanes++] = i;
    }
    switch (lanes) {
      case 1:
        ExchangeSideBySide<1>(all, lane, list);
        break;
      case 2:
        ExchangeSideBySide<2>(all, lane, list);
        break;
      case 3:
        ExchangeSideBySide<3>(all, lane, list);
        break;
      case 4:
        ExchangeSideBySide<4>(all, lane, list);
        break;
      default:
        break;
    }
  }
}

}  // namespace

std::vector<std::pair<int32_t, int32_t>> TouchingPairs(const std::vector<Sprite>& sprites,
                                                       int32_t count, int32_t sprite_width) {
  std::vector<std::pair<int32_t, int32_t>> pairs;
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  // A rounded distance of at most the width can belong to corners slightly more than the width
  // apart: one more pixel of reach finds them.
  const bool grid = ForEachNearPair(sprites, n, sprite_width + 1.0,
                                    [&](int32_t i, int32_t j, const Vector&, double squared) {
                                      if (RoundToFloat(std::sqrt(squared)) <= sprite_width)
                                        pairs.emplace_back(i, j);
                                    });
  return grid ? pairs : TouchingPairsPlain(sprites, count, sprite_width);
}

void CollideSprites(std::vector<Sprite>& sprites, int32_t count, int32_t sprite_width) {
  const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(sprites.size()));
  // Kept between calls: a frame runs several motion steps, and the list checks that it still
  // holds for the sprites it is given.
  thread_local NearList near;
  thread_local TouchList list;
  if (near.TouchesOf(sprites, n, sprite_width, &list)) {
    ExchangeAll(sprites.data(), n, list);
    return;
  }
  // No list: each pair is exchanged as it is found, in the same order.
  auto exchange = [&sprites, sprite_width](int32_t i, int32_t j, const Vector& d, double squared) {
    const float distance = RoundToFloat(std::sqrt(squared));
    if (distance <= sprite_width) {
      CollideAlong(sprites[i].Velocity, sprites[j].Velocity, d, distance);
    }
  };
  if (ForEachNearPair(sprites, n, sprite_width + 1.0, exchange)) return;
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      Vector d = Copy(sprites[i].Position);
      Subtract(d, sprites[j].Position);
      exchange(i, j, d, static_cast<double>(d.X) * d.X + static_cast<double>(d.Y) * d.Y);
    }
  }
}

PlacementGrid::PlacementGrid(float max_x, float max_y, int32_t width) : width_(width) {
  if (width < 0 || !std::isfinite(max_x) || !std::isfinite(max_y) || max_x < 0 || max_y < 0) {
    return;
  }
  // As for the touching pairs: a little wider than the distance, so that rounding cannot hide a
  // neighbour two cells away.
  cell_size_ = width + 1.0 + width * 1e-5;
  const double columns = std::floor(max_x / cell_size_) + 1;
  const double rows = std::floor(max_y / cell_size_) + 1;
  if (columns * rows > (1 << 20)) return;  // tiny sprites on a huge area: test them all
  columns_ = static_cast<int32_t>(columns);
  rows_ = static_cast<int32_t>(rows);
  cells_.resize(static_cast<size_t>(columns_) * rows_);
}

bool PlacementGrid::CellOf(const Vector& corner, int32_t* cell) const {
  if (columns_ == 0 || !(corner.X >= 0) || !(corner.Y >= 0)) return false;
  const double cx = std::floor(corner.X / cell_size_), cy = std::floor(corner.Y / cell_size_);
  if (cx >= columns_ || cy >= rows_) return false;
  *cell = static_cast<int32_t>(cy) * columns_ + static_cast<int32_t>(cx);
  return true;
}

bool PlacementGrid::Overlaps(const Vector& corner) const {
  int32_t cell = 0;
  if (spilled_ || !CellOf(corner, &cell)) {
    for (const Vector& other : all_) {
      if (width_ >= Distance(corner, other)) return true;
    }
    return false;
  }
  const int32_t cx = cell % columns_, cy = cell / columns_;
  for (int32_t y = std::max(0, cy - 1); y <= std::min(rows_ - 1, cy + 1); ++y) {
    for (int32_t x = std::max(0, cx - 1); x <= std::min(columns_ - 1, cx + 1); ++x) {
      for (const Vector& other : cells_[static_cast<size_t>(y) * columns_ + x]) {
        if (width_ >= Distance(corner, other)) return true;
      }
    }
  }
  return false;
}

void PlacementGrid::Add(const Vector& corner) {
  all_.push_back(corner);
  int32_t cell = 0;
  if (CellOf(corner, &cell)) {
    cells_[cell].push_back(corner);
  } else {
    spilled_ = true;
  }
}

void MotionStep(std::vector<Sprite>& sprites, int32_t count, const MotionBounds& bounds,
                bool bounce_images) {
  MoveSprites(sprites, count, bounds);
  if (bounce_images) CollideSprites(sprites, count, bounds.sprite_width);
}

}  // namespace quenvale
